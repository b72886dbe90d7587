"""The population GLM estimator behind spike_bins.glm.PopulationGLM.

Recorded spike times become per-neuron fine-bin counts; each neuron's
Poisson GLM is fitted on its own (one task per neuron on a dask cluster, or
with each evaluation summed over time blocks held by different workers).
drive() and drive_gradient() are the only places that touch the operators
for the fit: the drive is tentfill2 plus one trainfold_pop pass over all
sources' spikes (merged once per recording), added into the buffer that
holds bias and stimulus; the gradient is tentfill2_adjoint plus one
trainfold_pop_adjoint call and a small basis projection.
"""
import ctypes
import ctypes.util
import math
import sys
import time
import warnings

import numpy as np

import spike_bins as _sb
from spike_bins._rows import sample_span, tentfill2_rows
from spike_bins._inference import InferenceMixin, TimeRescaling  # noqa: F401

STIMULUS_DELAY = 2  # coarse bins: the stimulus of coarse bin c acts from c + 1 on
MAX_LOG_RATE = 10.0  # simulate() refuses log rates per bin above this
_PENALTIES = (None, "ridge", "group_lasso")
_MAX_BINS = 2**31 - 1
_STIM_ROWS = 65536  # rows of the stimulus drive computed at a time


class ConvergenceWarning(UserWarning):
    """A neuron's fit stopped before its optimality test passed."""


# ---------------------------------------------------------------- inputs

def _is_neo_train(x):
    return type(x).__name__ == "SpikeTrain" and hasattr(x, "rescale")


def _spike_lists(spike_times):
    """A list of 1-D float arrays (seconds) from a list of arrays, a list
    of neo.SpikeTrain, or the NWB units layout (times, index) / dict."""
    if isinstance(spike_times, dict):
        try:
            spike_times = (spike_times["spike_times"], spike_times["spike_times_index"])
        except KeyError:
            raise ValueError("spike_times as a dict needs the keys 'spike_times' "
                             "and 'spike_times_index'") from None
    if isinstance(spike_times, tuple) and len(spike_times) == 2 and not any(
            isinstance(p, (list, tuple)) or _is_neo_train(p) for p in spike_times):
        flat = np.asarray(spike_times[0])
        index = np.asarray(spike_times[1])
        if (flat.ndim != 1 or index.ndim != 1
                or not np.issubdtype(index.dtype, np.integer)):
            raise TypeError("spike_times as (times, index) needs 1-D times and a 1-D "
                            "integer index of end offsets")
        if index.size and (index[0] < 0 or np.any(np.diff(index) < 0)
                           or index[-1] > flat.size):
            raise ValueError("spike_times index must be ascending end offsets "
                             "within the concatenated times")
        starts = np.r_[0, index[:-1]] if index.size else index
        spike_times = [flat[a:b] for a, b in zip(starts, index)]
    if isinstance(spike_times, np.ndarray) or not hasattr(spike_times, "__len__"):
        raise TypeError("spike_times must be a list of 1-D arrays of times (s), a "
                        "list of neo.SpikeTrain, or (times, index) as in NWB units")
    lists = []
    for i, s in enumerate(spike_times):
        if _is_neo_train(s):
            s = np.asarray(s.rescale("s").magnitude)
        a = np.asarray(s)
        if a.ndim > 1 and a.size == max(a.shape):
            a = a.reshape(-1)
        if a.ndim > 1 or a.dtype.kind not in "iuf":
            raise TypeError(f"spike_times[{i}] must be a 1-D array of real times (s)")
        lists.append(a.astype(float))
    if not lists:
        raise ValueError("spike_times must hold at least one neuron")
    return lists


def _positive(name, value):
    if isinstance(value, bool) or not isinstance(
            value, (int, float, np.integer, np.floating)):
        raise TypeError(f"{name} must be a real number")
    value = float(value)
    if not (math.isfinite(value) and value > 0):
        raise ValueError(f"{name} must be finite and positive, got {value}")
    return value


def _whole(name, value, low):
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise TypeError(f"{name} must be a whole number")
    if value < low or value > _MAX_BINS:
        raise ValueError(f"{name} must be at least {low}, got {value}")
    return int(value)


def _recording(spike_times, duration, t_start, bin_size):
    """(T, per-neuron ascending int64 bins with one entry per spike)."""
    duration = _positive("duration", duration)
    if isinstance(t_start, bool) or not math.isfinite(float(t_start)):
        raise ValueError("t_start must be a finite number of seconds")
    t_start = float(t_start)
    nbins = math.floor(duration / bin_size + 1e-6)
    if not 1 <= nbins <= _MAX_BINS:
        raise ValueError("duration / bin_size must give 1 to 2**31 - 1 bins, "
                         f"got {nbins}")
    bins = []
    for i, s in enumerate(_spike_lists(spike_times)):
        bad = ~np.isfinite(s)
        if bad.any():
            raise ValueError(f"spike_times[{i}] holds a non-finite time, {s[bad][0]}")
        b = np.floor((s - t_start) / bin_size)
        out = (b < 0) | (b >= nbins)
        if out.any():
            raise ValueError(f"spike_times[{i}] holds {s[out][0]} s, outside the "
                             f"recording [{t_start}, {t_start + nbins * bin_size}) s")
        bins.append(np.sort(b.astype(np.int64)))  # unsorted lists are accepted
    return nbins, bins


def _stimulus(stimulus, stimulus_rate, nbins, bin_size, lags):
    """(coarse lagged design M x C*L, C, m) or (None, 0, 0) without a stimulus."""
    if stimulus is None:
        return None, 0, 0
    s = np.asarray(stimulus)
    if s.dtype.kind not in "biuf" or s.ndim not in (1, 2):
        raise TypeError("stimulus must be a real array, samples x channels")
    s = s.reshape(s.shape[0], -1).astype(float)
    if not np.all(np.isfinite(s)):
        raise ValueError("stimulus holds NaN or Inf")
    if stimulus_rate is None:
        raise ValueError("stimulus_rate (Hz) is needed with a stimulus")
    rate = _positive("stimulus_rate", stimulus_rate)
    m = round(1.0 / (rate * bin_size))
    if m < 1 or abs(m * rate * bin_size - 1) > 1e-9:
        raise ValueError("stimulus_rate: the stimulus period must be a whole number "
                         f"of fine bins (bin_size {bin_size} s)")
    if s.shape[0] * m != nbins:
        raise ValueError(f"stimulus: {s.shape[0]} samples, expected {nbins // m} "
                         f"({nbins} bins of {m} fine bins each)")
    _whole("stimulus_lags", lags, 1)
    nsamples, nchannels = s.shape
    design = np.zeros((nsamples, nchannels * lags), order="F")  # columns contiguous
    for ch in range(nchannels):
        for lag in range(lags):
            d = STIMULUS_DELAY + lag
            if d < nsamples:
                design[d:, ch * lags + lag] = s[:nsamples - d, ch]
    return design, nchannels, m


