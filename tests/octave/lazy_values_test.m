## The modules on values Octave stores lazily: ranges, diagonal matrices (eye),
## permutation matrices, lazy indices (find), complex values, empties of every
## shape and N-D arrays. Octave converts such a value to a full matrix only
## when a module asks for its data. Every result must equal, bit for bit, the
## same call on full real copies of the arguments, and a refusal must come
## without the conversion: a huge lazily stored argument is refused as cheaply
## as a small one. Run under valgrind by run_memcheck.sh.
##
## Run with the modules on the path:  test lazy_values_test

## A full real copy of v, checked to be stored as a plain matrix.
%!function r = full_copy (v)
%!  r = real (full (v));
%!  assert (any (strcmp (typeinfo (r), {"matrix", "scalar"})), typeinfo (r));
%!endfunction

## Same class, size and bits (a NaN matches any NaN): same_bits.m of this
## folder, the one bit comparison of the Octave tests.
%!function assert_same_bits (got, want, name)
%!  [ok, why] = same_bits (got, want);
%!  assert (ok, "%s: %s", name, why);
%!endfunction

## Each case: {name, arguments, expected storage of each argument ("" for any)}.
%!function check_results (fn, cases)
%!  for i = 1:rows (cases)
%!    [name, args, storage] = cases{i, :};
%!    for k = 1:numel (args)
%!      if (! isempty (storage{k}))
%!        assert (strcmp (typeinfo (args{k}), storage{k}),
%!                "%s: argument %d is stored as %s", name, k, typeinfo (args{k}));
%!      endif
%!    endfor
%!    full_args = cellfun (@full_copy, args, "uniformoutput", false);
%!    assert_same_bits (fn (args{:}), fn (full_args{:}),
%!                      [func2str(fn) " " name]);
%!  endfor
%!endfunction

## Resident-size peak of the call fn(args{:}) in MB above the size before it,
## and the message it raised ("" when it returned).
%!function [peak_mb, message] = refusal_peak (fn, args)
%!  fid = fopen ("/proc/self/clear_refs", "w");
%!  fputs (fid, "5");  # resets the peak (VmHWM) to the current size
%!  fclose (fid);
%!  status = fileread ("/proc/self/status");
%!  before = str2double (regexp (status, 'VmRSS:\s*(\d+)', "tokens", "once"){1});
%!  message = "";
%!  try
%!    fn (args{:});
%!  catch err
%!    message = err.message;
%!  end_try_catch
%!  status = fileread ("/proc/self/status");
%!  peak = str2double (regexp (status, 'VmHWM:\s*(\d+)', "tokens", "once"){1});
%!  peak_mb = (peak - before) / 1024;
%!endfunction

%!shared perm, cplx, cplx_eye
%! perm = eye (7)([3 1 7 2 6 4 5], :);
%! cplx = complex ([0.1; 0.7; -2.5], [1; 0; -1]);
%! cplx_eye = eye (4) * (0.3 + 2i);

%!test
%! cases = {
%!   "range row",               {0.1:0.3:3, 3},         {"double_range", ""}
%!   "descending range",        {5:-1.5:-4, 2.5},       {"double_range", ""}
%!   "eye",                     {eye(6), 3},            {"diagonal matrix", ""}
%!   "scaled eye",              {0.1 * eye(5), 4},      {"diagonal matrix", ""}
%!   "wide eye",                {eye(3, 5), 3},         {"diagonal matrix", ""}
%!   "tall eye",                {eye(5, 3), 2},         {"diagonal matrix", ""}
%!   "permutation",             {perm, 3},              {"permutation matrix", ""}
%!   "lazy index column",       {find([0; 1; 0; 1; 1]), 3}, {"lazy_index", ""}
%!   "lazy index row",          {find([1 1 0 1]), 3},   {"lazy_index", ""}
%!   "complex column",          {cplx, 3},              {"complex matrix", ""}
%!   "complex matrix",          {[cplx, 2 * cplx], 3},  {"complex matrix", ""}
%!   "complex scalar",          {2.5 + 1i, 3},          {"complex scalar", ""}
%!   "complex eye",             {cplx_eye, 3},          {"complex diagonal matrix", ""}
%!   "complex N-D",             {complex(reshape(1:12, 2, 3, 2), 1), 3}, {"complex matrix", ""}
%!   "N-D",                     {reshape(0.5:0.5:6, 2, 3, 2), 3}, {"matrix", ""}
%!   "range nbns",              {[0.1; 0.7], 3:5},      {"", "double_range"}
%!   "complex nbns",            {[0.1; 0.7], 3 + 4i},   {"", "complex scalar"}
%!   "eye nbns",                {[0.1; 0.7], 3 * eye(2)}, {"", "diagonal matrix"}
%!   "permutation nbns",        {[0.1; 0.7], perm},     {"", "permutation matrix"}
%!   "range x and range nbns",  {1:4, 2:3},             {"double_range", "double_range"}
%!   "0x0 eye",                 {eye(0), 3},            {"diagonal matrix", ""}
%!   "0x3 eye",                 {eye(0, 3), 3},         {"diagonal matrix", ""}
%!   "3x0 eye",                 {eye(3, 0), 3},         {"diagonal matrix", ""}
%!   "0x2 complex",             {complex(zeros(0, 2)), 3}, {"complex matrix", ""}
%!   "2x0 complex",             {complex(zeros(2, 0)), 3}, {"complex matrix", ""}
%!   "0x2x3 complex",           {complex(zeros(0, 2, 3)), 3}, {"complex matrix", ""}
%!   "2x0x3 complex",           {complex(zeros(2, 0, 3)), 3}, {"complex matrix", ""}
%!   "empty range",             {1:0, 3},               {"", ""}
%!   "eye, E = 0",              {eye(3), 0.5},          {"diagonal matrix", ""}
%! };
%! check_results (@tentfill2, cases);

