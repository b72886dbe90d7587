function eta = glm_history(model, data, theta, i)
%GLM_HISTORY History drive (T x 1) of neuron I with parameter vector THETA:
%   the filters of all its sources from one trainfold_pop call over the
%   merged spikes of the recording (with coupling; trainfold_mex over
%   neuron I's own spikes without): sum over sources j of the filter basis
%   * w_j placed at bins_j + 1, window [0, T-1]. Zeros when every history
%   weight is zero.
T = data.T;
nb = model.nb;
w = theta(2 + model.nstim:end);
if ~any(w)
  eta = zeros(T, 1);
elseif model.coupling
  eta = trainfold_pop(data.merged, data.ids, model.basis * reshape(w, nb, data.N), ...
                      [0, T - 1], data.N);
else
  eta = trainfold_mex(data.shifted{i}, model.basis * w, [0, T - 1]);
end
end
