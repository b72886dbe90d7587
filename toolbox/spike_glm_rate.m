function rate = spike_glm_rate(fit, spike_times, duration, opts)
%SPIKE_GLM_RATE Expected spike counts per bin of a fitted population GLM.
%   RATE = SPIKE_GLM_RATE(FIT, SPIKE_TIMES, DURATION, OPTS) returns the
%   T x N matrix mu_i(t) = exp(eta_i(t)) of the model in FIT (from
%   SPIKE_GLM_FIT) on the recording SPIKE_TIMES (cell array of N spike-time
%   vectors in seconds, whose history drives the model) of DURATION
%   seconds: T = floor(DURATION / fit.opts.bin_size + 1e-6) bins. The
%   spike times are checked and binned as by SPIKE_GLM_FIT.
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
end
