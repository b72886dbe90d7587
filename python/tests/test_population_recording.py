"""PopulationGLM on recordings as they come: clock stamps binned far from
t = 0, sparse and silent units, refusals before anything is allocated, the
fitted state kept across set_params and failed fits, fit and scored bins,
and simulation (spikes spread in their bin, exact Poisson counts)."""
import math
import tracemalloc
import warnings

import numpy as np
import pytest

import spike_bins
from spike_bins import glm
from spike_bins._inputs import _recording
from spike_bins._simulation import poisson_count
from spike_bins._solvers import _lbfgs

pytestmark = pytest.mark.skipif(
    not hasattr(spike_bins, "trainfold_adjoint"),
    reason="the adjoints (spike_bins.trainfold_adjoint, tentfill2_adjoint) are missing")


# ------------------------------------------------------------------ binning

def stamps(clock, t_start, bin_size, nbins):
    """(times, expected bins) from integer arithmetic: every tick of a
    sample clock (k / rate), or every computed bin edge, over nbins bins."""
    if clock == "edges":
        k = np.arange(nbins)
        return t_start + k * bin_size, k
    rate, per_bin = clock  # ticks per second, whole ticks per bin
    k = np.arange(nbins * per_bin)
    return t_start + k / rate, k // per_bin


BINNING = [  # (clock, t_start, bin_size, bins)
    ((30000, 30), 1000.0, 0.001, 30_000),          # 30 kHz sample clock, 1 ms bins
    ((30000, 30), 12345.678, 0.001, 30_000),
    ((30000, 300), 12345.678, 0.01, 3_000),
    ((1000, 1), 1000.0, 0.001, 900_000),           # whole milliseconds
    ((1000, 1), 12345.678, 0.001, 200_000),
    ((1000, 5), 1000.0, 0.005, 20_000),
    ("edges", 1000.0, 0.001, 200_000),             # t_start + b * bin_size
    ("edges", 12345.678, 0.001, 200_000),
    ("edges", 12345.678, 0.002, 100_000),
]


@pytest.mark.parametrize("clock, t_start, bin_size, nbins", BINNING)
def test_clock_stamps_fall_in_the_bin_of_their_edge(clock, t_start, bin_size, nbins):
    times, expected = stamps(clock, t_start, bin_size, nbins)
    duration = nbins * bin_size
    got_nbins, (got,) = _recording([times], duration, t_start, bin_size)
    assert got_nbins == nbins
    early = np.count_nonzero(got < expected)
    late = np.count_nonzero(got > expected)
    assert (early, late) == (0, 0)
    # The recording's last bin holds its last stamp; the end is outside.
    assert got[-1] == nbins - 1
    with pytest.raises(ValueError, match=r"spike_times\[0\].*outside the recording"):
        _recording([np.r_[times, t_start + duration]], duration, t_start, bin_size)
    with pytest.raises(ValueError, match=r"spike_times\[0\].*outside the recording"):
        _recording([np.r_[t_start - bin_size * 1e-3, times]], duration, t_start,
                   bin_size)


def test_simulated_spikes_bin_back_far_from_zero():
    model = fitted_small()
    t0 = 12345.678
    sim = model.simulate(20.0, t_start=t0, seed=3)
    _, bins = _recording(sim, 20.0, t0, 0.001)
    for s, b in zip(sim, bins):
        assert s.size > 50 and np.all(np.diff(s) > 0)
        np.testing.assert_array_equal(np.floor((s - t0) / 0.001 + 1e-6), b)


# ------------------------------------------------------- sparse and silent units

TAPS = 100


def sparse_population(seconds=720.0, seed=3):
    """Three units at 10 to 20 Hz and a fourth with 5 spikes over 720 s, none
    of them followed by a spike of any unit within TAPS bins."""
    rng = np.random.default_rng(seed)
    nbins = int(seconds * 1000)
    sparse = np.array([50_000, 190_000, 333_333, 500_000, 650_000])
    spikes = []
    for rate in (0.01, 0.015, 0.02):
        b = np.flatnonzero(rng.random(nbins) < rate)
        for s in sparse:
            b = b[(b <= s) | (b > s + TAPS)]
        spikes.append(b)
    spikes.append(sparse)
    return [1000.0 + (b + 0.5) / 1000 for b in spikes], seconds


