function [f, g] = glm_objective(theta, model, data, i, fitset, ridge)
%GLM_OBJECTIVE The smooth part of neuron I's objective and its gradient:
%   sum over the fit bins of [mu - y * eta] / n_F + (RIDGE / 2) *
%   ||theta(2:end)||^2, mu = exp(eta). FITSET: n (n_F), mask (T x 1
%   logical, or [] for every bin), rows and counts (neuron I's spikes in
%   the fit bins). A non-finite value (the rate overflowed) comes back as
%   Inf, for the line search to step back.
eta = glm_drive(model, data, theta, i);
mu = exp(eta);
if ~isempty(fitset.mask)
  mu(~fitset.mask) = 0;
end
f = (sum(mu) - sum(fitset.counts .* eta(fitset.rows))) / fitset.n;
w = theta(2:end);
f = f + (ridge / 2) * (w' * w);
if ~isfinite(f)
  f = Inf;
  g = NaN(size(theta));
  return;
end
if nargout > 1
  % The residual overwrites mu (one reference: no T x 1 copy); the 1 / n_F
  % scaling goes on the P x 1 gradient instead.
  clear eta;
  mu(fitset.rows) = mu(fitset.rows) - fitset.counts;
  g = glm_drive_grad(model, data, mu, i) / fitset.n;
  g(2:end) = g(2:end) + ridge * w;
end
end
