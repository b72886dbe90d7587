"""The population GLM's penalties, one object per name in PENALTIES.

Each penalty knows which coordinates of a neuron's parameter vector
[bias, stimulus weights, w_j for each source j] it penalises (groups(): a
list of slices) and how the penalised objective is minimised (solve()): a
differentiable penalty adds its value, gradient and curvature to the smooth
objective for L-BFGS; one that is not differentiable brings its own
solver. A new penalty is a class and a table entry here; penalty_of() is
the one place a penalty name is checked.
"""
import numpy as np

from spike_bins._objective import _group_slices, _metric_blocks
from spike_bins._solvers import _group_lasso, _lbfgs


class NoPenalty:
    """penalty=None: the objective alone."""

    name = None

    def groups(self, data, i):
        """The penalised coordinates of neuron i's parameters, as slices."""
        return []

    def solve(self, smooth, theta, hess, data, i, alpha, tol, max_iter):
        """Minimise smooth(theta) (value, gradient) plus the penalty from
        theta in the metric hess (the start Hessian, which may be changed):
        (theta, converged, iterations)."""
        return _lbfgs(smooth, theta, hess, np.arange(data.nparams), tol, max_iter,
                      blocks=_metric_blocks(data))


class _Differentiable(NoPenalty):
    """A penalty with a gradient everywhere: L-BFGS on the sum, in the
    metric of the start Hessian plus the penalty's curvature."""

    def value(self, w, alpha):
        raise NotImplementedError

    def gradient(self, w, alpha):
        raise NotImplementedError

    def curvature(self, w, alpha):
        raise NotImplementedError

    def solve(self, smooth, theta, hess, data, i, alpha, tol, max_iter):
        if alpha <= 0:
            return super().solve(smooth, theta, hess, data, i, alpha, tol, max_iter)
        at = self.groups(data, i)
        for g in at:
            hess[g, g] += self.curvature(theta[g], alpha)

        def fun(th):
            v, gr = smooth(th)
            gr = gr.copy()
            for g in at:
                gr[g] += self.gradient(th[g], alpha)
                v = v + self.value(th[g], alpha)
            return v, gr

        return _lbfgs(fun, theta, hess, np.arange(data.nparams), tol, max_iter,
                      blocks=_metric_blocks(data))


class Ridge(_Differentiable):
    """penalty='ridge': (alpha / 2) ||theta without the bias||^2."""

    name = "ridge"

    def groups(self, data, i):
        return [slice(1, data.nparams)]

    def value(self, w, alpha):
        return 0.5 * alpha * (w @ w)

    def gradient(self, w, alpha):
        return alpha * w

    def curvature(self, w, alpha):
        return alpha * np.eye(w.size)


class GroupLasso(NoPenalty):
    """penalty='group_lasso': alpha * sum over the other sources j of
    ||w_j||_2 (bias, stimulus and spike history unpenalised); minimised by
    proximal gradient steps alternated with L-BFGS on the support."""

    name = "group_lasso"

    def groups(self, data, i):
        return _group_slices(data, i)

    def solve(self, smooth, theta, hess, data, i, alpha, tol, max_iter):
        groups = self.groups(data, i)
        if alpha <= 0 or not groups:
            return super().solve(smooth, theta, hess, data, i, alpha, tol, max_iter)
        return _group_lasso(smooth, theta, hess, groups, alpha, tol, max_iter,
                            blocks=_metric_blocks(data))


PENALTIES = {p.name: p for p in (NoPenalty(), Ridge(), GroupLasso())}


def penalty_of(name):
    """The penalty of a name in PENALTIES; ValueError naming the argument
    for any other value."""
    try:
        return PENALTIES[name]
    except (KeyError, TypeError):  # TypeError: an unhashable value
        names = [repr(k) for k in PENALTIES]
        raise ValueError(f"penalty must be {', '.join(names[:-1])} or {names[-1]}, "
                         f"got {name!r}") from None
