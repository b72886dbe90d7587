function y = ref_tentfill2_padded(x, nbns)
%REF_TENTFILL2_PADDED tentfill2 seen as a whole, for exactly representable data.
%   Pads each column with a zero before and after, lays E fine bins over each
%   of the m+1 gaps (bin k of the gap from a to b is ((E-1-k)*a + (k+1)*b)/E)
%   and drops the first G and the last E-G of the (m+1)*E values. Equal to
%   tentfill2 bit for bit only where no operation rounds (whole-number nbns
%   a power of two, small integer samples).
E = fix(nbns);
G = fix(E / 2);
[m, n] = size(x);
padded = [zeros(1, n); x; zeros(1, n)];
k = (0:E - 1)';
all_bins = zeros((m + 1) * E, n);
for gap = 1:m + 1
  rows = (gap - 1) * E + (1:E);
  all_bins(rows, :) = ((E - 1 - k) * padded(gap, :) + ...
                       (k + 1) * padded(gap + 1, :)) / E;
end
y = all_bins(G + 1:G + m * E, :);
end
