"""glm.PopulationGLM on a thread pool (n_jobs) and its progress lines: the
same bits for any number of threads, and lines whose times come from the
clock they are given."""
import re
import sys

import numpy as np
import pytest

import spike_bins
from spike_bins import _progress, glm
from spike_bins import _distributed as D
from spike_bins import _objective as O

pytestmark = pytest.mark.skipif(
    not hasattr(spike_bins, "trainfold_adjoint"),
    reason="the adjoints (spike_bins.trainfold_adjoint, tentfill2_adjoint) are missing")

T0 = 81_234.5  # t_start far from 0 (s)
SECONDS = 40


@pytest.fixture(scope="module")
def rec():
    """5 neurons over 40 s: spike times on a 30 kHz sample clock from
    t_start = T0, one unit with a handful of spikes, one silent."""
    pop, _ = glm.simulate(nneurons=5, nbins=SECONDS * 1000, seed=11, ntaps=20,
                          nbasis=3, stim_lags=2, rate_per_bin=0.02)
    rng = np.random.default_rng(2)
    times = []
    for s in pop.spikes:
        ticks = s * 30 + rng.integers(0, 30, s.size)  # 30 ticks per 1 ms bin
        times.append(T0 + ticks / 30_000)
    times[3] = times[3][:4]
    times[4] = np.zeros(0)
    return {"spike_times": times, "duration": float(SECONDS), "t_start": T0,
            "stimulus": pop.stimulus, "stimulus_rate": 100.0}


PARAMS = {"history_taps": 20, "n_basis": 3, "stimulus_lags": 2,
          "min_spikes": 10}  # unit 3 (4 spikes) as silent: no runaway
CASES = [
    ({}, {}),
    ({"penalty": "ridge", "alpha": 1e-4, "coupling": False}, {}),
    ({"penalty": "group_lasso", "alpha": 3e-4}, {}),
    ({}, {"n_blocks": 3}),  # the blocked evaluation in this process
]


@pytest.mark.parametrize("params, fit_options", CASES)
def test_fit_is_the_same_bits_on_any_number_of_threads(rec, params, fit_options):
    fits = {}
    for n_jobs in (None, 1, 2, 3, -1):
        model = glm.PopulationGLM(**PARAMS, **params, n_jobs=n_jobs)
        with pytest.warns(UserWarning, match=r"neurons \[4\] have no spikes"):
            model.fit(**rec, split="time" if fit_options else "neurons",
                      **fit_options)
        fits[n_jobs] = model
    first = fits[None]
    assert first.converged_.all() and first.n_iter_[:3].min() > 3
    for n_jobs, model in fits.items():
        for name in ("weights_", "n_iter_", "converged_", "filters_"):
            assert np.array_equal(getattr(model, name), getattr(first, name)), \
                (n_jobs, name)


def test_cross_validation_is_the_same_bits_on_two_threads(rec):
    fits = [glm.PopulationGLMCV(alphas=(1e-5, 1e-3), n_folds=2, n_jobs=n_jobs,
                                **PARAMS) for n_jobs in (1, 2)]
    for model in fits:
        with pytest.warns(UserWarning):
            model.fit(**rec)
    assert np.array_equal(fits[0].cv_scores_per_neuron_, fits[1].cv_scores_per_neuron_)
    assert np.array_equal(fits[0].weights_, fits[1].weights_)