class _Data:
    """One recording, or the piece of it for bins lo .. hi - 1 (picklable).

    A piece holds what its bins need: the spikes of the history_taps bins
    before lo and of the piece (merged over neurons once: ascending bins + 1
    with their source ids, and per neuron), and the lagged stimulus rows
    first .. end - 1 whose tentfill2 reaches its bins; its memory grows with
    hi - lo, not T. The whole recording is the piece 0 .. T - 1."""

    def __init__(self, nbins, bins, design, nchannels, m, basis, coupling, lo=0,
                 hi=None, first=0):
        self.nbins = nbins  # T of the whole recording
        self.lo, self.hi = lo, nbins if hi is None else hi
        self.design = design
        self.first = first
        self.nchannels = nchannels
        self.m = m
        self.basis = basis
        self.coupling = coupling
        self.nneurons = len(bins)
        self.bins = bins
        self.nstim = 0 if design is None else design.shape[1]
        inside = [b[(b >= self.lo) & (b < self.hi)] for b in bins]
        self.nspikes = np.array([b.size for b in inside])
        self.count_bins, self.count_values = [], []
        for b in inside:
            u, c = np.unique(b, return_counts=True)
            self.count_bins.append(u)
            self.count_values.append(c.astype(float))
        # History enters one bin late: trainfold gets spike times bin + 1.
        self.shifted = [b.astype(float) + 1.0 for b in bins]
        merged = np.concatenate(bins)
        owner = np.repeat(np.arange(self.nneurons), [b.size for b in bins])
        order = np.argsort(merged, kind="stable")
        self.spikes = merged[order].astype(float) + 1.0
        self.ids = owner[order].astype(float)
        self._spare = []  # drive buffers for reuse, one per concurrent evaluation

    def __getstate__(self):
        state = self.__dict__.copy()
        state["_spare"] = []
        return state

    def piece(self, lo, hi):
        """The piece for bins lo .. hi - 1 of this recording."""
        ntaps = self.basis.shape[0]
        bins = [b[np.searchsorted(b, lo - ntaps):np.searchsorted(b, hi)]
                for b in self.bins]
        design, first = None, 0
        if self.design is not None:
            first, end = sample_span(self.design.shape[0], self.m, lo, hi)
            design = self.design[first:end].copy(order="F")
        return _Data(self.nbins, bins, design, self.nchannels, self.m, self.basis,
                     self.coupling, lo, hi, first)

    def sources(self, i):
        return list(range(self.nneurons)) if self.coupling else [i]

    @property
    def nparams(self):
        nsrc = self.nneurons if self.coupling else 1
        return 1 + self.nstim + nsrc * self.basis.shape[1]

    def counts(self, i, block=None):
        """Distinct bins of neuron i in this piece and their counts (float),
        outside the held-out block (lo, hi) when one is given."""
        b, c = self.count_bins[i], self.count_values[i]
        if block is not None:
            keep = (b < block[0]) | (b >= block[1])
            b, c = b[keep], c[keep]
        return b, c


# ---------------------------------------------------------- drive, gradient

def _stimulus_rows(data, coarse):
    """Rows lo .. hi - 1 of tentfill2(u, m) (T x 1, Fortran) from the coarse
    drive u of samples first .. of the piece: the rows of the whole call."""
    return tentfill2_rows(coarse[:, None], data.first, data.m, data.lo, data.hi)


def _stimulus_into(data, coarse, bias, dest):
    """dest = bias + rows lo .. hi - 1 of tentfill2(u, m), computed in
    cache-sized runs of rows (each the whole call's rows, bit for bit) so
    that no T x 1 temporary is allocated."""
    nsamples, m = data.nbins // data.m, data.m
    for a in range(data.lo, data.hi, _STIM_ROWS):
        b = min(a + _STIM_ROWS, data.hi)
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


def drive(data, i, theta, out=None):
    """eta_i(t), t = lo .. hi - 1 of the piece: bias + stimulus drive,
    then the history of every source added in one trainfold_pop pass (out:
    a (hi - lo, 1) Fortran float64 buffer to build it in, reused across
    evaluations). Returns a 1-D view."""
    nb = data.basis.shape[1]
    eta = np.empty((data.hi - data.lo, 1), order="F") if out is None else out
    if data.nstim:
        k = theta[1:1 + data.nstim]
        coarse = np.zeros(data.design.shape[0])
        for c in range(data.nstim):
            if k[c] != 0.0:
                coarse += k[c] * data.design[:, c]
        _stimulus_into(data, coarse, theta[0], eta[:, 0])
    else:
        eta.fill(theta[0])
    w = theta[1 + data.nstim:].reshape(-1, nb)
    spikes, ids, nsrc = _history_spikes(data, i)
    if w.any() and spikes.size:
        h = np.asfortranarray(data.basis @ w.T)  # taps x sources
        _sb.trainfold_pop(spikes, ids, h, (data.lo, data.hi - 1), nsrc, out=eta)
    return eta[:, 0]


def _raw_gradient(data, i, resid, total=None):
    """The adjoint of drive() before the basis projection: (sum of resid,
    stimulus part, history taps x sources) for summing over pieces."""
    g0 = np.sum(resid) if total is None else total
    gstim = np.zeros(data.nstim)
    if data.nstim:
        z = _stimulus_adjoint(data, resid)
        for c in range(data.nstim):
            gstim[c] = np.sum(z * data.design[:, c])
    spikes, ids, nsrc = _history_spikes(data, i)
    ntaps = data.basis.shape[0]
    if spikes.size:
        taps = _sb.trainfold_pop_adjoint(spikes, ids, resid, (data.lo, data.hi - 1),
                                         ntaps, nsrc)
    else:
        taps = np.zeros((ntaps, nsrc), order="F")
    return g0, gstim, taps


