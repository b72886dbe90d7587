"""Neurons fitted in lockstep (their evaluations sharing one pass over the
spikes): the bits of fitting each neuron on its own, and errors that reach
the caller without leaving a solver waiting."""
import numpy as np
import pytest

import spike_bins
from spike_bins import _fitting, _lockstep, glm

pytestmark = pytest.mark.skipif(
    not hasattr(spike_bins, "trainfold_adjoint"),
    reason="the adjoints (spike_bins.trainfold_adjoint, tentfill2_adjoint) are missing")

T0 = 5_000.0
SECONDS = 30
PARAMS = {"history_taps": 25, "n_basis": 3, "stimulus_lags": 2}


@pytest.fixture(scope="module")
def rec():
    """7 neurons over 30 s of whole-millisecond stamps (on bin edges) from
    t_start = T0: neuron 2 copies some of neuron 0's spikes 3 ms later, unit
    5 has 6 spikes, unit 6 none."""
    rng = np.random.default_rng(21)
    n = SECONDS * 1000
    bins = [np.sort(rng.choice(n - 5, size, replace=False))
            for size in (500, 300, 200, 450, 250, 6, 0)]
    bins[2] = np.unique(np.r_[bins[2], bins[0][::2] + 3])
    return {"spike_times": [T0 + b * 0.001 for b in bins], "duration": float(SECONDS),
            "t_start": T0, "stimulus": rng.standard_normal(SECONDS * 100),
            "stimulus_rate": 100.0}


def one_at_a_time(model, rec, block=None):
    """Each neuron's fit on its own (a one-target fit never runs in lockstep)."""
    data, _ = model._data(rec["spike_times"], rec["duration"], rec["stimulus"],
                          rec["stimulus_rate"], rec["t_start"])
    alpha = model.alpha if model.penalty else 0.0
    return [_fitting._fit_serial(data, model.penalty, alpha, model.tol, model.max_iter,
                                 block, [i], lambda *_: None)[0]
            for i in range(data.nneurons)]


@pytest.mark.parametrize("params", [
    {},
    {"penalty": "ridge", "alpha": 1e-3},
    {"penalty": "group_lasso", "alpha": 1e-3},
    {"min_spikes": 10},
    {"max_iter": 3},
])
@pytest.mark.parametrize("n_jobs", [1, 2])
def test_lockstep_fits_are_the_bits_of_one_neuron_at_a_time(rec, params, n_jobs):
    model = glm.PopulationGLM(**PARAMS, **params, n_jobs=n_jobs)
    with pytest.warns(UserWarning):
        model.fit(**rec)
    alone = one_at_a_time(model, rec)
    for i, fit in enumerate(alone):
        assert np.array_equal(model.weights_[i], fit.theta), i
        assert model.n_iter_[i] == fit.n_iter
    assert model.n_iter_[:5].min() >= 3


def test_cross_validation_folds_in_lockstep_are_the_bits_of_one_at_a_time(rec):
    model = glm.PopulationGLM(**PARAMS, penalty="ridge", alpha=1e-3)
    data, _ = model._data(rec["spike_times"], rec["duration"], rec["stimulus"],
                          rec["stimulus_rate"], rec["t_start"])
    block = (9_000, 17_000)
    together = _fitting._fit_serial(data, "ridge", 1e-3, model.tol, model.max_iter,
                                    block, range(7), lambda *_: None, n_jobs=2)
    alone = one_at_a_time(model, rec, block)
    for got, want in zip(together, alone):
        assert np.array_equal(got.theta, want.theta)


@pytest.mark.parametrize("n_jobs", [1, 2])
@pytest.mark.parametrize("fails_at", [1, 4])
def test_an_evaluation_error_reaches_the_caller(rec, monkeypatch, n_jobs, fails_at):
    calls = []
    real = _lockstep.batch_nll

    def failing(*args, **kwargs):
        calls.append(1)
        if len(calls) == fails_at:
            raise MemoryError("no room for the drive")
        return real(*args, **kwargs)

    monkeypatch.setattr(_lockstep, "batch_nll", failing)
    model = glm.PopulationGLM(**PARAMS, n_jobs=n_jobs)
    with pytest.raises(MemoryError, match="no room for the drive"):
        model.fit(**rec)
    assert not hasattr(model, "weights_")


def test_a_solver_error_leaves_the_others_running(rec, monkeypatch):
    real = _fitting._fit_neuron

    def fit(data, i, *args, **kwargs):
        if i == 3:
            raise FloatingPointError("neuron 3 failed")
        return real(data, i, *args, **kwargs)

    monkeypatch.setattr(_fitting, "_fit_neuron", fit)
    with pytest.raises(FloatingPointError, match="neuron 3 failed"):
        glm.PopulationGLM(**PARAMS, n_jobs=1).fit(**rec)
