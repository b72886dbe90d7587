function spike_times = spike_glm_simulate(fit, duration, opts)
%SPIKE_GLM_SIMULATE Draw spike trains from a fitted population GLM.
%   SPIKE_TIMES = SPIKE_GLM_SIMULATE(FIT, DURATION, OPTS) runs the model of
%   FIT (from SPIKE_GLM_FIT, or a struct with the same fields bias,
%   filters, stimulus_filters, basis and opts) forward over T =
%   floor(DURATION / bin_size + 1e-6) bins: in each bin t every neuron i
%   draws a Poisson count with mean lambda = exp(eta_i(t)), and the counts
%   drawn feed every neuron's history from bin t + 1 on (filters(:, j, i)
%   is the filter of source j onto target i). Returns an N x 1 cell array
%   of spike-time columns in seconds, ascending: the k spikes drawn in bin
%   b are placed at t_start + (b + (j + 0.5) / k) * bin_size, j = 0..k-1
%   (one spike at the bin centre), distinct times that SPIKE_GLM_FIT and
%   SPIKE_GLM_RATE bin back into bin b.
%
%   Counts are exact Poisson draws at every mean (no normal approximation):
%   one uniform u per bin and neuron, inverted from the mode k = floor(
%   lambda) with F = P(X <= k) = gammainc(lambda, k + 1, 'upper')
%   (exp(-lambda) when k = 0) and stepping down or up through the
%   probabilities: the smallest k with P(X <= k) >= u.
%
%   Options (fields of OPTS):
%     stimulus  M x C stimulus at fit.opts.stimulus_rate (needed when the
%               fit had one; M * m must equal T)
%     t_start   time of bin 0 (s), default 0
%     seed      whole number >= 0: seeds the generator of rand first, the
%               same way in MATLAB and Octave (rng(seed, 'twister') where
%               rng exists: MATLAB, Octave 7 and later; rand('twister',
%               seed) otherwise); [] (default) keeps the generator's state.
%               The uniforms are drawn as rand(n, N) for each block of n
%               bins (n = 65536 but the last).
%
%   Runaway guard: the simulation stops with the error
%   'spike_glm:runaway' as soon as a log rate passes 10 (about 22000
%   expected spikes per bin), which only an unstable excitatory loop of
%   the filters reaches.
%
%   Example:
%     fit = spike_glm_fit(spikes, 600, struct('penalty', 'ridge', 'alpha', 1e-4));
%     again = spike_glm_simulate(fit, 600, struct('seed', 1));
%
%   See also SPIKE_GLM_FIT, SPIKE_GLM_RATE.

if nargin < 2
  error('spike_glm:nargin', 'spike_glm_simulate: needs fit and duration (and opts)');
end
if nargin < 3
  opts = [];
end
N = 1;
if isstruct(fit) && isfield(fit, 'bias')
  N = numel(fit.bias);
end
defaults = struct('stimulus', [], 't_start', 0, 'seed', []);
so = glm_options(opts, defaults, 'spike_glm_simulate');
seed = so.seed;
if ~isempty(seed) && ~(isnumeric(seed) && isscalar(seed) && isreal(seed) && ...
    seed >= 0 && seed == fix(seed) && seed < 2^32)
  error('spike_glm:seed', 'spike_glm_simulate: opts.seed must be [] or a whole number in [0, 2^32)');
end
[data, model] = glm_refit_setup(fit, cell(N, 1), duration, opts, defaults, ...
                                'spike_glm_simulate', '', 'filters');
if ~isempty(seed)
  if exist('rng') %#ok<EXIST>
    rng(double(seed), 'twister');
  else
    rand('twister', double(seed)); %#ok<RAND>
  end
end
c = glm_constants();
T = data.T;
H = model.H;
ceiling = c.max_log_rate;
bias = fit.bias(:)';
if model.nstim > 0
  coarse = model.X * reshape(fit.stimulus_filters, model.nstim, N);