%!test
%! cases = {
%!   "eye h_currents",          {[0; 1.5; 2], eye(3), [0 5]}, {"", "diagonal matrix", ""}
%!   "scaled eye h_currents",   {[0; 1.5; 2], 0.1 * eye(4), [-2 6]}, {"", "diagonal matrix", ""}
%!   "wide eye h_currents",     {[0; 1.5; 2], eye(3, 5), [0 5]}, {"", "diagonal matrix", ""}
%!   "tall eye h_currents",     {[0; 1.5; 2], eye(5, 3), [0 8]}, {"", "diagonal matrix", ""}
%!   "permutation h_currents",  {[1; 3; 3.5], perm, [0 12]}, {"", "permutation matrix", ""}
%!   "range h_currents",        {[1; 3; 3.5], 0.1:0.1:0.5, [0 5]}, {"", "double_range", ""}
%!   "lazy index h_currents",   {[1; 3], find([1; 0; 1; 1]), [0 8]}, {"", "lazy_index", ""}
%!   "complex h_currents",      {[1; 3], [cplx, cplx], [0 6]}, {"", "complex matrix", ""}
%!   "complex eye h_currents",  {[1; 3], cplx_eye, [0 6]}, {"", "complex diagonal matrix", ""}
%!   "complex N-D h_currents",  {[1; 3], complex(reshape(1:12, 3, 2, 2), -1), [0 6]}, {"", "complex matrix", ""}
%!   "N-D h_currents",          {[1; 3], reshape(0.5:0.5:6, 3, 2, 2), [0 6]}, {"", "matrix", ""}
%!   "complex spinds",          {cplx + 3, [1; 2], [0 6]}, {"complex matrix", "", ""}
%!   "complex scalar spinds",   {2.5 + 1i, [1; 2], [0 6]}, {"complex scalar", "", ""}
%!   "lazy index spinds",       {find([0; 1; 0; 1; 1]), [1; 2], [0 6]}, {"lazy_index", "", ""}
%!   "1x1 range spinds",        {(3:3) + 0.5, [1; 2], [0 6]}, {"", "", ""}
%!   "range twin",              {[1; 3], [1; 2], 0:3:9}, {"", "", "double_range"}
%!   "complex twin",            {[1; 3], [1; 2], [0 6] + 2i}, {"", "", "complex matrix"}
%!   "eye twin",                {[1; 3], [1; 2], -3 * eye(2)}, {"", "", "diagonal matrix"}
%!   "permutation twin",        {[1; 3], [1; 2], perm}, {"", "", "permutation matrix"}
%!   "all lazily stored",       {find([0; 1; 1]), cplx_eye, 0:4}, {"lazy_index", "complex diagonal matrix", "double_range"}
%!   "0x0 eye spinds",          {eye(0), [1; 2], [0 3]}, {"diagonal matrix", "", ""}
%!   "0x1 eye spinds",          {eye(0, 1), [1; 2], [0 3]}, {"diagonal matrix", "", ""}
%!   "3x0 eye spinds",          {eye(3, 0), [1; 2], [0 3]}, {"diagonal matrix", "", ""}
%!   "0x1 complex spinds",      {complex(zeros(0, 1)), [1; 2], [0 3]}, {"complex matrix", "", ""}
%!   "2x0x3 complex spinds",    {complex(zeros(2, 0, 3)), [1; 2], [0 3]}, {"complex matrix", "", ""}
%!   "empty range spinds",      {1:0, [1; 2], [0 3]}, {"", "", ""}
%!   "0x3 eye h_currents",      {[1; 2], eye(0, 3), [0 3]}, {"", "diagonal matrix", ""}
%!   "3x0 eye h_currents",      {[1; 2], eye(3, 0), [0 3]}, {"", "diagonal matrix", ""}
%!   "0x2x3 complex h_currents", {[1; 2], complex(zeros(0, 2, 3)), [0 3]}, {"", "complex matrix", ""}
%!   "empty window",            {[1; 2], eye(3), 5:-1:4}, {"", "diagonal matrix", "double_range"}
%! };
%! check_results (@trainfold_mex, cases);

