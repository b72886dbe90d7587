function y = ref_trainfold_multi(spinds, ids, h_currents, twin, nsources)
%REF_TRAINFOLD_MULTI trainfold_multi step by step, for spike times in any
%order: the spikes ref_trainfold takes with c = columns(h_currents) /
%nsources taps; each taken spike j in bin B adds, for each window bin t it
%reaches ascending and each target k, tap t-B of its source's filter onto
%target k, h_currents(k, (ids(j)-1)*c + t-B+1), to y(k, t-T0+1), one
%addition each.
T0 = fix(twin(1));
T1 = fix(twin(2));
N = nsources(1);
K = rows(h_currents);
c = columns(h_currents) / N;
y = zeros(K, T1 - T0 + 1);
for j = ref_taken_spikes(spinds, c, T0, T1)
  B = fix(spinds(j));
  first = (ids(j) - 1) * c;
  for t = max(B, T0):min(B + c - 1, T1)
    for k = 1:K
      y(k, t - T0 + 1) = h_currents(k, first + t - B + 1) + y(k, t - T0 + 1);
    end
  end
end
end
