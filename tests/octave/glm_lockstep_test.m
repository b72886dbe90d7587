% Neurons fitted in lockstep: the L-BFGS that is advanced one evaluation at
% a time gives the bits of the loop it replaced (a copy of that loop is kept
% here as the reference), the batch objective gives each target the bits of
% its own objective, and spike_glm_fit gives the same bits for any number of
% neurons fitted at a time. Run by CTest through run_tests.m on the modules'
% folder (the toolbox copied next to them).

%!function h = private_handle (name)
%!  folder = fullfile (fileparts (which ("spike_glm_fit")), "private");
%!  here = cd (folder);
%!  unwind_protect
%!    h = str2func (name);
%!  unwind_protect_cleanup
%!    cd (here);
%!  end_unwind_protect
%!endfunction

%!function [ok, detail] = bits (a, b)
%!  ## Same bits (same_bits) of every field of two structs or two arrays.
%!  if isstruct (a)
%!    ok = isequal (fieldnames (a), fieldnames (b)); detail = "field names";
%!    for f = fieldnames (a)'
%!      if ok
%!        [ok, detail] = bits (a.(f{1}), b.(f{1}));
%!        detail = [f{1} ": " detail];
%!      endif
%!    endfor
%!  elseif isnumeric (a) || islogical (a)
%!    [ok, detail] = same_bits (double (a), double (b));
%!  else
%!    ok = isequal (a, b); detail = "differ";
%!  endif
%!endfunction

