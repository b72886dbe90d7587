function y = ref_trainfold_direct(spinds, h_currents, twin)
%REF_TRAINFOLD_DIRECT Windowed convolution of a spike train with filters.
%   For ascending, non-negative spike times: y(t-T0+1, k) is the sum, over the
%   spikes in list order whose bin B = fix(s) has B <= t <= B+c-1, of
%   h_currents(t-B+1, k). Every spike is visited; nothing is skipped.
T0 = fix(twin(1));
T1 = fix(twin(2));
[c, K] = size(h_currents);
y = zeros(T1 - T0 + 1, K);
for t = T0:T1
  for s = spinds(:)'
    B = fix(s);
    if B <= t && t <= B + c - 1
      y(t - T0 + 1, :) = y(t - T0 + 1, :) + h_currents(t - B + 1, :);
    end
  end
end
end
