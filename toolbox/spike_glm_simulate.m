function spike_times = spike_glm_simulate(fit, duration, opts)
%SPIKE_GLM_SIMULATE Draw spike trains from a fitted population GLM.
%   SPIKE_TIMES = SPIKE_GLM_SIMULATE(FIT, DURATION, OPTS) runs the model of
%   FIT (from SPIKE_GLM_FIT, or a struct with the same fields bias,
%   weights, filters, stimulus_filters, basis and opts) forward over T =
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
%   lambda) with F = P(X <= k) = gammainc(lambda, k + 1, 'upper') and
%   stepping down or up through the probabilities.
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
                                'spike_glm_simulate');
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
    for i = find(fired(row, :))
      count = poisson_draw(u(t, i), exp(eta(row, i)));
      if count == 0
        continue;   % rounding: u at P(X = 0) itself
      end
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
  bins = repelem(events(mine, 1), counts);
  k = repelem(counts, counts);
  j = (0:numel(bins) - 1)' - repelem(cumsum(counts) - counts, counts);
  spike_times{i} = t_start + (bins(:) + (j(:) + 0.5) ./ k(:)) * bin_size;
end
end

function k = poisson_draw(u, lambda)
% The Poisson(LAMBDA) count of the uniform U: the smallest k with
% P(X <= k) >= u, found from the mode.
k = floor(lambda);
F = gammainc(lambda, k + 1, 'upper');
if k == 0
  p = exp(-lambda);
else
  p = exp(k * log(lambda) - lambda - gammaln(k + 1));
end
if u <= F
  while k > 0 && u <= F - p
    F = F - p;
    p = p * k / lambda;
    k = k - 1;
  end
else
  while u > F && p > 0
    k = k + 1;
    p = p * lambda / k;
    F = F + p;
  end
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
