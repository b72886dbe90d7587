"""The older matrix-free population fit (spike_bins.glm's deprecated
functions: still working, each warning with its replacement) and the worked
example (fitted with glm.PopulationGLM, no deprecated call)."""
import math
import pathlib
import runpy
import warnings

import numpy as np
import pytest

import spike_bins
from spike_bins import glm

pytestmark = [
    pytest.mark.skipif(
        not hasattr(spike_bins, "trainfold_adjoint"),
        reason="the adjoints (spike_bins.trainfold_adjoint, tentfill2_adjoint) are "
               "missing"),
    pytest.mark.filterwarnings("ignore::DeprecationWarning"),
]

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "population_fit.py"


@pytest.fixture(scope="module")
def small():
    return glm.simulate(nneurons=3, nbins=40_000, seed=11, ntaps=30, nbasis=4)


def test_gradient_matches_finite_differences(small):
    pop, truth = small
    rng = np.random.default_rng(5)
    for neuron in range(pop.nneurons):
        theta = truth[neuron] + rng.normal(0.0, 0.05, pop.nparams)
        _, grad = glm.negloglik(theta, pop, neuron)
        step = 1e-6
        numeric = np.empty(pop.nparams)
        for k in range(pop.nparams):
            d = np.zeros(pop.nparams)
            d[k] = step
            numeric[k] = (glm.negloglik(theta + d, pop, neuron)[0]
                          - glm.negloglik(theta - d, pop, neuron)[0]) / (2 * step)
        scale = np.abs(grad).max()
        np.testing.assert_allclose(grad, numeric, rtol=0, atol=1e-5 * scale)


def test_history_and_stimulus_stay_causal(small):
    """A spike in bin t moves the log rate from bin t + 1 on, never before;
    a stimulus sample of coarse bin c moves no fine bin of blocks 0 .. c."""
    pop, _ = small
    e = int(pop.nbns)
    theta = np.zeros(pop.nparams)
    theta[1:1 + pop.stim_lags] = 1.0
    theta[1 + pop.stim_lags:] = 1.0
    base = glm.log_rate(pop, theta)
    for neuron, t in [(0, 1000), (1, 0), (2, pop.nbins - 2)]:
        moved = glm.Population(pop.stimulus, [np.append(s, t) if i == neuron else s
                                              for i, s in enumerate(pop.spikes)],
                               pop.nbins, pop.nbns, pop.basis, pop.stim_lags)
        moved.spikes[neuron].sort()
        moved.shifted[neuron].sort()
        changed = np.flatnonzero(glm.log_rate(moved, theta) != base)
        assert changed.size and changed[0] == t + 1
    for c in [0, 17, pop.stimulus.size - 3]:
        stimulus = pop.stimulus.copy()
        stimulus[c] += 1.0
        moved = glm.Population(stimulus, pop.spikes, pop.nbins, pop.nbns,
                               pop.basis, pop.stim_lags)
        changed = np.flatnonzero(glm.log_rate(moved, theta) != base)
        assert changed.size and changed[0] >= (c + 1) * e


def test_raised_cosine_basis_shape():
    for ntaps, nbasis in [(100, 5), (30, 4), (60, 8)]:
        b = glm.raised_cosine_basis(ntaps, nbasis)
        assert b.shape == (ntaps, nbasis)
        assert b[0, 0] == 1.0 and np.all(b >= 0) and np.all(b <= 1)
        assert b[-1, -1] == 0.0 and b[-2, -1] > 0
        # Peaks a quarter of a width apart: the sum is 2 (up to rounding)
        # between the second peak and the last but one.
        inner = b[np.argmax(b[:, 1]) + 1:np.argmax(b[:, -2])].sum(axis=1)
        np.testing.assert_allclose(inner, 2.0, atol=1e-12)


def test_fit_recovers_parameters(small):
    pop, truth = glm.simulate(nneurons=2, nbins=300_000, seed=4, ntaps=40, nbasis=4)
    for neuron in range(pop.nneurons):
        theta, nfev = glm.fit_neuron(pop, neuron)
        errors = glm.filter_errors(pop, truth[neuron], theta, neuron)
        assert errors["bias"] < 0.1 and errors["stimulus"] < 0.2
        assert errors["history"] < 0.4 and errors["coupling"] < 0.6
        # The fit is a minimum: the gradient there is small against the
        # gradient at the start.
        g0 = np.abs(glm.negloglik(glm.initial_theta(pop, neuron), pop, neuron)[1]).max()
        g1 = np.abs(glm.negloglik(theta, pop, neuron)[1]).max()
        assert g1 < 1e-3 * g0
    with pytest.warns(glm.ConvergenceWarning, match="neuron 0 did not converge"):
        glm.fit_neuron(pop, 0, maxiter=1)


def test_simulation_is_reproducible():
    a, ta = glm.simulate(nneurons=2, nbins=20_000, seed=9, ntaps=20, nbasis=3)
    b, tb = glm.simulate(nneurons=2, nbins=20_000, seed=9, ntaps=20, nbasis=3)
    assert np.array_equal(ta, tb)
    for sa, sb in zip(a.spikes, b.spikes):
        assert np.array_equal(sa, sb)
        assert np.all(np.diff(sa) >= 0) and sa.size > 0
    with pytest.raises(ValueError, match="nbins must be"):
        glm.Population(np.zeros(10), [], 99, 10, a.basis, 2)
    with pytest.raises(RuntimeError, match="unstable"):
        glm.simulate(nneurons=2, nbins=20_000, seed=9, ntaps=20, nbasis=3,
                     rate_per_bin=1e4)


