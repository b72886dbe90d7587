function fit = spike_glm_inference(fit, spike_times, duration, opts)
%SPIKE_GLM_INFERENCE Standard errors, Wald tests and bands of a fitted GLM.
%   FIT = SPIKE_GLM_INFERENCE(FIT, SPIKE_TIMES, DURATION, OPTS) adds to FIT
%   (from SPIKE_GLM_FIT on the recording SPIKE_TIMES of DURATION seconds)
%   the fields below. SPIKE_GLM_FIT computes them itself unless
%   opts.inference is false; call this to add them later, or again with
%   another OPTS.level.
%
%   For neuron i, mu_i(t) the rate at the fit and F the fit bins (n_F of
%   them; opts.fit_bins of the fit), the covariance of theta_i is the
%   inverse of the Hessian of the unscaled negative log-likelihood
%     H_i = X_i' diag(mu_i) X_i   (sum over the bins of F only)
%   with X_i the design of neuron i's model (never formed: the Hessian is
%   built one column at a time through the adjoint operators), plus
%     ridge:        n_F * alpha on the diagonal of every parameter but the
%                   bias (the penalty of the objective times n_F);
%     group lasso:  only the unpenalised parameters and the non-zero
%                   groups w_ji, each with the curvature of its norm,
%                   n_F * alpha * (I / ||w|| - w w' / ||w||^3); the
%                   parameters of the zero groups get NaN.
%   Not estimated, and NaN: every parameter of a neuron that was not fitted
%   (no spikes, or fewer than opts.min_spikes, in the fit bins), coupling
%   from a source held at zero, and, in an unpenalised fit, a parameter
%   whose design column is zero over F (a source without spikes there).
%
%   Fields added:
%     standard_errors   P x N, the layout of fit.weights
%     covariance        P x P x N
%     coupling_pvalues  N x N; (j, i) the Wald test that the filter of
%                       source j onto target i is zero: w' C^-1 w (C the
%                       covariance of w = w_ji), chi-square with n_basis
%                       degrees of freedom, upper tail. NaN on the
%                       diagonal (self-history) and without coupling
%     filter_lower      H x N x N: filters - z * sqrt(diag(B C B')), z the
%     filter_upper      normal quantile of (1 + level) / 2 (pointwise
%                       band; NaN where the filter is not estimated)
%     stimulus_lower    L x C x N: stimulus_filters -/+ z * standard error
%     stimulus_upper
%     log_likelihood    N x 1: sum over F of y log mu - mu - log(y!)
%     aic, bic          N x 1: 2 P_eff - 2 LL and log(n_F) P_eff - 2 LL,
%                       P_eff the parameters estimated; NaN for penalised
%                       fits (alpha > 0) and for neurons not fitted
%     level             the coverage of the bands
%
%   Options (fields of OPTS):
%     stimulus  M x C stimulus (needed when the fit had one)
%     t_start   time of bin 0 (s), default 0
%     level     coverage of the bands, default 0.95
%
%   Cost: per neuron, P passes over the recording (one design column, the
%   adjoints), about as much as P evaluations of the objective's gradient;
%   memory O(T + P^2 N), never T x P.
%
%   Example:
%     fit = spike_glm_fit(spikes, 600, struct('history_taps', 50));
%     significant = fit.coupling_pvalues < 0.05;   % (source, target)
%     plot(fit.filters(:, 1, 2)); hold on
%     plot([fit.filter_lower(:, 1, 2), fit.filter_upper(:, 1, 2)], '--')
%
%   See also SPIKE_GLM_FIT, SPIKE_GLM_KS, SPIKE_GLM_PLOT.

if nargin < 3
  error('spike_glm:nargin', ...
        'spike_glm_inference: needs fit, spike_times and duration (and opts)');
end
if nargin < 4
  opts = [];
end
[data, model, so] = glm_refit_setup(fit, spike_times, duration, opts, ...
    struct('stimulus', [], 't_start', 0, 'level', 0.95), 'spike_glm_inference');
if data.T ~= fit.n_bins
  error('spike_glm:duration', ['spike_glm_inference: the recording has ' ...
        '%d bins, the fit %d'], data.T, fit.n_bins);
end
fit = glm_inference(fit, model, data, so.level, 'spike_glm_inference');
end

% Tests (run with "test spike_glm_inference"). The references build the
% design matrix, which the library never does.

%!function [spikes, S, B] = population (seed, seconds, t0)
%!  rand ("state", seed); randn ("state", seed);
%!  S = randn (100 * seconds, 2);
%!  B = [ones(4, 1), (4:-1:1)' / 4];
%!  spikes = cell (3, 1);
%!  for j = 1:3
%!    b = sort (floor (rand (round ((15 + 5 * j) * seconds), 1) * seconds * 1000));
%!    if seconds > 2 * 65.54                   % spikes just before block edges
%!      b = sort ([b; 65540 - (1:j)'; 131080 - (1:j)']);
%!    endif
%!    spikes{j} = t0 + (b + 0.5) * 1e-3;       % bin centres of a 1 ms clock
%!  endfor
%!endfunction

%!function X = design (spikes, S, B, src, t0)
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
%!    b = round ((spikes{j} - t0) / 1e-3 - 0.5);
%!    for q = 1:columns (B)
%!      x = zeros (T + 4, 1);
%!      for s = b'
%!        x(s + 2:s + 5) += B(:, q);             % taps 1..4 after the spike
%!      endfor
%!      X(:, end + 1) = x(1:T);
%!    endfor
%!  endfor
%!endfunction

%!test
%! ## Standard errors, covariance and Wald statistics equal those of the
%! ## dense Hessian X' diag(mu) X (+ penalty): unpenalised, ridge and group
%! ## lasso; every bin or a mask; coupling on or off.
%! ## 140 s spans three of the blocks of 65,540 bins (a whole number of
%! ## stimulus periods) the Hessian is built in.
%! t0 = 5000.25;
%! cases = {
%!   "none",        0,     20,  false, true
%!   "none",        0,     20,  true,  true
%!   "ridge",       2e-3,  20,  false, true
%!   "ridge",       2e-3,  20,  true,  false
%!   "group_lasso", 4e-4,  20,  false, true
%!   "group_lasso", 4e-4,  20,  true,  true
%!   "ridge",       1e-4,  140, true,  true
%!   "ridge",       1e-4,  140, false, false
%! };
%! for c = 1:rows (cases)
%!   [penalty, alpha, seconds, striped, coupling] = cases{c, :};
%!   [spikes, S, B] = population (1, seconds, t0);
%!   T = 1000 * seconds;
%!   mask = [];
%!   if striped, mask = mod (floor ((0:T - 1)' / 4000), 2) == 0; endif
%!   o = struct ("stimulus", S, "stimulus_rate", 100, "stimulus_lags", 2, ...
%!               "basis", B, "coupling", coupling, "penalty", penalty, ...
%!               "alpha", alpha, "tol", 1e-10, "fit_bins", mask, "t_start", t0);
%!   fit = spike_glm_fit (spikes, seconds, o);
%!   F = true (T, 1);
%!   if striped, F = mask; endif
%!   nF = sum (F);
%!   dropped = 0;
%!   for i = 1:3
%!     src = 1:3;
%!     if ! coupling, src = i; endif
%!     X = design (spikes, S, B, src, t0)(F, :);
%!     theta = fit.weights(:, i);
%!     Hd = X' * (X .* exp (X * theta));
%!     P = columns (X);
%!     free = true (P, 1);
%!     if strcmp (penalty, "ridge")
%!       Hd += nF * alpha * diag ([0; ones(P - 1, 1)]);
%!     elseif strcmp (penalty, "group_lasso")
%!       for j = setdiff (1:3, i)
%!         at = 5 + 2 * (j - 1) + (1:2);
%!         w = theta(at);
%!         if any (w)
%!           Hd(at, at) += nF * alpha * (eye (2) / norm (w) - w * w' / norm (w)^3);
%!         else
%!           free(at) = false;
%!           dropped++;
%!         endif
%!       endfor
%!     endif
%!     Cd = NaN (P);
%!     Cd(free, free) = inv (Hd(free, free));
%!     se = sqrt (diag (Cd));
%!     assert (isequal (isnan (fit.standard_errors(:, i)), isnan (se)), "case %d", c);
%!     assert (fit.standard_errors(free, i), se(free), 1e-8 * se(free));
%!     assert (fit.covariance(free, free, i), Cd(free, free), ...
%!             1e-8 * norm (Cd(free, free), Inf));
%!     z = sqrt (2) * erfinv (0.95);
%!     K = reshape (theta(2:5), 2, 2);
%!     assert (fit.stimulus_upper(:, :, i) - K, reshape (z * se(2:5), 2, 2), 1e-8 * max (se));
%!     y = accumarray (round ((spikes{i} - t0) / 1e-3 + 0.5), 1, [T 1])(F);
%!     ll = sum (y .* (X * theta) - exp (X * theta) - gammaln (y + 1));
%!     assert (fit.log_likelihood(i), ll, 1e-9 * abs (ll));
%!     if strcmp (penalty, "none")
%!       assert (fit.aic(i), 2 * P - 2 * ll, 1e-9 * abs (ll));
%!       assert (fit.bic(i), log (nF) * P - 2 * ll, 1e-9 * abs (ll));
%!     else
%!       assert (isnan ([fit.aic(i), fit.bic(i)]));
%!     endif
%!     for a = 1:numel (src)
%!       j = src(a);
%!       at = 5 + 2 * (a - 1) + (1:2);
%!       band = z * sqrt (diag (B * Cd(at, at) * B'));
%!       if j == i || ! free(at(1))
%!         assert (isnan (fit.coupling_pvalues(j, i)));
%!       else
%!         w = theta(at);
%!         wald = w' * (Cd(at, at) \ w);
%!         assert (fit.coupling_pvalues(j, i), exp (-wald / 2), ...
%!                 1e-8 * exp (-wald / 2) + 1e-300);   # chi2 with 2 df
%!       endif
%!       if free(at(1))
%!         assert (fit.filter_upper(:, j, i) - fit.filters(:, j, i), band, 1e-8 * max (band));
%!         assert (fit.filters(:, j, i) - fit.filter_lower(:, j, i), band, 1e-8 * max (band));
%!       else
%!         assert (all (isnan (fit.filter_lower(:, j, i))));
%!       endif
%!     endfor
%!     if ! coupling
%!       assert (all (isnan (fit.coupling_pvalues(:, i))));
%!     endif
%!   endfor
%!   if c == 5
%!     assert (dropped < 6);    % the lasso must keep some groups to test
%!   endif
%! endfor

%!test
%! ## A silent neuron and a level of 0.5: NaN for the neuron not fitted and
%! ## its coupling, narrower bands; recomputed later they are the same.
%! warning ("off", "spike_glm:silentNeuron", "local");
%! [spikes, S, B] = population (2, 10, 0);
%! spikes{2} = [];
%! o = struct ("basis", B, "penalty", "ridge", "alpha", 1e-3, "level", 0.5);
%! fit = spike_glm_fit (spikes, 10, o);
%! assert (all (isnan (fit.standard_errors(:, 2))));
%! assert (all (isfinite (fit.standard_errors(:, [1 3])(:))));
%! assert (isnan (fit.coupling_pvalues(:, 2)));
%! ## The ridge determines the coupling from the silent source.
%! assert (fit.standard_errors(4:5, 1), ...
%!         1 ./ sqrt ([1; 1] * 10000 * 1e-3), 1e-12);
%! wide = spike_glm_inference (fit, spikes, 10);
%! assert (wide.standard_errors, fit.standard_errors, 1e-14);
%! ratio = (wide.filter_upper - wide.filters) ./ (fit.filter_upper - fit.filters);
%! ratio = ratio(isfinite (ratio));
%! assert (ratio, erfinv (0.95) / erfinv (0.5) * ones (size (ratio)), 1e-9);
%! o.penalty = "none"; o.alpha = 0; o.inference = false;
%! fit = spike_glm_fit (spikes, 10, o);
%! assert (! isfield (fit, "standard_errors"));
%! fit = spike_glm_inference (fit, spikes, 10);
%! ## Unpenalised: the silent source's coupling is not determined.
%! assert (isnan (fit.standard_errors(4:5, [1 3])));
%! assert (isnan (fit.coupling_pvalues(2, [1 3])));
%! assert (fit.aic([1 3]), 2 * 5 - 2 * fit.log_likelihood([1 3]), 1e-9);

%!test
%! ## A unit listed twice, or a basis whose columns are collinear, makes the
%! ## Hessian singular (exactly, or to rounding): NaN and a warning naming
%! ## the neurons, not huge numbers.
%! [spikes, S, B] = population (4, 10, 0);
%! twice = spikes;
%! twice{3} = spikes{1};
%! rand ("state", 4);
%! two = {sort(rand (300, 1) * 10), sort(rand (250, 1) * 10)};
%! cases = {twice, B,                                      "1  2  3"
%!          two,   [ones(4, 1), (1:4)', 2 * (1:4)' + 1],   "1  2"};
%! for c = 1:rows (cases)
%!   [data, basis, names] = cases{c, :};
%!   o = struct ("basis", basis, "max_iter", 50);
%!   lastwarn ("");
%!   evalc ("fit = spike_glm_fit (data, 10, o);");
%!   [msg, id] = lastwarn ();
%!   assert (id, "spike_glm:singularHessian");
%!   assert (! isempty (strfind (msg, ["neuron(s) " names " "])), msg);
%!   assert (all (isnan (fit.standard_errors(:))));
%!   assert (all (isfinite (fit.log_likelihood)));
%! endfor
%! ## Neurons that did not converge have their own warning, and only that.
%! evalc ("fit = spike_glm_fit (twice, 10, struct ('basis', B, 'max_iter', 1));");
%! [~, id] = lastwarn ();
%! assert (id, "spike_glm:notConverged");
%! assert (all (isnan (fit.standard_errors(:))));

%!test
%! ## Refusals.
%! warning ("off", "spike_glm:notConverged", "local");
%! o = struct ("history_taps", 2, "n_basis", 1, "max_iter", 2);
%! fit = spike_glm_fit ({[0.5]}, 1, o);
%! cases = {
%!   @() spike_glm_fit ({[0.5]}, 1, setfield (o, "level", 1)), "level", ...
%!     "spike_glm_fit: opts.level must be a number in (0, 1), the coverage of the bands"
%!   @() spike_glm_inference (fit, {[0.5]}, 1, struct ("level", 0)), "level", ...
%!     "spike_glm_inference: opts.level must be a number in (0, 1), the coverage of the bands"
%!   @() spike_glm_inference (fit, {[0.5]}, 1, struct ("level", [0.9 0.95])), "level", ...
%!     "spike_glm_inference: opts.level must be a number in (0, 1), the coverage of the bands"
%!   @() spike_glm_inference (fit, {[0.5]}, 2), "duration", ...
%!     "spike_glm_inference: the recording has 2000 bins, the fit 1000"
%! };
%! for c = 1:rows (cases)
%!   try
%!     cases{c, 1} ();
%!     error ("no error for case %d", c);
%!   catch err
%!     assert (err.identifier, ["spike_glm:" cases{c, 2}]);
%!     assert (err.message, cases{c, 3});
%!   end_try_catch
%! endfor
