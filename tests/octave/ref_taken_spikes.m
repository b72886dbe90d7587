function taken = ref_taken_spikes(spinds, c, T0, T1)
%REF_TAKEN_SPIKES Indices of the spikes the spike-train modules take, in
%list order, for filters of C taps and the window bins T0..T1: skip the
%leading spikes below L = T0 - c + 1, then take spikes until one is not
%below U = T1 + 1 (a NaN included).
L = T0 - c + 1;
U = T1 + 1;
g = 1;
while g <= numel(spinds) && L > spinds(g)
  g = g + 1;
end
last = g - 1;
while last < numel(spinds) && U > spinds(last + 1)
  last = last + 1;
end
taken = g:last;
end
