function fitset = glm_fitset(data, i, mask, nF)
%GLM_FITSET What GLM_OBJECTIVE needs of neuron I's spikes and the fit bins
%   MASK (T x 1 logical, or [] for every bin; NF bins kept), split once
%   into the blocks of GLM_BLOCKS: n = NF; nspikes, the sum of the counts
%   (neuron I's spikes in the fit bins, in the order of data.rows{i}, as
%   the objective summed them over one column); per block k, rows{k}
%   (rows of the block with spikes in the fit bins, 1 for the block's
%   first row, ascending) and counts{k}; off{k}, the rows outside the fit
%   bins. Rows count from block_first(k), the first of the rows GLM_DRIVE
%   computes for the block with its margins, and off{k} holds the margins.
rows = data.rows{i};
counts = data.counts{i};
if ~isempty(mask)
  keep = mask(rows);
  rows = rows(keep);
  counts = counts(keep);
end
n = data.nblocks;
fitset.n = nF;
fitset.nspikes = sum(counts);
fitset.rows = cell(n, 1);
fitset.counts = cell(n, 1);
fitset.off = cell(n, 1);
block = floor((rows - 1) / data.R) + 1;
for k = 1:n
  at = block == k;
  lo = data.block_lo(k);
  hi = data.block_hi(k);
  first = data.block_first(k);
  fitset.rows{k} = rows(at) - (first - 1);
  fitset.counts{k} = counts(at);
  off = (first:data.block_last(k))';
  if isempty(mask)
    off = off(off < lo | off > hi);
  else
    off = off(off < lo | off > hi | ~mask(min(max(off, lo), hi)));
  end
  fitset.off{k} = off - (first - 1);
end
end