end
block = c.block_rows;
look = c.look_ahead;
carry = zeros(H, N);
events = zeros(1024, 3);   % bin, neuron, count; grown by doubling
nevents = 0;
for t0 = 0:block:T - 1
  n = min(block, T - t0);
  base = repmat(bias, n, 1);
  if model.nstim > 0
    m = model.m;
    first = max(0, floor(t0 / m) - 1);
    last = min(size(coarse, 1), floor((t0 + n - 1) / m) + 2);
    part = tentfill2(coarse(first + 1:last, :), m);
    base = base + part(t0 - first * m + (1:n), :);
  end
  extra = zeros(n + H, N);
  extra(1:H, :) = carry;
  u = rand(n, N);
  pos = 0;
  % Between spikes the log rates are fixed, so the draws jump from one bin
  % with a spike (u above P(X = 0) = exp(-lambda)) to the next.
  while pos < n
    stop = min(pos + look, n);
    eta = base(pos + 1:stop, :) + extra(pos + 1:stop, :);
    fired = u(pos + 1:stop, :) > exp(-exp(eta));
    row = find(any(fired, 2), 1);
    if isempty(row)
      row = stop - pos;
    end
    if max(max(eta(1:row, :))) > ceiling
      [r, i] = find(eta(1:row, :) > ceiling, 1);
      error('spike_glm:runaway', ['spike_glm_simulate: the log rate ' ...
            'of neuron %d passed %g in bin %d (runaway excitation)'], ...
            i, ceiling, t0 + pos + r - 1);
    end
    if ~any(fired(row, :))
      pos = stop;
      continue;
    end
    t = pos + row;
    who = find(fired(row, :));
    counts = poisson_draw(u(t, who), exp(eta(row, who)));
    for q = find(counts > 0)
      i = who(q);
      count = counts(q);
      if nevents == size(events, 1)
        events(2 * nevents, 3) = 0;
      end
      nevents = nevents + 1;
      events(nevents, :) = [t0 + t - 1, i, count];
      extra(t + 1:t + H, :) = extra(t + 1:t + H, :) + count * reshape(fit.filters(:, i, :), H, N);
    end
    pos = t;
  end
  carry = extra(n + 1:n + H, :);
end
events = events(1:nevents, :);
spike_times = cell(N, 1);
t_start = so.t_start;
bin_size = fit.opts.bin_size;
for i = 1:N
  mine = events(:, 2) == i;
  counts = events(mine, 3);
  if isempty(counts)
    spike_times{i} = zeros(0, 1);
    continue;
  end
  % Event e (bin b, count k) gives spikes j = 0..k-1 of bin b.
  e = zeros(sum(counts), 1);
  e(cumsum([1; counts(1:end - 1)])) = 1;
  e = cumsum(e);
  starts = cumsum(counts) - counts;
  j = (0:numel(e) - 1)' - starts(e);
  bins = events(mine, 1);
  spike_times{i} = t_start + (bins(e) + (j + 0.5) ./ counts(e)) * bin_size;
end
end

function k = poisson_draw(u, lambda)
% The Poisson(LAMBDA) counts of the uniforms U (vectors of one size): for
% each, the smallest k with P(X <= k) >= u, found from the mode k =
% floor(lambda), F = P(X <= k) = Q(k + 1, lambda) (one gammainc call for
% all; exp(-lambda) when k = 0, the same function), stepping down or up
% through the probabilities. A count of 0 where u > exp(-lambda) can only
% come from rounding at that boundary.
k = floor(lambda);
F = exp(-lambda);
p = F;
big = find(k > 0);
if ~isempty(big)
  F(big) = gammainc(lambda(big), k(big) + 1, 'upper');
  p(big) = exp(k(big) .* log(lambda(big)) - lambda(big) - gammaln(k(big) + 1));
end
for n = 1:numel(u)
  un = u(n); Fn = F(n); pn = p(n); kn = k(n); ln = lambda(n);
  if un <= Fn
    while kn > 0 && un <= Fn - pn
      Fn = Fn - pn;
      pn = pn * kn / ln;
      kn = kn - 1;
    end
  else
    while un > Fn && pn > 0
      kn = kn + 1;
      pn = pn * ln / kn;
      Fn = Fn + pn;
    end
  end
  k(n) = kn;
