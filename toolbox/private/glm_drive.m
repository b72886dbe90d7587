function [e, part] = glm_drive(model, data, theta, i, k, pre, padded, history)
%GLM_DRIVE Log rate of neuron I with parameter vector THETA: the one place
%   fits, rates and scores compute it.
%   ETA = GLM_DRIVE(MODEL, DATA, THETA, I) is the T x 1 log rate:
%   history drive + (bias + tentfill2(X * K, m)), the history drive being
%   the filters basis * w_j of every source j (all neurons with coupling,
%   neuron I alone without) placed at the bins of j's spikes + 1. It is
%   made of the blocks below, so fits and scores see the same bits.
%   [E, PART] = GLM_DRIVE(MODEL, DATA, THETA, I, K) is rows lo..hi of ETA,
%   block K of the blocks of GLM_BLOCKS (DATA.R rows each): its history
%   drive from the spikes that reach it and its stimulus drive from the
%   samples around it (one of margin on each side; the rows of the whole
%   tentfill2 call, with the bias added to the samples away from the
%   recording's ends: the same up to rounding). PART holds what the
%   adjoints of the block need: lo, hi, twin ([lo-1, hi-1]), spikes and
%   ids (the spikes that reach the block and their sources), with a
%   stimulus s0, s1 (the samples s0+1..s1 used), and pre: what depends on
%   THETA alone (the taps of every source, the coarse drive X * K),
%   computed by the first call. PART is built only when asked for: the
%   objective reads the block's rows and spikes from DATA (GLM_BLOCKS).
%   [E, PART] = GLM_DRIVE(MODEL, DATA, THETA, I, K, PRE), PRE the pre of
%   an earlier call with the same THETA and I, reuses it: a caller that
%   goes over the blocks of one THETA computes it once (PRE [] computes it).
%   [E, PART] = GLM_DRIVE(MODEL, DATA, THETA, I, K, PRE, true) is the block
%   with its margins: the rows of tentfill2 of the samples s0+1..s1, whose
%   margins (the rows outside lo..hi) lack spikes and are not the log rate
%   there; PART.twin is then their window. The objective works on these
%   rows: the stimulus adjoint takes them as they are.
%   [Z, PART] = GLM_DRIVE(MODEL, DATA, THETA, I, K, PRE, true, false) is the
%   padded block without its history drive: the rows of tentfill2 (a scalar,
%   the bias, without a stimulus), to which a caller that computes the
%   history of many targets at once (TRAINFOLD_MULTI over PART.twin) adds
%   it as ETA = history + Z: the bits of the padded block. PART.pre.history
%   is false when the filters are all zero (no history to add: ETA =
%   zeros + Z).
%   PRE = GLM_DRIVE(MODEL, DATA, THETA) is the pre of THETA alone.
if nargin == 3
  e = prepare(model, data, theta);
  return;
end
if nargin < 7
  padded = false;
end
if nargin < 8
  history = true;
end
if nargin < 6 || isempty(pre)
  pre = prepare(model, data, theta);
end
if nargin < 5
  e = zeros(data.T, 1);
  for k = 1:data.nblocks
    e(data.block_lo(k):data.block_hi(k)) = glm_drive(model, data, theta, i, k, pre);
  end
  return;
end
lo = data.block_lo(k);
hi = data.block_hi(k);
if model.coupling
  spikes = data.block_spikes{k};
  ids = data.block_ids{k};
else
  spikes = data.block_spikes{i, k};
  ids = [];
end
if model.nstim > 0
  % The rows of samples s0+1..s1: the block's and one of margin on each
  % side, whose ramps reach the block's first and last rows. Away from the
  % recording's ends the block's rows lie between the centres of the
  % first and last of these samples, where tentfill2 interpolates: the
  % bias is in the samples (pre.ub, the same value up to rounding, one
  % pass over the rows fewer). Near an end tentfill2 ramps to zero and the
  % bias goes on the rows.
  m = model.m;
  s0 = data.block_s0(k);
  s1 = data.block_s1(k);
  twin = [s0 * m, s1 * m - 1];
  if data.block_inside(k)
    z = tentfill2(pre.ub(s0 + 1:s1), m);
  else
    z = tentfill2(pre.u(s0 + 1:s1), m) + theta(1);
  end
else
  twin = [lo - 1, hi - 1];
  z = theta(1);
end
% The history over the whole window: on the block's rows the same bits as
% a window of those rows alone (the same spikes add there in the same
% order); the margins lack the spikes that reach only them.
if ~history
  e = z;
elseif ~pre.history
  e = zeros(twin(2) - twin(1) + 1, 1) + z;
elseif model.coupling
  e = trainfold_pop(spikes, ids, pre.taps, twin, data.N) + z;
else
  e = trainfold_mex(spikes, pre.taps, twin) + z;
end
if ~padded
  e = e(lo - twin(1):hi - twin(1));
  twin = [lo - 1, hi - 1];
end
if nargout > 1
  part = struct('lo', lo, 'hi', hi, 'twin', twin, 'pre', pre, ...
                'spikes', spikes, 'ids', ids);
  if model.nstim > 0
    part.s0 = s0;
    part.s1 = s1;
  end
end
end

function pre = prepare(model, data, theta)
% What the blocks of one THETA share: the filters (taps x sources) and the
% coarse stimulus drive (M x 1), without (u) and with (ub) the bias.
w = theta(2 + model.nstim:end);
pre.history = any(w);
if model.coupling
  pre.taps = model.basis * reshape(w, model.nb, data.N);
else
  pre.taps = model.basis * w;
end
pre.u = [];
pre.ub = [];
if model.nstim > 0
  pre.u = model.X * theta(2:1 + model.nstim);
  pre.ub = pre.u + theta(1);
end
end
