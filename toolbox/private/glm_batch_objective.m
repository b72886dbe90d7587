function states = glm_batch_objective(model, data, targets, fitsets, ridge, states, step)
%GLM_BATCH_OBJECTIVE GLM_OBJECTIVE of K targets at once, round after
%   round, with coupling: the evaluations of solvers run in lockstep.
%   STATES = GLM_BATCH_OBJECTIVE(MODEL, DATA, TARGETS, FITSETS, RIDGE,
%   STATES, STEP): STATES{q} is the state of the solver of neuron
%   TARGETS(q) (FITSETS{q} its GLM_FITSET), with fields done and, while not
%   done, point (P x 1, the parameters whose value and gradient it needs).
%   Each round evaluates the points of the solvers not done and hands
%   each its own: STATES{q} = STEP(STATES{q}, F, G, ENDED), F and G the
%   bits of GLM_OBJECTIVE(STATES{q}.point, MODEL, DATA, TARGETS(q),
%   FITSETS{q}, RIDGE) (a value that is not finite: Inf, the gradient
%   NaN), ENDED the solvers of the batch done before it. Rounds go on
%   until every solver is done; STATES is returned with their last states.
%
%   Every block of rows makes one pass over the merged spikes for all the
%   targets of a round: TRAINFOLD_MULTI (the history drive, one row per
%   target; a row is TRAINFOLD_POP of that target, bit for bit) and
%   TRAINFOLD_MULTI_ADJOINT (the history gradient of every target's
%   residual, a row of it TRAINFOLD_POP_ADJOINT of that residual). The rest
%   is GLM_OBJECTIVE's code, per target, on a column of the block: the same
%   operations on the same values in the same order. The modules work
%   targets-major (K x window); their arrays are transposed window by
%   window of about 64 Ki values, in cache (moves without arithmetic).
%   The rounds run here, not in a caller, so that the arrays of the blocks
%   are made once for the batch and filled again in each round (a fresh
%   array costs its pages each time, and an array handed to a function
%   that fills it would be copied).
K = numel(targets);
nstim = model.nstim;
H = model.H;
N = data.N;
first = data.block_first;
last = data.block_last;
most = max(last - first + 1);
if nstim > 0
  m = model.m;
  s0 = data.block_s0;
  s1 = data.block_s1;
  gus = zeros(size(model.X, 1), K);
end
% cols (rows x K) holds each target's history drive, then its residual,
% as a column (the first rows in a shorter block); resid (K x rows) the
% residuals targets-major for the adjoint, which takes the block's rows
% exactly: one array for each row count and number of targets met.
cols = zeros(most, K);
resid = cell(2, K);
ended = 0;
live = find(~cellfun(@(s) s.done, states))';
while ~isempty(live)
  n = numel(live);
  total = zeros(n, 1);
  yeta = zeros(n, 1);
  G = zeros(n, H * N);   % history gradient: row q is target q's taps x sources
  if nstim > 0
    gus(:, 1:n) = 0;
  end
  % What the blocks of each point share; the filters one row per target
  % (zero rows for targets without history: their drive comes out +0,
  % the zeros GLM_DRIVE starts from).
  pre = cell(n, 1);
  taps = zeros(n, H * N);
  for q = 1:n
    pre{q} = glm_drive(model, data, states{live(q)}.point);
    if pre{q}.history
      taps(q, :) = pre{q}.taps(:)';
    end
  end
  history = any(cellfun(@(p) p.history, pre));
  width = max(1, floor(65536 / n));
  for k = 1:data.nblocks
    twin = [first(k) - 1, last(k) - 1];
    rows = last(k) - first(k) + 1;
    spikes = data.block_spikes{k};
    ids = data.block_ids{k};
    windows = twin(1):width:twin(2);
    if history
      % Each window with the spikes that reach it (ascending: a spike at B
      % reaches B .. B+H-1). A window of rows has the bits of the whole
      % block there: every value adds its taps in spike order either way.
      for a = windows
        b = min(a + width - 1, twin(2));
        s = lookup(spikes, a - H) + 1:lookup(spikes, b);
        cols(a - twin(1) + 1:b - twin(1) + 1, 1:n) = trainfold_multi(spikes(s), ...
            ids(s), taps, [a, b], N).';
      end
    end
    for q = 1:n
      theta = states{live(q)}.point;
      fitset = fitsets{live(q)};
      z = glm_drive(model, data, theta, targets(live(q)), k, pre{q}, true, false);
      if history
        e = cols(1:rows, q) + z;
      else
        e = zeros(rows, 1) + z;
      end
      r = fitset.rows{k};
      y = fitset.counts{k};
      yeta(q) = yeta(q) + sum(y .* e(r));
      e = rate_exp(e);   % the rate as glm_objective computes it (the same bits)
      e(fitset.off{k}) = 0;
      total(q) = total(q) + sum(e);
      % e becomes the residual mu - y of the block.
      e(r) = e(r) - y;
      cols(1:rows, q) = e;
      if nstim > 0
        at = s0(k) + 1:s1(k);
        gus(at, q) = gus(at, q) + tentfill2_adjoint(e, m);
      end
    end
    shape = 1 + (rows ~= most);
    if ~isequal(size(resid{shape, n}), [n, rows])
      resid{shape, n} = zeros(n, rows);
    end
    for a = windows - twin(1) + 1
      b = min(a + width - 1, rows);
      resid{shape, n}(:, a:b) = cols(a:b, 1:n).';
    end
    % One call per block, as GLM_OBJECTIVE's trainfold_pop_adjoint: each
    % target's sums over the block's spikes in the same order.
    G = G + trainfold_multi_adjoint(spikes, ids, resid{shape, n}, twin, H, N);
  end
  for q = 1:n
    theta = states{live(q)}.point;
    fitset = fitsets{live(q)};
    w = theta(2:end);
    f = (total(q) - yeta(q)) / fitset.n + (ridge / 2) * (w' * w);
    if ~isfinite(f)
      f = Inf;
      g = NaN(size(theta));
    else
      g = [total(q) - fitset.nspikes; zeros(nstim, 1); ...
           reshape(model.basis' * reshape(G(q, :), H, N), [], 1)];
      if nstim > 0
        g(2:1 + nstim) = model.X' * gus(:, q);
      end
      g = g / fitset.n;
      g(2:end) = g(2:end) + ridge * w;
    end
    states{live(q)} = step(states{live(q)}, f, g, ended);
    ended = ended + states{live(q)}.done;
  end
  live = live(~cellfun(@(s) s.done, states(live)));
end
end
