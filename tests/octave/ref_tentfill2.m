function y = ref_tentfill2(x, nbns)
%REF_TENTFILL2 tentfill2 written out in scalar operations, one per rounding.
%   E = fix(nbns) fine bins per coarse bin, G = fix(E/2), h = 1/nbns. Each
%   column: a head ramp ((G+1+i)*h)*x(1), the interior between neighbouring
%   samples, and a tail ramp ((E-1-k)*h)*x(end). One column uses
%   ((E-1-k)*a + (k+1)*b)*h in the interior, more columns use
%   ((E-1-k)*h)*a + ((k+1)*h)*b.
E = fix(nbns);
G = fix(E / 2);
h = 1 / nbns;
[m, n] = size(x);
F = m * E;
y = zeros(F, n);
if m == 0 || E <= 0
  return;
end
for c = 1:n
  for i = 0:E - G - 1
    y(i + 1, c) = ((G + 1 + i) * h) * x(1, c);
  end
  for j = 1:m - 1
    a = x(j, c);
    b = x(j + 1, c);
    for k = 0:E - 1
      r = (E - G) + (j - 1) * E + k;
      if n == 1
        y(r + 1, c) = ((E - 1 - k) * a + (k + 1) * b) * h;
      else
        y(r + 1, c) = ((E - 1 - k) * h) * a + ((k + 1) * h) * b;
      end
    end
  end
  for k = 0:G - 1
    y(F - G + k + 1, c) = ((E - 1 - k) * h) * x(m, c);
  end
end
end
