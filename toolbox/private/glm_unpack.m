function fit = glm_unpack(W, model, N)
%GLM_UNPACK bias (N x 1), filters (H x N sources x N targets) and
%   stimulus_filters (L x C x N) from the parameter vectors W (P x N).
fit.bias = W(1, :)';
fit.filters = zeros(model.H, N, N);
fit.stimulus_filters = zeros(model.L, model.C, N);
for i = 1:N
  fit.stimulus_filters(:, :, i) = reshape(W(2:1 + model.nstim, i), model.L, model.C);
  src = glm_sources(model, N, i);
  for k = 1:numel(src)
    w = W(1 + model.nstim + (k - 1) * model.nb + (1:model.nb), i);
    fit.filters(:, src(k), i) = model.basis * w;
  end
end
end
