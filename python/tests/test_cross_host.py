"""The same inputs through the Octave modules and through spike_bins, the
forward operators and their adjoints (the population sums and their
targets-major forms too, with the sources numbered from 1 there and from 0
here): the results must agree to the bit.

Needs octave-cli and the modules built by CMake (folder octave_modules of a
build tree); the folder is SPIKE_BINS_OCTAVE_MODULES or, when that is unset,
the first of build/octave_modules and build/default/octave_modules of this
repository that exists. Skipped when octave-cli or the modules are missing.
"""
import os
import pathlib
import shutil
import subprocess

import numpy as np
import pytest
import scipy.io

from conftest import assert_same_bits
from spike_bins import tentfill2, tentfill2_adjoint, trainfold, \
    trainfold_adjoint, trainfold_multi, trainfold_multi_adjoint, \
    trainfold_pop, trainfold_pop_adjoint

REPO = pathlib.Path(__file__).resolve().parents[2]


def module_dir():
    given = os.environ.get("SPIKE_BINS_OCTAVE_MODULES")
    if given:
        return pathlib.Path(given)
    for candidate in ("build/octave_modules", "build/default/octave_modules"):
        if (REPO / candidate / "tentfill2.mex").exists():
            return REPO / candidate
    return None


EDGES = np.array([0.0, -0.0, 1.0, -1.0, np.nan, np.inf, -np.inf, 5e-324,
                  -2.2250738585072014e-308, 1.7976931348623157e308, 0.1, 0.7,
                  1.0 / 3.0, -3.7619803885035443])


def random_values(rng, shape):
    """Mostly ordinary values, with edge values sprinkled in."""
    values = rng.uniform(-4.0, 4.0, shape)
    edge = rng.random(shape) < 0.15
    values[edge] = rng.choice(EDGES, size=int(edge.sum()))
    return values


def upsample_cases():
    rng = np.random.default_rng(13)
    cases = [  # (x, nbns): the kernel's worked examples and edge cases
        ([[0.5], [1.25], [-3.7619803885035443]], 3.0),
        ([[0.1, 0.1], [0.7, 0.7]], 3.0),
        ([[0.1], [0.7]], 3.0),
        ([[1.0], [np.inf], [3.0]], 3.0),
        ([[np.inf], [2.0]], 1.0),
        ([[1.0], [2.0], [3.0]], 2.5),
        ([[1.0, -0.0, 2.0]], 49.0),
        ([[2.0], [-0.0]], 1.0),
        (np.zeros((0, 3)), 4.0),
        (np.ones((3, 2)), 0.5),
        (np.ones((3, 2)), -0.75),
    ]
    for nbns in (1.0, 2.0, 3.0, 4.0, 7.0, 8.0, 10.0, 20.0, 49.0, 50.0, 2.5,
                 7.9, 129.0, 300.0):
        for rows, cols in ((1, 1), (2, 1), (17, 1), (1, 3), (5, 2), (40, 16)):
            cases.append((random_values(rng, (rows, cols)), nbns))
    return cases


def spike_cases():
    rng = np.random.default_rng(14)
    h3 = [[1.0], [2.0], [4.0]]
    cases = [  # (spinds, h_currents, twin)
        ([8.0, 10.5, 13.2, 14.0], [[0.25], [0.5], [0.125]], [10.0, 13.0]),
        ([5.0, 3.0, 5.0, 3.0, 5.0], [[0.1], [1.0 / 3.0], [0.7]], [1.0, 9.0]),
        ([3.0, 3.0, 5.0, 5.0, 5.0], [[0.1], [1.0 / 3.0], [0.7]], [1.0, 9.0]),
        ([2.0, 50.0, 3.0, 4.0], h3, [1.0, 10.0]),
        ([-0.5], h3, [1.0, 5.0]),
        ([-1.0], h3, [1.0, 5.0]),
        ([-1.5], h3, [1.0, 5.0]),
        ([1.0, np.nan, 2.0], h3, [0.0, 6.0]),
        ([-np.inf, 1.0, np.inf], h3, [0.0, 6.0]),
        ([1.0, 2.0], h3, [2.7, 9.2]),
        ([5.0], h3, [5.0, 4.0]),
        (np.zeros((0, 1)), h3, [0.0, 3.0]),
        ([1.0, 2.0], np.zeros((0, 2)), [0.0, 3.0]),
        ([1.0, 2.0], np.zeros((3, 0)), [0.0, 3.0]),
    ]
    for spikes, taps, filters, window in ((10, 3, 1, (0, 20)),
                                          (50, 20, 3, (5, 80)),
                                          (200, 50, 2, (-10, 300)),
                                          (30, 1, 4, (0, 5))):
        times = np.sort(rng.uniform(window[0] - taps, window[1] + 5, spikes))
        times[rng.random(spikes) < 0.1] = rng.choice(EDGES[:8])
        for ordered in (np.sort(times), times):
            cases.append((ordered[:, None], random_values(rng, (taps, filters)),
                          [window[0] + 0.5, window[1] + 0.25]))
    return cases


