function g = glm_drive_grad(model, data, resid, i)
%GLM_DRIVE_GRAD The adjoint of GLM_DRIVE: for a residual RESID (T x 1),
%   the gradient sum_t resid(t) * d eta(t) / d theta (P x 1), from
%   tentfill2_adjoint and trainfold_adjoint; no design matrix.
src = glm_sources(model, data.N, i);
g = zeros(1 + model.nstim + numel(src) * model.nb, 1);
g(1) = sum(resid);
if model.nstim > 0
  g(2:1 + model.nstim) = model.X' * tentfill2_adjoint(resid, model.m);
end
at = 1 + model.nstim;
for k = 1:numel(src)
  j = src(k);
  if data.nspikes(j) > 0
    taps = trainfold_adjoint(data.shifted{j}, resid, [0, data.T - 1], model.H);
    g(at + (k - 1) * model.nb + (1:model.nb)) = model.basis' * taps;
  end
end
end
