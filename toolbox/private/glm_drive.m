function eta = glm_drive(model, data, theta, i)
%GLM_DRIVE Log rate (T x 1) of neuron I with parameter vector THETA:
%   (history drive of GLM_HISTORY + bias) + tentfill2(X * K, m).
eta = glm_history(model, data, theta, i) + theta(1);
if model.nstim > 0
  eta = eta + tentfill2(model.X * theta(2:1 + model.nstim), model.m);
end
end
