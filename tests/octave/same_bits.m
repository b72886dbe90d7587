function [ok, detail] = same_bits(actual, expected)
%SAME_BITS True when two double arrays have the same class, size and bits.
%   OK = SAME_BITS(ACTUAL, EXPECTED): every element must match bit for bit
%   (so -0 and +0 differ), except that a NaN matches any NaN; both arrays
%   must be real doubles of the same size.
%   [OK, DETAIL] = SAME_BITS(...) also returns a description of the first
%   difference ('' when OK), for test messages.
detail = '';
ok = isa(actual, 'double') && isa(expected, 'double') && ...
     isreal(actual) && isreal(expected) && ...
     isequal(size(actual), size(expected));
if ~ok
  detail = sprintf('got %s %s (real %d), expected %s %s (real %d)', ...
                   class(actual), mat2str(size(actual)), isreal(actual), ...
                   class(expected), mat2str(size(expected)), ...
                   isreal(expected));
  return;
end
a = actual(:);
e = expected(:);
same = (isnan(a) & isnan(e)) | ...
       (~isnan(a) & ~isnan(e) & ...
        typecast(a, 'uint64') == typecast(e, 'uint64'));
ok = all(same);
if ~ok
  k = find(~same, 1);
  detail = sprintf('%d of %d elements differ; first at %d: got %s, expected %s', ...
                   sum(~same), numel(same), k, num2str(a(k), 17), ...
                   num2str(e(k), 17));
end
end