end
end

% Tests (run with "test spike_glm_simulate").

%!test
%! warning ("off", "spike_glm:notConverged", "local");
%! warning ("off", "spike_glm:silentNeuron", "local");
%! warning ("off", "spike_glm:runaway", "local");
%! ## A refractory self-filter of 5 taps: no two spikes of a neuron closer
%! ## than 6 bins, while the other neuron (no history) has such pairs; the
%! ## same seed gives the same trains; the mean count follows the bias.
%! fit = spike_glm_fit ({[], []}, 1, struct ("history_taps", 5, ...
%!                      "basis", ones (5, 1), "coupling", false, "max_iter", 1));
%! fit.filters(:, 1, 1) = -50;
%! fit.bias = log ([0.2; 0.2]);
%! a = spike_glm_simulate (fit, 20, struct ("seed", 7, "t_start", 3));
%! b = spike_glm_simulate (fit, 20, struct ("seed", 7, "t_start", 3));
%! assert (isequal (a, b));
%! gaps = cellfun (@(s) min (diff (unique (round ((s - 3) / 1e-3 - 0.5)))), a);
%! assert (gaps(1) >= 6 && gaps(2) <= 5);
%! assert (abs (numel (a{2}) / 20000 - 0.2) < 0.01);
%! assert (all (a{2} > 3 & a{2} < 23));

%!error <log rate of neuron 2 passed 10>
%! warning ("off", "spike_glm:notConverged", "local");
%! warning ("off", "spike_glm:silentNeuron", "local");
%! warning ("off", "spike_glm:runaway", "local");
%! fit = spike_glm_fit ({[], []}, 1, struct ("history_taps", 5, ...
%!                      "basis", ones (5, 1), "max_iter", 1));
%! fit.filters(:, 1, 2) = 3;
%! fit.bias = [log(0.2); -2];
%! spike_glm_simulate (fit, 5, struct ("seed", 1));

%!test
%! ## Orientation: filters(:, j, i) is source j onto target i in the draws
%! ## and in the fit of the draws (neuron 1 excites neuron 2, not back).
%! warning ("off", "spike_glm:notConverged", "local");
%! warning ("off", "spike_glm:silentNeuron", "local");
%! warning ("off", "spike_glm:runaway", "local");
%! o = struct ("history_taps", 10, "basis", ones (10, 1), "penalty", "ridge", ...
%!             "alpha", 1e-6);
%! fit = spike_glm_fit ({[], []}, 1, setfield (o, "max_iter", 1));
%! fit.bias = log ([0.02; 0.005]);
%! fit.filters(:, 1, 2) = 1.5;
%! spikes = spike_glm_simulate (fit, 200, struct ("seed", 3));
%! again = spike_glm_fit (spikes, 200, o);
%! assert (again.converged, [true; true]);
%! assert (again.filters(1, 1, 2), 1.5, 0.15);
%! assert (abs (again.filters(1, 2, 1)) < 0.3);

%!function fit = constant_model (lambda, duration)
%!  ## A model without history or stimulus: expected counts LAMBDA per bin.
%!  warning ("off", "spike_glm:silentNeuron", "local");
%!  N = numel (lambda);
%!  fit = spike_glm_fit (cell (N, 1), duration, struct ("basis", 1, "coupling", false));
%!  fit.bias = log (lambda(:));
%!  fit.weights(1, :) = fit.bias';
%!endfunction

