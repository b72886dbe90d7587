"""The group-lasso fit of PopulationGLM on coupled neurons: the optimality
conditions checked on a dense design built here, the groups it selects when
a zero group comes before a non-zero one, and iteration counts that never
exceed max_iter."""
import numpy as np
import pytest

import spike_bins
from spike_bins import glm

pytestmark = pytest.mark.skipif(
    not hasattr(spike_bins, "trainfold_adjoint"),
    reason="the adjoints (spike_bins.trainfold_adjoint, tentfill2_adjoint) are missing")

RATE = 100.0  # stimulus samples per second: 10 bins of 1 ms
T_START = 86400.125  # a day into the acquisition clock
SECONDS = 120.0
TAPS, NB, LAGS = 40, 4, 3
OPTIONS = dict(history_taps=TAPS, n_basis=NB, stimulus_lags=LAGS, penalty="group_lasso",
               alpha=1e-3, tol=1e-10)


def coupled_recording(rng, seconds=SECONDS):
    """Spike times on a 30 kHz clock from T_START, and a stimulus of one
    channel: neuron 1 gets 40 % of neuron 2's spikes 1 or 2 bins later,
    neuron 0 is independent, so in neuron 1's weights the zero group of
    source 0 comes before the non-zero group of source 2."""
    samples = int(seconds * RATE)
    stim = rng.standard_normal((samples, 1))
    coarse = np.zeros((samples, 3))
    coarse[2:] = stim[:-2] @ np.array([[0.4, -0.3, 0.2]])
    eta = np.repeat(coarse, 10, axis=0) + np.log([0.012, 0.006, 0.015])
    counts = rng.poisson(np.exp(eta))
    copied = rng.binomial(counts[:, 2], 0.4)
    lag = rng.integers(1, 3, counts.shape[0])
    for shift in (1, 2):
        take = copied * (lag == shift)
        counts[shift:, 1] += take[:-shift]
    spikes = []
    for i in range(3):
        bins = np.repeat(np.arange(counts.shape[0]), counts[:, i])
        # Off the bin edges (ticks 1 to 29 of 30): the binning of a time on an
        # edge is not what this file tests.
        ticks = 30 * bins + rng.integers(1, 30, bins.size)
        spikes.append(T_START + ticks / 30000.0)
    return spikes, stim


def groups_kept(weights, nb):
    """kept[j, i]: the weights of source j in neuron i's fit are non-zero."""
    n = weights.shape[0]
    first = weights.shape[1] - n * nb
    return np.array([[bool(np.any(weights[i, first + j * nb:first + (j + 1) * nb]))
                      for i in range(n)] for j in range(n)])


@pytest.fixture(scope="module")
def rec():
    spikes, stim = coupled_recording(np.random.default_rng(21))
    return {"spike_times": spikes, "duration": SECONDS, "stimulus": stim,
            "stimulus_rate": RATE, "t_start": T_START}


def design(rec, basis):
    """Dense regressors [1, stimulus lags, sources x basis] and the counts."""
    t = int(SECONDS * 1000)
    cols = [np.ones(t)]
    s = rec["stimulus"][:, 0]
    for lag in range(LAGS):
        x = np.zeros(s.size)
        x[2 + lag:] = s[:s.size - 2 - lag]
        cols.append(spike_bins.tentfill2(x, 10)[:, 0])
    counts = []
    for times in rec["spike_times"]:
        bins = np.floor((times - T_START) / 0.001 + 1e-6).astype(int)
        counts.append(np.bincount(bins, minlength=t).astype(float))
    for y in counts:
        for k in range(basis.shape[1]):
            cols.append(np.convolve(y, np.r_[0.0, basis[:, k]])[:t])
    return np.column_stack(cols), counts


def test_group_lasso_optimal_on_coupled_neurons(rec):
    basis = glm.raised_cosine_basis(TAPS, NB)
    x, counts = design(rec, basis)
    alpha, tol = OPTIONS["alpha"], OPTIONS["tol"]
    model = glm.PopulationGLM(**OPTIONS).fit(**rec)
    assert model.converged_.all()
    assert model.n_iter_.max() > 5  # the max_iter table below cuts real fits
    for i, y in enumerate(counts):
        theta = model.weights_[i]
        grad = x.T @ (np.exp(x @ theta) - y) / y.size
        free = np.ones(theta.size, bool)
        for j in range(3):
            if j == i:
                continue
            g = slice(1 + LAGS + j * NB, 1 + LAGS + (j + 1) * NB)
            free[g] = False
            w = theta[g]
            if w.any():
                assert np.abs(grad[g] + alpha * w / np.linalg.norm(w)).max() <= 2 * tol
            else:
                assert np.linalg.norm(grad[g]) <= alpha + tol
        assert np.abs(grad[free]).max() <= 2 * tol
    kept = groups_kept(model.weights_, NB)
    assert not kept[0, 1] and kept[2, 1]
    assert model.filters_[:3, 2, 1].max() > 0.5


@pytest.mark.parametrize("max_iter", [1, 2, 5])
def test_group_lasso_iterations_within_max_iter(rec, max_iter):
    model = glm.PopulationGLM(**dict(OPTIONS, max_iter=max_iter))
    with pytest.warns(glm.ConvergenceWarning):
        model.fit(**rec)
    assert model.n_iter_.max() <= max_iter, model.n_iter_
    assert not model.converged_.all()


@pytest.mark.parametrize("start, alpha, kept", [(0.0, 0.1, True), (0.1, 10.0, False)])
def test_a_proximal_step_the_metric_bounds_is_taken_at_once(start, alpha, kept):
    """f = (x - c)' H (x - c) / 2 with the bias unpenalised and one group of
    two: the step metric (H on the bias, H's largest group eigenvalue times
    I on the group) bounds f from above, so the first trial point, the
    group soft-threshold, is taken without a backtrack (step stays 1)."""
    from scipy.linalg import cho_factor
    from spike_bins._solvers import _prox_step
    h = np.diag([2.0, 3.0, 1.0])
    h[1, 2] = h[2, 1] = 0.5
    c = np.array([1.0, 2.0, -1.0])

    def smooth(x):
        return 0.5 * (x - c) @ h @ (x - c), h @ (x - c)

    theta = np.array([0.0, start, start])
    value, grad = smooth(theta)
    group, unpen = np.array([1, 2]), np.array([0])
    scale = [np.linalg.eigvalsh(h[1:, 1:])[-1]]
    new, v_new, _, step, moved = _prox_step(smooth, theta, value, grad, 1.0, unpen,
                                            cho_factor(h[:1, :1]), h[:1, :1], [group],
                                            scale, alpha)
    assert moved and step == 1.0 and v_new < value
    v = theta[group] - grad[group] / scale[0]
    shrink = max(0.0, 1.0 - alpha / scale[0] / np.linalg.norm(v))
    np.testing.assert_allclose(new, [c[0], *(shrink * v)], rtol=1e-12, atol=1e-15)
    assert bool(new[group].any()) == kept
