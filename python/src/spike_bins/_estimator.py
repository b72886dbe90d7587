"""PopulationGLM: Poisson GLMs of a recorded population, one per neuron,
fitted without a design matrix (see spike_bins.glm)."""
import math
import warnings

import numpy as np

from spike_bins._basis import _model_basis
from spike_bins._constants import START_SPIKES
from spike_bins._data import _Data
from spike_bins._distributed import _fit_all, _time_edges, _TimeSplit
from spike_bins._fitting import ConvergenceWarning
from spike_bins._inputs import _positive, _recording, _stimulus, _whole
from spike_bins._objective import _null_ll, _poisson_ll, drive
from spike_bins._penalties import penalty_of
from spike_bins._progress import check_verbose, resolve_n_jobs
from spike_bins._simulation import _draw


class PopulationGLM:
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
    verbose : bool or 'bar', default False
        True: print a line as each neuron's fit ends, with its iterations,
        the neurons done, the time so far and the time left (estimated as
        the mean wall time per neuron so far times the neurons left).
        'bar': a tqdm progress bar instead (lines when tqdm is not
        installed).
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

    Notes
    -----
    Unsorted spike lists are sorted. A spike that is NaN/Inf or outside the
    recording is refused. A neuron without spikes in the fit data is not
    optimised: its weights are 0 and its bias log(0.5 / n_F) (half a spike
    over the fit bins, so its rate stays positive and finite), converged is
    True, and a warning names it. A neuron whose optimality test did not
    pass within max_iter gives a ConvergenceWarning naming it.
    """

    def __init__(self, bin_size=0.001, history_taps=100, basis="raised_cosine",
                 n_basis=5, coupling=True, stimulus_lags=5, penalty=None, alpha=0.0,
                 tol=1e-8, max_iter=1000, verbose=False, n_jobs=None):
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

    def _options(self, fitting=True):
        """The validated model options (bin_size, basis, penalty, alpha)."""
        bin_size = _positive("bin_size", self.bin_size)
        if hasattr(self, "bin_size_") and not fitting:
            bin_size = self.bin_size_
        basis = _model_basis(self.basis, self.history_taps, self.n_basis)
        penalty_of(self.penalty)
        alpha = float(self.alpha)
        if not (math.isfinite(alpha) and alpha >= 0):
            raise ValueError(f"alpha must be finite and >= 0, got {self.alpha}")
        _positive("tol", self.tol)
        _whole("stimulus_lags", self.stimulus_lags, 0)  # 1 or more with a stimulus
        _whole("max_iter", self.max_iter, 1)
        check_verbose(self.verbose)
        resolve_n_jobs(self.n_jobs, 1)
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
        return _TimeSplit(data, edges, client, self.n_jobs)

    def _run(self, data, alpha, block, client, timed=None):
        results = _fit_all(data, self.penalty, alpha, self.tol, int(self.max_iter),
                           block, client, self.verbose, timed, n_jobs=self.n_jobs)
        nfit = data.nbins - (0 if block is None else block[1] - block[0])
        silent = [i for i in range(data.nneurons) if data.counts(i, block)[1].sum() == 0]
        if silent:
            warnings.warn(f"neurons {silent} have no spikes in the fit data: weights 0, "
                          f"bias log({START_SPIKES} / {nfit})", UserWarning, stacklevel=3)
        failed = [i for i, r in enumerate(results) if not r.converged]
        if failed:
            warnings.warn(f"neurons {failed} did not converge within max_iter="
                          f"{self.max_iter} (tol {self.tol})", ConvergenceWarning,
                          stacklevel=3)
        return results

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
        self.null_rate_ = np.maximum(data.nspikes, START_SPIKES) / data.nbins
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
            null = _null_ll(max(c.sum(), START_SPIKES) / data.nbins, c, data.nbins)
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

