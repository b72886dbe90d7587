"""spike_bins against what a numpy user would write instead, in one process.

The six workloads of the kernel benchmarks (benchmarks/workloads.h: U1-U3
upsampling, S1-S3 spike sums) run through spike_bins and through numpy/scipy
code computing the same results (each checked to agree within rounding
first); the table gives spike_bins' median time divided by each
alternative's (below 1: spike_bins is faster) and by the floor, numpy.empty
of the result plus one write pass over it. A second table gives the speed-up
of the same calls split over two threads.

    python3 python/benchmark.py [--budget SECONDS]

The upfirdn/convolve/oaconvolve alternatives are those of
benchmarks/host_benchmark_numpy.py (the Octave benchmark's companion);
numpy.interp and numpy.bincount are added here. Every sample starts with one
untimed call, so that each contender is timed in the steady state of
repeated calls (memory already mapped by the call before), not in whatever
state the previous contender left the allocator.
"""
import argparse
import importlib.util
import pathlib
import sys
import threading
import time

import numpy as np

import spike_bins

REPO = pathlib.Path(__file__).resolve().parents[1]
UPSAMPLE = [("U1", 100000, 1, 20.0), ("U2", 20000, 16, 50.0),
            ("U3", 1000, 1, 10.0)]
SPIKES = [("S1", 2000, 1e6, 500, 1, (0.0, 999999.0)),
          ("S2", 50000, 1e6, 200, 10, (0.0, 999999.0)),
          ("S3", 100, 1000, 50, 2, (0.0, 999.0))]
LARGE = ("U1", "U2", "S1", "S2")


def in_cache_calls():
    """Calls whose results fit in the cache, for the thread table: the
    kernels' own work, without the page faults of large fresh results
    (which the threads of one process take in turn)."""
    rng = np.random.default_rng(2)
    x = np.asfortranarray(rng.uniform(-1, 1, (200, 16)))
    spinds = np.sort(rng.uniform(0, 2e4, 100000))
    h = np.asfortranarray(rng.uniform(-1, 1, (400, 8)))
    return [("U2 shape, 200 x 16 (1.3 MB result)",
             lambda: spike_bins.tentfill2(x, 50.0)),
            ("S2 shape, 100000 spikes in 2e4 bins, 400 x 8 taps (1.3 MB)",
             lambda: spike_bins.trainfold(spinds, h, (0.0, 19999.0)))]


def load_companion():
    path = REPO / "benchmarks" / "host_benchmark_numpy.py"
    module_spec = importlib.util.spec_from_file_location("host_benchmark_numpy", path)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


def upsample_interp(x, nbns):
    """numpy.interp per column between the rows where the samples land,
    with a zero one coarse bin before the first and after the last."""
    e = int(nbns)
    g = e // 2
    m, n = x.shape
    landing = np.arange(-1, m + 1) * e + (e - g - 1)
    rows = np.arange(m * e)
    y = np.empty((m * e, n), order="F")
    padded = np.zeros(m + 2)
    for column in range(n):
        padded[1:-1] = x[:, column]
        y[:, column] = np.interp(rows, landing, padded)
    return y


def spike_bincount(spinds, h, twin):
    """numpy.bincount with the taps as weights: every (spike, tap) pair that
    lands in the window adds its tap to its bin."""
    c, k = h.shape
    first, last = int(twin[0]), int(twin[1])
    rows = last - first + 1
    bins = np.trunc(spinds).astype(np.int64)
    bins = bins[(bins >= first - c + 1) & (bins <= last)]
    target = (bins - first)[:, None] + np.arange(c)[None, :]
    keep = (target >= 0) & (target < rows)
    tap = np.broadcast_to(np.arange(c), target.shape)[keep]
    target = target[keep]
    return np.stack([np.bincount(target, weights=h[tap, i], minlength=rows)
                     for i in range(k)], axis=1)


def floor_call(shape):
    def call():
        y = np.empty(shape, order="F")
        y.fill(1.0)
        return y
    return call


