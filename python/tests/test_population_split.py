"""PopulationGLM's evaluation: the one-pass population drive and gradient
against a drive summed source by source, and fits split over time blocks
(in this process and on dask workers) against the whole recording."""
import numpy as np
import pytest

import spike_bins
from spike_bins._data import _Data
from spike_bins._distributed import _time_edges, _TimeSplit
from spike_bins._objective import _nll, _stimulus_gram, drive, drive_gradient
from spike_bins import glm

from conftest import assert_same_bits, simulated_population

pytestmark = pytest.mark.skipif(
    not hasattr(spike_bins, "trainfold_pop_adjoint"),
    reason="the population modules (spike_bins.trainfold_pop*) are missing")

TAPS, NB, LAGS = 20, 3, 3


def recording(nneurons=4, seconds=30, seed=7, stimulus=True):
    pop, _ = simulated_population(nneurons=nneurons, nbins=seconds * 1000, seed=seed,
                                  ntaps=TAPS, nbasis=NB, stim_lags=LAGS,
                                  rate_per_bin=0.02)
    spikes = [(s + 0.5) * 0.001 for s in pop.spikes]
    if stimulus:
        return {"spike_times": spikes, "duration": float(seconds),
                "stimulus": pop.stimulus, "stimulus_rate": 100.0}
    return {"spike_times": spikes, "duration": float(seconds)}


def data_of(args, coupling=True):
    # Without coupling a random basis, whose last tap is not zero.
    basis = "raised_cosine" if coupling else np.random.default_rng(3).random((TAPS, NB))
    model = glm.PopulationGLM(history_taps=TAPS, n_basis=NB, stimulus_lags=LAGS,
                              coupling=coupling, basis=basis)
    args = {"stimulus": None, "stimulus_rate": None, **args}
    return model._data(**args, t_start=0.0)[0]


def per_source(data, i, theta, resid):
    """The drive and gradient with one trainfold / trainfold_adjoint call per
    source, each adding a whole column."""
    nb, ntaps = data.basis.shape[1], data.basis.shape[0]
    window = (0, data.nbins - 1)
    eta = np.full(data.nbins, theta[0])
    grad = np.zeros(data.nparams)
    grad[0] = np.sum(resid)
    if data.nstim:
        coarse = data.design @ theta[1:1 + data.nstim]
        eta += spike_bins.tentfill2(coarse, data.m)[:, 0]
        grad[1:1 + data.nstim] = data.design.T @ spike_bins.tentfill2_adjoint(
            resid, data.m)[:, 0]
    at = 1 + data.nstim
    for j in data.sources(i):
        if data.shifted[j].size:
            w = theta[at:at + nb]
            eta += spike_bins.trainfold(data.shifted[j], data.basis @ w, window)[:, 0]
            taps = spike_bins.trainfold_adjoint(data.shifted[j], resid, window, ntaps)
            grad[at:at + nb] = data.basis.T @ taps[:, 0]
        at += nb
    return eta, grad


def rel(a, b):
    return float(np.max(np.abs(a - b)) / np.max(np.abs(b)))


CASES = [  # (coupling, stimulus, neuron, held-out block)
    (True, True, 1, None),
    (False, True, 2, None),
    (True, False, 0, (7000, 13000)),
    (False, False, 3, (0, 5000)),
]


@pytest.mark.parametrize("coupling, stimulus, i, block", CASES)
def test_population_pass_is_the_per_source_sum(coupling, stimulus, i, block):
    data = data_of(recording(stimulus=stimulus), coupling)
    theta = np.random.default_rng(i).normal(0.0, 0.2, data.nparams)
    theta[0] = -4.0
    resid = np.random.default_rng(9).standard_normal(data.nbins)
    eta, grad = per_source(data, i, theta, resid)
    assert rel(drive(data, i, theta), eta) < 1e-12
    assert rel(drive_gradient(data, i, resid), grad) < 1e-12
    # The objective's gradient against central differences.
    nfit = data.nbins - (0 if block is None else block[1] - block[0])
    value, g = _nll(theta, data, i, block, nfit)
    step = 1e-6
    numeric = np.array([
        (_nll(theta + step * e, data, i, block, nfit)[0]
         - _nll(theta - step * e, data, i, block, nfit)[0]) / (2 * step)
        for e in np.eye(data.nparams)])
    np.testing.assert_allclose(g, numeric, rtol=0, atol=1e-7 * np.abs(g).max())


