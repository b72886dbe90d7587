function [f, g] = glm_batch_objective(thetas, model, data, targets, fitsets, ridge)
%GLM_BATCH_OBJECTIVE GLM_OBJECTIVE of K targets at once, with coupling.
%   [F, G] = GLM_BATCH_OBJECTIVE(THETAS, MODEL, DATA, TARGETS, FITSETS,
%   RIDGE): THETAS is P x K, column q the parameters of neuron TARGETS(q),
%   FITSETS{q} its GLM_FITSET; F (K x 1) and G (P x K) hold, for each
%   target, the bits of GLM_OBJECTIVE(THETAS(:, q), MODEL, DATA,
%   TARGETS(q), FITSETS{q}, RIDGE) (a value that is not finite: Inf, the
%   gradient NaN).
%
%   Every block of rows makes one pass over the merged spikes for all the
%   targets: TRAINFOLD_MULTI (the history drive, one row per target with
%   non-zero filters; a row is TRAINFOLD_POP of that target, bit for bit)
%   and TRAINFOLD_MULTI_ADJOINT (the history gradient of every target's
%   residual, a row of it TRAINFOLD_POP_ADJOINT of that residual). The rest
%   is GLM_OBJECTIVE's code, per target, on a column of the block: the same
%   operations on the same values in the same order. The targets-major
%   results of the modules (K x window) are transposed (which moves values
%   without arithmetic) so that each target's rows are a column.
K = numel(targets);
P = size(thetas, 1);
nstim = model.nstim;
H = model.H;
N = data.N;
grad = nargout > 1;
if nstim > 0
  m = model.m;
  gu = zeros(size(model.X, 1), K);
  s0 = data.block_s0;
  s1 = data.block_s1;
end
first = data.block_first;
last = data.block_last;

total = zeros(K, 1);
yeta = zeros(K, 1);
G = zeros(K, H * N);   % history gradient: row q is target q's taps x sources
pre = cell(K, 1);
z = cell(K, 1);
for k = 1:data.nblocks
  % The drive without the history, per target (the first block computes
  % what the blocks share), then the history of the targets with filters.
  for q = 1:K
    if k == 1
      [z{q}, part] = glm_drive(model, data, thetas(:, q), targets(q), 1, [], true, false);
      pre{q} = part.pre;
    else
      z{q} = glm_drive(model, data, thetas(:, q), targets(q), k, pre{q}, true, false);
    end
  end
  if k == 1
    history = cellfun(@(p) p.history, pre);
    row = cumsum(history);
    taps = zeros(row(end), H * N);
    for q = find(history)'
      taps(row(q), :) = pre{q}.taps(:)';
    end
  end
  twin = [first(k) - 1, last(k) - 1];
  rows = last(k) - first(k) + 1;
  if any(history)
    drive = trainfold_multi(data.block_spikes{k}, data.block_ids{k}, taps, twin, N).';
  end
  if grad
    resid = zeros(rows, K);
  end
  for q = 1:K
    fitset = fitsets{q};
    if history(q)
      e = drive(:, row(q)) + z{q};
    else
      e = zeros(rows, 1) + z{q};
    end
    r = fitset.rows{k};
    y = fitset.counts{k};
    yeta(q) = yeta(q) + sum(y .* e(r));
    e = exp(e);   % the rate: glm_objective's exp, the same function here
    e(fitset.off{k}) = 0;
    total(q) = total(q) + sum(e);
    if grad
      e(r) = e(r) - y;
      resid(:, q) = e;
      if nstim > 0
        at = s0(k) + 1:s1(k);
        gu(at, q) = gu(at, q) + tentfill2_adjoint(e, m);
      end
    end
  end
  if grad
    G = G + trainfold_multi_adjoint(data.block_spikes{k}, data.block_ids{k}, ...
                                    resid.', twin, H, N);
  end
end
f = zeros(K, 1);
g = zeros(P, K);
for q = 1:K
  fitset = fitsets{q};
  w = thetas(2:end, q);
  f(q) = (total(q) - yeta(q)) / fitset.n + (ridge / 2) * (w' * w);
  if ~isfinite(f(q))
    f(q) = Inf;
    g(:, q) = NaN;
    continue;
  end
  if grad
    gq = [total(q) - fitset.nspikes; zeros(nstim, 1); ...
          reshape(model.basis' * reshape(G(q, :), H, N), [], 1)];
    if nstim > 0
      gq(2:1 + nstim) = model.X' * gu(:, q);
    end
    gq = gq / fitset.n;
    gq(2:end) = gq(2:end) + ridge * w;
    g(:, q) = gq;
  end
end
end
