function gram = glm_gram(model, data, mask, nF)
%GLM_GRAM The parts of X'X over the fit bins (X: the design the operators
%   stand for) that every neuron's start Hessian shares: exact for the
%   constant and stimulus columns (tentfill2 and its adjoint, column by
%   column), and for the spike columns the counts n (N x 1, spikes in the
%   fit bins), the basis Gram BB and column sums s.
gram.nF = nF;
ns = model.nstim;
gram.stim = zeros(ns);
gram.sums = zeros(ns, 1);
for k = 1:ns
  column = tentfill2(model.X(:, k), model.m);
  if ~isempty(mask)
    column(~mask) = 0;
  end
  gram.sums(k) = sum(column);
  gram.stim(:, k) = model.X' * tentfill2_adjoint(column, model.m);
end
gram.stim = (gram.stim + gram.stim') / 2;
gram.n = zeros(data.N, 1);
for j = 1:data.N
  if isempty(mask)
    gram.n(j) = data.nspikes(j);
  else
    gram.n(j) = sum(data.counts{j}(mask(data.rows{j})));
  end
end
gram.BB = model.basis' * model.basis;
gram.s = sum(model.basis, 1)';
end
