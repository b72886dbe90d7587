function ok = glm_group_optimal(g, x, groups, alpha, tol)
%GLM_GROUP_OPTIMAL Optimality of X for f + ALPHA * sum_g ||x_g||_2, G the
%   gradient of f at X: |g| <= TOL on the unpenalised coordinates; for a
%   zero group ||g_g||_2 <= ALPHA + TOL; for a non-zero group
%   ||g_g + ALPHA * x_g / ||x_g|| ||_inf <= TOL.
if any(~isfinite(g))
  ok = false;
  return;
end
free = true(numel(x), 1);
ok = true;
for k = 1:numel(groups)
  idx = groups{k};
  free(idx) = false;
  nx = norm(x(idx));
  if nx == 0
    ok = ok && norm(g(idx)) <= alpha + tol;
  else
    ok = ok && norm(g(idx) + alpha * x(idx) / nx, Inf) <= tol;
  end
end
ok = ok && norm(g(free), Inf) <= tol;
end
