#!/usr/bin/env python3
"""Population fit: Octave's spike_glm_fit against Python's PopulationGLM on
the same recording, one run.

    python3 benchmarks/group_lasso_hosts.py [--penalty group_lasso] [--neurons 6]
        [--seconds 720] [--alpha 1e-4] [--tol 1e-8] [--modules DIR ...]

--penalty group_lasso (default) draws a coupled population (fixed seed;
each neuron follows a stimulus of one channel at 100 Hz; some neurons copy
a share of another's spikes a few bins later, the rest are independent, so
some coupling groups come out zero and others not) and fits it with the
group lasso. --penalty none fits the worked example's population
(examples/population_fit.py: simulate, seed 0; 100 taps, 5 raised cosines,
5 stimulus lags) without a penalty. The recording goes to a .mat file and
is fitted in Octave (octave-cli with each --modules folder in turn, default
the octave_modules of a build of this repository; the time is Octave's own
tic/toc and cputime around spike_glm_fit, with opts.inference false: the
fit alone, as in Python), then in this process with n_jobs=1 (the
like-for-like figure) and n_jobs=2. Prints each time (wall and CPU), the
ratios to Python on one thread, the iterations per neuron, how many
coupling groups each kept and the largest weight differences. Not a test:
the figures depend on the machine and its load.
"""
import argparse
import os
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
           'penalty', d.penalty, 'alpha', d.alpha, 'tol', d.tol, ...
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


def worked(nneurons, seconds):
    """The worked example's recording (seed 0): spike times, stimulus
    (samples x 1), its rate and t_start."""
    sys.path.insert(0, str(REPO / "examples"))
    import population_fit
    rec = population_fit.recording(population_fit.simulate(nneurons, seconds, 0))
    return (rec["spike_times"], rec["stimulus"].reshape(-1, 1),
            rec["stimulus_rate"], 0.0)


def run_octave(octave, modules, spikes, stim, rate, t_start, args):
    """Fits in octave-cli with the modules folder MODULES: its output .mat
    file's fields (weights, iterations, converged, seconds, cpu)."""
    with tempfile.TemporaryDirectory() as tmp:
        inputs, outputs = pathlib.Path(tmp, "in.mat"), pathlib.Path(tmp, "out.mat")
        cell = np.empty((len(spikes), 1), dtype=object)
        for i, s in enumerate(spikes):
            cell[i, 0] = s.reshape(-1, 1)
        scipy.io.savemat(inputs, {"spikes": cell, "S": stim, "rate": rate,
                                  "t_start": t_start, "duration": args.seconds,
                                  "penalty": args.penalty, "alpha": args.alpha,
                                  "tol": args.tol})
        script = (f"addpath('{modules}'); inputs = '{inputs}'; "
                  f"outputs = '{outputs}';" + OCTAVE_SCRIPT)
        subprocess.run([octave, "--norc", "--no-history", "--no-window-system",
                        "--eval", script], check=True)
        return scipy.io.loadmat(outputs)


def run_python(spikes, stim, rate, t_start, args, n_jobs):
    penalty = None if args.penalty == "none" else args.penalty
    model = PopulationGLM(penalty=penalty, alpha=args.alpha, tol=args.tol, n_jobs=n_jobs)
    started, cpu = time.perf_counter(), time.process_time()
    model.fit(spikes, args.seconds, stimulus=stim, stimulus_rate=rate, t_start=t_start)
    return model, time.perf_counter() - started, time.process_time() - cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--penalty", choices=("group_lasso", "none"), default="group_lasso")
    parser.add_argument("--neurons", type=int, default=6)
    parser.add_argument("--seconds", type=float, default=720.0)
    parser.add_argument("--alpha", type=float, default=1e-4,
                        help="group lasso only (no penalty: 0)")
    parser.add_argument("--tol", type=float, default=1e-8)
    parser.add_argument("--modules", type=pathlib.Path, action="append",
                        help="Octave modules folder; give it twice to time two "
                             "versions of the toolbox in one run")
    args = parser.parse_args()
    octave = shutil.which("octave-cli")
    modules = args.modules or [default_modules()]
    if octave is None or None in modules:
        sys.exit("needs octave-cli and the Octave modules (--modules)")

    if args.penalty == "none":
        args.alpha = 0.0
        spikes, stim, rate, t_start = worked(args.neurons, args.seconds)
    else:
        spikes, stim = population(np.random.default_rng(11), args.neurons, args.seconds)
        rate, t_start = RATE, T_START
    print(f"{args.neurons} neurons, {args.seconds:g} s, "
          f"{sum(s.size for s in spikes)} spikes, penalty {args.penalty}, "
          f"alpha {args.alpha:g}, tol {args.tol:g}, load average "
          f"{' '.join(f'{x:.1f}' for x in os.getloadavg())}")
    fits = [(str(m), run_octave(octave, m, spikes, stim, rate, t_start, args))
            for m in modules]
    model, py_seconds, py_cpu = run_python(spikes, stim, rate, t_start, args, 1)
    _, py2_seconds, py2_cpu = run_python(spikes, stim, rate, t_start, args, 2)

    w_py = model.weights_
    nb = model.basis_.shape[1]
    first = w_py.shape[1] - args.neurons * nb

    def kept(w):
        return sum(int(np.any(w[i, first + j * nb:first + (j + 1) * nb]))
                   for i in range(args.neurons) for j in range(args.neurons) if j != i)

    def iterations(it):
        it = np.asarray(it).ravel().astype(int)
        return f"{it.min()}-{it.max()} ({it.sum()} in all)"

    for name, got in fits:
        seconds, cpu = float(got["seconds"]), float(got["cpu"])
        w_oct = got["weights"].T
        diff = np.max(np.abs(w_oct - w_py)) / np.max(np.abs(w_py))
        print(f"Octave ({name}): {seconds:.2f} s ({cpu:.2f} s CPU), iterations "
              f"{iterations(got['iterations'])}, converged "
              f"{int(got['converged'].sum())}/{args.neurons}, coupling groups kept "
              f"{kept(w_oct)}, weights within {diff:.1e} of Python's (relative to "
              f"the largest); Octave / Python (one thread): "
              f"{seconds / py_seconds:.2f}, CPU time {cpu / py_cpu:.2f}")
    if len(fits) > 1:
        w0 = fits[0][1]["weights"]
        for name, got in fits[1:]:
            diff = np.max(np.abs(got["weights"] - w0)) / np.max(np.abs(w0))
            print(f"weights of {name} against the first: within {diff:.1e} (relative)")
    print(f"Python, n_jobs=1: {py_seconds:.2f} s ({py_cpu:.2f} s CPU), iterations "
          f"{iterations(model.n_iter_)}, converged {int(model.converged_.sum())}/"
          f"{args.neurons}, coupling groups kept {kept(w_py)}")
    print(f"Python, n_jobs=2: {py2_seconds:.2f} s ({py2_cpu:.2f} s CPU)")


if __name__ == "__main__":
    main()
