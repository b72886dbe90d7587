#!/usr/bin/env python3
"""Group-lasso population fit: Octave's spike_glm_fit against Python's
PopulationGLM on the same recording, one run.

    python3 benchmarks/group_lasso_hosts.py [--neurons 6] [--seconds 720]
        [--alpha 1e-4] [--tol 1e-8] [--modules DIR]

Draws a coupled population (fixed seed; each neuron follows a stimulus of
one channel at 100 Hz; some neurons copy a share of another's spikes a few
bins later, the rest are independent, so some coupling groups come out zero
and others not), writes it to a .mat file, fits it in Octave (octave-cli
with the modules of --modules, default the octave_modules of a build of this
repository; the time is Octave's own tic/toc around spike_glm_fit, with
opts.inference false: the fit alone, as in Python) and then in this
process, and prints both times (wall and CPU), their ratios, the iterations
per neuron, how many coupling groups each host kept and the largest weight
difference. Not a test: the figures depend on the machine and its load.
"""
import argparse
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np
import scipy.io

from spike_bins.glm import PopulationGLM

REPO = pathlib.Path(__file__).resolve().parent.parent
RATE = 100.0  # stimulus samples per second: 10 bins of 1 ms
T_START = 1523.25

OCTAVE_SCRIPT = """
d = load(inputs);
o = struct('stimulus', d.S, 'stimulus_rate', d.rate, 't_start', d.t_start, ...
           'penalty', 'group_lasso', 'alpha', d.alpha, 'tol', d.tol, ...
           'inference', false);
started = tic; cpu = cputime();
fit = spike_glm_fit(d.spikes, d.duration, o);
seconds = toc(started); cpu = cputime() - cpu;
weights = fit.weights; iterations = fit.iterations;
converged = double(fit.converged);
save('-v7', outputs, 'weights', 'iterations', 'converged', 'seconds', 'cpu');
"""


def population(rng, nneurons, seconds):
    """Spike times (30 kHz clock, t_start T_START) and the stimulus. Neuron k
    (k odd) gets 30 % of neuron k+1's spikes (the last one: of neuron 0)
    1 to 4 bins later; even neurons are independent."""
    samples = int(round(seconds * RATE))
    stim = rng.standard_normal((samples, 1))
    coarse = np.zeros((samples, nneurons))
    coarse[2:] = stim[:-2] @ rng.uniform(-0.5, 0.5, (1, nneurons))
    eta = np.repeat(coarse, 10, axis=0) + np.log(rng.uniform(0.006, 0.015, nneurons))
    counts = rng.poisson(np.exp(eta))
    for k in range(1, nneurons, 2):
        source = (k + 1) % nneurons
        lag = int(rng.integers(1, 5))
        copied = rng.binomial(counts[:-lag, source], 0.3)
        counts[lag:, k] += copied
    spikes = []
    for i in range(nneurons):
        bins = np.repeat(np.arange(counts.shape[0]), counts[:, i])
        # Ticks 1 to 29 of a bin's 30: none on a bin edge, where the hosts'
        # binning may differ by the edge tolerance.
        ticks = 30 * bins + rng.integers(1, 30, bins.size)
        spikes.append(np.sort(T_START + ticks / 30000.0))
    return spikes, stim


def default_modules():
    for candidate in ("build/octave_modules", "build/default/octave_modules"):
        if (REPO / candidate / "tentfill2.mex").exists():
            return REPO / candidate
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--neurons", type=int, default=6)
    parser.add_argument("--seconds", type=float, default=720.0)
    parser.add_argument("--alpha", type=float, default=1e-4)
    parser.add_argument("--tol", type=float, default=1e-8)
    parser.add_argument("--modules", type=pathlib.Path, default=None)
    args = parser.parse_args()
    octave = shutil.which("octave-cli")
    modules = args.modules or default_modules()
    if octave is None or modules is None:
        sys.exit("needs octave-cli and the Octave modules (--modules)")

    spikes, stim = population(np.random.default_rng(11), args.neurons, args.seconds)
    print(f"{args.neurons} neurons, {args.seconds:g} s, "
          f"{sum(s.size for s in spikes)} spikes, alpha {args.alpha:g}, tol {args.tol:g}")
    with tempfile.TemporaryDirectory() as tmp:
        inputs, outputs = pathlib.Path(tmp, "in.mat"), pathlib.Path(tmp, "out.mat")
        cell = np.empty((len(spikes), 1), dtype=object)
        for i, s in enumerate(spikes):
            cell[i, 0] = s.reshape(-1, 1)
        scipy.io.savemat(inputs, {"spikes": cell, "S": stim, "rate": RATE,
                                  "t_start": T_START, "duration": args.seconds,
                                  "alpha": args.alpha, "tol": args.tol})
        script = (f"addpath('{modules}'); inputs = '{inputs}'; "
                  f"outputs = '{outputs}';" + OCTAVE_SCRIPT)
        subprocess.run([octave, "--norc", "--no-history", "--no-window-system",
                        "--eval", script], check=True)
        got = scipy.io.loadmat(outputs)

    model = PopulationGLM(penalty="group_lasso", alpha=args.alpha, tol=args.tol)
    started, cpu = time.perf_counter(), time.process_time()
    model.fit(spikes, args.seconds, stimulus=stim, stimulus_rate=RATE, t_start=T_START)
    py_seconds = time.perf_counter() - started
    py_cpu = time.process_time() - cpu

    oct_seconds, oct_cpu = float(got["seconds"]), float(got["cpu"])
    w_oct, w_py = got["weights"].T, model.weights_
    nb = model.basis_.shape[1]
    first = w_py.shape[1] - args.neurons * nb

    def kept(w):
        return sum(int(np.any(w[i, first + j * nb:first + (j + 1) * nb]))
                   for i in range(args.neurons) for j in range(args.neurons) if j != i)

    print(f"Octave: {oct_seconds:.2f} s ({oct_cpu:.2f} s CPU), iterations {got['iterations'].ravel().astype(int)}, "
          f"converged {int(got['converged'].sum())}/{args.neurons}, "
          f"coupling groups kept {kept(w_oct)}")
    print(f"Python: {py_seconds:.2f} s ({py_cpu:.2f} s CPU), iterations {model.n_iter_}, "
          f"converged {int(model.converged_.sum())}/{args.neurons}, "
          f"coupling groups kept {kept(w_py)}")
    diff = np.max(np.abs(w_oct - w_py)) / np.max(np.abs(w_py))
    print(f"largest weight difference (relative to the largest weight): {diff:.2e}")
    print(f"Octave / Python: {oct_seconds / py_seconds:.2f} "
          f"(CPU time: {oct_cpu / py_cpu:.2f})")


if __name__ == "__main__":
    main()