@pytest.fixture(scope="module")
def sparse():
    return sparse_population()


def fit_recorded(model, spikes, seconds, **fit):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        model.fit(spikes, seconds, t_start=1000.0, **fit)
    return caught


SPARSE_FITS = [  # (constructor, fit arguments, text of the runaway warning)
    ({}, {}, "target 0 on source 3; target 1 on source 3; target 2 on source 3; "
             "target 3 on sources 0, 1, 2, 3"),
    ({}, {"n_blocks": 3}, "target 0 on source 3; target 1 on source 3; target 2 on "
                          "source 3; target 3 on sources 0, 1, 2, 3"),
    ({"penalty": "group_lasso", "alpha": 1e-6}, {}, "target 3 on source 3;"),
    ({"penalty": "group_lasso", "alpha": 1e-6}, {"n_blocks": 3},
     "target 3 on source 3;"),
]


@pytest.mark.parametrize("params, fit, text", SPARSE_FITS)
def test_a_sparse_unit_runs_off_alone_and_is_named(sparse, params, fit, text):
    spikes, seconds = sparse
    model = glm.PopulationGLM(**params)
    caught = fit_recorded(model, spikes, seconds, **fit)
    assert all(np.all(np.isfinite(getattr(model, a))) for a in
               ("weights_", "filters_", "bias_", "null_rate_"))
    runaways = [w for w in caught if issubclass(w.category, glm.RunawayWarning)]
    assert len(runaways) == 1 and issubclass(glm.RunawayWarning, glm.ConvergenceWarning)
    message = str(runaways[0].message)
    assert text in message and "ridge" in message and "min_spikes" in message
    named = {int(t) for t in __import__("re").findall(r"target (\d+)", message)}
    assert set(np.flatnonzero(~model.converged_)) == named
    # The other units' fits are sound: their rates and scores stay finite.
    for result in (model.predict_rate(spikes, seconds, t_start=1000.0),
                   model.score(spikes, seconds, t_start=1000.0),
                   model.pseudo_r2(spikes, seconds, t_start=1000.0)):
        assert np.all(np.isfinite(result))


@pytest.mark.parametrize("params, silent", [
    ({"penalty": "ridge", "alpha": 1e-4}, False),
    ({"penalty": "ridge", "alpha": 1e-7}, False),
    ({"min_spikes": 10}, True),
    ({"min_spikes": 10, "penalty": "group_lasso", "alpha": 1e-6}, True),
])
def test_the_remedies_named_in_the_warning_work(sparse, params, silent):
    spikes, seconds = sparse
    model = glm.PopulationGLM(**params)
    caught = fit_recorded(model, spikes, seconds)
    assert not [w for w in caught if issubclass(w.category, glm.ConvergenceWarning)]
    assert model.converged_.all() and np.all(np.isfinite(model.weights_))
    notes = [str(w.message) for w in caught if w.category is UserWarning]
    if silent:
        assert notes == ["neurons [3] have fewer than min_spikes=10 spikes in the fit "
                         "data (as sources their coupling weights are held at 0): not "
                         "fitted, weights 0, bias log(0.5 / 720000)"]
        assert model.bias_[3] == math.log(0.5 / 720_000)
        assert not model.weights_[3, 1:].any() and not model.filters_[:, 3, :].any()
        assert model.filters_[:, :3, :3].any()
    else:
        assert notes == [] and np.abs(model.filters_).max() < 20


def test_solver_steps_back_from_points_that_are_not_finite():
    # exp(x) - 2x has its minimum at log 2; past x = 5 the objective is
    # lost (inf), and a metric a thousand times too flat steps far past it.
    def fun(x):
        if np.any(x > 5):
            return np.inf, np.full(x.size, np.nan)
        return float(np.sum(np.exp(x) - 2 * x)), np.exp(x) - 2
    theta, ok, iters = _lbfgs(fun, np.zeros(3), 1e-3 * np.eye(3), np.arange(3),
                              1e-12, 200)
    assert ok and 0 < iters < 200
    np.testing.assert_allclose(theta, math.log(2), rtol=0, atol=1e-11)


