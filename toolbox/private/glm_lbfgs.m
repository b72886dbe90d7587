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
memory = 10;
S = zeros(numel(x), 0);
Y = zeros(numel(x), 0);
keep = nargout > 5;
[f, g, aux] = evaluate(fun, x, keep);
iters = 0;
if ~isfinite(f) || any(~isfinite(g))
  converged = false;
  return;
end
converged = norm(g, Inf) <= tol;
while ~converged && iters < max_iter
  d = -two_loop(g, S, Y, R);
  if ~(g' * d < 0)
    S = S(:, []); Y = Y(:, []);
    d = -(R \ (R' \ g));
  end
  [xn, fn, gn, ok, an] = wolfe_search(fun, x, f, g, d, aux, keep);
  if ~ok && size(S, 2) > 0
    % A stale memory can give a poor direction: retry from the start metric.
    S = S(:, []); Y = Y(:, []);
    d = -(R \ (R' \ g));
    [xn, fn, gn, ok, an] = wolfe_search(fun, x, f, g, d, aux, keep);
  end
  if ~ok
    break;
  end
  s = xn - x;
  y = gn - g;
  if s' * y > 1e-14 * norm(s) * norm(y)
    S = [S(:, max(1, end - memory + 2):end), s];
    Y = [Y(:, max(1, end - memory + 2):end), y];
  end
  x = xn; f = fn; g = gn; aux = an;
  iters = iters + 1;
  converged = norm(g, Inf) <= tol;
  if ~isempty(report) && mod(iters, 25) == 0
    report(iters, f, norm(g, Inf));
  end
end
end

function [f, g, aux] = evaluate(fun, x, keep)
aux = [];
if keep
  [f, g, aux] = fun(x);
else
  [f, g] = fun(x);
end
end

function r = two_loop(g, S, Y, R)
k = size(S, 2);
a = zeros(k, 1);
rho = zeros(k, 1);
q = g;
for n = k:-1:1
  rho(n) = 1 / (Y(:, n)' * S(:, n));
  a(n) = rho(n) * (S(:, n)' * q);
  q = q - a(n) * Y(:, n);
end
r = R \ (R' \ q);
for n = 1:k
  b = rho(n) * (Y(:, n)' * r);
  r = r + S(:, n) * (a(n) - b);
end
end

function [x, f, g, ok, aux] = wolfe_search(fun, x0, f0, g0, d, aux0, keep)
% Bracketing then sectioning (Nocedal and Wright, algorithms 3.5 and 3.6),
% safeguarded cubic interpolation; step 1 first.
c1 = 1e-4; c2 = 0.9;
dphi0 = g0' * d;
noise = 1e-11 * abs(f0);
lo = 0; flo = f0; dlo = dphi0;
hi = Inf; fhi = NaN; dhi = NaN;
alpha = 1;
ok = false;
x = x0; f = f0; g = g0; aux = aux0;
best = struct('f', f0, 'x', x0, 'g', g0, 'aux', aux0);
for evals = 1:40
  xa = x0 + alpha * d;
  [fa, ga, aa] = evaluate(fun, xa, keep);
  if ~isfinite(fa) || any(~isfinite(ga))
    % Rejected: treated as a point above every finite value.
    fa = Inf;
    ga = NaN(size(ga));
  end
  da = ga' * d;
  if fa < best.f
    best = struct('f', fa, 'x', xa, 'g', ga, 'aux', aa);
  end
  armijo = fa <= f0 + c1 * alpha * dphi0;
  strong = abs(da) <= c2 * abs(dphi0);
  approx = fa <= f0 + noise && da <= -0.8 * dphi0 && da >= c2 * dphi0;
  if (armijo && strong) || approx
    x = xa; f = fa; g = ga; aux = aa; ok = true;
    return;
  end
  if ~isfinite(fa) || ~armijo || fa >= flo
    hi = alpha; fhi = fa; dhi = da;
  elseif da * (hi - lo) >= 0 || (isinf(hi) && da > 0)
    hi = lo; fhi = flo; dhi = dlo;
    lo = alpha; flo = fa; dlo = da;
  else
    lo = alpha; flo = fa; dlo = da;
  end
  if isinf(hi)
    alpha = 4 * alpha;
  else
    alpha = interpolate(lo, flo, dlo, hi, fhi, dhi);
  end
  if abs(hi - lo) < 1e-14 * max(1, abs(lo))
    break;
  end
end
% No step met the conditions: keep the best decrease, if any.
if best.f < f0
  x = best.x; f = best.f; g = best.g; aux = best.aux; ok = true;
end
end

function a = interpolate(a0, f0, d0, a1, f1, d1)
% Minimiser of the cubic through both ends, kept within the middle 80 %
% of the interval; bisection when the ends are not finite.
lo = min(a0, a1); span = abs(a1 - a0);
a = (a0 + a1) / 2;
if isfinite(f1) && isfinite(d1)
  t1 = d0 + d1 - 3 * (f0 - f1) / (a0 - a1);
  disc = t1^2 - d0 * d1;
  if disc >= 0
    t2 = sign(a1 - a0) * sqrt(disc);
    c = a1 - (a1 - a0) * ((d1 + t2 - t1) / (d1 - d0 + 2 * t2));
    if isfinite(c)
      a = c;
    end
  end
end
a = min(max(a, lo + 0.1 * span), lo + 0.9 * span);
end
