function opts = glm_options(given, defaults, caller)
%GLM_OPTIONS Options struct GIVEN merged over DEFAULTS; a field of GIVEN
%   that DEFAULTS lacks is an error naming it (CALLER prefixes messages).
%   GIVEN may be [] or a struct with one element.
opts = defaults;
if isempty(given)
  return;
end
if ~isstruct(given) || numel(given) ~= 1
  error('spike_glm:opts', '%s: opts must be a struct (one element) of options', caller);
end
names = fieldnames(given);
for k = 1:numel(names)
  if ~isfield(defaults, names{k})
    error('spike_glm:unknownOption', '%s: unknown option opts.%s (valid: %s)', caller, names{k}, ...
          strjoin(fieldnames(defaults)', ', '));
  end
  opts.(names{k}) = given.(names{k});
end
end
