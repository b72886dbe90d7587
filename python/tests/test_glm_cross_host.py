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

from spike_bins import glm
from spike_bins._inputs import _recording
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


# Recordings as they come, in both hosts: clock stamps far from t = 0 binned
# by the same rule, and a fit over fit bins with a unit below min_spikes,
# scored on the held-out bins.

REAL_SCRIPT = """
d = load(inputs);
if nargout('spike_glm_rate') < 2
  exit(3);   % an Octave side without counts per bin: the binning rule predates it
end
warning('off', 'spike_glm:silentNeuron');
warning('off', 'spike_glm:notConverged');
warning('off', 'spike_glm:runaway');
o = struct('t_start', d.t0, 'history_taps', d.taps, 'n_basis', d.nb, ...
           'penalty', 'ridge', 'alpha', d.alpha, 'tol', d.tol, ...
           'fit_bins', logical(d.mask(:)), 'min_spikes', d.min_spikes);
fit = spike_glm_fit(d.train, d.duration, o);
s = spike_glm_score(fit, d.train, d.duration, ...
                    struct('t_start', d.t0, 'bins', ~logical(d.mask(:))));
weights = fit.weights; converged = double(fit.converged); null_rate = fit.null_rate;
ll = s.log_likelihood; bits = s.bits_per_spike; r2 = s.pseudo_r2;
probe = spike_glm_fit(d.clock, d.clock_duration, struct('t_start', d.clock_t0, ...
        'history_taps', 2, 'n_basis', 1, 'max_iter', 1));
[~, counts] = spike_glm_rate(probe, d.clock, d.clock_duration, ...
                             struct('t_start', d.clock_t0));
save('-v7', outputs, 'weights', 'converged', 'null_rate', 'll', 'bits', 'r2', 'counts');
"""


def octave_or_skip():
    octave = shutil.which("octave-cli")
    if octave is None:
        pytest.skip("octave-cli is not installed")
    modules = module_dir()
    if modules is None or not (modules / "spike_glm_fit.m").exists():
        pytest.skip("no Octave modules with spike_glm_fit (set SPIKE_BINS_OCTAVE_MODULES)")
    return octave, modules


def test_octave_bins_fits_and_scores_a_recording_as_python_does(tmp_path):
    octave, modules = octave_or_skip()
    rng = np.random.default_rng(11)
    t0, seconds = 12345.678, 60.0
    train = [t0 + np.sort(rng.integers(0, int(seconds * 30000), n)) / 30000.0
             for n in (900, 600, 750)]           # a 30 kHz sample clock
    train.append(t0 + np.array([3.0, 17.0, 29.0, 41.0, 55.0]))   # 5 spikes
    mask = np.ones(int(seconds * 1000), bool)
    mask[20_000:35_000] = False                  # held out, its spikes still history
    # Stamps on three clocks, each in its own unit: 30 kHz ticks and whole
    # milliseconds from 1000 s, and computed edges from 12345.678 s.
    clock_t0, clock_bins = 1000.0, 30_000
    clock = [clock_t0 + np.arange(clock_bins * 30) / 30000.0,
             clock_t0 + np.arange(clock_bins) / 1000.0,
             clock_t0 + np.arange(clock_bins) * 0.001]
    options = dict(history_taps=40, n_basis=4, penalty="ridge", alpha=1e-4, tol=1e-10,
                   min_spikes=10)
    with pytest.warns(UserWarning, match=r"neurons \[3\] have fewer than min_spikes"):
        model = glm.PopulationGLM(**options).fit(train, seconds, t_start=t0,
                                                 fit_bins=mask)
    held = dict(t_start=t0, bins=~mask)

    inputs, outputs = tmp_path / "inputs.mat", tmp_path / "outputs.mat"
    scipy.io.savemat(inputs, {
        "train": cell(train), "duration": seconds, "t0": t0, "mask": mask.astype(float),
        "taps": 40.0, "nb": 4.0, "alpha": 1e-4, "tol": 1e-10, "min_spikes": 10.0,
        "clock": cell(clock), "clock_duration": clock_bins * 0.001,
        "clock_t0": clock_t0})
    script = f"addpath('{modules}'); inputs = '{inputs}'; outputs = '{outputs}';"
    run = subprocess.run([octave, "--norc", "--no-history", "--no-window-system",
                          "--eval", script + REAL_SCRIPT], timeout=300)
    if run.returncode == 3:
        pytest.skip("the Octave modules predate the shared binning rule")
    assert run.returncode == 0
    got = scipy.io.loadmat(outputs)

    _, bins = _recording(clock, clock_bins * 0.001, clock_t0, 0.001)
    counts = np.column_stack([np.bincount(b, minlength=clock_bins) for b in bins])
    np.testing.assert_array_equal(got["counts"], counts)
    assert np.all(counts[:, 0] == 30) and np.all(counts[:, 1:] == 1)

    np.testing.assert_array_equal(got["converged"].ravel().astype(bool), model.converged_)
    close(got["weights"].T, model.weights_)
    assert not model.weights_[3, 1:].any() and not model.filters_[:, 3, :].any()
    close(got["null_rate"].ravel(), model.null_rate_)
    close(got["ll"].ravel(), model.log_likelihood(train, seconds, **held))
    close(got["bits"].ravel()[:3], model.score(train, seconds, **held)[:3])
    close(got["r2"].ravel(), model.pseudo_r2(train, seconds, **held))


