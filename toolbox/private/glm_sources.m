function src = glm_sources(model, N, i)
%GLM_SOURCES The source neurons of neuron I, ascending: all N with
%   coupling, else I alone. Their weights follow the bias and the stimulus
%   filter in the parameter vector, model.nb each.
if model.coupling
  src = 1:N;
else
  src = i;
end
end
