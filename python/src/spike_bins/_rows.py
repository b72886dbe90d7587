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


def sample_span(m, e, start, stop):
    """The samples (first, last + 1) that rows start .. stop - 1 of a
    tentfill2 result with E = e > 0 fine rows per sample depend on, with one
    sample of margin on each side (a row depends on its two neighbours)."""
    return max(0, start // e - 1), min(m, (stop - 1) // e + 2)


def tentfill2_rows(x, first, nbns, start, stop):
    """Rows start .. stop - 1 of tentfill2(X, nbns), where x holds the rows
    first .. of X from sample_span (all of X's columns: the arithmetic form
    depends on the column count)."""
    if stop <= start:
        return np.zeros((0, x.shape[1]), order="F")
    offset = first * int(math.trunc(nbns))
    return _sb.tentfill2(x, nbns)[start - offset:stop - offset]


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
