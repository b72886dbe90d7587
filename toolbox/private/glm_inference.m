function fit = glm_inference(fit, model, data, level)
%GLM_INFERENCE Standard errors, covariances, Wald tests of the coupling,
%   pointwise bands of the filters, log-likelihood, AIC and BIC of a fit,
%   added to FIT (from SPIKE_GLM_FIT: weights, opts with fit_bins,
%   n_fit_bins). MODEL and DATA as GLM_SETUP gives them for the fit's
%   recording; LEVEL the coverage of the bands (0 < LEVEL < 1).
%
%   Per neuron i the covariance is the inverse of the Hessian of the
%   unscaled objective at the fit: X' diag(mu) X over the fit bins (mu the
%   model's rate, zero outside them), plus n_F * alpha on the diagonal of
%   every parameter but the bias for ridge; for the group lasso only the
%   unpenalised parameters and the non-zero groups enter, each group with
%   the curvature of its norm, n_F * alpha * (I / ||w|| - w w' / ||w||^3).
%   The Hessian is built one column at a time without the T x P design:
%   the column x_p of the design (tentfill2 of a lagged stimulus column, or
%   one source's spikes through one basis filter), times mu, goes through
%   the adjoints of all columns at once (GLM_ADJOINT).
%
%   Parameters that are not estimated get NaN standard errors, NaN rows and
%   columns of the covariance, NaN bands and p-values: every parameter of
%   a target that was not fitted (no spikes in the fit bins, or fewer than
%   opts.min_spikes), the coupling of a source held at zero (fewer than
%   min_spikes spikes), the zero groups of a group lasso, and parameters
%   whose column of the design is zero over the fit bins (a source without
%   spikes there) in an unpenalised fit, which the data do not determine.
%   A neuron whose Hessian is not positive definite gets NaN throughout and
%   the warning 'spike_glm:singularHessian'.
if ~isnumeric(level) || ~isscalar(level) || ~isreal(level) || ~(level > 0 && level < 1)
  error('spike_glm:badLevel', 'opts.level must be a number in (0, 1), the coverage of the bands');
end
T = data.T;
N = data.N;
W = fit.weights;
P = size(W, 1);
nb = model.nb;
ns = model.nstim;
o = fit.opts;
mask = o.fit_bins;
if isempty(mask)
  mask = true(T, 1);
end
nF = fit.n_fit_bins;
alpha = o.alpha;
penalised = ~strcmp(o.penalty, 'none') && alpha > 0;
lasso = strcmp(o.penalty, 'group_lasso') && alpha > 0;
ridge = 0;
if strcmp(o.penalty, 'ridge')
  ridge = alpha;
end
min_spikes = 0;
if isfield(o, 'min_spikes') && ~isempty(o.min_spikes)
  min_spikes = o.min_spikes;
end
% Spikes of each neuron in the fit bins: a target below max(1, min_spikes)
% was not fitted; a source below min_spikes (> 0) is held at zero.
counts = zeros(N, 1);
for j = 1:N
  counts(j) = sum(data.counts{j}(mask(data.rows{j})));
end
fitted = counts >= max(1, min_spikes);
sparse = counts < min_spikes;

covariance = NaN(P, P, N);
ll = zeros(N, 1);
nfree = zeros(N, 1);
singular = [];
for i = 1:N
  theta = W(:, i);
  eta = glm_drive(model, data, theta, i);
  mu = exp(eta);
  mu(~mask) = 0;
  rows = data.rows{i};
  y = data.counts{i};
  keep = mask(rows);
  rows = rows(keep);
  y = y(keep);
  ll(i) = sum(y .* eta(rows)) - sum(mu) - sum(gammaln(y + 1));
  if ~fitted(i)
    continue;
  end
  src = glm_sources(model, N, i);
  free = true(P, 1);
  for a = 1:numel(src)
    at = 1 + ns + (a - 1) * nb + (1:nb);
    held = src(a) ~= i && sparse(src(a));
    dropped = lasso && src(a) ~= i && ~any(theta(at));
    if held || dropped
      free(at) = false;
    end
  end
  Hs = zeros(P);
  for p = find(free)'
    Hs(:, p) = glm_adjoint(model, data, i, mu .* glm_column(model, data, i, p));
  end
  Hs = (Hs + Hs') / 2;
  Hs(2:end, 2:end) = Hs(2:end, 2:end) + nF * ridge * eye(P - 1);
  if lasso
    for a = 1:numel(src)
      at = 1 + ns + (a - 1) * nb + (1:nb);
      w = theta(at);
      if src(a) ~= i && free(at(1))
        nw = norm(w);
        Hs(at, at) = Hs(at, at) + nF * alpha * (eye(nb) / nw - (w * w') / nw^3);
      end
    end
  end
  if ~penalised
    % Columns of the design that are zero over the fit bins: not determined.
    free = free & diag(Hs) > 0;
  end
  idx = find(free);
  [R, bad] = chol(Hs(idx, idx));
  if bad
    singular(end + 1) = i; %#ok<AGROW>
    continue;
  end
  Ri = R \ eye(numel(idx));
  covariance(idx, idx, i) = Ri * Ri';
  nfree(i) = numel(idx);
end
if ~isempty(singular)
  warning('spike_glm:singularHessian', ['spike_glm_fit: the Hessian of ' ...
          'neuron(s) %s is not positive definite at the fit: no standard ' ...
          'errors (NaN)'], num2str(singular));
end

se = NaN(P, N);
for i = 1:N
  se(:, i) = sqrt(diag(covariance(:, :, i)));
end
z = sqrt(2) * erfinv(level);
H = model.H;
pvalues = NaN(N, N);
lower = NaN(H, N, N);
upper = NaN(H, N, N);
B = model.basis;
for i = 1:N
  src = glm_sources(model, N, i);
  for a = 1:numel(src)
    j = src(a);
    at = 1 + ns + (a - 1) * nb + (1:nb);
    C = covariance(at, at, i);
    if any(isnan(C(:)))
      continue;
    end
    half = z * sqrt(max(sum((B * C) .* B, 2), 0));
    lower(:, j, i) = fit.filters(:, j, i) - half;
    upper(:, j, i) = fit.filters(:, j, i) + half;
    if j ~= i
      w = W(at, i);
      pvalues(j, i) = gammainc((w' * (C \ w)) / 2, nb / 2, 'upper');
    end
  end
end
K = fit.stimulus_filters;
half = reshape(z * se(2:1 + ns, :), size(K));
fit.standard_errors = se;
fit.covariance = covariance;
fit.coupling_pvalues = pvalues;
fit.filter_lower = lower;
fit.filter_upper = upper;
fit.stimulus_lower = K - half;
fit.stimulus_upper = K + half;
fit.log_likelihood = ll;
if penalised
  fit.aic = NaN(N, 1);
  fit.bic = NaN(N, 1);
else
  fit.aic = 2 * nfree - 2 * ll;
  fit.bic = log(nF) * nfree - 2 * ll;
  fit.aic(nfree == 0) = NaN;
  fit.bic(nfree == 0) = NaN;
end
fit.level = level;
end

function x = glm_column(model, data, i, p)
% Column P of neuron I's design over all T bins.
T = data.T;
ns = model.nstim;
if p == 1
  x = ones(T, 1);
elseif p <= 1 + ns
  x = tentfill2(model.X(:, p - 1), model.m);
else
  a = floor((p - 2 - ns) / model.nb) + 1;
  k = p - 1 - ns - (a - 1) * model.nb;
  src = glm_sources(model, data.N, i);
  x = trainfold_mex(data.shifted{src(a)}, model.basis(:, k), [0, T - 1]);
end
end

function g = glm_adjoint(model, data, i, r)
% X' * R for neuron I's design X: every parameter's entry at once.
T = data.T;
ns = model.nstim;
g = zeros(1 + ns, 1);
g(1) = sum(r);
if ns > 0
  g(2:end) = model.X' * tentfill2_adjoint(r, model.m);
end
if model.coupling
  taps = trainfold_pop_adjoint(data.merged, data.ids, r, [0, T - 1], model.H, data.N);
else
  taps = trainfold_adjoint(data.shifted{i}, r, [0, T - 1], model.H);
end
g = [g; reshape(model.basis' * taps, [], 1)];
end