def workloads(companion):
    """(name, spike_bins call, [(alternative, call)], result shape)."""
    rng = np.random.default_rng(1)
    for name, m, n, nbns in UPSAMPLE:
        x = np.asfortranarray(rng.uniform(-1, 1, (m, n)))
        yield (name, lambda x=x, nbns=nbns: spike_bins.tentfill2(x, nbns),
               [("scipy.signal.upfirdn",
                 lambda x=x, nbns=nbns: companion.upsample_upfirdn(x, nbns)),
                ("numpy.interp", lambda x=x, nbns=nbns: upsample_interp(x, nbns))],
               (m * int(nbns), n))
    for name, count, spread, c, k, twin in SPIKES:
        spinds = np.sort(rng.uniform(0, spread, count))
        h = np.asfortranarray(rng.uniform(-1, 1, (c, k)))
        args = (spinds, h, twin)
        yield (name, lambda a=args: spike_bins.trainfold(*a),
               [("numpy.convolve", lambda a=args: companion.spike_convolve(*a)),
                ("scipy.signal.oaconvolve",
                 lambda a=args: companion.spike_oaconvolve(*a)),
                ("numpy.bincount", lambda a=args: spike_bincount(*a))],
               (int(twin[1]) - int(twin[0]) + 1, k))


def thread_speedup(call, seconds):
    """Wall time of 2n calls in one thread over that of n calls in each of
    two threads; the median of five interleaved pairs."""
    start = time.perf_counter()
    call()
    once = max(time.perf_counter() - start, 1e-6)
    n = max(1, int(seconds / 10 / once / 2))

    def run(count):
        for _ in range(count):
            call()

    ratios = []
    for _ in range(5):
        start = time.perf_counter()
        run(2 * n)
        serial = time.perf_counter() - start
        threads = [threading.Thread(target=run, args=(n,)) for _ in range(2)]
        start = time.perf_counter()
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        ratios.append(serial / (time.perf_counter() - start))
    return float(np.median(ratios))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--budget", type=float, default=8.0,
                        help="seconds of sampling per workload (default 8)")
    options = parser.parse_args(argv)
    companion = load_companion()
    print("| workload | spike_bins | / floor (empty + 1 write) | "
          "/ alternatives (below 1: spike_bins faster) |")
    print("| --- | ---: | ---: | --- |")
    speedups = []
    all_faster, floors_met = True, True
    for name, ours, alternatives, shape in workloads(companion):
        reference = ours()
        for label, call in alternatives:
            if not np.allclose(call(), reference, rtol=1e-9, atol=1e-12):
                raise SystemExit(f"{name}: {label} disagrees with spike_bins")
        calls = [ours, floor_call(shape)] + [c for _, c in alternatives]
        medians = companion.time_interleaved(calls, options.budget, 5e-3,
                                              warm_call=True)
        ratios = [medians[0] / m for m in medians[1:]]
        all_faster = all_faster and all(r < 1 for r in ratios[1:])
        if name in LARGE:
            floors_met = floors_met and ratios[0] <= 1.25
        versus = ", ".join(f"{label} {r:.3f}" for (label, _), r in
                           zip(alternatives, ratios[1:]))
        print(f"| {name} | {medians[0] * 1e3:.3f} ms | {ratios[0]:.2f} | "
              f"{versus} |", flush=True)
        speedups.append((name, thread_speedup(ours, options.budget)))
    for name, call in in_cache_calls():
        speedups.append((name, thread_speedup(call, options.budget)))
    print()
    print("| workload | two threads / one (speed-up) |")
    print("| --- | ---: |")
    for name, speedup in speedups:
        print(f"| {name} | {speedup:.2f} |")
    print()
    print("faster than every alternative on all six:",
          "yes" if all_faster else "no")
    print("within 1.25x of the floor on", "/".join(LARGE) + ":",
          "yes" if floors_met else "no")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
