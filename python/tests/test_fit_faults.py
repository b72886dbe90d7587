"""Faults of the population GLM's fitting code that the other fit tests let
through: refusals at the edge of each argument's range, iteration counts,
the verbose report, the silent-neuron warning (only for silent neurons),
group-lasso optimality with a dropped group before a kept one, and the
cross-validation's folds."""
import math
import re
import warnings

import numpy as np
import pytest

import spike_bins
from spike_bins import glm
from spike_bins._fitting import _fit_neuron
from spike_bins._objective import _poisson_ll, drive

pytestmark = pytest.mark.skipif(
    not hasattr(spike_bins, "trainfold_adjoint"),
    reason="the adjoints (spike_bins.trainfold_adjoint, tentfill2_adjoint) are missing")

TAPS, NB, LAGS = 10, 2, 2
SECONDS = 20.0


@pytest.fixture(scope="module")
def rec():
    """3 neurons on a 1 ms grid, 20 s, t_start far from 0, one stimulus
    channel at 100 Hz: neuron 0 fires at random, neuron 1 a few ms after
    neuron 0's spikes (a strong coupling 0 -> 1), neuron 2 at random."""
    rng = np.random.default_rng(11)
    t0 = 1000.0
    n = int(SECONDS * 1000)
    b0 = np.sort(rng.choice(n - 10, 600, replace=False))
    b1 = np.unique(np.r_[b0[::2] + rng.integers(2, 5, b0[::2].size),
                         rng.choice(n - 10, 100, replace=False)])
    b2 = np.sort(rng.choice(n, 400, replace=False))
    spikes = [t0 + (b + 0.5) * 0.001 for b in (b0, b1, b2)]
    return {"spike_times": spikes, "duration": SECONDS, "t_start": t0,
            "stimulus": rng.standard_normal(int(SECONDS * 100)), "stimulus_rate": 100.0,
            "bins": [b0, b1, b2]}


def model(**params):
    base = {"history_taps": TAPS, "n_basis": NB, "stimulus_lags": LAGS}
    return glm.PopulationGLM(**dict(base, **params))


def fit_args(rec, **change):
    args = {k: rec[k] for k in ("spike_times", "duration", "t_start", "stimulus",
                                "stimulus_rate")}
    return dict(args, **change)


# ------------------------------------------------------- edges of the ranges

EDGE_REFUSALS = [
    ({"tol": 0.0}, {}, ValueError, "tol"),
    ({"tol": -1e-8}, {}, ValueError, "tol"),
    ({"tol": math.nan}, {}, ValueError, "tol"),
    ({"bin_size": 0.0}, {}, ValueError, "bin_size"),
    ({"bin_size": math.inf}, {}, ValueError, "bin_size"),
    ({"max_iter": 0}, {}, ValueError, "max_iter"),
    ({"max_iter": 2.0}, {}, TypeError, "max_iter"),
    ({"max_iter": 2**31}, {}, ValueError, "max_iter"),
    ({"min_spikes": 2**31}, {}, ValueError, "min_spikes"),
    ({"alpha": math.inf, "penalty": "ridge"}, {}, ValueError, "alpha"),
    ({"alpha": math.nan, "penalty": "ridge"}, {}, ValueError, "alpha"),
    ({"coupling": 1}, {}, TypeError, "coupling"),
    ({"history_taps": 20_001}, {}, ValueError, "history_taps"),
    ({"basis": np.zeros((TAPS, 0))}, {}, ValueError, "basis"),
    ({"basis": np.zeros((0, 2)), "history_taps": 0}, {}, ValueError,
     "basis|history_taps"),
    ({}, {"stimulus_rate": 0.0}, ValueError, "stimulus_rate"),
    ({}, {"stimulus_rate": -100.0}, ValueError, "stimulus_rate"),
    ({}, {"duration": 0.0}, ValueError, "duration"),
    ({}, {"t_start": math.nan}, ValueError, "t_start"),
]


