"""spike_bins against what a numpy user would write instead, in one process.

The six workloads of the kernel benchmarks (benchmarks/workloads.h: U1-U3
upsampling, S1-S3 spike sums) run through spike_bins and through numpy/scipy
code computing the same results (each checked to agree within rounding
first); the table gives spike_bins' median time divided by each
alternative's (below 1: spike_bins is faster) and by the floor, numpy.empty
of the result plus one write pass over it. A second table gives the speed-up
of the same calls split over two threads.

    python3 python/benchmark.py [--budget SECONDS]
    python3 python/benchmark.py --adjoint [--scale S] [--budget SECONDS]

With --adjoint it times the adjoints in the setting of a Poisson GLM fit
instead (adjoint_main below): the gradient with respect to the coupling
filters of 10 neurons (100 taps each) from their spike trains and a residual
r, by trainfold_adjoint, by X.T @ r with the design matrix X already built,
and by numpy.correlate of binned counts; and the memory the forward +
adjoint pair needs.

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


# The GLM setting: 3.6 M bins of 1 ms, 10 neurons of 7000 spikes each
# (70,000 spikes), a coupling filter of 100 taps per neuron. The design
# matrix X holds one column per (neuron, tap): 3.6 M x 1000 doubles, 29 GB.
GLM_BINS = 3_600_000
GLM_NEURONS = 10
GLM_SPIKES_PER_NEURON = 7000
GLM_TAPS = 100


def glm_problem(bins, rng):
    """Spike trains (same density as the full problem) over bins 0 .. bins-1
    and a residual r of one column."""
    count = max(1, round(GLM_SPIKES_PER_NEURON * bins / GLM_BINS))
    trains = [np.sort(rng.uniform(0, bins, count)) for _ in range(GLM_NEURONS)]
    r = np.asfortranarray(rng.standard_normal((bins, 1)))
    return trains, r, (0.0, float(bins - 1))


def binned_counts(spinds, bins, taps):
    """Spike counts of bins -taps+1 .. bins-1 (what a spike in bin B puts
    into the window through its taps)."""
    counts = np.zeros(bins + taps - 1)
    np.add.at(counts, spinds.astype(np.int64) + taps - 1, 1.0)
    return counts


def design_matrix(trains, bins, taps):
    """X (bins x neurons * taps, Fortran order): column (k, q) holds the
    count of neuron k's spikes in bin t - q."""
    x = np.empty((bins, len(trains) * taps), order="F")
    for k, spinds in enumerate(trains):
        counts = binned_counts(spinds, bins, taps)
        for q in range(taps):
            x[:, k * taps + q] = counts[taps - 1 - q:taps - 1 - q + bins]
    return x


def adjoint_by_kernel(trains, r, twin):
    return np.concatenate([spike_bins.trainfold_adjoint(s, r, twin, GLM_TAPS)
                           for s in trains])


def adjoint_by_correlate(trains, r, bins):
    out = []
    for spinds in trains:
        counts = binned_counts(spinds, bins, GLM_TAPS)
        out.append(np.correlate(counts, r[:, 0], "valid")[::-1, None])
    return np.concatenate(out)


def pair_peak_rss(bins):
    """Peak resident size (kB) of a fresh process before and after the
    forward + adjoint pair at bins bins, one neuron: its drive
    eta = trainfold(...), the residual r = -exp(eta) in place,
    g = trainfold_adjoint(...); and r's and g's sizes."""
    import subprocess
    code = f"""
import numpy as np, spike_bins
def peak():
    with open('/proc/self/status') as f:
        return int([l for l in f if l.startswith('VmHWM')][0].split()[1])
rng = np.random.default_rng(3)
spinds = np.sort(rng.uniform(0, {bins}, {GLM_SPIKES_PER_NEURON}))
h = np.asfortranarray(rng.standard_normal(({GLM_TAPS}, 1)) * 0.01)
twin = (0.0, {bins - 1}.0)
before = peak()
r = spike_bins.trainfold(spinds, h, twin)
np.exp(r, out=r)
np.negative(r, out=r)
g = spike_bins.trainfold_adjoint(spinds, r, twin, {GLM_TAPS})
print(before, peak(), r.nbytes // 1024, g.nbytes)
"""
    out = subprocess.run([sys.executable, "-c", code], check=True,
                         capture_output=True, text=True).stdout.split()
    return [int(v) for v in out]


def adjoint_main(options, companion):
    rng = np.random.default_rng(5)
    bins = int(GLM_BINS * options.scale)
    trains, r, twin = glm_problem(bins, rng)
    x = design_matrix(trains, bins, GLM_TAPS)
    ours = adjoint_by_kernel(trains, r, twin)
    for label, other in (("X.T @ r", x.T @ r),
                         ("numpy.correlate", adjoint_by_correlate(trains, r, bins))):
        if not np.allclose(other, ours, rtol=1e-9, atol=1e-9):
            raise SystemExit(f"{label} disagrees with trainfold_adjoint")
    calls = [lambda: adjoint_by_kernel(trains, r, twin), lambda: x.T @ r,
             lambda: adjoint_by_correlate(trains, r, bins)]
    medians = companion.time_interleaved(calls, options.budget, 5e-3)
    print(f"GLM gradient, {GLM_NEURONS} neurons x {GLM_TAPS} taps, "
          f"{sum(t.size for t in trains)} spikes, {bins} bins "
          f"(scale {options.scale:g} of {GLM_BINS}; X {x.nbytes / 1e9:.2f} GB)")
    print("| contender | median | / trainfold_adjoint |")
    print("| --- | ---: | ---: |")
    for label, median in zip(("trainfold_adjoint (10 calls)", "X.T @ r (X built)",
                              "numpy.correlate of binned counts"), medians):
        print(f"| {label} | {median * 1e3:.3f} ms | {median / medians[0]:.1f} |")
    del x
    full_trains, full_r, full_twin = glm_problem(GLM_BINS, rng)
    full = companion.time_interleaved(
        [lambda: adjoint_by_kernel(full_trains, full_r, full_twin)],
        options.budget / 4, 5e-3)[0]
    print(f"trainfold_adjoint at the full {GLM_BINS} bins: {full * 1e3:.3f} ms; "
          f"X.T @ r scaled by bins: {medians[1] / options.scale * 1e3:.1f} ms "
          f"({medians[1] / options.scale / full:.0f}x)")
    before, after, r_kb, g_bytes = pair_peak_rss(GLM_BINS)
    print(f"forward + adjoint pair at {GLM_BINS} bins, one neuron: peak RSS "
          f"{before} kB before, {after} kB after (+{after - before} kB); "
          f"r is {r_kb} kB, g {g_bytes} bytes")
    return 0


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--budget", type=float, default=8.0,
                        help="seconds of sampling per workload (default 8)")
    parser.add_argument("--adjoint", action="store_true",
                        help="the adjoints in a GLM fit instead")
    parser.add_argument("--scale", type=float, default=0.2,
                        help="--adjoint: share of the 3.6 M bins at which X "
                        "is built (default 0.2: X of 5.8 GB)")
    options = parser.parse_args(argv)
    if options.adjoint:
        return adjoint_main(options, load_companion())
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
