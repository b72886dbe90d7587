function spike_bin_demo(figure_dir, mode)
%SPIKE_BIN_DEMO Demo of tentfill2 and trainfold_mex on synthetic data.
%   SPIKE_BIN_DEMO(FIGURE_DIR) makes a stimulus sampled once per coarse time
%   bin, upsamples it to fine time bins with tentfill2, draws a spike train
%   driven by the upsampled stimulus, sums a bank of post-spike filters over
%   a window of time bins with trainfold_mex, prints a short summary and
%   writes two PNG figures into FIGURE_DIR (created when missing):
%     upsampled_stimulus.png     coarse samples over the fine signal
%     spike_filter_currents.png  spike raster above each filter's current
%   Then it simulates 3 coupled neurons over 3 minutes (spike_glm_simulate),
%   fits them on the first 2 minutes (spike_glm_fit), scores the last
%   minute (spike_glm_score) and runs the time-rescaling test on it
%   (spike_glm_ks); it prints a line per neuron and the couplings whose
%   Wald test (fit.coupling_pvalues) gives p < 0.05, and writes
%     population_glm_filters.png  true against fitted filters (ms)
%     population_glm_bands.png    fitted filters with their 95 % bands
%     population_glm_coupling.png coupling map, significant ones marked
%     population_glm_ks.png       KS plot of the held-out minute
%   (the last three drawn by spike_glm_plot).
%
%   SPIKE_BIN_DEMO(FIGURE_DIR, 'check') also recomputes both results with
%   the project's Octave references (ref_tentfill2 and ref_trainfold in
%   tests/octave, which must be on the path), requires them to equal the
%   modules' results bit for bit (same_bits, also from tests/octave),
%   requires the printed summary to be the one the reference results give,
%   requires the population fit to converge, to beat the null model on
%   the held-out minute and to find the three true couplings significant
%   (and no other), requires every neuron's KS test to have scored spikes
%   and a p-value in [0, 1], and requires the figures to be non-blank PNG
%   images. It ends with an error when any of this fails (the demo's test).
%
%   The data of the first part come from a fixed-seed generator written in
%   this file, so every run, in Octave or MATLAB, sees the same numbers; the
%   population's spikes come from the host's rand with a fixed seed. The
%   modules and the spike_glm_* functions must be on the path.
%
%   See also TENTFILL2, TRAINFOLD_MEX.

if nargin < 1 || isempty(figure_dir)
  figure_dir = 'figures';
end
if nargin < 2
  mode = 'run';
end
check = strcmp(mode, 'check');
if ~check && ~strcmp(mode, 'run')
  error('spike_bin_demo: mode must be ''run'' or ''check''');
end

data = make_data();
% Headless printing in octave-cli goes through gnuplot (see print_png); its
% advice to prefer another toolkit, and print's note about Ghostscript (PNG
% through gnuplot does not need it), are noise here.
warnings = warning();
cleanup = onCleanup(@() warning(warnings));
warning('off', 'Octave:gnuplot-graphics');
warning('off', 'print:nogs');

% The modules.  A second, two-column call shows the many-column arithmetic
% form next to the one-column form.
fine = tentfill2(data.stimulus, data.nbns);
fine_two = tentfill2([data.stimulus, data.stimulus], data.nbns);
spikes = draw_spikes(fine, data.seed + 1);
currents = trainfold_mex(spikes, data.filters, data.twin);

summary = summary_text(data, fine, fine_two, spikes, currents);
fprintf('%s', summary);

if ~exist(figure_dir, 'dir')
  mkdir(figure_dir);
end
files = {fullfile(figure_dir, 'upsampled_stimulus.png'), ...
         fullfile(figure_dir, 'spike_filter_currents.png')};
plot_upsampling(data, fine, files{1});
plot_currents(data, spikes, currents, files{2});
fprintf('Figures:\n  %s\n  %s\n', files{1}, files{2});

% Last, the two modules and their adjoints at work: a small population GLM.
names = {'filters', 'bands', 'coupling', 'ks'};
for k = 1:numel(names)
  files{2 + k} = fullfile(figure_dir, ['population_glm_' names{k} '.png']);
end
glm = population_glm(files(3:end));

if check
  check_results(data, fine, fine_two, spikes, currents, summary, files, glm);
