"""The first matrix-free population fit, deprecated: the inputs of a
simulated population in bins (Population), its log rate and negative
log-likelihood, a preconditioned L-BFGS-B fit per neuron, and the simulator
of synthetic populations.

A second implementation of the model PopulationGLM fits (with another
scaling of the objective, start bias, stopping test and a tap x target x
source filter layout), kept working for callers that rely on it: every
public name warns (DeprecationWarning) and names its replacement. The
private functions (_simulate, ...) are the same code without the warning.
"""
import functools
import math
import warnings

import numpy as np

import spike_bins as _sb
from spike_bins._basis import raised_cosine_basis
from spike_bins._constants import STIMULUS_DELAY
from spike_bins._fitting import ConvergenceWarning
from spike_bins._simulation import draw_spikes


class Population:
    """Deprecated: use PopulationGLM, which takes spike times in seconds.

    Inputs of a population fit: the coarse stimulus, each neuron's spike
    bins (ascending, a bin listed once per spike) and the model's shape."""

    def __init__(self, stimulus, spikes, nbins, nbns, basis, stim_lags):
        _warn("Population", stacklevel=3)
        self._setup(stimulus, spikes, nbins, nbns, basis, stim_lags)

    @classmethod
    def _make(cls, *args):
        """A Population built without the deprecation warning."""
        pop = cls.__new__(cls)
        pop._setup(*args)
        return pop

    def _setup(self, stimulus, spikes, nbins, nbns, basis, stim_lags):
        self.stimulus = np.ascontiguousarray(stimulus, dtype=float)
        self.spikes = [np.ascontiguousarray(s, dtype=float) for s in spikes]
        self.nbins = int(nbins)
        self.nbns = nbns
        self.basis = np.asfortranarray(basis, dtype=float)
        self.stim_lags = int(stim_lags)
        if self.stimulus.size * int(nbns) != self.nbins:
            raise ValueError("nbins must be the stimulus length times nbns")
        delayed = np.zeros(self.stimulus.size)
        delayed[STIMULUS_DELAY:] = self.stimulus[:self.stimulus.size - STIMULUS_DELAY]
        self.delayed = delayed
        # History enters one bin late: a spike in bin t acts from t + 1 on.
        self.shifted = [s + 1 for s in self.spikes]
        # All neurons' spikes merged once, ascending, with their sources.
        merged = np.concatenate(self.shifted)
        owner = np.repeat(np.arange(len(self.spikes)), [s.size for s in self.spikes])
        order = np.argsort(merged, kind="stable")
        self.merged, self.ids = merged[order], owner[order].astype(float)
        counted = [np.unique(s.astype(np.int64), return_counts=True) for s in self.spikes]
        self.count_bins = [b for b, _ in counted]
        self.counts = [c.astype(float) for _, c in counted]

    @property
    def nneurons(self):
        return len(self.spikes)

    @property
    def nparams(self):
        return 1 + self.stim_lags + self.nneurons * self.basis.shape[1]

    def split(self, theta):
        """(bias, stimulus filter, filter weights nneurons x nbasis)."""
        nb = self.basis.shape[1]
        return (theta[0], theta[1:1 + self.stim_lags],
                theta[1 + self.stim_lags:].reshape(self.nneurons, nb))


def _stimulus_coarse(delayed, k):
    s = np.zeros(delayed.size)
    for lag in range(k.size):
        s[lag:] += k[lag] * delayed[:delayed.size - lag]
    return s


def _log_rate(pop, theta):
    """The log rate of one neuron with parameters theta, a length-T array."""
    bias, k, w = pop.split(theta)
    eta = _sb.tentfill2(_stimulus_coarse(pop.delayed, k), pop.nbns)
    eta += bias
    if w.any() and pop.merged.size:
        _sb.trainfold_pop(pop.merged, pop.ids, np.asfortranarray(pop.basis @ w.T),
                          (0, pop.nbins - 1), pop.nneurons, out=eta)
    return eta[:, 0]


def _negloglik(theta, pop, neuron):
    """Poisson negative log-likelihood of one neuron (constants dropped) and
    its gradient, from the forward operators and their adjoints."""
    theta = np.asarray(theta, dtype=float)
    eta = _log_rate(pop, theta)
    bins, counts = pop.count_bins[neuron], pop.counts[neuron]
    value = -np.sum(counts * eta[bins])
    rate = np.exp(eta, out=eta)
    value += np.sum(rate)
    resid = rate
    resid[bins] -= counts
    grad = np.empty(pop.nparams)
    grad[0] = np.sum(resid)
    coarse = _sb.tentfill2_adjoint(resid, pop.nbns)[:, 0]
    m = coarse.size
    for lag in range(pop.stim_lags):
        grad[1 + lag] = np.sum(coarse[lag:] * pop.delayed[:m - lag])
    ntaps = pop.basis.shape[0]
    if pop.merged.size:
        taps = _sb.trainfold_pop_adjoint(pop.merged, pop.ids, resid, (0, pop.nbins - 1),
                                         ntaps, pop.nneurons)
        grad[1 + pop.stim_lags:] = (pop.basis.T @ taps).T.ravel()
    else:
        grad[1 + pop.stim_lags:] = 0.0
    return value, grad


