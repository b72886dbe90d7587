function [f, g] = glm_objective(theta, model, data, i, fitset, ridge)
%GLM_OBJECTIVE The smooth part of neuron I's objective and its gradient:
%   sum over the fit bins of [mu - y * eta] / n_F + (RIDGE / 2) *
%   ||theta(2:end)||^2, mu = exp(eta), eta as GLM_DRIVE computes it.
%   FITSET: n (n_F), mask (T x 1 logical, or [] for every bin), rows and
%   counts (neuron I's spikes in the fit bins, rows ascending). A
%   non-finite value (the rate overflowed) comes back as Inf, for the line
%   search to step back.
%
%   The history drive is the only T x 1 array: bias, stimulus drive, exp,
%   the sums and the residual (which overwrites it for the adjoint) are
%   done in blocks of about 64 Ki rows that stay in cache, each a whole
%   number of stimulus periods.
T = data.T;
b = theta(1);
nstim = model.nstim;
rows = fitset.rows;
counts = fitset.counts;
mask = fitset.mask;
R = 65536;
if nstim > 0
  m = model.m;
  R = m * ceil(R / m);
  u = model.X * theta(2:1 + nstim);
  M = numel(u);
end
nblocks = ceil(T / R);
per = accumarray(floor((rows - 1) / R) + 1, 1, [nblocks, 1]);
upto = cumsum(per);
resid = nargout > 1;

eta = glm_history(model, data, theta, i);
total = 0;
yeta = 0;
rtotal = 0;
for k = 1:nblocks
  lo = (k - 1) * R + 1;
  hi = min(k * R, T);
  e = eta(lo:hi) + b;
  if nstim > 0
    % Rows lo..hi of tentfill2(u, m) from the samples around them (one of
    % margin on each side): the same bits as the whole call.
    s0 = max(0, floor((lo - 1) / m) - 1);
    s1 = min(M, floor((hi - 1) / m) + 2);
    s = tentfill2(u(s0 + 1:s1), m);
    e = e + s(lo - s0 * m:hi - s0 * m);
  end
  at = upto(k) - per(k) + 1:upto(k);
  r = rows(at) - (lo - 1);
  yeta = yeta + sum(counts(at) .* e(r));
  e = exp(e);
  if ~isempty(mask)
    e(~mask(lo:hi)) = 0;
  end
  total = total + sum(e);
  if resid
    e(r) = e(r) - counts(at);
    rtotal = rtotal + sum(e);
    eta(lo:hi) = e;
  end
end
w = theta(2:end);
f = (total - yeta) / fitset.n + (ridge / 2) * (w' * w);
if ~isfinite(f)
  f = Inf;
  g = NaN(size(theta));
  return;
end
if resid
  % eta now holds the residual mu - y; the 1 / n_F scaling goes on the
  % P x 1 gradient.
  g = glm_drive_grad(model, data, eta, i, rtotal) / fitset.n;
  g(2:end) = g(2:end) + ridge * w;
end
end
