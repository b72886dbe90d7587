function t = expect_true(t, name, ok, detail)
%EXPECT_TRUE Count one check; print NAME and DETAIL when OK is false.
if ok
  t.passed = t.passed + 1;
else
  t.failed = t.failed + 1;
  if nargin < 4
    detail = '';
  end
  printf('FAIL %s %s\n', name, detail);
end
end
