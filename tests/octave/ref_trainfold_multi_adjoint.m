function g = ref_trainfold_multi_adjoint(spinds, ids, r, twin, ntaps, nsources)
%REF_TRAINFOLD_MULTI_ADJOINT trainfold_multi_adjoint step by step, for spike
%times in any order: the spikes ref_trainfold takes with ntaps taps, and for
%each, in list order, each window bin t it reaches ascending and each target
%k, with col = (ids(j)-1)*ntaps + t-B+1, g(k, col) = r(k, t-T0+1) + g(k, col).
T0 = fix(twin(1));
T1 = fix(twin(2));
c = ntaps(1);
N = nsources(1);
K = rows(r);
g = zeros(K, c * N);
for j = ref_taken_spikes(spinds, c, T0, T1)
  B = fix(spinds(j));
  first = (ids(j) - 1) * c;
  for t = max(B, T0):min(B + c - 1, T1)
    for k = 1:K
      g(k, first + t - B + 1) = r(k, t - T0 + 1) + g(k, first + t - B + 1);
    end
  end
end
end
