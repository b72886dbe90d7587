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
    """The bins (truncated times, as floats) of the spikes that the in-memory
    trainfold scan adds for the window t0 .. t1 and filters of ntaps taps, in
    list order. The scan compares times, not bins, with its thresholds: it
    skips the leading times below L = t0 - ntaps + 1 and ends at the first
    time at or past t1 + 1 or NaN. A later time in [L - 1, L) is not skipped
    (its bin may be L), so the thresholds are applied here, and a chunk gets
    bins, whose scan then takes every one of them."""
    lower, upper = float(t0 - ntaps + 1), float(t1 + 1)
    below = spinds < lower
    first = int(np.argmin(below)) if not below.all() else spinds.size
    rest = spinds[first:]
    past = ~(rest < upper)  # at or past the window, or NaN
    end = int(np.argmax(past)) if past.any() else rest.size
    return np.trunc(rest[:end])


def spikes_reaching(bins, ntaps, start, stop, ascending):
    """The bins (from taken_spikes) whose taps land in bins start .. stop, in
    list order: a slice found by binary search when the bins ascend, a mask
    over the list otherwise."""
    low = start - ntaps + 1
    if ascending:
        a = int(np.searchsorted(bins, low, side="left"))
        b = int(np.searchsorted(bins, stop, side="right"))
        return bins[a:b]
    return bins[(bins >= low) & (bins <= stop)]
