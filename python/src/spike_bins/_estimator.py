"""PopulationGLM: Poisson GLMs of a recorded population, one per neuron,
fitted without a design matrix (see spike_bins.glm)."""
import math
import warnings

import numpy as np

from spike_bins._basis import _model_basis
from spike_bins._constants import START_SPIKES
from spike_bins._data import _Data
from spike_bins._distributed import _fit_all, _time_edges, _TimeSplit
from spike_bins._fitting import ConvergenceWarning, NotFittedError, RunawayWarning
from spike_bins._inference import InferenceMixin
from spike_bins._inputs import (_bin_count, _bin_mask, _positive, _real, _recording,
                                _stimulus, _whole)
from spike_bins._objective import _null_ll, _poisson_ll, drive
from spike_bins._penalties import penalty_of
from spike_bins._progress import check_verbose, resolve_n_jobs
from spike_bins._runaway import _fit_bin_prefix, describe, runaway
from spike_bins._simulation import _draw


class PopulationGLM(InferenceMixin):
    """Poisson GLMs of a recorded population, one per neuron, fitted without
    a design matrix.

    Spikes are counted in fine bins of ``bin_size`` seconds, T =
    floor(duration / bin_size + 1e-6) bins from ``t_start``: a spike at
    time s (seconds, float64) is in bin

        b = floor((s - t_start) / bin_size + 1e-6),

    so a time within 1e-6 bins (1 ns at 1 ms bins) below an edge belongs
    to the bin that starts there. Stamps on a sample clock (k / 30000 s),
    whole milliseconds, and edges computed as t_start + b * bin_size land
    in the bin whose edge they are, even far from t = 0 where (s - t_start)
    / bin_size rounds to just below a whole number; a bin of b < 0 or b >=
    T is refused as outside the recording. The Octave functions bin the
    same way. Times must be float64 (float32 resolves only about 1 ms at
    10^4 s and is refused, as single is in Octave; convert with
    ``np.asarray(times, dtype=np.float64)``); an NWB index may be of any
    integer type. The model of neuron i is

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
        Solver iterations per neuron (1 or more).
    verbose : bool or 'bar', default False
        True: print a line as each neuron's fit ends, with its iterations,
        the neurons done, the time so far and the time left (estimated as
        the mean wall time per neuron so far times the neurons left).
        'bar': a tqdm progress bar instead (lines when tqdm is not
        installed).
    min_spikes : int, default 0
        A unit with fewer spikes in the fit bins is treated as silent: as a
        target it is not fitted (see Notes), as a source its coupling
        weights into every other neuron are held at 0.
    n_jobs : int or None, default None
        Threads in this process (not used with a dask client, whose workers
        share the work): None or 1 one, -1 all usable cores, -2 all but
        one, ... They fit neurons at the same time; with a time split in
        this process (n_blocks or block_seconds), they evaluate the time
        blocks of each evaluation together instead, neuron after neuron.
        The kernels release the GIL, and the computation is the same on any
        number of threads, so the parameters are the same bits for every
        n_jobs.

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
    n_fit_bins_ : int
        n_F, the bins the objective summed over.

    Notes
    -----
    Every argument is checked before anything is allocated or fitted; a
    refused call raises ValueError or TypeError naming the argument and
    leaves the estimator as it was (a failed fit keeps the previous fitted
    attributes). predict_rate, log_likelihood, score, pseudo_r2 and
    simulate use the fitted state (bin_size, basis, coupling, lags of the
    last successful fit), whatever set_params changed since.

    Unsorted spike lists are sorted. A spike that is NaN/Inf or outside the
    recording is refused. A neuron without spikes in the fit bins, or with
    fewer than min_spikes, is not optimised: its weights are 0 and its bias
    log(0.5 / n_F) (half a spike over the fit bins, so its rate stays
    positive and finite), converged is True, and a warning names it.

    A step of the solver where the objective or its gradient is not finite
    (the rate overflowed) is rejected: the line search shrinks the step, so
    one unit never brings NaN into the others' fits. After the fits the
    likelihood of each fitted neuron i is tested for a maximum at infinity:
    i runs off on source j when j's spikes have windows of history_taps
    bins after them that hold fit bins and no spike of i in the fit bins
    falls in any of them (tested where the weights are not penalised: all
    sources without a penalty, the spike history under the group lasso,
    none under ridge), or when a fitted filter h_ji or the bias has a value
    of magnitude above 20 (log-rate units). Such a neuron is reported
    converged_ False and one RunawayWarning (a ConvergenceWarning) names
    each target with its sources (or its bias) and the remedies: the ridge
    penalty, or min_spikes. A neuron whose optimality test did not pass
    within max_iter gives a ConvergenceWarning naming it.

    Inference (spike_bins._inference): ``standard_errors_`` (N x P, the
    layout of weights_), ``covariance(i)``, ``coupling_pvalues_`` ([j, i],
    Wald test of w_ji = 0), ``filter_bands(level)``,
    ``stimulus_filter_bands(level)``, ``fit_log_likelihood_``, ``aic_``,
    ``bic_`` and ``time_rescaling(...)``. They are computed on first access
    (about P gradient passes per neuron, a piece of the recording at a
    time) and cached; for that the fitted model keeps the recording's
    spike bins and lagged stimulus (also for fits made with a client or
    split='time': the covariance is computed in this process). The
    covariance is the inverse Hessian of the unscaled objective at the fit,
    over the fit bins (ridge: plus n_F * alpha on the non-bias diagonal).
    Group lasso: valid for the selected groups only, conditional on the
    selection (the Hessian of the unpenalised parameters and non-zero
    groups with the group norms' curvature); dropped groups have NaN
    standard errors, p-values and bands. NaN too: every figure but the
    log-likelihood of a neuron that was not fitted; the weights of a source
    held at 0 (min_spikes) and, in an unpenalised fit, of a source without
    spikes (a zero design column); aic_ and bic_ of penalised fits (alpha >
    0). P_eff of aic_/bic_ counts the parameters with a standard error.
    """

    def __init__(self, bin_size=0.001, history_taps=100, basis="raised_cosine",
                 n_basis=5, coupling=True, stimulus_lags=5, penalty=None, alpha=0.0,
                 tol=1e-8, max_iter=1000, verbose=False, min_spikes=0, n_jobs=None):
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
        self.min_spikes = min_spikes
        self.n_jobs = n_jobs

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

    def _options(self, duration, t_start):
        """The validated fit options, checked before anything is allocated:
        (bin_size, T, basis, alpha)."""
        bin_size = _positive("bin_size", self.bin_size)
        penalty = penalty_of(self.penalty)
        if self.alpha is None or isinstance(self.alpha, str):
            raise TypeError(f"alpha must be a real number >= 0, got "
                            f"{type(self.alpha).__name__}")
        alpha = _real("alpha", self.alpha)
        if alpha < 0:
            raise ValueError(f"alpha must be finite and >= 0, got {self.alpha}")
        if penalty.name is None and alpha > 0:
            raise ValueError(f"alpha={alpha:g} has no effect with penalty=None: set "
                             "penalty to 'ridge' or 'group_lasso', or alpha to 0")
        _positive("tol", self.tol)
        _whole("stimulus_lags", self.stimulus_lags, 0)  # 1 or more with a stimulus
        _whole("max_iter", self.max_iter, 1)
        _whole("min_spikes", self.min_spikes, 0)
        check_verbose(self.verbose)
        resolve_n_jobs(self.n_jobs, 1)
        if not isinstance(self.coupling, (bool, np.bool_)):
            raise TypeError("coupling must be True or False")
        nbins = _bin_count(duration, t_start, bin_size)
        if isinstance(self.basis, str) and self.basis == "raised_cosine":
            taps = _whole("history_taps", self.history_taps, 2)
            nb = _whole("n_basis", self.n_basis, 1)
            if nb > taps:
                raise ValueError(f"n_basis ({nb}) must not exceed history_taps "
                                 f"({taps})")
            if taps > nbins:  # before the basis is built
                raise ValueError(f"history_taps ({taps}) is longer than the "
                                 f"recording ({nbins} bins)")
        basis = _model_basis(self.basis, self.history_taps, self.n_basis)
        if basis.shape[0] > nbins:
            raise ValueError(f"history_taps ({basis.shape[0]}) is longer than the "
                             f"recording ({nbins} bins)")
        return bin_size, nbins, basis, alpha

    def _data(self, spike_times, duration, stimulus, stimulus_rate, t_start,
              fitting=True, fit_bins=None, mask_name="fit_bins"):
        """(the recording as _Data, alpha): with fitting, under the options
        of the constructor; else under the fitted state (bin_size_, basis_,
        coupling_, the lags of stimulus_filters_). fit_bins: the mask of
        the bins counted (the argument mask_name of the caller)."""
        if fitting:
            bin_size, nbins, basis, alpha = self._options(duration, t_start)
            lags, coupling = self.stimulus_lags, bool(self.coupling)
            min_spikes = int(self.min_spikes)
        else:
            self._check_fitted()
            bin_size, basis, coupling = self.bin_size_, self.basis_, self.coupling_
            nbins = _bin_count(duration, t_start, bin_size)
            lags, alpha, min_spikes = self.stimulus_filters_.shape[0], 0.0, 0
        mask = None if fit_bins is None else _bin_mask(mask_name, fit_bins, nbins)
        design, nch, m = _stimulus(stimulus, stimulus_rate, nbins, bin_size, lags)
        nbins, bins = _recording(spike_times, duration, t_start, bin_size)
        if not fitting:
            if len(bins) != self.bias_.size:
                raise ValueError(f"spike_times: {len(bins)} neurons, the model has "
                                 f"{self.bias_.size}")
            if nch != self.stimulus_filters_.shape[1]:
                raise ValueError(f"stimulus: {nch} channels, the model has "
                                 f"{self.stimulus_filters_.shape[1]}")
        return _Data(nbins, bins, design, nch, m, basis, coupling, mask=mask,
                     min_spikes=min_spikes), alpha

    def fit(self, spike_times, duration, stimulus=None, stimulus_rate=None,
            t_start=0.0, client=None, split="neurons", n_blocks=None,
            block_seconds=None, fit_bins=None):
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
            'neurons': one task per lockstep batch of neurons, each worker holding the whole
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
        fit_bins : array of bool (T,), optional
            The bins the objective sums over (n_F = fit_bins.sum()), e.g. the
            training bins of a cross-validation; score the others with
            ``score(..., bins=~fit_bins)``. The history drive of every bin
            comes from all the spikes given, so a fit bin after a held-out
            gap sees the real spikes of the gap. Default: every bin.
        """
        _check_split(client, split, n_blocks, block_seconds)
        data, alpha = self._data(spike_times, duration, stimulus, stimulus_rate,
                                 t_start, fit_bins=fit_bins)
        timed = self._time_split(data, client, split, n_blocks, block_seconds)
        self._set_fit(data, self._run(data, alpha, None, client, timed))
        return self

    def _time_split(self, data, client, split, n_blocks, block_seconds):
        """The _TimeSplit of the recording, or None to fit neuron by neuron."""
        _check_split(client, split, n_blocks, block_seconds)
        blocked = n_blocks is not None or block_seconds is not None
        if split == "neurons" and (client is not None or not blocked):
            if blocked:
                raise ValueError("n_blocks and block_seconds need split='time'")
            return None
        workers = 1 if client is None else len(client.scheduler_info()["workers"])
        edges = _time_edges(data.nbins, n_blocks, block_seconds, float(self.bin_size),
                            workers)
        return _TimeSplit(data, edges, client, self.n_jobs)

    def _run(self, data, alpha, block, client, timed=None):
        results = _fit_all(data, self.penalty, alpha, self.tol, int(self.max_iter),
                           block, client, self.verbose, timed, n_jobs=self.n_jobs)
        self._keep_for_inference(data, alpha)
        nfit = data.fit_count(block)
        counts = [int(data.counts(i, block)[1].sum()) for i in range(data.nneurons)]
        none = [i for i, c in enumerate(counts) if c == 0]
        few = [i for i, c in enumerate(counts) if 0 < c < data.min_spikes]
        if none or few:
            text = []
            if none:
                text.append(f"neurons {none} have no spikes in the fit data")
            if few:
                text.append(f"neurons {few} have fewer than min_spikes="
                            f"{data.min_spikes} spikes in the fit data (as sources "
                            f"their coupling weights are held at 0)")
            warnings.warn(f"{'; '.join(text)}: not fitted, weights 0, bias "
                          f"log({START_SPIKES} / {nfit})", UserWarning, stacklevel=3)
        results, ran = self._runaways(data, results, alpha, block, counts)
        failed = [i for i, r in enumerate(results) if not r.converged and i not in ran]
        if failed:
            warnings.warn(f"neurons {failed} did not converge within max_iter="
                          f"{self.max_iter} (tol {self.tol})", ConvergenceWarning,
                          stacklevel=3)
        return results

    def _runaways(self, data, results, alpha, block, counts):
        """The fits with every neuron that runs off marked not converged,
        and those neurons; one RunawayWarning names them."""
        penalty = penalty_of(self.penalty).name if alpha > 0 else None
        prefix = _fit_bin_prefix(data, block)
        found = {}
        for i, r in enumerate(results):
            if counts[i] == 0 or counts[i] < data.min_spikes:
                continue  # silent: not fitted
            fixed = data.fixed_sources(i, block)
            tested = {None: [j for j in data.sources(i) if j not in fixed],
                      "group_lasso": [i]}.get(penalty, [])
            sources, bias = runaway(data, r.theta, i, tested, block, prefix)
            if sources or bias:
                found[i] = describe(i, sources, bias)
                results[i] = r._replace(converged=False)
        if found:
            warnings.warn("weights run off (the likelihood has no finite maximum) for "
                          f"{'; '.join(found.values())}; these neurons are marked not "
                          "converged. Remedies: the ridge penalty (penalty='ridge', "
                          "alpha > 0), or min_spikes to treat units with few spikes "
                          "as silent", RunawayWarning, stacklevel=4)
        return results, set(found)

    def _set_fit(self, data, results):
        n, nb, lags = data.nneurons, data.basis.shape[1], self.stimulus_lags
        nch = data.nchannels
        weights = np.array([r.theta for r in results]).reshape(n, data.nparams)
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
        self.converged_ = np.array([bool(r.converged) for r in results])
        self.n_iter_ = np.array([int(r.n_iter) for r in results])
        self.n_bins_ = data.nbins
        self.n_fit_bins_ = data.nfit
        self.null_rate_ = np.maximum(data.nspikes, START_SPIKES) / data.nfit
        self.coupling_ = data.coupling
        self.bin_size_ = float(self.bin_size)

    def _check_fitted(self):
        if not hasattr(self, "weights_"):
            raise NotFittedError("the estimator is not fitted: call fit first")

    def _eta(self, data):
        """T x N log rates of the fitted model on a recording."""
        self._check_fitted()
        return np.column_stack([drive(data, i, self.weights_[i])
                                for i in range(data.nneurons)])

    def _scored(self, spike_times, duration, stimulus, stimulus_rate, t_start, bins):
        """(data, mask of the scored bins or None for all, their number)."""
        data, _ = self._data(spike_times, duration, stimulus, stimulus_rate, t_start,
                             fitting=False, fit_bins=bins, mask_name="bins")
        return data, data.mask, data.nfit

    def predict_rate(self, spike_times, duration, stimulus=None, stimulus_rate=None,
                     t_start=0.0, bins=None):
        """Expected spikes per bin (T x N), with the given spikes as history;
        with bins (a boolean mask of the T bins), the rows of those bins."""
        self._check_fitted()
        data, mask, _ = self._scored(spike_times, duration, stimulus, stimulus_rate,
                                     t_start, bins)
        rate = np.exp(self._eta(data))
        return rate if mask is None else rate[mask]

    def _lls(self, spike_times, duration, stimulus, stimulus_rate, t_start, bins):
        """(data, LL per neuron, counts per neuron over the scored bins,
        number of scored bins)."""
        self._check_fitted()
        data, mask, nscored = self._scored(spike_times, duration, stimulus,
                                           stimulus_rate, t_start, bins)
        ll = np.empty(data.nneurons)
        counts = []
        for i in range(data.nneurons):
            b, c = data.counts(i)  # in the scored bins
            eta = drive(data, i, self.weights_[i])
            if mask is not None:
                eta = np.where(mask, eta, -np.inf)  # exp(-inf) = 0 outside
            ll[i] = _poisson_ll(eta, b, c.astype(float))
            counts.append(c.astype(float))
        return data, ll, counts, nscored

    def log_likelihood(self, spike_times, duration, stimulus=None, stimulus_rate=None,
                       t_start=0.0, bins=None):
        """Full Poisson log-likelihood per neuron (natural log, incl. log y!)
        over the bins of the boolean mask bins (default: all)."""
        return self._lls(spike_times, duration, stimulus, stimulus_rate, t_start,
                         bins)[1]

    def score(self, spike_times, duration, stimulus=None, stimulus_rate=None,
              t_start=0.0, bins=None):
        """Held-out bits per spike per neuron against the homogeneous rate
        null_rate_ of the training data: (LL - LL_null) / (n_spikes ln 2)
        over the bins of the boolean mask bins (default: all; for
        cross-validation the complement of fit's fit_bins); NaN for a
        neuron without spikes there."""
        data, ll, counts, nscored = self._lls(spike_times, duration, stimulus,
                                              stimulus_rate, t_start, bins)
        out = np.full(data.nneurons, np.nan)
        for i, c in enumerate(counts):
            if c.sum() > 0:
                null = _null_ll(self.null_rate_[i], c, nscored)
                out[i] = (ll[i] - null) / (c.sum() * math.log(2))
        return out

    def pseudo_r2(self, spike_times, duration, stimulus=None, stimulus_rate=None,
                  t_start=0.0, bins=None):
        """McFadden's pseudo-R2 per neuron, 1 - LL / LL_null, with the
        homogeneous rate max(n_i, 0.5) / n fitted on these data (n scored
        bins: those of the boolean mask bins, default all)."""
        data, ll, counts, nscored = self._lls(spike_times, duration, stimulus,
                                              stimulus_rate, t_start, bins)
        out = np.empty(data.nneurons)
        for i, c in enumerate(counts):
            null = _null_ll(max(c.sum(), START_SPIKES) / nscored, c, nscored)
            out[i] = 1.0 - ll[i] / null
        return out

    def simulate(self, duration, stimulus=None, stimulus_rate=None, t_start=0.0,
                 seed=None):
        """Spike times (list of N ascending arrays, seconds) drawn from the
        fitted model over T = floor(duration / bin_size_ + 1e-6) bins from
        t_start, bin by bin, exact Poisson counts given the past; every
        drawn spike feeds all neurons' history from the next bin on. The k
        spikes drawn in bin b are at t_start + (b + (j + 0.5) / k) *
        bin_size_, j = 0 .. k - 1 (one spike: the bin centre): distinct
        times that fit and predict_rate bin back into b. Raises
        RuntimeError when a log rate per bin passes MAX_LOG_RATE (10: the
        model is unstable there)."""
        self._check_fitted()
        if seed is not None and not isinstance(seed, np.random.Generator):
            if isinstance(seed, (bool, np.bool_)) or not isinstance(
                    seed, (int, np.integer)):
                raise TypeError("seed must be None, a whole number >= 0 or a "
                                f"numpy Generator, got {type(seed).__name__}")
            if seed < 0:
                raise ValueError(f"seed must be a whole number >= 0, got {seed}")
        n = self.bias_.size
        data, _ = self._data([np.zeros(0)] * n, duration, stimulus, stimulus_rate,
                             t_start, fitting=False)
        rng = np.random.default_rng(seed)
        bins = _draw(data, self.weights_, self.filters_, rng)
        return [spread_in_bins(b, float(t_start), self.bin_size_) for b in bins]


def spread_in_bins(bins, t_start, bin_size):
    """Times of spikes given by their ascending bins (a bin listed once per
    spike): the k spikes of bin b at t_start + (b + (j + 0.5) / k) *
    bin_size, j = 0 .. k - 1."""
    if bins.size == 0:
        return np.zeros(0)
    first = np.r_[True, bins[1:] != bins[:-1]]
    starts = np.flatnonzero(first)
    k = np.diff(np.r_[starts, bins.size])
    group = np.cumsum(first) - 1
    j = np.arange(bins.size) - starts[group]
    return t_start + (bins + (j + 0.5) / k[group]) * bin_size


def _check_split(client, split, n_blocks, block_seconds):
    """client, split and the block arguments, before the recording is read."""
    if client is not None:
        try:
            from distributed import Client
        except ImportError:
            Client = None
        if Client is None or not isinstance(client, Client):
            raise TypeError("client must be a dask.distributed.Client (or None), got "
                            f"{type(client).__name__}: connect with "
                            "Client('tcp://...') first")
    if split not in ("neurons", "time"):
        raise ValueError(f"split must be 'neurons' or 'time', got {split!r}")
    if n_blocks is not None:
        _whole("n_blocks", n_blocks, 1)
    if block_seconds is not None:
        _positive("block_seconds", block_seconds)
