"""Fits of the population GLM's neurons in this process: one neuron from
its start (the constant rate of its spikes) with its penalty's solver, and
every neuron, on one thread or several."""
import math
import time
from typing import NamedTuple

import numpy as np

from spike_bins._constants import LOCKSTEP_TARGETS, START_SPIKES
from spike_bins._objective import _nll, _start_hessian, _stimulus_gram
from spike_bins._penalties import penalty_of
from spike_bins._lockstep import fit_lockstep
from spike_bins._progress import map_targets, resolve_n_jobs


class NotFittedError(RuntimeError, AttributeError):
    """The estimator is used before fit (an AttributeError too, so that
    hasattr(model, "standard_errors_") is False on an unfitted model)."""


class ConvergenceWarning(UserWarning):
    """A neuron's fit stopped before its optimality test passed."""


class RunawayWarning(ConvergenceWarning):
    """A neuron's likelihood has no finite maximum: its fitted weights run
    off (the warning names the target and the sources, or its bias)."""


class NeuronFit(NamedTuple):
    """The fit of one neuron."""

    theta: np.ndarray  # parameters [bias, stimulus weights, source weights]
    converged: bool  # the optimality test passed
    n_iter: int  # solver iterations
    seconds: float  # wall time of the fit


def _fit_neuron(data, i, penalty, alpha, tol, max_iter, block=None, evaluate=None,
                gram=None):
    """Fit of neuron i, a NeuronFit. penalty: a name in PENALTIES; block: the
    held-out bins (lo, hi), left out of the objective. evaluate(theta): the
    objective and gradient (default: on the whole recording in data); gram:
    the recording's _stimulus_gram (computed here when not given)."""
    started = time.perf_counter()
    nspikes = int(data.counts(i, block)[1].sum())
    nfit = data.fit_count(block)
    theta = np.zeros(data.nparams)
    theta[0] = math.log(max(nspikes, START_SPIKES) / nfit)
    if nspikes == 0 or nspikes < data.min_spikes:  # silent: not fitted
        theta[0] = math.log(START_SPIKES / nfit)
        return NeuronFit(theta, True, 0, time.perf_counter() - started)
    if gram is None:
        gram = _stimulus_gram(data)
    hess = _start_hessian(data, i, max(nspikes, START_SPIKES) / nfit, gram)
    fixed = _fixed_coordinates(data, i, block)
    if fixed.size:
        # Decoupled in the metric and without gradient, these coordinates
        # stay exactly 0 in every solver's steps.
        diag = hess[fixed, fixed].copy()
        hess[fixed, :] = 0.0
        hess[:, fixed] = 0.0
        hess[fixed, fixed] = diag

    def smooth(th):
        if evaluate is not None:
            value, grad = evaluate(th)
        else:
            value, grad = _nll(th, data, i, block, nfit)
        if fixed.size:
            grad = grad.copy()
            grad[fixed] = 0.0
        return value, grad

    theta, ok, k = penalty_of(penalty).solve(smooth, theta, hess, data, i, alpha, tol,
                                             max_iter)
    return NeuronFit(theta, ok, k, time.perf_counter() - started)


def _fixed_coordinates(data, i, block):
    """Indices into neuron i's parameters of the weights held at 0: those
    of the sources below min_spikes (data.fixed_sources)."""
    fixed = set(data.fixed_sources(i, block))
    nb, at = data.basis.shape[1], 1 + data.nstim
    out = []
    for x, j in enumerate(data.sources(i)):
        if j in fixed:
            out.extend(range(at + x * nb, at + (x + 1) * nb))
    return np.array(out, dtype=np.intp)


def lockstep_width(ntargets, workers):
    """Targets per lockstep batch: LOCKSTEP_TARGETS, fewer when that would
    leave workers without a batch."""
    return max(1, min(LOCKSTEP_TARGETS, -(-ntargets // max(1, workers))))


def _fit_serial(data, penalty, alpha, tol, max_iter, block, targets, say,
                n_jobs=None, gram=None):
    """The fits of the neurons in targets on n_jobs threads (each neuron's
    computation the same on any number): a list of NeuronFit in the order of
    targets; say(i, fit) as each one ends. gram: the recording's
    _stimulus_gram (computed here when not given)."""
    if gram is None:
        gram = _stimulus_gram(data)
    targets = list(targets)
    if data.coupling and len(targets) > 1:
        # Every target reads the same sources: their evaluations share one
        # pass over the spikes (the same bits as one at a time).
        workers = resolve_n_jobs(n_jobs, len(targets))
        width = lockstep_width(len(targets), workers)
        return fit_lockstep(
            lambda i, evaluate: _fit_neuron(data, i, penalty, alpha, tol, max_iter,
                                            block, evaluate=evaluate, gram=gram),
            data, block, targets, workers, say, width)
    return map_targets(lambda i: _fit_neuron(data, i, penalty, alpha, tol, max_iter,
                                             block, gram=gram),
                       targets, n_jobs, say)