def _initial_theta(pop, neuron):
    theta = np.zeros(pop.nparams)
    nspikes = pop.spikes[neuron].size
    theta[0] = math.log(max(nspikes, 1) / pop.nbins)
    return theta


def _start_hessian(pop, neuron):
    """The Hessian of negloglik at the constant-rate start, rate * X'X, with
    X'X (X: the design the operators stand for) taken exactly for the
    constant and stimulus columns (from tentfill2 and its adjoint) and for
    spike trains as if spikes of different neurons, and distinct spikes of
    one neuron, were independent: n_j * B'B + n_j * n_k * s s' / T with
    s = B's column sums. Cheap (one T x 1 array at a time) and close enough
    to precondition the fit."""
    t, lags, basis = pop.nbins, pop.stim_lags, pop.basis
    nb = basis.shape[1]
    g = np.zeros((pop.nparams, pop.nparams))
    g[0, 0] = t
    m = pop.delayed.size
    shifted = []
    for lag in range(lags):
        d = np.zeros(m)
        d[lag:] = pop.delayed[:m - lag]
        shifted.append(d)
    sums = np.empty(lags)
    for lag in range(lags):
        column = _sb.tentfill2(shifted[lag], pop.nbns)[:, 0]
        sums[lag] = np.sum(column)
        back = _sb.tentfill2_adjoint(column, pop.nbns)[:, 0]
        for other in range(lags):
            g[1 + other, 1 + lag] = np.sum(shifted[other] * back)
    g[0, 1:1 + lags] = g[1:1 + lags, 0] = sums
    s = basis.sum(axis=0)
    bb = basis.T @ basis
    n = np.array([spikes.size for spikes in pop.spikes], dtype=float)
    for j in range(pop.nneurons):
        a = 1 + lags + j * nb
        g[0, a:a + nb] = g[a:a + nb, 0] = n[j] * s
        g[1:1 + lags, a:a + nb] = np.outer(sums, n[j] * s / t)
        g[a:a + nb, 1:1 + lags] = g[1:1 + lags, a:a + nb].T
        for k in range(pop.nneurons):
            b = 1 + lags + k * nb
            g[a:a + nb, b:b + nb] = (n[j] * n[k] / t) * np.outer(s, s)
        g[a:a + nb, a:a + nb] += n[j] * bb
    # Silent neurons leave their columns at zero: keep the matrix definite.
    g[np.diag_indices_from(g)] += 1e-9 * max(t, 1)
    rate = max(pop.spikes[neuron].size, 1) / t
    return rate * g


def _preconditioned(u, pop, neuron, factor):
    from scipy.linalg import solve_triangular
    theta = solve_triangular(factor, u, trans="T", lower=True)
    value, grad = _negloglik(theta, pop, neuron)
    return value, solve_triangular(factor, grad, lower=True)


def _fit_neuron(pop, neuron, maxiter=1000, ftol=1e-10):
    """Maximum-likelihood parameters of one neuron; returns (theta, function
    evaluations). L-BFGS-B runs on u = L' theta, L the Cholesky factor of
    start_hessian, where the problem is close to a unit quadratic at the
    start: a few tens of evaluations instead of hundreds. Warns
    (ConvergenceWarning) when L-BFGS-B stops before its tests pass."""
    from scipy.linalg import solve_triangular
    from scipy.optimize import minimize
    factor = np.linalg.cholesky(_start_hessian(pop, neuron))
    res = minimize(_preconditioned, factor.T @ _initial_theta(pop, neuron),
                   args=(pop, neuron, factor), jac=True, method="L-BFGS-B",
                   options={"maxiter": maxiter, "maxfun": 2 * maxiter,
                            "ftol": ftol, "gtol": 1e-8})
    if not res.success:
        warnings.warn(f"neuron {neuron} did not converge: {res.message}",
                      ConvergenceWarning, stacklevel=3)
    return solve_triangular(factor, res.x, trans="T", lower=True), res.nfev


def _fit_population(pop, neurons=None):
    """Serial fit of each neuron: an nneurons x nparams array."""
    neurons = range(pop.nneurons) if neurons is None else neurons
    return np.array([_fit_neuron(pop, i)[0] for i in neurons])


def _filter_errors(pop, theta_true, theta_fit, neuron):
    """Relative L2 errors of the fitted filters of one neuron, over taps:
    stimulus, history, coupling (all sources together); bias: absolute."""
    b0, k0, w0 = pop.split(theta_true)
    b1, k1, w1 = pop.split(theta_fit)
    f0, f1 = pop.basis @ w0.T, pop.basis @ w1.T  # ntaps x sources
    others = [j for j in range(pop.nneurons) if j != neuron]

    def rel(a, b):
        return float(np.linalg.norm(b - a) / np.linalg.norm(a))

    return {"bias": abs(float(b1 - b0)), "stimulus": rel(k0, k1),
            "history": rel(f0[:, neuron], f1[:, neuron]),
            "coupling": rel(f0[:, others], f1[:, others]) if others else 0.0}


