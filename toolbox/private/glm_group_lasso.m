function [x, iters, converged] = glm_group_lasso(fun, x, H0, groups, alpha, tol, max_iter, report)
%GLM_GROUP_LASSO Minimise f(x) + ALPHA * sum_g ||x(groups{g})||_2 from X.
%   [f, g] = FUN(x) gives the smooth part; H0 (the Hessian of f at the
%   start) gives the metric of the proximal steps: H0 itself on the
%   unpenalised coordinates and c_g * I on group g, c_g the largest
%   eigenvalue of H0's block of g, so that each step is a closed-form group
%   soft-threshold. The metric's scale L is doubled until the quadratic
%   model bounds f (a step to a non-finite value is refused), then divided
%   by group_step_relax for the next step, never below 1.
%
%   Once the set of zero groups has stayed the same for group_stable_steps
%   steps, the objective is smooth near x on the unpenalised coordinates
%   and the non-zero groups: L-BFGS (GLM_LBFGS) finishes there, the zero
%   groups held at zero, for at most group_finish_iter iterations, in the
%   metric H0 plus the curvature of the group norms at x. Proximal steps go
%   on when the result is not optimal (a group that should leave or join
%   the support).
%
%   Every proximal step and every L-BFGS iteration counts one iteration;
%   ITERS never exceeds MAX_ITER. Converged: the optimality conditions
%   hold to TOL (GLM_GROUP_OPTIMAL). REPORT(iter, objective, largest
%   violation of the conditions) each time ITERS passes a multiple of 25
%   ([] for none). The constants come from GLM_CONSTANTS (group_*), the
%   same numbers as Python's solver uses.
k = glm_constants();
P = numel(x);
penalised = false(P, 1);
c = zeros(numel(groups), 1);
for q = 1:numel(groups)
  penalised(groups{q}) = true;
  c(q) = max(eig(H0(groups{q}, groups{q})));
end
U = find(~penalised);
HU = H0(U, U);
RU = chol(HU);
penalty = @(z) alpha * sum(cellfun(@(idx) norm(z(idx)), groups));

[f, g] = fun(x);
iters = 0;
converged = glm_group_optimal(g, x, groups, alpha, tol);
L = 1;
support = group_support(x, groups);
stable = 0;
reported = 0;
while ~converged && iters < max_iter
  if stable >= k.group_stable_steps
    stable = 0;
    [x, used, f, g] = finish(fun, x, f, g, H0, groups, support, alpha, tol, ...
                             min(k.group_finish_iter, max_iter - iters));
    iters = iters + used;
    [converged, residual] = glm_group_optimal(g, x, groups, alpha, tol);
  else
    [x, f, g, L, moved] = proximal_step(fun, x, f, g, L, U, RU, HU, groups, ...
                                        c, alpha, k);
    if ~moved
      break;   % no trial point lowered f: rounding has the last word
    end
    iters = iters + 1;
    L = max(L / k.group_step_relax, 1);
    [converged, residual] = glm_group_optimal(g, x, groups, alpha, tol);
    current = group_support(x, groups);
    if all(current == support)
      stable = stable + 1;
    else
      stable = 0;
    end
    support = current;
  end
  if ~isempty(report) && iters >= reported + 25
    reported = 25 * floor(iters / 25);
    report(iters, f + penalty(x), residual);
  end
end
end

function [z, fz, gz, L, moved] = proximal_step(fun, x, f, g, L, U, RU, HU, groups, c, alpha, k)
% One step from x, L doubled until f(z) <= f(x) + the quadratic model of
% the step + k.group_rounding * |f(x)| (rounding); after
% k.group_max_backtracks refusals the last trial point stands if it lowers
% f, else x stays (MOVED false).
moved = true;
for t = 1:k.group_max_backtracks
  z = x;
  z(U) = x(U) - (RU \ (RU' \ g(U))) / L;
  model = 0;
  for q = 1:numel(groups)
    idx = groups{q};
    v = x(idx) - g(idx) / (L * c(q));
    nv = norm(v);
    shrink = alpha / (L * c(q));
    if nv <= shrink
      z(idx) = 0;
    else
      z(idx) = v * (1 - shrink / nv);
    end
    d = z(idx) - x(idx);
    model = model + c(q) * (d' * d);
  end
  d = z - x;
  model = g' * d + (L / 2) * (d(U)' * HU * d(U) + model);
  [fz, gz] = fun(z);
  if fz <= f + model + k.group_rounding * abs(f)
    return;
  end
  L = 2 * L;
end
if ~(fz < f)
  z = x; fz = f; gz = g;
  moved = false;
end
end

function on = group_support(x, groups)
on = false(numel(groups), 1);
for q = 1:numel(groups)
  on(q) = any(x(groups{q}));
end
end

function [x, iters, f, g] = finish(fun, x, f, g, H0, groups, support, alpha, tol, max_iter)
% L-BFGS on the unpenalised coordinates and the non-zero groups, the zero
% groups held at zero: there the penalty is smooth and the gradient test is
% the optimality conditions of those coordinates. The metric adds the
% curvature alpha * (I / ||w|| - w w' / ||w||^3) of each group's norm.
% F and G (f and its gradient at X) serve the first evaluation; on return
% they are f and its gradient at the new X, those of the evaluation there
% (GLM_LBFGS hands them back), so no evaluation is repeated.
keep = true(numel(x), 1);
for q = find(~support)'
  keep(groups{q}) = false;
end
idx = find(keep);
on = groups(support);
H = H0;
for q = 1:numel(on)
  w = x(on{q});
  nw = norm(w);
  H(on{q}, on{q}) = H(on{q}, on{q}) + (alpha / nw) * (eye(numel(w)) - (w * w') / nw^2);
  [~, on{q}] = ismember(on{q}, idx);
end
v0 = x(idx);
smooth = @(v) reduced(fun, x, idx, v, on, alpha, v0, f, g);
[v, iters, ~, ~, ~, last] = glm_lbfgs(smooth, v0, chol(H(idx, idx)), tol, max_iter, []);
x(idx) = v;
f = last.f;
g = last.g;
end

function [f, g, full] = reduced(fun, x, idx, v, on, alpha, v0, f0, g0)
% FULL: f and its whole gradient at the point, for the caller.
if all(v == v0)
  f = f0;
  gx = g0;
else
  x(idx) = v;
  [f, gx] = fun(x);
end
full = struct('f', f, 'g', gx);
g = gx(idx);
for q = 1:numel(on)
  w = v(on{q});
  nw = norm(w);
  f = f + alpha * nw;
  g(on{q}) = g(on{q}) + alpha * w / nw;
end
if ~isfinite(f) || any(~isfinite(g))
  f = Inf;
end
end
