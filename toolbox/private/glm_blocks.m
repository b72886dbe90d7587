function data = glm_blocks(model, data)
%GLM_BLOCKS The blocks of rows GLM_OBJECTIVE works in, added to DATA:
%   R rows each (block_rows of GLM_CONSTANTS rounded up to a whole number
%   of stimulus periods), the last one shorter; first(k)..last(k) are the spikes (of data.merged with
%   coupling, of data.shifted{i} in the cell first{i}/last{i} without)
%   whose history taps reach block k: times in [(k-1)*R - H + 1, k*R - 1].
%   What GLM_DRIVE reads for block k, found here once so that an
%   evaluation does no index arithmetic: nblocks, block_lo(k) and
%   block_hi(k) (its rows), block_spikes{s, k} and block_ids{s, k} (the
%   spikes above and their sources; s = 1 with coupling, else s = neuron,
%   ids empty), and with a stimulus block_s0(k), block_s1(k) (the samples
%   s0+1..s1 whose tentfill2 rows cover the block: its own and one of
%   margin on each side) and block_inside(k) (those samples lie away from
%   the recording's ends). block_first(k)..block_last(k): the rows GLM_DRIVE
%   computes for the block with its margins (those of samples s0+1..s1
%   with a stimulus, else lo..hi).
c = glm_constants();
R = c.block_rows;
if model.m > 0
  R = model.m * ceil(R / model.m);
end
data.R = R;
n = ceil(data.T / R);
data.nblocks = n;
data.block_lo = (0:n - 1)' * R + 1;
data.block_hi = min((1:n)' * R, data.T);
if model.coupling
  [data.first, data.last] = reaching(data.merged, model.H, R, n);
  data.block_spikes = cell(1, n);
  data.block_ids = cell(1, n);
  for k = 1:n
    s = data.first(k):data.last(k);
    data.block_spikes{k} = data.merged(s);
    data.block_ids{k} = data.ids(s);
  end
else
  data.first = cell(data.N, 1);
  data.last = cell(data.N, 1);
  data.block_spikes = cell(data.N, n);
  data.block_ids = cell(data.N, n);
  for j = 1:data.N
    [data.first{j}, data.last{j}] = reaching(data.shifted{j}, model.H, R, n);
    for k = 1:n
      data.block_spikes{j, k} = data.shifted{j}(data.first{j}(k):data.last{j}(k));
    end
  end
end
if model.m > 0
  m = model.m;
  M = size(model.X, 1);
  data.block_s0 = max(0, floor((data.block_lo - 1) / m) - 1);
  data.block_s1 = min(M, floor((data.block_hi - 1) / m) + 2);
  data.block_inside = floor((data.block_lo - 1) / m) >= 1 & ...
                      floor((data.block_hi - 1) / m) + 2 <= M;
  data.block_first = data.block_s0 * m + 1;
  data.block_last = data.block_s1 * m;
else
  data.block_first = data.block_lo;
  data.block_last = data.block_hi;
end
end

function [first, last] = reaching(spikes, H, R, n)
% SPIKES: ascending whole numbers.
upto = cumsum(accumarray(min(floor(spikes / R), n) + 1, 1, [n + 1, 1]));
last = upto(1:n);
early = cumsum(accumarray(min(floor((spikes + H - 1) / R), n) + 1, 1, [n + 1, 1]));
first = 1 + [0; early(1:n - 1)];
end
