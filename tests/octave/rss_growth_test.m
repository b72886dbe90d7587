## Memory growth of the modules over many calls, one loop per kind of value
## Octave can hand over: full, range, diagonal (eye), permutation, lazy index
## (find), complex, scalar, empty, N-D, and refusals. Octave stores all but the
## full values lazily and converts them when a module asks for their data; a
## gateway that asks in the wrong order loses a little memory on every call
## (16 bytes per argument, about 80 bytes of resident memory per call), which
## only shows after many calls. Each loop fails when the process's resident
## size grows by more than a small bound.
##
## Reads the resident size from /proc (Linux); skipped elsewhere.
## Run with the modules on the path:  test rss_growth_test

%!function kb = resident_kb ()
%!  status = fileread ("/proc/self/status");
%!  kb = str2double (regexp (status, 'VmRSS:\s*(\d+)', "tokens", "once"){1});
%!endfunction

## Calls fn(args{:}) `count` times after a short warm-up and returns the
## growth of the resident size in kB. Refusals are caught: their paths count
## too.
%!function growth = growth_kb (fn, args, count)
%!  for i = 1:500
%!    try
%!      fn (args{:});
%!    catch
%!    end_try_catch
%!  endfor
%!  before = resident_kb ();
%!  for i = 1:count
%!    try
%!      fn (args{:});
%!    catch
%!    end_try_catch
%!  endfor
%!  growth = resident_kb () - before;
%!endfunction

## Each case counts the smaller growth of two runs, the second run made only
## when the first one is above the bound: a loss on every call keeps both
## above it, a one-off growth of Octave's own (a cache, a buffer of its
## error handling) does not come back.
%!function check_cases (cases, count, bound_kb)
%!  report = "";
%!  for i = 1:rows (cases)
%!    [name, fn, args] = cases{i, :};
%!    growth = growth_kb (fn, args, count);
%!    if (growth > bound_kb)
%!      growth = min (growth, growth_kb (fn, args, count));
%!    endif
%!    if (growth > bound_kb)
%!      report = [report sprintf("  %s %s: +%d kB\n", func2str(fn), name, growth)];
%!    endif
%!  endfor
%!  if (! isempty (report))
%!    error ("resident size grew by more than %d kB in %d calls:\n%s",
%!           bound_kb, count, report);
%!  endif
%!endfunction

## 8000 calls losing 80 bytes each (a 96-byte heap block) grow the process by
## about 750 kB, and losing 16 bytes (a 32-byte block) by 250 kB; a clean
## module stays within a page or two. Octave's own heap grows by about 2 MB
## over the first 10000 errors a process raises, then no more (one module's
## refusal or another's alike): 20000 refusals come first, before any case
## is measured.
%!shared count, bound_kb, perm, cplx
%! count = 8000;
%! bound_kb = 128;
%! perm = eye (20)(randperm (20), :);
%! cplx = complex ([1; 2; 3], [1; 0; -1]);
%! for i = 1:20000
%!   try
%!     tentfill2 (single (1), 3);
%!   catch
%!   end_try_catch
%! endfor

%!testif ; exist ("/proc/self/status", "file") == 2
%! cases = {
%!   "full x",                @tentfill2, {rand(20), 3}
%!   "range x",               @tentfill2, {1:50, 3}
%!   "eye x",                 @tentfill2, {eye(20), 3}
%!   "rectangular eye x",     @tentfill2, {eye(4, 7), 3}
%!   "permutation x",         @tentfill2, {perm, 3}
%!   "lazy index x",          @tentfill2, {find([0; 1; 1; 0; 1]), 3}
%!   "complex x",             @tentfill2, {cplx, 3}
%!   "complex eye x",         @tentfill2, {eye(5) * (1 + 2i), 3}
%!   "complex N-D x",         @tentfill2, {complex(ones(2, 3, 2), 1), 3}
%!   "complex scalar x",      @tentfill2, {2 + 1i, 3}
%!   "empty eye x",           @tentfill2, {eye(0, 3), 3}
%!   "empty range x",         @tentfill2, {1:0, 3}
%!   "empty complex x",       @tentfill2, {complex(zeros(0, 2)), 3}
%!   "range nbns",            @tentfill2, {[1; 2], 3:5}
%!   "complex nbns",          @tentfill2, {[1; 2], 3 + 1i}
%!   "eye nbns",              @tentfill2, {[1; 2], 3 * eye(2)}
%!   "eye x, refused nbns",   @tentfill2, {eye(20), NaN}
%!   "eye x, refused rows",   @tentfill2, {eye(20), 2^30}
%! };
%! check_cases (cases, count, bound_kb);

%!testif ; exist ("/proc/self/status", "file") == 2
%! cases = {
%!   "full arguments",             @trainfold_mex, {[1; 2], rand(3), [0 3]}
%!   "eye h_currents",             @trainfold_mex, {1, eye(3), [0 3]}
%!   "rectangular eye h_currents", @trainfold_mex, {[1; 2], eye(3, 5), [0 3]}
%!   "permutation h_currents",     @trainfold_mex, {[1; 2], perm, [0 30]}
%!   "range h_currents",           @trainfold_mex, {[1; 2], 1:5, [0 3]}
%!   "complex h_currents",         @trainfold_mex, {[1; 2], cplx, [0 3]}
%!   "complex N-D h_currents",     @trainfold_mex, {1, complex(ones(2, 2, 2), 1), [0 3]}
%!   "complex spinds",             @trainfold_mex, {2 + 1i, [1; 2], [0 3]}
%!   "complex column spinds",      @trainfold_mex, {cplx, [1; 2], [0 3]}
%!   "lazy index spinds",          @trainfold_mex, {find([0; 1; 1]), [1; 2], [0 3]}
%!   "eye spinds",                 @trainfold_mex, {eye(1), [1; 2], [0 3]}
%!   "empty eye spinds",           @trainfold_mex, {eye(0), [1; 2], [0 3]}
%!   "empty range spinds",         @trainfold_mex, {1:0, [1; 2], [0 3]}
%!   "empty complex spinds",       @trainfold_mex, {complex(zeros(0, 1)), [1; 2], [0 3]}
%!   "empty eye h_currents",       @trainfold_mex, {1, eye(0, 3), [0 3]}
%!   "range twin",                 @trainfold_mex, {[1; 2], [1; 2], 0:3}
%!   "complex twin",               @trainfold_mex, {[1; 2], [1; 2], [0 3] + 1i}
%!   "range spinds, refused row",  @trainfold_mex, {1:50, [1; 2], [0 3]}
%!   "eye h_currents, refused twin", @trainfold_mex, {1, eye(3), [5 3]}
%! };
%! check_cases (cases, count, bound_kb);

## Every module of the module list: its worked example, each argument stored
## as a complex value, and each argument refused for its class.
%!testif ; exist ("/proc/self/status", "file") == 2
%! modules = module_table ();
%! cases = cell (0, 3);
%! for k = 1:numel (modules)
%!   m = modules(k);
%!   fn = str2func (m.name);
%!   cases(end + 1, :) = {"example", fn, m.example};
%!   for i = 1:numel (m.arguments)
%!     args = m.example;
%!     args{i} = complex (args{i}, 1);
%!     cases(end + 1, :) = {["complex " m.arguments{i}], fn, args};
%!     args{i} = single (1);
%!     cases(end + 1, :) = {["refused " m.arguments{i}], fn, args};
%!   endfor
%! endfor
%! check_cases (cases, count, bound_kb);
