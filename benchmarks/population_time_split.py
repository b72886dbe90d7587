#!/usr/bin/env python3
"""glm.PopulationGLM on a two-worker LocalCluster: the recording split over
time (split='time') against one task per neuron (split='neurons').

    python3 benchmarks/population_time_split.py [--neurons 200] [--seconds 600]
                                                [--targets 4]

Simulates a population (fixed seed) and fits the first --targets neurons,
each coupled to all --neurons sources, on a fresh LocalCluster(n_workers=2,
threads_per_worker=1, processes=True) per mode, and for comparison in this
process with the same blocks. Prints the fit times, each worker's resident
size before the fit and its peak during it (Linux: VmHWM, reset through
/proc/self/clear_refs before the fit) and
whether the time-split parameters equal the serial blocked fit's bit for
bit. Not a test: the figures depend on the machine and its load.
"""
import argparse
import os
import time

import numpy as np
from dask.distributed import Client, LocalCluster

from spike_bins import _distributed as D
from spike_bins import _legacy
from spike_bins import glm


def _status_mb(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    return float("nan")


def reset_peak_mb():
    """This process's resident size, its peak (VmHWM) reset to it."""
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    return _status_mb("VmRSS")


def peak_mb():
    return _status_mb("VmHWM")


def fit(model, data, targets, client=None, split=None):
    start = time.perf_counter()
    results = D._fit_all(data, None, 0.0, model.tol, int(model.max_iter), None, client,
                         False, split, targets)
    return np.array([r.theta for r in results]), time.perf_counter() - start, results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--neurons", type=int, default=200)
    parser.add_argument("--seconds", type=float, default=600)
    parser.add_argument("--targets", type=int, default=4)
    args = parser.parse_args()
    print(f"load average at the start: {os.getloadavg()[0]:.2f}")
    start = time.perf_counter()
    pop, _ = _legacy._simulate(nneurons=args.neurons, nbins=int(args.seconds * 1000),
                               seed=0)
    print(f"simulated {args.neurons} neurons x {args.seconds:g} s in "
          f"{time.perf_counter() - start:.0f} s")
    model = glm.PopulationGLM()
    data, _ = model._data([(s + 0.5) * 0.001 for s in pop.spikes], pop.nbins / 1000,
                          pop.stimulus, 100.0, 0.0)
    targets = list(range(args.targets))
    print(f"{data.nbins} bins, {data.spikes.size} spikes, {data.nparams} parameters "
          f"per neuron; fitting neurons {targets}")
    edges = D._time_edges(data.nbins, 2, None, 0.001, 2)
    serial, seconds, _ = fit(model, data, targets, split=D._TimeSplit(data, edges, None))
    print(f"this process, 2 time blocks         {seconds:7.1f} s")
    for mode in ("neurons", "time"):
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=":0") as cluster, Client(cluster) as client:
            client.run(lambda: __import__("spike_bins.glm"))
            before = client.run(reset_peak_mb)
            split = D._TimeSplit(data, edges, client) if mode == "time" else None
            weights, seconds, results = fit(model, data, targets, client, split)
            after = client.run(peak_mb)
            del split
        peaks = ", ".join(f"{before[w]:.0f} -> {after[w]:.0f} MB" for w in sorted(after))
        line = f"2 workers, split='{mode}'"
        print(f"{line:35s} {seconds:7.1f} s, worker peak RSS {peaks}, "
              f"{sum(r.n_iter for r in results)} iterations, converged "
              f"{all(r.converged for r in results)}")
        if mode == "time":
            same = np.array_equal(weights.view(np.uint64), serial.view(np.uint64))
            print(f"  time split == serial blocked fit, bit for bit: {same}")
        else:
            print(f"  largest difference from the blocked fit: "
                  f"{np.max(np.abs(weights - serial)):.1e}")
    print(f"load average at the end: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