end
end

% ---------------------------------------------------------------------------
% Population GLM

function glm = population_glm(files)
% Simulates 3 coupled neurons over 3 minutes with spike_glm_simulate (the
% host's rand with a fixed seed, so Octave and MATLAB draw different
% spikes), fits them on the first 2 minutes with spike_glm_fit (ridge,
% alpha 1e-6; with standard errors, coupling tests and filter bands),
% scores the last minute with spike_glm_score and spike_glm_ks, plots true
% against fitted filters into files{1} and, with spike_glm_plot, the bands,
% the coupling map and the KS plot into files{2..4}.
n = 3; seconds = 180; taps = 60;
t = (1:taps)';
truth.opts = struct('bin_size', 1e-3, 't_start', 0, 'history_taps', taps, ...
                    'basis', 'raised_cosine', 'n_basis', 4, 'coupling', true, ...
                    'stimulus', [], 'stimulus_rate', 100, 'stimulus_lags', 3);
% Any H x n_basis matrix serves simulate; the fit uses its own raised
% cosines, so the true filters need not lie in their span.
truth.basis = zeros(taps, 4);
truth.bias = log([0.01; 0.015; 0.02]);
truth.stimulus_filters = reshape([0.6 0.3 0; -0.5 0 0; 0 0.4 0.4], 3, 1, n);
refractory = -3 * exp(-t / 5);
excite = 0.8 * (t / 8) .* exp(1 - t / 8);
truth.filters = zeros(taps, n, n);
for i = 1:n
  truth.filters(:, i, i) = refractory;
