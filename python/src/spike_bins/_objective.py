"""The population GLM's objective, without a design matrix.

drive() and drive_gradient() are the only places that touch the operators
for the fit: the drive is tentfill2 plus one trainfold_pop pass over all
sources' spikes (merged once per recording), added into the buffer that
holds bias and stimulus; the gradient is tentfill2_adjoint plus one
trainfold_pop_adjoint call and a small basis projection. Also here: the
negative log-likelihood of a piece and of a recording, the start Hessian
that preconditions the solvers, and the Poisson log-likelihoods that score
a fit.
"""
import math

import numpy as np

import spike_bins as _sb
from spike_bins._constants import BLOCK_ROWS
from spike_bins._rows import sample_span, tentfill2_rows


def _stimulus_rows(data, coarse):
    """Rows lo .. hi - 1 of tentfill2(u, m) (T x 1, Fortran) from the coarse
    drive u of samples first .. of the piece: the rows of the whole call."""
    return tentfill2_rows(coarse[:, None], data.first, data.m, data.lo, data.hi)


def _stimulus_into(data, coarse, bias, dest):
    """dest = bias + rows lo .. hi - 1 of tentfill2(u, m), computed in
    cache-sized runs of rows (each the whole call's rows, bit for bit) so
    that no T x 1 temporary is allocated."""
    nsamples, m = data.nbins // data.m, data.m
    for a in range(data.lo, data.hi, BLOCK_ROWS):
        b = min(a + BLOCK_ROWS, data.hi)
        first, end = sample_span(nsamples, m, a, b)
        x = coarse[first - data.first:end - data.first, None]
        np.add(tentfill2_rows(x, first, m, a, b)[:, 0], bias,
               out=dest[a - data.lo:b - data.lo])


def _stimulus_adjoint(data, resid):
    """The adjoint of _stimulus_rows: d/du of sum(resid * rows)."""
    m, rows = data.m, data.design.shape[0] * data.m
    start = data.lo - data.first * m
    if start == 0 and resid.size == rows:
        return _sb.tentfill2_adjoint(resid, m)[:, 0]
    full = np.zeros(rows)  # the sub-call's rows outside the piece get no residual
    full[start:start + resid.size] = resid
    return _sb.tentfill2_adjoint(full, m)[:, 0]


def _history_spikes(data, i):
    """(spike times, ids, number of sources) that neuron i's history reads."""
    if data.coupling:
        return data.spikes, data.ids, data.nneurons
    return data.shifted[i], np.zeros(data.shifted[i].size), 1


def base_drive(data, theta, eta):
    """eta (1-D, the piece's bins) = bias + stimulus drive of theta."""
    if data.nstim:
        k = theta[1:1 + data.nstim]
        coarse = np.zeros(data.design.shape[0])
        for c in range(data.nstim):
            if k[c] != 0.0:
                coarse += k[c] * data.design[:, c]
        _stimulus_into(data, coarse, theta[0], eta)
    else:
        eta.fill(theta[0])


def history_filters(data, theta):
    """The filters of theta's source weights (taps x sources, Fortran), or
    None when every weight is 0 (then no history is added)."""
    w = theta[1 + data.nstim:].reshape(-1, data.basis.shape[1])
    return np.asfortranarray(data.basis @ w.T) if w.any() else None


def drive(data, i, theta, out=None):
    """eta_i(t), t = lo .. hi - 1 of the piece: bias + stimulus drive,
    then the history of every source added in one trainfold_pop pass (out:
    a (hi - lo, 1) Fortran float64 buffer to build it in, reused across
    evaluations). Returns a 1-D view."""
    eta = np.empty((data.hi - data.lo, 1), order="F") if out is None else out
    base_drive(data, theta, eta[:, 0])
    spikes, ids, nsrc = _history_spikes(data, i)
    h = history_filters(data, theta)
    if h is not None and spikes.size:
        _sb.trainfold_pop(spikes, ids, h, (data.lo, data.hi - 1), nsrc, out=eta)
    return eta[:, 0]


def _raw_gradient(data, i, resid, total=None):
    """The adjoint of drive() before the basis projection: (sum of resid,
    stimulus part, history taps x sources) for summing over pieces."""
    g0, gstim = raw_rest(data, resid, total)
    spikes, ids, nsrc = _history_spikes(data, i)
    ntaps = data.basis.shape[0]
    if spikes.size:
        taps = _sb.trainfold_pop_adjoint(spikes, ids, resid, (data.lo, data.hi - 1),
                                         ntaps, nsrc)
    else:
        taps = np.zeros((ntaps, nsrc), order="F")
    return g0, gstim, taps


def raw_rest(data, resid, total=None):
    """The bias and stimulus parts of _raw_gradient."""
    g0 = np.sum(resid) if total is None else total
    gstim = np.zeros(data.nstim)
    if data.nstim:
        z = _stimulus_adjoint(data, resid)
        for c in range(data.nstim):
            gstim[c] = np.sum(z * data.design[:, c])
    return g0, gstim


def _add_raw(a, b):
    return a[0] + b[0], a[1] + b[1], a[2] + b[2]


def _project(data, raw):
    """The gradient vector from (summed) _raw_gradient parts."""
    g0, gstim, taps = raw
    return np.concatenate([[g0], gstim, (data.basis.T @ taps).T.ravel()])


def drive_gradient(data, i, resid):
    """The adjoint of drive(): d/dtheta of sum_t resid(t) * eta_i(t)."""
    return _project(data, _raw_gradient(data, i, resid))