# ------------------------------------------------------------------- refusals

SMALL_SECONDS = 20.0


def small_recording(seed=4):
    rng = np.random.default_rng(seed)
    return [np.sort(1000.0 + rng.random(n) * SMALL_SECONDS) for n in (300, 200, 250)]


def fitted_small(**params):
    model = glm.PopulationGLM(history_taps=20, n_basis=3, penalty="ridge", alpha=1e-4,
                              **params)
    return model.fit(small_recording(), SMALL_SECONDS, t_start=1000.0)


def times_as(dtype):
    return lambda spikes: [s.astype(dtype) for s in spikes]


REFUSALS = [  # (constructor changes, fit changes, error, message)
    ({"history_taps": 10**9}, {}, ValueError,
     r"^history_taps \(1000000000\) is longer than the recording \(20000 bins\)$"),
    ({"alpha": None}, {}, TypeError, r"^alpha must be a real number >= 0, got NoneType$"),
    ({}, {"client": "tcp://scheduler:8786"}, TypeError,
     r"^client must be a dask.distributed.Client \(or None\), got str"),
    ({}, {"t_start": "1000"}, TypeError, r"^t_start must be a real number, got str$"),
    ({}, {"duration": "20"}, TypeError, r"^duration must be a real number, got str$"),
    ({"penalty": None, "alpha": 1e-4}, {}, ValueError,
     r"^alpha=0.0001 has no effect with penalty=None"),
    ({}, {"stimulus_rate": 100.0}, ValueError,
     r"^stimulus_rate is given without a stimulus"),
    ({"n_basis": 21}, {}, ValueError, r"^n_basis \(21\) must not exceed history_taps"),
    ({"history_taps": 1}, {}, ValueError, r"^history_taps must be at least 2, got 1$"),
    ({}, {"spike_times": times_as(np.float32)}, TypeError,
     r"^spike_times\[0\] is float32: convert it to float64"),
    ({}, {"spike_times": times_as(np.float16)}, TypeError,
     r"^spike_times\[0\] is float16: convert it to float64"),
    ({"tol": 0.0}, {}, ValueError, r"^tol must be finite and positive, got 0.0$"),
    ({"bin_size": 0}, {}, ValueError, r"^bin_size must be finite and positive, got 0.0$"),
    ({"max_iter": 0}, {}, ValueError, r"^max_iter must be at least 1, got 0$"),
    ({"min_spikes": -1}, {}, ValueError, r"^min_spikes must be at least 0, got -1$"),
    ({"min_spikes": 2.5}, {}, TypeError, r"^min_spikes must be a whole number"),
    ({"verbose": "yes"}, {}, ValueError, r"^verbose must be True, False or 'bar', got 'yes'$"),
    ({}, {"stimulus": np.zeros(2000), "stimulus_rate": 0}, ValueError,
     r"^stimulus_rate must be finite and positive, got 0.0$"),
    ({}, {"fit_bins": np.ones(19_999, bool)}, ValueError,
     r"^fit_bins must be a boolean mask of shape \(20000,\)"),
    ({}, {"fit_bins": np.zeros(20_000, bool)}, ValueError, r"^fit_bins selects no bin$"),
    ({}, {"fit_bins": np.full(20_000, 2)}, ValueError, r"^fit_bins must hold only"),
    ({}, {"split": "rows"}, ValueError, r"^split must be 'neurons' or 'time'"),
    ({}, {"n_blocks": 0}, ValueError, r"^n_blocks must be at least 1, got 0$"),
]


@pytest.mark.parametrize("params, changes, error, message", REFUSALS)
def test_refusals_come_first_name_the_argument_and_keep_the_fit(params, changes, error,
                                                                  message):
    model = fitted_small()
    before = {k: np.copy(v) for k, v in vars(model).items() if k.endswith("_")}
    args = {"spike_times": small_recording(), "duration": SMALL_SECONDS,
            "t_start": 1000.0}
    for k, v in changes.items():
        args[k] = v(args[k]) if callable(v) else v
    model.set_params(**params)
    try:
        import distributed  # noqa: F401  (its import is not the fit's allocation)
    except ImportError:
        pass
    tracemalloc.start()
    try:
        with pytest.raises(error, match=message):
            model.fit(**args)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert peak < 4 * 2**20  # refused before any recording-sized array
    after = {k: v for k, v in vars(model).items() if k.endswith("_")}
    assert after.keys() == before.keys()
    for k in before:
        np.testing.assert_array_equal(after[k], before[k])


