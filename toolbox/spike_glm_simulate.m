function spike_times = spike_glm_simulate(fit, duration, opts)
%SPIKE_GLM_SIMULATE Draw spike trains from a fitted population GLM.
%   SPIKE_TIMES = SPIKE_GLM_SIMULATE(FIT, DURATION, OPTS) runs the model of
%   FIT (from SPIKE_GLM_FIT, or a struct with the same fields bias,
%   filters, stimulus_filters, basis and opts) forward over T =
%   floor(DURATION / bin_size + 1e-6) bins: in each bin t every neuron i
%   draws a Poisson count with mean exp(eta_i(t)), and the counts drawn
%   feed every neuron's history from bin t + 1 on (filters(:, j, i) is
%   the filter of source j onto target i). Returns an N x 1 cell array of
%   spike-time columns in seconds, each spike at the centre of its bin
%   (t_start + (t + 0.5) * bin_size), listed once per count.
%
%   Options (fields of OPTS):
%     stimulus  M x C stimulus at fit.opts.stimulus_rate (needed when the
%               fit had one; M * m must equal T)
%     t_start   time of bin 0 (s), default 0
%     seed      seeds rand and randn ('state') first; [] (default) keeps
%               the generators' state
%
%   Runaway guard: the simulation stops with the error
%   'spike_glm:runaway' as soon as a log rate passes 10 (about 22000
%   expected spikes per bin), which only an unstable excitatory loop of
%   the filters reaches. Counts with a mean above 100 are drawn from the
%   normal approximation (rounded, at least 1).
%
%   Example:
%     fit = spike_glm_fit(spikes, 600, struct('penalty', 'ridge', 'alpha', 1e-4));
%     again = spike_glm_simulate(fit, 600, struct('seed', 1));
%
%   See also SPIKE_GLM_FIT, SPIKE_GLM_RATE.

if nargin < 3
  opts = [];
end
defaults = struct('stimulus', [], 't_start', 0, 'seed', []);
so = glm_options(opts, defaults, 'spike_glm_simulate');
o = fit.opts;
o.stimulus = so.stimulus;
o.t_start = so.t_start;
o.basis = fit.basis;
N = numel(fit.bias);
[data, model] = glm_setup(cell(N, 1), duration, o, 'spike_glm_simulate');
if size(fit.stimulus_filters, 2) > 0 && model.nstim == 0
  error('spike_glm_simulate: the fit has a stimulus filter: opts.stimulus is needed');
end
if model.nstim > 0 && size(fit.stimulus_filters, 2) ~= model.C
  error('spike_glm_simulate: opts.stimulus has %d channels, the fit %d', ...
        model.C, size(fit.stimulus_filters, 2));
end
if ~isempty(so.seed)
  rand('state', so.seed);
  randn('state', so.seed);
end
T = data.T;
H = model.H;
ceiling = 10;
bias = fit.bias(:)';
if model.nstim > 0
  coarse = model.X * reshape(fit.stimulus_filters, model.nstim, N);
end
block = 65536;
look = 16;
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
  % with a spike to the next.
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
      lambda = exp(eta(row, i));
      if lambda > 100
        count = max(1, round(lambda + sqrt(lambda) * randn()));
      else
        term = exp(-lambda); cdf = term; count = 0;
        while u(t, i) > cdf && term > 0
          count = count + 1;
          term = term * lambda / count;
          cdf = cdf + term;
        end
        count = max(count, 1);
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
for i = 1:N
  mine = events(:, 2) == i;
  bins = repelem(events(mine, 1), events(mine, 3));
  spike_times{i} = o.t_start + (bins(:) + 0.5) * o.bin_size;
end
end

% Tests (run with "test spike_glm_simulate").

%!test
%! warning ("off", "spike_glm:notConverged", "local");
%! warning ("off", "spike_glm:silentNeuron", "local");
%! ## A refractory self-filter of 5 taps: no two spikes of a neuron closer
%! ## than 6 bins, while the other neuron (no history) has such pairs; the
%! ## same seed gives the same trains; the mean count follows the bias.
%! fit = spike_glm_fit ({[], []}, 1, struct ("history_taps", 5, ...
%!                      "basis", ones (5, 1), "coupling", false, "max_iter", 0));
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
%! fit = spike_glm_fit ({[], []}, 1, struct ("history_taps", 5, ...
%!                      "basis", ones (5, 1), "max_iter", 0));
%! fit.filters(:, 1, 2) = 3;
%! fit.bias = [log(0.2); -2];
%! spike_glm_simulate (fit, 5, struct ("seed", 1));

%!test
%! ## Orientation: filters(:, j, i) is source j onto target i in the draws
%! ## and in the fit of the draws (neuron 1 excites neuron 2, not back).
%! warning ("off", "spike_glm:notConverged", "local");
%! warning ("off", "spike_glm:silentNeuron", "local");
%! o = struct ("history_taps", 10, "basis", ones (10, 1), "penalty", "ridge", ...
%!             "alpha", 1e-6);
%! fit = spike_glm_fit ({[], []}, 1, setfield (o, "max_iter", 0));
%! fit.bias = log ([0.02; 0.005]);
%! fit.filters(:, 1, 2) = 1.5;
%! spikes = spike_glm_simulate (fit, 200, struct ("seed", 3));
%! again = spike_glm_fit (spikes, 200, o);
%! assert (again.converged, [true; true]);
%! assert (again.filters(1, 1, 2), 1.5, 0.15);
%! assert (abs (again.filters(1, 2, 1)) < 0.3);
