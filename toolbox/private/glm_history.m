function eta = glm_history(model, data, theta, i)
%GLM_HISTORY History drive (T x 1) of neuron I with parameter vector THETA:
%   the sum over its sources j of the filters basis * w_j placed at the
%   bins of j's spikes + 1 (window [0, T-1]); the log rate of GLM_DRIVE
%   with the bias and the stimulus filter set to 0, computed by it.
theta = theta(:);
theta(1:1 + model.nstim) = 0;
eta = glm_drive(model, data, theta, i);
end
