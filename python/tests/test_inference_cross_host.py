"""Standard errors, coupling p-values and the time-rescaling test in both
hosts: spike_glm_fit (with its inference fields) and spike_glm_ks in Octave
against PopulationGLM.standard_errors_, coupling_pvalues_ and
time_rescaling on the same recording, with the same uniforms r_k. Both
fits converge to a gradient of 1e-10 per bin, so every figure must agree to
1e-6 relative (NaN where the other host has NaN).

Needs octave-cli and Octave modules whose M files include spike_glm_ks
(SPIKE_BINS_OCTAVE_MODULES, else a CMake build of this repository), as
test_glm_cross_host.py; skipped otherwise.
"""
import shutil
import subprocess

import numpy as np
import pytest
import scipy.io

from spike_bins.glm import PopulationGLM
from test_cross_host import module_dir
from test_glm_cross_host import RATE, cell, recording

T_START = 3600.25
OPTIONS = dict(history_taps=30, n_basis=3, stimulus_lags=2, tol=1e-10)

OCTAVE_SCRIPT = """
d = load(inputs);
penalty = d.penalty;
if isempty(penalty), penalty = 'none'; end
o = struct('stimulus', d.S, 'stimulus_rate', d.rate, 'history_taps', d.taps, ...
           'n_basis', d.nb, 'stimulus_lags', d.lags, 'penalty', penalty, ...
           'alpha', d.alpha, 'tol', d.tol, 't_start', d.t0);
fit = spike_glm_fit(d.train, d.duration, o);
u = cell(numel(d.uniforms), 1);
for i = 1:numel(u), u{i} = d.uniforms{i}(:); end
k = struct('stimulus', d.S, 't_start', d.t0, 'bins', logical(d.mask(:)), ...
           'uniforms', {u});
ks = spike_glm_ks(fit, d.train, d.duration, k);
k.corrected = false;
k = rmfield(k, 'uniforms');
plain = spike_glm_ks(fit, d.train, d.duration, k);
weights = fit.weights; se = fit.standard_errors; pvalues = fit.coupling_pvalues;
aic = fit.aic; bic = fit.bic; ll = fit.log_likelihood;
lower = fit.filter_lower; upper = fit.filter_upper;
[rescaled, D, p, band] = deal(ks.rescaled, ks.ks_statistic, ks.ks_pvalue, ks.band);
n = ks.n; plain_rescaled = plain.rescaled; plain_p = plain.ks_pvalue;
save('-v7', outputs, 'weights', 'se', 'pvalues', 'aic', 'bic', 'll', 'lower', ...
     'upper', 'rescaled', 'D', 'p', 'band', 'n', 'plain_rescaled', 'plain_p');
"""


def same(actual, expected, rtol=1e-6):
    """NaN where expected is NaN, elsewhere equal to rtol relative to the
    largest finite magnitude of expected."""
    actual, expected = np.asarray(actual, float), np.asarray(expected, float)
    assert actual.shape == expected.shape
    assert np.array_equal(np.isnan(actual), np.isnan(expected))
    finite = np.isfinite(expected)
    if finite.any():
        scale = np.max(np.abs(expected[finite]))
        assert np.max(np.abs(actual[finite] - expected[finite])) <= rtol * scale


@pytest.mark.parametrize("penalty, alpha", [(None, 0.0), ("ridge", 1e-4),
                                            ("group_lasso", 2e-4)])
def test_octave_inference_equals_python(tmp_path, penalty, alpha):
    octave = shutil.which("octave-cli")
    if octave is None:
        pytest.skip("octave-cli is not installed")
    modules = module_dir()
    if modules is None or not (modules / "spike_glm_ks.m").exists():
        pytest.skip("no Octave modules with spike_glm_ks "
                    "(set SPIKE_BINS_OCTAVE_MODULES)")
    rng = np.random.default_rng(8)
    seconds = 60.0
    spikes, stim = recording(rng, seconds)
    spikes = [s + T_START for s in spikes]
    nbins = int(seconds * 1000)
    mask = np.ones(nbins, bool)
    mask[10000:25000] = False  # a held-out stretch: not scored
    held = dict(stimulus=stim, stimulus_rate=RATE, t_start=T_START)
    model = PopulationGLM(penalty=penalty, alpha=alpha, **OPTIONS)
    model.fit(spikes, seconds, **held)
    assert model.converged_.all()
    events = [np.unique(np.floor((s - T_START) * 1000).astype(int)) for s in spikes]
    uniforms = [rng.random(int(mask[e].sum())) for e in events]
    mine = model.time_rescaling(spikes, seconds, bins=mask, uniforms=uniforms, **held)
    plain = model.time_rescaling(spikes, seconds, bins=mask, corrected=False, **held)

    inputs, outputs = tmp_path / "inputs.mat", tmp_path / "outputs.mat"
    scipy.io.savemat(inputs, {
        "train": cell(spikes), "S": stim, "duration": seconds, "rate": RATE,
        "t0": T_START, "taps": float(OPTIONS["history_taps"]),
        "nb": float(OPTIONS["n_basis"]), "lags": float(OPTIONS["stimulus_lags"]),
        "penalty": penalty or "", "alpha": alpha, "tol": OPTIONS["tol"],
        "mask": mask.astype(np.uint8), "uniforms": cell(uniforms)})
    script = f"addpath('{modules}'); inputs = '{inputs}'; outputs = '{outputs}';"
    subprocess.run([octave, "--norc", "--no-history", "--no-window-system",
                    "--eval", script + OCTAVE_SCRIPT], check=True, timeout=600)
    got = scipy.io.loadmat(outputs)

    same(got["weights"].T, model.weights_)
    same(got["se"].T, model.standard_errors_)
    same(got["pvalues"], model.coupling_pvalues_)
    lower, upper = model.filter_bands()
    same(got["lower"], lower)
    same(got["upper"], upper)
    same(got["ll"].ravel(), model.fit_log_likelihood_)
    same(got["aic"].ravel(), model.aic_)
    same(got["bic"].ravel(), model.bic_)
    assert np.array_equal(got["n"].ravel(), mine.n)
    for i in range(len(spikes)):
        same(got["rescaled"][i, 0].ravel(), mine.rescaled[i])
        same(got["plain_rescaled"][i, 0].ravel(), plain.rescaled[i])
    same(got["D"].ravel(), mine.ks_statistic)
    same(got["p"].ravel(), mine.ks_pvalue)
    same(got["band"].ravel(), mine.band)
    same(got["plain_p"].ravel(), plain.ks_pvalue)
    if penalty is None:
        assert model.coupling_pvalues_[0, 1] < 1e-6  # 0 -> 1 is there in both
