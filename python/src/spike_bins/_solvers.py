"""The population GLM's solvers: L-BFGS in the metric of a start Hessian
with a strong Wolfe line search that steps back from points where the
objective is not finite, and the group lasso's proximal gradient with an
L-BFGS finish on the support it finds (the algorithm and constants of
Octave's glm_group_lasso.m)."""
import numpy as np

from spike_bins._constants import (GROUP_FINISH_ITER, GROUP_MAX_BACKTRACKS,
                                   GROUP_ROUNDING, GROUP_STABLE_STEPS,
                                   GROUP_STEP_RELAX, LBFGS_MEMORY)




class _DenseFactor:
    """The Cholesky factor of a metric H = R'R (R upper, L = R'):
    inverse(v) = H^-1 v, solve(g) = L^-1 g, solve_t(u) = L'^-1 u."""

    def __init__(self, h):
        from scipy.linalg import cho_factor
        self.upper = cho_factor(h, lower=False, check_finite=False)

    def inverse(self, v):
        from scipy.linalg import cho_solve
        # No finiteness scan: it costs more than the P^2 solve itself.
        return cho_solve(self.upper, v, check_finite=False)

    def solve(self, g):
        from scipy.linalg import solve_triangular
        return solve_triangular(self.upper[0], g, trans="T", check_finite=False)

    def solve_t(self, u):
        from scipy.linalg import solve_triangular
        return solve_triangular(self.upper[0], u, check_finite=False)


class _BlockFactor:
    """A factor L of a metric H whose first coordinate (the bias) couples
    to everything and whose other coordinates fall into blocks coupled to
    each other only through it (the start Hessian: block-diagonal plus the
    bias column times itself over H[0, 0], up to a rank-one rest of order
    1e-9 / T). L = [[l0, 0], [c, D]] with l0 = sqrt(H00), c = H[1:, 0] / l0
    and D the block-diagonal Cholesky factor of the Schur complement's
    diagonal blocks: L L' equals H on the bias row and column and on the
    blocks, and holds the rest of the Schur complement (tiny) at zero.
    O(P * block) to build and per solve where the dense factor is P^3 and
    P^2. blocks: index arrays into H's coordinates 1 .. P-1 that partition
    them."""

    def __init__(self, h, blocks):
        self.l0 = np.sqrt(h[0, 0])
        self.c = h[1:, 0] / self.l0
        self.groups = []  # positions (k x size), factors and their inverses (k x size x size)
        for size in sorted({b.size for b in blocks}):
            pos = np.array([b for b in blocks if b.size == size])
            schur = h[pos[:, :, None], pos[:, None, :]] - (
                self.c[pos - 1][:, :, None] * self.c[pos - 1][:, None, :])
            fac = np.linalg.cholesky(schur)
            self.groups.append((pos - 1, fac, np.linalg.inv(fac)))

    def _d_solve(self, r, transpose):
        out = np.empty_like(r)
        for pos, _, inv in self.groups:
            out[pos] = np.einsum("kji,kj->ki" if transpose else "kij,kj->ki",
                                 inv, r[pos])
        return out

    def inverse(self, v):
        """H^-1 v for H = L L'."""
        return self.solve_t(self.solve(v))

    def solve(self, g):
        x0 = g[0] / self.l0
        return np.concatenate([[x0], self._d_solve(g[1:] - self.c * x0, False)])

    def solve_t(self, u):
        rest = self._d_solve(u[1:], True)
        return np.concatenate([[(u[0] - self.c @ rest) / self.l0], rest])



def _metric_factor(h, free, blocks):
    """The factor of h over the coordinates free: by blocks when blocks
    (index arrays of the parameters besides the bias) are given, the bias is
    free and every block is wholly free or wholly not; dense otherwise."""
    sub = h[np.ix_(free, free)]
    if blocks is None or free.size == 0 or free[0] != 0:
        return _DenseFactor(sub)
    where = np.full(h.shape[0], -1)
    where[free] = np.arange(free.size)
    kept = []
    for b in blocks:
        at = where[b]
        if (at >= 0).all():
            kept.append(at)
        elif (at >= 0).any():
            return _DenseFactor(sub)
    if sum(b.size for b in kept) != free.size - 1:
        return _DenseFactor(sub)
    return _BlockFactor(sub, kept)