SCORING = ["predict_rate", "log_likelihood", "score", "pseudo_r2"]


@pytest.mark.parametrize("params", [{"bin_size": 0}, {"history_taps": 10**9},
                                    {"alpha": None}, {"stimulus_lags": 7},
                                    {"coupling": False}, {"n_basis": 50}])
def test_set_params_leaves_the_fitted_model_working(params):
    model = fitted_small()
    args = (small_recording(), SMALL_SECONDS)
    before = [getattr(model, name)(*args, t_start=1000.0) for name in SCORING]
    sim = model.simulate(5.0, t_start=1000.0, seed=2)
    model.set_params(**params)
    for name, expected in zip(SCORING, before):
        np.testing.assert_array_equal(getattr(model, name)(*args, t_start=1000.0),
                                      expected)
    for a, b in zip(model.simulate(5.0, t_start=1000.0, seed=2), sim):
        np.testing.assert_array_equal(a, b)


@pytest.mark.parametrize("name", SCORING)
def test_scored_bins_are_checked(name):
    model = fitted_small()
    with pytest.raises(ValueError, match=r"^bins must be a boolean mask of shape"):
        getattr(model, name)(small_recording(), SMALL_SECONDS, t_start=1000.0,
                             bins=np.ones(5, bool))


# ------------------------------------------------------- fit bins, scored bins

def counts_of(spikes, t_start, nbins):
    return [np.bincount(np.floor((s - t_start) / 0.001 + 1e-6).astype(int),
                        minlength=nbins) for s in spikes]


def test_fit_bins_equal_cutting_the_recording():
    spikes = small_recording()
    keep = np.arange(20_000) < 14_000
    model = glm.PopulationGLM(history_taps=20, n_basis=3, tol=1e-11)
    masked = model.fit(spikes, SMALL_SECONDS, t_start=1000.0, fit_bins=keep)
    weights, null = masked.weights_.copy(), masked.null_rate_.copy()
    assert masked.n_fit_bins_ == 14_000 and masked.n_bins_ == 20_000
    cut = model.fit([s[s < 1014.0] for s in spikes], 14.0, t_start=1000.0)
    np.testing.assert_allclose(weights, cut.weights_, rtol=0, atol=1e-7)
    np.testing.assert_allclose(null, cut.null_rate_, rtol=1e-15)


@pytest.mark.parametrize("split", [{}, {"n_blocks": 3}])
def test_a_held_out_gap_keeps_its_spikes_as_history(split):
    # The fit bins leave out 6 s in the middle: the objective sums over the
    # others, with the gap's spikes still driving the bins after it. Newton's
    # method on the dense design of the whole recording, rows of the fit
    # bins, must find the same parameters.
    spikes = small_recording()
    keep = np.ones(20_000, bool)
    keep[7_000:13_000] = False
    model = glm.PopulationGLM(history_taps=20, n_basis=3, tol=1e-11)
    model.fit(spikes, SMALL_SECONDS, t_start=1000.0, fit_bins=keep, **split)
    basis = model.basis_
    counts = counts_of(spikes, 1000.0, 20_000)
    cols = [np.ones(20_000)]
    for y in counts:
        for k in range(basis.shape[1]):
            cols.append(np.convolve(y, np.r_[0.0, basis[:, k]])[:20_000])
    x = np.column_stack(cols)[keep]
    for i, y in enumerate(counts):
        y = y[keep].astype(float)
        theta = np.zeros(x.shape[1])
        theta[0] = math.log(y.mean())
        for _ in range(30):
            mu = np.exp(x @ theta)
            theta -= np.linalg.solve(x.T @ (x * mu[:, None]), x.T @ (mu - y))
        np.testing.assert_allclose(model.weights_[i], theta, rtol=0, atol=1e-6)
    # Scored bins: the held-out gap alone.
    gap = ~keep
    rate = model.predict_rate(spikes, SMALL_SECONDS, t_start=1000.0)
    ll = model.log_likelihood(spikes, SMALL_SECONDS, t_start=1000.0, bins=gap)
    from scipy.stats import poisson
    for i, y in enumerate(counts):
        np.testing.assert_allclose(ll[i], poisson.logpmf(y[gap], rate[gap, i]).sum(),
                                   rtol=1e-12)
    np.testing.assert_array_equal(
        model.predict_rate(spikes, SMALL_SECONDS, t_start=1000.0, bins=gap), rate[gap])
    bits = model.score(spikes, SMALL_SECONDS, t_start=1000.0, bins=gap)
    n = np.array([y[gap].sum() for y in counts])
    null = n * np.log(model.null_rate_) - gap.sum() * model.null_rate_
    np.testing.assert_allclose(bits, (ll - null + [sum(math.lgamma(c + 1) for c in
                                                       y[gap]) for y in counts])
                               / (n * math.log(2)), rtol=1e-10)


