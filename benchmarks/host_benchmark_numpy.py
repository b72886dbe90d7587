"""numpy/scipy companion of host_benchmark.m.

Times numpy/scipy code that computes the results of tentfill2 and
trainfold_mex on the same workloads (same shapes, its own random data) and
prints one line per contender: "<workload> <contender> <median seconds>".
host_benchmark.m runs it and divides by the modules' medians of the same run.
Each contender is sampled in interleaved rounds; a sample runs it often
enough to last at least 2 ms.
"""
import sys
import time

import numpy as np
import scipy.signal
import scipy.sparse

BUDGET_SECONDS = 8.0


def time_interleaved(calls, budget=BUDGET_SECONDS, sample_seconds=2e-3,
                     warm_call=False):
    """Median seconds per call of each call, sampled in interleaved rounds
    that together last about budget seconds. A sample runs the call often
    enough to last sample_seconds; with warm_call, after one untimed call, so
    that every contender is timed with its memory already touched."""
    estimates = []
    for call in calls:
        call()
        start = time.perf_counter()
        call()
        estimates.append(max(time.perf_counter() - start, 1e-7))
    inner = [max(1, int(np.ceil(sample_seconds / e))) for e in estimates]
    round_seconds = sum((n + warm_call) * e for n, e in zip(inner, estimates))
    rounds = min(25, max(5, int(budget / round_seconds)))
    samples = np.zeros((rounds, len(calls)))
    for r in range(rounds):
        for c, call in enumerate(calls):
            if warm_call:
                call()
            start = time.perf_counter()
            for _ in range(inner[c]):
                call()
            samples[r, c] = (time.perf_counter() - start) / inner[c]
    return np.median(samples, axis=0)


# --- upsampling -------------------------------------------------------------

def upsample_upfirdn(x, nbns):
    """Zero-insertion by E and the triangular FIR filter in one call."""
    e = int(nbns)
    g = e // 2
    f = np.concatenate([np.arange(1, e + 1), np.arange(e - 1, 0, -1)]) / nbns
    u = scipy.signal.upfirdn(f, x, up=e, axis=0)
    return u[g:g + x.shape[0] * e]


def upsample_broadcast(x, nbns):
    """The interpolation formula with broadcasting over (gap, k, column)."""
    e = int(nbns)
    g = e // 2
    m, n = x.shape
    h = 1.0 / nbns
    k = np.arange(e, dtype=float)[None, :, None]
    xp = np.vstack([np.zeros((1, n)), x, np.zeros((1, n))])
    before = xp[:-1, None, :]
    after = xp[1:, None, :]
    if n == 1:
        a = ((e - 1 - k) * before + (k + 1) * after) * h
    else:
        a = ((e - 1 - k) * h) * before + ((k + 1) * h) * after
    return a.reshape((m + 1) * e, n)[g:g + m * e]


# --- spike sum --------------------------------------------------------------

def spike_counts(spinds, c, twin):
    """Spike count per bin over bins first-c+1 .. last, and the window size."""
    first, last = int(twin[0]), int(twin[1])
    rows = last - first + 1
    bins = np.trunc(spinds).astype(np.int64)
    bins = bins[(bins >= first - c + 1) & (bins <= last)]
    counts = np.bincount(bins - (first - c + 1), minlength=rows + c - 1)
    return counts.astype(float), rows


def spike_convolve(spinds, h, twin):
    c, k = h.shape
    s, rows = spike_counts(spinds, c, twin)
    return np.stack([np.convolve(s, h[:, i], mode="valid") for i in range(k)],
                    axis=1)


def spike_oaconvolve(spinds, h, twin):
    c = h.shape[0]
    s, rows = spike_counts(spinds, c, twin)
    return scipy.signal.oaconvolve(s[:, None], h, mode="valid", axes=0)


def spike_sparse(spinds, h, twin):
    c = h.shape[0]
    first, last = int(twin[0]), int(twin[1])
    rows = last - first + 1
    bins = np.trunc(spinds).astype(np.int64)
    bins = bins[(bins >= first - c + 1) & (bins <= last)]
    r = (bins - first)[:, None] + np.arange(c)[None, :]
    q = np.broadcast_to(np.arange(c), r.shape)
    keep = (r >= 0) & (r < rows)
    counts = scipy.sparse.csr_matrix(
        (np.ones(np.count_nonzero(keep)), (r[keep], q[keep])), shape=(rows, c))
    return counts @ h


def main():
    rng = np.random.default_rng(1)
    upsample = [("U1", 100000, 1, 20.0), ("U2", 20000, 16, 50.0),
                ("U3", 1000, 1, 10.0)]
    spikes = [("S1", 2000, 1e6, 500, 1, (0.0, 999999.0)),
              ("S2", 50000, 1e6, 200, 10, (0.0, 999999.0)),
              ("S3", 100, 1000, 50, 2, (0.0, 999.0))]
    for name, m, n, nbns in upsample:
        x = rng.uniform(-1, 1, (m, n))
        x = np.asfortranarray(x)
        calls = [("scipy:upfirdn", lambda: upsample_upfirdn(x, nbns)),
                 ("numpy:broadcast", lambda: upsample_broadcast(x, nbns))]
        for (label, _), seconds in zip(calls,
                                       time_interleaved([c for _, c in calls])):
            print(name, label, repr(float(seconds)), flush=True)
    for name, count, spread, c, k, twin in spikes:
        spinds = np.sort(rng.uniform(0, spread, count))
        h = rng.uniform(-1, 1, (c, k))
        calls = [("numpy:convolve", lambda: spike_convolve(spinds, h, twin)),
                 ("scipy:oaconvolve", lambda: spike_oaconvolve(spinds, h, twin)),
                 ("scipy:sparse", lambda: spike_sparse(spinds, h, twin))]
        for (label, _), seconds in zip(calls,
                                       time_interleaved([c for _, c in calls])):
            print(name, label, repr(float(seconds)), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
