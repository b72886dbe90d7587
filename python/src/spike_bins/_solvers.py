"""The population GLM's solvers: L-BFGS-B in the metric of a start Hessian,
with a gradient test of its own, and proximal gradient for the group
lasso, alternated with L-BFGS-B on the support it finds."""
import numpy as np


class _Done(Exception):
    pass


def _lbfgs(fun, theta0, hess, free, tol, max_iter):
    """Minimise fun (value, gradient) over the coordinates `free` from theta0
    with L-BFGS-B in the metric of hess: (theta, converged, iterations).
    Converged: the infinity norm of the gradient over `free` <= tol."""
    from scipy.linalg import cholesky, solve_triangular
    from scipy.optimize import minimize

    # No finiteness checks: the start Hessian is finite, and the check of
    # each gradient costs more than the P^2 solve itself.
    factor = cholesky(hess[np.ix_(free, free)], lower=True, check_finite=False)
    theta = theta0.copy()
    state = {"iter": 0, "theta": theta0.copy()}

    def to_theta(u):
        full = theta.copy()
        full[free] = solve_triangular(factor, u, trans="T", lower=True,
                                      check_finite=False)
        return full

    def f(u):
        full = to_theta(u)
        value, grad = fun(full)
        g = grad[free]
        if np.max(np.abs(g), initial=0.0) <= tol:
            state["theta"] = full
            raise _Done
        return value, solve_triangular(factor, g, lower=True, check_finite=False)

    def count(_):
        state["iter"] += 1

    for _ in range(4):  # restarts after a line-search stall, memory cleared
        left = max_iter - state["iter"]
        if left <= 0:
            break
        try:
            res = minimize(f, factor.T @ theta[free], jac=True, method="L-BFGS-B",
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


def _group_lasso(smooth, theta, hess, groups, alpha, tol, max_iter):
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
        theta, _, k = _lbfgs(total, theta, h, free, tol, min(max_iter - iters, 30))
        iters += max(k, 1)
        value, grad = smooth(theta)
    return theta, _group_optimal(grad, theta, groups, alpha, tol, penalised), iters