# ----------------------------------------------------------------- simulation

@pytest.mark.parametrize("lam", [1e-4, 1e-2, 0.5, 1.0, 7.5, 30.0, 745.0, 800.0, 2e3,
                                 2e4])
def test_poisson_counts_are_exact_at_every_rate(lam):
    # Stratified uniforms (k + 0.5) / n: the counts are the distribution's
    # quantiles, whose mean and variance are within a bound set by n alone.
    n = 20_000
    u = (np.arange(n) + 0.5) / n
    k = np.array([poisson_count(x, lam) for x in u], dtype=float)
    assert np.all(np.diff(k) >= 0)
    spread = k[-1] - k[0] + 1  # quantile steps: mean error below spread / n
    assert abs(k.mean() - lam) <= spread / n + 1e-12
    assert abs(k.var() - lam) <= 2 * spread * (k[-1] + 1) / n + 1e-12
    # Against the definition at a few uniforms: the smallest k with CDF >= u.
    from scipy.stats import poisson
    for x in (0.001, 0.3, 0.5, 0.9, 0.999):
        got = poisson_count(x, lam)
        assert poisson.cdf(got, lam) >= x * (1 - 1e-12)
        assert got == 0 or poisson.cdf(got - 1, lam) < x * (1 + 1e-12)


def test_simulated_bins_hold_hundreds_of_spikes_spread_over_the_bin():
    model = fitted_small()
    model.weights_[:, 1:] = 0.0
    model.filters_[:] = 0.0
    model.weights_[:, 0] = model.bias_[:] = math.log(800.0)  # 800 spikes per bin
    sim = model.simulate(0.2, t_start=12345.678, seed=1)
    for s in sim:
        assert np.all(np.diff(s) > 0)
        b = np.floor((s - 12345.678) / 0.001 + 1e-6).astype(int)
        c = np.bincount(b, minlength=200)
        assert c.size == 200 and abs(c.mean() - 800) < 8 and 400 < c.var() < 1600
        # The k spikes of bin b at (b + (j + 0.5) / k) ms.
        first = s[np.r_[0, np.cumsum(c)[:-1]]]
        np.testing.assert_allclose(first, 12345.678 + (np.arange(200) + 0.5 / c) * 1e-3,
                                   rtol=0, atol=1e-9)


@pytest.mark.parametrize("args, error, message", [
    ({"seed": -1}, ValueError, r"^seed must be a whole number >= 0, got -1$"),
    ({"seed": "7"}, TypeError, r"^seed must be None, a whole number >= 0 or a numpy"),
    ({"seed": 1.5}, TypeError, r"^seed must be None"),
    ({"t_start": "0"}, TypeError, r"^t_start must be a real number, got str$"),
    ({"t_start": np.nan}, ValueError, r"^t_start must be finite, got nan$"),
    ({"duration": 0.0}, ValueError, r"^duration must be finite and positive, got 0.0$"),
    ({"stimulus_rate": 100.0}, ValueError, r"^stimulus_rate is given without a"),
])
def test_simulate_refusals_name_the_argument(args, error, message):
    model = fitted_small()
    call = {"duration": 1.0, **args}
    with pytest.raises(error, match=message):
        model.simulate(**call)
