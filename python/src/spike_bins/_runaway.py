"""Fits whose likelihood has no finite maximum: a target none of whose
spikes in the fit bins follows a source's spikes within history_taps bins
gains likelihood without bound as its filter from that source goes to
-inf, and a filter or bias that the solver drove past RUNAWAY (log-rate
units) has run off whatever the reason."""
import numpy as np

from spike_bins._constants import RUNAWAY


def _fit_bin_prefix(data, block):
    """Running count of fit bins: prefix[t] = fit bins among 0 .. t - 1,
    or None when every bin is a fit bin."""
    if data.mask is None and block is None:
        return None
    keep = np.ones(data.nbins, bool) if data.mask is None else data.mask.copy()
    if block is not None:
        keep[block[0]:block[1]] = False
    return np.concatenate([[0], np.cumsum(keep)])


def _followed(source, target, ntaps):
    """True when some target bin t has a source bin b with t - ntaps <= b
    < t (both ascending)."""
    if source.size == 0 or target.size == 0:
        return False
    at = np.searchsorted(source, target, side="left") - 1
    seen = at >= 0
    gap = target[seen] - source[at[seen]]
    return bool(np.any(gap <= ntaps))


def runaway(data, theta, i, tested, block=None, prefix=None):
    """(sources, bias): the sources j of neuron i (ascending) on which its
    fit runs off, and whether its bias does. A source runs off when its
    fitted filter basis @ w_ji has a tap of magnitude above RUNAWAY, or
    (for the j in tested: sources whose weights are not penalised) when
    the data test holds: j has spikes whose windows of history_taps bins
    after them hold a fit bin, and no spike of i in the fit bins falls in
    any of those windows (exact for a non-negative basis)."""
    ntaps, nb = data.basis.shape
    bias = bool(abs(theta[0]) > RUNAWAY)
    target = data.counts(i, block)[0]
    found = []
    at = 1 + data.nstim
    for x, j in enumerate(data.sources(i)):
        w = theta[at + x * nb:at + (x + 1) * nb]
        if np.any(np.abs(data.basis @ w) > RUNAWAY):
            found.append(j)
            continue
        if j not in tested:
            continue
        b = data.bins[j]
        last = np.minimum(b + ntaps, data.nbins - 1)
        open_ = b + 1 <= last
        if prefix is not None:
            open_ &= prefix[last + 1] - prefix[np.minimum(b + 1, data.nbins)] > 0
        if open_.any() and not _followed(b, target, ntaps):
            found.append(j)
    return found, bias


def describe(i, sources, bias):
    """'target i on sources j, k and its bias' / 'target i: its bias'."""
    text = f"target {i}"
    if sources:
        text += " on source" + ("s " if len(sources) > 1 else " ") + ", ".join(
            str(j) for j in sources)
        if bias:
            text += " and its bias"
    elif bias:
        text += ": its bias"
    return text
