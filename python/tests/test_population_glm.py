"""glm.PopulationGLM against peers fitted on a dense design built here,
its refusals, and cross-validation."""
import math
import warnings

import numpy as np
import pytest

import spike_bins
from spike_bins import glm

from conftest import simulated_population

pytestmark = pytest.mark.skipif(
    not hasattr(spike_bins, "trainfold_adjoint"),
    reason="the adjoints (spike_bins.trainfold_adjoint, tentfill2_adjoint) are missing")

TAPS, NB, LAGS, E = 20, 3, 3, 10  # history taps, basis size, stimulus lags, bins/sample


@pytest.fixture(scope="module")
def rec():
    """3 neurons, 60 s; two stimulus channels (the second one unused)."""
    pop, _ = simulated_population(nneurons=3, nbins=60_000, seed=7, ntaps=TAPS,
                                  nbasis=NB, stim_lags=LAGS, rate_per_bin=0.02)
    extra = np.random.default_rng(1).standard_normal(pop.stimulus.size)
    return {"spike_times": [(s + 0.5) * 0.001 for s in pop.spikes], "duration": 60.0,
            "stimulus": np.column_stack([pop.stimulus, extra]), "stimulus_rate": 100.0,
            "bins": [s.astype(int) for s in pop.spikes]}


def fit_args(rec):
    return {k: rec[k] for k in ("spike_times", "duration", "stimulus", "stimulus_rate")}


def design(rec, basis):
    """Dense regressors [1, stimulus (channel-major lags), sources x basis],
    the spike columns by convolving counts with the taps one bin late."""
    t = rec["duration"] * 1000
    t = int(t)
    cols = [np.ones(t)]
    s = rec["stimulus"]
    for ch in range(s.shape[1]):
        for lag in range(LAGS):
            x = np.zeros(s.shape[0])
            x[2 + lag:] = s[:s.shape[0] - 2 - lag, ch]
            cols.append(spike_bins.tentfill2(x, E)[:, 0])
    counts = [np.bincount(b, minlength=t).astype(float) for b in rec["bins"]]
    for y in counts:
        for k in range(basis.shape[1]):
            cols.append(np.convolve(y, np.r_[0.0, basis[:, k]])[:t])
    return np.column_stack(cols), counts


def rel(a, b):
    return float(np.linalg.norm(a - b) / np.linalg.norm(b))


def test_unpenalised_and_ridge_match_statsmodels_and_sklearn(rec):
    sm = pytest.importorskip("statsmodels.api")
    linear = pytest.importorskip("sklearn.linear_model")
    basis = glm.raised_cosine_basis(TAPS, NB)
    x, counts = design(rec, basis)
    for penalty, alpha in [(None, 0.0), ("ridge", 1e-4)]:
        model = glm.PopulationGLM(history_taps=TAPS, n_basis=NB, stimulus_lags=LAGS,
                                  penalty=penalty, alpha=alpha, tol=1e-11)
        model.fit(**fit_args(rec))
        assert model.converged_.all()
        for i, y in enumerate(counts):
            if penalty is None:
                peer = sm.GLM(y, x, family=sm.families.Poisson()).fit(tol=1e-13)
                theta = peer.params
            else:
                peer = linear.PoissonRegressor(alpha=alpha, tol=1e-12, max_iter=10000,
                                               solver="newton-cholesky").fit(x[:, 1:], y)
                theta = np.r_[peer.intercept_, peer.coef_]
            w = theta[1 + 2 * LAGS:].reshape(3, NB)
            assert rel(model.filters_[:, :, i], basis @ w.T) < 1e-6
            assert rel(model.stimulus_filters_[:, :, i],
                       theta[1:1 + 2 * LAGS].reshape(2, LAGS).T) < 1e-6
            assert abs(model.bias_[i] - theta[0]) < 1e-6


def test_group_lasso_optimality_and_whole_groups(rec):
    basis = glm.raised_cosine_basis(TAPS, NB)
    x, counts = design(rec, basis)
    zeros = []
    for alpha in [1e-5, 1e-4, 1e-3, 1e-1]:
        model = glm.PopulationGLM(history_taps=TAPS, n_basis=NB, stimulus_lags=LAGS,
                                  penalty="group_lasso", alpha=alpha)
        model.fit(**fit_args(rec))
        assert model.converged_.all()
        nzero = 0
        for i, y in enumerate(counts):
            theta = model.weights_[i]
            grad = x.T @ (np.exp(x @ theta) - y) / y.size
            free = np.ones(theta.size, bool)
            for j in range(3):
                g = slice(1 + 2 * LAGS + j * NB, 1 + 2 * LAGS + (j + 1) * NB)
                if j == i:
                    continue
                free[g] = False
                w = theta[g]
                if not w.any():
                    nzero += 1
                    assert np.linalg.norm(grad[g]) <= alpha + 1e-7
                else:
                    assert np.all(w != 0)  # a group is zeroed whole or not at all
                    assert np.abs(grad[g] + alpha * w / np.linalg.norm(w)).max() < 1e-7
            assert np.abs(grad[free]).max() < 1e-7
        zeros.append(nzero)
    assert zeros == sorted(zeros) and zeros[-1] == 6 and zeros[0] < 6


