function ks = spike_glm_ks(fit, spike_times, duration, opts)
%SPIKE_GLM_KS Time-rescaling goodness-of-fit test of a fitted GLM.
%   KS = SPIKE_GLM_KS(FIT, SPIKE_TIMES, DURATION, OPTS) tests whether the
%   spike trains SPIKE_TIMES (cell array of N vectors, seconds, recording
%   of DURATION seconds) are drawn from the model in FIT (SPIKE_GLM_FIT),
%   each neuron against its rate lambda_t = mu_i(t) (SPIKE_GLM_RATE: the
%   expected count in bin t given the recorded spikes as history).
%
%   Discrete-time rescaling: p_t = 1 - exp(-lambda_t) is the model's
%   probability that bin t holds a spike, so each bin with one or more
%   spikes is one event (several spikes in a bin count once). For the k-th
%   spike bin t_k of the bins scored,
%     xi_k = sum of lambda_j over the scored bins t_(k-1) < j < t_k
%            (from the first scored bin for k = 1) - log(1 - r_k p_(t_k))
%     z_k  = 1 - exp(-xi_k)
%   with r_k uniform on (0, 1). Under the model the z_k are independent
%   and uniform on (0, 1) exactly, at any rate per bin. The uncorrected
%   (continuous-time) form, OPTS.corrected = false, takes instead
%   xi_k = sum of lambda_j over t_(k-1) < j <= t_k: it is uniform only
%   when lambda_t << 1 and is there for comparison.
%   The Kolmogorov-Smirnov statistic of the sorted z (n of them) is
%     D = max_i max(i/n - z_(i), z_(i) - (i-1)/n)
%   and its p-value Q(lambda) = 2 sum_{k=1}^{100} (-1)^(k-1)
%   exp(-2 k^2 lambda^2), lambda = (sqrt(n) + 0.12 + 0.11/sqrt(n)) D,
%   clipped to [0, 1], and 1 for lambda < 0.04 (where the truncated series
%   is inaccurate and the exact value is 1); the 95 % band of the KS plot is 1.36 / sqrt(n).
%
%   Options (fields of OPTS):
%     bins       T x 1 logical mask of the bins scored ([]: all): the sums
%                run over the scored bins only, and only their spikes are
%                events (held-out bins of a cross-validation)
%     stimulus   M x C stimulus (needed when the fit had one)
%     t_start    time of bin 0 (s), default 0
%     corrected  true (default): the discrete-time form; false: the
%                uncorrected form (no r_k)
%     uniforms   cell of N vectors, the r_k of each neuron, one per spike
%                bin scored, in time order, each in (0, 1)
%     seed       seeds rand ('state') for the r_k (neuron 1's first, then
%                neuron 2's, ...) and restores the generator afterwards;
%                [] (default) draws from the generator as it is
%
%   Fields of KS:
%     rescaled      N x 1 cell: the z_k of each neuron (column, in time
%                   order, in (0, 1]; 1 only when xi_k passes about 37)
%     ks_statistic  N x 1 D;  ks_pvalue  N x 1;  band  N x 1 1.36/sqrt(n)
%                   (NaN for a neuron without a spike bin scored)
%     n             N x 1 spike bins scored
%     corrected     the form used
%
%   Example:
%     fit = spike_glm_fit(spikes, 600, struct('history_taps', 50));
%     ks = spike_glm_ks(fit, spikes, 600, struct('seed', 1));
%     bad = find(ks.ks_pvalue < 0.05)
%     spike_glm_plot(ks, 'ks');
%
%   See also SPIKE_GLM_FIT, SPIKE_GLM_RATE, SPIKE_GLM_PLOT.

if nargin < 3
  error('spike_glm:nargin', ...
        'spike_glm_ks: needs fit, spike_times and duration (and opts)');
end
if nargin < 4
  opts = [];
end
[data, model, so] = glm_refit_setup(fit, spike_times, duration, opts, ...
    struct('stimulus', [], 't_start', 0, 'bins', [], 'corrected', true, ...
           'uniforms', [], 'seed', []), 'spike_glm_ks');
T = data.T;
N = data.N;
mask = so.bins;
if isempty(mask)
  mask = true(T, 1);
elseif ~(islogical(mask) || isnumeric(mask)) || numel(mask) ~= T || ...
       any(mask(:) ~= 0 & mask(:) ~= 1)
  error('spike_glm:bins', 'spike_glm_ks: opts.bins must be a logical mask of %d bins', T);
end
mask = logical(mask(:));
if ~(islogical(so.corrected) || isnumeric(so.corrected)) || ~isscalar(so.corrected)
  error('spike_glm:corrected', 'spike_glm_ks: opts.corrected must be true or false');
end
corrected = logical(so.corrected);

% The spike bins scored, per neuron (1-based rows, ascending).
events = cell(N, 1);
for i = 1:N
  rows = data.rows{i};
  events{i} = reshape(rows(mask(rows)), [], 1);
end
n = cellfun(@numel, events);
r = cell(N, 1);
if corrected
  if ~isempty(so.uniforms)
    r = check_uniforms(so.uniforms, n);
  else
    if ~isempty(so.seed)
      if ~isnumeric(so.seed) || ~isscalar(so.seed) || ~isfinite(so.seed)
        error('spike_glm:seed', 'spike_glm_ks: opts.seed must be a finite number');
      end
      saved = rand('state');
      rand('state', so.seed);
    end
    for i = 1:N
      r{i} = rand(n(i), 1);
    end
    if ~isempty(so.seed)
      rand('state', saved);
    end
  end
end

ks.rescaled = cell(N, 1);
ks.ks_statistic = NaN(N, 1);
ks.ks_pvalue = NaN(N, 1);
ks.band = NaN(N, 1);
ks.n = n;
ks.corrected = corrected;
for i = 1:N
  t = events{i};
  lambda = exp(glm_drive(model, data, fit.weights(:, i), i));
  lambda(~mask) = 0;
  spike = false(T, 1);
  spike(t) = true;
  % Bins between spike bins k-1 and k (k = 1 .. n, then the tail after the
  % last spike, unused) hold k - 1 spike bins at or before them.
  seen = cumsum(spike);
  gaps = accumarray(seen(~spike) + 1, lambda(~spike), [n(i) + 1, 1]);
  last = lambda(t);
  if corrected
    jump = -log1p(r{i} .* expm1(-last));   % -log(1 - r p), p = 1 - exp(-lambda)
  else
    jump = last;
  end
  z = -expm1(-(gaps(1:n(i)) + jump));
  ks.rescaled{i} = reshape(z, [], 1);
  if n(i) > 0
    [ks.ks_statistic(i), ks.ks_pvalue(i)] = ks_uniform(z);
    ks.band(i) = 1.36 / sqrt(n(i));
  end
end
end

function r = check_uniforms(u, n)
N = numel(n);
if ~iscell(u) || numel(u) ~= N
  error('spike_glm:uniforms', ...
        'spike_glm_ks: opts.uniforms must be a cell array of %d vectors (one per neuron)', N);
end
r = cell(N, 1);
for i = 1:N
  v = u{i};
  if ~(isnumeric(v) && isreal(v)) || numel(v) ~= n(i) || (~isempty(v) && ~isvector(v))
    error('spike_glm:uniforms', ['spike_glm_ks: opts.uniforms{%d} must ' ...
          'hold %d numbers, one per spike bin scored'], i, n(i));
  end
  v = double(v(:));
  if any(~(v > 0 & v < 1))
    error('spike_glm:uniforms', ...
          'spike_glm_ks: opts.uniforms{%d} must lie in (0, 1)', i);
  end
  r{i} = v;
end
end

function [D, p] = ks_uniform(z)
% Kolmogorov-Smirnov distance of Z from the uniform law, asymptotic p-value.
n = numel(z);
z = sort(z);
i = (1:n)';
D = max(max(i / n - z), max(z - (i - 1) / n));
lambda = (sqrt(n) + 0.12 + 0.11 / sqrt(n)) * D;
c = glm_constants();
if lambda < c.ks_small
  p = 1;   % the truncated series is inaccurate there; the exact value is 1
else
  k = (1:c.ks_terms)';
  p = 2 * sum((-1) .^ (k - 1) .* exp(-2 * k .^ 2 * lambda ^ 2));
  p = min(max(p, 0), 1);
end
end

% Tests (run with "test spike_glm_ks").

%!function fit = model (bias, taps, T)
%!  ## The model with BIAS (N x 1) and history filters TAPS (H x N x N, one
%!  ## basis column per tap), over T bins of 1 ms.
%!  warning ("off", "spike_glm:silentNeuron", "local");
%!  H = rows (taps); N = columns (taps);
%!  fit = spike_glm_fit (cell (N, 1), T / 1000, struct ("basis", eye (H), ...
%!                       "max_iter", 1, "inference", false));
%!  fit.bias = bias(:);
%!  fit.filters = taps;
%!  fit.weights = [bias(:)'; reshape(taps, H * N, N)];
%!endfunction

%!test
%! ## The rescaled values written out for a small recording: corrected and
%! ## not, every bin or a mask, given uniforms, two spikes in one bin.
%! t0 = 3600.125;
%! taps = zeros (2, 2, 2); taps(:, 1, 2) = [0.7; -0.4]; taps(:, 2, 2) = [-1; 0];
%! fit = model ([log(0.3); log(0.8)], taps, 12);
%! spikes = {t0 + ([1 4 4 9] + 0.5) * 1e-3, t0 + ([0 2 3 5 10] + 0.5) * 1e-3};
%! rate = spike_glm_rate (fit, spikes, 0.012, struct ("t_start", t0));
%! lam = rate(:, 2);
%! some = true (12, 1); some([3 4 8]) = false;
%! cases = {[], true; [], false; some, true; some, false};
%! for c = 1:rows (cases)
%!   [bins, corrected] = cases{c, :};
%!   F = true (12, 1);
%!   if ! isempty (bins), F = bins; endif
%!   spk = [1 3 4 6 11];                  % rows of neuron 2's spike bins
%!   spk = spk(F(spk));
%!   u = {0.5 * ones(3, 1), (1:numel (spk))' / 10};
%!   ks = spike_glm_ks (fit, spikes, 0.012, struct ("t_start", t0, ...
%!                      "bins", bins, "uniforms", {u}, "corrected", corrected));
%!   expected = zeros (numel (spk), 1);
%!   prev = 0;
%!   for k = 1:numel (spk)
%!     between = prev + 1:spk(k) - 1;
%!     xi = sum (lam(between(F(between))));
%!     if corrected
%!       xi -= log (1 - u{2}(k) * (1 - exp (-lam(spk(k)))));
%!     else
%!       xi += lam(spk(k));
%!     endif
%!     expected(k) = 1 - exp (-xi);
%!     prev = spk(k);
%!   endfor
%!   assert (ks.rescaled{2}, expected, 1e-14);
%!   assert (ks.n, [3; numel(spk)]);     % neuron 1: bins 1, 4, 9
%!   z = sort (expected); n = numel (z);
%!   D = max ([(1:n)' / n - z; z - (0:n-1)' / n]);
%!   assert (ks.ks_statistic(2), D, 1e-15);
%!   assert (ks.band(2), 1.36 / sqrt (n), 1e-15);
%! endfor

%!test
%! ## The p-value against values of the Kolmogorov distribution, and NaN
%! ## without a spike scored.
%! fit = model (log (0.5), zeros (1, 1, 1), 4);
%! cases = {0.5 + 1e-9, 0.9 - 1e-9, 0.5, 1.0 - 0.03};
%! for c = 1:numel (cases)
%!   r = cases{c};
%!   ## one spike bin, the first: xi = -log(1 - r p), so z = r p
%!   ks = spike_glm_ks (fit, {0.0005}, 0.004, struct ("uniforms", {{r}}));
%!   z = r * (1 - exp (-0.5));
%!   assert (ks.rescaled{1}, z, 1e-15);
%!   D = max (z, 1 - z);
%!   lam = (1 + 0.12 + 0.11) * D;
%!   k = 1:100;
%!   assert (ks.ks_pvalue, 2 * sum ((-1) .^ (k - 1) .* exp (-2 * k .^ 2 * lam ^ 2)), 1e-14);
%! endfor
%! ks = spike_glm_ks (fit, {[]}, 0.004);
%! assert ([ks.n, ks.ks_statistic, ks.ks_pvalue, ks.band], [0 NaN NaN NaN]);
%! assert (size (ks.rescaled{1}), [0 1]);

%!test
%! ## Under the true model (two coupled neurons with refractory
%! ## self-history, simulated) the test rejects at 5 % in about 5 % of
%! ## 40 recordings; a model with rates twice too high is rejected in each.
%! taps = zeros (3, 2, 2);
%! taps(:, 1, 1) = [-3; -1; -0.3]; taps(:, 2, 2) = [-2; -0.5; 0];
%! taps(:, 1, 2) = [0.8; 0.4; 0.2]; taps(:, 2, 1) = [-0.3; 0; 0];
%! fit = model (log ([0.05; 0.08]), taps, 8000);
%! wrong = fit;
%! wrong.weights(1, :) += log (2);
%! p = zeros (40, 2); q = zeros (40, 2);
%! for s = 1:40
%!   spikes = spike_glm_simulate (fit, 8, struct ("seed", s));
%!   p(s, :) = spike_glm_ks (fit, spikes, 8, struct ("seed", s)).ks_pvalue';
%!   q(s, :) = spike_glm_ks (wrong, spikes, 8, struct ("seed", s)).ks_pvalue';
%! endfor
%! rejected = sum (p < 0.05);
%! assert (all (rejected <= 7), sprintf ("%d ", rejected));
%! assert (all (q(:) < 0.05));
%! ## The p-values themselves are spread like uniforms over (0, 1).
%! assert (mean (p(:)) > 0.35 && mean (p(:)) < 0.65, num2str (mean (p(:))));

%!test
%! ## At 0.5 to 2 expected spikes per bin the corrected form stays uniform,
%! ## the uncorrected one is rejected.
%! ## Without history the bins are independent: a bin holds a spike with
%! ## probability 1 - exp(-lambda), drawn here directly (1 to 3 spikes).
%! lambda = [0.5, 1, 2];
%! fit = model (log (lambda), zeros (1, 3, 3), 2000);
%! p = zeros (10, 3); raw = zeros (10, 3);
%! for s = 1:10
%!   rand ("state", s);
%!   u = rand (2000, 3);
%!   spikes = cell (3, 1);
%!   for i = 1:3
%!     b = find (u(:, i) > exp (-lambda(i))) - 1;
%!     spikes{i} = 100 + [b + 0.25; b(1:2:end) + 0.75] * 1e-3;
%!   endfor
%!   ks = spike_glm_ks (fit, spikes, 2, struct ("seed", s, "t_start", 100));
%!   p(s, :) = ks.ks_pvalue';
%!   raw(s, :) = spike_glm_ks (fit, spikes, 2, struct ("corrected", false, ...
%!                             "t_start", 100)).ks_pvalue';
%! endfor
%! assert (all (ks.n > 700));
%! assert (sum (p(:) < 0.05) <= 5, num2str (p));
%! assert (mean (p(:)) > 0.3 && mean (p(:)) < 0.7, num2str (mean (p(:))));
%! assert (all (raw(:) < 1e-10), num2str (raw));
%! ## The seed gives the same draws, and leaves the generator as it was.
%! rand ("state", 42); before = rand ("state");
%! again = spike_glm_ks (fit, spikes, 2, struct ("seed", 10, "t_start", 100));
%! assert (isequal (again.rescaled, ks.rescaled));
%! assert (isequal (rand ("state"), before));

%!test
%! ## Refusals.
%! fit = model (log (0.5), zeros (1, 1, 1), 4);
%! cases = {
%!   struct("uniforms", {{[0.5; 0.5]}}), "uniforms", "opts.uniforms{1} must hold 1 numbers, one per spike bin scored"
%!   struct("uniforms", {{1}}), "uniforms", "opts.uniforms{1} must lie in (0, 1)"
%!   struct("uniforms", {{NaN}}), "uniforms", "opts.uniforms{1} must lie in (0, 1)"
%!   struct("uniforms", [0.5]), "uniforms", "opts.uniforms must be a cell array of 1 vectors (one per neuron)"
%!   struct("bins", true (3, 1)), "bins", "opts.bins must be a logical mask of 4 bins"
%!   struct("bins", 2 * ones (4, 1)), "bins", "opts.bins must be a logical mask of 4 bins"
%!   struct("corrected", "yes"), "corrected", "opts.corrected must be true or false"
%!   struct("seed", NaN), "seed", "opts.seed must be a finite number"
%! };
%! for c = 1:rows (cases)
%!   try
%!     spike_glm_ks (fit, {0.0005}, 0.004, cases{c, 1});
%!     error ("no error for case %d", c);
%!   catch err
%!     assert (err.identifier, ["spike_glm:" cases{c, 2}]);
%!     assert (strcmp (err.message, ["spike_glm_ks: " cases{c, 3}]), "case %d: %s", c, err.message);
%!   end_try_catch
%! endfor
%! try
%!   spike_glm_ks (fit, {0.0005}, 0.004, struct ("window", 1));
%!   error ("no error");
%! catch err
%!   assert (! isempty (strfind (err.message, "unknown option opts.window")), err.message);
%! end_try_catch
