function [rate, counts] = spike_glm_rate(fit, spike_times, duration, opts)
%SPIKE_GLM_RATE Expected spike counts per bin of a fitted population GLM.
%   RATE = SPIKE_GLM_RATE(FIT, SPIKE_TIMES, DURATION, OPTS) returns the
%   T x N matrix mu_i(t) = exp(eta_i(t)) of the model in FIT (from
%   SPIKE_GLM_FIT) on the recording SPIKE_TIMES (cell array of N spike-time
%   vectors in seconds, whose history drives the model) of DURATION
%   seconds: T = floor(DURATION / fit.opts.bin_size + 1e-6) bins. The
%   spike times are checked and binned as by SPIKE_GLM_FIT (time s in bin
%   floor((s - t_start) / bin_size + 1e-6)).
%
%   [RATE, COUNTS] = SPIKE_GLM_RATE(...) also returns the T x N spike
%   counts per bin that the rates are compared with (SPIKE_GLM_SCORE):
%   residuals COUNTS - RATE, or a look at how the times were binned.
%
%   Options (fields of OPTS):
%     stimulus  M x C stimulus at fit.opts.stimulus_rate (needed when the
%               fit had one)
%     t_start   time of bin 0 (s), default 0
%
%   Example:
%     fit = spike_glm_fit(spikes, 600, struct('penalty', 'ridge', 'alpha', 1e-4));
%     mu = spike_glm_rate(fit, spikes, 600);
%     plot((0:999) * 1e-3, mu(1:1000, 1) / 1e-3)   % neuron 1, Hz
%
%   See also SPIKE_GLM_FIT, SPIKE_GLM_SCORE.

if nargin < 4
  opts = [];
end
[data, model] = glm_refit_setup(fit, spike_times, duration, opts, ...
    struct('stimulus', [], 't_start', 0), 'spike_glm_rate');
rate = zeros(data.T, data.N);
for i = 1:data.N
  rate(:, i) = exp(glm_drive(model, data, fit.weights(:, i), i));
end
if nargout > 1
  counts = zeros(data.T, data.N);
  for i = 1:data.N
    counts(data.rows{i}, i) = data.counts{i};
  end
end
end

% Tests (run with "test spike_glm_rate").

%!test
%! warning ("off", "spike_glm:notConverged", "local");
%! warning ("off", "spike_glm:silentNeuron", "local");
%! warning ("off", "spike_glm:runaway", "local");
%! ## The rate is exp of bias + stimulus + history drive, with the history of
%! ## the recording given: a spike in bin b acts from bin b + 1 on.
%! B = [1 0; 0 1; 1 1];
%! fit = spike_glm_fit ({[0.0105; 0.0304], [0.0201]}, 0.05, ...
%!                      struct ("basis", B, "max_iter", 1));
%! fit.weights = [-2 -3; 1 0; 2 0; 0 4; 0 8];   % [bias; w_1; w_2] per neuron
%! rate = spike_glm_rate (fit, {[0.0109; 0.0304], [0.0201]}, 0.05);
%! eta = [-2 * ones(50, 1), -3 * ones(50, 1)];
%! eta([12 32], 1) += 1; eta([13 33], 1) += 2; eta([14 34], 1) += 3;
%! eta(22, 2) += 4; eta(23, 2) += 8; eta(24, 2) += 12;
%! assert (rate, exp (eta), 1e-15);

%!test
%! warning ("off", "spike_glm:notConverged", "local");
%! warning ("off", "spike_glm:silentNeuron", "local");
%! warning ("off", "spike_glm:runaway", "local");
%! ## Stimulus drive: tentfill2 of the filter over the stimulus delayed by two
%! ## samples; refusals when the stimulus is missing or its channels differ.
%! S = [1 0; 0 0; 0 0; 2 0; 0 0; 0 0];
%! o = struct ("stimulus", S, "stimulus_rate", 100, "stimulus_lags", 2, ...
%!             "history_taps", 3, "n_basis", 1, "max_iter", 1);
%! fit = spike_glm_fit ({[0.01]}, 0.06, o);
%! fit.weights = [0; 0.5; 0.25; 9; 9; 0];   % channel 1 lags 0, 1; channel 2
%! rate = spike_glm_rate (fit, {[]}, 0.06, struct ("stimulus", S));
%! assert (log (rate), tentfill2 ([0; 0; 0.5; 0.25; 0; 1], 10), 1e-15);
%! try
%!   spike_glm_rate (fit, {[]}, 0.06);
%!   error ("no error");
%! catch err
%!   assert (err.message, "spike_glm_rate: the fit has a stimulus filter: opts.stimulus is needed");
%! end_try_catch

%!test
%! warning ("off", "spike_glm:silentNeuron", "local");
%! ## Binning against integer arithmetic: stamps k / clock on a sample clock
%! ## (30 kHz) or whole milliseconds, t_start = k0 / clock far from 0, the
%! ## spike of tick j in bin floor(j / ticks_per_bin), every bin edge and
%! ## the last tick of the recording among them; and edges computed as
%! ## t_start + b * bin_size, in bin b.
%! cases = {  % clock (Hz), k0 (ticks), ticks per bin, bin_size (s)
%!   1000,  1e6,       1,  1e-3
%!   1000,  12345678,  1,  1e-3
%!   1000,  12345678,  2,  2e-3
%!   30000, 3e7,       30, 1e-3
%!   30000, 370370340, 30, 1e-3
%!   30000, 370370340, 15, 5e-4
%! };
%! T = 3000;
%! for c = 1:rows (cases)
%!   [clock, k0, per, bin_size] = cases{c, :};
%!   t_start = k0 / clock;
%!   rand ("twister", c);
%!   j = unique ([per * (0:T-1)'; floor(rand (2000, 1) * T * per); T * per - 1]);
%!   o = struct ("bin_size", bin_size, "t_start", t_start);
%!   fit = spike_glm_fit ({[]}, T * bin_size, setfield (o, "basis", 1));
%!   [~, counts] = spike_glm_rate (fit, {(k0 + j) / clock}, T * bin_size, ...
%!                                 rmfield (o, "bin_size"));
%!   wrong = find (counts != accumarray (floor (j / per) + 1, 1, [T 1]));
%!   assert (isempty (wrong), "case %d: %d bins differ", c, numel (wrong));
%!   [~, counts] = spike_glm_rate (fit, {t_start + (0:T-1)' * bin_size}, ...
%!                                 T * bin_size, rmfield (o, "bin_size"));
%!   assert (all (counts == 1), "case %d, computed edges", c);
%! endfor
