function y = ref_trainfold_pop(spinds, ids, h_currents, twin, nsources)
%REF_TRAINFOLD_POP trainfold_pop step by step, for spike times in any order.
%   The spikes ref_trainfold takes (c = rows of h_currents); each taken spike
%   j in bin B adds, for each output column k in turn, tap t-B of the filter
%   of its source, column (k-1)*nsources + ids(j), to every window bin t it
%   reaches, one addition each.
T0 = fix(twin(1));
T1 = fix(twin(2));
N = nsources(1);
c = rows(h_currents);
K = columns(h_currents) / N;
y = zeros(T1 - T0 + 1, K);
for j = ref_taken_spikes(spinds, c, T0, T1)
  B = fix(spinds(j));
  for k = 1:K
    col = (k - 1) * N + ids(j);
    for t = max(B, T0):min(B + c - 1, T1)
      y(t - T0 + 1, k) = h_currents(t - B + 1, col) + y(t - T0 + 1, k);
    end
  end
end
end
