%% Faults of spike_glm_fit that its own tests let through: refusals at the
%% edge of each option's range, iteration counts, the verbose report, the
%% silent-neuron warning (only for silent neurons), group-lasso optimality
%% with a dropped group ahead of a kept one. Run by CTest through
%% run_tests.m on the modules' folder (the toolbox copied next to them).

%!function [spikes, S] = recording (t0)
%!  ## 3 neurons on a 1 ms grid over 20 s from t0, one stimulus channel at
%!  ## 100 Hz: neuron 1 at random, neuron 2 a few ms after every second
%!  ## spike of neuron 1 (strong coupling 1 -> 2), neuron 3 at random.
%!  rand ("state", 11); randn ("state", 11);
%!  b1 = sort (randperm (19990, 600)' - 1);
%!  b2 = unique ([b1(1:2:end) + 2 + floor(3 * rand(300, 1)); randperm(19990, 100)' - 1]);
%!  b3 = sort (randperm (20000, 400)' - 1);
%!  spikes = {t0 + (b1 + 0.5) / 1000, t0 + (b2 + 0.5) / 1000, t0 + (b3 + 0.5) / 1000};
%!  S = randn (2000, 1);
%!endfunction

%!function o = options (varargin)
%!  o = struct ("history_taps", 10, "n_basis", 2, "stimulus_lags", 2, ...
%!              "t_start", 1000, "stimulus_rate", 100, varargin{:});
%!endfunction

%!function [fit, out] = quiet_fit (spikes, S, o)
%!  o.stimulus = S;
%!  warning ("off", "spike_glm:notConverged", "local");
%!  out = evalc ("fit = spike_glm_fit (spikes, 20, o);");
%!endfunction

%!test
%! ## Refusals at the edges of the ranges name the option.
%! [spikes, S] = recording (1000);
%! cases = {
%!   "tol", 0, "opts.tol must be a positive number"
%!   "tol", -1e-8, "opts.tol must be a positive number"
%!   "tol", NaN, "opts.tol must be a positive number"
%!   "bin_size", 0, "opts.bin_size must be a positive finite number"
%!   "bin_size", Inf, "opts.bin_size must be a positive finite number"
%!   "stimulus_rate", 0, "opts.stimulus_rate must be a positive finite number"
%!   "stimulus_rate", -100, "opts.stimulus_rate must be a positive finite number"
%!   "max_iter", 0, "opts.max_iter must be a whole number >= 1"
%!   "max_iter", -1, "opts.max_iter must be a whole number >= 1"
%!   "max_iter", 1.5, "opts.max_iter must be a whole number >= 1"
%!   "max_iter", 2^31, "opts.max_iter must be a whole number >= 1"
%!   "min_spikes", -1, "opts.min_spikes must be a whole number >= 0"
%!   "min_spikes", 2^31, "opts.min_spikes must be a whole number >= 0"
%!   "alpha", Inf, "opts.alpha must be a finite number >= 0"
%!   "alpha", NaN, "opts.alpha must be a finite number >= 0"
%!   "n_basis", 0, "opts.n_basis must be a whole number >= 1"
%!   "stimulus_lags", 0, "opts.stimulus_lags must be a whole number >= 1"
%!   "stimulus_lags", 2^31, "opts.stimulus_lags must be a whole number >= 1"
%!   "history_taps", 20001, "opts.history_taps (20001) is longer than the recording (20000 bins)"
%!   "t_start", NaN, "opts.t_start must be a finite real number"
%!   "stimulus", [S(1:end-1); NaN], "opts.stimulus must be a finite real matrix"
%!   "stimulus", [S(1:end-1); Inf], "opts.stimulus must be a finite real matrix"
%!   "stimulus", S + 1i, "opts.stimulus must be a finite real matrix"
%!   "stimulus", repmat(S, [1 1 2]), "opts.stimulus must be a finite real matrix"
%!   "stimulus", repmat("a", 2000, 1), "opts.stimulus must be a finite real matrix"
%! };
%! for c = 1:rows (cases)
%!   [name, value, expected] = cases{c, :};
%!   o = options ("stimulus", S);
%!   o.(name) = value;
%!   try
%!     spike_glm_fit (spikes, 20, o);
%!     error ("no error for case %d", c);
%!   catch err
%!     want = ["spike_glm_fit: " expected];
%!     assert (strncmp (err.message, want, numel (want)), ...
%!             "case %d: %s", c, err.message);
%!   end_try_catch
%! endfor
%! ## A duration that holds no bin, and one that holds one.
%! try
%!   spike_glm_fit ({[]}, 0.0009, struct ("history_taps", 1, "n_basis", 1));
%!   error ("no error for a duration below one bin");
%! catch err
%!   assert (! isempty (strfind (err.message, "holds no bin")), err.message);
%! end_try_catch
%! fit = spike_glm_fit ({0.0005}, 0.001, struct ("basis", 1));
%! assert (fit.n_bins, 1);

%!test
%! ## The values at the edges of the ranges are taken.
%! [spikes, S] = recording (1000);
%! for c = {{"max_iter", 1}, {"stimulus_lags", 1}, {"history_taps", 20000, "n_basis", 1}}
%!   o = options (c{1}{:});
%!   if isfield (o, "n_basis") && o.n_basis == 1
%!     o.max_iter = 1;   # taken, not fitted to the end
%!   endif
%!   fit = quiet_fit (spikes, S, o);
%!   assert (all (isfinite (fit.weights(:))));
%! endfor

%!test
%! ## A penalty of weight 0 is no penalty: the same fit, bit for bit.
%! [spikes, S] = recording (1000);
%! none = quiet_fit (spikes, S, options ());
%! for penalty = {"ridge", "group_lasso"}
%!   zero = quiet_fit (spikes, S, options ("penalty", penalty{1}, "alpha", 0));
%!   assert (zero.weights, none.weights);
%!   assert (zero.iterations, none.iterations);
%! endfor
%! ## Without coupling the group lasso has no group: no penalty either.
%! none = quiet_fit (spikes, S, options ("coupling", false));
%! alone = quiet_fit (spikes, S, options ("coupling", false, "penalty", "group_lasso", ...
%!                                        "alpha", 1e-3));
%! assert (alone.weights, none.weights);
%! assert (alone.iterations, none.iterations);

%!test
%! ## A simulation longer than one block of 65,536 bins follows the stimulus
%! ## in the second block too: a square wave of period 2 s, stimulus filter
%! ## 2, so the rate is 0.02 * e^2 per bin in even seconds, 0.02 / e^2 in
%! ## odd ones.
%! warning ("off", "spike_glm:silentNeuron", "local");
%! warning ("off", "spike_glm:notConverged", "local");
%! o = struct ("history_taps", 5, "basis", ones (5, 1), "stimulus", zeros (100, 1), ...
%!             "stimulus_rate", 100, "stimulus_lags", 1, "max_iter", 1);
%! fit = spike_glm_fit ({[], []}, 1, o);
%! fit.stimulus_filters(:) = 2;
%! fit.bias = log ([0.02; 0.02]);
%! wave = 2 * (mod (floor ((0:7999)' / 100), 2) == 0) - 1;
%! s = spike_glm_simulate (fit, 80, struct ("stimulus", wave, "seed", 2));
%! for i = 1:2
%!   k = (66:79)';
%!   n = arrayfun (@(a) sum (s{i} >= a + 0.1 & s{i} < a + 0.9), k);
%!   assert (all (n(mod (k, 2) == 0) > 60) && all (n(mod (k, 2) == 1) < 15), num2str (n'));
%! endfor

%!test
%! ## About one block of 65,536 bins: a model with only a bias has the rate
%! ## exp(bias) in every bin of a 70 s recording (the stimulus drive is 0
%! ## up to the recording's ends, where the stimulus ramps), and
%! ## simulations of 65,535 to 65,537 bins end inside the recording.
%! warning ("off", "spike_glm:silentNeuron", "local");
%! warning ("off", "spike_glm:notConverged", "local");
%! o = struct ("history_taps", 5, "basis", ones (5, 1), "stimulus", zeros (100, 1), ...
%!             "stimulus_rate", 100, "stimulus_lags", 1, "max_iter", 1);
%! fit = spike_glm_fit ({[], []}, 1, o);
%! fit.weights(1, :) = log ([0.02, 0.01]);
%! S = randn (65537, 1);
%! rate = spike_glm_rate (fit, {[], []}, 70, struct ("stimulus", S(1:7000)));
%! assert (rate, repmat ([0.02, 0.01], 70000, 1), -1e-12);
%! o.stimulus_rate = 1000;   # a sample per bin: any number of bins
%! fit = spike_glm_fit ({[], []}, 0.1, o);
%! fit.bias = log ([0.002; 0.001]);
%! for T = 65535:65537
%!   s = spike_glm_simulate (fit, T / 1000, struct ("stimulus", S(1:T), "seed", 3, ...
%!                                                  "t_start", 1000));
%!   n = cellfun (@numel, s);
%!   assert (all (n > [60; 25] & n < [200; 110]), num2str (n'));
%!   assert (all (cellfun (@(x) all (x > 1000 & x < 1000 + T / 1000), s)));
%! endfor

%!test
%! ## Iteration counts: a fit that converges counts the steps it took; a cap
%! ## below that stops every neuron at the cap, not converged; a cap above
%! ## it changes nothing.
%! [spikes, S] = recording (1000);
%! for penalty = {"none", "ridge", "group_lasso"}
%!   o = options ("penalty", penalty{1}, "alpha", 1e-3 * ! strcmp (penalty{1}, "none"), ...
%!                "tol", 1e-7);
%!   full = quiet_fit (spikes, S, o);
%!   assert (full.converged, true (3, 1));
%!   assert (all (full.iterations >= 2 & full.iterations < 200), penalty{1});
%!   for cap = [1, 2]
%!     o.max_iter = cap;
%!     lastwarn ("");
%!     [capped, out] = quiet_fit (spikes, S, o);
%!     assert (capped.converged, false (3, 1));
%!     assert (isequal (capped.iterations, cap * ones (3, 1)), penalty{1});
%!     ## The iterations counted were taken: every neuron left the start.
%!     assert (all (any (capped.weights(2:end, :) != 0, 1)), penalty{1});
%!   endfor
%!   o.max_iter = max (full.iterations) + 5;
%!   roomy = quiet_fit (spikes, S, o);
%!   assert (roomy.iterations, full.iterations);
%!   assert (roomy.weights, full.weights);
%! endfor

%!test
%! ## Non-convergence warns, naming the neurons.
%! [spikes, S] = recording (1000);
%! o = options ("stimulus", S, "max_iter", 1);
%! lastwarn ("");
%! evalc ("spike_glm_fit (spikes, 20, o);");
%! [msg, id] = lastwarn ();
%! assert (id, "spike_glm:notConverged");
%! assert (! isempty (strfind (msg, "neuron(s) 1  2  3 did not converge within 1 iterations")), msg);

%!test
%! ## verbose: one line per neuron with its spikes, iterations and state,
%! ## and a progress line every 25 iterations of a neuron's solver; nothing
%! ## without it; the same fit either way.
%! [spikes, S] = recording (1000);
%! cases = {{}, 0; {"penalty", "group_lasso", "alpha", 1e-3}, 0; {"max_iter", 1}, 0;
%!          {"tol", 1e-300, "max_iter", 30}, 1;
%!          {"penalty", "group_lasso", "alpha", 1e-3, "tol", 1e-300, "max_iter", 120}, 1};
%! for c = 1:rows (cases)
%!   [extra, progress] = cases{c, :};
%!   [quiet, out] = quiet_fit (spikes, S, options (extra{:}));
%!   assert (out, "");
%!   [loud, out] = quiet_fit (spikes, S, options ("verbose", true, extra{:}));
%!   lines = strsplit (out, "\n");
%!   done = lines(! cellfun (@isempty, regexp (lines, '^neuron \d of')));
%!   assert (numel (done), 3);
%!   ## One line per neuron, in the order the neurons end (fitted in
%!   ## lockstep, one may end before another of a lower number).
%!   seen = zeros (1, 3);
%!   for n = 1:3
%!     tok = regexp (done{n}, '^neuron (\d) of 3: (\d+) spikes, (\d+) iterations, (converged|NOT converged) \(', "tokens", "once");
%!     assert (numel (tok) == 4, done{n});
%!     i = seen(n) = str2double (tok{1});
%!     assert (str2double (tok{2}), numel (spikes{i}));
%!     assert (str2double (tok{3}), loud.iterations(i));
%!     assert (strcmp (tok{4}, "converged"), loud.converged(i));
%!   endfor
%!   assert (sort (seen), 1:3);
%!   ## Every 25 iterations of the solver's own steps (group lasso: the
%!   ## proximal steps; its L-BFGS finishes say nothing).
%!   steps = regexp (out, '(?m)^  neuron \d: iteration \d+, objective \S+, optimality residual', "match");
%!   assert (numel (steps) >= progress, "%s", out);
%!   assert (isempty (steps) || progress > 0, "%s", out);
%!   assert (loud.weights, quiet.weights);
%!   assert (loud.iterations, quiet.iterations);
%! endfor

%!test
%! ## verbose: the time left after neuron i of N is the mean time per neuron
%! ## so far times the neurons left; a stand-in toc says 6 s have passed.
%! [spikes, S] = recording (1000);
%! stand_in = stand_in_toc (6);
%! warning ("off", "Octave:shadowed-function", "local");
%! addpath (stand_in);
%! unwind_protect
%!   [~, out] = quiet_fit (spikes, S, options ("verbose", true, "max_iter", 1));
%! unwind_protect_cleanup
%!   rmpath (stand_in);
%!   delete (fullfile (stand_in, "toc.m"));
%!   rmdir (stand_in);
%! end_unwind_protect
%! left = regexp (out, '\(6\.0 s so far, about (\S+) s left\)', "tokens");
%! assert (str2double ([left{:}]), [12, 3, 0]);

%!test
%! ## The silent-neuron warning names exactly the silent neurons, and there
%! ## is none when every neuron spikes.
%! [spikes, S] = recording (1000);
%! cases = {[1 2 3], ""; [1 3], "neuron(s) 2:"; [2], "neuron(s) 1  3:"};
%! for c = 1:rows (cases)
%!   [keep, named] = cases{c, :};
%!   s = spikes;
%!   s(setdiff (1:3, keep)) = {zeros(0, 1)};
%!   lastwarn ("");
%!   fit = quiet_fit (s, S, options ());
%!   [msg, id] = lastwarn ();
%!   if isempty (named)
%!     assert (id, "");
%!   else
%!     assert (id, "spike_glm:silentNeuron");
%!     assert (! isempty (strfind (msg, named)), msg);
%!   endif
%!   assert (fit.converged, true (3, 1));
%!   for i = setdiff (1:3, keep)
%!     assert (fit.weights(:, i), [log(0.5 / 20000); zeros(rows (fit.weights) - 1, 1)]);
%!     assert (fit.iterations(i), 0);
%!   endfor
%!   assert (all (fit.iterations(keep) > 0));
%!   assert (fit.null_rate, max (cellfun (@numel, s(:)), 0.5) / 20000);
%! endfor

%!test
%! ## Group lasso: neuron 2's groups are source 1 (kept) and source 3
%! ## (dropped); with the neurons listed the other way round the dropped
%! ## group comes first. Both fits meet the optimality conditions on the
%! ## design matrix and agree.
%! [spikes, S] = recording (1000);
%! alpha = 2e-3;
%! filters = {};
%! o = options ("penalty", "group_lasso", "alpha", alpha, "tol", 1e-9);
%! for order = {[1 2 3], [3 2 1]}
%!   s = spikes(order{1});
%!   fit = quiet_fit (s, S, o);
%!   assert (fit.converged, true (3, 1));
%!   ## The L-BFGS finish on a settled support makes it quick (about 25
%!   ## iterations; proximal steps alone take 100 or more).
%!   assert (all (fit.iterations <= 50), num2str (fit.iterations'));
%!   T = 20000; B = fit.basis;
%!   x = zeros (2000, 2);
%!   x(3:end, 1) = S(1:end - 2); x(4:end, 2) = S(1:end - 3);
%!   X = [ones(T, 1), tentfill2(x(:, 1), 10), tentfill2(x(:, 2), 10)];
%!   for j = 1:3
%!     b = floor ((s{j} - 1000) * 1000 + 1e-6);
%!     for q = 1:2
%!       X(:, end + 1) = trainfold_mex (sort (b) + 1, B(:, q), [0 T-1]);
%!     endfor
%!   endfor
%!   y = accumarray (floor ((s{2} - 1000) * 1000 + 1e-6) + 1, 1, [T 1]);
%!   theta = fit.weights(:, 2);
%!   g = X' * (exp (X * theta) - y) / T;
%!   assert (norm (g([1:3, 6:7]), Inf) < 1e-8);
%!   for j = [1 3]
%!     at = 3 + 2 * (j - 1) + (1:2);
%!     w = theta(at);
%!     if any (w)
%!       assert (all (w != 0));
%!       assert (norm (g(at) + alpha * w / norm (w), Inf) < 1e-8);
%!     else
%!       assert (norm (g(at)) <= alpha + 1e-8);
%!     endif
%!   endfor
%!   src1 = find (order{1} == 1); src3 = find (order{1} == 3);
%!   assert (any (fit.filters(:, src1, 2)) && ! any (fit.filters(:, src3, 2)));
%!   filters{end + 1} = fit.filters(:, src1, 2);
%! endfor
%! assert (filters{2}, filters{1}, 1e-6 * norm (filters{1}, Inf));

%!test
%! ## The runaway guard names the neuron and the bin where the log rate
%! ## passed the ceiling, in the second block of 65,536 bins: the stimulus
%! ## steps up at sample 70,000 and drives neuron 2 from bin 70,002 on.
%! warning ("off", "spike_glm:silentNeuron", "local");
%! warning ("off", "spike_glm:notConverged", "local");
%! o = struct ("history_taps", 5, "basis", ones (5, 1), "stimulus", zeros (100, 1), ...
%!             "stimulus_rate", 1000, "stimulus_lags", 1, "max_iter", 1);
%! fit = spike_glm_fit ({[], []}, 0.1, o);
%! fit.stimulus_filters(:) = [0; 40];
%! fit.bias = [-20; -20];   # log rate -20, then 20 from the step on
%! step = [zeros(70000, 1); ones(10000, 1)];   # 1 ms samples: bin = sample
%! try
%!   spike_glm_simulate (fit, 80, struct ("stimulus", step, "seed", 1));
%!   error ("no runaway error");
%! catch err
%!   assert (err.identifier, "spike_glm:runaway");
%!   assert (! isempty (strfind (err.message, "neuron 2 passed 10 in bin 70002 ")), err.message);
%! end_try_catch
