function [f, g] = glm_objective(theta, model, data, i, fitset, ridge)
%GLM_OBJECTIVE The smooth part of neuron I's objective and its gradient:
%   sum over the fit bins of [mu - y * eta] / n_F + (RIDGE / 2) *
%   ||theta(2:end)||^2, mu = exp(eta), eta as GLM_DRIVE computes it.
%   DATA carries the blocks of GLM_BLOCKS. FITSET: n (n_F), mask (T x 1 logical, or [] for every bin), rows and
%   counts (neuron I's spikes in the fit bins, rows ascending). A
%   non-finite value (the rate overflowed) comes back as Inf, for the line
%   search to step back.
%
%   No T x 1 array: the bins go in blocks of about 64 Ki rows (a whole
%   number of stimulus periods) that stay in cache. Each block's history
%   drive comes from the spikes that reach it (the same bits as those rows
%   of the whole call), then bias, stimulus drive, exp, the sums and the
%   residual; the gradient adds up the adjoints of the blocks.
T = data.T;
b = theta(1);
nstim = model.nstim;
nb = model.nb;
H = model.H;
rows = fitset.rows;
counts = fitset.counts;
mask = fitset.mask;
R = data.R;
if nstim > 0
  m = model.m;
  u = model.X * theta(2:1 + nstim);
  M = numel(u);
  gu = zeros(M, 1);
end
nblocks = ceil(T / R);
per = accumarray(floor((rows - 1) / R) + 1, 1, [nblocks, 1]);
upto = cumsum(per);
grad = nargout > 1;

w = theta(2 + nstim:end);
history = any(w);
if model.coupling
  spikes = data.merged;
  ids = data.ids;
  taps = model.basis * reshape(w, nb, data.N);
  first = data.first;
  last = data.last;
else
  spikes = data.shifted{i};
  taps = model.basis * w;
  first = data.first{i};
  last = data.last{i};
end
gtaps = zeros(H, size(taps, 2));

total = 0;
yeta = 0;
rtotal = 0;
for k = 1:nblocks
  lo = (k - 1) * R + 1;
  hi = min(k * R, T);
  twin = [lo - 1, hi - 1];
  s = first(k):last(k);
  if ~history
    e = zeros(hi - lo + 1, 1);
  elseif model.coupling
    e = trainfold_pop(spikes(s), ids(s), taps, twin, data.N);
  else
    e = trainfold_mex(spikes(s), taps, twin);
  end
  e = e + b;
  if nstim > 0
    % Rows lo..hi of tentfill2(u, m) from the samples around them (one of
    % margin on each side): the same bits as the whole call.
    s0 = max(0, floor((lo - 1) / m) - 1);
    s1 = min(M, floor((hi - 1) / m) + 2);
    z = tentfill2(u(s0 + 1:s1), m);
    e = e + z(lo - s0 * m:hi - s0 * m);
  end
  at = upto(k) - per(k) + 1:upto(k);
  r = rows(at) - (lo - 1);
  yeta = yeta + sum(counts(at) .* e(r));
  e = exp(e);
  if ~isempty(mask)
    e(~mask(lo:hi)) = 0;
  end
  total = total + sum(e);
  if grad
    % e becomes the residual mu - y of the block.
    e(r) = e(r) - counts(at);
    rtotal = rtotal + sum(e);
    if model.coupling
      gtaps = gtaps + trainfold_pop_adjoint(spikes(s), ids(s), e, twin, H, data.N);
    else
      gtaps = gtaps + trainfold_adjoint(spikes(s), e, twin, H);
    end
    if nstim > 0
      z(:) = 0;
      z(lo - s0 * m:hi - s0 * m) = e;
      gu(s0 + 1:s1) = gu(s0 + 1:s1) + tentfill2_adjoint(z, m);
    end
  end
end
w = theta(2:end);
f = (total - yeta) / fitset.n + (ridge / 2) * (w' * w);
if ~isfinite(f)
  f = Inf;
  g = NaN(size(theta));
  return;
end
if grad
  % The 1 / n_F scaling goes on the P x 1 gradient.
  g = [rtotal; zeros(nstim, 1); reshape(model.basis' * gtaps, [], 1)];
  if nstim > 0
    g(2:1 + nstim) = model.X' * gu;
  end
  g = g / fitset.n;
  g(2:end) = g(2:end) + ridge * w;
end
end