def _add_raw(a, b):
    return a[0] + b[0], a[1] + b[1], a[2] + b[2]


def _project(data, raw):
    """The gradient vector from (summed) _raw_gradient parts."""
    g0, gstim, taps = raw
    return np.concatenate([[g0], gstim, (data.basis.T @ taps).T.ravel()])


def drive_gradient(data, i, resid):
    """The adjoint of drive(): d/dtheta of sum_t resid(t) * eta_i(t)."""
    return _project(data, _raw_gradient(data, i, resid))


def _piece_nll(data, i, theta, block):
    """Over the piece's bins outside the held-out block: (sum of mu - y eta,
    _raw_gradient parts), unscaled, for summing over pieces in order."""
    buf = data._spare.pop() if data._spare else np.empty(
        (data.hi - data.lo, 1), order="F")
    eta = drive(data, i, theta, buf)
    bins, counts = data.counts(i, block)
    local = bins - data.lo
    value = -np.sum(counts * eta[local])
    mu = np.exp(eta, out=eta)
    if block is not None:
        a, b = max(block[0], data.lo), min(block[1], data.hi)
        if a < b:
            mu[a - data.lo:b - data.lo] = 0.0
    total = np.sum(mu)
    value += total
    mu[local] -= counts
    raw = _raw_gradient(data, i, mu, total - np.sum(counts))
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
    n = data.nspikes.astype(float)
    for x, j in enumerate(src):
        a = 1 + ns + x * nb
        g[0, a:a + nb] = g[a:a + nb, 0] = n[j] * s
        g[1:1 + ns, a:a + nb] = np.outer(sums, n[j] * s / t)
        g[a:a + nb, 1:1 + ns] = g[1:1 + ns, a:a + nb].T
        for y, k in enumerate(src):
            b = 1 + ns + y * nb
            g[a:a + nb, b:b + nb] = (n[j] * n[k] / t) * np.outer(s, s)
        g[a:a + nb, a:a + nb] += n[j] * bb
    # Silent sources or a zero stimulus leave columns at zero: stay definite.
    g[np.diag_indices_from(g)] += 1e-9 * t
    return g * (rate / t)


# ------------------------------------------------------------------ solvers

class _Done(Exception):
    pass


def _lbfgs(fun, theta0, hess, free, tol, max_iter):
    """Minimise fun (value, gradient) over the coordinates `free` from theta0
    with L-BFGS-B in the metric of hess: (theta, converged, iterations).
    Converged: the infinity norm of the gradient over `free` <= tol."""
    from scipy.linalg import cholesky, solve_triangular
    from scipy.optimize import minimize

    factor = cholesky(hess[np.ix_(free, free)], lower=True)
    theta = theta0.copy()
    state = {"iter": 0, "theta": theta0.copy()}

    def to_theta(u):
        full = theta.copy()
        full[free] = solve_triangular(factor, u, trans="T", lower=True)
        return full

    def f(u):
        full = to_theta(u)
        value, grad = fun(full)
        g = grad[free]
        if np.max(np.abs(g), initial=0.0) <= tol:
            state["theta"] = full
            raise _Done
        return value, solve_triangular(factor, g, lower=True)

    def count(_):
        state["iter"] += 1

    for _ in range(4):  # restarts after a line-search stall, memory cleared
        left = max_iter - state["iter"]
        if left <= 0:
            break
        try:
            res = minimize(f, factor.T @ theta[free], jac=True, method="L-BFGS-B",
                           callback=count,
                           options={"maxiter": left, "maxfun": 2 * left + 20,
                                    "ftol": 0.0, "gtol": 0.0, "maxls": 40})
        except _Done:
            return state["theta"], True, state["iter"]
        theta = to_theta(res.x)
    return theta, False, state["iter"]


def _group_optimal(grad, theta, groups, alpha, tol, penalised):
    free = np.ones(theta.size, bool)
    free[penalised] = False
    if np.max(np.abs(grad[free]), initial=0.0) > tol:
        return False
    for g in groups:
        w, gg = theta[g], grad[g]
        nw = np.linalg.norm(w)
        if nw == 0.0:
            if np.linalg.norm(gg) > alpha + tol:
                return False
        elif np.max(np.abs(gg + alpha * w / nw)) > tol:
            return False
    return True


def _group_lasso(smooth, theta, hess, groups, alpha, tol, max_iter):
    """Proximal gradient in a block metric (the start Hessian on the
    unpenalised coordinates, a majorising scalar per group), alternated with
    L-BFGS on the support it finds; (theta, converged, iterations)."""
    p = theta.size
    penalised = np.zeros(p, bool)
    for g in groups:
        penalised[g] = True
    unpen = np.flatnonzero(~penalised)
    h_u = hess[np.ix_(unpen, unpen)]
    scale = [np.linalg.eigvalsh(hess[g, g])[-1] for g in groups]
    step = 1.0
    iters = 0
    value, grad = smooth(theta)
    while iters < max_iter:
        if _group_optimal(grad, theta, groups, alpha, tol, penalised):
            return theta, True, iters
        # Proximal steps until the support holds for a few of them.
        stable = 0
        support = [bool(theta[g].any()) for g in groups]
        while iters < max_iter and stable < 3:
            iters += 1
            while True:
                new = theta.copy()
                new[unpen] = theta[unpen] - np.linalg.solve(step * h_u, grad[unpen])
                for g, c in zip(groups, scale):
                    v = theta[g] - grad[g] / (step * c)
                    nv = np.linalg.norm(v)
                    shrink = 1 - alpha / (step * c * nv) if nv > 0 else 0.0
                    new[g] = v * shrink if shrink > 0 else 0.0
                d = new - theta
                quad = d[unpen] @ h_u @ d[unpen] + sum(
                    c * (d[g] @ d[g]) for g, c in zip(groups, scale))
                v_new, g_new = smooth(new)
                if v_new <= value + grad @ d + 0.5 * step * quad + 1e-15 * abs(value):
                    break
                step *= 2.0
            theta, value, grad = new, v_new, g_new
            step = max(step / 1.5, 1.0)
            now = [bool(theta[g].any()) for g in groups]
            stable = stable + 1 if now == support else 0
            support = now
            if _group_optimal(grad, theta, groups, alpha, tol, penalised):
                return theta, True, iters
        # Smooth on the support: the group norms are differentiable there.
        active = [g for g, on in zip(groups, support) if on]
        free = np.concatenate([unpen] + [np.arange(p)[g] for g in active]).astype(int)
        free.sort()

        def total(th):
            v, gr = smooth(th)
            gr = gr.copy()
            for g in active:
                nw = np.linalg.norm(th[g])
                if nw > 0:
                    v += alpha * nw
                    gr[g] += alpha * th[g] / nw
            return v, gr

        # The metric gains the group norms' curvature across a group, alpha / ||w_g||.
        h = hess.copy()
        for g in active:
            h[g, g] += np.eye(g.stop - g.start) * (alpha / np.linalg.norm(theta[g]))
        theta, _, k = _lbfgs(total, theta, h, free, tol, min(max_iter - iters, 30))
        iters += max(k, 1)
        value, grad = smooth(theta)
    return theta, _group_optimal(grad, theta, groups, alpha, tol, penalised), iters


