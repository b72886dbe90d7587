function [x, iters, converged, f, g, aux] = glm_lbfgs(fun, x, R, tol, max_iter, report)
%GLM_LBFGS Minimise a smooth FUN ([f, g] = FUN(x)) by L-BFGS from X.
%   The initial inverse Hessian of every two-loop recursion is inv(R' * R)
%   (R upper triangular, the Cholesky factor of the Hessian at the start):
%   the same as plain L-BFGS on u = R * x. Steps satisfy the strong Wolfe
%   conditions, or, where rounding hides the decrease of f, the approximate
%   Wolfe conditions of Hager and Zhang. Converged: norm(g, Inf) <= TOL
%   within MAX_ITER iterations. REPORT(iter, f, norm(g, Inf)) is called
%   every 25 iterations ([] for none). A point where f or any entry of g
%   is not finite (the rate overflowed, or a weight ran off) is a rejected
%   step: the line search shrinks the step; a start that is not finite
%   returns at once, not converged.
%   [X, ITERS, CONVERGED, F, G, AUX]: FUN gives a third output ([f, g, aux]
%   = FUN(x)), and AUX is that of the returned X (a caller's own record of
%   the point, which it need not evaluate again).
%   One implementation: a loop over GLM_LBFGS_STEP, which spike_glm_fit
%   also drives for a batch of neurons at once.
keep = nargout > 5;
s = glm_lbfgs_step(x, R, tol, max_iter, report);
while ~s.done
  aux = [];
  if keep
    [f, g, aux] = fun(s.ask);
  else
    [f, g] = fun(s.ask);
  end
  s = glm_lbfgs_step(s, f, g, aux);
end
x = s.x;
iters = s.iters;
converged = s.converged;
f = s.f;
g = s.g;
aux = s.aux;
end
