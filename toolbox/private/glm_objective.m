function [f, g] = glm_objective(theta, model, data, i, fitset, ridge)
%GLM_OBJECTIVE The smooth part of neuron I's objective and its gradient:
%   sum over the fit bins of [mu - y * eta] / n_F + (RIDGE / 2) *
%   ||theta(2:end)||^2, mu = exp(eta), eta from GLM_DRIVE. FITSET: n
%   (n_F), mask (T x 1 logical, or [] for every bin), rows and counts
%   (neuron I's spikes in the fit bins, rows ascending). A non-finite
%   value (the rate overflowed) comes back as Inf with a NaN gradient, for
%   the line search to step back.
%
%   No T x 1 array: the bins go block by block (GLM_BLOCKS: about 64 Ki
%   rows, arrays that the allocator hands out again block after block,
%   where T x 1 ones came from fresh pages each time). Each block's log
%   rate comes from GLM_DRIVE (the first call computes what the blocks
%   share, part.pre, for the others), then exp, the sums and the residual;
%   the gradient adds up the adjoints of the blocks (trainfold_pop_adjoint
%   or trainfold_adjoint, tentfill2_adjoint).
T = data.T;
nstim = model.nstim;
H = model.H;
rows = fitset.rows;
counts = fitset.counts;
mask = fitset.mask;
R = data.R;
if nstim > 0
  m = model.m;
  gu = zeros(size(model.X, 1), 1);
end
nblocks = ceil(T / R);
per = accumarray(floor((rows - 1) / R) + 1, 1, [nblocks, 1]);
upto = cumsum(per);
grad = nargout > 1;
if model.coupling
  gtaps = zeros(H, data.N);
else
  gtaps = zeros(H, 1);
end

total = 0;
yeta = 0;
for k = 1:nblocks
  if k == 1
    [e, part] = glm_drive(model, data, theta, i, k);
    pre = part.pre;
  else
    [e, part] = glm_drive(model, data, theta, i, k, pre);
  end
  lo = part.lo;
  at = upto(k) - per(k) + 1:upto(k);
  r = rows(at) - (lo - 1);
  yeta = yeta + sum(counts(at) .* e(r));
  e = exp(e);
  if ~isempty(mask)
    e(~mask(lo:part.hi)) = 0;
  end
  total = total + sum(e);
  if grad
    % e becomes the residual mu - y of the block.
    e(r) = e(r) - counts(at);
    if model.coupling
      gtaps = gtaps + trainfold_pop_adjoint(part.spikes, part.ids, e, part.twin, H, data.N);
    else
      gtaps = gtaps + trainfold_adjoint(part.spikes, e, part.twin, H);
    end
    if nstim > 0
      % The residual on the block's rows of tentfill2 of samples s0+1..s1,
      % zero on the margins.
      z = [zeros(lo - 1 - part.s0 * m, 1); e; zeros(part.s1 * m - part.hi, 1)];
      gu(part.s0 + 1:part.s1) = gu(part.s0 + 1:part.s1) + tentfill2_adjoint(z, m);
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
  % The bias's gradient: the sum of the residual, total - sum(counts).
  g = [total - sum(counts); zeros(nstim, 1); reshape(model.basis' * gtaps, [], 1)];
  if nstim > 0
    g(2:1 + nstim) = model.X' * gu;
  end
  g = g / fitset.n;
  g(2:end) = g(2:end) + ridge * w;
end
end