## Every module of the module list (module_table), from its row: each
## argument of its worked example in turn replaced by each lazily stored
## value below. The call must end as the same call on full real copies
## does: the same bits, or the same message; a module that is real_only
## refuses each value stored as complex instead.
%!function [y, message] = outcome (fn, args)
%!  y = [];
%!  message = "";
%!  try
%!    y = fn (args{:});
%!  catch err
%!    message = err.message;
%!  end_try_catch
%!endfunction

%!test
%! lazy = {0.5:0.5:3, (4:-1:1)', eye(3), 0.25 * eye(2, 3), eye(3, 2), ...
%!         eye(4)([2 4 1 3], :), find([0; 1; 0; 1]), 2 + 0i, ...
%!         complex([1; 2], [0; 1]), 3 * eye(2) * (1 + 2i), 1:0, eye(0, 3), ...
%!         eye(3, 0), complex(zeros(0, 2))};
%! modules = module_table ();
%! for k = 1:numel (modules)
%!   m = modules(k);
%!   fn = str2func (m.name);
%!   for i = 1:numel (m.arguments)
%!     for v = 1:numel (lazy)
%!       args = m.example;
%!       args{i} = lazy{v};
%!       full_args = cellfun (@full_copy, args, "uniformoutput", false);
%!       [y, message] = outcome (fn, args);
%!       [want, want_message] = outcome (fn, full_args);
%!       name = sprintf ("%s, %s = lazy value %d (%s)", m.name, m.arguments{i},
%!                       v, typeinfo (lazy{v}));
%!       if (m.real_only && iscomplex (lazy{v}))
%!         prefix = [m.name ": " m.arguments{i} " must be real"];
%!         assert (strncmp (message, prefix, numel (prefix)), name);
%!         assert (isempty (y), name);
%!         continue;
%!       endif
%!       assert (message, want_message, name);
%!       assert_same_bits (y, want, name);
%!     endfor
%!   endfor
%! endfor

## Refusals of huge lazily stored arguments: each is refused with its message
## before the argument is converted, so the call's peak stays far below the
## argument's full size. Arguments too large to be allocated anywhere (a
## 1e6 x 1e6 eye or a range of 2^40 values, 8 TB) turn a conversion into
## Octave's "out of memory" error; a range of 1e8 values (0.8 GB) would show
## in the peak.
%!testif ; exist ("/proc/self/clear_refs", "file") == 2
%! column = "trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!";
%! dims = "spinds or h_currents has more than 2^31 - 1 rows or columns";
%! negative = ["twin(2) must be at least twin(1) - 1 (the window would have " ...
%!             "a negative number of rows)"];
%! twin_nan = ["twin values must be numbers within the 32-bit integer range " ...
%!             "(not NaN or Inf)"];
%! nbns_nan = ["nbns must be a number greater than -1 and less than 2^31 " ...
%!             "(not NaN or Inf)"];
%! rows_max = ["the result would have more than 2^31 - 1 rows " ...
%!             "(size(x, 1) * fix(nbns))"];
%! cases = {
%!   @trainfold_mex, {1:1e9, 1, [0 1]}, column
%!   @trainfold_mex, {eye(1e6), 1, [0 1]}, column
%!   @trainfold_mex, {1, 1:2^40, [0 1]}, dims
%!   @trainfold_mex, {1, eye(1e6), [5 3]}, negative
%!   @trainfold_mex, {1, 1:1e8, [5 3]}, negative
%!   @trainfold_mex, {1, eye(1e6), [0 NaN]}, twin_nan
%!   @tentfill2, {1:2^40, 2}, "x has more than 2^31 - 1 rows or columns"
%!   @tentfill2, {1:1e8, NaN}, nbns_nan
%!   @tentfill2, {eye(1e6), NaN}, nbns_nan
%!   @tentfill2, {eye(1e6), 2^30}, rows_max
%! };
%! report = "";
%! for i = 1:rows (cases)
%!   [fn, args, expected] = cases{i, :};
%!   [peak_mb, message] = refusal_peak (fn, args);
%!   if (! any (strcmp (message, {expected, [func2str(fn) ": " expected]})))
%!     report = [report sprintf("  case %d: got \"%s\"\n", i, message)];
%!   elseif (peak_mb >= 100)
%!     report = [report sprintf("  case %d: peak +%.0f MB\n", i, peak_mb)];
%!   endif
%! endfor
%! assert (isempty (report), "refusals of huge arguments:\n%s", report);