def adjoint_cases(upsample, spikes):
    """Adjoint inputs of the forward cases' shapes: (r, nbns) for every
    upsampling case with nbns >= 1, and (spinds, r, twin, ntaps) for every
    spike case, with r of random values (the edge values among them)."""
    rng = np.random.default_rng(15)
    up = []
    for x, nbns in upsample:
        if nbns >= 1:
            rows, cols = np.shape(x)
            up.append((random_values(rng, (rows * int(nbns), cols)), nbns))
    down = []
    for spinds, h, twin in spikes:
        window_rows = int(twin[1]) - int(twin[0]) + 1
        down.append((spinds, random_values(rng, (window_rows, 2)), twin,
                     float(np.shape(h)[0])))
    return up, down


def pop_cases(spikes):
    """(spinds, ids, h_currents, twin, nsources, r) of the population sums,
    one per spike case with 1 to 3 sources: ids numbered from 0 (Octave is
    given ids + 1), h_currents of N filters per column of the case's, r of
    the window's rows for the adjoint."""
    rng = np.random.default_rng(16)
    cases = []
    for i, (spinds, h, twin) in enumerate(spikes):
        sources = 1 + i % 3
        count = np.size(spinds)
        ids = rng.integers(0, sources, count).astype(float)
        taps, filters = np.shape(h)
        window_rows = int(twin[1]) - int(twin[0]) + 1
        cases.append((spinds, ids, random_values(rng, (taps, sources * filters)),
                      twin, float(sources),
                      random_values(rng, (window_rows, filters))))
    return cases


OCTAVE_SCRIPT = r"""
S = load(inputs);
R = struct();
for i = 1:S.upsample_count
  R.(sprintf('u%d', i)) = tentfill2(S.(sprintf('x%d', i)), S.(sprintf('n%d', i)));
end
for i = 1:S.spike_count
  R.(sprintf('s%d', i)) = trainfold_mex(S.(sprintf('s%d', i)), ...
      S.(sprintf('h%d', i)), S.(sprintf('t%d', i)));
end
for i = 1:S.up_adjoint_count
  R.(sprintf('ua%d', i)) = tentfill2_adjoint(S.(sprintf('ra%d', i)), ...
      S.(sprintf('na%d', i)));
end
for i = 1:S.spike_adjoint_count
  R.(sprintf('sa%d', i)) = trainfold_adjoint(S.(sprintf('sa%d', i)), ...
      S.(sprintf('rs%d', i)), S.(sprintf('ta%d', i)), S.(sprintf('ca%d', i)));
end
for i = 1:S.pop_count
  R.(sprintf('p%d', i)) = trainfold_pop(S.(sprintf('ps%d', i)), ...
      S.(sprintf('pi%d', i)) + 1, S.(sprintf('ph%d', i)), ...
      S.(sprintf('pt%d', i)), S.(sprintf('pn%d', i)));
  R.(sprintf('pa%d', i)) = trainfold_pop_adjoint(S.(sprintf('ps%d', i)), ...
      S.(sprintf('pi%d', i)) + 1, S.(sprintf('pr%d', i)), ...
      S.(sprintf('pt%d', i)), size(S.(sprintf('ph%d', i)), 1), ...
      S.(sprintf('pn%d', i)));
  R.(sprintf('m%d', i)) = trainfold_multi(S.(sprintf('ps%d', i)), ...
      S.(sprintf('pi%d', i)) + 1, S.(sprintf('mh%d', i)), ...
      S.(sprintf('pt%d', i)), S.(sprintf('pn%d', i)));
  R.(sprintf('ma%d', i)) = trainfold_multi_adjoint(S.(sprintf('ps%d', i)), ...
      S.(sprintf('pi%d', i)) + 1, S.(sprintf('mr%d', i)), ...
      S.(sprintf('pt%d', i)), size(S.(sprintf('ph%d', i)), 1), ...
      S.(sprintf('pn%d', i)));
end
save('-v6', outputs, '-struct', 'R');
"""