def _fit_neuron(data, i, penalty, alpha, tol, max_iter, block=None, evaluate=None,
                gram=None):
    """Fit of neuron i: (theta, converged, iterations, seconds). block: the
    held-out bins (lo, hi), left out of the objective. evaluate(theta): the
    objective and gradient (default: on the whole recording in data); gram:
    the recording's _stimulus_gram (computed here when not given)."""
    started = time.perf_counter()
    nspikes = int(data.counts(i, block)[1].sum())
    nfit = data.nbins - (0 if block is None else block[1] - block[0])
    theta = np.zeros(data.nparams)
    theta[0] = math.log(max(nspikes, 0.5) / nfit)
    if nspikes == 0:
        return theta, True, 0, time.perf_counter() - started
    if gram is None:
        gram = _stimulus_gram(data)
    hess = _start_hessian(data, i, max(nspikes, 0.5) / nfit, gram)

    def smooth(th):
        if evaluate is not None:
            return evaluate(th)
        return _nll(th, data, i, block, nfit)

    if penalty == "group_lasso" and alpha > 0 and data.coupling and data.nneurons > 1:
        theta, ok, k = _group_lasso(smooth, theta, hess, _group_slices(data, i),
                                    alpha, tol, max_iter)
    else:
        fun = smooth
        if penalty == "ridge" and alpha > 0:
            hess[1:, 1:] += alpha * np.eye(data.nparams - 1)

            def fun(th):
                v, g = smooth(th)
                g = g.copy()
                g[1:] += alpha * th[1:]
                return v + 0.5 * alpha * (th[1:] @ th[1:]), g
        theta, ok, k = _lbfgs(fun, theta, hess, np.arange(data.nparams), tol, max_iter)
    return theta, ok, k, time.perf_counter() - started


def _tune_malloc():
    """Keep T-sized temporaries on the heap in this process: dask's nanny
    sets MALLOC_TRIM_THRESHOLD_=65536, which also pins glibc's mmap threshold
    low, so every T x 1 array is mmapped and page-faulted anew. True when
    glibc took the settings."""
    if not sys.platform.startswith("linux"):
        return False
    try:
        libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6")
        m_trim_threshold, m_mmap_threshold = -1, -3
        ok = libc.mallopt(m_mmap_threshold, 32 * 1024 * 1024)
        ok &= libc.mallopt(m_trim_threshold, 256 * 1024 * 1024)
        return bool(ok)
    except (OSError, AttributeError):
        return False


def _fit_task(data, i, penalty, alpha, tol, max_iter, block=None, gram=None):
    tuned = _tune_malloc()
    return _fit_neuron(data, i, penalty, alpha, tol, max_iter, block,
                       gram=gram) + (tuned,)


# ------------------------------------------------- recordings split over time