@pytest.mark.parametrize("block", [None, (9000, 21000)])
def test_evaluation_of_time_blocks_on_threads_is_the_same_bits(rec, block):
    model = glm.PopulationGLM(**PARAMS)
    data, _ = model._data(rec["spike_times"], rec["duration"], rec["stimulus"],
                          rec["stimulus_rate"], rec["t_start"])
    edges = D._time_edges(data.nbins, 5, None, 0.001, 1)
    theta = np.random.default_rng(4).normal(0.0, 0.2, data.nparams)
    theta[0] = -4.0
    nfit = data.nbins - (0 if block is None else block[1] - block[0])
    got = []
    for n_jobs in (1, 2, 5):
        split = D._TimeSplit(data, edges, None, n_jobs)
        assert split.threads == n_jobs
        value, grad = split.objective(data, 1, block, nfit)(theta)
        got.append((value, grad, split.gram()))
    for value, grad, (sums, gram) in got[1:]:
        assert value == got[0][0] and np.array_equal(grad, got[0][1])
        assert np.array_equal(sums, got[0][2][0]) and np.array_equal(gram, got[0][2][1])


def start_hessian_by_pairs(data, i, rate, gram):
    """The start Hessian written source pair by source pair."""
    t, basis, p = data.nbins, data.basis, data.nparams
    nb, ns = basis.shape[1], data.nstim
    g = np.zeros((p, p))
    g[0, 0] = t
    sums = gram[0]
    g[1:1 + ns, 1:1 + ns] = gram[1]
    g[0, 1:1 + ns] = g[1:1 + ns, 0] = sums
    s = basis.sum(axis=0)
    bb = basis.T @ basis
    src = data.sources(i)
    n = data.nspikes.astype(float)
    for x, j in enumerate(src):
        a = 1 + ns + x * nb
        g[0, a:a + nb] = g[a:a + nb, 0] = n[j] * s
        g[1:1 + ns, a:a + nb] = np.outer(sums, n[j] * s / t)
        g[a:a + nb, 1:1 + ns] = g[1:1 + ns, a:a + nb].T
        for y, k in enumerate(src):
            b = 1 + ns + y * nb
            g[a:a + nb, b:b + nb] = (n[j] * n[k] / t) * np.outer(s, s)
        g[a:a + nb, a:a + nb] += n[j] * bb
    g[np.diag_indices_from(g)] += 1e-9 * t
    return g * (rate / t)


@pytest.mark.parametrize("coupling, stimulus, i", [
    (True, True, 0), (True, True, 4), (False, True, 3), (True, False, 1),
    (False, False, 2)])
def test_start_hessian_is_the_pairwise_one(rec, coupling, stimulus, i):
    model = glm.PopulationGLM(**PARAMS, coupling=coupling)
    args = dict(rec) if stimulus else dict(rec, stimulus=None, stimulus_rate=None)
    data, _ = model._data(args["spike_times"], args["duration"], args["stimulus"],
                          args["stimulus_rate"], args["t_start"])
    gram = O._stimulus_gram(data)
    got = O._start_hessian(data, i, 0.0137, gram)
    assert np.array_equal(got, start_hessian_by_pairs(data, i, 0.0137, gram))


# ------------------------------------------------------------------ progress

class Clock:
    """A clock that reads the times it is given, one per call."""

    def __init__(self, *times):
        self.times = list(times)

    def __call__(self):
        return self.times.pop(0)


@pytest.mark.parametrize("seconds, text", [
    (0.0, "0 s"), (0.4, "0 s"), (59.4, "59 s"), (59.6, "1 min 00 s"),
    (125.0, "2 min 05 s"), (3599.4, "59 min 59 s"), (3600.0, "1 h 00 min"),
    (7325.0, "2 h 02 min"), (90_000.0, "25 h 00 min")])
def test_durations(seconds, text):
    assert _progress.duration(seconds) == text


def test_lines_give_the_time_left_from_the_mean_so_far():
    lines = []
    say = _progress.Progress(True, 6, 4, clock=Clock(100.0, 112.0, 130.0, 160.0,
                                                     400.0), write=lines.append)
    say(2, (None, True, 17, 11.94))
    say(0, (None, False, 1000, 20.0))
    say(5, (None, True, 0, 0.0))
    say(1, (None, True, 3, 240.0))
    assert lines == [
        "neuron 3/6: converged in 17 iterations, 11.9 s; 1/4 done in 12 s, about 36 s left",
        "neuron 1/6: stopped without converging in 1000 iterations, 20.0 s; 2/4 done "
        "in 30 s, about 30 s left",
        "neuron 6/6: converged in 0 iterations, 0.0 s; 3/4 done in 1 min 00 s, "
        "about 20 s left",
        "neuron 2/6: converged in 3 iterations, 240.0 s; 4/4 done in 5 min 00 s, "
        "about 0 s left"]


