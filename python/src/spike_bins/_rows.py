"""Row ranges of tentfill2 and trainfold computed from only the samples or
spikes that reach them, bit for bit equal to the same rows of the whole call.

A row of tentfill2 depends only on the two samples whose landing rows enclose
it (or on the first or last sample, in the ramps), with the arithmetic form
chosen by the column count; a sub-call on the samples around a row range, with
all columns, therefore gives those rows exactly. A bin of trainfold is the sum,
in list order, of the taps that the spikes with bins in [bin - c + 1, bin] put
there; a sub-call on those spikes, in the same order, gives the same sum.
"""
import math

import numpy as np

import spike_bins as _sb


def tentfill2_rows(x, nbns, start, stop):
    """Rows start .. stop - 1 of tentfill2(x, nbns), x a 2-D float64 array.

    Uses only the samples whose landing rows lie within one coarse bin of the
    range (at most (stop - start) / E + 3 of them).
    """
    e = int(math.trunc(nbns))
    m = x.shape[0]
    if stop <= start:
        return np.zeros((0, x.shape[1]), order="F")
    first = max(0, start // e - 1)
    last = min(m - 1, (stop - 1) // e + 1)
    part = _sb.tentfill2(x[first:last + 1], nbns)
    offset = first * e
    return part[start - offset:stop - offset]


def taken_spikes(spinds, ntaps, t0, t1):
    """The spikes the in-memory trainfold scan adds for a window t0 .. t1
    (truncated bins) with filters of ntaps taps: the prefix before the first
    NaN or the first spike at or past bin t1 + 1, less the spikes whose taps
    cannot reach the window. Returns (times, bins) in list order."""
    bins = np.trunc(spinds)
    stop = np.flatnonzero(np.isnan(spinds) | (bins >= t1 + 1))
    end = int(stop[0]) if stop.size else spinds.size
    times, bins = spinds[:end], bins[:end]
    keep = bins >= t0 - ntaps + 1
    if keep.all():
        return times, bins
    return times[keep], bins[keep]


def spikes_reaching(times, bins, ntaps, start, stop, ascending):
    """The spikes among (times, bins) whose taps land in bins start .. stop,
    in list order: a slice found by binary search when the bins ascend, a
    mask over the list otherwise."""
    low = start - ntaps + 1
    if ascending:
        a = int(np.searchsorted(bins, low, side="left"))
        b = int(np.searchsorted(bins, stop, side="right"))
        return times[a:b]
    return times[(bins >= low) & (bins <= stop)]
