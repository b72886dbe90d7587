function y = ref_trainfold(spinds, h_currents, twin)
%REF_TRAINFOLD trainfold_mex step by step, for spike times in any order.
%   Window bins T0..T1 (fix of twin). Skips the leading spikes below
%   L = T0 - c + 1, then takes spikes in list order until one is not below
%   U = T1 + 1 (a NaN included); each taken spike in bin B = fix(s) adds tap
%   t-B of every filter to every window bin t it reaches, one addition each.
T0 = fix(twin(1));
T1 = fix(twin(2));
[c, K] = size(h_currents);
y = zeros(T1 - T0 + 1, K);
for j = ref_taken_spikes(spinds, c, T0, T1)
  B = fix(spinds(j));
  first = max(B, T0);
  last = min(B + c - 1, T1);
  for k = 1:K
    for t = first:last
      y(t - T0 + 1, k) = h_currents(t - B + 1, k) + y(t - T0 + 1, k);
    end
  end
end
end
