"""Fits of the population GLM's neurons in this process: one neuron from
its start (the constant rate of its spikes) with its penalty's solver, and
every neuron, on one thread or several."""
import math
import time
from typing import NamedTuple

import numpy as np

from spike_bins._constants import START_SPIKES
from spike_bins._objective import _nll, _start_hessian, _stimulus_gram
from spike_bins._penalties import penalty_of
from spike_bins._progress import map_targets


class ConvergenceWarning(UserWarning):
    """A neuron's fit stopped before its optimality test passed."""


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
    nfit = data.nbins - (0 if block is None else block[1] - block[0])
    theta = np.zeros(data.nparams)
    theta[0] = math.log(max(nspikes, START_SPIKES) / nfit)
    if nspikes == 0:
        return NeuronFit(theta, True, 0, time.perf_counter() - started)
    if gram is None:
        gram = _stimulus_gram(data)
    hess = _start_hessian(data, i, max(nspikes, START_SPIKES) / nfit, gram)

    def smooth(th):
        if evaluate is not None:
            return evaluate(th)
        return _nll(th, data, i, block, nfit)

    theta, ok, k = penalty_of(penalty).solve(smooth, theta, hess, data, i, alpha, tol,
                                             max_iter)
    return NeuronFit(theta, ok, k, time.perf_counter() - started)


def _fit_serial(data, penalty, alpha, tol, max_iter, block, targets, say,
                n_jobs=None):
    """The fits of the neurons in targets on n_jobs threads (each neuron's
    computation the same on any number): a list of NeuronFit in the order of
    targets; say(i, fit) as each one ends."""
    gram = _stimulus_gram(data)
    return map_targets(lambda i: _fit_neuron(data, i, penalty, alpha, tol, max_iter,
                                             block, gram=gram),
                       targets, n_jobs, say)
