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
%   causal. Fits run without a design matrix: the gradient comes from
%   tentfill2_adjoint and trainfold_adjoint.
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
%     verbose        progress lines per neuron and every 25 iterations
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
%   TRAINFOLD_MEX, TENTFILL2.

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
    report = @(k, f, g) progress('  neuron %d: iteration %d, objective %.10g, largest gradient %.3g\n', ...
                                 i, k, f, norm(g, Inf));
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
    progress('neuron %d of %d: %d spikes, %d iterations, %s (%.1f s so far)\n', ...
             i, N, gram.n(i), iterations(i), state, toc(started));
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
