#!/usr/bin/env python3
"""glm.PopulationGLM: how the worked fit's time grows with the neurons, on one
thread and on several, where the time of one fit goes, and one evaluation
against a floor of passes over T.

    python3 benchmarks/population_scaling.py [--neurons 10 20 40 80]
        [--seconds 300] [--n-jobs 1 2] [--repeats 2] [--profile]
        [--evaluation] [--eval-neurons 20] [--eval-seconds 3600]

Fits the worked example's simulated population (seed 0, 100 taps, 5 raised
cosines, one stimulus channel of 5 lags) of each size over --seconds of
1 ms bins, --repeats times per thread count; prints the least wall time,
the process CPU time of that run (all threads), the iterations and the
ratio to the previous size. Thread counts are skipped when the package has
no n_jobs (an older build, for before/after runs through PYTHONPATH).
--profile: cProfile of one single-thread fit of the largest size, its time
grouped by what it does. --evaluation: neuron 0's objective and gradient at
the true parameters at --eval-neurons x --eval-seconds, least of 7, against
three streaming passes over T (np.exp(x, out=y); y -= x; np.sum(y)) and the
two population kernels alone; and the time per neuron of one evaluation of
the first 8 neurons in one lockstep batch.
Not a test: the figures depend on the machine and its load (printed).
"""
import argparse
import cProfile
import os
import pstats
import sys
import time
import warnings

import numpy as np

import spike_bins as sb
try:
    from spike_bins import _objective
except ImportError:  # a build from before the package's modules were split
    from spike_bins import _population as _objective
from spike_bins import glm

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                "examples"))
import population_fit as worked  # noqa: E402  (the worked example's simulation)


def load():
    return "load average " + " ".join(f"{x:.2f}" for x in os.getloadavg())


def population(neurons, seconds):
    """The worked example's population (seed 0): (spikes in all, neuron 0's
    true parameters as a row of weights_, fit arguments, model shape). A
    build without glm.draw_spikes (older than the estimator's simulation)
    draws the same spikes with its glm.simulate."""
    shape = {"history_taps": worked.TAPS, "n_basis": worked.NBASIS,
             "stimulus_lags": worked.LAGS}
    if hasattr(glm, "draw_spikes"):
        sim = worked.simulate(neurons, seconds, 0)
        nspikes = sum(s.size for s in sim["spikes"])
        return nspikes, sim["truth"]["weights"][0], worked.recording(sim), shape
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        pop, truth = glm.simulate(nneurons=neurons, nbins=int(seconds * 1000), seed=0)
    args = {"spike_times": [(s + 0.5) * 0.001 for s in pop.spikes],
            "duration": pop.nbins / 1000, "stimulus": pop.stimulus,
            "stimulus_rate": 1000 / pop.nbns}
    return sum(s.size for s in pop.spikes), truth[0], args, shape


def fit_once(args, shape, n_jobs):
    params = dict(shape)
    if n_jobs is not None:
        params["n_jobs"] = n_jobs
    model = glm.PopulationGLM(**params)
    wall, cpu = time.perf_counter(), time.process_time()
    model.fit(**args)
    return (time.perf_counter() - wall, time.process_time() - cpu,
            int(model.n_iter_.sum()), model.weights_)


def scaling(opts):
    threaded = "n_jobs" in glm.PopulationGLM().get_params()
    jobs = opts.n_jobs if threaded else [None]
    print(f"fits over {opts.seconds:g} s; least wall time of {opts.repeats}; "
          f"{load()}")
    print("neurons  spikes  threads  wall s  CPU s  iterations  wall / previous")
    previous, weights = {}, {}
    for n in opts.neurons:
        nspikes, _, args, shape = population(n, opts.seconds)
        for j in jobs:
            runs = [fit_once(args, shape, j) for _ in range(opts.repeats)]
            wall, cpu, iters, w = min(runs, key=lambda r: r[0])
            ratio = f"{wall / previous[j]:.2f}" if j in previous else ""
            previous[j] = wall
            same = ""
            if n in weights:
                same = ("  same bits" if np.array_equal(weights[n], w)
                        else "  BITS DIFFER")
            weights.setdefault(n, w)
            print(f"{n:7d}  {nspikes:6d}  "
                  f"{j if j is not None else '-':>7}  {wall:6.1f}  {cpu:5.1f}  "
                  f"{iters:10d}  {ratio:>15}{same}", flush=True)
    print(load())


CATEGORIES = [  # (label, predicate on (file, function name)), first match wins
    ("trainfold_pop_adjoint (adjoint kernel)", lambda f, n: "trainfold_pop_adjoint" in n),
    ("trainfold_pop (forward kernel)", lambda f, n: "trainfold_pop" in n),
    ("tentfill2 and its adjoint (stimulus)", lambda f, n: "tentfill2" in n),
    ("start Hessian", lambda f, n: n == "_start_hessian"),
    ("Cholesky factor and triangular solves",
     lambda f, n: "_decomp_cholesky" in f or "solve_triangular" in n
     or "asarray_chkfinite" in n or "_asarray_validated" in n),
    ("scipy L-BFGS-B", lambda f, n: "_lbfgsb" in f or "optimize" in f),
    ("numpy (exp, sums, products over T and small arrays)",
     lambda f, n: "numpy" in f or n.startswith("{method") or "numpy" in n),
]