def _lbfgs(fun, theta0, hess, free, tol, max_iter, known=None, blocks=None):
    """Minimise fun (value, gradient) over the coordinates `free` from theta0
    by L-BFGS whose initial inverse Hessian is inv(hess[free, free]) (plain
    L-BFGS on u = R x, R' R = hess), with a strong Wolfe line search:
    (theta, converged, iterations). Converged: the infinity norm of the
    gradient over `free` <= tol. A trial point where the value or any
    gradient entry is not finite (the rate overflowed) is a rejected step:
    the line search shrinks the step. The same method as the Octave
    toolbox's glm_lbfgs. known: fun(theta0) when the caller has it. blocks:
    the metric's blocks (_BlockFactor), or None for a dense factor."""
    factor = _metric_factor(hess, free, blocks)
    theta = theta0.copy()

    def at(x):
        full = theta.copy()
        full[free] = x
        return full

    def f(x, given=None):
        value, grad = fun(at(x)) if given is None else given
        g = np.asarray(grad, dtype=float)[free]
        if not (np.isfinite(value) and np.all(np.isfinite(g))):
            return np.inf, np.full(g.size, np.nan)
        return float(value), g

    x = theta0[free].astype(float)
    fx, g = f(x, known)
    if not np.isfinite(fx):
        return theta, False, 0
    pairs = []
    iters = 0
    converged = np.max(np.abs(g), initial=0.0) <= tol
    while not converged and iters < max_iter:
        d = -_two_loop(g, pairs, factor)
        if not g @ d < 0:
            pairs = []
            d = -factor.inverse(g)
        xn, fn, gn, ok = _wolfe_search(f, x, fx, g, d)
        if not ok and pairs:
            # A stale memory can give a poor direction: retry in the start metric.
            pairs = []
            d = -factor.inverse(g)
            xn, fn, gn, ok = _wolfe_search(f, x, fx, g, d)
        if not ok:
            break
        step, change = xn - x, gn - g
        if step @ change > 1e-14 * np.linalg.norm(step) * np.linalg.norm(change):
            pairs = pairs[-(LBFGS_MEMORY - 1):] + [(step, change)]
        x, fx, g = xn, fn, gn
        iters += 1
        converged = np.max(np.abs(g), initial=0.0) <= tol
    return at(x), bool(converged), iters


def _two_loop(g, pairs, factor):
    """The L-BFGS direction inv(H) g from the correction pairs (s, y) and
    the initial inverse Hessian factor.inverse."""
    q = g.copy()
    rho = [1.0 / (y @ s) for s, y in pairs]
    a = [0.0] * len(pairs)
    for n in range(len(pairs) - 1, -1, -1):
        s, y = pairs[n]
        a[n] = rho[n] * (s @ q)
        q -= a[n] * y
    r = factor.inverse(q)
    for n, (s, y) in enumerate(pairs):
        r += s * (a[n] - rho[n] * (y @ r))
    return r