def test_quiet_reports_nothing_and_reads_no_clock():
    lines = []
    say = _progress.Progress(False, 2, 2, clock=Clock(0.0), write=lines.append)
    say(0, (None, True, 1, 0.1))
    assert lines == []


SPAN = r"(?:\d+ s|\d+ min \d\d s|\d+ h \d\d min)"
LINE = re.compile(rf"neuron (\d)/5: converged in \d+ iterations, \d+\.\d s; "
                  rf"(\d)/5 done in {SPAN}, about {SPAN} left")


@pytest.mark.parametrize("n_jobs", [1, 2])
def test_verbose_fit_prints_a_line_per_neuron(rec, capsys, n_jobs):
    model = glm.PopulationGLM(**PARAMS, verbose=True, n_jobs=n_jobs)
    with pytest.warns(UserWarning):
        model.fit(**rec)
    found = [LINE.fullmatch(line) for line in capsys.readouterr().out.splitlines()]
    assert all(found) and len(found) == 5
    assert sorted(int(m[1]) for m in found) == [1, 2, 3, 4, 5]
    assert [int(m[2]) for m in found] == [1, 2, 3, 4, 5]
    assert found[-1][0].endswith("about 0 s left")


def test_bar_or_lines_without_tqdm(rec, capsys, monkeypatch):
    pytest.importorskip("tqdm")
    model = glm.PopulationGLM(**PARAMS, verbose="bar", n_jobs=2)
    with pytest.warns(UserWarning):
        model.fit(**rec)
    out = capsys.readouterr()
    assert out.out == "" and re.search(r"fit: 100%.*5/5", out.err)
    monkeypatch.setitem(sys.modules, "tqdm", None)  # import tqdm fails
    with pytest.warns(UserWarning):
        model.fit(**rec)
    out = capsys.readouterr()
    assert len(out.out.splitlines()) == 5 and "fit:" not in out.err


@pytest.mark.parametrize("option, value, error, match", [
    ("n_jobs", 0, ValueError, "n_jobs must not be 0"),
    ("n_jobs", 1.5, TypeError, "n_jobs must be None or a whole number"),
    ("n_jobs", True, TypeError, "n_jobs"),
    ("n_jobs", "2", TypeError, "n_jobs"),
    ("verbose", "lines", ValueError, "verbose must be True, False or 'bar'"),
    ("verbose", None, TypeError, "verbose"),
])
def test_refusals(rec, option, value, error, match):
    model = glm.PopulationGLM(**PARAMS, **{option: value})
    with pytest.raises(error, match=match):
        model.fit(**rec)
    assert not hasattr(model, "weights_")


@pytest.mark.parametrize("n_jobs, tasks, expected", [
    (None, 4, 1), (1, 4, 1), (3, 4, 3), (8, 4, 4), (2, 0, 1), (np.int64(2), 4, 2),
    (-1, 1000, "cores"), (-2, 1000, "cores - 1"), (-10_000, 4, 1)])
def test_thread_counts(n_jobs, tasks, expected):
    cores = _progress.usable_cores()
    want = {"cores": cores, "cores - 1": max(1, cores - 1)}.get(expected, expected)
    assert _progress.resolve_n_jobs(n_jobs, tasks) == want


def test_thread_pool_keeps_the_order_of_targets():
    seen = []
    got = _progress.map_targets(lambda i: i * i, [5, 1, 4, 2], 3,
                                lambda i, r: seen.append((i, r)))
    assert got == [25, 1, 16, 4] and sorted(seen) == [(1, 1), (2, 4), (4, 16), (5, 25)]


