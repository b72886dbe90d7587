function t = expect_error(t, name, fn, args, message)
%EXPECT_ERROR Check that FN(ARGS{:}) raises exactly MESSAGE.
%   Octave puts "<function name>: " before the text a module raises, MATLAB
%   does not; both forms are accepted, nothing else.
prefixed = [func2str(fn) ': ' message];
try
  fn(args{:});
  t = expect_true(t, name, false, 'returned instead of raising an error');
catch err
  ok = strcmp(err.message, message) || strcmp(err.message, prefixed);
  t = expect_true(t, name, ok, sprintf('\n  got      "%s"\n  expected "%s"', ...
                                       err.message, message));
end
end
