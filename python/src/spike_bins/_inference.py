"""Uncertainty of a fitted population GLM and the time-rescaling test.

The covariance of neuron i's parameters is the inverse of the Hessian of
its unscaled objective at the fit,

    H = X' diag(mu_F) X   (+ n_F * alpha on the non-bias diagonal for ridge)

with X the design over the fit bins F and mu_F the fitted rate there. X is
never built: column c of X is made alone (ones for the bias, tentfill2 of
a lagged stimulus column, one trainfold pass of a source's spikes with one
basis function), multiplied by mu and sent through the adjoint of the drive
(tentfill2_adjoint, one trainfold_pop_adjoint over all sources, the basis
projection), which gives the whole column H[:, c]. The bins go in pieces
of HESSIAN_ROWS (the pieces a fit split over time uses), whose parts of H
are summed in order: memory is a copy of the spikes and arrays of a
piece's length, never T x 1 or T x P; time: about P evaluations of the
gradient per neuron, most of it the adjoint's spikes x taps additions.

For group lasso the figures are those of the model restricted to the
selected groups, conditional on the selection: the Hessian covers the
unpenalised parameters and the non-zero groups, each with the curvature of
its group norm, n_F * alpha * (I / ||w|| - w w' / ||w||^3); a dropped group
has no standard error (NaN).
"""
import math
import warnings
from dataclasses import dataclass

import numpy as np

import spike_bins as _sb
from spike_bins._constants import KS_SMALL, KS_TERMS
from spike_bins._objective import (_history_spikes, _poisson_ll, drive,
                                   drive_gradient)
from spike_bins._penalties import GroupLasso, penalty_of
from spike_bins._rows import tentfill2_rows

HESSIAN_ROWS = 65536  # bins per piece of the Hessian: its arrays stay in cache


@dataclass(frozen=True)
class TimeRescaling:
    """The time-rescaling goodness-of-fit test of a fitted model, per neuron.

    Attributes
    ----------
    rescaled : list of ndarray
        Per neuron, the rescaled intervals z_k = 1 - exp(-xi_k), one per
        scored bin with spikes, in time order; uniform on (0, 1) and
        independent under the model.
    ks_statistic : ndarray (N,)
        Kolmogorov-Smirnov distance D of the z_k from the uniform law.
    ks_pvalue : ndarray (N,)
        Its asymptotic p-value Q(lambda) = 2 sum_{k=1}^{100} (-1)^(k-1)
        exp(-2 k^2 lambda^2), lambda = (sqrt(n) + 0.12 + 0.11 / sqrt(n)) D,
        clipped to [0, 1]; 1 for lambda < KS_SMALL, where the truncated
        series falls toward 0 but Q is 1 to double precision.
    band : ndarray (N,)
        1.36 / sqrt(n): the 95 % band of the KS plot around the diagonal.
    n : ndarray of int (N,)
        Scored bins with spikes (events). A neuron without events has NaN
        statistic, p-value and band.
    corrected : bool
        True for the discrete-time form, False for the continuous one.
    """
    rescaled: list
    ks_statistic: np.ndarray
    ks_pvalue: np.ndarray
    band: np.ndarray
    n: np.ndarray
    corrected: bool


def ks_uniform(z):
    """(D, p-value, band) of the one-sample KS test of z against U(0, 1)."""
    n = z.size
    if n == 0:
        return math.nan, math.nan, math.nan
    zs = np.sort(z)
    i = np.arange(1, n + 1)
    d = float(max(np.max(i / n - zs), np.max(zs - (i - 1) / n)))
    root = math.sqrt(n)
    lam = (root + 0.12 + 0.11 / root) * d
    if lam < KS_SMALL:
        p = 1.0
    else:
        k = np.arange(1, KS_TERMS + 1)
        q = 2.0 * np.sum((-1.0) ** (k - 1) * np.exp(-2.0 * k * k * lam * lam))
        p = float(min(max(q, 0.0), 1.0))
    return d, p, 1.36 / root


