"""trainfold_multi and trainfold_multi_adjoint (targets-major): bits against
the Python generator's definitions, each target's row against trainfold_pop
and trainfold_pop_adjoint, 1-D arguments as one target, out= (adding into a
given array), the refusals, and the adjoint accumulated window by window
over a time-sorted spike list."""
import numpy as np
import pytest
from hypothesis import given, strategies as st

from conftest import assert_same_bits
from golden_reference import make_golden
from spike_bins import trainfold_multi, trainfold_multi_adjoint, \
    trainfold_pop, trainfold_pop_adjoint


@pytest.mark.parametrize("adjoint", [False, True])
def test_bits_of_the_generators_definition(adjoint):
    tag = make_golden.ADJOINT_MULTI_TAG if adjoint else make_golden.MULTI_TAG
    for index in range(300):
        spinds, ids, values, taps, n, k, twin, base = make_golden.build_pop_case(
            index, adjoint, tag)
        ids = [i - base for i in ids]  # Python numbers sources from 0
        rows = int(twin[1]) - int(twin[0]) + 1
        if adjoint:
            expected = make_golden.spike_filter_multi_adjoint(
                spinds, ids, values, taps, n, k, twin, 0)
            r = np.array(values).reshape((k, rows), order="F")
            got = trainfold_multi_adjoint(spinds, ids, r, twin, taps, n)
            shape = (k, taps * n)
        else:
            expected = make_golden.spike_filter_multi(spinds, ids, values, taps,
                                                      n, k, twin, 0)
            h = np.array(values).reshape((k, taps * n), order="F")
            got = trainfold_multi(spinds, ids, h, twin, n)
            shape = (k, rows)
        assert_same_bits(got, np.array(expected).reshape(shape, order="F"))


def recording(rng, spikes=60, sources=3, t0=5_000_000.0):
    """Spike times in 1 ms bins far from 0, on a 30 kHz clock, time-sorted,
    with repeats, and their sources (one of them silent)."""
    ticks = np.sort(rng.integers(0, 30 * 400, spikes))
    ticks[5:8] = ticks[5]
    spinds = t0 + ticks / 30.0
    ids = rng.choice([0, 2] if sources > 2 else [0], spikes).astype(float)
    return spinds, ids, t0


@pytest.mark.parametrize("targets, taps, sources", [
    (1, 1, 1), (4, 3, 3), (7, 20, 3), (2, 0, 2), (0, 5, 3)])
def test_each_row_is_the_population_sum_of_its_target(targets, taps, sources):
    rng = np.random.default_rng(targets * 100 + taps)
    spinds, ids, t0 = recording(rng, sources=sources)
    if sources < 3:
        ids = np.zeros_like(ids) + (sources - 1)
    twin = (t0 + 20, t0 + 380)
    bins = 361
    h = rng.standard_normal((targets, taps * sources))
    r = rng.standard_normal((targets, bins))
    y = trainfold_multi(spinds, ids, h, twin, sources)
    g = trainfold_multi_adjoint(spinds, ids, r, twin, taps, sources)
    assert y.shape == (targets, bins) and y.flags.f_contiguous
    assert g.shape == (targets, taps * sources) and g.flags.f_contiguous
    for k in range(targets):
        one = h[k].reshape((taps, sources), order="F")
        assert_same_bits(y[k][:, None],
                         trainfold_pop(spinds, ids, one, twin, sources))
        assert_same_bits(
            g[k], trainfold_pop_adjoint(spinds, ids, r[k], twin, taps,
                                        sources).ravel(order="F"))


def test_worked_examples_and_one_dimensional_arguments_are_one_target():
    spinds, ids = [8.0, 10.5, 13.2, 14.0], [0, 1, 0, 1]
    h = [[1.0, 2.0, 10.0, 20.0], [3.0, 4.0, 30.0, 40.0]]
    assert_same_bits(trainfold_multi(spinds, ids, h, (10, 13), 2),
                     np.array([[10.0, 20.0, 0.0, 1.0], [30.0, 40.0, 0.0, 3.0]]))
    r = [[1.0, 2.0, 4.0, 8.0], [16.0, 32.0, 64.0, 128.0]]
    assert_same_bits(trainfold_multi_adjoint(spinds, ids, r, (10, 13), 2, 2),
                     np.array([[8.0, 0.0, 1.0, 2.0], [128.0, 0.0, 16.0, 32.0]]))
    assert_same_bits(trainfold_multi(spinds, ids, h[0], (10, 13), 2),
                     trainfold_multi(spinds, ids, [h[0]], (10, 13), 2))
    assert_same_bits(trainfold_multi_adjoint(spinds, ids, r[1], (10, 13), 2, 2),
                     trainfold_multi_adjoint(spinds, ids, [r[1]], (10, 13), 2,
                                             2))


