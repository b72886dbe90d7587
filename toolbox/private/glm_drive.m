function eta = glm_drive(model, data, theta, i)
%GLM_DRIVE Log rate (T x 1) of neuron I with parameter vector THETA:
%   bias + tentfill2(X * K, m) + sum over sources j of
%   trainfold_mex(bins_j + 1, basis * w_j, [0, T-1]).
T = data.T;
eta = theta(1) * ones(T, 1);
if model.nstim > 0
  eta = eta + tentfill2(model.X * theta(2:1 + model.nstim), model.m);
end
src = glm_sources(model, data.N, i);
at = 1 + model.nstim;
for k = 1:numel(src)
  w = theta(at + (k - 1) * model.nb + (1:model.nb));
  j = src(k);
  if any(w) && data.nspikes(j) > 0
    eta = eta + trainfold_mex(data.shifted{j}, model.basis * w, [0, T - 1]);
  end
end
end