# ------------------------------------------------------- the metric's factor

def start_metric(rec, coupling, stimulus, ridge=0.0):
    model = glm.PopulationGLM(**PARAMS, coupling=coupling)
    args = dict(rec) if stimulus else dict(rec, stimulus=None, stimulus_rate=None)
    data, _ = model._data(args["spike_times"], args["duration"], args["stimulus"],
                          args["stimulus_rate"], args["t_start"])
    h = O._start_hessian(data, 1, 0.0113, O._stimulus_gram(data))
    h[1:, 1:] += ridge * np.eye(h.shape[0] - 1)
    return data, h


@pytest.mark.parametrize("coupling, stimulus, ridge, keep", [
    (True, True, 0.0, None), (True, False, 1e-4, None), (False, True, 0.0, None),
    (False, False, 0.0, None), (True, True, 0.0, (0, 2, 4)), (True, False, 1e-3, (1, 3))])
def test_block_factor_is_the_start_hessians(rec, coupling, stimulus, ridge, keep):
    from spike_bins import _solvers as S
    data, h = start_metric(rec, coupling, stimulus, ridge)
    blocks = O._metric_blocks(data)
    free = np.arange(h.shape[0]) if keep is None else np.sort(
        np.concatenate([[0]] + [blocks[k] for k in keep]))
    factor = S._metric_factor(h, free, blocks)
    assert isinstance(factor, S._BlockFactor)
    sub = h[np.ix_(free, free)]
    eye = np.eye(free.size)
    lower = np.linalg.inv(np.column_stack([factor.solve(e) for e in eye]))
    assert np.allclose(np.tril(lower), lower, rtol=0, atol=1e-12 * np.abs(lower).max())
    # L L' is the metric up to the Schur complement's part between blocks.
    assert np.abs(lower @ lower.T - sub).max() <= 1e-10 * np.abs(sub).max()
    g = np.random.default_rng(5).standard_normal(free.size)
    want = np.linalg.solve(sub, g)
    for got in (factor.solve_t(factor.solve(g)), factor.inverse(g)):
        assert np.abs(got - want).max() <= 1e-8 * np.abs(want).max()


def test_block_factor_needs_whole_blocks_and_the_bias(rec):
    from spike_bins import _solvers as S
    data, h = start_metric(rec, True, True)
    blocks = O._metric_blocks(data)
    cases = [np.arange(1, h.shape[0]),  # no bias
             np.sort(np.concatenate([[0], blocks[1][:2]]))]  # part of a block
    for free in cases:
        assert isinstance(S._metric_factor(h, free, blocks), S._DenseFactor)
    assert isinstance(S._metric_factor(h, np.arange(h.shape[0]), None), S._DenseFactor)


@pytest.mark.parametrize("params", [{}, {"penalty": "ridge", "alpha": 1e-4},
                                    {"penalty": "group_lasso", "alpha": 3e-4}])
def test_fits_in_the_block_metric_equal_the_dense_ones(rec, params, monkeypatch):
    from spike_bins import _penalties
    model = glm.PopulationGLM(**PARAMS, **params, tol=1e-10)
    with pytest.warns(UserWarning):
        blocked = model.fit(**rec).weights_.copy()
    monkeypatch.setattr(_penalties, "_metric_blocks", lambda data: None)
    with pytest.warns(UserWarning):
        dense = model.fit(**rec).weights_
    # Unit 3 (4 spikes) gives no finite optimum, as a target or as a source
    # (weights 12 .. 14: 1 bias, 2 stimulus lags, 3 sources of 3 before it):
    # those weights run off along a path that depends on the metric.
    well = np.ix_([0, 1, 2, 4], np.r_[0:12, 15:blocked.shape[1]])
    assert np.abs(dense[well]).max() < 100
    np.testing.assert_allclose(blocked[well], dense[well], rtol=0, atol=1e-7)
