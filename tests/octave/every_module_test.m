## Checks that run on every module of the module list (module_table), from
## its row alone: the worked example against its result and the Octave
## reference, the argument count, every non-double class in each argument
## position, and each argument stored as a complex value (read as its real
## part, or refused by a module that is real_only). A module added to
## the list is checked here without a line of this file.
##
## Run with the modules on the path:  test every_module_test

%!shared modules
%! modules = module_table ();

## Same class, size and bits (a NaN matches any NaN).
%!function assert_same_bits (got, want, name)
%!  [ok, why] = same_bits (got, want);
%!  assert (ok, "%s: %s", name, why);
%!endfunction

%!function message = message_of (fn, args)
%!  message = "";
%!  try
%!    fn (args{:});
%!  catch err
%!    message = err.message;
%!  end_try_catch
%!endfunction

%!test
%! assert (numel (modules) >= 4);
%! for k = 1:numel (modules)
%!   m = modules(k);
%!   fn = str2func (m.name);
%!   assert (numel (m.example) == numel (m.arguments), m.name);
%!   y = fn (m.example{:});
%!   assert (isequal (y(:).', m.result), "%s: %s", m.name, mat2str (y(:).'));
%!   assert_same_bits (y, feval (m.reference, m.example{:}), m.name);
%! endfor

%!test
%! for k = 1:numel (modules)
%!   m = modules(k);
%!   fn = str2func (m.name);
%!   for args = {m.example(1:end-1), [m.example, {1}], {}}
%!     message = message_of (fn, args{1});
%!     assert (strncmp (message, [m.name ": "], numel (m.name) + 2),
%!             "%s with %d arguments: \"%s\"", m.name, numel (args{1}), message);
%!     assert (! isempty (strfind (message, sprintf ("%d", numel (m.arguments)))),
%!             "%s: \"%s\" names no argument count", m.name, message);
%!   endfor
%! endfor

%!test
%! classes = {int8(1), uint64(1), single(1), true, "a", {1}, struct("a", 1), ...
%!            sparse(1), @sin};
%! for k = 1:numel (modules)
%!   m = modules(k);
%!   fn = str2func (m.name);
%!   for i = 1:numel (m.arguments)
%!     expected = [m.name ": " m.arguments{i} ...
%!                 " must be a full (non-sparse) double array"];
%!     for c = 1:numel (classes)
%!       args = m.example;
%!       args{i} = classes{c};
%!       message = message_of (fn, args);
%!       assert (strcmp (message, expected), "%s argument %d of class %s: %s",
%!               m.name, i, class (classes{c}), message);
%!     endfor
%!   endfor
%! endfor

%!test
%! for k = 1:numel (modules)
%!   m = modules(k);
%!   fn = str2func (m.name);
%!   expected = fn (m.example{:});
%!   for i = 1:numel (m.arguments)
%!     args = m.example;
%!     args{i} = complex (args{i}, 1);
%!     assert (iscomplex (args{i}));
%!     name = sprintf ("%s complex %s", m.name, m.arguments{i});
%!     if (m.real_only)
%!       message = message_of (fn, args);
%!       assert (strncmp (message, [m.name ": " m.arguments{i} " must be real"],
%!                        numel (m.name) + numel (m.arguments{i}) + 15),
%!               "%s: \"%s\"", name, message);
%!     else
%!       assert_same_bits (fn (args{:}), expected, name);
%!     endif
%!   endfor
%! endfor
