function h = spike_glm_plot(result, what, opts)
%SPIKE_GLM_PLOT Plots of a fitted population GLM and of its KS test.
%   H = SPIKE_GLM_PLOT(FIT, 'filters', OPTS) draws a grid of panels, one
%   per source j (column) and target i (row), each the filter
%   fit.filters(:, j, i) over the lag in ms, with its pointwise band
%   (fit.filter_lower / filter_upper, dashed) when FIT has one, and the
%   zero line.
%   H = SPIKE_GLM_PLOT(FIT, 'coupling', OPTS) draws an N x N image of the
%   coupling strength, in row target i and column source j (as in the
%   grid of 'filters') the value of largest magnitude of filters(:, j, i) (signed, log-rate units; the diagonal,
%   self-history, left blank), with a marker on the entries whose
%   fit.coupling_pvalues is below OPTS.alpha.
%   H = SPIKE_GLM_PLOT(KS, 'ks', OPTS), KS from SPIKE_GLM_KS, draws one
%   panel per neuron: the sorted rescaled values z_(k) against the model's
%   quantiles (k - 0.5) / n, the diagonal and the band of +/- KS.band.
%   Returns the handle of the figure.
%
%   Options (fields of OPTS):
%     neurons  the neurons shown (default all): targets and sources for
%              'filters' and 'coupling', neurons for 'ks'
%     alpha    significance level of the coupling markers, default 0.05
%     visible  true or false; default false when there is no display
%              (DISPLAY unset on Linux), so it runs headless
%     figure   a figure handle to draw into (cleared); [] for a new one
%
%   Example:
%     fit = spike_glm_fit(spikes, 600, struct('history_taps', 50));
%     spike_glm_plot(fit, 'coupling');
%     h = spike_glm_plot(spike_glm_ks(fit, spikes, 600), 'ks');
%     print(h, '-dpng', 'ks.png');   % Octave's gnuplot toolkit without
%                                    % Ghostscript: '-dpngcairo'
%
%   See also SPIKE_GLM_FIT, SPIKE_GLM_INFERENCE, SPIKE_GLM_KS.

if nargin < 2
  error('spike_glm:nargin', 'spike_glm_plot: needs a result and what to plot');
end
if nargin < 3
  opts = [];
end
o = glm_options(opts, struct('neurons', [], 'alpha', 0.05, 'visible', [], ...
                             'figure', []), 'spike_glm_plot');
if ~ischar(what) || ~any(strcmp(what, {'filters', 'coupling', 'ks'}))
  error('spike_glm:what', 'spike_glm_plot: what must be ''filters'', ''coupling'' or ''ks''');
end
if strcmp(what, 'ks')
  need = {'rescaled', 'ks_pvalue', 'band', 'n'};
  source = 'a result of spike_glm_ks';
else
  need = {'filters', 'basis', 'opts'};
  source = 'a fit from spike_glm_fit';
end
if ~isstruct(result) || ~all(isfield(result, need))
  error('spike_glm:result', 'spike_glm_plot: ''%s'' needs %s', what, source);
end
if strcmp(what, 'ks')
  N = numel(result.rescaled);
else
  N = size(result.filters, 2);
end
neurons = o.neurons;
if isempty(neurons)
  neurons = 1:N;
elseif ~isnumeric(neurons) || any(neurons(:) ~= fix(neurons(:))) || ...
       any(neurons(:) < 1 | neurons(:) > N)
  error('spike_glm:neurons', 'spike_glm_plot: opts.neurons must be indices in 1..%d', N);
end
neurons = neurons(:)';
visible = o.visible;
if isempty(visible)
  visible = ~(isunix() && ~ismac() && isempty(getenv('DISPLAY')));
end
onoff = {'off', 'on'};
if isempty(o.figure)
  h = figure('visible', onoff{1 + logical(visible)});
else
  h = o.figure;
  figure(h);
  clf(h);
  set(h, 'visible', onoff{1 + logical(visible)});
end
switch what
  case 'filters'
    plot_filters(result, neurons);
  case 'coupling'
    plot_coupling(result, neurons, o.alpha);
  case 'ks'
    plot_ks(result, neurons);
end
end

function plot_filters(fit, neurons)
n = numel(neurons);
grow(gcf(), 260 * n, 200 * n);
H = size(fit.filters, 1);
lag = (1:H)' * fit.opts.bin_size * 1000;
band = isfield(fit, 'filter_lower') && isfield(fit, 'filter_upper');
for a = 1:n
  i = neurons(a);
  for b = 1:n
    j = neurons(b);
    subplot(n, n, (a - 1) * n + b);
    plot(lag, fit.filters(:, j, i), 'b-', 'linewidth', 1.5);
    hold on;
    if band && all(isfinite(fit.filter_lower(:, j, i)))
      plot(lag, fit.filter_lower(:, j, i), 'b--', lag, fit.filter_upper(:, j, i), 'b--');
    end
    plot(lag([1 end]), [0 0], 'k:');
    hold off;
    xlim([0, lag(end) + lag(1)]);
    title(sprintf('%d -> %d', j, i), 'fontweight', 'normal');
    if a == n
      xlabel('lag (ms)');
    end
    if b == 1
      ylabel('log rate');
    end
  end
end
end

function plot_coupling(fit, neurons, alpha)
n = numel(neurons);
strength = NaN(n, n);
for a = 1:n
  for b = 1:n
    if a ~= b
      f = fit.filters(:, neurons(b), neurons(a));   % row target, column source
      [~, k] = max(abs(f));
      strength(a, b) = f(k);
    end
  end