@pytest.mark.parametrize("params, change, error, match", EDGE_REFUSALS)
def test_refusals_at_the_edges(rec, params, change, error, match):
    with pytest.raises(error, match=match):
        model(**params).fit(**fit_args(rec, **change))


# The values just inside each range are taken.
EDGE_ACCEPTED = [
    {"max_iter": 1},
    {"alpha": 0.0, "penalty": "ridge"},
    {"alpha": 0.0, "penalty": "group_lasso"},
    {"stimulus_lags": 1},
]


@pytest.mark.parametrize("params", EDGE_ACCEPTED)
def test_values_at_the_edges_are_taken(rec, params):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", glm.ConvergenceWarning)
        fitted = model(**params).fit(**fit_args(rec))
    assert np.all(np.isfinite(fitted.weights_))


def test_a_filter_as_long_as_the_recording_is_taken(rec):
    data, _ = model(history_taps=20_000, n_basis=1)._data(
        rec["spike_times"], SECONDS, None, None, rec["t_start"])
    assert data.nbins == 20_000 and data.basis.shape == (20_000, 1)


# ---------------------------------------------------------- iteration counts

@pytest.mark.parametrize("penalty, alpha", [(None, 0.0), ("ridge", 1e-3),
                                            ("group_lasso", 1e-3)])
def test_iteration_counts(rec, penalty, alpha):
    full = model(penalty=penalty, alpha=alpha, tol=1e-7).fit(**fit_args(rec))
    assert full.converged_.all()
    assert full.n_iter_.dtype.kind == "i" and np.all(full.n_iter_ >= 2)
    assert np.all(full.n_iter_ < 1000)
    # A cap below what the fit needed: every neuron stops at the cap, not
    # converged, and says so.
    for cap in (1, 2):
        capped = model(penalty=penalty, alpha=alpha, tol=1e-7, max_iter=cap)
        with pytest.warns(glm.ConvergenceWarning, match=r"neurons \[0, 1, 2\]"):
            capped.fit(**fit_args(rec))
        assert not capped.converged_.any()
        assert np.all(capped.n_iter_ == cap), (cap, capped.n_iter_)
        # The iterations counted were taken: every neuron left the start
        # (its constant rate, all else 0).
        assert np.all(np.any(capped.weights_[:, 1:] != 0, axis=1)), cap
    # A cap the fit does not reach leaves the fit as it was.
    roomy = model(penalty=penalty, alpha=alpha, tol=1e-7,
                  max_iter=int(full.n_iter_.max()) + 5).fit(**fit_args(rec))
    np.testing.assert_array_equal(roomy.n_iter_, full.n_iter_)
    np.testing.assert_array_equal(roomy.weights_, full.weights_)


def test_a_silent_neuron_takes_no_iterations(rec):
    spikes = rec["spike_times"][:2] + [np.zeros(0)]
    with pytest.warns(UserWarning, match=r"neurons \[2\] have no spikes"):
        fitted = model().fit(**fit_args(rec, spike_times=spikes))
    assert fitted.n_iter_[2] == 0 and np.all(fitted.n_iter_[:2] > 0)


# ------------------------------------------------------------ verbose report

@pytest.mark.parametrize("params", [{}, {"penalty": "group_lasso", "alpha": 1e-3},
                                    {"max_iter": 1}])
def test_verbose_prints_one_line_per_neuron(rec, capsys, params):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", glm.ConvergenceWarning)
        quiet = model(**params).fit(**fit_args(rec))
        assert capsys.readouterr().out == ""
        loud = model(verbose=True, **params).fit(**fit_args(rec))
    # One line per neuron as it finishes (a batch of neurons fitted side by
    # side finishes in any order), counting the neurons done.
    lines = capsys.readouterr().out.splitlines()
    assert len(lines) == 3
    seen = []
    for done, line in enumerate(lines, 1):
        m = re.fullmatch(r"neuron (\d)/3: (converged|stopped without converging) in "
                         r"(\d+) iterations, \d+\.\d s; (\d)/3 done\b.*", line)
        assert m and int(m[4]) == done, line
        i = int(m[1]) - 1
        seen.append(i)
        assert int(m[3]) == loud.n_iter_[i]
        assert (m[2] == "converged") == loud.converged_[i]
    assert sorted(seen) == [0, 1, 2]
    np.testing.assert_array_equal(loud.weights_, quiet.weights_)


