function [f, g] = glm_objective(theta, model, data, i, fitset, ridge)
%GLM_OBJECTIVE The smooth part of neuron I's objective and its gradient:
%   sum over the fit bins of [mu - y * eta] / n_F + (RIDGE / 2) *
%   ||theta(2:end)||^2, mu = exp(eta), eta from GLM_DRIVE. FITSET (from
%   GLM_FITSET): n (n_F), nspikes (neuron I's spikes in the fit bins), and
%   per block k of GLM_BLOCKS rows{k} (the block's rows with spikes,
%   ascending), counts{k} (their spikes) and off{k} (the rows outside the
%   fit bins), rows counted from the block's first margin row. A
%   non-finite value (the rate overflowed) comes back as Inf with a NaN
%   gradient, for the line search to step back.
%
%   No T x 1 array: the bins go block by block (about 64 Ki rows, arrays
%   that the allocator hands out again block after block, where T x 1
%   ones came from fresh pages each time). Each block's log rate comes
%   from GLM_DRIVE (the first call computes what the blocks share, part.pre,
%   for the others), then exp, the sums and the residual; the gradient
%   adds up the adjoints of the blocks (trainfold_pop_adjoint or
%   trainfold_adjoint, tentfill2_adjoint). Everything the loop indexes
%   with is found once (GLM_BLOCKS, GLM_FITSET): an evaluation's M code
%   costs little next to its passes over the rows.
nstim = model.nstim;
H = model.H;
N = data.N;
coupling = model.coupling;
grad = nargout > 1;
if nstim > 0
  m = model.m;
  gu = zeros(size(model.X, 1), 1);
  s0 = data.block_s0;
  s1 = data.block_s1;
end
if coupling
  gtaps = zeros(H, N);
  spikes = data.block_spikes;
  ids = data.block_ids;
else
  gtaps = zeros(H, 1);
  spikes = data.block_spikes(i, :);
end
first = data.block_first;
last = data.block_last;

total = 0;
yeta = 0;
pre = [];
for k = 1:data.nblocks
  % The block with its margins: zero there (and outside the fit bins)
  % after exp, they add nothing to the sums and the adjoints.
  if k == 1
    [e, part] = glm_drive(model, data, theta, i, 1, pre, true);
    pre = part.pre;
  else
    e = glm_drive(model, data, theta, i, k, pre, true);
  end
  r = fitset.rows{k};
  y = fitset.counts{k};
  yeta = yeta + sum(y .* e(r));
  e = rate_exp(e);
  e(fitset.off{k}) = 0;
  total = total + sum(e);
  if grad
    % e becomes the residual mu - y of the block.
    e(r) = e(r) - y;
    twin = [first(k) - 1, last(k) - 1];
    if coupling
      gtaps = gtaps + trainfold_pop_adjoint(spikes{k}, ids{k}, e, twin, H, N);
    else
      gtaps = gtaps + trainfold_adjoint(spikes{k}, e, twin, H);
    end
    if nstim > 0
      % The rows are those of tentfill2 of samples s0+1..s1.
      at = s0(k) + 1:s1(k);
      gu(at) = gu(at) + tentfill2_adjoint(e, m);
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
  % The bias's gradient: the sum of the residual, total - the spike count.
  g = [total - fitset.nspikes; zeros(nstim, 1); reshape(model.basis' * gtaps, [], 1)];
  if nstim > 0
    g(2:1 + nstim) = model.X' * gu;
  end
  g = g / fitset.n;
  g(2:end) = g(2:end) + ridge * w;
end
end