end
truth.filters(:, 1, 2) = excite;          % neuron 1 drives neuron 2
truth.filters(:, 2, 3) = excite;          % neuron 2 drives neuron 3
truth.filters(:, 3, 1) = -0.5 * excite;   % neuron 3 inhibits neuron 1
stimulus = sin(2 * pi * (0:seconds * 100 - 1)' / 37) + ...
           0.5 * cos(2 * pi * (0:seconds * 100 - 1)' / 11);
spikes = spike_glm_simulate(truth, seconds, struct('stimulus', stimulus, 'seed', 11));

train = (1:seconds * 1000)' <= 120000;
opts = struct('history_taps', taps, 'n_basis', 6, 'stimulus', stimulus, ...
              'stimulus_rate', 100, 'stimulus_lags', 3, 'penalty', 'ridge', ...
              'alpha', 1e-6, 'fit_bins', train);
fit = spike_glm_fit(spikes, seconds, opts);
held_out = struct('stimulus', stimulus, 'bins', ~train);
score = spike_glm_score(fit, spikes, seconds, held_out);
held_out.seed = 1;
ks = spike_glm_ks(fit, spikes, seconds, held_out);
fprintf('Population GLM: spike_glm_simulate, spike_glm_fit, spike_glm_score, spike_glm_ks\n');
fprintf('  %d neurons, %d s of 1 ms bins; fit on the first 120 s (ridge, alpha 1e-6), scored on the last 60 s\n', ...
        n, seconds);
fprintf('  neuron  spikes  iterations  converged  history error  held-out bits/spike  KS D (p)\n');
for i = 1:n
  err = norm(fit.filters(:, i, i) - refractory) / norm(refractory);
  fprintf('  %6d  %6d  %10d  %9d  %13.3f  %19.3f  %.3f (%.2f)\n', i, ...
          numel(spikes{i}), fit.iterations(i), fit.converged(i), err, ...
          score.bits_per_spike(i), ks.ks_statistic(i), ks.ks_pvalue(i));
end
[target, source] = find(fit.coupling_pvalues' < 0.05);   % by source
pairs = cell(1, numel(source));
for k = 1:numel(source)
  pairs{k} = sprintf('%d -> %d', source(k), target(k));
end
fprintf('  couplings with Wald p < 0.05 (true: 1 -> 2, 2 -> 3, 3 -> 1): %s\n', ...
        strjoin(pairs, ', '));

fig = new_figure();
for i = 1:n
  for j = 1:n
    subplot(n, n, (i - 1) * n + j);
    plot(t, truth.filters(:, j, i), 'k-', t, fit.filters(:, j, i), 'r--');
    plain_title(sprintf('neuron %d onto neuron %d', j, i));
    if i == n
      xlabel('lag after a spike (ms)');
    end
    if i == 1 && j == 1
      legend('true', 'fitted', 'location', 'southeast');
    end
  end
end
print_png(fig, files{1}, 1000, 800);

shown = struct('visible', false);
print_png(spike_glm_plot(fit, 'filters', shown), files{2}, 900, 700);
print_png(spike_glm_plot(fit, 'coupling', shown), files{3}, 600, 500);
print_png(spike_glm_plot(ks, 'ks', shown), files{4}, 700, 700);
fprintf('Figures:\n');
fprintf('  %s\n', files{:});
glm.fit = fit;
glm.score = score;
glm.ks = ks;
end

% ---------------------------------------------------------------------------
% Data

function data = make_data()
% The stimulus: 200 coarse bins of two slow oscillations plus noise,
% upsampled to 10 fine bins per coarse bin (2000 fine time bins). The
% filters: 50 taps each, one column per filter.
data.seed = 20240611;
data.nbns = 10;
coarse_bins = 200;
j = (0:coarse_bins - 1)';
noise = uniform_numbers(coarse_bins, data.seed);
data.stimulus = 0.9 * sin(2 * pi * j / 41 + 0.3) + ...
                0.5 * sin(2 * pi * j / 13 + 1.1) + 0.6 * (noise - 0.5);

t = (0:49)';
data.filters = [-4 * exp(-t / 3), ...                % refractory
                -0.6 * exp(-t / 25), ...             % slow adaptation
                0.8 * (t / 10) .* exp(1 - t / 10)];  % delayed rebound
data.filter_names = {'refractory', 'adaptation', 'rebound'};
data.twin = [600 1399];  % first and last time bin of the window
end

function spikes = draw_spikes(fine, seed)
% At most one spike per fine time bin, with probability rising with the
% upsampled stimulus; the spike time is the bin number plus a fraction, so
% the times are ascending and lie in bin fix(time).
n = numel(fine);
u = uniform_numbers(2 * n, seed);
probability = min(0.9, 0.12 * exp(0.9 * fine));
fired = u(1:n) < probability;
bins = (0:n - 1)';
spikes = bins(fired) + u(n + find(fired));
end

function u = uniform_numbers(n, seed)
% Park-Miller minimal standard generator: every step is exact in double
% arithmetic, so the numbers are the same on every host.
u = zeros(n, 1);
state = mod(seed, 2147483647);
for i = 1:n
  state = mod(16807 * state, 2147483647);
  u(i) = state / 2147483647;
end
end

% ---------------------------------------------------------------------------
% Summary

function text = summary_text(data, fine, fine_two, spikes, currents)
% The printed summary, computed only from the arguments.
E = fix(data.nbns);
G = fix(E / 2);
m = numel(data.stimulus);
landing = (0:m - 1)' * E + E - G;  % 1-based row on which each sample lands
landed = fine(landing);
exact = sum(landed == data.stimulus);
last_bit = sum(one_ulp_apart(landed, data.stimulus));
forms_differ = sum(fine_two(:, 1) ~= fine);
forms_last_bit = sum(one_ulp_apart(fine_two(:, 1), fine));

T0 = fix(data.twin(1));
T1 = fix(data.twin(2));
taps = size(data.filters, 1);
bins = fix(spikes);
reaching = sum(bins + taps - 1 >= T0 & bins <= T1);
inside = sum(bins >= T0 & bins <= T1);

lines = {
  'tentfill2: bin-centred upsampling'
  sprintf('  stimulus        %d coarse bins, nbns = %g -> %d fine bins', ...
          m, data.nbns, size(fine, 1))
  sprintf('  fine signal     min %.4f  max %.4f  mean %.4f', ...
          min(fine), max(fine), mean(fine))
  sprintf(['  landing rows    %d of %d samples reproduced exactly, ' ...
           '%d one unit in the last place off'], exact, m, last_bit)
  sprintf(['  two-column call %d of %d fine values differ from the ' ...
           'one-column call, %d of them by one unit in the last place'], ...
          forms_differ, size(fine, 1), forms_last_bit)
  'trainfold_mex: windowed filter sums'
  sprintf('  spike train     %d spikes in bins 0 .. %d', numel(spikes), ...
          size(fine, 1) - 1)
  sprintf(['  window          bins %d .. %d (%d rows), %d filters of ' ...
           '%d taps'], T0, T1, size(currents, 1), size(currents, 2), taps)
  sprintf(['  spikes          %d inside the window, %d reach it ' ...
           '(filter tails included)'], inside, reaching)
  sprintf('  %-14s %10s %10s %10s', 'filter', 'min', 'max', 'mean')
};
for k = 1:size(currents, 2)
  lines{end + 1} = sprintf('  %-14s %10.4g %10.4g %10.4g', ...
                           data.filter_names{k}, min(currents(:, k)), ...
                           max(currents(:, k)), mean(currents(:, k)));
end
text = sprintf('%s\n', lines{:});
end

function apart = one_ulp_apart(a, b)
% True where a and b are neighbouring doubles.
apart = a ~= b & abs(a - b) <= eps(max(abs(a), abs(b)));
end

% ---------------------------------------------------------------------------
% Figures

function print_png(fig, file, width_px, height_px)
% Headless PNG output. Octave's gnuplot toolkit (the one octave-cli has)
% writes PNG through gnuplot's cairo terminal, which renders the paper size
% at 72 pixels per inch; the other toolkits and MATLAB print PNG themselves,
% at the resolution given.
if exist('OCTAVE_VERSION', 'builtin') && ...
   strcmp(get(fig, '__graphics_toolkit__'), 'gnuplot')
  dpi = 72;
  device = '-dpngcairo';
else
  dpi = 100;
  device = '-dpng';
end
set(fig, 'paperunits', 'inches', ...
         'paperposition', [0 0 width_px / dpi height_px / dpi]);
print(fig, device, sprintf('-r%d', dpi), file);
close(fig);
end

function fig = new_figure()
fig = figure('visible', 'off');
set(fig, 'defaultaxesfontsize', 11);
end

function plain_title(text)
% Titles hold names with underscores: no TeX interpretation.
title(text, 'interpreter', 'none');
end

function plot_upsampling(data, fine, file)
E = fix(data.nbns);
G = fix(E / 2);
m = numel(data.stimulus);
rows = (0:numel(fine) - 1)';        % fine time bin of each row
landing = (0:m - 1)' * E + E - G - 1;  % fine bin on which each sample lands

fig = new_figure();
subplot(2, 1, 1);
plot(rows, fine, 'b-', landing, data.stimulus, 'ro', 'markersize', 3);
xlim([0 numel(fine)]);
plain_title(sprintf('Stimulus: %d coarse samples x, tentfill2(x, %g) gives %d fine bins', ...
                    m, data.nbns, numel(fine)));
xlabel('fine time bin');
ylabel('stimulus');
legend('fine signal', 'coarse samples', 'location', 'northeast');

% The first few coarse bins: the ramp up from zero and the straight lines
% between the sample points.
shown = 12;
last = shown * E;
subplot(2, 1, 2);
plot(rows(1:last), fine(1:last), 'b.-', ...
     landing(1:shown), data.stimulus(1:shown), 'ro', 'markersize', 6);
hold on;
limits = [min(fine(1:last)) max(fine(1:last))];
limits = limits + [-0.1 0.1] * max(diff(limits), 0.1);
for edge = 0:E:last
  plot([edge edge] - 0.5, limits, ':', 'color', [0.6 0.6 0.6]);
end
hold off;
xlim([-0.5 last - 0.5]);
ylim(limits);
plain_title(sprintf(['First %d coarse bins: ramp from zero, straight lines ' ...
                     'between samples (dotted: bin edges)'], shown));
xlabel('fine time bin');
ylabel('stimulus');
legend('fine signal', 'coarse samples', 'location', 'northeast');
print_png(fig, file, 1000, 700);
end

function plot_currents(data, spikes, currents, file)
T0 = fix(data.twin(1));
T1 = fix(data.twin(2));
bins = (T0:T1)';
shown = spikes(spikes >= T0 & spikes < T1 + 1);
K = size(currents, 2);

fig = new_figure();
subplot(K + 1, 1, 1);
ticks_x = [shown'; shown'; nan(1, numel(shown))];
ticks_y = [zeros(1, numel(shown)); ones(1, numel(shown)); ...
           nan(1, numel(shown))];
plot(ticks_x(:), ticks_y(:), 'k-');
xlim([T0 T1 + 1]);
ylim([-0.2 1.2]);
set(gca, 'ytick', []);
plain_title(sprintf('Spike raster: %d spikes in the window twin = [%d %d]', ...
                    numel(shown), T0, T1));
ylabel('spikes');
colors = [0.8 0.1 0.1; 0.1 0.3 0.8; 0.1 0.6 0.2];
for k = 1:K
  subplot(K + 1, 1, k + 1);
  plot(bins, currents(:, k), '-', 'color', colors(1 + mod(k - 1, 3), :));
  xlim([T0 T1 + 1]);
  plain_title(sprintf('trainfold_mex, filter %d (%s): summed current', k, ...
                      data.filter_names{k}));
  ylabel('current');
end
xlabel('time bin');
print_png(fig, file, 1000, 900);
end

% ---------------------------------------------------------------------------
% Check mode: the modules against the project's Octave references

function check_results(data, fine, fine_two, spikes, currents, summary, files, glm)
failures = {};
if ~all(glm.fit.converged) || ~all(glm.score.bits_per_spike > 0)
  failures{end + 1} = 'the population GLM did not converge or scores no better than the null model';
end
% The simulated couplings are 1 -> 2, 2 -> 3 and 3 -> 1 (source -> target).
true_coupling = logical([0 1 0; 0 0 1; 1 0 0]);
significant = glm.fit.coupling_pvalues < 0.05;
if ~isequal(significant, true_coupling)
  failures{end + 1} = 'the Wald tests do not find exactly the simulated couplings';
end
ks = glm.ks;
if ~all(ks.n > 0) || ~all(ks.ks_pvalue >= 0 & ks.ks_pvalue <= 1)
  failures{end + 1} = 'the KS test scored no spikes or gave no p-value';
end
if exist('ref_tentfill2', 'file') ~= 2 || exist('ref_trainfold', 'file') ~= 2
  error('spike_bin_demo:check', ['check mode needs tests/octave (the ' ...
        'references ref_tentfill2, ref_trainfold and same_bits) on the path']);
end
ref_fine = ref_tentfill2(data.stimulus, data.nbns);
ref_two = ref_tentfill2([data.stimulus, data.stimulus], data.nbns);
ref_currents = ref_trainfold(spikes, data.filters, data.twin);
if ~same_bits(fine, ref_fine)
  failures{end + 1} = 'tentfill2 (one column) differs from the reference';
end
if ~same_bits(fine_two, ref_two)
  failures{end + 1} = 'tentfill2 (two columns) differs from the reference';
end
if ~same_bits(currents, ref_currents)
  failures{end + 1} = 'trainfold_mex differs from the reference';
end
expected = summary_text(data, ref_fine, ref_two, spikes, ref_currents);
if ~strcmp(summary, expected)
  failures{end + 1} = sprintf(['printed summary differs from the ' ...
                               'reference summary:\n%s'], expected);
end
% A sane demo: a few hundred spikes, some of them reaching the window.
if numel(spikes) < 100 || numel(spikes) > 1000
  failures{end + 1} = sprintf('unexpected spike count %d', numel(spikes));
end
if ~any(currents(:))
  failures{end + 1} = 'the summed currents are all zero';
end
for i = 1:numel(files)
  info = dir(files{i});
  if isempty(info) || info.bytes == 0
    failures{end + 1} = sprintf('figure %s is missing or empty', files{i});
    continue;
  end
  image = imread(files{i});
  colours = unique(reshape(double(image), [], size(image, 3)), 'rows');
  if size(image, 1) < 200 || size(image, 2) < 200 || size(colours, 1) < 3
    failures{end + 1} = sprintf('figure %s is blank or too small', files{i});
  end
end
if ~isempty(failures)
  error('spike_bin_demo:check', 'demo check failed:\n  %s', ...
        strjoin(failures, '\n  '));
end
fprintf(['Check passed: module results equal the reference bit for bit, ' ...
         'the summary matches, the population GLM converged, beats the ' ...
         'null model and finds the simulated couplings, the KS tests ran, ' ...
         'the figures are non-blank PNGs.\n']);
end