def profile(opts):
    n = max(opts.neurons)
    _, _, args, shape = population(n, opts.seconds)
    print(f"profile of one single-thread fit, {n} neurons x {opts.seconds:g} s; "
          f"{load()}")
    prof = cProfile.Profile()
    prof.enable()
    fit_once(args, shape, 1 if "n_jobs" in glm.PopulationGLM().get_params() else None)
    prof.disable()
    stats = pstats.Stats(prof).stats
    totals = {label: 0.0 for label, _ in CATEGORIES}
    totals["Python (the package's own code)"] = 0.0
    calls = {}
    whole = 0.0
    for (file, _, name), (_, ncalls, tottime, _, _) in stats.items():
        whole += tottime
        label = next((lab for lab, match in CATEGORIES if match(file, name)),
                     "Python (the package's own code)")
        totals[label] += tottime
        if "trainfold_pop" in name and name.startswith("<built-in"):
            calls[name] = ncalls
    for label, seconds in sorted(totals.items(), key=lambda kv: -kv[1]):
        print(f"  {seconds:7.2f} s  {100 * seconds / whole:5.1f} %  {label}")
    print(f"  {whole:7.2f} s  total (under the profiler); kernel calls: "
          + ", ".join(f"{k.strip('<>').split('.')[-1]} {v}" for k, v in calls.items()))
    print(load())


def evaluation(opts):
    _, theta, args, shape = population(opts.eval_neurons, opts.eval_seconds)
    model = glm.PopulationGLM(**shape)
    data, _ = model._data(args["spike_times"], args["duration"], args["stimulus"],
                          args["stimulus_rate"], 0.0)
    theta = theta.copy()
    x = np.random.default_rng(0).standard_normal(data.nbins) * 0.1 - 4.0
    y = np.empty_like(x)
    w = theta[1 + data.nstim:].reshape(-1, data.basis.shape[1])
    h = np.asfortranarray(data.basis @ w.T)
    out = np.zeros((data.nbins, 1), order="F")
    window = (0, data.nbins - 1)

    def floor():
        np.exp(x, out=y)
        np.subtract(y, x, out=y)
        np.sum(y)

    def kernels():
        sb.trainfold_pop(data.spikes, data.ids, h, window, data.nneurons, out=out)
        sb.trainfold_pop_adjoint(data.spikes, data.ids, y, window, h.shape[0],
                                 data.nneurons)

    runs = {"evaluation": lambda: _objective._nll(theta, data, 0, None, data.nbins),
            "floor: 3 passes over T": floor, "the two kernels alone": kernels}
    if "n_jobs" in glm.PopulationGLM().get_params():
        from spike_bins import _distributed
        halves = _distributed._TimeSplit(data, [0, data.nbins // 2, data.nbins], None,
                                         n_jobs=2).objective(data, 0, None, data.nbins)
        runs["evaluation in 2 time pieces on 2 threads"] = lambda: halves(theta)
    try:
        from spike_bins import _lockstep
    except ImportError:  # a build from before the lockstep batches
        _lockstep = None
    if _lockstep is not None:
        width = min(8, data.nneurons)
        items = [(i, theta.copy()) for i in range(width)]  # neuron 0's weights for each
        buffer = np.empty((width, data.nbins))
        runs[f"evaluation per neuron, {width} in one lockstep batch"] = (
            lambda: _lockstep.batch_nll(data, items, None, data.nbins, buffer),
            width)
    best = {k: float("inf") for k in runs}
    for _ in range(7):
        for k, fn in runs.items():
            fn, share = fn if isinstance(fn, tuple) else (fn, 1)
            start = time.perf_counter()
            fn()
            best[k] = min(best[k], (time.perf_counter() - start) / share)
    print(f"one evaluation, {opts.eval_neurons} neurons x {opts.eval_seconds:g} s "
          f"(T = {data.nbins}, {data.spikes.size} spikes), least of 7; {load()}")
    for k, s in best.items():
        print(f"  {1000 * s:8.2f} ms  {k}")
    for k in best:
        if k.startswith("evaluation"):
            print(f"  {k} / floor {best[k] / best['floor: 3 passes over T']:.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--neurons", type=int, nargs="+", default=[10, 20, 40, 80])
    parser.add_argument("--seconds", type=float, default=300)
    parser.add_argument("--n-jobs", type=int, nargs="+", default=[1, 2])
    parser.add_argument("--repeats", type=int, default=2)
    parser.add_argument("--profile", action="store_true")
    parser.add_argument("--evaluation", action="store_true")
    parser.add_argument("--eval-neurons", type=int, default=20)
    parser.add_argument("--eval-seconds", type=float, default=3600)
    parser.add_argument("--no-scaling", action="store_true")
    opts = parser.parse_args()
    if not opts.no_scaling:
        scaling(opts)
    if opts.profile:
        profile(opts)
    if opts.evaluation:
        evaluation(opts)


if __name__ == "__main__":
    main()