end
top = max([abs(strength(:)); eps]);
shown = strength;
shown(isnan(shown)) = 0;
imagesc(shown, [-top, top]);
colormap(diverging(64));
colorbar();
axis image;
set(gca, 'xtick', 1:n, 'xticklabel', neurons, 'ytick', 1:n, 'yticklabel', neurons);
xlabel('source');
ylabel('target');
title(sprintf('largest filter value (log rate); * p < %g', alpha));
if isfield(fit, 'coupling_pvalues')
  p = fit.coupling_pvalues(neurons, neurons);
  [src, tgt] = find(p < alpha);
  if ~isempty(src)
    hold on;
    plot(src, tgt, 'k*', 'markersize', 10);   % as the filters' grid: row target
    hold off;
  end
end
end

function grow(h, width, height)
% At least WIDTH x HEIGHT pixels, so that the panels' labels fit.
pos = get(h, 'position');
set(h, 'position', [pos(1:2), max(pos(3), width), max(pos(4), height)]);
end

function c = diverging(m)
% Blue through white to red.
t = linspace(-1, 1, m)';
c = [min(1, 1 + t), 1 - abs(t), min(1, 1 - t)];
end

function plot_ks(ks, neurons)
n = numel(neurons);
cols = ceil(sqrt(n));
rows = ceil(n / cols);
grow(gcf(), 300 * cols, 300 * rows);
for a = 1:n
  i = neurons(a);
  subplot(rows, cols, a);
  z = sort(ks.rescaled{i});
  m = numel(z);
  plot([0 1], [0 1], 'k-');
  hold on;
  if m > 0
    q = ((1:m)' - 0.5) / m;
    plot([0 1], [0 1] + ks.band(i), 'k--', [0 1], [0 1] - ks.band(i), 'k--');
    plot(q, z, 'r-', 'linewidth', 1.5);
  end
  hold off;
  axis([0 1 0 1]);
  axis square;
  title(sprintf('neuron %d: p = %.3g (n = %d)', i, ks.ks_pvalue(i), m), ...
        'fontweight', 'normal');
  xlabel('model quantile');
  ylabel('rescaled');
end
end

% Tests (run with "test spike_glm_plot"). Each plot is printed to a PNG
% file, which must exist and show more than the background.

%!function check_png (h)
%!  file = [tempname() ".png"];
%!  unwind_protect
%!    device = "-dpng";
%!    if strcmp (get (h, "__graphics_toolkit__"), "gnuplot")
%!      device = "-dpngcairo";   # gnuplot's own PNG: no Ghostscript needed
%!    endif
%!    print (h, device, file);
%!    img = imread (file);
%!    assert (ndims (img) >= 2 && rows (img) > 50 && columns (img) > 50);
%!    img = double (img);
%!    background = img(1, 1, :);
%!    differs = any (img != background, 3);
%!    assert (mean (differs(:)) > 0.01);
%!  unwind_protect_cleanup
%!    close (h);
%!    if exist (file, "file"), delete (file); endif
%!  end_unwind_protect
%!endfunction

%!test
%! ## Every plot of a small fit with its inference and KS test renders.
%! rand ("state", 3);
%! spikes = {sort(rand (300, 1) * 10), sort(rand (200, 1) * 10), []};
%! warning ("off", "spike_glm:silentNeuron", "local");
%! warning ("off", "Octave:gnuplot-graphics", "local");
%! warning ("off", "print:nogs", "local");
%! fit = spike_glm_fit (spikes, 10, struct ("history_taps", 20, ...
%!                      "n_basis", 3, "penalty", "ridge", "alpha", 1e-3));
%! ks = spike_glm_ks (fit, spikes, 10, struct ("seed", 1));
%! cases = {fit, "filters", struct()
%!          fit, "coupling", struct()
%!          fit, "coupling", struct("neurons", [2 1], "alpha", 1)
%!          ks,  "ks",       struct()
%!          ks,  "ks",       struct("neurons", 2)
%!          rmfield(fit, "filter_lower"), "filters", struct("neurons", 1)};
%! for c = 1:rows (cases)
%!   o = cases{c, 3};
%!   o.visible = false;
%!   h = spike_glm_plot (cases{c, 1:2}, o);
%!   assert (ishghandle (h));
%!   check_png (h);
%! endfor
%! ## Into a given figure, which is cleared first.
%! given = figure ("visible", "off");
%! plot (1:3);
%! h = spike_glm_plot (ks, "ks", struct ("figure", given, "visible", false));
%! assert (h, given);
%! assert (numel (get (h, "children")), 3);     % one axes per neuron
%! check_png (h);

%!test
%! ## Refusals.
%! fit = struct ("filters", zeros (2, 2, 2), "basis", eye (2), "opts", struct ());
%! cases = {
%!   fit, "ks", struct(), "result", "'ks' needs a result of spike_glm_ks"
%!   struct("rescaled", {{}}), "filters", struct(), "result", "'filters' needs a fit from spike_glm_fit"
%!   fit, "rates", struct(), "what", "what must be 'filters', 'coupling' or 'ks'"
%!   fit, "coupling", struct("neurons", 3), "neurons", "opts.neurons must be indices in 1..2"
%!   fit, "coupling", struct("neurons", 1.5), "neurons", "opts.neurons must be indices in 1..2"
%! };
%! for c = 1:rows (cases)
%!   try
%!     spike_glm_plot (cases{c, 1:3});
%!     error ("no error for case %d", c);
%!   catch err
%!     assert (err.identifier, ["spike_glm:" cases{c, 4}]);
%!     assert (strcmp (err.message, ["spike_glm_plot: " cases{c, 5}]), "case %d: %s", c, err.message);
%!   end_try_catch
%! endfor
%! assert (numel (get (0, "children")), 0);   % no figure left behind
