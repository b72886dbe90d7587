function population_fit (folder, mode, nneurons, seconds)
%POPULATION_FIT Worked fit: Poisson GLMs of a population with spike_glm_fit.
%   POPULATION_FIT() simulates 20 neurons over one hour of 1 ms bins with
%   SPIKE_GLM_SIMULATE (fixed seed), each driven by a coarse stimulus (10 ms
%   samples), its own spike history and coupling from the other neurons,
%   with filters of 100 taps built from 5 raised cosines; then fits every
%   neuron by maximum likelihood with SPIKE_GLM_FIT (no design matrix: the
%   drive comes from TRAINFOLD_POP and TENTFILL2, the gradient from their
%   adjoints). Prints progress, each neuron's recovered errors and its
%   time-rescaling KS test (SPIKE_GLM_KS) and writes five figures into
%   FOLDER (default 'population_figures'): true against fitted filters
%   (taps in ms), a raster with the fitted rate, and with SPIKE_GLM_PLOT
%   the fitted filters of the first 3 neurons with their 95 % bands, the
%   coupling map with the significant couplings marked, and the KS plots.
%
%   POPULATION_FIT(FOLDER, 'check') runs 3 neurons over 10 minutes and
%   raises an error unless the fit recovers the filters within fixed bounds
%   and the figures are written and not blank.
%
%   POPULATION_FIT(FOLDER, 'full', N, S) runs N neurons over S seconds.
%
%   The modules and the spike_glm_* functions must be on the path (a CMake
%   build folder's octave_modules, or "pkg load spike_bins"; the example
%   loads the package itself when the modules are missing and it is
%   installed).

  if nargin < 1 || isempty (folder)
    folder = 'population_figures';
  end
  if nargin < 2 || isempty (mode)
    mode = 'full';
  end
  check = strcmp (mode, 'check');
  if ~check && ~strcmp (mode, 'full')
    error ('population_fit: mode must be ''full'' or ''check''');
  end
  if exist ('tentfill2') ~= 3 && exist ('OCTAVE_VERSION', 'builtin')
    pkg ('load', 'spike_bins');
  end
  if check
    nneurons = 3; seconds = 600; seed = 3;
  else
    if nargin < 3 || isempty (nneurons), nneurons = 20; end
    if nargin < 4 || isempty (seconds), seconds = 3600; end
    seed = 0;
  end

  [truth, stimulus] = true_model (nneurons, seconds, seed);
  fprintf ('simulating %d neurons over %g s ...\n', nneurons, seconds);
  started = tic;
  spikes = spike_glm_simulate (truth, seconds, struct ('stimulus', stimulus, 'seed', seed));
  fprintf ('simulated %d spikes in %.1f s\n', sum (cellfun (@numel, spikes)), toc (started));

  opts = struct ('stimulus', stimulus, 'stimulus_rate', 100, 'verbose', true);
  started = tic;
  fit = spike_glm_fit (spikes, seconds, opts);
  elapsed = toc (started);

  names = {'bias', 'stimulus', 'history', 'coupling'};
  errors = zeros (nneurons, 4);
  for i = 1:nneurons
    others = setdiff (1:nneurons, i);
    rel = @(a, b) norm (b(:) - a(:)) / norm (a(:));
    errors(i, :) = [abs(fit.bias(i) - truth.bias(i)), ...
                    rel(truth.stimulus_filters(:, :, i), fit.stimulus_filters(:, :, i)), ...
                    rel(truth.filters(:, i, i), fit.filters(:, i, i)), ...
                    rel(truth.filters(:, others, i), fit.filters(:, others, i))];
  end
  fprintf ('population fit: %d neurons, %d bins of 1 ms, stimulus %d samples of 10 ms, %d raised cosines over %d taps\n', ...
           nneurons, fit.n_bins, size (stimulus, 1), size (fit.basis, 2), size (fit.basis, 1));
  fprintf ('fit time %.1f s, %d iterations (%d parameters per neuron)\n', ...
           elapsed, sum (fit.iterations), size (fit.weights, 1));
  fprintf ('neuron  spikes  iters   %9s  %9s  %9s  %9s\n', names{:});
  for i = 1:nneurons
    fprintf ('%6d  %6d  %5d   %9.4f  %9.4f  %9.4f  %9.4f\n', i - 1, ...
             numel (spikes{i}), fit.iterations(i), errors(i, :));
  end
  medians = median (errors, 1);
  fprintf ('median                  %9.4f  %9.4f  %9.4f  %9.4f\n', medians);
  fprintf ('(bias: absolute error; filters: relative L2 error over taps, coupling over all sources together)\n');
  ks = spike_glm_ks (fit, spikes, seconds, struct ('stimulus', stimulus, 'seed', 1));
  fprintf ('KS test (time rescaling): p-values from %.3g to %.3g, %d of %d neurons below 0.05\n', ...
           min (ks.ks_pvalue), max (ks.ks_pvalue), sum (ks.ks_pvalue < 0.05), nneurons);

  % Headless printing in octave-cli goes through gnuplot (see print_png); its
  % advice to prefer another toolkit and print's note about Ghostscript are
  % noise here.
  warnings = warning ();
  cleanup = onCleanup (@() warning (warnings));
  warning ('off', 'Octave:gnuplot-graphics');
  warning ('off', 'print:nogs');
  pngs = figures (truth, fit, spikes, stimulus, folder);
  shown = struct ('visible', false, 'neurons', 1:min (nneurons, 3));
  pngs{3} = fullfile (folder, 'population_bands.png');
  print_png (spike_glm_plot (fit, 'filters', shown), pngs{3}, 900, 700);
  shown.neurons = [];
  pngs{4} = fullfile (folder, 'population_coupling.png');
  print_png (spike_glm_plot (fit, 'coupling', shown), pngs{4}, 700, 600);
  pngs{5} = fullfile (folder, 'population_ks.png');
  side = 250 * ceil (sqrt (nneurons));
  print_png (spike_glm_plot (ks, 'ks', shown), pngs{5}, side, side);
  for k = 1:numel (pngs)
    fprintf ('wrote %s\n', pngs{k});
  end
  if check
    bounds = [0.1 0.2 0.4 0.6];
    failed = names(~(medians < bounds) | ~all (fit.converged));
    for k = 1:numel (pngs)
      if ~shows_something (pngs{k})
        failed{end + 1} = pngs{k};
      end
    end
    if ~isempty (failed)
      error ('population_fit: check failed: %s', strjoin (failed, ', '));
    end
    fprintf ('check passed\n');
  end
