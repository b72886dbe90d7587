function [ok, residual] = glm_group_optimal(g, x, groups, alpha, tol)
%GLM_GROUP_OPTIMAL Optimality of X for f + ALPHA * sum_g ||x_g||_2, G the
%   gradient of f at X: |g| <= TOL on the unpenalised coordinates; for a
%   zero group ||g_g||_2 <= ALPHA + TOL; for a non-zero group
%   ||g_g + ALPHA * x_g / ||x_g|| ||_inf <= TOL. RESIDUAL is the largest
%   violation (the left side less ALPHA for zero groups), for progress lines.
if any(~isfinite(g))
  ok = false;
  residual = Inf;
  return;
end
free = true(numel(x), 1);
residual = 0;
ok = true;
for k = 1:numel(groups)
  idx = groups{k};
  free(idx) = false;
  nx = norm(x(idx));
  if nx == 0
    ok = ok && norm(g(idx)) <= alpha + tol;
    residual = max(residual, norm(g(idx)) - alpha);
  else
    r = norm(g(idx) + alpha * x(idx) / nx, Inf);
    ok = ok && r <= tol;
    residual = max(residual, r);
  end
end
r = norm(g(free), Inf);
ok = ok && r <= tol;
residual = max(residual, r);
end
