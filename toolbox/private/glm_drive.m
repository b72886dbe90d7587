function eta = glm_drive(model, data, theta, i)
%GLM_DRIVE Log rate (T x 1) of neuron I with parameter vector THETA:
%   bias + tentfill2(X * K, m) + the history drive of all its sources from
%   one trainfold_pop call over the merged spikes of the recording (with
%   coupling; trainfold_mex over neuron I's own spikes without):
%   sum over sources j of the filter basis * w_j placed at bins_j + 1,
%   window [0, T-1].
T = data.T;
nb = model.nb;
at = 1 + model.nstim;
w = theta(at + 1:end);
if ~any(w)
  eta = repmat(theta(1), T, 1);
else
  if model.coupling
    eta = trainfold_pop(data.merged, data.ids, model.basis * reshape(w, nb, data.N), ...
                        [0, T - 1], data.N);
  else
    eta = trainfold_mex(data.shifted{i}, model.basis * w, [0, T - 1]);
  end
  eta = eta + theta(1);
end
if model.nstim > 0
  eta = eta + tentfill2(model.X * theta(2:at), model.m);
end
end
