"""spike_bins.dask: chunked results against the in-memory calls, bit for bit,
and the population fit on a local cluster of two worker processes."""
import numpy as np
import pytest

dask = pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")

import spike_bins  # noqa: E402
import spike_bins.dask as sbd  # noqa: E402
from conftest import assert_same_bits, simulated_population  # noqa: E402
from spike_bins import glm  # noqa: E402

rng = np.random.default_rng(18)
ASCENDING = np.sort(rng.uniform(-20.0, 400.0, 300))
UNSORTED = rng.permutation(ASCENDING)
FILTERS = rng.standard_normal((25, 3))

# {spinds, h_currents, twin}: each compared with chunks of 1, 7 and 64 rows
# and one chunk larger than the window.
TRAINFOLD_CASES = [
    (ASCENDING, FILTERS, (0, 399)),
    (ASCENDING, FILTERS[:, 0], (37.9, 211.2)),           # 1-D filter, fractions
    (np.repeat(ASCENDING[:40], 3), FILTERS, (-10, 120)),  # repeated spikes
    (UNSORTED, FILTERS, (0, 399)),                        # any order
    (np.r_[ASCENDING[:50], 1e300, ASCENDING[50:]], FILTERS, (0, 399)),
    (np.r_[ASCENDING[:80], np.nan, ASCENDING[80:]], FILTERS, (0, 399)),
    (np.r_[-np.inf, -1e12, -0.5, ASCENDING, np.inf], FILTERS, (-5, 300)),
    ([[5.0], [3.0], [5.0], [3.0], [5.0]], [0.1, 1 / 3, 0.7], (1, 9)),
    (np.zeros(0), FILTERS, (0, 50)),
    (ASCENDING, np.zeros((0, 2)), (0, 50)),               # no taps
    (ASCENDING, np.zeros((4, 0)), (0, 50)),               # no filters
    (ASCENDING, FILTERS, (5, 5)),
    (ASCENDING, FILTERS, (5, 4)),                         # no rows
    (np.array([True, False, True]), [[1, 2], [3, 4]], [0, 3, 99]),
    (3.0, 2.0, (0, 6)), (np.array([[3.5], [4.0]]), [[1.0, 2.0]], (3, 4)),
    # The leading skip compares times with L = T0 - c + 1: -1.5 (bin -1) is
    # skipped at the head of the list, taken after another spike.
    ([-1.5, 2.0], [1.0, 2.0, 4.0], (1, 5)),
    ([-1.0, -1.5, 2.0], [1.0, 2.0, 4.0], (1, 5)),
    ([-2.5, 0.5, -2.5, -2.7, 3.0], [1.0, 2.0, 4.0, 8.0], (-1, 4)),
]


@pytest.mark.parametrize("spinds, h_currents, twin", TRAINFOLD_CASES)
def test_trainfold_chunks_are_the_whole_call(spinds, h_currents, twin):
    expected = spike_bins.trainfold(spinds, h_currents, twin)
    for chunk in [1, 7, 64, 10**6]:
        y = sbd.trainfold(spinds, h_currents, twin, chunk)
        assert y.shape == expected.shape
        assert_same_bits(y.compute(scheduler="sync"), expected)


X = rng.standard_normal((40, 3))
TENTFILL2_CASES = [
    (X, 10), (X, 3), (X, 4), (X, 1), (X, 2.5), (X, 7.999),
    (X[:, 0], 6),                                  # one column: its own form
    (X[:1], 5), (X[:2, :2], 2),
    (np.array([[1.0, -0.0], [np.inf, 2.0], [3.0, np.nan]]), 3),
    (X, 0.5), (np.zeros((0, 2)), 4), (np.zeros((3, 0)), 4),
    ([1, 2, 3], [4, 9]), (5.0, 3), (np.array([[2.0]]), 1),
]


