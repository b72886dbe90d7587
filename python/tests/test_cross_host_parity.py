"""Both hosts on the same recordings where the other cross-host files do not
look: fits without coupling, and simulations from the fitted model (each
host's own random numbers, so the spike counts are compared as statistics:
the draws are exact Poisson counts in both, at low and at very high rates).
Needs octave-cli and the Octave modules, as test_glm_cross_host.py."""
import subprocess

import numpy as np
import pytest
import scipy.io

from spike_bins._inputs import _recording
from spike_bins.glm import PopulationGLM
from test_glm_cross_host import cell, close, octave_or_skip

SCRIPT = """
d = load(inputs);
warning('off', 'spike_glm:runaway');
o = struct('history_taps', d.taps, 'n_basis', d.nb, 'coupling', logical(d.coupling), ...
           'penalty', 'ridge', 'alpha', d.alpha, 'tol', d.tol, 'inference', false);
fit = spike_glm_fit(d.spikes, d.duration, o);
sim = spike_glm_simulate(fit, d.sim_duration, struct('seed', 7, 't_start', d.t0));
weights = fit.weights;
save('-v7', outputs, 'weights', 'sim');
"""

# name: (per-bin means of the neurons, coupling, history taps, seconds fitted,
# seconds simulated, tol). At 800 spikes per bin the gradient's rounding is
# near 1e-9 per bin: a tolerance below it cannot be met.
CASES = {
    "coupling off": ([0.01, 0.02, 0.015], False, 30, 60.0, 120.0, 1e-9),
    "coupled": ([0.01, 0.02, 0.015], True, 30, 60.0, 120.0, 1e-9),
    "very high rates": ([50.0, 800.0], False, 5, 0.5, 0.5, 1e-7),
}


def placed_by_rule(times, t0, bin_size=1e-3):
    """True when the k spikes of each bin b lie at t0 + (b + (j + 0.5) / k)
    * bin_size, j = 0 .. k - 1 (distinct times, each in its own bin)."""
    times = np.sort(np.asarray(times, float).ravel())
    bins = np.floor((times - t0) / bin_size + 1e-6)
    _, first, k = np.unique(bins, return_index=True, return_counts=True)
    j = np.arange(times.size) - np.repeat(first, k)
    want = t0 + (bins + (j + 0.5) / np.repeat(k, k)) * bin_size
    return np.unique(times).size == times.size and np.allclose(times, want, rtol=0,
                                                                 atol=1e-9)


def poisson_train(rng, means, seconds):
    nbins = int(round(seconds * 1000))
    spikes = []
    for mean in means:
        counts = rng.poisson(mean, nbins)
        bins = np.repeat(np.arange(nbins), counts)
        spikes.append((bins + 0.5) * 1e-3)
    return spikes


@pytest.mark.parametrize("name", list(CASES))
def test_octave_fits_and_simulates_as_python(tmp_path, name):
    octave, modules = octave_or_skip()
    means, coupling, taps, seconds, sim_seconds, tol = CASES[name]
    spikes = poisson_train(np.random.default_rng(3), means, seconds)
    options = dict(history_taps=taps, n_basis=3, coupling=coupling, penalty="ridge",
                   alpha=1e-5, tol=tol)
    model = PopulationGLM(**options).fit(spikes, seconds)
    t0 = 5000.0
    sim = model.simulate(sim_seconds, t_start=t0, seed=11)

    inputs, outputs = tmp_path / "inputs.mat", tmp_path / "outputs.mat"
    scipy.io.savemat(inputs, {
        "spikes": cell(spikes), "duration": seconds, "taps": float(taps), "nb": 3.0,
        "coupling": float(coupling), "alpha": options["alpha"], "tol": options["tol"],
        "sim_duration": sim_seconds, "t0": t0})
    script = f"addpath('{modules}'); inputs = '{inputs}'; outputs = '{outputs}';"
    subprocess.run([octave, "--norc", "--no-history", "--no-window-system",
                    "--eval", script + SCRIPT], check=True, timeout=600)
    got = scipy.io.loadmat(outputs)

    close(got["weights"].T, model.weights_)
    # Both hosts place a bin's spikes inside it, at distinct times.
    octave_sim = [np.asarray(s, float).ravel() for s in got["sim"].ravel()]
    for times in sim + octave_sim:
        assert placed_by_rule(times, t0)
    nbins, _ = _recording(sim, sim_seconds, t0, 1e-3)
    # Spike counts of the two simulations: the same law, so their difference
    # stays within a few standard deviations (Poisson counts; the history
    # filters here are weak). The fitted rate is the scale they must match.
    python = np.array([s.size for s in sim], float)
    octave_counts = np.array([s.size for s in octave_sim], float)
    expected = np.array(means) * nbins
    for n in (python, octave_counts):
        np.testing.assert_array_less(np.abs(n - expected), 6 * np.sqrt(expected) + 10)
    np.testing.assert_array_less(np.abs(python - octave_counts),
                                 8 * np.sqrt(expected) + 10)