def _true_parameters(rng, nneurons, basis, stim_lags, rate_per_bin):
    """Parameters of a population: history filters that are refractory then
    mildly excitatory, sparse weak coupling, a biphasic stimulus filter."""
    nb = basis.shape[1]
    theta = np.zeros((nneurons, 1 + stim_lags + nneurons * nb))
    shape = np.cos(np.linspace(0, 1.5 * math.pi, stim_lags)) * np.exp(
        -np.arange(stim_lags) / stim_lags)
    history = np.linspace(-1.5, 0.5, nb)
    history[-1] = 0.0
    for i in range(nneurons):
        linked = rng.random((nneurons, 1)) < 0.4
        linked[(i + 1) % nneurons] = True  # every neuron has one input at least
        # Past 20 neurons the coupling weakens so that the summed input, and
        # the population's stability, stay as at 20.
        w = rng.normal(0.0, 0.3 * min(1.0, math.sqrt(20 / nneurons)),
                       (nneurons, nb)) * linked
        w[i] = history + rng.normal(0.0, 0.1, nb)
        theta[i, 0] = math.log(rate_per_bin) + rng.normal(0.0, 0.2)
        theta[i, 1:1 + stim_lags] = rng.uniform(0.3, 0.6) * rng.choice([-1, 1]) * shape
        theta[i, 1 + stim_lags:] = w.ravel()
    return theta


def _simulate(nneurons=20, nbins=3_600_000, nbns=10, seed=0, ntaps=100,
              nbasis=5, stim_lags=5, rate_per_bin=0.006, block=65536):
    """Synthetic population data drawn from the model: (Population, true
    parameters nneurons x nparams). Counts are Poisson given the past, drawn
    bin by bin; the draws jump from spike to spike (the log rate is fixed
    between spikes)."""
    rng = np.random.default_rng(seed)
    e = int(nbns)
    basis = raised_cosine_basis(ntaps, nbasis)
    stimulus = rng.standard_normal(nbins // e)
    nbins = stimulus.size * e
    theta = _true_parameters(rng, nneurons, basis, stim_lags, rate_per_bin)
    probe = Population._make(stimulus, [np.zeros(0)] * nneurons, nbins, nbns, basis,
                             stim_lags)
    coarse = np.empty((stimulus.size, nneurons), order="F")
    filters = np.empty((ntaps, nneurons, nneurons))  # tap, target, source
    for i in range(nneurons):
        bias, k, w = probe.split(theta[i])
        coarse[:, i] = _stimulus_coarse(probe.delayed, k)
        filters[:, i, :] = basis @ w.T
    # filters[:, i, j] is j onto i here; the drawer takes source, target.
    bins, owners = draw_spikes(nbins, theta[:, 0], coarse, nbns,
                               filters.transpose(0, 2, 1), rng, block)
    spikes = [bins[owners == i].astype(float) for i in range(nneurons)]
    return Population._make(stimulus, spikes, nbins, nbns, basis, stim_lags), theta


# The replacement each deprecated name points to.
REPLACEMENTS = {
    "Population": "PopulationGLM, which takes spike times in seconds",
    "log_rate": "PopulationGLM.predict_rate",
    "negloglik": "PopulationGLM.log_likelihood",
    "initial_theta": "PopulationGLM.fit",
    "start_hessian": "PopulationGLM.fit",
    "fit_neuron": "PopulationGLM.fit",
    "fit_population": "PopulationGLM.fit",
    "filter_errors": "PopulationGLM's fitted bias_, stimulus_filters_ and filters_",
    "true_parameters": "draw_spikes with parameters of your own",
    "simulate": "PopulationGLM.simulate, or draw_spikes",
}


def _warn(name, stacklevel):
    warnings.warn(f"spike_bins.glm.{name} is deprecated: use {REPLACEMENTS[name]} "
                  f"(spike_bins.glm)", DeprecationWarning, stacklevel=stacklevel)


def _deprecated(name, fn):
    @functools.wraps(fn)
    def public(*args, **kwargs):
        _warn(name, stacklevel=3)
        return fn(*args, **kwargs)

    public.__name__ = public.__qualname__ = name
    public.__doc__ = (f"Deprecated: use {REPLACEMENTS[name]}.\n\n"
                      + (fn.__doc__ or ""))
    return public


log_rate = _deprecated("log_rate", _log_rate)
negloglik = _deprecated("negloglik", _negloglik)
initial_theta = _deprecated("initial_theta", _initial_theta)
start_hessian = _deprecated("start_hessian", _start_hessian)
fit_neuron = _deprecated("fit_neuron", _fit_neuron)
fit_population = _deprecated("fit_population", _fit_population)
filter_errors = _deprecated("filter_errors", _filter_errors)
true_parameters = _deprecated("true_parameters", _true_parameters)
simulate = _deprecated("simulate", _simulate)