def test_octave_modules_give_the_same_bits(tmp_path):
    octave = shutil.which("octave-cli")
    if octave is None:
        pytest.skip("octave-cli is not installed")
    modules = module_dir()
    if modules is None:
        pytest.skip("no Octave modules built (set SPIKE_BINS_OCTAVE_MODULES)")
    assert (modules / "tentfill2.mex").exists(), modules
    upsample, spikes = upsample_cases(), spike_cases()
    up_adjoint, spike_adjoint = adjoint_cases(upsample, spikes)
    data = {"upsample_count": float(len(upsample)),
            "spike_count": float(len(spikes)),
            "up_adjoint_count": float(len(up_adjoint)),
            "spike_adjoint_count": float(len(spike_adjoint))}
    pop = pop_cases(spikes)
    data["pop_count"] = float(len(pop))
    # The targets-major sums on the same spikes: one target per output
    # column of the population case, its taps of every source in one row.
    rng = np.random.default_rng(17)
    multi = [(random_values(rng, (r.shape[1], h.shape[0] * int(n))), r.T.copy())
             for _, _, h, _, n, r in pop]
    for i, (h, r) in enumerate(multi, 1):
        data[f"mh{i}"] = h
        data[f"mr{i}"] = r
    for i, (spinds, ids, h, twin, nsources, r) in enumerate(pop, 1):
        data[f"ps{i}"] = np.asarray(spinds, dtype=float).reshape(-1, 1)
        data[f"pi{i}"] = ids.reshape(-1, 1)
        data[f"ph{i}"] = h
        data[f"pt{i}"] = np.asarray(twin, dtype=float).reshape(1, 2)
        data[f"pn{i}"] = nsources
        data[f"pr{i}"] = r
    for i, (x, nbns) in enumerate(upsample, 1):
        data[f"x{i}"] = np.asarray(x, dtype=float)
        data[f"n{i}"] = nbns
    for i, (spinds, h, twin) in enumerate(spikes, 1):
        data[f"s{i}"] = np.asarray(spinds, dtype=float).reshape(-1, 1)
        data[f"h{i}"] = np.asarray(h, dtype=float)
        data[f"t{i}"] = np.asarray(twin, dtype=float).reshape(1, 2)
    for i, (r, nbns) in enumerate(up_adjoint, 1):
        data[f"ra{i}"] = np.asarray(r, dtype=float)
        data[f"na{i}"] = nbns
    for i, (spinds, r, twin, ntaps) in enumerate(spike_adjoint, 1):
        data[f"sa{i}"] = np.asarray(spinds, dtype=float).reshape(-1, 1)
        data[f"rs{i}"] = np.asarray(r, dtype=float)
        data[f"ta{i}"] = np.asarray(twin, dtype=float).reshape(1, 2)
        data[f"ca{i}"] = ntaps
    inputs, outputs = tmp_path / "inputs.mat", tmp_path / "outputs.mat"
    scipy.io.savemat(inputs, data)
    script = (f"addpath('{modules}'); inputs = '{inputs}'; "
              f"outputs = '{outputs}';" + OCTAVE_SCRIPT)
    subprocess.run([octave, "--norc", "--no-history", "--no-window-system",
                    "--eval", script], check=True, timeout=300)
    results = scipy.io.loadmat(outputs)
    for i, (x, nbns) in enumerate(upsample, 1):
        assert_same_bits(tentfill2(x, nbns), results[f"u{i}"])
    for i, (spinds, h, twin) in enumerate(spikes, 1):
        assert_same_bits(trainfold(spinds, h, twin), results[f"s{i}"])
    for i, (r, nbns) in enumerate(up_adjoint, 1):
        assert_same_bits(tentfill2_adjoint(r, nbns), results[f"ua{i}"])
    for i, (spinds, r, twin, ntaps) in enumerate(spike_adjoint, 1):
        assert_same_bits(trainfold_adjoint(spinds, r, twin, ntaps),
                         results[f"sa{i}"])
    for i, (spinds, ids, h, twin, nsources, r) in enumerate(pop, 1):
        assert_same_bits(trainfold_pop(spinds, ids, h, twin, nsources),
                         results[f"p{i}"])
        assert_same_bits(trainfold_pop_adjoint(spinds, ids, r, twin,
                                               np.shape(h)[0], nsources),
                         results[f"pa{i}"])
        hm, rm = multi[i - 1]
        assert_same_bits(trainfold_multi(spinds, ids, hm, twin, nsources),
                         results[f"m{i}"])
        assert_same_bits(trainfold_multi_adjoint(spinds, ids, rm, twin,
                                                 np.shape(h)[0], nsources),
                         results[f"ma{i}"])
