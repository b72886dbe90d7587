"""The population GLM's penalty table (spike_bins._penalties): the one check
of a penalty's name, the coordinates each penalty takes, and each solver's
minimum on quadratics whose penalised minimum is known in closed form; and
a neuron's fit as a NeuronFit."""
import math
import types

import numpy as np
import pytest

from spike_bins import glm
from spike_bins._fitting import NeuronFit, _fit_neuron
from spike_bins._penalties import PENALTIES, penalty_of

NB, NSTIM = 3, 2  # basis functions, stimulus weights


def layout(nneurons, coupling=True):
    """What the penalties read of a recording: the parameter layout
    [bias, NSTIM stimulus weights, NB weights per source]."""
    sources = nneurons if coupling else 1
    return types.SimpleNamespace(
        basis=np.ones((10, NB)), nstim=NSTIM, nneurons=nneurons, coupling=coupling,
        nparams=1 + NSTIM + sources * NB,
        sources=lambda i: list(range(nneurons)) if coupling else [i])


def test_the_table_holds_each_name_once():
    assert list(PENALTIES) == [None, "ridge", "group_lasso"]
    assert all(PENALTIES[name].name == name for name in PENALTIES)
    assert penalty_of(np.str_("ridge")) is PENALTIES["ridge"]


@pytest.mark.parametrize("bad", ["lasso", "Ridge", "", 0, 1.0, [], {"ridge": 1}])
def test_other_values_are_refused_naming_the_argument(bad):
    with pytest.raises(ValueError, match=r"penalty must be None, 'ridge' or "
                                         r"'group_lasso', got"):
        penalty_of(bad)
    model = glm.PopulationGLM(penalty=bad)
    with pytest.raises(ValueError, match="penalty must be"):
        model.fit([np.array([0.1, 0.5])], duration=1.0)


@pytest.mark.parametrize("name, i, coupling, wanted", [
    (None, 0, True, []),
    ("ridge", 1, True, [(1, 1 + NSTIM + 3 * NB)]),
    ("ridge", 0, False, [(1, 1 + NSTIM + NB)]),
    # Other sources only: neuron 1's own history (second block) is free.
    ("group_lasso", 1, True, [(1 + NSTIM, 1 + NSTIM + NB),
                              (1 + NSTIM + 2 * NB, 1 + NSTIM + 3 * NB)]),
    ("group_lasso", 0, False, []),
])
def test_penalised_coordinates(name, i, coupling, wanted):
    data = layout(3, coupling)
    got = [(g.start, g.stop) for g in PENALTIES[name].groups(data, i)]
    assert got == wanted


def quadratic(center):
    """0.5 ||theta - center||^2: the unpenalised minimum is center."""
    def smooth(theta):
        d = theta - center
        return 0.5 * (d @ d), d.copy()
    return smooth


def known_minimum(name, center, data, i, alpha):
    """The minimum of quadratic(center) + the penalty, in closed form."""
    out = center.copy()
    for g in PENALTIES[name].groups(data, i):
        if name == "ridge":
            out[g] = center[g] / (1 + alpha)
        elif name == "group_lasso":
            norm = np.linalg.norm(center[g])
            out[g] = center[g] * max(0.0, 1 - alpha / norm)
    return out


@pytest.mark.parametrize("name, alpha", [(None, 0.3), ("ridge", 0.0), ("ridge", 0.3),
                                         ("group_lasso", 0.0), ("group_lasso", 0.3)])
def test_each_solver_finds_its_penalised_minimum(name, alpha):
    data = layout(3)
    i = 1
    center = np.random.default_rng(4).normal(0.0, 1.0, data.nparams)
    # One group inside the threshold: group lasso sets it to zero exactly.
    center[1 + NSTIM:1 + NSTIM + NB] *= 0.1 / np.linalg.norm(
        center[1 + NSTIM:1 + NSTIM + NB])
    theta, ok, iters = PENALTIES[name].solve(
        quadratic(center), np.zeros(data.nparams), np.eye(data.nparams), data, i,
        alpha, 1e-10, 200)
    assert ok and iters >= 1
    np.testing.assert_allclose(theta, known_minimum(name, center, data, i, alpha),
                               rtol=0, atol=1e-8)
    if name == "group_lasso" and alpha > 0:
        assert not theta[1 + NSTIM:1 + NSTIM + NB].any()


def test_ridge_gradient_and_curvature_agree_with_its_value():
    ridge = PENALTIES["ridge"]
    w = np.random.default_rng(2).normal(0.0, 1.0, 7)
    step = 1e-6
    numeric = np.array([(ridge.value(w + step * e, 0.2) - ridge.value(w - step * e, 0.2))
                        / (2 * step) for e in np.eye(7)])
    np.testing.assert_allclose(ridge.gradient(w, 0.2), numeric, atol=1e-8)
    moved = ridge.gradient(w + np.eye(7)[3], 0.2) - ridge.gradient(w, 0.2)
    np.testing.assert_allclose(ridge.curvature(w, 0.2)[:, 3], moved, atol=1e-12)


def test_a_neuron_fit_is_a_named_record():
    # Neuron 1 is silent: not optimised, bias log(0.5 / T).
    spikes = [np.arange(0.0105, 2.0, 0.0371), np.zeros(0)]
    model = glm.PopulationGLM(history_taps=10, n_basis=2, stimulus_lags=1)
    data, _ = model._data(spikes, 2.0, None, None, 0.0)
    fits = [_fit_neuron(data, i, None, 0.0, 1e-8, 500) for i in range(2)]
    assert all(isinstance(f, NeuronFit) for f in fits)
    assert fits[0].converged and fits[0].n_iter > 0 and fits[0].seconds >= 0
    assert fits[1] == (fits[1].theta, True, 0, fits[1].seconds)
    assert fits[1].theta[0] == math.log(0.5 / 2000) and not fits[1].theta[1:].any()