%!## The loop as it was before the solver could be advanced step by step.
%!function [x, iters, converged, f, g, aux] = lbfgs_before (fun, x, R, tol, max_iter, report)
%!  c = glm_constants ();
%!  memory = c.lbfgs_memory;
%!  S = zeros (numel (x), 0); Y = zeros (numel (x), 0);
%!  keep = nargout > 5;
%!  [f, g, aux] = evaluate_before (fun, x, keep);
%!  iters = 0;
%!  if ! isfinite (f) || any (! isfinite (g))
%!    converged = false;
%!    return;
%!  endif
%!  converged = norm (g, Inf) <= tol;
%!  while ! converged && iters < max_iter
%!    d = -two_loop_before (g, S, Y, R);
%!    if ! (g' * d < 0)
%!      S = S(:, []); Y = Y(:, []);
%!      d = -(R \ (R' \ g));
%!    endif
%!    [xn, fn, gn, ok, an] = wolfe_before (fun, x, f, g, d, aux, keep);
%!    if ! ok && columns (S) > 0
%!      S = S(:, []); Y = Y(:, []);
%!      d = -(R \ (R' \ g));
%!      [xn, fn, gn, ok, an] = wolfe_before (fun, x, f, g, d, aux, keep);
%!    endif
%!    if ! ok
%!      break;
%!    endif
%!    s = xn - x; y = gn - g;
%!    if s' * y > 1e-14 * norm (s) * norm (y)
%!      S = [S(:, max(1, end - memory + 2):end), s];
%!      Y = [Y(:, max(1, end - memory + 2):end), y];
%!    endif
%!    x = xn; f = fn; g = gn; aux = an;
%!    iters = iters + 1;
%!    converged = norm (g, Inf) <= tol;
%!    if ! isempty (report) && mod (iters, 25) == 0
%!      report (iters, f, norm (g, Inf));
%!    endif
%!  endwhile
%!endfunction

%!function [f, g, aux] = evaluate_before (fun, x, keep)
%!  aux = [];
%!  if keep
%!    [f, g, aux] = fun (x);
%!  else
%!    [f, g] = fun (x);
%!  endif
%!endfunction

%!function r = two_loop_before (g, S, Y, R)
%!  k = columns (S); a = zeros (k, 1); rho = zeros (k, 1); q = g;
%!  for n = k:-1:1
%!    rho(n) = 1 / (Y(:, n)' * S(:, n));
%!    a(n) = rho(n) * (S(:, n)' * q);
%!    q = q - a(n) * Y(:, n);
%!  endfor
%!  r = R \ (R' \ q);
%!  for n = 1:k
%!    b = rho(n) * (Y(:, n)' * r);
%!    r = r + S(:, n) * (a(n) - b);
%!  endfor
%!endfunction

%!function [x, f, g, ok, aux] = wolfe_before (fun, x0, f0, g0, d, aux0, keep)
%!  c1 = 1e-4; c2 = 0.9; dphi0 = g0' * d; noise = 1e-11 * abs (f0);
%!  lo = 0; flo = f0; dlo = dphi0; hi = Inf; fhi = NaN; dhi = NaN;
%!  alpha = 1; ok = false;
%!  x = x0; f = f0; g = g0; aux = aux0;
%!  best = struct ("f", f0, "x", x0, "g", g0, "aux", aux0);
%!  for evals = 1:40
%!    xa = x0 + alpha * d;
%!    [fa, ga, aa] = evaluate_before (fun, xa, keep);
%!    if ! isfinite (fa) || any (! isfinite (ga))
%!      fa = Inf; ga = NaN (size (ga));
%!    endif
%!    da = ga' * d;
%!    if fa < best.f
%!      best = struct ("f", fa, "x", xa, "g", ga, "aux", aa);
%!    endif
%!    armijo = fa <= f0 + c1 * alpha * dphi0;
%!    strong = abs (da) <= c2 * abs (dphi0);
%!    approx = fa <= f0 + noise && da <= -0.8 * dphi0 && da >= c2 * dphi0;
%!    if (armijo && strong) || approx
%!      x = xa; f = fa; g = ga; aux = aa; ok = true;
%!      return;
%!    endif
%!    if ! isfinite (fa) || ! armijo || fa >= flo
%!      hi = alpha; fhi = fa; dhi = da;
%!    elseif da * (hi - lo) >= 0 || (isinf (hi) && da > 0)
%!      hi = lo; fhi = flo; dhi = dlo; lo = alpha; flo = fa; dlo = da;
%!    else
%!      lo = alpha; flo = fa; dlo = da;
%!    endif
%!    if isinf (hi)
%!      alpha = 4 * alpha;
%!    else
%!      alpha = interpolate_before (lo, flo, dlo, hi, fhi, dhi);
%!    endif
%!    if abs (hi - lo) < 1e-14 * max (1, abs (lo))
%!      break;
%!    endif
%!  endfor
%!  if best.f < f0
%!    x = best.x; f = best.f; g = best.g; aux = best.aux; ok = true;
%!  endif
%!endfunction

%!function a = interpolate_before (a0, f0, d0, a1, f1, d1)
%!  lo = min (a0, a1); span = abs (a1 - a0); a = (a0 + a1) / 2;
%!  if isfinite (f1) && isfinite (d1)
%!    t1 = d0 + d1 - 3 * (f0 - f1) / (a0 - a1);
%!    disc = t1^2 - d0 * d1;
%!    if disc >= 0
%!      t2 = sign (a1 - a0) * sqrt (disc);
%!      c = a1 - (a1 - a0) * ((d1 + t2 - t1) / (d1 - d0 + 2 * t2));
%!      if isfinite (c)
%!        a = c;
%!      endif
%!    endif
%!  endif
%!  a = min (max (a, lo + 0.1 * span), lo + 0.9 * span);
%!endfunction

%!function [f, g, aux] = point (f, g, aux)
%!  ## Value, gradient and record of a point, for one-line functions.
%!endfunction

%!function [f, g, aux] = rosenbrock (x)
%!  f = sum (100 * (x(2:end) - x(1:end-1) .^ 2) .^ 2 + (1 - x(1:end-1)) .^ 2);
%!  g = zeros (size (x));
%!  t = x(2:end) - x(1:end-1) .^ 2;
%!  g(1:end-1) = -400 * x(1:end-1) .* t - 2 * (1 - x(1:end-1));
%!  g(2:end) += 200 * t;
%!  aux = struct ("x", x, "norm", norm (x));
%!endfunction

%!function [f, g, aux] = poisson (b, X, y, wall)
%!  ## A Poisson regression whose rate overflows past |b| > wall (Inf), a
%!  ## non-convex bump on the first weight to make stale memories.
%!  eta = X * b;
%!  mu = exp (eta);
%!  if any (abs (b) > wall), mu(1) = Inf; endif
%!  f = sum (mu - y .* eta) / rows (X) + 0.3 * sin (7 * b(1));
%!  g = X' * (mu - y) / rows (X);
%!  g(1) += 2.1 * cos (7 * b(1));
%!  aux = b(1);
%!endfunction

%!test
%! ## The step-by-step solver is the loop it replaced, bit for bit: point,
%! ## iterations, convergence, value, gradient, the caller's record and the
%! ## progress lines, on problems that reach every branch (the walls of
%! ## non-finite values, memories thrown away, the approximate-Wolfe and
%! ## best-decrease ends, the iteration cap, a start that is not finite, a
%! ## slope at step 1 exactly c2 times the first, taken as approximately
%! ## Wolfe).
%! lbfgs = private_handle ("glm_lbfgs");
%! rand ("state", 5); randn ("state", 5);
%! X = [ones(400, 1), randn(400, 5)];
%! y = max (0, round (exp (X * [0.2; 0.5; -0.3; 0.1; 0; 0.4]) + randn (400, 1)));
%! A = randn (6); R6 = chol (A' * A + eye (6));
%! cases = {  % fun, x0, R, tol, max_iter
%!   @rosenbrock, [-1.2; 1], eye(2), 1e-10, 1000
%!   @rosenbrock, [-1.2; 1; -1; 0.5; 2; 1], R6, 1e-9, 1000
%!   @rosenbrock, [-1.2; 1; -1; 0.5; 2; 1], eye(6), 1e-12, 3
%!   @rosenbrock, [-1.2; 1; -1; 0.5; 2; 1], eye(6), 1e-12, 60
%!   @(b) poisson(b, X, y, Inf), zeros(6, 1), R6, 1e-10, 1000
%!   @(b) poisson(b, X, y, 0.45), zeros(6, 1), eye(6), 1e-10, 1000
%!   @(b) poisson(b, X, y, 0.45), zeros(6, 1), 10 * R6, 1e-10, 200
%!   @(x) point(1 - x + 3.5 * x^2 - 2 * x^3, -1 + 7 * x - 6 * x^2, x), 0, 1, 1e-8, 1
%!   @(x) point(1 - x, -2, x), 0, 1, 1e-8, 1
%!   @(x) point(1 + x, -1, x), 0, 1, 1e-8, 5
%!   @(x) point((x - 3) ^ 2, 2 * (x - 3) + NaN * (x >= 1.5), x), 0, 1, 1e-8, 50
%!   @(x) point(Inf, 0, x), 0, 1, 1e-8, 50
%!   @(x) point(1 + 1e-20 * (x - 1)^2 + 4.4e-16 * (x != 0), 2e-20 * (x - 1), x), 0, sqrt(2e-20), 1e-30, 5
%!   @(x) point(1, -1 + 0.1 * x, x), 0, 1, 1e-8, 1
%! };
%! ## The test helpers (same_bits) stay reachable in the private folder,
%! ## wherever the tests run from (an installed package's test folder too).
%! saved = path ();
%! addpath (fileparts (which ("same_bits")));
%! here = cd (fullfile (fileparts (which ("spike_glm_fit")), "private"));
%! unwind_protect
%! for c = 1:rows (cases)
%!   [fun, x0, R, tol, max_iter] = cases{c, :};
%!   report = @(k, f, r) printf ("%d %.17g %.17g\n", k, f, r);
%!   old = struct (); new = struct ();
%!   old.lines = evalc ("[old.x, old.iters, old.conv, old.f, old.g, old.aux] = lbfgs_before (fun, x0, R, tol, max_iter, report);");
%!   new.lines = evalc ("[new.x, new.iters, new.conv, new.f, new.g, new.aux] = lbfgs (fun, x0, R, tol, max_iter, report);");
%!   [ok, detail] = bits (new, old);
%!   assert (ok, "case %d: %s", c, detail);
%!   [x3, i3, c3] = lbfgs (fun, x0, R, tol, max_iter, []);
%!   assert (same_bits (x3, old.x) && i3 == old.iters && c3 == old.conv, "case %d, 3 outputs", c);
%! endfor
%! unwind_protect_cleanup
%!   cd (here);
%!   path (saved);
%! end_unwind_protect

%!function [spikes, S] = population (t0, seconds)
%!  ## Seven units on whole milliseconds (bin edges) from t0: unit 2 copies
%!  ## some of unit 1's spikes 2 bins later, unit 6 fires 6 times, unit 7
%!  ## 3 times; the others at random. One stimulus channel at 100 Hz.
%!  rand ("twister", 21); randn ("state", 21);
%!  T = 1000 * seconds;
%!  b = cell (7, 1);
%!  for j = [1, 3, 4, 5]
%!    b{j} = find (rand (T, 1) < 0.004 + 0.002 * j) - 1;
%!  endfor
%!  b{2} = unique ([b{1}(rand (size (b{1})) < 0.5) + 2; find(rand (T, 1) < 0.005) - 1]);
%!  b{2}(b{2} >= T) = [];
%!  b{6} = [137; 4000; 9090; 15000; 15003; 19998];
%!  b{7} = [50; 7000; 12001];
%!  spikes = cellfun (@(x) (1000 * t0 + x) / 1000, b, "UniformOutput", false);
%!  S = randn (100 * seconds, 1);
%!endfunction

%!function s = keep_all (s, f, g, before)
%!  ## A solver of the batch objective's test: it keeps every value,
%!  ## gradient and point handed to it and moves its point by a fixed step
%!  ## each round, until its rounds are used up.
%!  s.f(end + 1) = f;
%!  s.g(:, end + 1) = g;
%!  s.points(:, end + 1) = s.point;
%!  s.before(end + 1) = before;
%!  s.point = s.point + s.move;
%!  s.done = numel (s.f) == s.rounds;
%!endfunction

%!test
%! ## The test helpers (same_bits) stay reachable in the private folder,
%! ## wherever the tests run from (an installed package's test folder too).
%! saved = path ();
%! addpath (fileparts (which ("same_bits")));
%! here = cd (fullfile (fileparts (which ("spike_glm_fit")), "private"));
%! unwind_protect
%!   ## The batch objective gives each target the bits of its own objective,
%!   ## round after round as the targets of the batch end one by one:
%!   ## targets in any order, their filters zero (the start) or not, a rate
%!   ## that overflows (Inf, NaN gradient), over 140 s (three blocks of
%!   ## rows) with and without a stimulus, all bins or a mask with a gap
%!   ## across a block edge. Unit 8 fires in every bin, so that spikes reach
%!   ## the first row of every window of rows the drive is made in, with the
%!   ## last tap of filters whose last tap is not zero.
%!   one = str2func ("glm_objective");
%!   batch = str2func ("glm_batch_objective");
%!   fitset = str2func ("glm_fitset");
%!   setup = str2func ("glm_setup");
%!   [spikes, S] = population (1e5, 140);
%!   spikes{8} = (1e8 + (0:139999)') / 1000;
%!   gap = true (140000, 1);
%!   gap(60000:70000) = false;
%!   cases = {  % stimulus, mask, ridge, targets, rounds of each
%!     true,  [],  0,    [4, 2, 6, 1, 7, 8],    [3, 1, 2, 3, 1, 2]
%!     true,  gap, 1e-3, [3, 5],                [1, 1]
%!     false, gap, 0,    [1, 2, 3, 4, 5, 6, 7], [1, 4, 2, 2, 3, 1, 4]
%!     false, [],  1e-3, 6,                     2
%!   };
%!   for c = 1:rows (cases)
%!     [stimulus, mask, ridge, targets, rounds] = cases{c, :};
%!     o = struct ("bin_size", 0.001, "t_start", 1e5, "history_taps", 10, ...
%!                 "basis", [ones(10, 1), (10:-1:1)' / 10, (1:10)' / 10], ...
%!                 "n_basis", 3, "coupling", true, ...
%!                 "stimulus", [], "stimulus_rate", [], "stimulus_lags", 2);
%!     if stimulus
%!       o.stimulus = S; o.stimulus_rate = 100;
%!     endif
%!     [data, model] = setup (spikes, 140, o, "test", mask, "fit_bins");
%!     K = numel (targets);
%!     P = 1 + model.nstim + 8 * model.nb;
%!     thetas = [-5 + 0.1 * randn(1, K); 0.3 * randn(P - 1, K)];
%!     thetas(2:end, 1) = 0;          % the start: no history, no stimulus
%!     if K > 2
%!       thetas(1, 2) = 800;          % the rate overflows
%!     endif
%!     sets = arrayfun (@(i) fitset (data, i, data.mask, data.nF), targets, "UniformOutput", false);
%!     states = cell (K, 1);
%!     for q = 1:K
%!       states{q} = struct ("point", thetas(:, q), "done", false, "rounds", rounds(q), ...
%!                           "move", 0.01 * randn (P, 1), "f", [], "g", [], ...
%!                           "points", [], "before", []);
%!     endfor
%!     states = batch (model, data, targets, sets, ridge, states, @keep_all);
%!     for q = 1:K
%!       s = states{q};
%!       assert (numel (s.f) == rounds(q) && s.done, "case %d, target %d", c, targets(q));
%!       ## The solvers that ended before: those of fewer rounds, and those of
%!       ## as many that come first.
%!       assert (s.before(end), nnz (rounds < rounds(q)) + nnz (rounds(1:q-1) == rounds(q)));
%!       for round = 1:rounds(q)
%!         [f1, g1] = one (s.points(:, round), model, data, targets(q), sets{q}, ridge);
%!         [ok, detail] = same_bits ([s.f(round); s.g(:, round)], [f1; g1]);
%!         assert (ok, "case %d, target %d, round %d: %s", c, targets(q), round, detail);
%!       endfor
%!       assert (isfinite (s.f(1)) == (K < 3 || q != 2), "case %d, target %d", c, targets(q));
%!     endfor
%!   endfor
%! unwind_protect_cleanup
%!   cd (here);
%!   path (saved);
%! end_unwind_protect

%!function lines = progress (out)
%!  ## The verbose lines, sorted, without their times.
%!  lines = regexp (out, "[^\n]*neuron \\d+[^\n]*", "match");
%!  lines = sort (regexprep (lines, "\\(\\d+\\.\\d s so far, about \\d+\\.\\d s left\\)", ""));
%!endfunction

%!test
%! ## spike_glm_fit in lockstep gives the bits of fitting one neuron at a
%! ## time: penalty 'none' and ridge, batch widths that do not divide the
%! ## number of fitted neurons, a unit below min_spikes (silent, and a fixed
%! ## source of the others), a unit of 6 spikes (its fit runs off without a
%! ## penalty), fit bins with a gap, and a max_iter that stops some solvers
%! ## of a batch while the others go on. The warnings and the verbose lines
%! ## (each neuron's, in the order the solvers end) are the same. Only the
%! ## fit's own warnings are on: Octave's functions warn of language
%! ## extensions they use in some versions, a call more on one path.
%! [spikes, S] = population (1e5, 20);
%! gap = true (20000, 1);
%! gap(8000:9500) = false;
%! cases = {  % penalty, alpha, min_spikes, fit_bins, max_iter, widths
%!   "none",  0,    0, [],  1000, [8, 3]
%!   "ridge", 1e-5, 4, [],  1000, [8, 4]
%!   "ridge", 1e-5, 0, gap, 1000, [2, 8]
%!   "none",  0,    4, gap, 40,   [8, 3]
%! };
%! warned = warning ();
%! warning ("off", "all");
%! for id = {"spike_glm:silentNeuron", "spike_glm:runaway", "spike_glm:notConverged"}
%!   warning ("on", id{1});
%! endfor
%! unwind_protect
%! for c = 1:rows (cases)
%!   [penalty, alpha, min_spikes, mask, max_iter, widths] = cases{c, :};
%!   o = struct ("t_start", 1e5, "history_taps", 10, "n_basis", 3, ...
%!               "stimulus", S, "stimulus_rate", 100, "stimulus_lags", 2, ...
%!               "penalty", penalty, "alpha", alpha, "min_spikes", min_spikes, ...
%!               "fit_bins", mask, "max_iter", max_iter, "inference", false, ...
%!               "verbose", true);
%!   lastwarn ("");
%!   out = evalc ("one = spike_glm_fit (spikes, 20, o, 1);");
%!   [msg, id] = lastwarn ();
%!   lines = progress (out);
%!   assert (numel (lines) >= 6);
%!   if max_iter < 1000
%!     assert (any (one.iterations == max_iter) && any (one.iterations(one.iterations > 0) < max_iter), ...
%!             "case %d: %s", c, mat2str (one.iterations'));
%!   endif
%!   for width = widths
%!     lastwarn ("");
%!     out = evalc ("many = spike_glm_fit (spikes, 20, o, width);");
%!     [msg2, id2] = lastwarn ();
%!     [ok, detail] = bits (many, one);
%!     assert (ok, "case %d, width %d: %s", c, width, detail);
%!     assert (strcmp (msg2, msg) && strcmp (id2, id), "case %d, width %d: %s", c, width, msg2);
%!     assert (isequal (progress (out), lines), "case %d, width %d: verbose lines", c, width);
%!   endfor
%! endfor
%! unwind_protect_cleanup
%!   warning (warned);
%! end_unwind_protect

%!test
%! ## verbose in lockstep: the time left after each neuron is the mean time
%! ## per neuron so far times the neurons left, counting the silent ones
%! ## (here the first) and every neuron done in earlier batches and rounds;
%! ## a stand-in toc says 6 s have passed. The same numbers in the order
%! ## the lines come for any batch width.
%! [spikes, S] = population (1e5, 20);
%! spikes = spikes([7, 1:6]);   % 3 spikes: silent below min_spikes = 4
%! o = struct ("t_start", 1e5, "history_taps", 10, "n_basis", 3, ...
%!             "min_spikes", 4, "max_iter", 3, "inference", false, "verbose", true);
%! stand_in = stand_in_toc (6);
%! warning ("off", "Octave:shadowed-function", "local");
%! warning ("off", "spike_glm:notConverged", "local");
%! warning ("off", "spike_glm:silentNeuron", "local");
%! addpath (stand_in);
%! unwind_protect
%!   for width = [1, 4, 8]
%!     out = evalc ("spike_glm_fit (spikes, 20, o, width);");
%!     left = regexp (out, '\(6\.0 s so far, about (\S+) s left\)', "tokens");
%!     got = str2double ([left{:}]);
%!     assert (isequal (got, [15, 8, 4.5, 2.4, 1, 0]), "width %d: %s", width, mat2str (got));
%!   endfor
%! unwind_protect_cleanup
%!   rmpath (stand_in);
%!   delete (fullfile (stand_in, "toc.m"));
%!   rmdir (stand_in);
%! end_unwind_protect