def rescaled_intervals(lam, spike_bins, scored=None, uniforms=None, corrected=True):
    """The rescaled intervals z_k of one neuron.

    lam: expected counts per bin (T,); spike_bins: the distinct bins with
    spikes, ascending; scored: boolean mask (T,) or None for all bins;
    uniforms: one r_k in (0, 1) per scored spike bin (corrected form)."""
    if scored is not None:
        spike_bins = spike_bins[scored[spike_bins]]
        lam_s = np.where(scored, lam, 0.0)
    else:
        lam_s = lam
    total = np.zeros(lam.size + 1)
    np.cumsum(lam_s, out=total[1:])  # total[t]: expected count in scored bins < t
    after = np.r_[0, spike_bins[:-1] + 1].astype(np.int64)
    gap = total[spike_bins] - total[after]  # scored bins strictly between events
    if corrected:
        p = -np.expm1(-lam[spike_bins])
        xi = gap - np.log1p(-uniforms * p)
    else:
        xi = gap + lam[spike_bins]
    return -np.expm1(-xi)


def _free_parameters(data, i, theta, lasso):
    """Mask of neuron i's parameters that are estimated: none for a neuron
    that was not fitted (fewer than max(1, min_spikes) spikes in the fit
    bins); without the weights of a source held at zero (fewer than
    min_spikes spikes there) and, under group lasso, of a dropped group."""
    free = np.ones(data.nparams, bool)
    if data.nspikes[i] < max(1, data.min_spikes):
        return free & False
    nb, at = data.basis.shape[1], 1 + data.nstim
    held = set(data.fixed_sources(i))
    for j in data.sources(i):
        block = slice(at, at + nb)
        if j in held or (lasso and j != i and not theta[block].any()):
            free[block] = False
        at += nb
    return free


def _piece_hessian(piece, i, theta, columns):
    """The piece's part of X' diag(mu) X for neuron i at theta, rows and
    columns `columns`, on and below the diagonal: one design column at a
    time over the piece's bins (ones; the lagged stimulus through
    tentfill2; one source's spikes through the basis, its n_basis columns
    in one trainfold call), times mu, through the adjoint of the drive
    (tentfill2_adjoint, trainfold_pop_adjoint, the basis projection). A
    history column of source s needs the rows of sources s and later only:
    its adjoint reads their spikes alone (each source's taps sum its own
    spikes, so those rows are the ones of the whole adjoint, bit for bit)."""
    mu = np.exp(drive(piece, i, theta))
    if piece.held is not None:
        mu[piece.held] = 0.0  # bins outside the fit bins F
    rows, (ntaps, nb) = piece.hi - piece.lo, piece.basis.shape
    ns, twin = piece.nstim, (piece.lo, piece.hi - 1)
    merged, ids, nsrc = _history_spikes(piece, i)
    out = np.zeros((columns.size, columns.size))
    stimulus, history, current = None, None, -1
    for a, c in enumerate(columns):
        if c <= ns:
            if c == 0:
                x = mu.copy()
            else:
                if stimulus is None:
                    stimulus = _stimulus_rows_all(piece)
                x = stimulus[:, c - 1] * mu
            out[:, a] = drive_gradient(piece, i, x)[columns]
            continue
        src, k = divmod(int(c) - 1 - ns, nb)
        if src != current:
            own = piece.shifted[piece.sources(i)[src]]
            history = (_sb.trainfold(own, piece.basis, twin) if own.size
                       else np.zeros((rows, nb), order="F"))
            later = ids >= src
            spikes, later_ids = merged[later], ids[later] - src
            current = src
        if spikes.size:
            taps = _sb.trainfold_pop_adjoint(spikes, later_ids, history[:, k] * mu,
                                             twin, ntaps, nsrc - src)
            g = np.zeros(piece.nparams)
            g[1 + ns + src * nb:] = (piece.basis.T @ taps).T.ravel()
            out[:, a] = g[columns]
    return out


def _stimulus_rows_all(piece):
    """Rows lo .. hi - 1 of tentfill2 of every lagged stimulus column."""
    return tentfill2_rows(piece.design, piece.first, piece.m, piece.lo, piece.hi)


def hessian(pieces, i, theta, columns):
    """Rows and columns `columns` of X' diag(mu) X for neuron i at theta
    (unscaled, over every bin of the pieces), summed over the pieces in
    order; the part below the diagonal mirrored above it."""
    h = np.zeros((columns.size, columns.size))
    for piece in pieces:
        h += _piece_hessian(piece, i, theta, columns)
    return np.tril(h) + np.tril(h, -1).T


