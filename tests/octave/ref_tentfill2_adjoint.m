function g = ref_tentfill2_adjoint(r, nbns)
%REF_TENTFILL2_ADJOINT tentfill2_adjoint written out from tentfill2's rows.
%   E = fix(nbns) >= 1, G = fix(E/2), h = 1/nbns. Sample j of a column sums,
%   from +0, (w*h)*r(row) + acc over the rows of tentfill2's result that hold
%   sample j, in ascending row order, w the integer weight of the sample
%   there (found from tentfill2's row formulas, one row at a time).
E = fix(nbns);
G = fix(E / 2);
h = 1 / nbns;
[F, n] = size(r);
m = F / E;
g = zeros(m, n);
for c = 1:n
  for j = 0:m - 1
    acc = 0;
    for row = max(0, (j - 1) * E):min(F, (j + 2) * E) - 1
      w = -1;
      if row < E - G
        if j == 0
          w = G + 1 + row;
        end
      elseif row < F - G
        p = row - (E - G);
        gap = fix(p / E) + 1;
        k = p - (gap - 1) * E;
        if j == gap - 1
          w = E - 1 - k;
        elseif j == gap
          w = k + 1;
        end
      elseif j == m - 1
        w = E - 1 - (row - (F - G));
      end
      if w >= 0
        acc = (w * h) * r(row + 1, c) + acc;
      end
    end
    g(j + 1, c) = acc;
  end
end
end
