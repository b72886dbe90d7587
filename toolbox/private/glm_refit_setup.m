function [data, model, so] = glm_refit_setup(fit, spike_times, duration, opts, defaults, caller)
%GLM_REFIT_SETUP Binned inputs for a fitted model: the options of FIT with
%   the stimulus and t_start of OPTS (and the other fields of DEFAULTS,
%   returned in SO); the number of neurons and the stimulus channels must
%   match the fit.
so = glm_options(opts, defaults, caller);
o = fit.opts;
o.stimulus = so.stimulus;
o.t_start = so.t_start;
o.basis = fit.basis;
[data, model] = glm_setup(spike_times, duration, o, caller);
N = numel(fit.bias);
if data.N ~= N
  error('%s: spike_times holds %d neurons, the fit %d', caller, data.N, N);
end
C = size(fit.stimulus_filters, 2);
if C > 0 && model.nstim == 0
  error('%s: the fit has a stimulus filter: opts.stimulus is needed', caller);
end
if model.C ~= C
  error('%s: opts.stimulus has %d channels, the fit %d', caller, model.C, C);
end
end
