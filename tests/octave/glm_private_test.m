% Tests of the population GLM's private helpers (toolbox/private, next to
% the modules in <module dir>/private), reached through handles made in
% their folder: the L-BFGS refuses points where the objective or its
% gradient is not finite; glm_constants keeps the shape other tools read.

%!function h = private_handle (name)
%!  folder = fullfile (fileparts (which ("spike_glm_fit")), "private");
%!  here = cd (folder);
%!  unwind_protect
%!    h = str2func (name);
%!  unwind_protect_cleanup
%!    cd (here);
%!  end_unwind_protect
%!endfunction

%!function folder = private_folder ()
%!  folder = fullfile (fileparts (which ("spike_glm_fit")), "private");
%!endfunction

%!function varargout = lbfgs_run (varargin)
%!  ## glm_lbfgs run from its folder: it calls glm_lbfgs_step, a sibling
%!  ## helper that Octave 9 finds only from there.
%!  here = cd (private_folder ());
%!  unwind_protect
%!    h = str2func ("glm_lbfgs");
%!    [varargout{1:nargout}] = h (varargin{:});
%!  unwind_protect_cleanup
%!    cd (here);
%!  end_unwind_protect
%!endfunction

%!function h = lbfgs ()
%!  h = @lbfgs_run;
%!endfunction

%!function [f, g] = walled (x, wall, kind)
%!  ## (x - 3)^2 below WALL; past it the value or the gradient is lost.
%!  f = (x - 3) ^ 2;
%!  g = 2 * (x - 3);
%!  if x >= wall
%!    switch kind
%!      case "gradient"
%!        g = NaN;
%!      case "value"
%!        f = Inf;
%!      case "both"
%!        f = NaN; g = Inf;
%!    endswitch
%!  endif
%!endfunction

%!test
%! ## The minimum at 3 lies past the wall at 1.5: every step that crosses it
%! ## is refused, the solver stops short at a finite point, not converged.
%! h = lbfgs ();
%! for kind = {"gradient", "value", "both"}
%!   [x, iters, converged, f, g] = h (@(x) walled (x, 1.5, kind{1}), 0, 1, 1e-8, 50, []);
%!   assert (all (isfinite ([x, f, g])), "%s: not finite", kind{1});
%!   assert (x < 1.5 && x > 1, "%s: x = %g", kind{1}, x);
%!   assert (! converged, "%s: converged", kind{1});
%! endfor

%!test
%! ## One iteration from 0 in the start metric (d = -g): a rise then a fall
%! ## (at step 1 the value has risen to 1.5 with a flat slope, which the
%! ## curvature test alone would take) gives a Wolfe step that lowers the
%! ## value (the cubic's minimum, at 1/6); a slope twice as steep as the values fall meets no Wolfe
%! ## condition and the lowest value seen is taken; values that only rise
%! ## along a slope said to fall give no step.
%! h = lbfgs ();
%! cases = {
%!   @(x) deal(1 - x + 3.5 * x^2 - 2 * x^3, -1 + 7 * x - 6 * x^2), 1, 1, true
%!   @(x) deal(1 - x, -2), 1, Inf, false
%!   @(x) deal(1 + x, -1), 0, 0, false
%! };
%! for c = 1:rows (cases)
%!   [fun, steps, below, done] = cases{c, :};
%!   [x, iters, converged, f] = h (fun, 0, 1, 1e-8, 1, []);
%!   assert (iters == steps, "case %d: %d iterations", c, iters);
%!   assert (converged == done, "case %d", c);
%!   if steps
%!     assert (f < 1 && x > 0 && x < below, "case %d: x = %g, f = %g", c, x, f);
%!   else
%!     assert (x == 0 && f == 1, "case %d: x = %g, f = %g", c, x, f);
%!   endif
%! endfor

%!test
%! ## Not finite at the start: returns at once, not converged.
%! h = lbfgs ();
%! [x, iters, converged] = h (@(x) walled (x, -1, "gradient"), 0, 1, 1e-8, 50, []);
%! assert ([x, iters, converged], [0, 0, 0]);

