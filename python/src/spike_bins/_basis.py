"""The history filters' basis: the raised-cosine bumps, or a basis given as
an array, checked against history_taps."""
import math

import numpy as np

from spike_bins._inputs import _whole


def raised_cosine_basis(ntaps, nbasis, offset=4.0):
    """ntaps x nbasis raised-cosine bumps evenly spaced in log(t + offset):
    the first peaks at t = 0, the last ends at t = ntaps - 1, and peaks are a
    quarter of a bump's width apart, so the bumps sum to 2 from the second
    peak to the last but one."""
    t = np.arange(ntaps, dtype=float)
    lo, hi = math.log(offset), math.log(ntaps - 1 + offset)
    spacing = (hi - lo) / (nbasis + 1)
    peaks = lo + spacing * np.arange(nbasis)
    phase = (np.log(t + offset)[:, None] - peaks[None, :]) * (math.pi / (2 * spacing))
    return np.asfortranarray((np.cos(np.clip(phase, -math.pi, math.pi)) + 1) / 2)


def _model_basis(basis, history_taps, n_basis):
    """The basis of a model, history_taps x n_basis, C-contiguous float64:
    raised_cosine_basis(history_taps, n_basis) for 'raised_cosine', else the
    real array given, whose rows must be history_taps."""
    if isinstance(basis, str):
        if basis != "raised_cosine":
            raise ValueError(f"basis must be 'raised_cosine' or an array, got "
                             f"{basis!r}")
        taps = _whole("history_taps", history_taps, 2)
        nb = _whole("n_basis", n_basis, 1)
        basis = raised_cosine_basis(taps, nb)
    else:
        basis = np.asarray(basis)
        if basis.dtype.kind not in "biuf":
            raise TypeError("basis must be 'raised_cosine' or a real array")
        taps = _whole("history_taps", history_taps, 1)
        if basis.ndim != 2 or basis.shape[0] != taps or basis.shape[1] < 1:
            raise ValueError(f"basis must have shape (history_taps={taps}, n_basis), "
                             f"got {basis.shape}")
        basis = basis.astype(float)
        if not np.all(np.isfinite(basis)):
            raise ValueError("basis holds NaN or Inf")
    return np.ascontiguousarray(basis)
