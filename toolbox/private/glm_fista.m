function [x, iters, converged] = glm_fista(fun, x, H0, groups, alpha, tol, max_iter, report)
%GLM_FISTA Minimise f(x) + ALPHA * sum_g ||x(groups{g})||_2 by accelerated
%   proximal gradient (FISTA) with backtracking and adaptive restart.
%   [f, g] = FUN(x) gives the smooth part. The metric of the proximal step
%   is H0 (the Hessian at the start) on the unpenalised coordinates and
%   c_g * I on group g, c_g the largest eigenvalue of H0's block of g, so
%   the step stays a closed-form group soft-threshold; a scale Lk of the
%   metric is raised until the quadratic model bounds f. Converged: the
%   optimality conditions hold to TOL (GLM_GROUP_OPTIMAL) within MAX_ITER
%   iterations (proximal steps and those of the L-BFGS finish, which starts
%   once the zero groups stay the same for 10 steps: 20 iterations at most,
%   3 times at most). REPORT(iter, objective, largest violation of the
%   conditions) every 25 iterations ([] for none).
P = numel(x);
penalised = false(P, 1);
c = zeros(numel(groups), 1);
for k = 1:numel(groups)
  penalised(groups{k}) = true;
  c(k) = max(eig(H0(groups{k}, groups{k})));
end
U = find(~penalised);
RU = chol(H0(U, U));
HU = H0(U, U);
penalty = @(z) alpha * sum(cellfun(@(idx) norm(z(idx)), groups));

[fx, gx] = fun(x);
iters = 0;
converged = glm_group_optimal(gx, x, groups, alpha, tol);
y = x; fy = fx; gy = gx;
t = 1;
Lk = 1;
support = group_support(x, groups);
stable = 0;
polishes = 0;
while ~converged && iters < max_iter
  % Proximal step from y, backtracking on the metric scale Lk.
  for tries = 1:60
    z = y;
    z(U) = y(U) - (RU \ (RU' \ gy(U))) / Lk;
    for k = 1:numel(groups)
      idx = groups{k};
      v = y(idx) - gy(idx) / (Lk * c(k));
      nv = norm(v);
      shrink = alpha / (Lk * c(k));
      if nv <= shrink
        z(idx) = 0;
      else
        z(idx) = v * (1 - shrink / nv);
      end
    end
    dz = z - y;
    model = gy' * dz + (Lk / 2) * (dz(U)' * HU * dz(U));
    for k = 1:numel(groups)
      model = model + (Lk / 2) * c(k) * (dz(groups{k})' * dz(groups{k}));
    end
    [fz, gz] = fun(z);
    if fz <= fy + model + 1e-11 * abs(fy)
      break;
    end
    Lk = 2 * Lk;
  end
  iters = iters + 1;
  [converged, residual] = glm_group_optimal(gz, z, groups, alpha, tol);
  if ~isempty(report) && mod(iters, 25) == 0
    report(iters, fz + penalty(z), residual);
  end
  % Restart the momentum when it points uphill (O'Donoghue and Candes).
  if (y - z)' * (z - x) > 0
    t = 1;
    y = z; fy = fz; gy = gz;
  else
    tn = (1 + sqrt(1 + 4 * t^2)) / 2;
    beta = (t - 1) / tn;
    t = tn;
    if beta > 0
      y = z + beta * (z - x);
      [fy, gy] = fun(y);
    else
      y = z; fy = fz; gy = gz;
    end
  end
  x = z;
  Lk = max(Lk / 1.25, 1e-3);
  % Once the zero groups stay the same for 10 steps, the objective is
  % smooth near x on the other coordinates: finish there with L-BFGS, and
  % go on with proximal steps only if the result is not optimal.
  current = group_support(x, groups);
  if isequal(current, support)
    stable = stable + 1;
  else
    stable = 0;
  end
  support = current;
  if ~converged && stable >= 10 && polishes < 3 && iters < max_iter
    polishes = polishes + 1;
    stable = 0;
    [x, used] = polish(fun, x, H0, groups, support, alpha, tol, min(20, max_iter - iters));
    iters = iters + used;
    [fx, gx] = fun(x);
    converged = glm_group_optimal(gx, x, groups, alpha, tol);
    y = x; fy = fx; gy = gx;
    t = 1;
  end
end
end

function on = group_support(x, groups)
on = false(numel(groups), 1);
for k = 1:numel(groups)
  on(k) = any(x(groups{k}));
end
end

function [x, iters] = polish(fun, x, H0, groups, support, alpha, tol, max_iter)
% L-BFGS on the unpenalised coordinates and the non-zero groups, the zero
% groups held at zero: there the penalty is smooth and the gradient test is
% the optimality conditions of those coordinates.
keep = true(numel(x), 1);
for k = find(~support)'
  keep(groups{k}) = false;
end
idx = find(keep);
on = groups(support);
for k = 1:numel(on)
  [~, on{k}] = ismember(on{k}, idx);
end
smooth = @(v) reduced(fun, x, idx, v, on, alpha);
[v, iters] = glm_lbfgs(smooth, x(idx), chol(H0(idx, idx)), tol, max_iter, []);
x(idx) = v;
end

function [f, g] = reduced(fun, x, idx, v, on, alpha)
x(idx) = v;
[f, gx] = fun(x);
g = gx(idx);
for k = 1:numel(on)
  w = v(on{k});
  nw = norm(w);
  f = f + alpha * nw;
  g(on{k}) = g(on{k}) + alpha * w / nw;
end
if ~isfinite(f) || any(~isfinite(g))
  f = Inf;
end
end