@pytest.mark.parametrize("x, nbns", TENTFILL2_CASES)
def test_tentfill2_chunks_are_the_whole_call(x, nbns):
    expected = spike_bins.tentfill2(x, nbns)
    for chunk in [1, 3, 7, 64, 10**6]:
        y = sbd.tentfill2(x, nbns, chunk)
        assert y.shape == expected.shape
        assert_same_bits(y.compute(scheduler="sync"), expected)


def _task_arrays(y):
    graph = dict(y.__dask_graph__())
    found = []
    for task in graph.values():
        if isinstance(task, tuple):
            found += [a for a in task if isinstance(a, np.ndarray)]
    return found


def test_chunks_carry_only_what_reaches_them():
    spikes = np.arange(0.0, 10_000.0, 1.0)
    y = sbd.trainfold(spikes, np.ones(10), (0, 9_999), 1_000)
    sizes = sorted(a.size for a in _task_arrays(y) if a.ndim == 1)
    # The chunk of bins [a, a + 999] needs the spikes of bins a - 9 .. a + 999.
    assert sizes == [1_000] + [1_009] * 9
    x = np.arange(1_000.0).reshape(-1, 1)
    y = sbd.tentfill2(x, 10, 500)
    assert max(a.shape[0] for a in _task_arrays(y) if a.ndim == 2) <= 500 // 10 + 3


@pytest.mark.parametrize("call, error", [
    (lambda: sbd.trainfold([1.0], [1.0], (0, 3), 0), "chunk_rows"),
    (lambda: sbd.trainfold([1.0], [1.0], (0, 3), 2.0), "chunk_rows"),
    (lambda: sbd.tentfill2([1.0], 2, True), "chunk_rows"),
    (lambda: sbd.tentfill2([1.0], 2, -4), "chunk_rows"),
])
def test_refuses_bad_chunk_sizes(call, error):
    with pytest.raises(ValueError, match=error):
        call()


@pytest.mark.parametrize("args", [
    ([[1.0, 2.0]], [1.0], (0, 3)),
    ([1.0], [1.0], (0, np.nan)),
    ([1.0], [1.0], (5, 2)),
    ([1.0], [1.0j], (0, 3)),
    (["a"], [1.0], (0, 3)),
    ([1.0], np.zeros((2, 2, 2)), (0, 3)),
    ([1.0], [1.0], 5),
])
def test_trainfold_refuses_as_the_whole_call(args):
    with pytest.raises(Exception) as whole:
        spike_bins.trainfold(*args)
    with pytest.raises(type(whole.value)) as chunked:
        sbd.trainfold(*args, 16)
    assert str(chunked.value) == str(whole.value)


@pytest.mark.parametrize("args", [
    ([1.0j], 2), ([1.0], np.nan), ([1.0, 2.0], 2**30), ([1.0], []),
    (np.zeros((2, 2, 2)), 2), ([1.0], -1),
    (np.ma.masked_array(X, X > 1.5), 4), (X.astype(object), 4),
])
def test_tentfill2_refuses_as_the_whole_call(args):
    with pytest.raises(Exception) as whole:
        spike_bins.tentfill2(*args)
    with pytest.raises(type(whole.value)) as chunked:
        sbd.tentfill2(*args, 16)
    assert str(chunked.value) == str(whole.value)


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1,
                                       processes=True, dashboard_address=":0")
    client = distributed.Client(cluster)
    yield client
    client.close()
    cluster.close()


def test_on_two_worker_processes(client):
    workers = client.scheduler_info()["workers"]
    assert len(workers) == 2
    pids = client.run(lambda: __import__("os").getpid())
    assert len(set(pids.values())) == 2 and __import__("os").getpid() not in pids.values()
    spikes, filters, twin = TRAINFOLD_CASES[3]
    y = sbd.trainfold(spikes, filters, twin, 50)
    assert_same_bits(client.compute(y).result(),
                     spike_bins.trainfold(spikes, filters, twin))
    y = sbd.tentfill2(X, 7, 33)
    assert_same_bits(client.compute(y).result(), spike_bins.tentfill2(X, 7))


@pytest.mark.skipif(not hasattr(spike_bins, "trainfold_adjoint"),
                    reason="the adjoints are missing")
