"""The population GLM's solvers: L-BFGS-B in the metric of a start Hessian,
with a gradient test of its own, and proximal gradient for the group
lasso, alternated with L-BFGS-B on the support it finds."""
import numpy as np


class _Done(Exception):
    pass


class _DenseFactor:
    """The Cholesky factor L (H = L L') of a metric: solve(g) = L^-1 g,
    solve_t(u) = L'^-1 u, times_t(x) = L' x."""

    def __init__(self, h):
        from scipy.linalg import cholesky
        self.factor = cholesky(h, lower=True, check_finite=False)

    def solve(self, g):
        from scipy.linalg import solve_triangular
        # No finiteness scan: it costs more than the P^2 solve itself.
        return solve_triangular(self.factor, g, lower=True, check_finite=False)

    def solve_t(self, u):
        from scipy.linalg import solve_triangular
        return solve_triangular(self.factor, u, trans="T", lower=True,
                                check_finite=False)

    def times_t(self, x):
        return self.factor.T @ x


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

    def solve(self, g):
        x0 = g[0] / self.l0
        return np.concatenate([[x0], self._d_solve(g[1:] - self.c * x0, False)])

    def solve_t(self, u):
        rest = self._d_solve(u[1:], True)
        return np.concatenate([[(u[0] - self.c @ rest) / self.l0], rest])

    def times_t(self, x):
        rest = np.empty(x.size - 1)
        for pos, fac, _ in self.groups:
            rest[pos] = np.einsum("kji,kj->ki", fac, x[1:][pos])
        return np.concatenate([[self.l0 * x[0] + self.c @ x[1:]], rest])


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


def _lbfgs(fun, theta0, hess, free, tol, max_iter, blocks=None):
    """Minimise fun (value, gradient) over the coordinates `free` from theta0
    with L-BFGS-B in the metric of hess: (theta, converged, iterations).
    Converged: the infinity norm of the gradient over `free` <= tol.
    blocks: the metric's blocks (_BlockFactor), or None for a dense factor."""
    from scipy.optimize import minimize

    factor = _metric_factor(hess, free, blocks)
    theta = theta0.copy()
    state = {"iter": 0, "theta": theta0.copy()}

    def to_theta(u):
        full = theta.copy()
        full[free] = factor.solve_t(u)
        return full

    def f(u):
        full = to_theta(u)
        value, grad = fun(full)
        g = grad[free]
        if np.max(np.abs(g), initial=0.0) <= tol:
            state["theta"] = full
            raise _Done
        return value, factor.solve(g)

    def count(_):
        state["iter"] += 1

    for _ in range(4):  # restarts after a line-search stall, memory cleared
        left = max_iter - state["iter"]
        if left <= 0:
            break
        try:
            res = minimize(f, factor.times_t(theta[free]), jac=True, method="L-BFGS-B",
                           callback=count,
                           options={"maxiter": left, "maxfun": 2 * left + 20,
                                    "ftol": 0.0, "gtol": 0.0, "maxls": 40})
        except _Done:
            return state["theta"], True, state["iter"]
        theta = to_theta(res.x)
    return theta, False, state["iter"]


def _group_optimal(grad, theta, groups, alpha, tol, penalised):
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


def _group_lasso(smooth, theta, hess, groups, alpha, tol, max_iter, blocks=None):
    """Proximal gradient in a block metric (the start Hessian on the
    unpenalised coordinates, a majorising scalar per group), alternated with
    L-BFGS on the support it finds; (theta, converged, iterations)."""
    p = theta.size
    penalised = np.zeros(p, bool)
    for g in groups:
        penalised[g] = True
    unpen = np.flatnonzero(~penalised)
    h_u = hess[np.ix_(unpen, unpen)]
    scale = [np.linalg.eigvalsh(hess[g, g])[-1] for g in groups]
    step = 1.0
    iters = 0
    value, grad = smooth(theta)
    while iters < max_iter:
        if _group_optimal(grad, theta, groups, alpha, tol, penalised):
            return theta, True, iters
        # Proximal steps until the support holds for a few of them.
        stable = 0
        support = [bool(theta[g].any()) for g in groups]
        while iters < max_iter and stable < 3:
            iters += 1
            while True:
                new = theta.copy()
                new[unpen] = theta[unpen] - np.linalg.solve(step * h_u, grad[unpen])
                for g, c in zip(groups, scale):
                    v = theta[g] - grad[g] / (step * c)
                    nv = np.linalg.norm(v)
                    shrink = 1 - alpha / (step * c * nv) if nv > 0 else 0.0
                    new[g] = v * shrink if shrink > 0 else 0.0
                d = new - theta
                quad = d[unpen] @ h_u @ d[unpen] + sum(
                    c * (d[g] @ d[g]) for g, c in zip(groups, scale))
                v_new, g_new = smooth(new)
                if v_new <= value + grad @ d + 0.5 * step * quad + 1e-15 * abs(value):
                    break
                step *= 2.0
            theta, value, grad = new, v_new, g_new
            step = max(step / 1.5, 1.0)
            now = [bool(theta[g].any()) for g in groups]
            stable = stable + 1 if now == support else 0
            support = now
            if _group_optimal(grad, theta, groups, alpha, tol, penalised):
                return theta, True, iters
        # Smooth on the support: the group norms are differentiable there.
        active = [g for g, on in zip(groups, support) if on]
        free = np.concatenate([unpen] + [np.arange(p)[g] for g in active]).astype(int)
        free.sort()

        def total(th):
            v, gr = smooth(th)
            gr = gr.copy()
            for g in active:
                nw = np.linalg.norm(th[g])
                if nw > 0:
                    v += alpha * nw
                    gr[g] += alpha * th[g] / nw
            return v, gr

        # The metric gains the group norms' curvature across a group, alpha / ||w_g||.
        h = hess.copy()
        for g in active:
            h[g, g] += np.eye(g.stop - g.start) * (alpha / np.linalg.norm(theta[g]))
        theta, _, k = _lbfgs(total, theta, h, free, tol, min(max_iter - iters, 30),
                             blocks)
        iters += max(k, 1)
        value, grad = smooth(theta)
    return theta, _group_optimal(grad, theta, groups, alpha, tol, penalised), iters

