"""The population GLM in both hosts: spike_glm_fit, spike_glm_rate and
spike_glm_score in Octave against spike_bins.glm.PopulationGLM on the same
recording (written here into a .mat file, read by Octave). Both minimise the
same ridge objective to a gradient of 1e-10 per bin, so the parameters, the
rates and the scores must agree to 1e-6 relative.

Needs octave-cli and the Octave modules with the spike_glm_* files (the
octave_modules folder of a CMake build: SPIKE_BINS_OCTAVE_MODULES, else
build/octave_modules or build/default/octave_modules of this repository).
Skipped when either is missing.
"""
import shutil
import subprocess

import numpy as np
import pytest
import scipy.io

from spike_bins.glm import PopulationGLM
from test_cross_host import module_dir

RATE = 100.0  # stimulus samples per second: 10 fine bins of 1 ms each
OPTIONS = dict(history_taps=40, n_basis=4, stimulus_lags=3, penalty="ridge",
               alpha=1e-4, tol=1e-10)

OCTAVE_SCRIPT = """
d = load(inputs);
o = struct('stimulus', d.S, 'stimulus_rate', d.rate, 'history_taps', d.taps, ...
           'n_basis', d.nb, 'stimulus_lags', d.lags, 'penalty', 'ridge', ...
           'alpha', d.alpha, 'tol', d.tol);
fit = spike_glm_fit(d.train, d.duration, o);
held = struct('stimulus', d.S2);
rate = spike_glm_rate(fit, d.test, d.duration2, held);
s = spike_glm_score(fit, d.test, d.duration2, held);
same = spike_glm_score(fit, d.train, d.duration, struct('stimulus', d.S));
bias = fit.bias; filters = fit.filters; stimulus_filters = fit.stimulus_filters;
weights = fit.weights; converged = double(fit.converged);
ll = s.log_likelihood; bits = s.bits_per_spike; r2 = same.pseudo_r2;
save('-v7', outputs, 'bias', 'filters', 'stimulus_filters', 'weights', ...
     'converged', 'rate', 'll', 'bits', 'r2');
"""


def recording(rng, seconds, nneurons=3, nchannels=2):
    """Spikes (bin centres) of neurons whose log rate per 1 ms bin follows
    the stimulus two samples back, and neuron 0's spikes one bin later
    for neuron 1 (a coupling to find)."""
    samples = int(seconds * RATE)
    stim = rng.standard_normal((samples, nchannels))
    coarse = np.zeros((samples, nneurons))
    coarse[2:] = stim[:-2] @ rng.uniform(-0.6, 0.6, (nchannels, nneurons))
    eta = np.repeat(coarse, 10, axis=0) + np.log([0.01, 0.008, 0.012])
    counts = rng.poisson(np.exp(eta))
    extra = np.r_[0, counts[:-1, 0]] * (rng.random(counts.shape[0]) < 0.3)
    counts[:, 1] += extra
    spikes = []
    for i in range(nneurons):
        bins = np.repeat(np.arange(counts.shape[0]), counts[:, i])
        spikes.append((bins + 0.5) * 1e-3)
    return spikes, stim


def cell(spikes):
    out = np.empty((len(spikes), 1), dtype=object)
    for i, s in enumerate(spikes):
        out[i, 0] = s.reshape(-1, 1)
    return out


def close(actual, expected, rtol=1e-6):
    """Equal to rtol relative to the largest magnitude of expected."""
    actual, expected = np.asarray(actual, float), np.asarray(expected, float)
    assert actual.shape == expected.shape
    scale = np.max(np.abs(expected))
    np.testing.assert_array_less(np.max(np.abs(actual - expected)), rtol * scale)


def test_octave_fit_equals_python_fit(tmp_path):
    octave = shutil.which("octave-cli")
    if octave is None:
        pytest.skip("octave-cli is not installed")
    modules = module_dir()
    if modules is None or not (modules / "spike_glm_fit.m").exists():
        pytest.skip("no Octave modules with spike_glm_fit (set SPIKE_BINS_OCTAVE_MODULES)")
    rng = np.random.default_rng(5)
    train, stim = recording(rng, 90.0)
    test, stim2 = recording(rng, 30.0)
    model = PopulationGLM(**OPTIONS).fit(train, 90.0, stimulus=stim, stimulus_rate=RATE)
    assert model.converged_.all()

    inputs, outputs = tmp_path / "inputs.mat", tmp_path / "outputs.mat"
    scipy.io.savemat(inputs, {
        "train": cell(train), "test": cell(test), "S": stim, "S2": stim2,
        "duration": 90.0, "duration2": 30.0, "rate": RATE,
        "taps": float(OPTIONS["history_taps"]), "nb": float(OPTIONS["n_basis"]),
        "lags": float(OPTIONS["stimulus_lags"]), "alpha": OPTIONS["alpha"],
        "tol": OPTIONS["tol"]})
    script = f"addpath('{modules}'); inputs = '{inputs}'; outputs = '{outputs}';"
    subprocess.run([octave, "--norc", "--no-history", "--no-window-system",
                    "--eval", script + OCTAVE_SCRIPT], check=True, timeout=300)
    got = scipy.io.loadmat(outputs)

    assert got["converged"].all()
    close(got["bias"].ravel(), model.bias_)
    close(got["filters"], model.filters_)
    close(got["stimulus_filters"], model.stimulus_filters_)
    close(got["weights"].T, model.weights_)
    # The coupling of neuron 0 onto 1 is there to be found in both hosts.
    assert model.filters_[0, 0, 1] > 0.5
    held = dict(stimulus=stim2, stimulus_rate=RATE)
    close(got["rate"], model.predict_rate(test, 30.0, **held))
    close(got["ll"].ravel(), model.log_likelihood(test, 30.0, **held))
    close(got["bits"].ravel(), model.score(test, 30.0, **held))
    close(got["r2"].ravel(), model.pseudo_r2(train, 90.0, stimulus=stim,
                                             stimulus_rate=RATE))