def test_verbose_cross_validation_prints_each_fold(rec, capsys):
    cv = glm.PopulationGLMCV(alphas=(0.0, 1e-3), n_folds=2, history_taps=TAPS,
                             n_basis=NB, stimulus_lags=LAGS, verbose=True)
    cv.fit(**fit_args(rec))
    lines = capsys.readouterr().out.splitlines()
    folds = [line for line in lines if line.startswith("alpha")]
    assert [line.split(":")[0] for line in folds] == [
        "alpha 0, fold 1/2", "alpha 0, fold 2/2", "alpha 0.001, fold 1/2",
        "alpha 0.001, fold 2/2"]
    assert sum(line.startswith("neuron") for line in lines) == 3


# ------------------------------------------------------ silent-neuron warning

def silent_cases():
    # (which neurons keep their spikes, held-out fold or None, silent list)
    return [((0, 1, 2), None, None), ((0, 2), None, [1]), ((1,), None, [0, 2])]


@pytest.mark.parametrize("keep, _, silent", silent_cases())
def test_silent_warning_names_exactly_the_silent_neurons(rec, keep, _, silent):
    spikes = [s if i in keep else np.zeros(0) for i, s in enumerate(rec["spike_times"])]
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        fitted = model().fit(**fit_args(rec, spike_times=spikes))
    said = [str(w.message) for w in caught if "no spikes" in str(w.message)]
    if silent is None:
        assert said == []
    else:
        assert len(said) == 1
        assert said[0].startswith(f"neurons {silent} have no spikes in the fit data")
        assert "bias log(0.5 / 20000)" in said[0]
    assert not [w for w in caught if issubclass(w.category, glm.ConvergenceWarning)]
    for i in range(3):
        if i not in keep:
            assert fitted.bias_[i] == math.log(0.5 / 20000)
            assert not fitted.weights_[i, 1:].any() and fitted.converged_[i]
    np.testing.assert_array_equal(fitted.null_rate_,
                                  [max(len(spikes[i]), 0.5) / 20000 for i in range(3)])


# ------------------------------------------------------------- group lasso

def dense_design(rec, basis):
    """[1, stimulus lags, sources x basis] on the fine bins."""
    n = int(SECONDS * 1000)
    s = rec["stimulus"]
    cols = [np.ones(n)]
    for lag in range(LAGS):
        x = np.zeros(s.size)
        x[2 + lag:] = s[:s.size - 2 - lag]
        cols.append(spike_bins.tentfill2(x, 10)[:, 0])
    counts = [np.bincount(b, minlength=n).astype(float) for b in rec["bins"]]
    for y in counts:
        for k in range(basis.shape[1]):
            cols.append(np.convolve(y, np.r_[0.0, basis[:, k]])[:n])
    return np.column_stack(cols), counts


