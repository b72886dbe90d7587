"""The group-lasso population fit in both hosts: spike_glm_fit in Octave
against PopulationGLM on the same coupled recording. Neuron 0 is
independent and neuron 1 copies a share of neuron 2's spikes, so in neuron
1's weights the zero group of source 0 comes before the non-zero group of
source 2.

Both hosts run the same algorithm until the optimality conditions hold to
tol 1e-10 (per bin): each result x_h has a subgradient r_h of the objective
with ||r_h||_2 <= sqrt(P) * tol (P = 16 weights). The smooth part is
strongly convex with modulus lambda (the smallest eigenvalue of its Hessian,
3.6e-5 to 4.4e-5 for the three neurons here) and the penalty is convex, so
||x_1 - x_2||_2 <= (||r_1|| + ||r_2||) / lambda <= 8e-10 / 3.6e-5 = 2.2e-5,
absolute, within 1e-5 of the largest weight (4.9). Measured: 5e-8 relative.
The selected groups must be the same.

Needs octave-cli and the Octave modules with the spike_glm_* files (see
test_glm_cross_host.py); skipped when either is missing.
"""
import subprocess

import numpy as np
import scipy.io

from spike_bins.glm import PopulationGLM
from test_glm_cross_host import octave_or_skip
from test_group_lasso import (OPTIONS, RATE, SECONDS, T_START, coupled_recording,
                              groups_kept)

OCTAVE_SCRIPT = """
d = load(inputs);
o = struct('stimulus', d.S, 'stimulus_rate', d.rate, 't_start', d.t_start, ...
           'history_taps', d.taps, 'n_basis', d.nb, 'stimulus_lags', d.lags, ...
           'penalty', 'group_lasso', 'alpha', d.alpha, 'tol', d.tol);
fit = spike_glm_fit(d.spikes, d.duration, o);
weights = fit.weights; converged = double(fit.converged);
iterations = fit.iterations;
save('-v7', outputs, 'weights', 'converged', 'iterations');
"""


def test_octave_group_lasso_equals_python(tmp_path):
    octave, modules = octave_or_skip()
    spikes, stim = coupled_recording(np.random.default_rng(21))
    model = PopulationGLM(**OPTIONS).fit(spikes, SECONDS, stimulus=stim,
                                         stimulus_rate=RATE, t_start=T_START)
    assert model.converged_.all()

    inputs, outputs = tmp_path / "inputs.mat", tmp_path / "outputs.mat"
    cell = np.empty((3, 1), dtype=object)
    for i, s in enumerate(spikes):
        cell[i, 0] = s.reshape(-1, 1)
    scipy.io.savemat(inputs, {
        "spikes": cell, "S": stim, "rate": RATE, "t_start": T_START,
        "duration": SECONDS, "taps": float(OPTIONS["history_taps"]),
        "nb": float(OPTIONS["n_basis"]), "lags": float(OPTIONS["stimulus_lags"]),
        "alpha": OPTIONS["alpha"], "tol": OPTIONS["tol"]})
    script = f"addpath('{modules}'); inputs = '{inputs}'; outputs = '{outputs}';"
    subprocess.run([octave, "--norc", "--no-history", "--no-window-system",
                    "--eval", script + OCTAVE_SCRIPT], check=True, timeout=300)
    got = scipy.io.loadmat(outputs)

    assert got["converged"].all()
    nb = OPTIONS["n_basis"]
    kept = groups_kept(model.weights_, nb)
    np.testing.assert_array_equal(groups_kept(got["weights"].T, nb), kept)
    # The zero group of source 0 before the non-zero one of source 2.
    assert not kept[0, 1] and kept[2, 1]
    difference = np.max(np.abs(got["weights"].T - model.weights_))
    assert difference <= 1e-5 * np.max(np.abs(model.weights_))
