function g = glm_drive_grad(model, data, resid, i, total)
%GLM_DRIVE_GRAD The adjoint of GLM_DRIVE: for a residual RESID (T x 1),
%   the gradient sum_t resid(t) * d eta(t) / d theta (P x 1), from
%   tentfill2_adjoint and one trainfold_pop_adjoint call for the taps of
%   every source (trainfold_adjoint without coupling), projected on the
%   basis; no design matrix. TOTAL, if given, is sum(RESID), summed by
%   the caller.
nb = model.nb;
at = 1 + model.nstim;
if model.coupling
  taps = trainfold_pop_adjoint(data.merged, data.ids, resid, [0, data.T - 1], ...
                               model.H, data.N);
else
  taps = trainfold_adjoint(data.shifted{i}, resid, [0, data.T - 1], model.H);
end
g = zeros(at + size(taps, 2) * nb, 1);
if nargin > 4
  g(1) = total;
else
  g(1) = sum(resid);
end
if model.nstim > 0
  g(2:at) = model.X' * tentfill2_adjoint(resid, model.m);
end
g(at + 1:end) = reshape(model.basis' * taps, [], 1);
end