def test_group_lasso_with_a_dropped_group_before_a_kept_one(rec):
    """Neuron 1's groups: source 0 (strong coupling, kept) and source 2 (none,
    dropped); neuron 2's: source 0 dropped before source 1 ... both dropped at
    this alpha. The optimality conditions hold on the dense design."""
    alpha = 2e-3
    fitted = model(penalty="group_lasso", alpha=alpha, tol=1e-9).fit(**fit_args(rec))
    assert fitted.converged_.all()
    x, counts = dense_design(rec, fitted.basis_)
    at = 1 + LAGS
    kept = {}
    for i, y in enumerate(counts):
        theta = fitted.weights_[i]
        grad = x.T @ (np.exp(x @ theta) - y) / y.size
        free = np.ones(theta.size, bool)
        for j in range(3):
            if j == i:
                continue
            g = slice(at + j * NB, at + (j + 1) * NB)
            free[g] = False
            w = theta[g]
            kept[j, i] = bool(w.any())
            if kept[j, i]:
                assert np.all(w != 0)
                assert np.abs(grad[g] + alpha * w / np.linalg.norm(w)).max() < 1e-8
            else:
                assert np.linalg.norm(grad[g]) <= alpha + 1e-8
        assert np.abs(grad[free]).max() < 1e-8
    assert kept[0, 1] and not kept[2, 1]  # the kept group comes first for neuron 1
    assert not kept[0, 2] and not kept[1, 2]
    # Neuron 0 listens to no one; for neuron 1 list the sources the other
    # way round: a dropped group (source 2) ahead of the kept one.
    order = [2, 1, 0]
    spikes = [rec["spike_times"][k] for k in order]
    swapped = model(penalty="group_lasso", alpha=alpha, tol=1e-9).fit(
        **fit_args(rec, spike_times=spikes))
    assert swapped.converged_.all()
    # Neuron 1 stays neuron 1; its source 0 is now source 2, its source 2 source 0.
    np.testing.assert_allclose(swapped.filters_[:, 2, 1], fitted.filters_[:, 0, 1],
                               rtol=1e-5, atol=1e-7)
    assert not swapped.filters_[:, 0, 1].any()
    np.testing.assert_allclose(swapped.bias_[[2, 1, 0]], fitted.bias_, rtol=1e-6)


# ---------------------------------------------------------- cross-validation

