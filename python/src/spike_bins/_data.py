"""The recording as the population GLM's objective reads it: per-neuron
spike bins (merged over neurons once for the population pass), their
counts, the lagged stimulus design, and pieces of it for time blocks."""
import numpy as np

from spike_bins._rows import sample_span


class _Data:
    """One recording, or the piece of it for bins lo .. hi - 1 (picklable).

    A piece holds what its bins need: the spikes of the history_taps bins
    before lo and of the piece (merged over neurons once: ascending bins + 1
    with their source ids, and per neuron), and the lagged stimulus rows
    first .. end - 1 whose tentfill2 reaches its bins; its memory grows with
    hi - lo, not T. The whole recording is the piece 0 .. T - 1.

    mask: the fit bins (a boolean array over the piece's bins, or None for
    all of them): the objective and counts() sum over these bins only,
    while the history drive still comes from every spike. min_spikes: a
    source with fewer spikes in the fit bins keeps its coupling weights at
    0, a target with fewer is not fitted."""

    def __init__(self, nbins, bins, design, nchannels, m, basis, coupling, lo=0,
                 hi=None, first=0, mask=None, min_spikes=0):
        self.nbins = nbins  # T of the whole recording
        self.lo, self.hi = lo, nbins if hi is None else hi
        self.mask = mask
        self.held = None if mask is None else ~mask
        self.min_spikes = min_spikes
        self.nfit = self.hi - self.lo if mask is None else int(np.count_nonzero(mask))
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
        if mask is not None:
            inside = [b[mask[b - self.lo]] for b in inside]
        self.nspikes = np.array([b.size for b in inside])  # in the fit bins
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
        mask = None if self.mask is None else self.mask[lo - self.lo:hi - self.lo]
        return _Data(self.nbins, bins, design, self.nchannels, self.m, self.basis,
                     self.coupling, lo, hi, first, mask, self.min_spikes)

    def fit_count(self, block=None):
        """n_F: the fit bins of the recording, less the held-out block."""
        if block is None:
            return self.nfit
        if self.mask is None:
            return self.nfit - (block[1] - block[0])
        return self.nfit - int(np.count_nonzero(self.mask[block[0]:block[1]]))

    def fixed_sources(self, i, block=None):
        """The sources j != i whose coupling weights stay 0 in neuron i's
        fit: fewer than min_spikes spikes in the fit bins."""
        if self.min_spikes <= 0:
            return []
        return [j for j in self.sources(i)
                if j != i and self.counts(j, block)[1].sum() < self.min_spikes]

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