RUNAWAY_SCRIPT = """
d = load(inputs);
if nargout('spike_glm_rate') < 2
  exit(3);   % an Octave side that predates the runaway test
end
warning('off', 'spike_glm:runaway');
warning('off', 'spike_glm:notConverged');
pen = {'none', 'group_lasso'};
for k = 1:2
  o = struct('t_start', d.t0, 'history_taps', d.taps, 'n_basis', d.nb, ...
             'penalty', pen{k}, 'alpha', d.alpha(k));
  fit = spike_glm_fit(d.spikes, d.duration, o);
  converged(:, k) = double(fit.converged);
  finite(k) = all(isfinite(fit.weights(:)));
end
save('-v7', outputs, 'converged', 'finite');
"""


def test_octave_finds_the_same_runaways(tmp_path):
    octave, modules = octave_or_skip()
    rng = np.random.default_rng(2)
    t0, seconds, taps = 1000.0, 120.0, 50
    nbins = int(seconds * 1000)
    sparse = np.array([10_000, 40_000, 70_000, 100_000, 115_000])
    bins = []
    for rate in (0.01, 0.02):
        b = np.flatnonzero(rng.random(nbins) < rate)
        for s in sparse:
            b = b[(b <= s) | (b > s + taps)]
        bins.append(b)
    bins.append(sparse)
    spikes = [t0 + (b + 0.5) / 1000 for b in bins]
    expected = []
    for penalty, alpha in [(None, 0.0), ("group_lasso", 1e-6)]:
        model = glm.PopulationGLM(history_taps=taps, n_basis=4, penalty=penalty,
                                  alpha=alpha)
        with pytest.warns(glm.RunawayWarning):
            model.fit(spikes, seconds, t_start=t0)
        assert np.all(np.isfinite(model.weights_))
        expected.append(model.converged_)
    # No penalty: every target runs off on the sparse unit, and it on every
    # source; the group lasso leaves only its own history unpenalised.
    assert not expected[0].any() and list(expected[1]) == [True, True, False]
    inputs, outputs = tmp_path / "inputs.mat", tmp_path / "outputs.mat"
    scipy.io.savemat(inputs, {"spikes": cell(spikes), "duration": seconds, "t0": t0,
                              "taps": float(taps), "nb": 4.0, "alpha": [0.0, 1e-6]})
    script = f"addpath('{modules}'); inputs = '{inputs}'; outputs = '{outputs}';"
    run = subprocess.run([octave, "--norc", "--no-history", "--no-window-system",
                          "--eval", script + RUNAWAY_SCRIPT], timeout=300)
    if run.returncode == 3:
        pytest.skip("the Octave modules predate the runaway test")
    assert run.returncode == 0
    got = scipy.io.loadmat(outputs)
    assert got["finite"].all()
    np.testing.assert_array_equal(got["converged"].astype(bool),
                                  np.column_stack(expected))
