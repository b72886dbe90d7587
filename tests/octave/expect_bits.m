function t = expect_bits(t, name, actual, expected)
%EXPECT_BITS Check that ACTUAL equals EXPECTED bit for bit (NaN as NaN).
ok = same_bits(actual, expected);
detail = '';
if ~ok
  detail = sprintf('\n  got      %s %s\n  expected %s %s', ...
                   class(actual), mat2str(size(actual)), ...
                   class(expected), mat2str(size(expected)));
  if isequal(size(actual), size(expected)) && numel(actual) <= 16
    detail = sprintf('%s\n  got      %s\n  expected %s', detail, ...
                     mat2str(actual(:)', 17), mat2str(expected(:)', 17));
  end
end
t = expect_true(t, name, ok, detail);
end
