function ok = same_bits(actual, expected)
%SAME_BITS True when two double arrays have the same class, size and bits.
%   Every element must match bit for bit (so -0 and +0 differ), except that
%   a NaN matches any NaN.
ok = isa(actual, 'double') && isa(expected, 'double') && ...
     isreal(actual) && isreal(expected) && ...
     isequal(size(actual), size(expected));
if ~ok
  return;
end
nan_actual = isnan(actual(:));
nan_expected = isnan(expected(:));
ok = isequal(nan_actual, nan_expected) && ...
     isequal(typecast(actual(~nan_actual), 'uint64'), ...
             typecast(expected(~nan_expected), 'uint64'));
end
