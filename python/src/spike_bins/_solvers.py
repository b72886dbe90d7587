"""The population GLM's solvers: L-BFGS-B in the metric of a start Hessian,
with a gradient test of its own, and the group lasso's proximal gradient
with an L-BFGS-B finish on the support it finds (the algorithm and
constants of Octave's glm_group_lasso.m)."""
import numpy as np

from spike_bins._constants import (GROUP_FINISH_ITER, GROUP_MAX_BACKTRACKS,
                                   GROUP_ROUNDING, GROUP_STABLE_STEPS,
                                   GROUP_STEP_RELAX)


class _Done(Exception):
    pass


def _lbfgs(fun, theta0, hess, free, tol, max_iter, known=None):
    """Minimise fun (value, gradient) over the coordinates `free` from theta0
    with L-BFGS-B in the metric of hess: (theta, converged, iterations).
    Converged: the infinity norm of the gradient over `free` <= tol. An
    iteration is one step taken: a point where the test passes inside a
    line search counts as the step to it. known: fun(theta0) when the
    caller has it, for the first evaluation (scipy asks for theta0 through
    the metric's transform and back)."""
    from scipy.linalg import cholesky, solve_triangular
    from scipy.optimize import minimize

    factor = cholesky(hess[np.ix_(free, free)], lower=True)
    theta = theta0.copy()
    state = {"iter": 0, "theta": theta0.copy(), "start": True, "known": known}

    def to_theta(u):
        full = theta.copy()
        full[free] = solve_triangular(factor, u, trans="T", lower=True)
        return full

    def f(u):
        full = to_theta(u)
        if state.pop("known", None) is not None:
            full = theta0.copy()
            value, grad = known
        else:
            value, grad = fun(full)
        g = grad[free]
        if np.max(np.abs(g), initial=0.0) <= tol:
            state["theta"] = full
            if not state["start"]:
                state["iter"] += 1
            raise _Done
        state["start"] = False
        return value, solve_triangular(factor, g, lower=True)

    def count(_):
        state["iter"] += 1

    for _ in range(4):  # restarts after a line-search stall, memory cleared
        left = max_iter - state["iter"]
        if left <= 0:
            break
        state["start"] = True
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


def _finish(smooth, theta, value, grad, hess, groups, support, alpha, tol, max_iter):
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
                         known=total(theta, value, grad))
    return theta, k


def _group_lasso(smooth, theta, hess, groups, alpha, tol, max_iter):
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
                               alpha, tol, min(GROUP_FINISH_ITER, max_iter - iters))
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