@pytest.mark.parametrize("coupling, stimulus, i, block", CASES)
@pytest.mark.parametrize("n_blocks, block_seconds", [(1, None), (7, None),
                                                      (None, 4.0), (None, 0.005)])
def test_blocked_evaluation_is_the_whole_one(coupling, stimulus, i, block, n_blocks,
                                             block_seconds):
    data = data_of(recording(stimulus=stimulus), coupling)
    edges = _time_edges(data.nbins, n_blocks, block_seconds, 0.001, 1)
    split = _TimeSplit(data, edges, None)
    pieces = split.groups[0][1]
    theta = np.random.default_rng(i).normal(0.0, 0.2, data.nparams)
    theta[0] = -4.0
    # The drive of each block is the whole drive's rows, bit for bit.
    assert_same_bits(np.concatenate([drive(p, i, theta) for p in pieces]),
                     drive(data, i, theta))
    nfit = data.nbins - (0 if block is None else block[1] - block[0])
    value, grad = split.objective(data, i, block, nfit)(theta)
    whole_value, whole_grad = _nll(theta, data, i, block, nfit)
    assert abs(value - whole_value) <= 1e-13 * abs(whole_value)
    assert rel(grad, whole_grad) < 1e-12
    sums, gram = split.gram()
    whole_sums, whole_gram = _stimulus_gram(data)
    if stimulus:
        assert rel(sums, whole_sums) < 1e-12 and rel(gram, whole_gram) < 1e-12


@pytest.mark.parametrize("options, error, match", [
    ({"split": "rows"}, ValueError, "split must be"),
    ({"n_blocks": 2, "block_seconds": 1.0}, ValueError, "not both"),
    ({"n_blocks": 0}, ValueError, "n_blocks must be at least 1"),
    ({"n_blocks": 10**6}, ValueError, "exceeds"),
    ({"block_seconds": -1.0}, ValueError, "block_seconds must be finite"),
    ({"block_seconds": 4e-4}, ValueError, "block_seconds must hold one bin or more"),
    ({"n_blocks": 2.5}, TypeError, "n_blocks must be a whole number"),
])
def test_split_options_are_checked(options, error, match):
    model = glm.PopulationGLM(history_taps=TAPS, n_basis=NB, stimulus_lags=LAGS)
    with pytest.raises(error, match=match):
        model.fit(**recording(nneurons=2, seconds=2), **options)


def test_blocked_fit_is_the_whole_fit():
    args = recording(nneurons=3, seconds=20)
    model = glm.PopulationGLM(history_taps=TAPS, n_basis=NB, stimulus_lags=LAGS)
    whole = model.fit(**args).weights_.copy()
    blocked = model.fit(**args, block_seconds=3.0)
    assert blocked.converged_.all()
    np.testing.assert_allclose(blocked.weights_, whole, rtol=0, atol=1e-6)


@pytest.fixture(scope="module")
def client():
    distributed = pytest.importorskip("dask.distributed")
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1,
                                       processes=True, dashboard_address=":0")
    client = distributed.Client(cluster)
    yield client
    client.close()
    cluster.close()


@pytest.mark.parametrize("params, blocks", [
    ({}, {"n_blocks": 5}),
    ({"penalty": "group_lasso", "alpha": 1e-4}, {"block_seconds": 4.0}),
])
def test_time_split_on_workers_is_the_serial_blocked_fit(client, params, blocks):
    args = recording(nneurons=3, seconds=20, seed=2)
    model = glm.PopulationGLM(history_taps=TAPS, n_basis=NB, stimulus_lags=LAGS,
                              **params)
    serial = model.fit(**args, **blocks).weights_.copy()
    spread = model.fit(**args, client=client, split="time", **blocks)
    assert_same_bits(spread.weights_, serial)
    # Each worker holds only its own blocks.
    data = data_of(args)
    split = _TimeSplit(data, _time_edges(data.nbins, 4, None, 0.001, 2), client)
    held = client.run(lambda dask_worker: [
        (v.lo, v.hi) for v in dask_worker.data.values() if isinstance(v, _Data)])
    wanted = [(0, 5000), (5000, 10000), (10000, 15000), (15000, 20000)]
    mine = sorted(sorted(s for s in spans if s in wanted) for spans in held.values())
    assert mine == [wanted[:2], wanted[2:]]
    del split
