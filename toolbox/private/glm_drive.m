function [e, part] = glm_drive(model, data, theta, i, k, pre)
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
%   computed by the first call.
%   [E, PART] = GLM_DRIVE(MODEL, DATA, THETA, I, K, PRE), PRE the pre of
%   an earlier call with the same THETA and I, reuses it: a caller that
%   goes over the blocks of one THETA computes it once.
if nargin < 6
  pre = prepare(model, data, theta);
end
if nargin < 5
  e = zeros(data.T, 1);
  for k = 1:ceil(data.T / data.R)
    [part_e, part] = glm_drive(model, data, theta, i, k, pre);
    e(part.lo:part.hi) = part_e;
  end
  return;
end
lo = (k - 1) * data.R + 1;
hi = min(k * data.R, data.T);
part.lo = lo;
part.hi = hi;
part.twin = [lo - 1, hi - 1];
part.pre = pre;
if model.coupling
  s = data.first(k):data.last(k);
  part.spikes = data.merged(s);
  part.ids = data.ids(s);
else
  s = data.first{i}(k):data.last{i}(k);
  part.spikes = data.shifted{i}(s);
  part.ids = [];
end
if model.nstim > 0
  % Samples s0+1..s1: the block's and one of margin on each side, whose
  % ramps reach the block's first and last rows.
  m = model.m;
  M = numel(pre.u);
  part.s0 = max(0, floor((lo - 1) / m) - 1);
  part.s1 = min(M, floor((hi - 1) / m) + 2);
  u = pre.u(part.s0 + 1:part.s1);
  % Away from the recording's ends the block's rows lie between the
  % centres of the first and last of these samples, where tentfill2
  % interpolates: the bias goes into the samples (the same value up to
  % rounding, one pass over the rows fewer). Near an end tentfill2 ramps
  % to zero and the bias goes on the rows.
  inside = floor((lo - 1) / m) >= 1 && floor((hi - 1) / m) + 2 <= M;
  if inside
    u = u + theta(1);
  end
  z = tentfill2(u, m);
  z = z(lo - part.s0 * m:hi - part.s0 * m);
  if ~inside
    z = z + theta(1);
  end
else
  z = theta(1);
end
if ~pre.history
  e = zeros(hi - lo + 1, 1) + z;
elseif model.coupling
  e = trainfold_pop(part.spikes, part.ids, pre.taps, part.twin, data.N) + z;
else
  e = trainfold_mex(part.spikes, pre.taps, part.twin) + z;
end
end

function pre = prepare(model, data, theta)
% What the blocks of one THETA share: the filters (taps x sources) and the
% coarse stimulus drive (M x 1).
w = theta(2 + model.nstim:end);
pre.history = any(w);
if model.coupling
  pre.taps = model.basis * reshape(w, model.nb, data.N);
else
  pre.taps = model.basis * w;
end
pre.u = [];
if model.nstim > 0
  pre.u = model.X * theta(2:1 + model.nstim);
end
end