def test_cross_validation_picks_an_inner_alpha():
    # Sparse coupling, few spikes for 4 x 4 x 4 filter weights: no penalty
    # overfits and the largest alpha drops the true coupling.
    pop, _ = simulated_population(nneurons=4, nbins=60_000, seed=5, ntaps=30, nbasis=4,
                                  stim_lags=2)
    alphas = (0.0, 1e-5, 1e-4, 1e-3, 1e-1)
    cv = glm.PopulationGLMCV(alphas=alphas, n_folds=3, history_taps=30, n_basis=4,
                             stimulus_lags=2)
    cv.fit([(s + 0.5) * 0.001 for s in pop.spikes], 60.0, stimulus=pop.stimulus,
           stimulus_rate=100.0)
    assert cv.cv_scores_.shape == (5, 3) and cv.cv_scores_per_neuron_.shape == (5, 3, 4)
    assert cv.alpha_ in alphas[1:-1]
    assert cv.alpha_ == alphas[int(np.argmax(cv.cv_scores_.sum(axis=1)))]
    assert cv.converged_.all() and cv.filters_.shape == (30, 4, 4)


def bad(**change):
    def make(rec):
        args = fit_args(rec)
        params = {"history_taps": TAPS, "n_basis": NB, "stimulus_lags": LAGS}
        for k, v in change.items():
            (params if k in glm.PopulationGLM().get_params() else args)[k] = v(rec) \
                if callable(v) else v
        return params, args
    return make


def with_spike(value, neuron=1):
    return lambda rec: [np.r_[s, value] if i == neuron else s
                        for i, s in enumerate(rec["spike_times"])]


REFUSALS = [
    (bad(spike_times=with_spike(np.nan)), ValueError, r"spike_times\[1\].*nan"),
    (bad(spike_times=with_spike(np.inf, 0)), ValueError, r"spike_times\[0\].*inf"),
    (bad(spike_times=with_spike(-5.0)), ValueError, r"spike_times\[1\].*-5.0"),
    (bad(spike_times=with_spike(60.0, 2)), ValueError, r"spike_times\[2\].*60.0"),
    (bad(spike_times=lambda r: [np.zeros((2, 2))]), TypeError, "spike_times"),
    (bad(stimulus=lambda r: r["stimulus"][:-1]), ValueError, "stimulus.*expected 6000"),
    (bad(stimulus_rate=300.0), ValueError, "stimulus_rate.*whole number"),
    (bad(stimulus_rate=None), ValueError, "stimulus_rate"),
    (bad(history_taps=60_001), ValueError, "history_taps"),
    (bad(alpha=-1.0, penalty="ridge"), ValueError, "alpha"),
    (bad(penalty="lasso"), ValueError, "penalty"),
    (bad(basis=np.ones((TAPS + 1, 2))), ValueError, "basis"),
    (bad(basis="gaussian"), ValueError, "basis"),
    (bad(stimulus_lags=0), ValueError, "stimulus_lags"),
    (bad(stimulus_lags=-1), ValueError, "stimulus_lags"),
    (bad(duration=-1.0), ValueError, "duration"),
]


@pytest.mark.parametrize("make, error, match", REFUSALS)
def test_refusals_name_the_argument_and_keep_the_fit(rec, make, error, match):
    model = glm.PopulationGLM(history_taps=TAPS, n_basis=NB, stimulus_lags=LAGS,
                              max_iter=1)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        model.fit(**fit_args(rec))
    before = {k: np.copy(v) for k, v in vars(model).items() if k.endswith("_")}
    params, args = make(rec)
    model.set_params(**params)
    with pytest.raises(error, match=match):
        model.fit(**args)
    after = {k: v for k, v in vars(model).items() if k.endswith("_")}
    assert after.keys() == before.keys()
    for k in before:
        np.testing.assert_array_equal(after[k], before[k])