class _Kept:
    """What the lazy figures need from a fit: the recording (whole, in this
    process), the penalty and alpha used, and the covariances computed."""

    def __init__(self, data, penalty, alpha):
        self.data = data
        self.penalty = penalty
        self.alpha = float(alpha)
        self.cov = {}
        self.ll = None
        self._pieces = None

    def pieces(self):
        """The recording in pieces of HESSIAN_ROWS bins (made once)."""
        if self._pieces is None:
            d = self.data
            edges = list(range(d.lo, d.hi, HESSIAN_ROWS)) + [d.hi]
            self._pieces = [d.piece(a, b) for a, b in zip(edges[:-1], edges[1:])]
        return self._pieces

    @property
    def penalised(self):
        return self.penalty is not None and self.alpha > 0

    @property
    def lasso(self):
        return isinstance(penalty_of(self.penalty), GroupLasso) and self.alpha > 0


class InferenceMixin:
    """Standard errors, Wald tests, bands, AIC/BIC and time rescaling for
    PopulationGLM (see the class docstring's Inference section)."""

    def _keep_for_inference(self, data, alpha):
        """Called by the fit on the whole recording with the alpha used:
        keeps the recording (not the fit's drive buffers) for the lazy
        figures and forgets those of an earlier fit."""
        data._spare = []
        self._inference = _Kept(data, self.penalty, alpha)

    def _kept(self):
        self._check_fitted()
        kept = getattr(self, "_inference", None)
        if kept is None:
            raise RuntimeError("this fit holds no recording for its standard errors "
                               "(fit it again)")
        return kept

    def covariance(self, i):
        """Covariance (P x P) of neuron i's parameters, in the order of
        weights_[i]; NaN rows and columns for parameters without a
        standard error. Computed on first use and cached."""
        kept = self._kept()
        n = self.weights_.shape[0]
        if isinstance(i, bool) or not isinstance(i, (int, np.integer)):
            raise TypeError("i must be a whole number (a neuron)")
        if not 0 <= i < n:
            raise ValueError(f"i must be a neuron from 0 to {n - 1}, got {i}")
        i = int(i)
        if i not in kept.cov:
            kept.cov[i] = self._compute_covariance(kept, i)
        return kept.cov[i].copy()

    def _compute_covariance(self, kept, i):
        data, theta = kept.data, self.weights_[i]
        p = data.nparams
        cov = np.full((p, p), np.nan)
        free = np.flatnonzero(_free_parameters(data, i, theta, kept.lasso))
        if free.size == 0:
            return cov
        h = hessian(kept.pieces(), i, theta, free)
        if not kept.penalised:
            # A design column that is zero over the fit bins (a source
            # without spikes there): the data do not determine it.
            live = np.diag(h) > 0
            free, h = free[live], h[np.ix_(live, live)]
        nfit, penalty = data.nfit, penalty_of(kept.penalty)
        for g in penalty.groups(data, i) if kept.alpha > 0 else []:
            at = np.flatnonzero((free >= g.start) & (free < g.stop))
            if at.size == 0:
                continue  # a dropped group
            w = theta[g]
            if isinstance(penalty, GroupLasso):  # the group norm's curvature
                norm = np.linalg.norm(w)
                curve = np.eye(w.size) / norm - np.outer(w, w) / norm**3
                curve *= kept.alpha
            else:
                curve = penalty.curvature(w, kept.alpha)
            sub = free[at] - g.start
            h[np.ix_(at, at)] += nfit * curve[np.ix_(sub, sub)]
        try:
            from scipy.linalg import cho_factor, cho_solve
            inv = cho_solve(cho_factor(h, lower=True), np.eye(free.size))
        except np.linalg.LinAlgError:
            warnings.warn(f"neuron {i}: the Hessian at the fit is not positive "
                          "definite; its standard errors are NaN", RuntimeWarning,
                          stacklevel=4)
            return cov
        cov[np.ix_(free, free)] = 0.5 * (inv + inv.T)
        return cov

    @property
    def standard_errors_(self):
        """ndarray (N, P): standard errors in the layout of weights_ (NaN
        where a parameter has none). Computed on first use."""
        self._kept()
        n = self.weights_.shape[0]
        return np.array([np.sqrt(np.diag(self.covariance(i))) for i in range(n)])

    @property
    def coupling_pvalues_(self):
        """ndarray (N, N): [j, i] the Wald test of "no coupling from j onto
        i" (w_ji = 0): chi-square w' C^-1 w with n_basis degrees of freedom,
        upper tail. NaN on the diagonal, without coupling, and where w_ji
        has no covariance."""
        from scipy.stats import chi2
        kept = self._kept()
        data = kept.data
        n, nb = self.weights_.shape[0], data.basis.shape[1]
        out = np.full((n, n), np.nan)
        if not data.coupling:
            return out
        for i in range(n):
            cov = self.covariance(i)
            for j in range(n):
                g = slice(1 + data.nstim + j * nb, 1 + data.nstim + (j + 1) * nb)
                c = cov[g, g]
                if j == i or not np.all(np.isfinite(c)):
                    continue
                w = self.weights_[i, g]
                out[j, i] = chi2.sf(float(w @ np.linalg.solve(c, w)), nb)
        return out

    def _z(self, level):
        from scipy.stats import norm
        if isinstance(level, bool) or not isinstance(
                level, (int, float, np.integer, np.floating)):
            raise TypeError("level must be a real number")
        if not 0 < level < 1:
            raise ValueError(f"level must be in (0, 1), got {level}")
        return float(norm.ppf((1 + level) / 2))

    def filter_bands(self, level=0.95):
        """Pointwise bands of filters_: (lower, upper), each H x N x N,
        filters_ -/+ z sqrt(diag(B C_w B')), z the normal quantile of
        (1 + level) / 2. NaN for a filter that is not a parameter (coupling
        off) or has no covariance (a dropped group, a silent source)."""
        z = self._z(level)
        data = self._kept().data
        basis, nb = data.basis, data.basis.shape[1]
        half = np.full(self.filters_.shape, np.nan)
        for i in range(self.weights_.shape[0]):
            cov = self.covariance(i)
            at = 1 + data.nstim
            for j in data.sources(i):
                c = cov[at:at + nb, at:at + nb]
                var = np.einsum("tk,kl,tl->t", basis, c, basis)
                half[:, j, i] = z * np.sqrt(np.maximum(var, 0.0))
                at += nb
        return self.filters_ - half, self.filters_ + half

    def stimulus_filter_bands(self, level=0.95):
        """Pointwise bands of stimulus_filters_: (lower, upper), each L x C
        x N, stimulus_filters_ -/+ z times their standard errors."""
        z = self._z(level)
        data = self._kept().data
        lags, nch, n = self.stimulus_filters_.shape
        se = self.standard_errors_[:, 1:1 + data.nstim]
        half = z * se.reshape(n, nch, lags).transpose(2, 1, 0)
        return self.stimulus_filters_ - half, self.stimulus_filters_ + half

    @property
    def fit_log_likelihood_(self):
        """ndarray (N,): full Poisson log-likelihood (natural log, with
        log y!) of each neuron on the fit bins."""
        kept = self._kept()
        if kept.ll is None:
            data = kept.data
            ll = np.empty(data.nneurons)
            for i in range(data.nneurons):
                b, c = data.counts(i)  # in the fit bins
                eta = drive(data, i, self.weights_[i])
                if data.mask is not None:
                    eta = np.where(data.mask, eta, -np.inf)  # mu = 0 outside
                ll[i] = _poisson_ll(eta, b, c)
            kept.ll = ll
        return kept.ll.copy()

    def _information(self, per_parameter):
        kept = self._kept()
        data = kept.data
        out = np.full(data.nneurons, np.nan)
        if kept.penalised:
            return out
        ll = self.fit_log_likelihood_
        for i in range(data.nneurons):
            k = int(np.sum(np.isfinite(np.diag(self.covariance(i)))))
            if k:
                out[i] = per_parameter * k - 2.0 * ll[i]
        return out

    @property
    def aic_(self):
        """ndarray (N,): 2 P_eff - 2 LL on the fit bins, P_eff the parameters
        estimated (those with a standard error: computing it computes the
        covariance); NaN for a penalised fit and for a neuron without
        any."""
        return self._information(2.0)

    @property
    def bic_(self):
        """ndarray (N,): log(n_F) P_eff - 2 LL; NaN as aic_."""
        return self._information(math.log(self._kept().data.nfit))

    def time_rescaling(self, spike_times, duration, stimulus=None, stimulus_rate=None,
                       t_start=0.0, bins=None, seed=None, uniforms=None,
                       corrected=True):
        """The time-rescaling test of the fitted model on a recording.

        Each bin with one spike or more is one event (several spikes in a
        bin count once: under the model the indicator "the bin has a spike"
        is Bernoulli(p_t), p_t = 1 - exp(-lambda_t), lambda_t the expected
        count given the real spikes as history, so the test is exact for
        any rate). Event k in bin t_k gives xi_k = sum of lambda_t over the
        scored bins strictly between t_(k-1) and t_k (from the first scored
        bin for k = 1) - log(1 - r_k p_(t_k)), r_k uniform on (0, 1), and
        z_k = 1 - exp(-xi_k), uniform and independent under the model.

        Parameters
        ----------
        spike_times, duration, stimulus, stimulus_rate, t_start
            The recording, as for fit (it may be held-out data).
        bins : ndarray of bool (T,), optional
            The bins scored (default all). Spikes in bins not scored are not
            events (they still act as history), and the sums skip those
            bins: an interval runs over the scored bins between two scored
            events, across any gap. The test stays exact when the mask does
            not depend on the spikes.
        seed : int or numpy Generator, optional
            Draws the r_k (neuron by neuron, in time order).
        uniforms : list of 1-D arrays, optional
            The r_k themselves, one array per neuron with one value in
            (0, 1) per scored bin with spikes, instead of seed.
        corrected : bool, default True
            False: the continuous form xi_k = sum of lambda_t over
            t_(k-1) < t <= t_k (no r_k), which is biased where lambda_t is
            not small; for comparison.

        Returns
        -------
        TimeRescaling
        """
        self._check_fitted()
        if not isinstance(corrected, (bool, np.bool_)):
            raise TypeError("corrected must be True or False")
        if uniforms is not None and seed is not None:
            raise ValueError("give seed or uniforms, not both")
        data, scored, _ = self._scored(spike_times, duration, stimulus, stimulus_rate,
                                       t_start, bins)
        n = data.nneurons
        events = [data.counts(i)[0] for i in range(n)]  # in the scored bins
        if corrected:
            draws = _uniforms(uniforms, [e.size for e in events], seed)
        rescaled, stats = [], np.full((3, n), np.nan)
        for i in range(n):
            lam = np.exp(drive(data, i, self.weights_[i]))
            z = rescaled_intervals(lam, events[i], scored,
                                   draws[i] if corrected else None, corrected)
            rescaled.append(z)
            stats[:, i] = ks_uniform(z)
        return TimeRescaling(rescaled, stats[0], stats[1], stats[2],
                             np.array([z.size for z in rescaled]), bool(corrected))


def _uniforms(uniforms, sizes, seed):
    if uniforms is None:
        rng = np.random.default_rng(seed)
        return [rng.random(k) for k in sizes]
    if isinstance(uniforms, np.ndarray) or not hasattr(uniforms, "__len__"):
        raise TypeError("uniforms must be a list of 1-D arrays, one per neuron")
    if len(uniforms) != len(sizes):
        raise ValueError(f"uniforms: {len(uniforms)} arrays, expected one per neuron "
                         f"({len(sizes)})")
    out = []
    for i, (u, k) in enumerate(zip(uniforms, sizes)):
        u = np.asarray(u)
        if u.dtype.kind not in "iuf":
            raise TypeError(f"uniforms[{i}] must hold real numbers")
        u = u.reshape(-1).astype(float)
        if u.size != k:
            raise ValueError(f"uniforms[{i}] has {u.size} values, expected one per "
                             f"scored bin with spikes ({k})")
        if not np.all((u > 0) & (u < 1)):
            raise ValueError(f"uniforms[{i}] must lie in (0, 1)")
        out.append(u)
    return out
