function g = ref_trainfold_adjoint(spinds, r, twin, ntaps)
%REF_TRAINFOLD_ADJOINT trainfold_adjoint step by step, for spike times in
%any order: the spikes ref_trainfold takes with ntaps taps, and for each, in
%list order, each column and each window bin t it reaches ascending,
%g(t-B+1) = r(t-T0+1) + g(t-B+1).
T0 = fix(twin(1));
T1 = fix(twin(2));
c = ntaps;
M = columns(r);
g = zeros(c, M);
for j = ref_taken_spikes(spinds, c, T0, T1)
  B = fix(spinds(j));
  for k = 1:M
    for t = max(B, T0):min(B + c - 1, T1)
      g(t - B + 1, k) = r(t - T0 + 1, k) + g(t - B + 1, k);
    end
  end
end
end