%!test
%! ## Each count is the Poisson quantile of its uniform (rand (T, N) after
%! ## the seed), from 1e-4 to 2e4 expected spikes per bin: the smallest k
%! ## with P(X <= k) >= u, P from gammainc. The k spikes of a bin lie at
%! ## t_start + (b + (j + 0.5) / k) * bin_size, distinct, and bin back to b
%! ## (t_start = 12345.678 s).
%! lambda = [1e-4, 0.3, 2.5, 99.5, 100.5, 150, 1e3, 2e4];
%! fit = constant_model (lambda, 0.1);
%! t_start = 12345.678;
%! spikes = spike_glm_simulate (fit, 0.1, struct ("seed", 5, "t_start", t_start));
%! [~, counts] = spike_glm_rate (fit, spikes, 0.1, struct ("t_start", t_start));
%! rng (5, "twister");
%! u = rand (100, numel (lambda));
%! for i = 1:numel (lambda)
%!   k = (max (0, floor (lambda(i) - 12 * sqrt (lambda(i)) - 10)):ceil (lambda(i) + 12 * sqrt (lambda(i)) + 10))';
%!   F = gammainc (lambda(i), k + 1, "upper");
%!   expected = arrayfun (@(v) k(find (F >= v, 1)), u(:, i));
%!   assert (counts(:, i), expected);
%!   b = repelem ((0:99)', counts(:, i));
%!   j = (0:numel (b) - 1)' - repelem (cumsum (counts(:, i)) - counts(:, i), counts(:, i));
%!   place = t_start + (b + (j + 0.5) ./ repelem (counts(:, i), counts(:, i))) * 1e-3;
%!   assert (spikes{i}, place, 1e-9);
%!   assert (all (diff (spikes{i}) > 0));
%! endfor

%!test
%! ## Mean and variance of the counts at rates from 1e-4 to 2e4 per bin,
%! ## within 5 standard errors (fixed seeds: the same draws at every run);
%! ## 200 neurons at 1e-4 pool their counts.
%! cases = {repmat(1e-4, 1, 200), 5000; [0.02, 0.2], 2e4; [1, 30, 100, 300], 400; 2e4, 100};
%! for c = 1:rows (cases)
%!   [lambda, T] = cases{c, :};
%!   fit = constant_model (lambda, T * 1e-3);
%!   spikes = spike_glm_simulate (fit, T * 1e-3, struct ("seed", c));
%!   [~, counts] = spike_glm_rate (fit, spikes, T * 1e-3);
%!   for v = unique (lambda)
%!     x = counts(:, lambda == v)(:);
%!     se_mean = sqrt (v / numel (x));
%!     se_var = sqrt ((v + 2 * v ^ 2) / numel (x));
%!     assert (abs (mean (x) - v) < 5 * se_mean, "rate %g: mean %g", v, mean (x));
%!     assert (abs (var (x) - v) < 5 * se_var, "rate %g: variance %g", v, var (x));
%!   endfor
%! endfor

%!test
%! ## Refusals carry identifiers and come before the generator is seeded:
%! ## a refused call leaves rand's state as it was.
%! fit = constant_model ([0.1; 0.2], 0.1);
%! cases = {
%!   fit, 1, struct("seed", -1), "seed", "opts.seed must be [] or a whole number in [0, 2^32)"
%!   fit, 1, struct("seed", 1, "stimulus", ones(100, 1)), "stimulus", "opts.stimulus has 1 channels, the fit 0"
%!   rmfield(fit, "filters"), 1, struct("seed", 1), "fit", "fit must be a struct from spike_glm_fit"
%!   fit, 1, struct("seed", 1, "bins", []), "unknownOption", "unknown option opts.bins"
%!   fit, 0, struct("seed", 1), "duration", "duration must be a positive finite number"
%! };
%! for c = 1:rows (cases)
%!   [f, duration, o, id, expected] = cases{c, :};
%!   rand ("twister", 99);
%!   try
%!     spike_glm_simulate (f, duration, o);
%!     error ("no error for case %d", c);
%!   catch err
%!     assert (strncmp (err.message, ["spike_glm_simulate: " expected], 20 + numel (expected)), ...
%!             "case %d: %s", c, err.message);
%!     assert (strcmp (err.identifier, ["spike_glm:" id]), "case %d: %s", c, err.identifier);
%!   end_try_catch
%!   after = rand ();
%!   rand ("twister", 99);
%!   assert (after == rand (), "case %d: the generator moved", c);
%! endfor
%! ## The same seed gives the same trains whatever the state before.
%! rand ("twister", 1);
%! a = spike_glm_simulate (fit, 1, struct ("seed", 4));
%! b = spike_glm_simulate (fit, 1, struct ("seed", 4));
%! assert (isequal (a, b));