def _time_edges(nbins, n_blocks, block_seconds, bin_size, default):
    """Block edges 0 = e_0 < ... < e_B = T: n_blocks blocks of near-equal
    size, or blocks of block_seconds (the last one shorter), or `default`
    blocks when neither is given."""
    if n_blocks is not None and block_seconds is not None:
        raise ValueError("give n_blocks or block_seconds, not both")
    if block_seconds is not None:
        size = round(_positive("block_seconds", block_seconds) / bin_size)
        if size < 1:
            raise ValueError("block_seconds must hold one bin or more")
        return list(range(0, nbins, size)) + [nbins]
    count = default if n_blocks is None else _whole("n_blocks", n_blocks, 1)
    if count > nbins:
        raise ValueError(f"n_blocks ({count}) exceeds the recording's {nbins} bins")
    return [b * nbins // count for b in range(count + 1)]


def _pieces_nll(pieces, i, theta, block):
    return [_piece_nll(p, i, theta, block) for p in pieces]


def _pieces_gram(pieces):
    _tune_malloc()
    return [_stimulus_gram(p) for p in pieces]


def _in_order(results):
    """Sums of per-piece (value, parts) in piece order."""
    total = results[0]
    for r in results[1:]:
        total = (total[0] + r[0], _add_raw(total[1], r[1]))
    return total


class _TimeSplit:
    """The recording's pieces, in this process (client None) or each held
    by one worker of a dask cluster (contiguous runs of pieces per worker);
    run() evaluates a function on every piece and returns the results in
    piece order."""

    def __init__(self, data, edges, client):
        self.client = client
        self._gram = None
        pieces = [data.piece(a, b) for a, b in zip(edges[:-1], edges[1:])]
        if client is None:
            self.groups = [(None, pieces)]
            return
        workers = sorted(client.scheduler_info()["workers"])
        per = -(-len(pieces) // len(workers))
        self.groups = []
        for k, w in enumerate(workers):
            mine = pieces[k * per:(k + 1) * per]
            if mine:
                held = [client.scatter(p, workers=[w], hash=False) for p in mine]
                self.groups.append((w, held))
        del pieces

    def run(self, fn, *args):
        if self.client is None:
            return fn(self.groups[0][1], *args)
        futures = [self.client.submit(fn, held, *args, workers=[w],
                                      allow_other_workers=False, pure=False)
                   for w, held in self.groups]
        return [r for part in self.client.gather(futures) for r in part]

    def gram(self):
        """The recording's _stimulus_gram, summed in piece order (once)."""
        if self._gram is None:
            parts = self.run(_pieces_gram)
            sums, gram = parts[0]
            for s, g in parts[1:]:
                sums, gram = sums + s, gram + g
            self._gram = sums, gram
        return self._gram

    def objective(self, data, i, block, nfit):
        def evaluate(theta):
            value, raw = _in_order(self.run(_pieces_nll, i, theta, block))
            return value / nfit, _project(data, raw) / nfit
        return evaluate


def _fit_split(data, penalty, alpha, tol, max_iter, block, split, say, targets):
    """Every neuron's fit with the evaluations summed over the pieces of
    split (a _TimeSplit); with a cluster, as many neurons at a time as it
    has workers (each evaluation uses all of them)."""
    nfit = data.nbins - (0 if block is None else block[1] - block[0])
    gram = split.gram()

    def one(i):
        r = _fit_neuron(data, i, penalty, alpha, tol, max_iter, block,
                        split.objective(data, i, block, nfit), gram)
        say(i, r)
        return r

    if split.client is None:
        return [one(i) for i in targets]
    from concurrent.futures import ThreadPoolExecutor
    with ThreadPoolExecutor(max(1, len(split.groups))) as pool:
        return list(pool.map(one, targets))


def _fit_all(data, penalty, alpha, tol, max_iter, block, client, verbose, split=None,
             targets=None):
    """Every neuron's fit (or those in targets), serially, one dask task per
    neuron, or (split, a _TimeSplit) with each evaluation summed over the
    recording's pieces: lists of (theta, converged, iterations, seconds) in
    neuron order."""
    n = data.nneurons
    targets = list(range(n)) if targets is None else list(targets)
    results = [None] * len(targets)

    def say(i, r):
        if verbose:
            state = "converged" if r[1] else "stopped without converging"
            print(f"neuron {i + 1}/{n}: {state} in {r[2]} iterations, {r[3]:.1f} s",
                  flush=True)

    if split is not None:
        return _fit_split(data, penalty, alpha, tol, max_iter, block, split, say,
                          targets)
    gram = _stimulus_gram(data) if client is None or data.nstim == 0 else None
    if client is None:
        for x, i in enumerate(targets):
            results[x] = _fit_neuron(data, i, penalty, alpha, tol, max_iter, block,
                                     gram=gram)
            say(i, results[x])
        return results
    from dask.distributed import as_completed
    scattered = client.scatter(data, broadcast=True, hash=False)
    # The stimulus Gram matrix once, on a worker (it passes over T).
    if gram is None:
        gram = client.submit(_stimulus_gram, scattered, pure=False)
    futures = [client.submit(_fit_task, scattered, i, penalty, alpha, tol, max_iter,
                             block, gram, pure=False) for i in targets]
    where = {f.key: x for x, f in enumerate(futures)}
    untuned = False
    for future in as_completed(futures):
        x = where[future.key]
        r = future.result()
        results[x] = r[:4]
        untuned |= not r[4]
        say(targets[x], results[x])
    if untuned:
        warnings.warn("could not raise glibc's malloc thresholds in the dask workers: "
                      "with dask's MALLOC_TRIM_THRESHOLD_ the distributed fit can be "
                      "slower than the serial one", RuntimeWarning, stacklevel=3)
    return results


def _poisson_ll(eta, bins, counts, lo=0, hi=None):
    """sum over bins lo .. hi-1 of y log mu - mu - log y!, mu = exp(eta)."""
    from scipy.special import gammaln
    hi = eta.size if hi is None else hi
    keep = (bins >= lo) & (bins < hi)
    b, c = bins[keep], counts[keep]
    return float(np.sum(c * eta[b]) - np.sum(np.exp(eta[lo:hi]))
                 - np.sum(gammaln(c + 1.0)))


def _null_ll(rate, counts, nbins):
    from scipy.special import gammaln
    n = counts.sum()
    return float(n * math.log(rate) - nbins * rate - np.sum(gammaln(counts + 1.0)))


# ---------------------------------------------------------------- estimator

class PopulationGLM(InferenceMixin):
    """Poisson GLMs of a recorded population, one per neuron, fitted without
    a design matrix.

    Spikes are counted in fine bins of ``bin_size`` seconds, T =
    floor(duration / bin_size + 1e-6) bins; bin t covers [t_start + t *
    bin_size, t_start + (t + 1) * bin_size). The model of neuron i is

        eta_i(t) = bias_i + tentfill2(u_i, m)(t)
                   + sum_j trainfold(bins_j + 1, B w_ji, (0, T-1))(t)
        mu_i(t)  = exp(eta_i(t))          (expected spikes in bin t)

    with the coarse stimulus drive u_i(c) = sum_ch sum_{l<L} K_i[l, ch] *
    S(c - 2 - l, ch) (S: M samples x C channels at ``stimulus_rate``, m =
    fine bins per sample, L = ``stimulus_lags``; the delay of two coarse
    bins keeps it causal), and h_ji = B w_ji the filter of source j onto
    neuron i: a spike in bin b adds tap k (1 .. ``history_taps``) at bin
    b + k. Sources are all neurons with ``coupling=True`` (j = i is the
    spike history), neuron i alone otherwise. B is ``basis``: 'raised_cosine'
    (glm.raised_cosine_basis(history_taps, n_basis)) or a history_taps x
    n_basis array.

    Each neuron minimises, over the fit bins F (n_F of them),

        NLL_i / n_F + penalty,   NLL_i = sum_{t in F} mu_i(t) - y_i(t) eta_i(t)

    penalty None: 0; 'ridge': (alpha / 2) ||theta_i without the bias||^2
    (scikit-learn PoissonRegressor's objective with the same alpha);
    'group_lasso': alpha * sum_{j != i} ||w_ji||_2 (one group per other
    source; bias, stimulus and spike history unpenalised).

    Parameters
    ----------
    bin_size : float, default 0.001
        Fine bin width in seconds.
    history_taps : int, default 100
        Filter length H in bins, at most T.
    basis : 'raised_cosine' or array of shape (history_taps, n_basis)
    n_basis : int, default 5
        Basis functions of the raised-cosine basis.
    coupling : bool, default True
        Fit coupling filters between neurons, not only spike histories.
    stimulus_lags : int, default 5
        Coarse stimulus lags L (1 or more when a stimulus is given).
    penalty : None, 'ridge' or 'group_lasso'
    alpha : float, default 0.0
        Penalty weight, >= 0, on the per-bin scale of the objective above.
    tol : float, default 1e-8
        Convergence: the infinity norm of the objective's gradient <= tol
        (group lasso: its optimality conditions to tol).
    max_iter : int, default 1000
        Solver iterations per neuron.
    verbose : bool, default False
        Print one line per fitted neuron.

    Attributes
    ----------
    bias_ : ndarray (N,)
    filters_ : ndarray (H, N, N)
        filters_[:, j, i] = B w_ji; the diagonal is the spike history, zeros
        where coupling=False.
    stimulus_filters_ : ndarray (L, C, N)
    weights_ : ndarray (N, P)
        Parameter vectors [bias, K (all lags of channel 0, then channel 1,
        ...), w_ji for the sources in ascending order].
    basis_ : ndarray (H, n_basis)
    converged_ : ndarray of bool (N,)
    n_iter_ : ndarray of int (N,)
    n_bins_ : int
        T of the fitted recording.
    null_rate_ : ndarray (N,)
        Homogeneous rate per bin, max(n_i, 0.5) / n_F, used by ``score``.

    Notes
    -----
    Unsorted spike lists are sorted. A spike that is NaN/Inf or outside the
    recording is refused. A neuron without spikes in the fit data is not
    optimised: its weights are 0 and its bias log(0.5 / n_F) (half a spike
    over the fit bins, so its rate stays positive and finite), converged is
    True, and a warning names it. A neuron whose optimality test did not
    pass within max_iter gives a ConvergenceWarning naming it.

    Inference (spike_bins._inference): ``standard_errors_`` (N x P, the
    layout of weights_), ``covariance(i)``, ``coupling_pvalues_`` ([j, i],
    Wald test of w_ji = 0), ``filter_bands(level)``,
    ``stimulus_filter_bands(level)``, ``fit_log_likelihood_``, ``aic_``,
    ``bic_`` and ``time_rescaling(...)``. They are computed on first access
    (about P gradient passes per neuron, a few T x 1 arrays) and cached;
    for that the fitted model keeps the recording's spike bins and lagged
    stimulus (also for fits made with a client or split='time': the
    covariance is computed in this process). The covariance is the inverse
    Hessian of the unscaled objective at the fit (ridge: plus n_F * alpha
    on the non-bias diagonal). Group lasso: valid for the selected groups
    only, conditional on the selection (the Hessian of the unpenalised
    parameters and non-zero groups with the group norms' curvature);
    dropped groups have NaN standard errors, p-values and bands. NaN too:
    every figure but the log-likelihood of a neuron without spikes in the
    fit data; in an unpenalised fit, the weights of a source without
    spikes there (a zero design column); aic_ and bic_ of penalised fits
    (alpha > 0). P_eff of aic_/bic_ counts the parameters with a standard
    error.
    """

    def __init__(self, bin_size=0.001, history_taps=100, basis="raised_cosine",
                 n_basis=5, coupling=True, stimulus_lags=5, penalty=None, alpha=0.0,
                 tol=1e-8, max_iter=1000, verbose=False):
        self.bin_size = bin_size
        self.history_taps = history_taps
        self.basis = basis
        self.n_basis = n_basis
        self.coupling = coupling
        self.stimulus_lags = stimulus_lags
        self.penalty = penalty
        self.alpha = alpha
        self.tol = tol
        self.max_iter = max_iter
        self.verbose = verbose

    # scikit-learn's parameter protocol
    def get_params(self, deep=True):
        import inspect
        names = [p for p in inspect.signature(type(self).__init__).parameters
                 if p != "self"]
        return {p: getattr(self, p) for p in names}

    def set_params(self, **params):
        valid = self.get_params()
        for key, value in params.items():
            if key not in valid:
                raise ValueError(f"unknown parameter {key!r}")
            setattr(self, key, value)
        return self

    def _options(self, fitting=True):
        """The validated model options (bin_size, basis, penalty, alpha)."""
        bin_size = _positive("bin_size", self.bin_size)
        if hasattr(self, "bin_size_") and not fitting:
            bin_size = self.bin_size_
        if isinstance(self.basis, str):
            if self.basis != "raised_cosine":
                raise ValueError(f"basis must be 'raised_cosine' or an array, got "
                                 f"{self.basis!r}")
            taps = _whole("history_taps", self.history_taps, 2)
            nb = _whole("n_basis", self.n_basis, 1)
            from spike_bins.glm import raised_cosine_basis
            basis = raised_cosine_basis(taps, nb)
        else:
            basis = np.asarray(self.basis)
            if basis.dtype.kind not in "biuf":
                raise TypeError("basis must be 'raised_cosine' or a real array")
            taps = _whole("history_taps", self.history_taps, 1)
            if basis.ndim != 2 or basis.shape[0] != taps or basis.shape[1] < 1:
                raise ValueError(f"basis must have shape (history_taps={taps}, n_basis), "
                                 f"got {basis.shape}")
            basis = basis.astype(float)
            if not np.all(np.isfinite(basis)):
                raise ValueError("basis holds NaN or Inf")
        basis = np.ascontiguousarray(basis)
        if self.penalty not in _PENALTIES:
            raise ValueError(f"penalty must be None, 'ridge' or 'group_lasso', got "
                             f"{self.penalty!r}")
        alpha = float(self.alpha)
        if not (math.isfinite(alpha) and alpha >= 0):
            raise ValueError(f"alpha must be finite and >= 0, got {self.alpha}")
        _positive("tol", self.tol)
        _whole("stimulus_lags", self.stimulus_lags, 0)  # 1 or more with a stimulus
        _whole("max_iter", self.max_iter, 1)
        if not isinstance(self.coupling, (bool, np.bool_)):
            raise TypeError("coupling must be True or False")
        return bin_size, basis, alpha

    def _data(self, spike_times, duration, stimulus, stimulus_rate, t_start,
              fitting=True):
        bin_size, basis, alpha = self._options(fitting)
        nbins, bins = _recording(spike_times, duration, t_start, bin_size)
        if fitting and basis.shape[0] > nbins:
            raise ValueError(f"history_taps ({basis.shape[0]}) is longer than the "
                             f"recording ({nbins} bins)")
        lags = self.stimulus_lags
        if not fitting:
            lags = self.stimulus_filters_.shape[0]
        design, nch, m = _stimulus(stimulus, stimulus_rate, nbins, bin_size, lags)
        if not fitting:
            if len(bins) != self.bias_.size:
                raise ValueError(f"spike_times: {len(bins)} neurons, the model has "
                                 f"{self.bias_.size}")
            if nch != self.stimulus_filters_.shape[1]:
                raise ValueError(f"stimulus: {nch} channels, the model has "
                                 f"{self.stimulus_filters_.shape[1]}")
            basis = self.basis_
        coupling = bool(self.coupling) if fitting else self.coupling_
        return _Data(nbins, bins, design, nch, m, basis, coupling), alpha

    def fit(self, spike_times, duration, stimulus=None, stimulus_rate=None,
            t_start=0.0, client=None, split="neurons", n_blocks=None,
            block_seconds=None):
        """Fit every neuron; returns self.

        Parameters
        ----------
        spike_times : list of 1-D arrays (seconds), list of neo.SpikeTrain,
            or (times, index) / {'spike_times', 'spike_times_index'} as in
            NWB units (index[i]: end offset of unit i in times)
        duration : float
            Recording length in seconds.
        stimulus : array (M,) or (M, C), optional
        stimulus_rate : float, optional
            Stimulus samples per second; 1 / (stimulus_rate * bin_size) must be
            a whole number m of bins, and M * m = T.
        t_start : float, default 0.0
        client : dask.distributed.Client, optional
            Fit on the cluster, as `split` says.
        split : 'neurons' or 'time', default 'neurons'
            'neurons': one task per neuron, each worker holding the whole
            recording (the serial result, bit for bit). 'time': the recording
            is cut into contiguous time blocks, each held by one worker (its
            spikes, those of the history_taps bins before it, its stimulus
            samples), so a worker's memory grows with T / workers; every
            evaluation of a neuron's objective sums the blocks' values and
            gradients in block order, so the parameters depend on the blocks
            but not on the number of workers. With client=None and
            n_blocks or block_seconds given, the same blocked evaluation runs
            in this process (the same result, bit for bit).
        n_blocks : int, optional
            Time blocks of near-equal length (split='time'); default: one
            per worker.
        block_seconds : float, optional
            Time blocks of this length (the last one shorter) instead.
        """
        data, alpha = self._data(spike_times, duration, stimulus, stimulus_rate,
                                 t_start)
        timed = self._time_split(data, client, split, n_blocks, block_seconds)
        self._set_fit(data, self._run(data, alpha, None, client, timed))
        return self

    def _time_split(self, data, client, split, n_blocks, block_seconds):
        """The _TimeSplit of the recording, or None to fit neuron by neuron."""
        if split not in ("neurons", "time"):
            raise ValueError(f"split must be 'neurons' or 'time', got {split!r}")
        blocked = n_blocks is not None or block_seconds is not None
        if split == "neurons" and (client is not None or not blocked):
            if blocked:
                raise ValueError("n_blocks and block_seconds need split='time'")
            return None
        workers = 1 if client is None else len(client.scheduler_info()["workers"])
        edges = _time_edges(data.nbins, n_blocks, block_seconds, float(self.bin_size),
                            workers)
        return _TimeSplit(data, edges, client)

    def _run(self, data, alpha, block, client, timed=None):
        results = _fit_all(data, self.penalty, alpha, self.tol, int(self.max_iter),
                           block, client, self.verbose, timed)
        self._keep_for_inference(data, alpha)
        nfit = data.nbins - (0 if block is None else block[1] - block[0])
        silent = [i for i in range(data.nneurons) if data.counts(i, block)[1].sum() == 0]
        if silent:
            warnings.warn(f"neurons {silent} have no spikes in the fit data: weights 0, "
                          f"bias log(0.5 / {nfit})", UserWarning, stacklevel=3)
        failed = [i for i, r in enumerate(results) if not r[1]]
        if failed:
            warnings.warn(f"neurons {failed} did not converge within max_iter="
                          f"{self.max_iter} (tol {self.tol})", ConvergenceWarning,
                          stacklevel=3)
        return results

    def _set_fit(self, data, results):
        n, nb, lags = data.nneurons, data.basis.shape[1], self.stimulus_lags
        nch = data.nchannels
        weights = np.array([r[0] for r in results]).reshape(n, data.nparams)
        filters = np.zeros((data.basis.shape[0], n, n))
        stim = np.zeros((lags, nch, n))
        for i in range(n):
            th = weights[i]
            if nch:
                stim[:, :, i] = th[1:1 + data.nstim].reshape(nch, lags).T
            at = 1 + data.nstim
            for j in data.sources(i):
                filters[:, j, i] = data.basis @ th[at:at + nb]
                at += nb
        self.bias_ = weights[:, 0].copy()
        self.filters_ = filters
        self.stimulus_filters_ = stim
        self.weights_ = weights
        self.basis_ = data.basis
        self.converged_ = np.array([bool(r[1]) for r in results])
        self.n_iter_ = np.array([int(r[2]) for r in results])
        self.n_bins_ = data.nbins
        self.null_rate_ = np.maximum(data.nspikes, 0.5) / data.nbins
        self.coupling_ = data.coupling
        self.bin_size_ = float(self.bin_size)

    def _check_fitted(self):
        if not hasattr(self, "weights_"):
            raise RuntimeError("the estimator is not fitted: call fit first")

    def _eta(self, data):
        """T x N log rates of the fitted model on a recording."""
        self._check_fitted()
        return np.column_stack([drive(data, i, self.weights_[i])
                                for i in range(data.nneurons)])

    def predict_rate(self, spike_times, duration, stimulus=None, stimulus_rate=None,
                     t_start=0.0):
        """Expected spikes per bin (T x N), with the given spikes as history."""
        self._check_fitted()
        data, _ = self._data(spike_times, duration, stimulus, stimulus_rate, t_start,
                             fitting=False)
        return np.exp(self._eta(data))

    def _lls(self, spike_times, duration, stimulus, stimulus_rate, t_start):
        self._check_fitted()
        data, _ = self._data(spike_times, duration, stimulus, stimulus_rate, t_start,
                             fitting=False)
        ll = np.empty(data.nneurons)
        for i in range(data.nneurons):
            b, c = data.counts(i)
            ll[i] = _poisson_ll(drive(data, i, self.weights_[i]), b, c.astype(float))
        return data, ll

    def log_likelihood(self, spike_times, duration, stimulus=None, stimulus_rate=None,
                       t_start=0.0):
        """Full Poisson log-likelihood per neuron (natural log, incl. log y!)."""
        return self._lls(spike_times, duration, stimulus, stimulus_rate, t_start)[1]

    def score(self, spike_times, duration, stimulus=None, stimulus_rate=None,
              t_start=0.0):
        """Held-out bits per spike per neuron against the homogeneous rate
        null_rate_ of the training data: (LL - LL_null) / (n_spikes ln 2);
        NaN for a neuron without spikes in these data."""
        data, ll = self._lls(spike_times, duration, stimulus, stimulus_rate, t_start)
        out = np.full(data.nneurons, np.nan)
        for i in range(data.nneurons):
            c = data.counts(i)[1].astype(float)
            if c.sum() > 0:
                null = _null_ll(self.null_rate_[i], c, data.nbins)
                out[i] = (ll[i] - null) / (c.sum() * math.log(2))
        return out

    def pseudo_r2(self, spike_times, duration, stimulus=None, stimulus_rate=None,
                  t_start=0.0):
        """McFadden's pseudo-R2 per neuron, 1 - LL / LL_null, with the
        homogeneous rate max(n_i, 0.5) / T fitted on these data."""
        data, ll = self._lls(spike_times, duration, stimulus, stimulus_rate, t_start)
        out = np.empty(data.nneurons)
        for i in range(data.nneurons):
            c = data.counts(i)[1].astype(float)
            null = _null_ll(max(c.sum(), 0.5) / data.nbins, c, data.nbins)
            out[i] = 1.0 - ll[i] / null
        return out

    def simulate(self, duration, stimulus=None, stimulus_rate=None, seed=None):
        """Spike times (list of N arrays, seconds from 0, at bin centres) drawn
        from the fitted model, bin by bin, Poisson counts given the past (a bin
        with k spikes lists its time k times); every drawn spike
        feeds all neurons' history. Raises RuntimeError when a log rate per
        bin passes MAX_LOG_RATE (10: the model is unstable there)."""
        self._check_fitted()
        n = self.bias_.size
        data, _ = self._data([np.zeros(0)] * n, duration, stimulus, stimulus_rate, 0.0,
                             fitting=False)
        bins = _draw(data, self.weights_, self.filters_, np.random.default_rng(seed))
        return [(b + 0.5) * float(self.bin_size) for b in bins]


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


def draw_spikes(nbins, bias, coarse, m, filters, rng, block=65536):
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
    look = 16
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
                lam = math.exp(eta[rows[0], i])
                term = math.exp(-lam)
                cdf, count = term, 0
                while uni[t, i] > cdf and term > 0:
                    count += 1
                    term *= lam / count
                    cdf += term
                count = max(count, 1)
                times += [t0 + t] * count
                owners += [i] * count
                extra[t + 1:t + 1 + ntaps] += count * filters[:, i, :]
            pos = t + 1
        carry = extra[size:size + ntaps].copy()
    return np.array(times, dtype=np.int64), np.array(owners, dtype=np.int64)


class PopulationGLMCV(PopulationGLM):
    """PopulationGLM with alpha chosen by cross-validation over contiguous
    blocks of time, then refitted on all data.

    Fold f holds out bins [floor(f T / n_folds), floor((f + 1) T / n_folds));
    the training objective sums over the other bins only (the drive is
    computed on the whole recording, so history at a block's start uses the
    real spikes before it). alpha_ maximises the held-out Poisson
    log-likelihood summed over folds and neurons (ties: the first in alphas).
    The penalty defaults to 'group_lasso'; the other parameters are
    PopulationGLM's.

    Attributes (besides PopulationGLM's, from the refit with alpha_)
    ----------
    alpha_ : float
    cv_scores_ : ndarray (n_alphas, n_folds)
        Held-out log-likelihood summed over neurons.
    cv_scores_per_neuron_ : ndarray (n_alphas, n_folds, N)
    """

    def __init__(self, alphas=(0.0, 1e-6, 1e-5, 1e-4, 1e-3), n_folds=5, bin_size=0.001,
                 history_taps=100, basis="raised_cosine", n_basis=5, coupling=True,
                 stimulus_lags=5, penalty="group_lasso", alpha=0.0, tol=1e-8,
                 max_iter=1000, verbose=False):
        super().__init__(bin_size=bin_size, history_taps=history_taps, basis=basis,
                         n_basis=n_basis, coupling=coupling, stimulus_lags=stimulus_lags,
                         penalty=penalty, alpha=alpha, tol=tol, max_iter=max_iter,
                         verbose=verbose)
        self.alphas = alphas
        self.n_folds = n_folds

    def fit(self, spike_times, duration, stimulus=None, stimulus_rate=None,
            t_start=0.0, client=None, split="neurons", n_blocks=None,
            block_seconds=None):
        """Cross-validate alphas, then fit on all data with alpha_; returns
        self. Arguments as PopulationGLM.fit (with split='time' the held-out
        scores are computed in this process, over the whole recording)."""
        alphas = np.asarray(self.alphas, dtype=float).reshape(-1)
        if alphas.size == 0 or not np.all(np.isfinite(alphas)) or np.any(alphas < 0):
            raise ValueError("alphas must be one or more finite values >= 0")
        folds = _whole("n_folds", self.n_folds, 2)
        data, _ = self._data(spike_times, duration, stimulus, stimulus_rate, t_start)
        if folds > data.nbins:
            raise ValueError(f"n_folds ({folds}) exceeds the recording's bins")
        timed = self._time_split(data, client, split, n_blocks, block_seconds)
        edges = [f * data.nbins // folds for f in range(folds + 1)]
        scores = np.zeros((alphas.size, folds, data.nneurons))
        for a, alpha in enumerate(alphas):
            for f in range(folds):
                block = (edges[f], edges[f + 1])
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore", UserWarning)
                    results = _fit_all(data, self.penalty, float(alpha), self.tol,
                                       int(self.max_iter), block, client, False,
                                       timed)
                for i in range(data.nneurons):
                    b, c = data.counts(i)
                    eta = drive(data, i, results[i][0])
                    scores[a, f, i] = _poisson_ll(eta, b, c.astype(float), *block)
                if self.verbose:
                    print(f"alpha {alpha:g}, fold {f + 1}/{folds}: held-out "
                          f"log-likelihood {scores[a, f].sum():.1f}", flush=True)
        best = int(np.argmax(scores.sum(axis=(1, 2))))
        results = self._run(data, float(alphas[best]), None, client, timed)
        self._set_fit(data, results)
        self.alpha_ = float(alphas[best])
        self.cv_scores_ = scores.sum(axis=2)
        self.cv_scores_per_neuron_ = scores
        return self
