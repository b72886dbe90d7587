"""Shared helpers of the spike_bins tests."""
import numpy as np
from hypothesis import settings


def assert_same_bits(actual, expected):
    """Equal shape and equal bits element by element; any NaN matches any
    NaN (payloads are not part of the results), and -0.0 differs from 0.0."""
    actual = np.asarray(actual)
    expected = np.asarray(expected, dtype=np.float64)
    assert actual.dtype == np.float64
    assert actual.shape == expected.shape
    both_nan = np.isnan(actual) & np.isnan(expected)
    differ = (actual.view(np.uint64) != expected.view(np.uint64)) & ~both_nan
    if differ.any():
        where = np.argwhere(differ)[:5]
        details = ", ".join(
            f"{tuple(int(i) for i in w)}: {actual[tuple(w)]!r} != "
            f"{expected[tuple(w)]!r}" for w in where)
        raise AssertionError(
            f"{int(differ.sum())} elements differ in bits: {details}")


# No example database on disk (the tests run from a clean checkout) and no
# deadline (the machine may be shared).
settings.register_profile("spike_bins", database=None, deadline=None)
settings.load_profile("spike_bins")


def simulated_population(**kwargs):
    """(population, true parameters) of spike_bins.glm.simulate, the
    synthetic populations these tests were written against, without its
    deprecation warning."""
    from spike_bins._legacy import _simulate
    return _simulate(**kwargs)
