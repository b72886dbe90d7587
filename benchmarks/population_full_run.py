#!/usr/bin/env python3
"""A large population fitted to the end on a two-worker dask LocalCluster.

    python3 benchmarks/population_full_run.py [--neurons 200] [--seconds 3600]
        [--split neurons|time] [--workers 2] [--threads 1] [--compare]
        [--targets K] [--seed 0]

Simulates a coupled population with glm.draw_spikes (1 ms bins; rates 2 to
20 Hz, refractory spike histories, sparse coupling among a few dozen pairs,
three sparse units of a handful of spikes and one silent unit), its spike
times on a 30 kHz sample clock from a t_start far from 0, and fits every
neuron with glm.PopulationGLM (100 taps, 5 raised cosines, coupling to all
sources, min_spikes=50) on the first 90 % of the recording, on a
LocalCluster of --workers processes with --threads threads each. Prints
the fit's wall time, the time per neuron, each worker's peak resident size
(VmHWM: a fresh worker's whole life, so the fit's peak) and this
process's, the iterations, the neurons converged, and the
held-out score (bits per spike against the homogeneous rate, the last
10 %) per neuron and pooled over the population.

The recording reaches each worker once (PopulationGLM sends it through a
worker plugin, or scatters its time blocks); nothing builds a T x N array:
the simulation draws in blocks of bins, the fit runs lockstep batches of
neurons and the score one neuron at a time.

--compare: fit the same recording with split='neurons' and split='time'
on fresh clusters and print both times (choose the faster for the full
run). --targets K: no cluster; fit only the first K neurons in this
process on one thread (every neuron coupled to all --neurons sources) and
print the wall and CPU time per neuron, for how the cost grows with N.
Not a test: the figures depend on the machine and its load (printed).
"""
import argparse
import math
import os
import resource
import time

import numpy as np

from spike_bins import glm

TAPS, NBASIS = 100, 5
BIN = 0.001
CLOCK = 30_000  # samples per second of the acquisition clock
T0_SAMPLE = 150_753_127  # t_start = 5025.104 s on the clock
MIN_SPIKES = 50
SPARSE, SILENT = (3, 4, 5), 6  # units with a handful of spikes, a silent unit
PAIRS_PER_100 = 20  # coupled pairs per 100 neurons


def stamp():
    return (f"{time.strftime('%H:%M:%S', time.gmtime())} UTC, load average "
            + " ".join(f"{x:.2f}" for x in os.getloadavg()))