end

function B = raised_cosine_basis (ntaps, nbasis)
  % The basis of spike_glm_fit's 'raised_cosine': bumps evenly spaced in
  % log(t + 4), the first peaks at t = 0 (lag 1), the last ends at ntaps - 1.
  offset = 4;
  t = (0:ntaps - 1)';
  lo = log (offset); hi = log (ntaps - 1 + offset);
  spacing = (hi - lo) / (nbasis + 1);
  peaks = lo + spacing * (0:nbasis - 1);
  phase = (log (t + offset) - peaks) * (pi / (2 * spacing));
  B = (cos (max (min (phase, pi), -pi)) + 1) / 2;
end

function [truth, stimulus] = true_model (nneurons, seconds, seed)
  % A struct with the fields of a fit, for spike_glm_simulate.
  ntaps = 100; nbasis = 5; lags = 5; rate_per_bin = 0.006;
  rand ('state', seed); randn ('state', seed);
  truth.opts = struct ('bin_size', 1e-3, 't_start', 0, 'history_taps', ntaps, ...
                       'basis', 'raised_cosine', 'n_basis', nbasis, 'coupling', true, ...
                       'stimulus', [], 'stimulus_rate', 100, 'stimulus_lags', lags);
  truth.basis = raised_cosine_basis (ntaps, nbasis);
  stimulus = randn (round (seconds * 100), 1);
  shape = cos (linspace (0, 1.5 * pi, lags)') .* exp (-(0:lags - 1)' / lags);
  history = linspace (-1.5, 0.5, nbasis)'; history(end) = 0;
  truth.bias = zeros (nneurons, 1);
  truth.stimulus_filters = zeros (lags, 1, nneurons);
  truth.filters = zeros (ntaps, nneurons, nneurons);   % tap, source, target
  for i = 1:nneurons
    linked = rand (1, nneurons) < 0.4;
    linked(mod (i, nneurons) + 1) = true;   % one input at least
    % Past 20 neurons the coupling weakens so that the summed input stays
    % as at 20.
    w = randn (nbasis, nneurons) * (0.3 * min (1, sqrt (20 / nneurons))) .* repmat (linked, nbasis, 1);
    w(:, i) = history + 0.1 * randn (nbasis, 1);
    sign = 2 * (rand () < 0.5) - 1;
    truth.bias(i) = log (rate_per_bin) + 0.2 * randn ();
    truth.stimulus_filters(:, 1, i) = (0.3 + 0.3 * rand ()) * sign * shape;
    truth.filters(:, :, i) = truth.basis * w;
  end
end