@pytest.mark.filterwarnings("ignore::DeprecationWarning")
def test_distributed_fit_is_the_serial_fit(client):
    pop, _ = simulated_population(nneurons=3, nbins=30_000, seed=2, ntaps=20, nbasis=3)
    serial = glm.fit_population(pop)
    with pytest.warns(DeprecationWarning, match=r"PopulationGLM\.fit\(client=\.\.\.\)"):
        distributed_fit = sbd.fit_population(client, pop)
    assert_same_bits(distributed_fit, serial)
    assert_same_bits(sbd.fit_population(client, pop, [2, 0]), serial[[2, 0]])
    # each call's population is held by the workers only while it runs
    held = client.run(lambda: len(__import__("spike_bins._held")._held._HELD))
    assert set(held.values()) == {0}


@pytest.mark.skipif(not hasattr(spike_bins, "trainfold_adjoint"),
                    reason="the adjoints are missing")
@pytest.mark.parametrize("params", [{}, {"penalty": "group_lasso", "alpha": 1e-4}])
def test_estimator_on_a_client_is_the_serial_fit(client, params):
    pop, _ = simulated_population(nneurons=3, nbins=30_000, seed=2, ntaps=20, nbasis=3)
    args = ([(s + 0.5) * 0.001 for s in pop.spikes], 30.0, pop.stimulus, 100.0)
    model = glm.PopulationGLM(history_taps=20, n_basis=3, **params)
    serial = model.fit(*args).weights_.copy()
    errors = model.standard_errors_
    assert_same_bits(model.fit(*args, client=client).weights_, serial)
    # the covariance of a client fit is computed in this process
    assert_same_bits(model.standard_errors_, errors)


@pytest.mark.skipif(not hasattr(spike_bins, "trainfold_adjoint"),
                    reason="the adjoints are missing")
def test_fit_through_the_scheduler_address_sends_the_recording_once(client):
    """The cluster recipe's path: a Client connected by the scheduler's
    tcp:// address, a recording on a 30 kHz clock far from t = 0 with a
    silent unit and one of three spikes, its last 10 % held out. Each worker
    unpickles the recording once, however many neuron tasks it runs, and
    the fit is the serial one bit for bit."""
    pop, _ = simulated_population(nneurons=4, nbins=30_000, seed=2, ntaps=20, nbasis=3)
    first = 123_456_789  # the recording's first sample on the 30 kHz clock
    spikes = [(first + 30 * s.astype(np.int64) + 15) / 30000 for s in pop.spikes]
    spikes[2], spikes[3] = np.zeros(0), spikes[3][:3]
    fit_bins = np.arange(30_000) < 27_000
    args = dict(spike_times=spikes, duration=30.0, stimulus=pop.stimulus,
                stimulus_rate=100.0, t_start=first / 30000)
    model = glm.PopulationGLM(history_taps=20, n_basis=3, min_spikes=5)
    with pytest.warns(UserWarning, match=r"neurons \[2\] have no spikes"):
        serial = model.fit(**args, fit_bins=fit_bins).weights_.copy()

    def count_unpickling():
        from spike_bins import _data

        def setstate(self, state):
            _data.unpickled += 1
            self.__dict__.update(state)
        _data.unpickled = 0
        _data._Data.__setstate__ = setstate

    def forget():
        from spike_bins import _data
        del _data._Data.__setstate__

    client.run(count_unpickling)
    try:
        with distributed.Client(client.scheduler.address) as remote:
            assert remote.scheduler.address.startswith("tcp://")
            with pytest.warns(UserWarning, match=r"neurons \[2\] have no spikes"):
                model.fit(**args, fit_bins=fit_bins, client=remote)
            counts = remote.run(lambda: __import__("spike_bins._data").
                                _data.unpickled)
    finally:
        client.run(forget)
    assert sorted(counts.values()) == [1, 1]
    assert_same_bits(model.weights_, serial)
    score = model.score(**{k: v for k, v in args.items()}, bins=~fit_bins)
    assert np.all(np.isfinite(score[[0, 1]]))