def residual(data, i, eta, block):
    """From neuron i's drive eta over the piece (overwritten in place with
    the residual mu - y, mu = exp(eta) and 0 outside the fit bins and in the
    held-out block): (sum of mu - y eta, the residual's sum). Call it under
    np.errstate(over="ignore", invalid="ignore")."""
    bins, counts = data.counts(i, block)
    local = bins - data.lo
    value = -np.sum(counts * eta[local])
    mu = np.exp(eta, out=eta)
    if data.held is not None:
        mu[data.held] = 0.0
    if block is not None:
        a, b = max(block[0], data.lo), min(block[1], data.hi)
        if a < b:
            mu[a - data.lo:b - data.lo] = 0.0
    total = np.sum(mu)
    value += total
    mu[local] -= counts
    return value, total - np.sum(counts)


def _piece_nll(data, i, theta, block):
    """Over the piece's bins outside the held-out block: (sum of mu - y eta,
    _raw_gradient parts), unscaled, for summing over pieces in order."""
    buf = data._spare.pop() if data._spare else np.empty(
        (data.hi - data.lo, 1), order="F")
    eta = drive(data, i, theta, buf)
    # A trial point of a line search may overflow the rate: the value and
    # gradient come back non-finite, and the solver steps back.
    with np.errstate(over="ignore", invalid="ignore"):
        value, total = residual(data, i, eta, block)
        raw = _raw_gradient(data, i, eta, total)
    data._spare.append(buf)
    return value, raw


def _nll(theta, data, i, block, nfit):
    """NLL_i / n_F and its gradient on one piece (the whole recording)."""
    value, raw = _piece_nll(data, i, theta, block)
    return value / nfit, _project(data, raw) / nfit


def _stimulus_gram(data):
    """Over the piece's bins: the sums and the Gram matrix of the fine-bin
    stimulus regressors (tentfill2 of each lagged column)."""
    ns = data.nstim
    sums, gram = np.zeros(ns), np.zeros((ns, ns))
    for a in range(ns):
        col = _stimulus_rows(data, data.design[:, a].copy())[:, 0]
        sums[a] = np.sum(col)
        back = _stimulus_adjoint(data, col)
        for b in range(ns):
            gram[b, a] = np.sum(data.design[:, b] * back)
    return sums, gram


def _group_slices(data, i):
    """The coupling groups of neuron i (other sources' weights)."""
    nb = data.basis.shape[1]
    at = 1 + data.nstim
    groups = []
    for j in data.sources(i):
        if j != i:
            groups.append(slice(at, at + nb))
        at += nb
    return groups


def _metric_blocks(data):
    """The blocks of _start_hessian besides the bias: the stimulus weights,
    then each source's basis weights (index arrays)."""
    ns, nb = data.nstim, data.basis.shape[1]
    blocks = [np.arange(1, 1 + ns)] if ns else []
    return blocks + [np.arange(a, a + nb) for a in range(1 + ns, data.nparams, nb)]


def _start_hessian(data, i, rate, gram):
    """An approximation of the objective's Hessian at the constant-rate start:
    rate * X'X / T, exact for the bias and stimulus columns (gram: their
    _stimulus_gram over the recording), with spikes of different neurons and
    distinct spikes treated as independent."""
    t, basis, p = data.nbins, data.basis, data.nparams
    nb, ns = basis.shape[1], data.nstim
    g = np.zeros((p, p))
    g[0, 0] = t
    sums = gram[0]
    g[1:1 + ns, 1:1 + ns] = gram[1]
    g[0, 1:1 + ns] = g[1:1 + ns, 0] = sums
    s = basis.sum(axis=0)
    bb = basis.T @ basis
    src = data.sources(i)
    n = data.nspikes.astype(float)[src]
    a, width = 1 + ns, len(src) * nb
    g[0, a:] = g[a:, 0] = (n[:, None] * s).ravel()
    g[1:1 + ns, a:] = (sums[:, None, None] * (n[:, None] * s / t)).reshape(ns, width)
    g[a:, 1:1 + ns] = g[1:1 + ns, a:].T
    # Block (j, k) of the sources: (n_j n_k / t) s s', plus n_j B'B when j = k;
    # whole arrays at once (a loop over source pairs costs N^2 numpy calls).
    block = g[a:, a:].reshape(len(src), nb, len(src), nb)
    block[...] = (np.outer(n, n) / t)[:, None, :, None] * np.outer(s, s)[:, None, :]
    on = np.arange(len(src))
    block[on, :, on, :] += n[:, None, None] * bb
    # Silent sources or a zero stimulus leave columns at zero: stay definite.
    g[np.diag_indices_from(g)] += 1e-9 * t
    return g * (rate / t)


def _poisson_ll(eta, bins, counts, lo=0, hi=None, held=None):
    """sum over bins lo .. hi-1 of y log mu - mu - log y!, mu = exp(eta),
    leaving out the bins where the boolean array held is True."""
    from scipy.special import gammaln
    hi = eta.size if hi is None else hi
    keep = (bins >= lo) & (bins < hi)
    mu = np.exp(eta[lo:hi])
    if held is not None:
        keep &= ~held[bins]
        mu = mu[~held[lo:hi]]
    b, c = bins[keep], counts[keep]
    return float(np.sum(c * eta[b]) - np.sum(mu) - np.sum(gammaln(c + 1.0)))


def _null_ll(rate, counts, nbins):
    from scipy.special import gammaln
    n = counts.sum()
    return float(n * math.log(rate) - nbins * rate - np.sum(gammaln(counts + 1.0)))

