"""Spikes drawn from a population GLM, bin by bin, Poisson counts given the
past."""
import math

import numpy as np

from spike_bins._constants import BLOCK_ROWS, LOOK_AHEAD, MAX_LOG_RATE
from spike_bins._rows import sample_span, tentfill2_rows


def _coarse_drives(data, weights):
    """M x N coarse stimulus drives u_i and the fine-bin count per sample."""
    n = weights.shape[0]
    if not data.nstim:
        return None
    u = np.zeros((data.design.shape[0], n), order="F")
    for i in range(n):
        for c in range(data.nstim):
            u[:, i] += weights[i, 1 + c] * data.design[:, c]
    return u


def _draw(data, weights, filters, rng):
    """Bins of the spikes drawn from the fitted model, one list per neuron."""
    bins, owners = draw_spikes(data.nbins, weights[:, 0],
                               _coarse_drives(data, weights), data.m, filters, rng)
    return [bins[owners == i] for i in range(weights.shape[0])]


def poisson_count(u, lam):
    """The Poisson(lam) count of the uniform u: the smallest k with P(X <=
    k) >= u, by inversion from the mode k = floor(lam), F = P(X <= k) =
    Q(k + 1, lam) (the regularised upper incomplete gamma; exp(-lam) for k
    = 0), stepping down or up through the probabilities p = P(X = k). Exact
    at every mean (the same steps as the Octave simulation): summing the
    probabilities up from exp(-lam) instead would underflow above about 745
    expected counts."""
    from scipy.special import gammaincc, gammaln
    k = math.floor(lam)
    if k == 0:
        p = f = math.exp(-lam)
    else:
        f = float(gammaincc(k + 1, lam))
        p = math.exp(k * math.log(lam) - lam - float(gammaln(k + 1)))
    if u <= f:
        while k > 0 and u <= f - p:
            f -= p
            p *= k / lam
            k -= 1
    else:
        while u > f and p > 0:  # p > 0: F rounded below u in the far tail
            k += 1
            p *= lam / k
            f += p
    return k


def draw_spikes(nbins, bias, coarse, m, filters, rng, block=BLOCK_ROWS):
    """Spikes drawn from a population model over nbins fine bins: (bins,
    owners), int64 arrays in bin order, a bin listed once per spike.

    The log rate of neuron i is bias[i], plus tentfill2(coarse[:, i], m)
    when coarse (M x N coarse stimulus drives) is given, plus the history:
    filters[k - 1, j, i] at bin b + k after each spike of j in bin b (ntaps x
    N sources x N targets). Counts are Poisson given the past, drawn bin by
    bin; the log rate is fixed between spikes, so the draw jumps from spike
    to spike over a few bins at a time. Raises RuntimeError when a log rate
    per bin passes MAX_LOG_RATE."""
    n = bias.size
    ntaps = filters.shape[0]
    carry = np.zeros((ntaps, n))
    times, owners = [], []
    look = LOOK_AHEAD
    for t0 in range(0, nbins, block):
        size = min(block, nbins - t0)
        base = np.broadcast_to(bias, (size, n)).copy()
        if coarse is not None:
            first, end = sample_span(coarse.shape[0], int(m), t0, t0 + size)
            base += tentfill2_rows(coarse[first:end], first, m, t0, t0 + size)
        extra = np.zeros((size + ntaps, n))
        extra[:ntaps] = carry
        uni = rng.random((size, n))
        pos = 0
        while pos < size:
            stop = min(pos + look, size)
            eta = base[pos:stop] + extra[pos:stop]
            if eta.max() > MAX_LOG_RATE:
                raise RuntimeError(f"the simulated population is unstable: a log rate "
                                   f"per bin passed {MAX_LOG_RATE}")
            fired = uni[pos:stop] > np.exp(-np.exp(eta))
            rows = np.flatnonzero(fired.any(axis=1))
            if rows.size == 0:
                pos = stop
                continue
            t = pos + int(rows[0])
            for i in np.flatnonzero(fired[rows[0]]):
                count = poisson_count(float(uni[t, i]), math.exp(eta[rows[0], i]))
                if count == 0:  # u above exp(-lambda) by rounding only
                    continue
                times += [t0 + t] * count
                owners += [i] * count
                extra[t + 1:t + 1 + ntaps] += count * filters[:, i, :]
            pos = t + 1
        carry = extra[size:size + ntaps].copy()
    return np.array(times, dtype=np.int64), np.array(owners, dtype=np.int64)

