function data = glm_blocks(model, data)
%GLM_BLOCKS The blocks of rows GLM_OBJECTIVE works in, added to DATA:
%   R rows each (block_rows of GLM_CONSTANTS rounded up to a whole number
%   of stimulus periods), the last one shorter; first(k)..last(k) are the spikes (of data.merged with
%   coupling, of data.shifted{i} in the cell first{i}/last{i} without)
%   whose history taps reach block k: times in [(k-1)*R - H + 1, k*R - 1].
c = glm_constants();
R = c.block_rows;
if model.m > 0
  R = model.m * ceil(R / model.m);
end
data.R = R;
n = ceil(data.T / R);
if model.coupling
  [data.first, data.last] = reaching(data.merged, model.H, R, n);
else
  data.first = cell(data.N, 1);
  data.last = cell(data.N, 1);
  for j = 1:data.N
    [data.first{j}, data.last{j}] = reaching(data.shifted{j}, model.H, R, n);
  end
end
end

function [first, last] = reaching(spikes, H, R, n)
% SPIKES: ascending whole numbers.
upto = cumsum(accumarray(min(floor(spikes / R), n) + 1, 1, [n + 1, 1]));
last = upto(1:n);
early = cumsum(accumarray(min(floor((spikes + H - 1) / R), n) + 1, 1, [n + 1, 1]));
first = 1 + [0; early(1:n - 1)];
end
