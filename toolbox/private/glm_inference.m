function fit = glm_inference(fit, model, data, level, caller)
%GLM_INFERENCE Standard errors, covariances, Wald tests of the coupling,
%   pointwise bands of the filters, log-likelihood, AIC and BIC of a fit,
%   added to FIT (from SPIKE_GLM_FIT: weights, opts with fit_bins,
%   n_fit_bins). MODEL and DATA as GLM_SETUP gives them for the fit's
%   recording; LEVEL the coverage of the bands (0 < LEVEL < 1); CALLER
%   prefixes the messages.
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
%   the adjoints of all columns at once (tentfill2_adjoint, one
%   trainfold_pop_adjoint over all sources, the basis projection), block
%   by block (GLM_BLOCKS).
%
%   Parameters that are not estimated get NaN standard errors, NaN rows and
%   columns of the covariance, NaN bands and p-values: every parameter of
%   a target that was not fitted (no spikes in the fit bins, or fewer than
%   opts.min_spikes), the coupling of a source held at zero (fewer than
%   min_spikes spikes), the zero groups of a group lasso, and parameters
%   whose column of the design is zero over the fit bins (a source without
%   spikes there) in an unpenalised fit, which the data do not determine.
%   A neuron whose Hessian is not positive definite (to working precision)
%   gets NaN throughout, and if it converged the warning
%   'spike_glm:singularHessian' (those that did not have had a warning).
if ~isnumeric(level) || ~isscalar(level) || ~isreal(level) || ~(level > 0 && level < 1)
  error('spike_glm:level', '%s: opts.level must be a number in (0, 1), the coverage of the bands', caller);
end
if ~isfield(data, 'R')
  data = glm_blocks(model, data);
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
few = counts < min_spikes;

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
    held = src(a) ~= i && few(src(a));
    dropped = lasso && src(a) ~= i && ~any(theta(at));
    if held || dropped
      free(at) = false;
    end
  end
  Hs = glm_hessian(model, data, i, mu, find(free)');
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
  % Pivots below P * eps of the largest: singular to working precision
  % (collinear columns, such as a unit listed twice).
  if bad || min(diag(R))^2 < numel(idx) * eps * max(diag(R))^2
    singular(end + 1) = i; %#ok<AGROW>
    continue;
  end
  Ri = R \ eye(numel(idx));
  covariance(idx, idx, i) = Ri * Ri';
  nfree(i) = numel(idx);
end
% Neurons that did not converge (or ran off) have had their warning.
singular = singular(fit.converged(singular));
if ~isempty(singular)
  warning('spike_glm:singularHessian', ['%s: the Hessian of neuron(s) %s ' ...
          'is not positive definite at the fit: no standard errors (NaN)'], ...
          caller, num2str(singular));
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

function Hs = glm_hessian(model, data, i, mu, cols)
% X' diag(MU) X of neuron I's design X, the columns COLS only (the other
% columns stay zero), symmetrised. The bins go in the blocks of GLM_BLOCKS
% (about 64 Ki rows, in cache): in each block, one column of X at a time,
% times mu, through the adjoints of every column.
T = data.T;
N = data.N;
ns = model.nstim;
nb = model.nb;
src = glm_sources(model, N, i);
P = 1 + ns + numel(src) * nb;
Hs = zeros(P);
R = data.R;
for k = 1:ceil(T / R)
  lo = (k - 1) * R + 1;
  hi = min(k * R, T);
  m = mu(lo:hi);
  if ~any(m)
    continue;
  end
  twin = [lo - 1, hi - 1];
  if model.coupling
    s = data.first(k):data.last(k);
    spikes = data.merged(s);
    ids = data.ids(s);
  else
    s = data.first{i}(k):data.last{i}(k);
    spikes = data.shifted{i}(s);
    ids = i * ones(numel(s), 1);
  end
  if ns > 0
    % Rows lo..hi of tentfill2 from the samples around them (one of margin
    % on each side), as the objective computes them.
    step = model.m;
    s0 = max(0, floor((lo - 1) / step) - 1);
    s1 = min(size(model.X, 1), floor((hi - 1) / step) + 2);
    Xs = model.X(s0 + 1:s1, :);
    at = lo - s0 * step:hi - s0 * step;
    Z = tentfill2(Xs, step);
    Z = Z(at, :);
  end
  current = 0;
  for p = cols
    if p == 1
      x = ones(hi - lo + 1, 1);
    elseif p <= 1 + ns
      x = Z(:, p - 1);
    else
      a = floor((p - 2 - ns) / nb) + 1;
      q = p - 1 - ns - (a - 1) * nb;
      if a ~= current
        % The block's nb columns of source a at once.
        hist = trainfold_mex(spikes(ids == src(a)), model.basis, twin);
        current = a;
      end
      x = hist(:, q);
    end
    r = m .* x;
    g = zeros(P, 1);
    g(1) = sum(r);
    if ns > 0
      z = zeros((s1 - s0) * step, 1);
      z(at) = r;
      g(2:1 + ns) = Xs' * tentfill2_adjoint(z, step);
    end
    if model.coupling
      taps = trainfold_pop_adjoint(spikes, ids, r, twin, model.H, N);
    else
      taps = trainfold_adjoint(spikes, r, twin, model.H);
    end
    g(2 + ns:end) = reshape(model.basis' * taps, [], 1);
    Hs(:, p) = Hs(:, p) + g;
  end
end
Hs = (Hs + Hs') / 2;
end