function pngs = figures (truth, fit, spikes, stimulus, folder)
  if ~exist (folder, 'dir')
    mkdir (folder);
  end
  n = numel (fit.bias);
  shown = min (n, 3);
  ms = (1:size (fit.basis, 1))';   % tap k: k bins of 1 ms after the spike
  f = figure ('visible', 'off');
  for i = 1:shown
    lags = (2 + (0:size (fit.stimulus_filters, 1) - 1)') * 10;
    subplot (shown, 3, 3 * i - 2);
    plot (lags, truth.stimulus_filters(:, 1, i), 'k-o', lags, fit.stimulus_filters(:, 1, i), 'r--s');
    title (sprintf ('neuron %d: stimulus filter', i - 1));
    xlabel ('lag (ms, samples of 10 ms)');
    if i == 1
      legend ('true', 'fitted');
    end
    subplot (shown, 3, 3 * i - 1);
    plot (ms, truth.filters(:, i, i), 'k-', ms, fit.filters(:, i, i), 'r--');
    title (sprintf ('neuron %d: spike history', i - 1));
    xlabel ('lag after a spike (ms)');
    strength = sum (abs (truth.filters(:, :, i)), 1); strength(i) = -1;
    [~, j] = max (strength);
    subplot (shown, 3, 3 * i);
    plot (ms, truth.filters(:, j, i), 'k-', ms, fit.filters(:, j, i), 'r--');
    title (sprintf ('neuron %d: coupling from neuron %d', i - 1, j - 1));
    xlabel ('lag after a spike (ms)');
  end
  pngs{1} = fullfile (folder, 'population_filters.png');
  print_png (f, pngs{1}, 1100, 300 * shown);

  % Two seconds from the middle; the rates come from an excerpt that starts
  % 200 ms earlier, so that history and stimulus reach back far enough.
  seconds = fit.n_bins / 1000;
  start = floor (seconds / 2); stop = start + 2; from = start - 0.2;
  excerpt = cell (n, 1);
  for i = 1:n
    s = spikes{i};
    excerpt{i} = s(s >= from & s < stop);
  end
  part = struct ('stimulus', stimulus(round (from * 100) + 1:round (stop * 100), :), ...
                 't_start', from);
  true_rate = spike_glm_rate (truth_as_fit (truth), excerpt, stop - from, part);
  fitted_rate = spike_glm_rate (fit, excerpt, stop - from, part);
  keep = 201:2200;
  t = from + (keep' - 0.5) / 1000;
  f = figure ('visible', 'off');
  subplot (3, 1, [1 2]);
  hold on;
  for i = 1:n
    s = excerpt{i};
    s = s(s >= start)';
    if ~isempty (s)
      plot ([s; s], [i - 1.4; i - 0.6] * ones (1, numel (s)), 'k-');
    end
  end
  hold off;
  ylim ([-0.6, n - 0.4]);
  set (gca, 'ytick', 0:max (1, floor (n / 10)):n - 1);
  ylabel ('neuron');
  title ('spikes, 2 s of the recording');
  subplot (3, 1, 3);
  plot (t, true_rate(keep, 1) * 1000, 'k-', t, fitted_rate(keep, 1) * 1000, 'r-');
  legend ('true', 'fitted');
  ylabel ('neuron 0 rate (Hz)');
  xlabel ('time (s)');
  pngs{2} = fullfile (folder, 'population_raster.png');
  print_png (f, pngs{2}, 1100, 500);
end

function fit = truth_as_fit (truth)
  % spike_glm_rate reads the parameter vectors: [bias; stimulus; weights of
  % each source], the weights solved from the filters (the basis has full
  % column rank).
  n = numel (truth.bias);
  fit = truth;
  fit.weights = zeros (1 + size (truth.stimulus_filters, 1) + n * size (truth.basis, 2), n);
  for i = 1:n
    w = truth.basis \ truth.filters(:, :, i);
    fit.weights(:, i) = [truth.bias(i); truth.stimulus_filters(:, 1, i); w(:)];
  end
end

function print_png (fig, file, width_px, height_px)
  % Octave's gnuplot toolkit (the one octave-cli has) writes PNG through
  % gnuplot's cairo terminal at 72 pixels per inch; the other toolkits and
  % MATLAB print PNG themselves at the resolution given.
  if exist ('OCTAVE_VERSION', 'builtin') && ...
     strcmp (get (fig, '__graphics_toolkit__'), 'gnuplot')
    dpi = 72;
    device = '-dpngcairo';
  else
    dpi = 100;
    device = '-dpng';
  end
  set (fig, 'paperunits', 'inches', ...
       'paperposition', [0 0 width_px / dpi height_px / dpi]);
  print (fig, device, sprintf ('-r%d', dpi), file);
  close (fig);
end

function ok = shows_something (file)
  % A PNG of at least 200 x 200 pixels in 3 colours or more.
  ok = false;
  info = dir (file);
  if isempty (info) || info.bytes == 0
    return;
  end
  img = imread (file);
  colours = unique (reshape (double (img), [], size (img, 3)), 'rows');
  ok = size (img, 1) >= 200 && size (img, 2) >= 200 && size (colours, 1) >= 3;
end
