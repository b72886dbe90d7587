## Arguments the modules refuse, beyond the one case per message in the help
## files: every argument class, the other out-of-range values, and sizes
## beyond 2^31 - 1 (arrays with no elements, so nothing is allocated). Each
## %!error must match the whole message: Octave prints the function's name,
## then the module's text. A crash here ends Octave, which fails the run.

%!# tentfill2
%!error <^tentfill2: nbns is empty; it must hold the number of fine bins per coarse bin$> tentfill2 ([1; 2], zeros (0, 3))
%!error <^tentfill2: nbns must be a number greater than -1 and less than 2\^31 \(not NaN or Inf\)$> tentfill2 ([1; 2], Inf)
%!error <^tentfill2: nbns must be a number greater than -1 and less than 2\^31 \(not NaN or Inf\)$> tentfill2 ([1; 2], -Inf)
%!error <^tentfill2: nbns must be a number greater than -1 and less than 2\^31 \(not NaN or Inf\)$> tentfill2 ([1; 2], -1)
%!error <^tentfill2: nbns must be a number greater than -1 and less than 2\^31 \(not NaN or Inf\)$> tentfill2 ([1; 2], -7.5)
%!error <^tentfill2: nbns must be a number greater than -1 and less than 2\^31 \(not NaN or Inf\)$> tentfill2 ([1; 2], 2^31)
%!error <^tentfill2: nbns must be a number greater than -1 and less than 2\^31 \(not NaN or Inf\)$> tentfill2 ([1; 2], 1e300)
%!error <^tentfill2: nbns must be a number greater than -1 and less than 2\^31 \(not NaN or Inf\)$> tentfill2 (zeros (0, 1), NaN)
%!error <^tentfill2: the result would have more than 2\^31 - 1 rows \(size\(x, 1\) \* fix\(nbns\)\)$> tentfill2 (zeros (3, 0), 2^30)
%!error <^tentfill2: the result would have more than 2\^31 - 1 rows \(size\(x, 1\) \* fix\(nbns\)\)$> tentfill2 (zeros (4, 1), 2^30 + 1)
%!error <^tentfill2: x has more than 2\^31 - 1 rows or columns$> tentfill2 (zeros (2^31, 0), 1)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 (int8 ([1; 2]), 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 (uint8 ([1; 2]), 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 (int16 ([1; 2]), 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 (uint16 ([1; 2]), 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 (int32 ([1; 2]), 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 (uint32 ([1; 2]), 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 (int64 ([1; 2]), 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 (uint64 ([1; 2]), 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 (true (2, 1), 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 ('ab', 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 ({1; 2}, 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 (struct ('a', {1; 2}), 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 (sparse ([1; 2]), 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 (sparse (complex ([1; 2], 1)), 2)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$> tentfill2 (@sin, 2)
%!error <^tentfill2: nbns must be a full \(non-sparse\) double array$> tentfill2 ([1; 2], single (2))
%!error <^tentfill2: nbns must be a full \(non-sparse\) double array$> tentfill2 ([1; 2], uint64 (2))
%!error <^tentfill2: nbns must be a full \(non-sparse\) double array$> tentfill2 ([1; 2], true)
%!error <^tentfill2: nbns must be a full \(non-sparse\) double array$> tentfill2 ([1; 2], '4')
%!error <^tentfill2: nbns must be a full \(non-sparse\) double array$> tentfill2 ([1; 2], {4})
%!error <^tentfill2: nbns must be a full \(non-sparse\) double array$> tentfill2 ([1; 2], struct ('n', 4))
%!error <^tentfill2: nbns must be a full \(non-sparse\) double array$> tentfill2 ([1; 2], sparse (4))
%!error <^tentfill2: nbns must be a full \(non-sparse\) double array$> tentfill2 ([1; 2], sparse (0, 0))

%!# trainfold_mex
%!error <^trainfold_mex: needs 3 input args:  trainfold_mex\(spinds, h_currents, twin\)$> trainfold_mex ()
%!error <^trainfold_mex: needs 3 input args:  trainfold_mex\(spinds, h_currents, twin\)$> trainfold_mex ([1; 2]', [1; 2; 3])
%!error <^trainfold_mex: needs 3 input args:  trainfold_mex\(spinds, h_currents, twin\)$> trainfold_mex ([1; 2], [1; 2; 3], [0 4], 1)
%!error <^trainfold_mex: trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!$> trainfold_mex (ones (2), [1; 2; 3], [0 4])
%!error <^trainfold_mex: trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!$> trainfold_mex (ones (1, 2, 2), [1; 2; 3], [0 4])
%!error <^trainfold_mex: trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!$> trainfold_mex (int8 ([1 2]), [1; 2; 3], [0 4])
%!error <^trainfold_mex: trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!$> trainfold_mex ('ab', [1; 2; 3], [0 4])
%!error <^trainfold_mex: trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!$> trainfold_mex (zeros (0, 2^31), [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds or h_currents has more than 2\^31 - 1 rows or columns$> trainfold_mex (zeros (2^31, 0), [1; 2; 3], [0 4])
%!error <^trainfold_mex: twin must hold two values, the first and last bin of the window$> trainfold_mex ([1; 2], [1; 2; 3], [])
%!error <^trainfold_mex: twin values must be numbers within the 32-bit integer range \(not NaN or Inf\)$> trainfold_mex ([1; 2], [1; 2; 3], [NaN 4])
%!error <^trainfold_mex: twin values must be numbers within the 32-bit integer range \(not NaN or Inf\)$> trainfold_mex ([1; 2], [1; 2; 3], [0 Inf])
%!error <^trainfold_mex: twin values must be numbers within the 32-bit integer range \(not NaN or Inf\)$> trainfold_mex ([1; 2], [1; 2; 3], [-Inf 4])
%!error <^trainfold_mex: twin values must be numbers within the 32-bit integer range \(not NaN or Inf\)$> trainfold_mex ([1; 2], [1; 2; 3], [0 2^31])
%!error <^trainfold_mex: twin values must be numbers within the 32-bit integer range \(not NaN or Inf\)$> trainfold_mex ([1; 2], [1; 2; 3], [-2^31 - 1, 0])
%!error <^trainfold_mex: twin values must be numbers within the 32-bit integer range \(not NaN or Inf\)$> trainfold_mex ([1; 2], [1; 2; 3], [1e300 1e300])
%!error <^trainfold_mex: the result would be larger than this process can address \(rows x columns x 8 bytes\)$> trainfold_mex (1, zeros (0, 2^31 - 1), [0, 2^31 - 2])
%!error <^trainfold_mex: twin\(2\) must be at least twin\(1\) - 1 \(the window would have a negative number of rows\)$> trainfold_mex ([1; 2], [1; 2; 3], [5 -100])
%!error <^trainfold_mex: twin\(2\) must be at least twin\(1\) - 1 \(the window would have a negative number of rows\)$> trainfold_mex ([1; 2], [1; 2; 3], [2^31 - 1, -2^31])
%!error <^trainfold_mex: the window twin\(1\) \.\. twin\(2\) has more than 2\^31 - 1 bins$> trainfold_mex ([1; 2], zeros (3, 0), [0, 2^31 - 1])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$> trainfold_mex (int8 ([1; 2]), [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$> trainfold_mex (uint8 ([1; 2]), [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$> trainfold_mex (int16 ([1; 2]), [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$> trainfold_mex (uint16 ([1; 2]), [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$> trainfold_mex (int32 ([1; 2]), [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$> trainfold_mex (uint32 ([1; 2]), [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$> trainfold_mex (int64 ([1; 2]), [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$> trainfold_mex (uint64 ([1; 2]), [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$> trainfold_mex (true (2, 1), [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$> trainfold_mex ('a', [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$> trainfold_mex ({1; 2}, [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$> trainfold_mex (struct ('t', 1), [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$> trainfold_mex (sparse ([1; 2]), [1; 2; 3], [0 4])
%!error <^trainfold_mex: h_currents must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], single ([1; 2; 3]), [0 4])
%!error <^trainfold_mex: h_currents must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], uint64 ([1; 2; 3]), [0 4])
%!error <^trainfold_mex: h_currents must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], true (3, 1), [0 4])
%!error <^trainfold_mex: h_currents must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], 'abc', [0 4])
%!error <^trainfold_mex: h_currents must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], {[1; 2; 3]}, [0 4])
%!error <^trainfold_mex: h_currents must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], struct ('h', [1; 2; 3]), [0 4])
%!error <^trainfold_mex: h_currents must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], sparse ([1; 2; 3]), [0 4])
%!error <^trainfold_mex: twin must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], [1; 2; 3], single ([0 4]))
%!error <^trainfold_mex: twin must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], [1; 2; 3], uint16 ([0 4]))
%!error <^trainfold_mex: twin must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], [1; 2; 3], [true true])
%!error <^trainfold_mex: twin must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], [1; 2; 3], '04')
%!error <^trainfold_mex: twin must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], [1; 2; 3], {0, 4})
%!error <^trainfold_mex: twin must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], [1; 2; 3], struct ('a', {0, 4}))
%!error <^trainfold_mex: twin must be a full \(non-sparse\) double array$> trainfold_mex ([1; 2], [1; 2; 3], sparse ([0 4]))

%!# A refusal leaves the module usable: the next call works.
%!test
%! try
%!   tentfill2 ([1; 2], NaN);
%! catch
%! end_try_catch
%! assert (tentfill2 ([1; 2], 4), [0.75; 1; 1.25; 1.5; 1.75; 2; 1.5; 1]);
%!test
%! try
%!   trainfold_mex ([1 2], [1; 2; 3], [0 4]);
%! catch
%! end_try_catch
%! assert (trainfold_mex ([8; 10.5; 13.2; 14], [1; 10; 100], [10 13]),
%!         [101; 10; 100; 1]);

%!# %!error matches the message after stripping blanks at its ends: one call
%!# per message checks that none ends with a blank (or begins with one after
%!# the function's name).
%!test
%! s = [1; 2]; h = [1; 2; 3]; w = [0 4];
%! calls = {@() tentfill2(), @() tentfill2 (single (s), 2), ...
%!          @() tentfill2 (s, single (2)), @() tentfill2 (s, []), ...
%!          @() tentfill2 (zeros (0, 2^31), 1), @() tentfill2 (s, NaN), ...
%!          @() tentfill2 (s, 2^30), @() trainfold_mex (), ...
%!          @() trainfold_mex ([1 2], h, w), @() trainfold_mex (single (s), h, w), ...
%!          @() trainfold_mex (s, single (h), w), @() trainfold_mex (s, h, single (w)), ...
%!          @() trainfold_mex (s, h, 5), @() trainfold_mex (s, zeros (0, 2^31), w), ...
%!          @() trainfold_mex (s, h, [0 NaN]), @() trainfold_mex (s, h, [5 3]), ...
%!          @() trainfold_mex (s, h, [-2^31, 2^31 - 1])};
%! for i = 1:numel (calls)
%!   message = "";
%!   try
%!     calls{i} ();
%!   catch err
%!     message = err.message;
%!   end_try_catch
%!   assert (! isempty (message), "call %d raised no error", i);
%!   assert (message, regexprep (strtrim (message), '^(\w+): +', '$1: '));
%! endfor

%!# Every module of the module list (module_table), from its row: sizes
%!# beyond 2^31 - 1 in each argument position (arrays with no elements, so
%!# nothing is allocated) and a wrong class in each position are refused
%!# with a message that has no blank at its ends, and the next call (the
%!# worked example) still gives the row's result.
%!test
%! modules = module_table ();
%! for k = 1:numel (modules)
%!   m = modules(k);
%!   fn = str2func (m.name);
%!   for i = 1:numel (m.arguments)
%!     for bad = {zeros(2^31, 0), zeros(0, 2^31), zeros(0, 2^16, 2^15), int8(1)}
%!       args = m.example;
%!       args{i} = bad{1};
%!       message = "";
%!       try
%!         fn (args{:});
%!       catch err
%!         message = err.message;
%!       end_try_catch
%!       name = sprintf ("%s, %s of size %s", m.name, m.arguments{i},
%!                       mat2str (size (bad{1})));
%!       assert (strncmp (message, [m.name ": "], numel (m.name) + 2),
%!               "%s: \"%s\"", name, message);
%!       assert (message, regexprep (strtrim (message), '^(\w+): +', '$1: '),
%!               name);
%!       y = fn (m.example{:});
%!       assert (isequal (y(:).', m.result), "%s, then the example", name);
%!     endfor
%!   endfor
%! endfor