def small_args(pop, truth):
    return {"Population": (pop.stimulus, pop.spikes, pop.nbins, pop.nbns, pop.basis,
                           pop.stim_lags),
            "log_rate": (pop, truth[0]), "negloglik": (truth[0], pop, 0),
            "initial_theta": (pop, 0), "start_hessian": (pop, 0),
            "fit_neuron": (pop, 0, 5), "fit_population": (pop, [1]),
            "filter_errors": (pop, truth[0], truth[0], 0),
            "true_parameters": (np.random.default_rng(0), 2, pop.basis, 2, 0.01),
            "simulate": ()}


@pytest.mark.parametrize("name, replacement", [
    ("Population", "PopulationGLM"),
    ("log_rate", "PopulationGLM.predict_rate"),
    ("negloglik", "PopulationGLM.log_likelihood"),
    ("initial_theta", "PopulationGLM.fit"),
    ("start_hessian", "PopulationGLM.fit"),
    ("fit_neuron", "PopulationGLM.fit"),
    ("fit_population", "PopulationGLM.fit"),
    ("filter_errors", "filters_"),
    ("true_parameters", "draw_spikes"),
    ("simulate", "PopulationGLM.simulate"),
])
def test_deprecated_names_warn_once_with_their_replacement(small, name, replacement):
    args = small_args(*small)[name]
    kwargs = {"nneurons": 2, "nbins": 2000, "ntaps": 10, "nbasis": 2} \
        if name == "simulate" else {}
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = getattr(glm, name)(*args, **kwargs)
    deprecations = [w for w in caught if issubclass(w.category, DeprecationWarning)]
    # One warning, from the name called (not from the ones it calls inside),
    # pointing at the caller's line.
    assert len(deprecations) == 1
    message = str(deprecations[0].message)
    assert f"spike_bins.glm.{name} is deprecated" in message and replacement in message
    assert deprecations[0].filename == __file__
    assert result is not None
    assert replacement in getattr(glm, name).__doc__


def test_deprecated_names_give_what_they_gave(small):
    """The warning is all that changed: each name returns what its private
    implementation returns."""
    from spike_bins import _legacy
    pop, truth = small
    assert_equal = np.testing.assert_array_equal
    assert_equal(glm.log_rate(pop, truth[1]), _legacy._log_rate(pop, truth[1]))
    assert_equal(glm.negloglik(truth[1], pop, 1)[1],
                 _legacy._negloglik(truth[1], pop, 1)[1])
    assert_equal(glm.fit_population(pop, [2]), _legacy._fit_population(pop, [2]))
    a, ta = glm.simulate(nneurons=2, nbins=5000, seed=3, ntaps=10, nbasis=2)
    b, tb = _legacy._simulate(nneurons=2, nbins=5000, seed=3, ntaps=10, nbasis=2)
    assert_equal(ta, tb)
    for sa, sb in zip(a.spikes, b.spikes):
        assert_equal(sa, sb)


def test_example_check_mode(tmp_path, capsys):
    example = runpy.run_path(str(EXAMPLE))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        assert example["main"](["--check", "--figures", str(tmp_path)]) == 0
    assert not [w for w in caught if "spike_bins" in str(w.message)
                and issubclass(w.category, DeprecationWarning)]
    out = capsys.readouterr().out
    assert "check passed" in out and "fit time " in out
    assert out.count("\n") > example["CHECK"]["neurons"] + 4
    for name in ["population_filters.png", "population_raster.png",
                 "population_bands.png", "population_coupling.png", "population_ks.png"]:
        png = (tmp_path / name).read_bytes()
        assert png.startswith(b"\x89PNG") and len(png) > 10000


@pytest.mark.parametrize("neurons, seconds, seed", [(3, 5, 0), (25, 2, 4)])
def test_example_draws_the_deprecated_simulations_population(neurons, seconds, seed):
    """The benchmarks draw the worked example's population and fall back to
    glm.simulate on builds without draw_spikes: the two must be the same
    spikes and the same true weights (laid out as PopulationGLM's weights_,
    whose filters are the example's filters)."""
    from spike_bins import _legacy
    assert_equal = np.testing.assert_array_equal
    example = runpy.run_path(str(EXAMPLE))
    sim = example["simulate"](neurons, seconds, seed)
    pop, truth = _legacy._simulate(nneurons=neurons, nbins=seconds * 1000, seed=seed)
    for drawn, old in zip(sim["spikes"], pop.spikes):
        assert_equal(drawn.astype(float), old)
    assert_equal(sim["truth"]["weights"], truth)
    basis = glm.raised_cosine_basis(example["TAPS"], example["NBASIS"])
    w = truth[:, 1 + example["LAGS"]:].reshape(neurons, neurons, example["NBASIS"])
    for i in range(neurons):
        assert_equal(sim["truth"]["filters"][:, :, i], basis @ w[i].T)
    errors = example["weight_errors"](sim, truth[1], 1)
    assert errors == {"bias": 0.0, "stimulus": 0.0, "history": 0.0, "coupling": 0.0}
