"""spike_bins.tentfill2_adjoint and spike_bins.trainfold_adjoint: the
adjoint identity against the forwards, the golden bits of tests/golden (the
digests of the adjoints' input sets and the fusing-sensitive cases), the
refusals, and reading aligned Fortran float64 arguments in place."""
import re
import tracemalloc

import numpy as np
import pytest

from conftest import assert_same_bits
from golden_reference import GOLDEN_DIR, make_golden
from spike_bins import (tentfill2, tentfill2_adjoint, trainfold,
                        trainfold_adjoint)

COMMITTED = (GOLDEN_DIR / "golden_data.inc").read_text(encoding="utf-8")
GAMMA_UNIT = 2.0 ** -53


def gamma(n):
    return n * GAMMA_UNIT / (1 - n * GAMMA_UNIT)


def flat(y):
    return np.asarray(y).ravel(order="F").tolist()


# The identity within the rounding bound of tests/kernels/
# adjoint_identity_test.cpp: |<A h, r> - <h, A* r>| <= 2 gamma(n) S with
# S = <A |h|, |r|> and n the longest chain of roundings a term goes
# through (here the dot products are numpy's, pairwise: fewer roundings).
@pytest.mark.parametrize("seed", range(40))
def test_upsampling_identity(seed):
    rng = np.random.default_rng(seed)
    nbns = float(rng.choice([1, 2, 3, 4, 7, 10])) if seed % 2 else \
        float(rng.uniform(1.0, 12.0))
    m, n = int(rng.integers(1, 30)), int(rng.integers(1, 4))
    x = rng.standard_normal((m, n)) * 2.0 ** rng.integers(-8, 8, (m, n))
    r = rng.standard_normal((m * int(nbns), n))
    lhs = float(np.sum(tentfill2(x, nbns) * r))
    rhs = float(np.sum(x * tentfill2_adjoint(r, nbns)))
    s = float(np.sum(tentfill2(np.abs(x), nbns) * np.abs(r)))
    chain = 2 * int(nbns) + 3 + r.size
    assert abs(lhs - rhs) <= 2 * gamma(chain) * s * (1 + 2 * gamma(chain))


@pytest.mark.parametrize("seed", range(40))
def test_spike_sum_identity(seed):
    rng = np.random.default_rng(seed)
    t0 = int(rng.integers(-20, 20))
    t1 = t0 - 1 + int(rng.integers(0, 50))
    taps, cols = int(rng.integers(0, 20)), int(rng.integers(1, 4))
    spinds = rng.uniform(t0 - taps - 5, t1 + 5, int(rng.integers(0, 40)))
    if seed % 3:
        spinds.sort()  # otherwise unsorted, negative times included
    if seed % 5 == 0 and spinds.size:
        spinds[rng.integers(spinds.size)] = np.nan
    h = rng.standard_normal((taps, cols))
    r = rng.standard_normal((t1 - t0 + 1, cols))
    lhs = float(np.sum(trainfold(spinds, h, (t0, t1)) * r))
    rhs = float(np.sum(h * trainfold_adjoint(spinds, r, (t0, t1), taps)))
    s = float(np.sum(trainfold(spinds, np.abs(h), (t0, t1)) * np.abs(r)))
    chain = spinds.size + 2 + max(r.size, h.size)
    assert abs(lhs - rhs) <= 2 * gamma(chain) * s * (1 + 2 * gamma(chain))


def committed_digest(name):
    found = re.search(r'\{"%s", (\d+), 0x([0-9a-f]{16})ULL\}' % re.escape(name),
                      COMMITTED)
    return int(found.group(1)), int(found.group(2), 16)


def test_digests_of_the_adjoint_input_sets():
    upsample = [0, 0]
    for index in range(make_golden.ADJOINT_UPSAMPLE_CASES):
        r, rows, cols, nbns = make_golden.build_upsample_adjoint_case(index)
        r = np.array(r, dtype=np.float64).reshape((rows, cols), order="F")
        g = flat(tentfill2_adjoint(r, nbns))
        upsample[0] += len(g)
        upsample[1] = make_golden.digest_values(upsample[1], g)
    spike = [0, 0]
    for index in range(make_golden.ADJOINT_SPIKE_CASES):
        spinds, r, taps, cols, twin = make_golden.build_spike_case(index, True)
        rows = make_golden.truncate(twin[1]) - make_golden.truncate(twin[0]) + 1
        r = np.array(r, dtype=np.float64).reshape((rows, cols), order="F")
        g = flat(trainfold_adjoint(np.array(spinds, dtype=np.float64), r, twin,
                                   taps))
        spike[0] += len(g)
        spike[1] = make_golden.digest_values(spike[1], g)
    assert tuple(upsample) == committed_digest("upsample_bins_adjoint")
    assert tuple(spike) == committed_digest("spike_filter_sum_adjoint")