%!test
%! ## glm_constants.m: after its help, one "c.<name> = <number>;" per line
%! ## and nothing else (a test of the Python package parses these lines),
%! ## and the numbers parsed are those the function returns.
%! file = fullfile (fileparts (which ("spike_glm_fit")), "private", "glm_constants.m");
%! lines = strsplit (strtrim (fileread (file)), "\n");
%! assert (lines{1}, "function c = glm_constants()");
%! body = lines(! strncmp (lines, "%", 1));
%! body = body(2:end);
%! c = feval (private_handle ("glm_constants"));
%! names = fieldnames (c);
%! assert (numel (body), numel (names));
%! for k = 1:numel (body)
%!   t = regexp (body{k}, '^c\.([a-z_]+) = ([-+0-9.e]+);$', "tokens", "once");
%!   assert (numel (t) == 2, "line: %s", body{k});
%!   assert (t{1}, names{k});
%!   assert (str2double (t{2}), c.(names{k}));
%! endfor

%!function [data, model] = recording (seconds, coupling, stimulus)
%!  ## Three neurons on a 30 kHz clock far from t = 0 (one with a handful
%!  ## of spikes); a stimulus of 100 samples per second, or none.
%!  rand ("twister", 7); randn ("state", 7);
%!  t0 = 1523.25;
%!  counts = [round(9 * seconds), 6, round(4 * seconds)];
%!  spikes = cell (3, 1);
%!  for j = 1:3
%!    spikes{j} = t0 + sort (floor (rand (counts(j), 1) * seconds * 30000) + 0.5) / 30000;
%!  endfor
%!  o = struct ("bin_size", 0.001, "t_start", t0, "history_taps", 100, ...
%!              "basis", "raised_cosine", "n_basis", 5, "coupling", coupling, ...
%!              "stimulus", [], "stimulus_rate", [], "stimulus_lags", 5);
%!  if stimulus
%!    o.stimulus = randn (round (seconds * 100), 1);
%!    o.stimulus_rate = 100;
%!  endif
%!  ## glm_setup calls its sibling helpers: run it from their folder.
%!  here = cd (fullfile (fileparts (which ("spike_glm_fit")), "private"));
%!  unwind_protect
%!    [data, model] = glm_setup (spikes, seconds, o, "test");
%!  unwind_protect_cleanup
%!    cd (here);
%!  end_unwind_protect
%!endfunction

%!test
%! ## Run in the private folder: Octave 9 resolves the private helpers'
%! ## own calls to each other only from there.
%! here = cd (private_folder ());
%! unwind_protect
%!   ## glm_drive block by block (the bias on the samples inside the recording,
%!   ## on the rows near its ends) against the whole-recording formula
%!   ## history + bias + tentfill2(X * K, m); recordings of several blocks,
%!   ## the last one short. A block computed with the pre of another call of
%!   ## the same theta has the same bits as one computed afresh.
%!   drive = private_handle ("glm_drive");
%!   cases = {
%!     ## seconds, coupling, stimulus, neuron
%!     200, true,  true,  1
%!     200, false, true,  3
%!     140, true,  false, 2
%!     150, false, false, 1
%!   };
%!   for c = 1:rows (cases)
%!     [seconds, coupling, stimulus, i] = cases{c, :};
%!     [data, model] = recording (seconds, coupling, stimulus);
%!     nsrc = 1 + 2 * coupling;
%!     theta = [-4.5; 0.8 * randn(model.nstim, 1); 0.3 * randn(nsrc * model.nb, 1)];
%!     taps = model.basis * reshape (theta(2 + model.nstim:end), model.nb, nsrc);
%!     if coupling
%!       want = trainfold_pop (data.merged, data.ids, taps, [0, data.T - 1], 3);
%!     else
%!       want = trainfold_mex (data.shifted{i}, taps, [0, data.T - 1]);
%!     endif
%!     want = want + theta(1);
%!     if stimulus
%!       want = want + tentfill2 (model.X * theta(2:1 + model.nstim), model.m);
%!     endif
%!     eta = drive (model, data, theta, i);
%!     assert (ceil (data.T / data.R) >= 3, "case %d: too few blocks", c);
%!     assert (max (abs (eta - want)) <= 1e-13 * max (abs (want)), "case %d", c);
%!     [~, first] = drive (model, data, theta, i, 1);
%!     for k = 1:ceil (data.T / data.R)
%!       [e, part] = drive (model, data, theta, i, k, first.pre);
%!       assert (isequal (e, eta(part.lo:part.hi), drive (model, data, theta, i, k)), ...
%!               "case %d, block %d", c, k);
%!       ## With its margins (the rows of the block's samples): the same bits
%!       ## on the block's rows.
%!       [p, wide] = drive (model, data, theta, i, k, [], true);
%!       assert (numel (p), wide.twin(2) - wide.twin(1) + 1);
%!       assert (wide.twin, [data.block_first(k), data.block_last(k)] - 1);
%!       if stimulus
%!         assert (numel (p), (wide.s1 - wide.s0) * model.m);
%!       endif
%!       assert (isequal (p(part.lo - wide.twin(1):part.hi - wide.twin(1)), e), ...
%!               "case %d, block %d with margins", c, k);
%!     endfor
%!   endfor
%! unwind_protect_cleanup
%!   cd (here);
%! end_unwind_protect

