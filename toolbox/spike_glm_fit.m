function fit = spike_glm_fit(spike_times, duration, opts)
%SPIKE_GLM_FIT Fit a Poisson GLM to a population of spike trains.
%   FIT = SPIKE_GLM_FIT(SPIKE_TIMES, DURATION, OPTS) fits, for every neuron
%   i of SPIKE_TIMES (a cell array of N vectors of spike times in seconds),
%   the model of its spike count in fine bins of OPTS.bin_size seconds
%     eta_i(t) = bias_i + stimulus drive_i(t) + sum_j history drive_ji(t)
%     mu_i(t)  = exp(eta_i(t))   (expected count per bin)
%   over T = floor(DURATION / bin_size + 1e-6) bins; bin t covers
%   [t_start + t*bin_size, t_start + (t+1)*bin_size). A spike of neuron j
%   in bin b adds tap k of the filter h_ji = basis * w_ji (k = 1 .. H) to
%   bin b + k of every target i: trainfold_mex(bins_j + 1, basis * w_ji,
%   [0, T-1]). With a stimulus S (M samples x C channels at
%   OPTS.stimulus_rate Hz, m = 1/(stimulus_rate * bin_size) fine bins per
%   sample) the stimulus drive is tentfill2(u_i, m) with
%     u_i(c) = sum_ch sum_{l=0}^{L-1} K_i(l+1, ch) * S(c - 2 - l, ch)
%   (0-based c, zero before the start): the delay of two samples keeps it
%   causal. Fits run without a design matrix: one TRAINFOLD_POP call over
%   the merged spikes of all sources gives a neuron's history drive, and
%   the gradient comes from tentfill2_adjoint and one trainfold_pop_adjoint
%   call.
%
%   Objective of neuron i, minimised, over the fit bins F (n_F bins):
%     NLL_i = sum_{t in F} [mu_i(t) - y_i(t) * eta_i(t)]
%     penalty 'none':        NLL_i / n_F
%     penalty 'ridge':       NLL_i / n_F + (alpha/2) * ||theta_i(2:end)||^2
%                            (all but the bias; the objective of
%                            scikit-learn's PoissonRegressor with that alpha)
%     penalty 'group_lasso': NLL_i / n_F + alpha * sum_{j ~= i} ||w_ji||_2
%                            (bias, stimulus and self-history unpenalised)
%   theta_i = [bias_i; K_i(:) (all lags of channel 1, then channel 2, ...);
%   w_ji for each source j ascending] (with coupling false only w_ii).
%
%   Options (fields of OPTS; an unknown field is an error):
%     bin_size       fine bin (s), default 0.001
%     t_start        time of the start of bin 0 (s), default 0
%     history_taps   H, filter length in bins, default 100
%     basis          'raised_cosine' (default; bumps evenly spaced in
%                    log(t + 4), t = lag - 1) or an H x n_basis matrix
%     n_basis        raised cosines, default 5
%     coupling       true (default): every neuron is a source of every
%                    other; false: self-history only
%     stimulus       M x C matrix, [] (default) for none; M * m must be T
%     stimulus_rate  samples per second of the stimulus
%     stimulus_lags  L, default 5
%     penalty        'none' (default, or []), 'ridge' or 'group_lasso'
%     alpha          penalty weight >= 0, default 0
%     tol            convergence tolerance, default 1e-8
%     max_iter       iterations per neuron, default 1000
%     fit_bins       T x 1 logical mask of the bins F the objective sums
%                    over (cross-validation: fit on the training bins, then
%                    SPIKE_GLM_SCORE with opts.bins = ~fit_bins); [] = all
%     verbose        progress lines every 25 iterations and one per neuron,
%                    with the time so far and the time left (estimated as
%                    the mean time of the neurons done so far times the
%                    neurons left)
%
%   Solvers. 'none' and 'ridge': L-BFGS whose initial inverse Hessian is
%   that of the constant-rate start (spike trains taken as independent),
%   strong Wolfe line search; converged when the largest gradient entry of
%   the objective is <= tol. 'group_lasso': accelerated proximal gradient
%   (FISTA) in the same metric, converged when the optimality conditions
%   hold to tol: |gradient| <= tol on unpenalised weights,
%   ||gradient_g|| <= alpha + tol for a zero group and ||gradient_g +
%   alpha * w_g / ||w_g|| ||_inf <= tol otherwise. Start: bias =
%   log(max(n_i, 0.5) / n_F), all else 0.
%
%   Spike lists need not be sorted (they are sorted here). Times that are
%   NaN or Inf or fall outside [t_start, t_start + T*bin_size) are refused.
%   A neuron with no spikes in the fit bins is not fitted: its weights are
%   0, its bias log(0.5 / n_F) (half a spike over the fit bins, so its rate
%   stays positive), converged is true and a warning
%   ('spike_glm:silentNeuron') names it. Neurons that did not converge are
%   named in a warning 'spike_glm:notConverged'.
%
%   Fields of FIT:
%     bias              N x 1
%     filters           H x N x N; filters(:, j, i) = basis * w_ji, source
%                       j onto target i (diagonal: self-history; zeros
%                       where coupling is false)
%     stimulus_filters  L x C x N (K_i); L x 0 x N without stimulus
%     weights           P x N parameter vectors theta_i
%     converged         N x 1 logical;  iterations  N x 1
%     basis             H x n_basis;    opts  the options used
%     null_rate         N x 1: max(n_i, 0.5) / n_F, the homogeneous
%                       Poisson rate per bin (SPIKE_GLM_SCORE's null model)
%     n_bins            T;  n_fit_bins  n_F
%
%   Example:
%     rand('seed', 1);
%     spikes = {sort(rand(300, 1) * 60), sort(rand(200, 1) * 60)};
%     o = struct('history_taps', 50, 'n_basis', 4, 'penalty', 'ridge', ...
%                'alpha', 1e-4);
%     fit = spike_glm_fit(spikes, 60, o);
%     plot(1:50, fit.filters(:, 1, 1))   % self-history of neuron 1 (ms)
%
%   See also SPIKE_GLM_RATE, SPIKE_GLM_SCORE, SPIKE_GLM_SIMULATE,
%   TRAINFOLD_POP, TRAINFOLD_MEX, TENTFILL2.

if nargin < 2
  error('spike_glm_fit: needs spike_times and duration (and opts)');
end
if nargin < 3
  opts = [];
end
defaults = struct('bin_size', 0.001, 't_start', 0, 'history_taps', [], ...
                  'basis', 'raised_cosine', 'n_basis', 5, 'coupling', true, ...
                  'stimulus', [], 'stimulus_rate', [], 'stimulus_lags', 5, ...
                  'penalty', 'none', 'alpha', 0, 'tol', 1e-8, ...
                  'max_iter', 1000, 'fit_bins', [], 'verbose', false);
o = glm_options(opts, defaults, 'spike_glm_fit');
if isempty(o.history_taps) && ischar(o.basis)
  o.history_taps = 100;
end
if isempty(o.penalty)
  o.penalty = 'none';
end
if ~ischar(o.penalty) || ~any(strcmp(o.penalty, {'none', 'ridge', 'group_lasso'}))
  error('spike_glm_fit: opts.penalty must be ''none'', ''ridge'' or ''group_lasso''');
end
if ~isnumeric(o.alpha) || ~isscalar(o.alpha) || ~isreal(o.alpha) || ~(o.alpha >= 0) || isinf(o.alpha)
  error('spike_glm_fit: opts.alpha must be a finite number >= 0');
end
if ~isnumeric(o.tol) || ~isscalar(o.tol) || ~(o.tol > 0)
  error('spike_glm_fit: opts.tol must be a positive number');
end
if ~isnumeric(o.max_iter) || ~isscalar(o.max_iter) || ~(o.max_iter >= 0) || o.max_iter ~= fix(o.max_iter)
  error('spike_glm_fit: opts.max_iter must be a whole number >= 0');
end
[data, model] = glm_setup(spike_times, duration, o, 'spike_glm_fit');
data = glm_blocks(model, data);
o.history_taps = model.H;
o.n_basis = model.nb;
N = data.N;
T = data.T;

mask = o.fit_bins;
if isempty(mask)
  nF = T;
else
  if ~(islogical(mask) || isnumeric(mask)) || numel(mask) ~= T || ...
     any(mask(:) ~= 0 & mask(:) ~= 1)
    error('spike_glm_fit: opts.fit_bins must be a logical mask of %d bins', T);
  end
  mask = logical(mask(:));
  nF = sum(mask);
  if nF == 0
    error('spike_glm_fit: opts.fit_bins selects no bin');
  end
  if nF == T
    mask = [];
  end
end

ridge = 0;
if strcmp(o.penalty, 'ridge')
  ridge = o.alpha;
end
gram = glm_gram(model, data, mask, nF);
P = 1 + model.nstim + numel(glm_sources(model, N, 1)) * model.nb;
W = zeros(P, N);
converged = true(N, 1);
iterations = zeros(N, 1);
null_rate = max(gram.n, 0.5) / nF;
silent = find(gram.n == 0)';
started = tic;
for i = 1:N
  W(1, i) = log(null_rate(i));
  if gram.n(i) == 0
    continue;
  end
  fitset.n = nF;
  fitset.mask = mask;
  fitset.rows = data.rows{i};
  fitset.counts = data.counts{i};
  if ~isempty(mask)
    keep = mask(fitset.rows);
    fitset.rows = fitset.rows(keep);
    fitset.counts = fitset.counts(keep);
  end
  src = glm_sources(model, N, i);
  H0 = glm_start_hessian(gram, model, src, null_rate(i), ridge);
  fun = @(theta) glm_objective(theta, model, data, i, fitset, ridge);
  report = [];
  if o.verbose
    report = @(k, f, r) progress('  neuron %d: iteration %d, objective %.10g, optimality residual %.3g (tol %g)\n', ...
                                 i, k, f, r, o.tol);
  end
  if strcmp(o.penalty, 'group_lasso') && o.alpha > 0 && numel(src) > 1
    groups = {};
    for k = 1:numel(src)
      if src(k) ~= i
        groups{end + 1} = 1 + model.nstim + (k - 1) * model.nb + (1:model.nb)'; %#ok<AGROW>
      end
    end
    [W(:, i), iterations(i), converged(i)] = glm_fista(fun, W(:, i), H0, ...
        groups, o.alpha, o.tol, o.max_iter, report);
  else
    [W(:, i), iterations(i), converged(i)] = glm_lbfgs(fun, W(:, i), ...
        chol(H0), o.tol, o.max_iter, report);
  end
  if o.verbose
    state = 'converged';
    if ~converged(i)
      state = 'NOT converged';
    end
    elapsed = toc(started);
    progress('neuron %d of %d: %d spikes, %d iterations, %s (%.1f s so far, about %.1f s left)\n', ...
             i, N, gram.n(i), iterations(i), state, elapsed, elapsed / i * (N - i));
  end
end
if ~isempty(silent)
  warning('spike_glm:silentNeuron', ['spike_glm_fit: no spikes in the fit ' ...
          'bins for neuron(s) %s: not fitted, weights 0, bias log(0.5/n_F)'], ...
          num2str(silent));
end
if ~all(converged)
  warning('spike_glm:notConverged', ['spike_glm_fit: neuron(s) %s did not ' ...
          'converge within %d iterations (tol %g)'], ...
          num2str(find(~converged)'), o.max_iter, o.tol);
end

fit = glm_unpack(W, model, N);
fit.weights = W;
fit.converged = converged;
fit.iterations = iterations;
fit.basis = model.basis;
o.fit_bins = mask;
fit.opts = o;
fit.null_rate = null_rate;
fit.n_bins = T;
fit.n_fit_bins = nF;
end

function progress(varargin)
fprintf(varargin{:});
if exist('OCTAVE_VERSION', 'builtin')
  fflush(stdout);
end
end

% Tests (run with "test spike_glm_fit"). The expected fits come from Newton's
% method on the design matrix written out column by column.

%!function [spikes, S, B] = small_population (seed, seconds = 30)
%!  rand ("state", seed); randn ("state", seed);
%!  S = randn (100 * seconds, 2);             % 100 Hz, 2 channels
%!  B = [ones(4, 1), (4:-1:1)' / 4];          % 4 taps, 2 basis columns
%!  spikes = cell (3, 1);
%!  for j = 1:3
%!    spikes{j} = sort (rand (round ((400 + 150 * j) * seconds / 30), 1) * seconds);
%!  endfor
%!endfunction

%!function X = design (spikes, S, B, src)
%!  T = 10 * rows (S); L = 2; C = columns (S);
%!  Xc = zeros (rows (S), L * C);
%!  for ch = 1:C
%!    for l = 0:L-1
%!      Xc(3 + l:end, (ch - 1) * L + l + 1) = S(1:end - 2 - l, ch);
%!    endfor
%!  endfor
%!  X = ones (T, 1);
%!  for k = 1:columns (Xc)
%!    X(:, end + 1) = tentfill2 (Xc(:, k), 10);
%!  endfor
%!  for j = src
%!    b = floor (spikes{j} / 1e-3);
%!    for q = 1:columns (B)
%!      X(:, end + 1) = trainfold_mex (sort (b) + 1, B(:, q), [0 T-1]);
%!    endfor
%!  endfor
%!endfunction

%!function theta = newton_ridge (X, y, alpha)
%!  n = rows (X); D = alpha * eye (columns (X)); D(1, 1) = 0;
%!  theta = zeros (columns (X), 1); theta(1) = log (sum (y) / n);
%!  for it = 1:50
%!    mu = exp (X * theta);
%!    g = X' * (mu - y) / n + D * theta;
%!    theta -= (X' * (X .* mu) / n + D) \ g;
%!  endfor
%!endfunction

%!test
%! ## Ridge fits equal Newton's on the design matrix: all bins or a mask,
%! ## coupling on or off; 140 s spans three of the objective's blocks of
%! ## 65,540 bins, the mask crosses their edges.
%! [spikes, S, B] = small_population (1, 140);
%! stripes = mod (floor ((1:140000)' / 7000), 2) == 0;
%! cases = {[], true; stripes, true; [], false; stripes, false};
%! for c = 1:rows (cases)
%!   [mask, coupling] = cases{c, :};
%!   o = struct ("stimulus", S, "stimulus_rate", 100, "stimulus_lags", 2, ...
%!               "basis", B, "coupling", coupling, "penalty", "ridge", ...
%!               "alpha", 1e-3, "tol", 1e-11, "fit_bins", mask);
%!   fit = spike_glm_fit (spikes, 140, o);
%!   assert (fit.converged, true (3, 1));
%!   for i = 1:3
%!     src = 1:3;
%!     if ! coupling, src = i; endif
%!     X = design (spikes, S, B, src);
%!     y = accumarray (floor (spikes{i} / 1e-3) + 1, 1, [140000 1]);
%!     if ! isempty (mask), X = X(mask, :); y = y(mask); endif
%!     expected = newton_ridge (X, y, 1e-3);
%!     assert (fit.weights(:, i), expected, 1e-6 * norm (expected, Inf));
%!     assert (fit.bias(i), expected(1), 1e-6);
%!     assert (fit.stimulus_filters(:, :, i), reshape (expected(2:5), 2, 2), 1e-6);
%!     w = reshape (expected(6:end), 2, []);
%!     assert (fit.filters(:, src, i), B * w, 1e-6);
%!     assert (nnz (fit.filters(:, setdiff (1:3, src), i)), 0);
%!   endfor
%! endfor

%!test
%! ## Group lasso: the optimality conditions hold for the gradient of the
%! ## design matrix; a large alpha zeroes every coupling group.
%! [spikes, S, B] = small_population (2);
%! X = design (spikes, S, B, 1:3);
%! for alpha = [3e-4, 1]
%!   o = struct ("stimulus", S, "stimulus_rate", 100, "stimulus_lags", 2, ...
%!               "basis", B, "penalty", "group_lasso", "alpha", alpha, "tol", 1e-9);
%!   fit = spike_glm_fit (spikes, 30, o);
%!   assert (fit.converged, true (3, 1));
%!   for i = 1:3
%!     y = accumarray (floor (spikes{i} / 1e-3) + 1, 1, [30000 1]);
%!     theta = fit.weights(:, i);
%!     g = X' * (exp (X * theta) - y) / 30000;
%!     free = [1:5, 5 + 2 * (i - 1) + (1:2)];
%!     assert (norm (g(free), Inf) < 2e-9);
%!     for j = setdiff (1:3, i)
%!       at = 5 + 2 * (j - 1) + (1:2);
%!       w = theta(at);
%!       if alpha == 1
%!         assert (w, [0; 0]);
%!       endif
%!       if any (w)
%!         assert (norm (g(at) + alpha * w / norm (w), Inf) < 2e-9);
%!       else
%!         assert (norm (g(at)) <= alpha + 1e-9);
%!       endif
%!     endfor
%!   endfor
%! endfor

%!test
%! ## A neuron without spikes is not fitted; unsorted lists are sorted;
%! ## too few iterations warn, naming the neurons.
%! [spikes, S, B] = small_population (3);
%! o = struct ("basis", B, "penalty", "ridge", "alpha", 1e-3);
%! fit = spike_glm_fit (spikes, 30, o);
%! shuffled = spikes;
%! shuffled{2} = spikes{2}(end:-1:1);
%! assert (spike_glm_fit (shuffled, 30, o).weights, fit.weights);
%! spikes{2} = [];
%! evalc ("fit = spike_glm_fit (spikes, 30, o);");
%! [~, id] = lastwarn ();
%! assert (id, "spike_glm:silentNeuron");
%! assert (fit.weights(:, 2), [log(0.5 / 30000); zeros(6, 1)]);
%! assert (fit.converged(2) && fit.iterations(2) == 0);
%! assert (fit.null_rate(2), 0.5 / 30000);
%! o.max_iter = 1;
%! evalc ("fit = spike_glm_fit (spikes, 30, o);");
%! [msg, id] = lastwarn ();
%! assert (id, "spike_glm:notConverged");
%! assert (! isempty (strfind (msg, "neuron(s) 1  3 ")), msg);
%! assert (fit.converged, [false; true; false]);

%!test
%! ## verbose: one line per neuron, silent ones included in the count, with
%! ## the time so far and the time left; none once the last is done.
%! [spikes, S, B] = small_population (4);
%! spikes{2} = [];
%! o = struct ("basis", B, "penalty", "ridge", "alpha", 1e-3, "verbose", true);
%! out = evalc ("spike_glm_fit (spikes, 30, o);");
%! lines = regexp (out, "neuron (\\d) of 3: \\d+ spikes, \\d+ iterations, converged \\(\\d+\\.\\d s so far, about (\\d+\\.\\d) s left\\)", "tokens");
%! assert (cellfun (@(t) t{1}, lines, "UniformOutput", false), {"1", "3"});
%! assert (lines{2}{2}, "0.0");

%!test
%! ## Refusals name the argument.
%! ok = {[0.1; 0.2], [0.3]};
%! S = zeros (1000, 1);
%! cases = {
%!   {[0.1; NaN], [0.3]}, 10, struct(), "spike_times{1}(2) is NaN"
%!   {[0.1], [Inf]}, 10, struct(), "spike_times{2}(1) is Inf"
%!   {[0.1; 10.0]}, 10, struct(), "spike_times{1}(2) = 10 s lies outside"
%!   {[-0.001]}, 10, struct(), "spike_times{1}(1) = -0.001 s lies outside"
%!   {[0.1]}, 10, struct("t_start", 0.2), "spike_times{1}(1) = 0.1 s lies outside"
%!   ok, 10, struct("stimulus", zeros(999, 1), "stimulus_rate", 100), "has 999 samples; the recording of 10000 bins needs 1000 samples"
%!   ok, 10, struct("stimulus", S, "stimulus_rate", 300), "the stimulus period must be a whole number of fine bins"
%!   ok, 10, struct("stimulus", S), "opts.stimulus_rate (Hz) is needed"
%!   {[0.01]}, 0.05, struct(), "opts.history_taps (100) is longer than the recording (50 bins)"
%!   ok, 10, struct("alpha", -1), "opts.alpha must be a finite number >= 0"
%!   ok, 10, struct("penalty", "lasso"), "opts.penalty must be 'none', 'ridge' or 'group_lasso'"
%!   ok, 10, struct("basis", ones(10, 2), "history_taps", 20), "opts.basis has 10 rows but opts.history_taps is 20"
%!   ok, 10, struct("basis", ones(10, 2, 2)), "opts.basis must be a finite real matrix"
%!   ok, 10, struct("basis", "gauss"), "opts.basis must be 'raised_cosine' or a matrix"
%!   ok, 10, struct("bin_size", 0), "opts.bin_size must be a positive finite number"
%!   ok, 10, struct("fit_bins", true(10, 1)), "opts.fit_bins must be a logical mask of 10000 bins"
%!   ok, 10, struct("lambda", 1), "unknown option opts.lambda"
%!   [0.1; 0.2], 10, struct(), "spike_times must be a cell array"
%! };
%! for c = 1:rows (cases)
%!   [spikes, duration, o, expected] = cases{c, :};
%!   try
%!     spike_glm_fit (spikes, duration, o);
%!     error ("no error for case %d", c);
%!   catch err
%!     assert (! isempty (strfind (err.message, ["spike_glm_fit: " expected])) ...
%!             || ! isempty (strfind (err.message, expected)), ...
%!             "case %d: %s", c, err.message);
%!   end_try_catch
%! endfor