def _wolfe_search(f, x0, f0, g0, d):
    """A step along d meeting the strong Wolfe conditions (or, where
    rounding hides the decrease, the approximate Wolfe conditions of Hager
    and Zhang): bracketing then sectioning with safeguarded cubic
    interpolation, step 1 first, at most 40 evaluations. A non-finite trial
    (f returns inf) lies above every finite value, so the step shrinks.
    (x, f, g, ok); without such a step, the best decrease seen, if any."""
    c1, c2 = 1e-4, 0.9
    dphi0 = g0 @ d
    noise = 1e-11 * abs(f0)
    lo, flo, dlo = 0.0, f0, dphi0
    hi, fhi, dhi = np.inf, np.nan, np.nan
    alpha = 1.0
    best = (f0, x0, g0)
    for _ in range(40):
        xa = x0 + alpha * d
        fa, ga = f(xa)
        da = ga @ d
        if fa < best[0]:
            best = (fa, xa, ga)
        armijo = fa <= f0 + c1 * alpha * dphi0
        strong = abs(da) <= c2 * abs(dphi0)
        approx = fa <= f0 + noise and -0.8 * dphi0 >= da >= c2 * dphi0
        if (armijo and strong) or approx:
            return xa, fa, ga, True
        if not np.isfinite(fa) or not armijo or fa >= flo:
            hi, fhi, dhi = alpha, fa, da
        elif da * (hi - lo) >= 0 or (np.isinf(hi) and da > 0):
            hi, fhi, dhi = lo, flo, dlo
            lo, flo, dlo = alpha, fa, da
        else:
            lo, flo, dlo = alpha, fa, da
        if np.isinf(hi):
            alpha = 4.0 * alpha
        else:
            alpha = _interpolate(lo, flo, dlo, hi, fhi, dhi)
        if abs(hi - lo) < 1e-14 * max(1.0, abs(lo)):
            break
    if best[0] < f0:
        return best[1], best[0], best[2], True
    return x0, f0, g0, False


def _interpolate(a0, f0, d0, a1, f1, d1):
    """The minimiser of the cubic through both ends, kept within the middle
    80 % of the interval; the midpoint when an end is not finite."""
    low, span = min(a0, a1), abs(a1 - a0)
    a = 0.5 * (a0 + a1)
    if np.isfinite(f1) and np.isfinite(d1):
        t1 = d0 + d1 - 3.0 * (f0 - f1) / (a0 - a1)
        disc = t1 * t1 - d0 * d1
        if disc >= 0:
            t2 = np.copysign(np.sqrt(disc), a1 - a0)
            with np.errstate(divide="ignore", invalid="ignore"):
                c = a1 - (a1 - a0) * ((d1 + t2 - t1) / (d1 - d0 + 2.0 * t2))
            if np.isfinite(c):
                a = c
    return min(max(a, low + 0.1 * span), low + 0.9 * span)


def _group_optimal(grad, theta, groups, alpha, tol, penalised):
    """The optimality conditions of f + alpha * sum_g ||theta_g|| to tol, grad
    the gradient of f: |grad| <= tol off the groups; ||grad_g|| <= alpha +
    tol for a zero group, |grad_g + alpha theta_g / ||theta_g||| <= tol for
    the others."""
    free = np.ones(theta.size, bool)
    free[penalised] = False
    if np.max(np.abs(grad[free]), initial=0.0) > tol:
        return False
    for g in groups:
        w, gg = theta[g], grad[g]
        nw = np.linalg.norm(w)
        if nw == 0.0:
            if np.linalg.norm(gg) > alpha + tol:
                return False
        elif np.max(np.abs(gg + alpha * w / nw)) > tol:
            return False
    return True


def _support(theta, groups):
    """Which groups are non-zero."""
    return [bool(theta[g].any()) for g in groups]


def _prox_step(smooth, theta, value, grad, step, unpen, factor, h_u, groups, scale,
               alpha):
    """One proximal step from theta in the metric step * (h_u on the
    unpenalised coordinates, scale[g] * I on group g): a group
    soft-threshold. step doubles until smooth(new) <= value + the quadratic
    model of the step (+ GROUP_ROUNDING * |value|); after
    GROUP_MAX_BACKTRACKS refusals the last trial stands if it lowers the
    value. (theta, value, grad, step, moved); moved False: theta stays."""
    from scipy.linalg import cho_solve
    for _ in range(GROUP_MAX_BACKTRACKS):
        new = theta.copy()
        new[unpen] = theta[unpen] - cho_solve(factor, grad[unpen]) / step
        quad = 0.0
        for g, c in zip(groups, scale):
            v = theta[g] - grad[g] / (step * c)
            nv = np.linalg.norm(v)
            shrink = alpha / (step * c)
            new[g] = 0.0 if nv <= shrink else v * (1.0 - shrink / nv)
            d = new[g] - theta[g]
            quad += c * (d @ d)
        d = new - theta
        du = d[unpen]
        model = grad @ d + 0.5 * step * (du @ h_u @ du + quad)
        v_new, g_new = smooth(new)
        if v_new <= value + model + GROUP_ROUNDING * abs(value):
            return new, v_new, g_new, step, True
        step *= 2.0
    if v_new < value:
        return new, v_new, g_new, step, True
    return theta, value, grad, step, False