%!test
%! here = cd (private_folder ());
%! unwind_protect
%!   ## glm_objective (the blocks with their margins, the fit bins split per
%!   ## block by glm_fitset) against whole-recording formulas: the value
%!   ## sum(mu - y .* eta) over the fit bins / n_F plus the ridge term, the
%!   ## gradient from the adjoints of whole columns. Masks whose stripes
%!   ## cross the block edges; the neuron with 6 spikes among the targets.
%!   objective = private_handle ("glm_objective");
%!   fitset = private_handle ("glm_fitset");
%!   drive = private_handle ("glm_drive");
%!   cases = {
%!     ## seconds, coupling, stimulus, masked, neuron
%!     200, true,  true,  false, 1
%!     200, true,  true,  true,  2
%!     200, false, true,  true,  3
%!     140, true,  false, true,  1
%!     150, false, false, false, 2
%!   };
%!   ridge = 1e-3;
%!   for c = 1:rows (cases)
%!     [seconds, coupling, stimulus, masked, i] = cases{c, :};
%!     [data, model] = recording (seconds, coupling, stimulus);
%!     T = data.T;
%!     keep = true (T, 1);
%!     mask = [];
%!     if masked
%!       keep = mod (floor ((0:T - 1)' / 7001), 3) != 1;
%!       mask = keep;
%!     endif
%!     nsrc = 1 + 2 * coupling;
%!     theta = [-4.5; 0.8 * randn(model.nstim, 1); 0.3 * randn(nsrc * model.nb, 1)];
%!     [f, g] = objective (theta, model, data, i, fitset (data, i, mask, nnz (keep)), ridge);
%!     eta = drive (model, data, theta, i);
%!     y = accumarray (data.rows{i}, data.counts{i}, [T, 1]);
%!     mu = exp (eta) .* keep;
%!     want = (sum (mu) - sum (y(keep) .* eta(keep))) / nnz (keep) ...
%!            + ridge / 2 * sum (theta(2:end) .^ 2);
%!     resid = mu - y .* keep;
%!     gs = zeros (0, 1);
%!     if stimulus
%!       gs = model.X' * tentfill2_adjoint (resid, model.m);
%!     endif
%!     if coupling
%!       taps = trainfold_pop_adjoint (data.merged, data.ids, resid, [0, T - 1], model.H, 3);
%!     else
%!       taps = trainfold_adjoint (data.shifted{i}, resid, [0, T - 1], model.H);
%!     endif
%!     gwant = [sum(resid); gs; reshape(model.basis' * taps, [], 1)] / nnz (keep) ...
%!             + [0; ridge * theta(2:end)];
%!     assert (abs (f - want) <= 1e-11 * abs (want), "case %d: value", c);
%!     ## Sums over 10^5 rows in another order: rounding within 1e-11; the
%!     ## bias's entry (the rate sum less the spike count) against the sum.
%!     scale = max (abs (gwant)) + sum (mu) / nnz (keep);
%!     assert (max (abs (g - gwant)) <= 1e-11 * scale, "case %d: gradient", c);
%!   endfor
%! unwind_protect_cleanup
%!   cd (here);
%! end_unwind_protect

%!test
%! here = cd (private_folder ());
%! unwind_protect
%!   ## The runaway data test alone (zero weights: no filter passes the
%!   ## bound): target 2 runs off on source 1 when none of its spikes falls
%!   ## in the 10 bins after one of 1's (bins 100 and 900); a spike in the
%!   ## same bin as 1's is not after it, one 10 bins later still is.
%!   runaway = private_handle ("glm_runaway");
%!   setup = private_handle ("glm_setup");
%!   o = struct ("bin_size", 0.001, "t_start", 0, "history_taps", 10, ...
%!               "basis", ones (10, 1), "n_basis", 1, "coupling", true, ...
%!               "stimulus", [], "stimulus_rate", [], "stimulus_lags", 5);
%!   cases = {
%!     ## target 2's bins, named
%!     [50; 500; 1500],  true
%!     [50; 905],        false
%!     [100; 1500],      true
%!     [110; 1500],      false
%!     [111; 911],       true
%!     [1500; 1901],     true
%!     [899; 910; 1500], false
%!   };
%!   for c = 1:rows (cases)
%!     [b2, named] = cases{c, :};
%!     [data, model] = setup ({([100; 900] + 0.5) / 1000, (b2 + 0.5) / 1000}, 2, o, "test");
%!     sources = runaway (model, data, [-3; 0; 0], 2, 1, []);
%!     assert (isequal (sources, 1) == named, "case %d", c);
%!   endfor
%! unwind_protect_cleanup
%!   cd (here);
%! end_unwind_protect

%!function [f, g] = logged_quadratic (x, A, a, log)
%!  ## 0.5 * (x - a)' * A * (x - a); LOG (a containers.Map) keeps every x.
%!  log(sprintf ("%d", log.Count + 1)) = x;
%!  f = 0.5 * (x - a)' * A * (x - a);
%!  g = A * (x - a);
%!endfunction

%!test
%! ## Run in the private folder, as the drive's test.
%! here = cd (private_folder ());
%! unwind_protect
%!   ## Group lasso on a quadratic: the optimum (the optimality conditions at
%!   ## the returned x, from the gradient computed here) with groups that
%!   ## stay and groups that go to zero; the L-BFGS finish hands its last
%!   ## value and gradient back, so no point is evaluated twice in a row.
%!   lasso = private_handle ("glm_group_lasso");
%!   optimal = private_handle ("glm_group_optimal");
%!   rand ("twister", 3);
%!   Q = orth (rand (9));
%!   A = Q * diag ([1 2 3 5 8 13 21 34 55]) * Q';
%!   A = (A + A') / 2;
%!   groups = {2:4, 5:7, 8:9};
%!   cases = {
%!     ## a, alpha
%!     [1; 3; -2; 1; 0.01; -0.02; 0.01; 2; -1], 0.5
%!     [0.5; 0.1; 0.1; 0.1; 4; -3; 2; 0.05; 0.02], 2
%!   };
%!   for c = 1:rows (cases)
%!     [a, alpha] = cases{c, :};
%!     log = containers.Map ();
%!     [x, iters, converged] = lasso (@(x) logged_quadratic (x, A, a, log), zeros (9, 1), ...
%!                                    A, groups, alpha, 1e-10, 500, []);
%!     assert (converged, "case %d", c);
%!     assert (optimal (A * (x - a), x, groups, alpha, 1e-9), "case %d", c);
%!     points = cellfun (@(k) log(sprintf ("%d", k)), num2cell (1:log.Count), ...
%!                       "UniformOutput", false);
%!     for k = 2:numel (points)
%!       assert (! isequal (points{k}, points{k - 1}), "case %d: point %d again", c, k);
%!     endfor
%!   endfor
%! unwind_protect_cleanup
%!   cd (here);
%! end_unwind_protect

%!test
%! ## The group lasso's optimality test, one condition broken per row:
%! ## groups {2:3, 4:5}, alpha 1, tol 1e-6; x has group 2:3 at zero and group
%! ## 4:5 at [3; 4] (direction [0.6; 0.8]).
%! here = cd (private_folder ());
%! unwind_protect
%!   optimal = private_handle ("glm_group_optimal");
%!   x = [0.2; 0; 0; 3; 4];
%!   groups = {2:3, 4:5};
%!   cases = {
%!     ## g, ok, residual
%!     [0; 0.5; 0.5; -0.6; -0.8], true, 0
%!     [0; 1; 1; -0.6; -0.8], false, sqrt(2) - 1
%!     [0; 0.5; 0.5; -0.59; -0.8], false, 0.01
%!     [1e-3; 0.5; 0.5; -0.6; -0.8], false, 1e-3
%!     [0; 0.5; NaN; -0.6; -0.8], false, Inf
%!   };
%!   for c = 1:rows (cases)
%!     [g, want, residual] = cases{c, :};
%!     [ok, r] = optimal (g, x, groups, 1, 1e-6);
%!     assert (ok == want, "case %d", c);
%!     assert (r, residual, 1e-12);
%!   endfor
%! unwind_protect_cleanup
%!   cd (here);
%! end_unwind_protect