def test_input_layouts_unsorted_and_silent(rec):
    model = glm.PopulationGLM(history_taps=TAPS, n_basis=NB, stimulus_lags=LAGS)
    # A spike in the last bin: an unsorted list must not lose the spikes after it.
    spikes = [np.r_[s, 59.9995] for s in rec["spike_times"]]
    args = dict(fit_args(rec), spike_times=spikes)
    ref = model.fit(**args).weights_.copy()
    rng = np.random.default_rng(3)
    shuffled = [rng.permutation(s) for s in spikes]
    ends = np.cumsum([s.size for s in shuffled])
    layouts = [shuffled, (np.concatenate(shuffled), ends),
               {"spike_times": np.concatenate(shuffled), "spike_times_index": ends}]
    try:
        import neo
        import quantities as pq
        layouts.append([neo.SpikeTrain(s * 1000, units=pq.ms, t_stop=60_000 * pq.ms)
                        for s in spikes])
    except (ImportError, RuntimeError):
        pass  # no neo, or one that fails to import (Debian 13's quantities)
    for layout in layouts:
        got = model.fit(**dict(args, spike_times=layout)).weights_
        np.testing.assert_allclose(got, ref, rtol=0, atol=1e-12)
    silent = dict(args, spike_times=rec["spike_times"][:2] + [np.zeros(0)])
    with pytest.warns(UserWarning, match=r"neurons \[2\] have no spikes"):
        model.fit(**silent)
    assert model.bias_[2] == math.log(0.5 / 60_000) and not model.weights_[2, 1:].any()
    assert model.converged_[2] and np.all(np.isfinite(model.weights_))
    assert np.isnan(model.score(**silent)[2])
    assert np.all(np.isfinite(model.predict_rate(**silent)))


def test_non_convergence_warns_naming_neurons(rec):
    model = glm.PopulationGLM(history_taps=TAPS, n_basis=NB, stimulus_lags=LAGS,
                              max_iter=1)
    with pytest.warns(glm.ConvergenceWarning, match=r"neurons \[0, 1, 2\]"):
        model.fit(**fit_args(rec))
    assert not model.converged_.any() and np.all(model.n_iter_ == 1)


def test_scores_and_simulation(rec):
    model = glm.PopulationGLM(history_taps=TAPS, n_basis=NB, stimulus_lags=LAGS)
    args = fit_args(rec)
    model.fit(**args)
    rate = model.predict_rate(**args)
    ll = model.log_likelihood(**args)
    from scipy.stats import poisson
    for i, b in enumerate(rec["bins"]):
        y = np.bincount(b, minlength=rate.shape[0])
        np.testing.assert_allclose(ll[i], poisson.logpmf(y, rate[:, i]).sum(), rtol=1e-10)
    assert np.all(model.score(**args) > 0) and np.all(model.pseudo_r2(**args) > 0)
    # McFadden's pseudo-R2 against the homogeneous rate n_i / T written out.
    same = [poisson.logpmf(np.bincount(b, minlength=rate.shape[0]), b.size / rate.shape[0])
            .sum() for b in rec["bins"]]
    np.testing.assert_allclose(model.pseudo_r2(**args), 1 - ll / same, rtol=1e-10)
    sim = model.simulate(60.0, stimulus=rec["stimulus"], stimulus_rate=100.0, seed=4)
    again = model.simulate(60.0, stimulus=rec["stimulus"], stimulus_rate=100.0, seed=4)
    for s, a, r in zip(sim, again, rec["spike_times"]):
        np.testing.assert_array_equal(s, a)
        assert 0.7 < s.size / r.size < 1.3 and np.all((s >= 0) & (s < 60.0))
    model.bias_  # an exploding population raises instead of looping
    model.weights_[:, 0] += 16.0  # past MAX_LOG_RATE in the first bin, whatever the draw
    with pytest.raises(RuntimeError, match="log rate"):
        model.simulate(1.0, stimulus=rec["stimulus"][:100], stimulus_rate=100.0, seed=5)


def test_predictions_refuse_other_shapes_and_coupling_off(rec):
    model = glm.PopulationGLM(history_taps=TAPS, n_basis=NB, stimulus_lags=LAGS,
                              coupling=False)
    args = fit_args(rec)
    with pytest.raises(RuntimeError, match="not fitted"):
        model.predict_rate(**args)
    model.fit(**args)
    off = ~np.eye(3, dtype=bool)
    assert not model.filters_[:, off].any() and model.filters_[:, ~off].any(axis=0).all()
    assert model.weights_.shape == (3, 1 + 2 * LAGS + NB)
    for change, match in [({"spike_times": rec["spike_times"][:2]}, "2 neurons"),
                          ({"stimulus": rec["stimulus"][:, :1]}, "1 channels")]:
        with pytest.raises(ValueError, match=match):
            model.predict_rate(**dict(args, **change))
