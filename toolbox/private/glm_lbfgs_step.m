function s = glm_lbfgs_step(s, f, g, aux, report)
%GLM_LBFGS_STEP The L-BFGS of GLM_LBFGS, advanced one evaluation at a time.
%   S = GLM_LBFGS_STEP(X, R, TOL, MAX_ITER, REPORT) starts a solver from X
%   (the arguments of GLM_LBFGS): S.ask is the point whose value and
%   gradient it needs next, S.done is false.
%   S = GLM_LBFGS_STEP(S, F, G, AUX) hands it F, G (and AUX, the caller's
%   record of the point, [] if none) at S.ask; it returns with the next
%   point in S.ask, or with S.done true and the result in S.x, S.iters,
%   S.converged, S.f, S.g, S.aux (GLM_LBFGS's outputs).
%   The solver's state is the struct: many solvers can take turns, their
%   evaluations made together by the caller (spike_glm_fit fits a batch of
%   neurons so, one pass over the spikes per round). The arithmetic and the
%   decisions are GLM_LBFGS's, which is a loop over this function.
if nargin == 5
  x = s;
  c = glm_constants();
  s = struct('x', x, 'R', f, 'tol', g, 'max_iter', aux, 'report', report, ...
             'memory', c.lbfgs_memory, 'S', zeros(numel(x), 0), 'Y', zeros(numel(x), 0), ...
             'f', [], 'g', [], 'aux', [], 'iters', 0, 'converged', false, ...
             'done', false, 'ask', x, 'phase', 0, 'search', []);
  return;
end
if s.phase == 0
  % The value at the start.
  s.f = f; s.g = g; s.aux = aux;
  if ~isfinite(f) || any(~isfinite(g))
    s.done = true;
    return;
  end
  s.converged = norm(g, Inf) <= s.tol;
  s = iterate(s);
  return;
end
% A trial point of the line search.
[w, ended] = wolfe_tell(s.search, f, g, aux);
if ~ended
  s.search = w;
  s.ask = w.x0 + w.alpha * w.d;
  return;
end
if ~w.ok && ~w.retry && size(s.S, 2) > 0
  % A stale memory can give a poor direction: retry from the start metric.
  s.S = s.S(:, []); s.Y = s.Y(:, []);
  s = begin_search(s, -(s.R \ (s.R' \ s.g)), true);
  return;
end
if ~w.ok
  s.done = true;
  return;
end
sk = w.x - s.x;
y = w.g - s.g;
if sk' * y > 1e-14 * norm(sk) * norm(y)
  s.S = [s.S(:, max(1, end - s.memory + 2):end), sk];
  s.Y = [s.Y(:, max(1, end - s.memory + 2):end), y];
end
s.x = w.x; s.f = w.f; s.g = w.g; s.aux = w.aux;
s.iters = s.iters + 1;
s.converged = norm(s.g, Inf) <= s.tol;
if ~isempty(s.report) && mod(s.iters, 25) == 0
  s.report(s.iters, s.f, norm(s.g, Inf));
end
s = iterate(s);
end

function s = iterate(s)
% The head of an iteration: stop, or a direction and its line search.
if s.converged || s.iters >= s.max_iter
  s.done = true;
  return;
end
d = -two_loop(s.g, s.S, s.Y, s.R);
if ~(s.g' * d < 0)
  s.S = s.S(:, []); s.Y = s.Y(:, []);
  d = -(s.R \ (s.R' \ s.g));
end
s = begin_search(s, d, false);
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

function s = begin_search(s, d, retry)
% Bracketing then sectioning (Nocedal and Wright, algorithms 3.5 and 3.6),
% safeguarded cubic interpolation; step 1 first. RETRY: the search from
% the start metric after a failed one.
f0 = s.f;
dphi0 = s.g' * d;
s.search = struct('x0', s.x, 'f0', f0, 'g0', s.g, 'd', d, 'dphi0', dphi0, ...
                  'noise', 1e-11 * abs(f0), 'lo', 0, 'flo', f0, 'dlo', dphi0, ...
                  'hi', Inf, 'fhi', NaN, 'dhi', NaN, 'alpha', 1, 'evals', 1, ...
                  'best', struct('f', f0, 'x', s.x, 'g', s.g, 'aux', s.aux), ...
                  'ok', false, 'retry', retry, 'x', s.x, 'f', f0, 'g', s.g, ...
                  'aux', s.aux);
s.phase = 1;
s.ask = s.search.x0 + s.search.alpha * d;
end

function [w, ended] = wolfe_tell(w, fa, ga, aa)
% One trial point of the search: ENDED with W.ok and the step taken in
% W.x, W.f, W.g, W.aux (unless no step lowered f), or the next step in
% W.alpha.
c1 = 1e-4; c2 = 0.9;
alpha = w.alpha;
xa = w.x0 + alpha * w.d;
if ~isfinite(fa) || any(~isfinite(ga))
  % Rejected: treated as a point above every finite value.
  fa = Inf;
  ga = NaN(size(ga));
end
da = ga' * w.d;
if fa < w.best.f
  w.best = struct('f', fa, 'x', xa, 'g', ga, 'aux', aa);
end
armijo = fa <= w.f0 + c1 * alpha * w.dphi0;
strong = abs(da) <= c2 * abs(w.dphi0);
approx = fa <= w.f0 + w.noise && da <= -0.8 * w.dphi0 && da >= c2 * w.dphi0;
if (armijo && strong) || approx
  w.x = xa; w.f = fa; w.g = ga; w.aux = aa; w.ok = true;
  ended = true;
  return;
end
if ~isfinite(fa) || ~armijo || fa >= w.flo
  w.hi = alpha; w.fhi = fa; w.dhi = da;
elseif da * (w.hi - w.lo) >= 0 || (isinf(w.hi) && da > 0)
  w.hi = w.lo; w.fhi = w.flo; w.dhi = w.dlo;
  w.lo = alpha; w.flo = fa; w.dlo = da;
else
  w.lo = alpha; w.flo = fa; w.dlo = da;
end
if isinf(w.hi)
  w.alpha = 4 * alpha;
else
  w.alpha = interpolate(w.lo, w.flo, w.dlo, w.hi, w.fhi, w.dhi);
end
ended = abs(w.hi - w.lo) < 1e-14 * max(1, abs(w.lo)) || w.evals >= 40;
if ~ended
  w.evals = w.evals + 1;
  return;
end
% No step met the conditions: keep the best decrease, if any.
if w.best.f < w.f0
  w.x = w.best.x; w.f = w.best.f; w.g = w.best.g; w.aux = w.best.aux;
  w.ok = true;
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