def test_cross_validation_folds_hold_out_their_bins(rec):
    """Each fold's score is the held-out log-likelihood of a fit on the other
    bins: a fold fitted by hand with a mask (silent outside) agrees."""
    cv = glm.PopulationGLMCV(alphas=(1e-3,), n_folds=2, history_taps=TAPS, n_basis=NB,
                             stimulus_lags=LAGS, penalty="ridge", tol=1e-9)
    cv.fit(**fit_args(rec))
    assert cv.alpha_ == 1e-3 and cv.cv_scores_.shape == (1, 2)
    n = int(SECONDS * 1000)
    for f, (lo, hi) in enumerate([(0, n // 2), (n // 2, n)]):
        data, _ = cv._data(rec["spike_times"], SECONDS, rec["stimulus"], 100.0,
                           rec["t_start"])
        total = 0.0
        for i in range(3):
            fit = _fit_neuron(data, i, "ridge", 1e-3, 1e-9, 1000, (lo, hi))
            b, c = data.counts(i)
            total += _poisson_ll(drive(data, i, fit.theta), b, c.astype(float), lo, hi)
        assert cv.cv_scores_[0, f] == pytest.approx(total, rel=1e-9)
    # The held-out score covers only the block: the two folds differ.
    assert cv.cv_scores_[0, 0] != cv.cv_scores_[0, 1]


# ------------------------------------------------------- blocks of the work

def test_blocked_fit_with_spikes_on_the_block_edges(rec):
    """Every neuron spikes in the first bin of each time block: each spike is
    counted in its own block only, and the blocked fit is the whole one."""
    edges = [5000, 10000, 15000]  # n_blocks=4 over 20,000 bins
    spikes = [np.union1d(s, [rec["t_start"] + (e + 0.5) * 0.001 for e in edges])
              for s in rec["spike_times"]]
    args = fit_args(rec, spike_times=spikes)
    whole = model(tol=1e-9).fit(**args)
    for blocks in ({"n_blocks": 4}, {"block_seconds": 5.0}):
        blocked = model(tol=1e-9).fit(**args, split="time", **blocks)
        assert blocked.converged_.all()
        np.testing.assert_allclose(blocked.weights_, whole.weights_, rtol=0, atol=1e-6)


def test_verbose_blocked_fit_reports_each_neuron(rec, capsys):
    fitted = model(verbose=True).fit(**fit_args(rec), n_blocks=3, split="time")
    lines = capsys.readouterr().out.splitlines()
    assert [line.split(":")[0] for line in lines] == ["neuron 1/3", "neuron 2/3",
                                                      "neuron 3/3"]
    assert all(f"in {k} iterations" in line for k, line in zip(fitted.n_iter_, lines))


@pytest.mark.parametrize("penalty", ["ridge", "group_lasso"])
def test_a_penalty_of_weight_zero_is_no_penalty(rec, penalty):
    none = model().fit(**fit_args(rec))
    zero = model(penalty=penalty, alpha=0.0).fit(**fit_args(rec))
    np.testing.assert_array_equal(zero.weights_, none.weights_)
    np.testing.assert_array_equal(zero.n_iter_, none.n_iter_)
    # Without coupling the group lasso has no group: no penalty either.
    none = model(coupling=False).fit(**fit_args(rec))
    alone = model(coupling=False, penalty=penalty, alpha=1e-3).fit(**fit_args(rec))
    if penalty == "group_lasso":
        np.testing.assert_array_equal(alone.weights_, none.weights_)
        np.testing.assert_array_equal(alone.n_iter_, none.n_iter_)
    else:
        assert np.abs(alone.weights_[:, 1:]).sum() < np.abs(none.weights_[:, 1:]).sum()


@pytest.mark.parametrize("coupling", [True, False])
def test_simulation_blocks_do_not_change_the_draws(coupling):
    """draw_spikes in blocks of 7 or 1000 bins draws what one block of all
    the bins draws (the uniforms are taken row by row either way): the
    history carried across block edges and the stimulus rows of each block
    are those of the whole run."""
    rng = np.random.default_rng(5)
    n, nbins, m = 3, 5000, 10
    coarse = rng.standard_normal((nbins // m, n))
    filters = np.zeros((6, n, n))
    filters[:, 0, 1] = 1.5  # 0 excites 1
    filters[:, 1, 1] = -2.0  # 1 is refractory
    if coupling:
        filters[:, 2, 0] = 0.8
    bias = np.log([0.02, 0.01, 0.03])
    whole = glm.draw_spikes(nbins, bias, coarse, m, filters, np.random.default_rng(9))
    assert whole[0].size > 200 and np.all(np.diff(whole[0]) >= 0)
    for block in (7, 1000, 4999):
        got = glm.draw_spikes(nbins, bias, coarse, m, filters,
                              np.random.default_rng(9), block=block)
        np.testing.assert_array_equal(got[0], whole[0])
        np.testing.assert_array_equal(got[1], whole[1])


def test_start_hessian_is_exact_where_it_claims(rec):
    """The start metric is rate * X'X / T: exact on the bias and stimulus
    columns, and (but for the taps cut off at the end of the recording) on
    the bias against each source's history columns."""
    from spike_bins._objective import _start_hessian, _stimulus_gram
    fitted = model(max_iter=1)
    data, _ = fitted._data(rec["spike_times"], SECONDS, rec["stimulus"], 100.0,
                           rec["t_start"])
    x, _ = dense_design(rec, data.basis)
    rate = 0.03
    exact = rate * (x.T @ x) / x.shape[0]
    for i in range(3):
        got = _start_hessian(data, i, rate, _stimulus_gram(data))
        free = 1 + LAGS
        ridge = 1e-9 * rate * np.eye(free)  # what keeps it definite
        np.testing.assert_allclose(got[:free, :free], exact[:free, :free] + ridge,
                                   rtol=1e-10, atol=1e-12)
        np.testing.assert_allclose(got[0, free:], exact[0, free:], rtol=0.01)
        np.testing.assert_allclose(got[free:, 0], exact[free:, 0], rtol=0.01)
        np.testing.assert_array_equal(got, got.T)
        np.linalg.cholesky(got)  # elsewhere an approximation, but definite
    # The stimulus against the history: for a stimulus independent of the
    # spikes, about mean(stimulus column) * (history column sum). A stimulus
    # of mean 1 makes that term large.
    lifted = dict(rec, stimulus=rec["stimulus"] + 1.0)
    data, _ = fitted._data(rec["spike_times"], SECONDS, lifted["stimulus"], 100.0,
                           rec["t_start"])
    x, _ = dense_design(lifted, data.basis)
    exact = rate * (x.T @ x) / x.shape[0]
    for i in range(3):
        got = _start_hessian(data, i, rate, _stimulus_gram(data))
        np.testing.assert_allclose(got[1:free, free:], exact[1:free, free:], rtol=0.1)


# --------------------------------------------------------------- defaults

DEFAULTS = [
    (glm.PopulationGLM, {"bin_size": 0.001, "history_taps": 100, "basis": "raised_cosine",
                         "n_basis": 5, "coupling": True, "stimulus_lags": 5,
                         "penalty": None, "alpha": 0.0, "tol": 1e-8, "max_iter": 1000,
                         "verbose": False, "min_spikes": 0, "n_jobs": None}),
    (glm.PopulationGLMCV, {"alphas": (0.0, 1e-6, 1e-5, 1e-4, 1e-3), "n_folds": 5,
                           "bin_size": 0.001, "history_taps": 100,
                           "basis": "raised_cosine", "n_basis": 5, "coupling": True,
                           "stimulus_lags": 5, "penalty": "group_lasso", "alpha": 0.0,
                           "tol": 1e-8, "max_iter": 1000, "verbose": False,
                           "min_spikes": 0, "n_jobs": None}),
]


@pytest.mark.parametrize("cls, documented", DEFAULTS)
def test_defaults_are_the_documented_ones(cls, documented):
    assert cls().get_params() == documented
    # Every parameter survives a round trip through set_params.
    other = cls().set_params(**documented)
    assert other.get_params() == documented


def test_simulated_counts_follow_the_rate_past_one_spike_per_bin():
    """At 3 expected spikes per bin a bin holds several spikes: the mean
    count is the rate (Poisson), not capped at one spike per bin."""
    bins, owners = glm.draw_spikes(4000, np.log([3.0, 0.5]), None, 0, np.zeros((2, 2, 2)),
                                   np.random.default_rng(3))
    counts = np.bincount(owners, minlength=2)
    assert abs(counts[0] / 4000 - 3.0) < 0.1 and abs(counts[1] / 4000 - 0.5) < 0.05
    per_bin = np.bincount(bins[owners == 0], minlength=4000)
    assert per_bin.max() >= 6 and abs(per_bin.var() - 3.0) < 0.3  # Poisson: var = mean


def test_spike_lists_as_columns_or_rows_are_the_vectors(rec):
    """A unit's times as an (n, 1) column or a (1, n) row (as read from a
    MATLAB file) are its 1-D vector."""
    ref = model().fit(**fit_args(rec)).weights_
    for shape in [(-1, 1), (1, -1)]:
        spikes = [s.reshape(shape) for s in rec["spike_times"]]
        got = model().fit(**fit_args(rec, spike_times=spikes)).weights_
        np.testing.assert_array_equal(got, ref)
    with pytest.raises(TypeError, match=r"spike_times\[0\]"):
        model().fit(**fit_args(rec, spike_times=[np.zeros((2, 3))]))


LINE_SEARCHES = [
    # phi(a) = 1 - a + 3.5 a^2 - 2 a^3: at a = 1 the value has risen to 1.5
    # with a flat slope, which the curvature test alone would take; the
    # search must go on to a step that lowers the value.
    (lambda a: (1 - a + 3.5 * a**2 - 2 * a**3, -1 + 7 * a - 6 * a**2), True, 1.0),
    # A slope steeper than the values fall (a gradient off by a factor 2):
    # no step meets the Wolfe conditions; the lowest value seen is taken.
    (lambda a: (1 - a, -2.0), True, math.inf),
    # Values that only rise along a slope said to fall: no step, not ok.
    (lambda a: (1 + a, -1.0), False, 0.0),
]


@pytest.mark.parametrize("phi, ok, below", LINE_SEARCHES)
def test_line_search_takes_a_decrease_or_stays(phi, ok, below):
    """_wolfe_search along d = 1 from 0: a step below `below` that lowers
    the value when ok, else the start point unchanged."""
    from spike_bins._solvers import _wolfe_search

    def f(x):
        value, slope = phi(x[0])
        return value, np.array([slope])

    f0, g0 = f(np.zeros(1))
    x, fx, _, got = _wolfe_search(f, np.zeros(1), f0, g0, np.ones(1))
    assert got == ok
    if ok:
        assert fx < f0 and 0 < x[0] < below
    else:
        assert fx == f0 and x[0] == 0


def test_lbfgs_on_a_quadratic_converges_like_conjugate_gradients():
    """On a 10-D quadratic of condition 1e4, with the memory holding every
    step, L-BFGS needs about n iterations (16 here); a direction that drops
    part of its recursion needs about twice as many."""
    from spike_bins._solvers import _lbfgs
    rng = np.random.default_rng(1)
    q, _ = np.linalg.qr(rng.standard_normal((10, 10)))
    a = q @ np.diag(np.logspace(0, 4, 10)) @ q.T
    c = rng.standard_normal(10)

    def fun(x):
        d = x - c
        return 0.5 * d @ a @ d, a @ d

    x, ok, k = _lbfgs(fun, np.zeros(10), np.eye(10), np.arange(10), 1e-9, 1000)
    assert ok and k <= 20, k
    np.testing.assert_allclose(x, c, atol=1e-9)


@pytest.mark.parametrize("npairs", [1, 2, 5])
def test_lbfgs_direction_is_the_bfgs_inverse_hessian_times_the_gradient(npairs):
    """The two-loop recursion gives H g, H the BFGS inverse Hessian built by
    applying each correction pair in turn to the metric's inverse:
    H <- (I - rho s y') H (I - rho y s') + rho s s'."""
    from spike_bins._solvers import _DenseFactor, _two_loop
    rng = np.random.default_rng(npairs)
    n = 7
    m = rng.standard_normal((n, n))
    metric = m @ m.T + n * np.eye(n)
    curvature = rng.standard_normal((n, n))
    curvature = curvature @ curvature.T + np.eye(n)
    pairs = []
    for _ in range(npairs):
        s = rng.standard_normal(n)
        pairs.append((s, curvature @ s))  # s'y > 0
    g = rng.standard_normal(n)
    h = np.linalg.inv(metric)
    for s, y in pairs:
        rho = 1.0 / (y @ s)
        left = np.eye(n) - rho * np.outer(s, y)
        h = left @ h @ left.T + rho * np.outer(s, s)
    got = _two_loop(g, pairs, _DenseFactor(metric))
    np.testing.assert_allclose(got, h @ g, rtol=1e-10, atol=1e-12)


def test_simulation_follows_the_stimulus(rec):
    """A model with only a stimulus filter (2 on lag 0, bias log 0.02)
    driven by a square wave of period 2 s: the rate is 0.02 e^2 per bin in
    the even seconds and 0.02 / e^2 in the odd ones."""
    fitted = model(max_iter=1)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", glm.ConvergenceWarning)
        fitted.fit(**fit_args(rec))
    fitted.weights_[:] = 0.0
    fitted.weights_[:, 0] = math.log(0.02)
    fitted.weights_[:, 1] = 2.0
    fitted.bias_[:] = math.log(0.02)
    fitted.filters_[:] = 0.0
    fitted.stimulus_filters_[:] = 0.0
    fitted.stimulus_filters_[0] = 2.0
    wave = np.where(np.arange(2000) // 100 % 2 == 0, 1.0, -1.0)
    spikes = fitted.simulate(20.0, stimulus=wave, stimulus_rate=100.0, seed=2)
    for s in spikes:
        counts = np.array([np.sum((s >= k + 0.1) & (s < k + 0.9)) for k in range(20)])
        assert np.all(counts[0::2] > 60) and np.all(counts[1::2] < 15), counts


@pytest.mark.parametrize("dtype", [np.int64, np.uint8, np.float64])
def test_a_numeric_fit_mask_is_the_boolean_one(rec, dtype):
    """fit_bins as 1/0 numbers selects the bins that are 1."""
    mask = np.zeros(20_000, bool)
    mask[2000:15000] = True
    want = model().fit(**fit_args(rec), fit_bins=mask)
    got = model().fit(**fit_args(rec), fit_bins=mask.astype(dtype))
    np.testing.assert_array_equal(got.weights_, want.weights_)
    assert got.n_fit_bins_ == 13000


@pytest.mark.parametrize("alphas", [(), (-1e-3,), (0.0, math.nan), (math.inf,)])
def test_cross_validation_refuses_bad_alphas(rec, alphas):
    cv = glm.PopulationGLMCV(alphas=alphas, n_folds=2, history_taps=TAPS, n_basis=NB,
                             stimulus_lags=LAGS)
    with pytest.raises(ValueError, match="alphas"):
        cv.fit(**fit_args(rec))


def test_cross_validation_refuses_alphas_without_a_penalty(rec):
    cv = glm.PopulationGLMCV(alphas=(0.0, 1e-3), n_folds=2, penalty=None,
                             history_taps=TAPS, n_basis=NB, stimulus_lags=LAGS)
    with pytest.raises(ValueError, match=r"alphas \[0.001\] have no effect with "
                                         "penalty=None"):
        cv.fit(**fit_args(rec))
    cv.set_params(alphas=(0.0,)).fit(**fit_args(rec))  # alpha 0 alone is a plain fit
    assert cv.alpha_ == 0.0


@pytest.mark.parametrize("penalty, alpha", [("ridge", 1e-3), ("group_lasso", 1e-3)])
def test_cross_validation_folds_respect_fit_bins(rec, penalty, alpha):
    """Fold f of a CV with fit_bins scores the fit bins inside it with a
    model trained on the fit bins outside it: what PopulationGLM gives with
    fit_bins = mask & ~fold and log_likelihood(bins=mask & fold)."""
    n = int(SECONDS * 1000)
    mask = np.ones(n, bool)
    mask[3000:7000] = False  # a stretch to leave out, inside fold 0
    mask[15000:15500] = False
    params = {"history_taps": TAPS, "n_basis": NB, "stimulus_lags": LAGS,
              "penalty": penalty, "tol": 1e-10}
    cv = glm.PopulationGLMCV(alphas=(alpha,), n_folds=2, **params)
    cv.fit(**fit_args(rec), fit_bins=mask)
    for f, (lo, hi) in enumerate([(0, n // 2), (n // 2, n)]):
        fold = np.zeros(n, bool)
        fold[lo:hi] = True
        alone = glm.PopulationGLM(alpha=alpha, **params).fit(
            **fit_args(rec), fit_bins=mask & ~fold)
        want = alone.log_likelihood(**fit_args(rec), bins=mask & fold)
        np.testing.assert_allclose(cv.cv_scores_per_neuron_[0, f], want, rtol=1e-7)
    assert cv.n_fit_bins_ == mask.sum()
    full = glm.PopulationGLMCV(alphas=(alpha,), n_folds=2, **params).fit(**fit_args(rec))
    assert not np.allclose(full.cv_scores_, cv.cv_scores_)