def true_model(n, rng):
    """bias (N,) in log spikes per bin, filters (TAPS, N sources, N targets)."""
    basis = glm.raised_cosine_basis(TAPS, NBASIS)
    hz = np.exp(rng.uniform(math.log(2.0), math.log(20.0), n))
    hz[list(s for s in SPARSE if s < n)] = 20.0 / 3600  # about 20 spikes an hour
    bias = np.log(hz * BIN) + 0.3  # the refractory history takes some rate back
    if SILENT < n:
        bias[SILENT] = -40.0  # exp(-40) per bin: never fires
    filters = np.zeros((TAPS, n, n))
    history = np.array([-2.0, -1.0, -0.3, 0.1, 0.0])
    for i in range(n):
        filters[:, i, i] = basis @ (history + rng.normal(0.0, 0.1, NBASIS))
    npairs = max(1, n * PAIRS_PER_100 // 100)
    src = rng.integers(0, n, npairs)
    tgt = (src + rng.integers(1, n, npairs)) % n  # never j = i
    for j, i in zip(src, tgt):
        w = np.zeros(NBASIS)
        w[1:4] = rng.choice([-1.0, 1.0]) * rng.uniform(0.3, 0.8) * np.array(
            [0.5, 1.0, 0.5])
        filters[:, j, i] += basis @ w
    return bias, filters, npairs


def on_clock(bins):
    """Spike times (seconds) on the 30 kHz clock of the ascending bins (a bin
    listed once per spike): the k spikes of bin b at distinct samples
    within it, each binning back to b."""
    if bins.size == 0:
        return np.zeros(0)
    first = np.r_[True, bins[1:] != bins[:-1]]
    starts = np.flatnonzero(first)
    k = np.diff(np.r_[starts, bins.size])
    group = np.cumsum(first) - 1
    j = np.arange(bins.size) - starts[group]
    per_bin = round(CLOCK * BIN)
    sample = T0_SAMPLE + bins * per_bin + ((j + 0.5) * per_bin // k[group]).astype(
        np.int64)
    return sample / CLOCK


def recording(n, seconds, seed):
    """(spike times per neuron, duration, t_start, coupled pairs)."""
    rng = np.random.default_rng(seed)
    bias, filters, npairs = true_model(n, rng)
    nbins = int(seconds / BIN + 1e-6)
    bins, owners = glm.draw_spikes(nbins, bias, None, 0, filters, rng)
    order = np.argsort(owners, kind="stable")  # bins stay ascending per neuron
    cuts = np.cumsum(np.bincount(owners, minlength=n))[:-1]
    spikes = [on_clock(b) for b in np.split(bins[order], cuts)]
    return spikes, nbins * BIN, T0_SAMPLE / CLOCK, npairs


def model(verbose):
    return glm.PopulationGLM(bin_size=BIN, history_taps=TAPS, n_basis=NBASIS,
                             coupling=True, min_spikes=MIN_SPIKES, verbose=verbose)


def peak_mib():
    """This process's peak resident size. VmHWM, not getrusage's ru_maxrss:
    a worker process is forked from this one and exec'd, and Linux carries
    the RSS it had at the fork into the child's ru_maxrss."""
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024  # Linux: KiB


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def cluster_fit(rec, fit_bins, split, workers, threads, verbose):
    """(fitted model, wall seconds, peak MiB per worker, CPU seconds of the
    workers during the fit)."""
    import warnings
    from dask.distributed import Client, LocalCluster
    spikes, duration, t_start, _ = rec
    est = model(verbose)
    with LocalCluster(n_workers=workers, threads_per_worker=threads, processes=True,
                      dashboard_address=":0") as cluster, Client(cluster) as client:
        client.run(lambda: __import__("spike_bins.glm"))  # workers up first
        cpu = sum(client.run(cpu_seconds).values())
        start = time.perf_counter()
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            est.fit(spikes, duration, t_start=t_start, fit_bins=fit_bins,
                    client=client, split=split)
        wall = time.perf_counter() - start
        cpu = sum(client.run(cpu_seconds).values()) - cpu
        peaks = client.run(peak_mib)
    for w in caught:
        print(f"  warning: {str(w.message)[:300]}")
    return est, wall, [peaks[w] for w in sorted(peaks)], cpu


def held_out(est, rec, fit_bins):
    """(bits per spike per neuron, pooled bits per spike, held-out spikes)."""
    spikes, duration, t_start, _ = rec
    ll = est.log_likelihood(spikes, duration, t_start=t_start, bins=~fit_bins)
    score = est.score(spikes, duration, t_start=t_start, bins=~fit_bins)
    first = int(fit_bins.sum())  # the first held-out bin
    held = np.array([np.count_nonzero(np.floor((s - t_start) / BIN + 1e-6) >= first)
                     for s in spikes])
    null = (ll - score * held * math.log(2))  # per neuron LL_null
    ok = held > 0
    pooled = (ll[ok].sum() - null[ok].sum()) / (held[ok].sum() * math.log(2))
    return score, pooled, held


def describe(rec):
    spikes, duration, t_start, npairs = rec
    counts = np.array([s.size for s in spikes])
    hz = counts / duration
    active = counts >= MIN_SPIKES
    print(f"{len(spikes)} neurons x {duration:g} s from t_start {t_start:.6f} s "
          f"(30 kHz clock): {counts.sum()} spikes, rates {hz[active].min():.1f} to "
          f"{hz[active].max():.1f} Hz, {npairs} coupled pairs, units under "
          f"min_spikes={MIN_SPIKES}: {np.flatnonzero(~active).tolist()} "
          f"(spikes {counts[~active].tolist()})", flush=True)


def full(args, rec, fit_bins):
    n = len(rec[0])
    print(f"fit: split='{args.split}', {args.workers} workers x {args.threads} "
          f"thread(s); {stamp()}", flush=True)
    est, wall, peaks, cpu = cluster_fit(rec, fit_bins, args.split, args.workers,
                                        args.threads, True)
    print(f"fit done; {stamp()}")
    score, pooled, held = held_out(est, rec, fit_bins)
    fitted = np.array([s.size for s in rec[0]]) >= MIN_SPIKES
    ok = fitted & (held > 0)
    print(f"fit wall time            {wall:.0f} s ({wall / 60:.1f} min)")
    print(f"time per neuron          {wall / n:.2f} s wall, {wall * args.workers / n:.2f}"
          f" s of a worker, {cpu / n:.2f} s CPU (the workers' CPU time over N)")
    print("peak RSS per worker      " + ", ".join(f"{p:.0f} MiB" for p in peaks))
    print(f"peak RSS of this process {peak_mib():.0f} MiB")
    print(f"iterations               {int(est.n_iter_.sum())} "
          f"({est.n_iter_[fitted].mean():.1f} per fitted neuron)")
    print(f"converged                {int(est.converged_[fitted].sum())} of "
          f"{int(fitted.sum())} fitted neurons ({n - int(fitted.sum())} not fitted: "
          f"under min_spikes)")
    print(f"held-out bits per spike  pooled {pooled:.4f}; per neuron median "
          f"{np.median(score[ok]):.4f}, range {score[ok].min():.4f} to "
          f"{score[ok].max():.4f} ({int(held[ok].sum())} held-out spikes)")


def compare(args, rec, fit_bins):
    times = {}
    for split in ("neurons", "time"):
        est, wall, peaks, _ = cluster_fit(rec, fit_bins, split, args.workers,
                                          args.threads, False)
        times[split] = wall
        print(f"split='{split}':{'' if split == 'time' else ' '} {wall:7.1f} s, "
              f"{int(est.n_iter_.sum())} iterations, peak RSS per worker "
              + ", ".join(f"{p:.0f} MiB" for p in peaks) + f"; {stamp()}", flush=True)
    print(f"time / neurons: {times['time'] / times['neurons']:.2f}")


def targets(args, rec, fit_bins):
    from spike_bins import _distributed
    spikes, duration, t_start, _ = rec
    est = model(False)
    data, _ = est._data(spikes, duration, None, None, t_start, fit_bins=fit_bins)
    chosen = [i for i in range(len(spikes)) if spikes[i].size >= MIN_SPIKES][
        :args.targets]
    wall, cpu = time.perf_counter(), time.process_time()
    results = _distributed._fit_all(data, None, 0.0, est.tol, int(est.max_iter), None,
                                    None, False, targets=chosen, n_jobs=1)
    wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
    iters = sum(r.n_iter for r in results)
    print(f"{len(spikes)} neurons, targets {chosen}: {wall / len(chosen):.2f} s wall, "
          f"{cpu / len(chosen):.2f} s CPU, {iters / len(chosen):.1f} iterations per "
          f"neuron ({cpu / iters * 1000:.0f} ms CPU per iteration); all converged "
          f"{all(r.converged for r in results)}; {stamp()}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--neurons", type=int, default=200)
    parser.add_argument("--seconds", type=float, default=3600)
    parser.add_argument("--split", choices=("neurons", "time"), default="neurons")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--compare", action="store_true")
    parser.add_argument("--targets", type=int, default=None)
    parser.add_argument("--seed", type=int, default=0)
    args = parser.parse_args()
    print(f"start; {stamp()}", flush=True)
    start = time.perf_counter()
    rec = recording(args.neurons, args.seconds, args.seed)
    print(f"simulated in {time.perf_counter() - start:.0f} s; {stamp()}")
    describe(rec)
    nbins = int(args.seconds / BIN + 1e-6)
    fit_bins = np.arange(nbins) < round(0.9 * nbins)  # the last 10 % held out
    if args.targets:
        targets(args, rec, fit_bins)
    elif args.compare:
        compare(args, rec, fit_bins)
    else:
        full(args, rec, fit_bins)
    print(f"end; {stamp()}")


if __name__ == "__main__":
    main()