def test_ids_of_any_integer_dtype():
    """Source numbers as a recording's tables hold them (uint64, int32): the
    same bits as float ids."""
    rng = np.random.default_rng(9)
    spinds, ids, t0 = recording(rng)
    h = rng.standard_normal((2, 5 * 3))
    r = rng.standard_normal((2, 50))
    y = trainfold_multi(spinds, ids, h, (t0, t0 + 49), 3)
    g = trainfold_multi_adjoint(spinds, ids, r, (t0, t0 + 49), 5, 3)
    for dtype in (np.uint64, np.int32):
        assert_same_bits(trainfold_multi(spinds, ids.astype(dtype), h,
                                         (t0, t0 + 49), np.uint64(3)), y)
        assert_same_bits(trainfold_multi_adjoint(spinds, ids.astype(dtype), r,
                                                 (t0, t0 + 49), 5, 3), g)


def test_out_adds_from_its_values():
    rng = np.random.default_rng(5)
    spinds, ids, t0 = recording(rng)
    twin = (t0, t0 + 99)
    h = rng.standard_normal((3, 4 * 3))
    r = rng.standard_normal((3, 100))
    for call, args, shape in (
            (trainfold_multi, (spinds, ids, h, twin, 3), (3, 100)),
            (trainfold_multi_adjoint, (spinds, ids, r, twin, 4, 3), (3, 12))):
        start = np.asfortranarray(rng.standard_normal(shape))
        out = start.copy(order="F")
        assert call(*args, out=out) is out
        # Each spike alone, in list order, into the same array.
        expected = start.copy(order="F")
        for j in range(spinds.size):
            call(spinds[j:j + 1], ids[j:j + 1], *args[2:], out=expected)
        assert_same_bits(out, expected)


@pytest.mark.parametrize("out, error, match", [
    ([[0.0] * 4] * 2, TypeError, "numpy.ndarray"),
    (np.zeros((2, 4), dtype=np.float32), TypeError, "dtype float64"),
    (np.zeros((4, 2), order="F"), ValueError, r"shape \(2, 4\)"),
    (np.zeros(8), ValueError, "shape"),
    (np.zeros((2, 4)), ValueError, "Fortran"),
])
def test_out_refusals(out, error, match):
    with pytest.raises(error, match=match):
        trainfold_multi([10.0], [1], np.ones((2, 4)), (10, 13), 2, out=out)


@pytest.mark.parametrize("call, error, match", [
    (lambda: trainfold_multi([1.0], [0], np.ones((2, 3)), (0, 3), 2),
     ValueError, "same number of taps for each of nsources sources"),
    (lambda: trainfold_multi([1.0], [2], np.ones((2, 4)), (0, 3), 2),
     ValueError, "ids must be whole numbers from 0 to nsources - 1"),
    (lambda: trainfold_multi([1.0], [0], np.ones((2, 2, 2)), (0, 3), 2),
     ValueError, "a 1-D h_currents is one target"),
    (lambda: trainfold_multi([1.0], [0], np.ones((2, 2)), (0, 3)),
     TypeError, "nsources"),
    (lambda: trainfold_multi_adjoint([1.0], [0], np.ones((4, 2)), (0, 3), 2,
                                     1),
     ValueError, r"r must have one column per bin of the window: "
                 r"int\(twin\[1\]\) - int\(twin\[0\]\) \+ 1 columns"),
    (lambda: trainfold_multi_adjoint([1.0], [0], np.ones((2, 4)), (0, 3), 4,
                                     2**30),
     ValueError, r"more than 2\^31 - 1 columns \(ntaps \* nsources\)"),
    (lambda: trainfold_multi_adjoint([1.0], [0], np.ones((1, 1, 4)), (0, 3),
                                     2, 1),
     ValueError, "a 1-D r is one target"),
    (lambda: trainfold_multi_adjoint([1.0], ["a"], np.ones(4), (0, 3), 2, 1),
     TypeError, "ids must be an array of real numbers"),
])
def test_refusals(call, error, match):
    with pytest.raises(error, match=match):
        call()


@given(seed=st.integers(0, 2**32 - 1), targets=st.integers(1, 4),
       taps=st.integers(1, 12), sources=st.integers(1, 3),
       edges=st.lists(st.integers(1, 79), max_size=6))
def test_adjoint_accumulated_over_consecutive_windows(seed, targets, taps,
                                                      sources, edges):
    """The fit's use: the residuals of consecutive blocks of bins, in time
    order, each with the slice of the time-sorted spikes that can reach it,
    added into one out: the same bits as the whole window at once."""
    rng = np.random.default_rng(seed)
    t0 = 7_200_000.0
    ticks = np.sort(rng.integers(-30 * taps, 30 * 80, rng.integers(0, 40)))
    spinds = t0 + ticks / 30.0
    ids = rng.integers(0, sources, spinds.size).astype(float)
    r = rng.standard_normal((targets, 80))
    whole = trainfold_multi_adjoint(spinds, ids, r, (t0, t0 + 79), taps,
                                    sources)
    out = np.zeros((targets, taps * sources), order="F")
    bounds = [0] + sorted(set(edges)) + [80]
    for a, z in zip(bounds[:-1], bounds[1:]):
        first = np.searchsorted(spinds, t0 + a - taps + 1)
        last = np.searchsorted(spinds, t0 + z)
        trainfold_multi_adjoint(spinds[first:last], ids[first:last],
                                r[:, a:z], (t0 + a, t0 + z - 1), taps, sources,
                                out=out)
    assert_same_bits(out, whole)