def _finish(smooth, theta, value, grad, hess, groups, support, alpha, tol, max_iter,
            blocks=None):
    """L-BFGS-B on the unpenalised coordinates and the non-zero groups, the
    zero groups held at zero (the penalty is smooth there), in the metric
    hess plus each group norm's curvature alpha (I / ||w|| - w w' / ||w||^3);
    value, grad: smooth at theta. (theta, iterations)."""
    keep = np.ones(theta.size, bool)
    active = []
    for g, on in zip(groups, support):
        if on:
            active.append(g)
        else:
            keep[g] = False
    h = hess.copy()
    for g in active:
        w = theta[g]
        nw = np.linalg.norm(w)
        h[g, g] += (alpha / nw) * (np.eye(w.size) - np.outer(w, w) / nw**2)

    def total(th, v=None, gr=None):
        if v is None:
            v, gr = smooth(th)
        gr = gr.copy()
        for g in active:
            nw = np.linalg.norm(th[g])
            v += alpha * nw
            gr[g] += alpha * th[g] / nw
        if not (np.isfinite(v) and np.all(np.isfinite(gr))):
            v = np.inf
        return v, gr

    theta, _, k = _lbfgs(total, theta, h, np.flatnonzero(keep), tol, max_iter,
                         known=total(theta, value, grad), blocks=blocks)
    return theta, k


def _group_lasso(smooth, theta, hess, groups, alpha, tol, max_iter, blocks=None):
    """Minimise smooth + alpha * sum_g ||theta_g|| from theta:
    (theta, converged, iterations).

    Proximal steps in the block metric of hess (the start Hessian on the
    unpenalised coordinates, its block's largest eigenvalue times I on each
    group); once the set of zero groups has stayed the same for
    GROUP_STABLE_STEPS steps, an L-BFGS-B finish on that support of at most
    GROUP_FINISH_ITER iterations, then proximal steps again while the
    conditions fail (a group that must join or leave). Every proximal step
    and every L-BFGS-B iteration counts one iteration; never more than
    max_iter."""
    from scipy.linalg import cho_factor
    penalised = np.zeros(theta.size, bool)
    for g in groups:
        penalised[g] = True
    unpen = np.flatnonzero(~penalised)
    h_u = hess[np.ix_(unpen, unpen)]
    factor = cho_factor(h_u)
    scale = [np.linalg.eigvalsh(hess[g, g])[-1] for g in groups]
    value, grad = smooth(theta)
    iters = 0
    ok = _group_optimal(grad, theta, groups, alpha, tol, penalised)
    step = 1.0
    support = _support(theta, groups)
    stable = 0
    while not ok and iters < max_iter:
        if stable >= GROUP_STABLE_STEPS:
            stable = 0
            theta, k = _finish(smooth, theta, value, grad, hess, groups, support,
                               alpha, tol, min(GROUP_FINISH_ITER, max_iter - iters),
                               blocks)
            iters += k
            value, grad = smooth(theta)
            ok = _group_optimal(grad, theta, groups, alpha, tol, penalised)
            continue
        theta, value, grad, step, moved = _prox_step(
            smooth, theta, value, grad, step, unpen, factor, h_u, groups, scale, alpha)
        if not moved:
            break  # no trial point lowered the value: rounding has the last word
        iters += 1
        step = max(step / GROUP_STEP_RELAX, 1.0)
        ok = _group_optimal(grad, theta, groups, alpha, tol, penalised)
        now = _support(theta, groups)
        stable = stable + 1 if now == support else 0
        support = now
    return theta, ok, iters
