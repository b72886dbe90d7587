"""Checks of the population GLM's arguments and the recording they give:
spike times from a list of arrays, neo.SpikeTrain or the NWB units layout,
binned into fine bins, and the stimulus as a coarse lagged design."""
import math

import numpy as np

from spike_bins._constants import BIN_TOLERANCE, MAX_BINS, STIMULUS_DELAY


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
        # Any integer type (NWB files often store uint64): range first, so
        # that the conversion to Python ints cannot wrap.
        if index.size and (index.min() < 0 or index.max() > flat.size):
            raise ValueError("spike_times index must be ascending end offsets "
                             "within the concatenated times")
        index = [int(k) for k in index]
        if any(b < a for a, b in zip(index, index[1:])):
            raise ValueError("spike_times index must be ascending end offsets "
                             "within the concatenated times")
        spike_times = [flat[a:b] for a, b in zip([0] + index[:-1], index)]
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
        if a.dtype.kind == "f" and a.dtype.itemsize < 8:
            raise TypeError(f"spike_times[{i}] is {a.dtype}: convert it to float64 "
                            f"({a.dtype} resolves only about "
                            f"{'1 ms' if a.dtype.itemsize == 4 else '8 s'} at 10^4 s)")
        lists.append(a.astype(float))
    if not lists:
        raise ValueError("spike_times must hold at least one neuron")
    return lists


def _real(name, value):
    """A finite real number (not bool, not a string), as a float."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(
            value, (int, float, np.integer, np.floating)):
        raise TypeError(f"{name} must be a real number, got {type(value).__name__}")
    value = float(value)
    if not math.isfinite(value):
        raise ValueError(f"{name} must be finite, got {value}")
    return value


def _positive(name, value):
    if isinstance(value, (bool, np.bool_)) or not isinstance(
            value, (int, float, np.integer, np.floating)):
        raise TypeError(f"{name} must be a real number, got {type(value).__name__}")
    value = float(value)
    if not (math.isfinite(value) and value > 0):
        raise ValueError(f"{name} must be finite and positive, got {value}")
    return value


def _whole(name, value, low):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, np.integer)):
        raise TypeError(f"{name} must be a whole number, got {type(value).__name__}")
    if value < low or value > MAX_BINS:
        raise ValueError(f"{name} must be at least {low}, got {value}")
    return int(value)


def _bin_count(duration, t_start, bin_size):
    """T = floor(duration / bin_size + BIN_TOLERANCE) of a recording, after
    the checks of duration and t_start (nothing allocated)."""
    duration = _positive("duration", duration)
    _real("t_start", t_start)
    nbins = math.floor(duration / bin_size + BIN_TOLERANCE)
    if not 1 <= nbins <= MAX_BINS:
        raise ValueError("duration / bin_size must give 1 to 2**31 - 1 bins, "
                         f"got {nbins}")
    return nbins


def time_bins(s, t_start, bin_size):
    """Bins of times s (float64 array): floor((s - t_start) / bin_size +
    BIN_TOLERANCE). A time within BIN_TOLERANCE bins below an edge belongs
    to the bin that starts there, so stamps on a sample clock or whole
    milliseconds, and edges computed as t_start + b * bin_size, fall in the
    bin of their edge even where (s - t_start) / bin_size rounds to just
    below a whole number (far from t = 0)."""
    return np.floor((s - t_start) / bin_size + BIN_TOLERANCE)


def _recording(spike_times, duration, t_start, bin_size):
    """(T, per-neuron ascending int64 bins with one entry per spike)."""
    nbins = _bin_count(duration, t_start, bin_size)
    t_start = float(t_start)
    bins = []
    for i, s in enumerate(_spike_lists(spike_times)):
        bad = ~np.isfinite(s)
        if bad.any():
            raise ValueError(f"spike_times[{i}] holds a non-finite time, {s[bad][0]}")
        b = time_bins(s, t_start, bin_size)
        out = (b < 0) | (b >= nbins)
        if out.any():
            raise ValueError(f"spike_times[{i}] holds {s[out][0]} s, outside the "
                             f"recording [{t_start}, {t_start + nbins * bin_size}) s")
        bins.append(np.sort(b.astype(np.int64)))  # unsorted lists are accepted
    return nbins, bins


def _bin_mask(name, mask, nbins):
    """A boolean (T,) mask of bins (bool, or 0/1 numbers) that selects one
    bin or more, checked before it is used."""
    a = np.asarray(mask)
    if a.dtype.kind not in "biuf":
        raise TypeError(f"{name} must be a boolean mask of the recording's {nbins} "
                        f"bins, got {a.dtype}")
    if a.shape != (nbins,):
        raise ValueError(f"{name} must be a boolean mask of shape ({nbins},) (one "
                         f"value per bin), got shape {a.shape}")
    if a.dtype.kind != "b":
        if not np.all((a == 0) | (a == 1)):
            raise ValueError(f"{name} must hold only True/False (or 1/0)")
        a = a != 0
    if not a.any():
        raise ValueError(f"{name} selects no bin")
    return a.copy()


def _stimulus(stimulus, stimulus_rate, nbins, bin_size, lags):
    """(coarse lagged design M x C*L, C, m) or (None, 0, 0) without a stimulus."""
    if stimulus is None:
        if stimulus_rate is not None:
            raise ValueError("stimulus_rate is given without a stimulus: give both, "
                             "or neither")
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