def test_adjoint_fusing_sensitive_cases():
    body = COMMITTED[COMMITTED.index("golden_adjoint_fusing_cases"):]
    cases = re.findall(r'\{"[^"]*",\s*0x([0-9a-f]{16})ULL,\s*(\d+),\s*(\d+),'
                       r'\s*\{([^}]*)\},\s*\{([^}]*)\}\}', body)
    assert len(cases) >= 10
    for nbns_bits, rows, cols, r_text, g_text in cases:
        rows, cols = int(rows), int(cols)
        words = lambda text: [int(w, 16) for w in re.findall(r"0x([0-9a-f]{16})", text)]
        nbns = float(np.array([int(nbns_bits, 16)], np.uint64).view(np.float64)[0])
        r = np.array(words(r_text), np.uint64).view(np.float64)
        expected = np.array(words(g_text), np.uint64).view(np.float64)
        g = tentfill2_adjoint(r.reshape((rows, cols), order="F"), nbns)
        assert_same_bits(g, expected.reshape((-1, cols), order="F"))


R8 = np.arange(1.0, 9.0)


@pytest.mark.parametrize("arguments, exception, message", [
    ((["a", "b"], 2), TypeError, "r must be an array of real numbers"),
    ((R8, "4"), TypeError, "nbns must be a real number"),
    ((R8, []), ValueError, "nbns is empty"),
    ((np.ones((2, 2, 2)), 1), ValueError, "r must have at most 2 dimensions"),
    ((R8, 0.5), ValueError, "nbns must be a number of at least 1"),
    ((R8, np.nan), ValueError, "nbns must be a number of at least 1"),
    ((R8, 2.0 ** 31), ValueError, "nbns must be a number of at least 1"),
    ((R8, 3), ValueError, "r must have a multiple of int(nbns) rows"),
])
def test_tentfill2_adjoint_refusal(arguments, exception, message):
    with pytest.raises(exception, match="^" + re.escape(message)):
        tentfill2_adjoint(*arguments)


T4 = (10, 13)


@pytest.mark.parametrize("arguments, exception, message", [
    (([[1.0, 2.0]], [1.0] * 4, T4, 3), ValueError,
     "spinds must be a 1-D array or a single column"),
    ((["a"], [1.0] * 4, T4, 3), TypeError, "spinds must be an array"),
    (([1.0], "r", T4, 3), TypeError, "r must be an array"),
    (([1.0], [1.0] * 4, "tw", 3), TypeError, "twin must be an array"),
    (([1.0], [1.0] * 4, T4, "3"), TypeError, "ntaps must be a real number"),
    (([1.0], [1.0] * 4, (10,), 3), ValueError, "twin must hold two values"),
    (([1.0], [1.0] * 4, T4, []), ValueError, "ntaps is empty"),
    (([1.0], np.ones((4, 1, 2)), T4, 3), ValueError,
     "r must have at most 2 dimensions"),
    (([1.0], [1.0] * 4, (np.nan, 13), 3), ValueError, "twin values must be"),
    (([1.0], [], (13, 10), 3), ValueError, "twin[1] must be at least"),
    (([1.0], [1.0] * 4, T4, -1), ValueError, "ntaps must be a whole number"),
    (([1.0], [1.0] * 4, T4, 2.5), ValueError, "ntaps must be a whole number"),
    (([1.0], [1.0] * 4, T4, np.nan), ValueError, "ntaps must be a whole number"),
    (([1.0], [1.0] * 4, T4, 2.0 ** 31), ValueError,
     "ntaps must be a whole number"),
    (([1.0], [1.0] * 5, T4, 3), ValueError,
     "r must have one row per bin of the window"),
])
def test_trainfold_adjoint_refusal(arguments, exception, message):
    with pytest.raises(exception, match="^" + re.escape(message)):
        trainfold_adjoint(*arguments)


def test_python_reports_a_wrong_argument_count():
    with pytest.raises(TypeError):
        tentfill2_adjoint(R8)
    with pytest.raises(TypeError):
        trainfold_adjoint([1.0], R8, T4)


def test_worked_examples_and_results_are_new_fortran_float64():
    g = tentfill2_adjoint(R8, 4)
    assert_same_bits(g, [[8.25], [21.75]])
    assert g.flags.f_contiguous and g.flags.owndata
    g = trainfold_adjoint([8.0, 10.5, 13.2, 14.0], [1.0, 2.0, 4.0, 8.0], T4, 3)
    assert_same_bits(g, [[9.0], [2.0], [5.0]])
    assert g.flags.f_contiguous and g.flags.owndata
    assert trainfold_adjoint([1.0], [1.0] * 4, T4, 0).shape == (0, 1)


def peak_bytes(call):
    tracemalloc.start()
    try:
        tracemalloc.reset_peak()
        call()
        return tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()


# An aligned Fortran float64 r (8 MB) is read in place: the peak is the
# result's size (1 MB, nbns 8; 8 taps x 8 columns) plus small change; a
# C-ordered r is converted once.
@pytest.mark.parametrize("layout, copies", [
    (np.asfortranarray, 0), (np.ascontiguousarray, 1)])
def test_r_is_copied_only_when_needed(layout, copies):
    mb = 2**20
    r = layout(np.ones((2**17, 8)))
    peak = peak_bytes(lambda: tentfill2_adjoint(r, 8))
    assert mb + copies * 8 * mb <= peak < mb + copies * 8 * mb + mb
    peak = peak_bytes(lambda: trainfold_adjoint([0.0, 5.0], r, (0, 2**17 - 1), 8))
    assert copies * 8 * mb <= peak < copies * 8 * mb + mb
