function g = ref_trainfold_pop_adjoint(spinds, ids, r, twin, ntaps, nsources)
%REF_TRAINFOLD_POP_ADJOINT trainfold_pop_adjoint step by step, for spike
%times in any order: the spikes ref_trainfold takes with ntaps taps, and for
%each, in list order, each column k of r and each window bin t it reaches
%ascending, with col = (k-1)*nsources + ids(j),
%g(t-B+1, col) = r(t-T0+1, k) + g(t-B+1, col).
T0 = fix(twin(1));
T1 = fix(twin(2));
c = ntaps(1);
N = nsources(1);
K = columns(r);
g = zeros(c, N * K);
for j = ref_taken_spikes(spinds, c, T0, T1)
  B = fix(spinds(j));
  for k = 1:K
    col = (k - 1) * N + ids(j);
    for t = max(B, T0):min(B + c - 1, T1)
      g(t - B + 1, col) = r(t - T0 + 1, k) + g(t - B + 1, col);
    end
  end
end
end
