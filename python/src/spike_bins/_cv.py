"""PopulationGLMCV: PopulationGLM with its penalty weight chosen by
cross-validation over contiguous blocks of time."""
import warnings

import numpy as np

from spike_bins._distributed import _fit_all
from spike_bins._estimator import PopulationGLM
from spike_bins._inputs import _whole
from spike_bins._objective import _poisson_ll, drive
from spike_bins._penalties import penalty_of


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
                 max_iter=1000, verbose=False, min_spikes=0, n_jobs=None):
        super().__init__(bin_size=bin_size, history_taps=history_taps, basis=basis,
                         n_basis=n_basis, coupling=coupling, stimulus_lags=stimulus_lags,
                         penalty=penalty, alpha=alpha, tol=tol, max_iter=max_iter,
                         verbose=verbose, min_spikes=min_spikes, n_jobs=n_jobs)
        self.alphas = alphas
        self.n_folds = n_folds

    def fit(self, spike_times, duration, stimulus=None, stimulus_rate=None,
            t_start=0.0, client=None, split="neurons", n_blocks=None,
            block_seconds=None, fit_bins=None):
        """Cross-validate alphas, then fit on all data with alpha_; returns
        self. Arguments as PopulationGLM.fit (with split='time' the held-out
        scores are computed in this process, over the whole recording).
        With fit_bins, each fold trains on the fit bins outside it and is
        scored on the fit bins inside it; the refit uses all fit bins."""
        alphas = np.asarray(self.alphas, dtype=float).reshape(-1)
        if alphas.size == 0 or not np.all(np.isfinite(alphas)) or np.any(alphas < 0):
            raise ValueError("alphas must be one or more finite values >= 0")
        if penalty_of(self.penalty).name is None and np.any(alphas > 0):
            raise ValueError(f"alphas {alphas[alphas > 0].tolist()} have no effect "
                             "with penalty=None: set penalty to 'ridge' or "
                             "'group_lasso', or alphas to 0")
        folds = _whole("n_folds", self.n_folds, 2)
        data, _ = self._data(spike_times, duration, stimulus, stimulus_rate, t_start,
                             fit_bins=fit_bins)
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
                                       timed, n_jobs=self.n_jobs)
                for i in range(data.nneurons):
                    b, c = data.counts(i)
                    eta = drive(data, i, results[i].theta)
                    scores[a, f, i] = _poisson_ll(eta, b, c.astype(float), *block,
                                                  held=data.held)
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
