function [e, part] = glm_drive(model, data, theta, i, k)
%GLM_DRIVE Log rate of neuron I with parameter vector THETA: the one place
%   fits, rates and scores compute it.
%   ETA = GLM_DRIVE(MODEL, DATA, THETA, I) is the T x 1 log rate:
%   (history drive + bias) + tentfill2(X * K, m), the history drive being
%   the filters basis * w_j of every source j (all neurons with coupling,
%   neuron I alone without) placed at the bins of j's spikes + 1.
%   [E, PART] = GLM_DRIVE(MODEL, DATA, THETA, I, K) is rows lo..hi of ETA,
%   block K of the blocks of GLM_BLOCKS (DATA.R rows each): its history
%   drive from the spikes that reach it and its stimulus drive from the
%   samples around it (one of margin on each side), the same bits as those
%   rows of the whole computation. PART holds what the adjoints of the
%   block need: lo, hi, twin ([lo-1, hi-1]), spikes and ids (the spikes
%   that reach the block and their sources), and with a stimulus s0, s1
%   (the samples s0+1..s1 used) and z (tentfill2 of them).
if nargin < 5
  e = zeros(data.T, 1);
  for k = 1:ceil(data.T / data.R)
    [part_e, part] = glm_drive(model, data, theta, i, k);
    e(part.lo:part.hi) = part_e;
  end
  return;
end
nstim = model.nstim;
lo = (k - 1) * data.R + 1;
hi = min(k * data.R, data.T);
part.lo = lo;
part.hi = hi;
part.twin = [lo - 1, hi - 1];
w = theta(2 + nstim:end);
if model.coupling
  s = data.first(k):data.last(k);
  part.spikes = data.merged(s);
  part.ids = data.ids(s);
  taps = model.basis * reshape(w, model.nb, data.N);
else
  s = data.first{i}(k):data.last{i}(k);
  part.spikes = data.shifted{i}(s);
  part.ids = [];
  taps = model.basis * w;
end
if ~any(w)
  e = zeros(hi - lo + 1, 1);
elseif model.coupling
  e = trainfold_pop(part.spikes, part.ids, taps, part.twin, data.N);
else
  e = trainfold_mex(part.spikes, taps, part.twin);
end
e = e + theta(1);
if nstim > 0
  m = model.m;
  M = size(model.X, 1);
  part.s0 = max(0, floor((lo - 1) / m) - 1);
  part.s1 = min(M, floor((hi - 1) / m) + 2);
  u = model.X(part.s0 + 1:part.s1, :) * theta(2:1 + nstim);
  part.z = tentfill2(u, m);
  e = e + part.z(lo - part.s0 * m:hi - part.s0 * m);
end
end
