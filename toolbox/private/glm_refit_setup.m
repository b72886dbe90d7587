function [data, model, so] = glm_refit_setup(fit, spike_times, duration, opts, defaults, caller, mask_name, needs)
%GLM_REFIT_SETUP Binned inputs for a fitted model: the options of FIT with
%   the stimulus and t_start of OPTS (and the other fields of DEFAULTS,
%   returned in SO); the number of neurons and the stimulus channels must
%   match the fit. MASK_NAME (optional, '' for none): the field of SO that
%   holds a mask of the bins (checked and returned by GLM_SETUP in
%   data.mask). FIT needs the fields bias, basis, opts and
%   stimulus_filters, and NEEDS (the field the caller reads the model
%   from: 'weights', the default, or 'filters').
if nargin < 7
  mask_name = '';
end
if nargin < 8
  needs = 'weights';
end
so = glm_options(opts, defaults, caller);
fields = {'bias', 'basis', 'opts', 'stimulus_filters', needs};
if ~isstruct(fit) || numel(fit) ~= 1 || ~all(isfield(fit, fields))
  error('spike_glm:fit', '%s: fit must be a struct from spike_glm_fit (fields %s)', ...
        caller, strjoin(fields, ', '));
end
N = numel(fit.bias);
C = size(fit.stimulus_filters, 2);
if C > 0 && isempty(so.stimulus)
  error('spike_glm:stimulus', '%s: the fit has a stimulus filter: opts.stimulus is needed', caller);
end
if ~isempty(so.stimulus) && size(so.stimulus, 2) ~= C
  error('spike_glm:stimulus', '%s: opts.stimulus has %d channels, the fit %d', ...
        caller, size(so.stimulus, 2), C);
end
if iscell(spike_times) && numel(spike_times) ~= N
  error('spike_glm:spikeTimes', '%s: spike_times holds %d neurons, the fit %d', ...
        caller, numel(spike_times), N);
end
o = fit.opts;
o.stimulus = so.stimulus;
o.t_start = so.t_start;
o.basis = fit.basis;
mask = [];
if ~isempty(mask_name)
  mask = so.(mask_name);
end
[data, model] = glm_setup(spike_times, duration, o, caller, mask, mask_name, false);
end
