"""Argument handling: the refusals (type, text and order) and the array-likes
that are accepted, each compared with the same values passed as an aligned
Fortran-ordered float64 array."""
import re
import tracemalloc

import numpy as np
import pytest
import scipy.sparse

from conftest import assert_same_bits
from spike_bins import tentfill2, trainfold

# Python's own message for a wrong argument count.
ARGS = re.compile(r"(missing \d+ required positional argument|takes \d+ "
                  r"positional arguments but \d+ were given)")
TENTFILL_ARGS = TRAINFOLD_ARGS = ARGS
NUMBERS = ("must be an array of real numbers (bool, integer or float; not "
           "complex, text, objects or a sparse matrix)")
X_TYPE = "x " + NUMBERS
NBNS_TYPE = ("nbns must be a real number (bool, integer or float; not complex,"
             " text or objects)")
MASKED = re.compile(r"^(x|nbns|spinds|h_currents|twin) is a masked array with "
                    r"masked elements; pass \1\.filled\(value\) or select "
                    r"the unmasked elements first$")
TOO_LARGE = ("the result would be larger than this process can address (rows "
             "x columns x 8 bytes)")
NBNS_EMPTY = ("nbns is empty; it must hold the number of fine bins per coarse "
              "bin")
X_DIMS = "x must have at most 2 dimensions (a 1-D x is one column)"
X_SIZE = "x has more than 2^31 - 1 rows or columns"
NBNS_RANGE = ("nbns must be a number greater than -1 and less than 2^31 "
              "(not NaN or Inf)")
ROWS = ("the result would have more than 2^31 - 1 rows (x.shape[0] * "
        "int(nbns))")

COLUMN = "spinds must be a 1-D array or a single column of spike times"
SPINDS_TYPE = "spinds " + NUMBERS
H_TYPE = "h_currents " + NUMBERS
TWIN_TYPE = ("twin must be an array of real numbers (bool, integer or float; "
             "not complex, text or objects)")
TWIN_COUNT = "twin must hold two values, the first and last bin of the window"
H_DIMS = ("h_currents must have at most 2 dimensions (a 1-D h_currents is one "
          "filter)")
SIZES = "spinds or h_currents has more than 2^31 - 1 rows or columns"
TWIN_RANGE = ("twin values must be numbers within the 32-bit integer range "
              "(not NaN or Inf)")
TWIN_ORDER = ("twin[1] must be at least twin[0] - 1 (the window would have a "
              "negative number of rows)")
WINDOW = "the window twin[0] .. twin[1] has more than 2^31 - 1 bins"

X = np.asfortranarray([[0.5, -1.0], [1.25, 2.0], [3.0, 0.25]])
SPIKES = np.array([1.0, 2.5, 7.25])
H = np.asfortranarray([[1.0, 0.5], [0.25, -2.0], [4.0, 1.0 / 3.0]])
TWIN = (0.0, 9.0)
NAN, INF = float("nan"), float("inf")


def huge(shape):
    """An array of a huge shape that takes no memory (zero strides)."""
    return np.broadcast_to(0.0, shape)


TENTFILL_REFUSALS = [
    # (arguments, exception, message)
    ((), TypeError, TENTFILL_ARGS),
    ((X,), TypeError, TENTFILL_ARGS),
    ((X, 4, 1), TypeError, TENTFILL_ARGS),
    (("abc", 4), TypeError, X_TYPE),
    ((["a", "b"], 4), TypeError, X_TYPE),
    ((np.array([1 + 2j]), 4), TypeError, X_TYPE),
    ((scipy.sparse.csr_matrix(X), 4), TypeError, X_TYPE),
    (([[1.0, 2.0], [3.0]], 4), TypeError, X_TYPE),
    ((np.array(["2020-01-01"], dtype="datetime64[D]"), 4), TypeError, X_TYPE),
    ((np.array([1.0, None]), 4), TypeError, X_TYPE),
    ((X.astype(object), 4), TypeError, X_TYPE),
    ((np.ma.array(X, mask=X > 2), 4), ValueError, MASKED),
    ((X, np.ma.array([4.0], mask=[True])), ValueError, MASKED),
    ((X, [2**64, 1.5]), TypeError, NBNS_TYPE),  # a mixed object array
    ((X, "4"), TypeError, NBNS_TYPE),
    ((X, None), TypeError, NBNS_TYPE),
    ((X, 4j), TypeError, NBNS_TYPE),
    ((X, scipy.sparse.csr_matrix([[4.0]])), TypeError, NBNS_TYPE),
    ((X, []), ValueError, NBNS_EMPTY),
    ((X, np.zeros((0, 3))), ValueError, NBNS_EMPTY),
    ((np.zeros((2, 2, 2)), 4), ValueError, X_DIMS),
    ((huge((2**31,)), 4), ValueError, X_SIZE),
    ((huge((1, 2**31)), 4), ValueError, X_SIZE),
    ((X, NAN), ValueError, NBNS_RANGE),
    ((X, INF), ValueError, NBNS_RANGE),
    ((X, -INF), ValueError, NBNS_RANGE),
    ((X, -1), ValueError, NBNS_RANGE),
    ((X, -1.5), ValueError, NBNS_RANGE),
    ((X, 2.0**31), ValueError, NBNS_RANGE),
    ((X, 2**31), ValueError, NBNS_RANGE),
    ((X, 2**70), ValueError, NBNS_RANGE),
    ((X, -2**70), ValueError, NBNS_RANGE),
    ((huge((1, 2**31 - 1)), 2**31 - 1), ValueError, TOO_LARGE),
    ((huge((2**16, 1)), 2**15), ValueError, ROWS),
    ((huge((2**16, 1)), 2**15 + 0.5), ValueError, ROWS),
    # Order of the checks: the earlier one wins.
    (("abc", "abc"), TypeError, X_TYPE),
    ((np.zeros((2, 2, 2)), []), ValueError, NBNS_EMPTY),
    ((np.zeros((2, 2, 2)), NAN), ValueError, X_DIMS),
    ((huge((2**31,)), NAN), ValueError, X_SIZE),
]

TRAINFOLD_REFUSALS = [
    ((), TypeError, TRAINFOLD_ARGS),
    ((SPIKES, H), TypeError, TRAINFOLD_ARGS),
    ((SPIKES, H, TWIN, 1), TypeError, TRAINFOLD_ARGS),
    ((np.zeros((1, 3)), H, TWIN), ValueError, COLUMN),
    (([[1.0, 2.0, 3.0]], H, TWIN), ValueError, COLUMN),
    ((np.zeros((0, 2)), H, TWIN), ValueError, COLUMN),
    ((np.zeros((3, 1, 2)), H, TWIN), ValueError, COLUMN),
    ((["a"], H, TWIN), TypeError, SPINDS_TYPE),
    ((np.array([1j]), H, TWIN), TypeError, SPINDS_TYPE),
    ((SPIKES, "x", TWIN), TypeError, H_TYPE),
    ((SPIKES, scipy.sparse.csc_matrix(H), TWIN), TypeError, H_TYPE),
    ((SPIKES, H, "ab"), TypeError, TWIN_TYPE),
    ((SPIKES, H, [1 + 1j, 2]), TypeError, TWIN_TYPE),
    ((SPIKES, H, [5]), ValueError, TWIN_COUNT),
    ((SPIKES, H, []), ValueError, TWIN_COUNT),
    ((SPIKES, np.zeros((2, 2, 2)), TWIN), ValueError, H_DIMS),
    ((huge((2**31,)), H, TWIN), ValueError, SIZES),
    ((SPIKES, huge((2**31, 1)), TWIN), ValueError, SIZES),
    ((SPIKES, huge((1, 2**31)), TWIN), ValueError, SIZES),
    ((SPIKES, H, (NAN, 5)), ValueError, TWIN_RANGE),
    ((SPIKES, H, (0, INF)), ValueError, TWIN_RANGE),
    ((SPIKES, H, (2.0**31, 2.0**31)), ValueError, TWIN_RANGE),
    ((SPIKES, H, (-2.0**31 - 1, 0)), ValueError, TWIN_RANGE),
    ((SPIKES, H, (5, 3)), ValueError, TWIN_ORDER),
    ((SPIKES, H, (-2.0**31, 2.0**31 - 1)), ValueError, WINDOW),
    ((SPIKES, H, (0, 2**64)), ValueError, TWIN_RANGE),
    ((SPIKES, H, [2**70, 2**71]), ValueError, TWIN_RANGE),
    ((1.0, np.zeros((0, 2**31 - 1)), (0, 2**31 - 2)), ValueError, TOO_LARGE),
    ((np.ma.array(SPIKES, mask=[0, 1, 0]), H, TWIN), ValueError, MASKED),
    ((SPIKES, np.ma.array(H, mask=H < 0), TWIN), ValueError, MASKED),
    ((SPIKES, H, np.ma.array(TWIN, mask=[0, 1])), ValueError, MASKED),
    # Order of the checks: the column check looks only at the shape.
    ((np.array([["a", "b"]]), "x", "ab"), ValueError, COLUMN),
    ((["a"], "x", "ab"), TypeError, SPINDS_TYPE),
    ((SPIKES, H, [NAN]), ValueError, TWIN_COUNT),
    ((huge((2**31,)), H, (NAN, 1)), ValueError, SIZES),
    ((SPIKES, np.zeros((2, 2, 2)), (NAN, 1)), ValueError, H_DIMS),
]


def check_refusal(function, arguments, exception, message):
    with pytest.raises(exception) as caught:
        function(*arguments)
    if isinstance(message, re.Pattern):
        assert message.search(str(caught.value))
    else:
        assert str(caught.value) == message
    assert type(caught.value) is exception


@pytest.mark.parametrize("arguments, exception, message", TENTFILL_REFUSALS)
def test_tentfill2_refusal(arguments, exception, message):
    check_refusal(tentfill2, arguments, exception, message)


@pytest.mark.parametrize("arguments, exception, message", TRAINFOLD_REFUSALS)
def test_trainfold_refusal(arguments, exception, message):
    check_refusal(trainfold, arguments, exception, message)


def misaligned(values):
    """A float64 array whose data does not start on an 8-byte boundary."""
    values = np.ascontiguousarray(values, dtype=np.float64)
    raw = np.zeros(values.nbytes + 1, dtype=np.uint8)
    out = np.frombuffer(raw.data, dtype=np.float64, count=values.size,
                        offset=1).reshape(values.shape)
    out[...] = values
    assert not out.flags.aligned
    return out


# (argument as given, the same values as the canonical 2-D float64 array)
X_FORMS = [
    ([[0.5, -1.0], [1.25, 2.0], [3.0, 0.25]], X),
    (((0.5, -1.0), (1.25, 2.0), (3.0, 0.25)), X),
    (np.ascontiguousarray(X), X),
    (np.asfortranarray(np.repeat(X, 2, axis=0))[::2], X),
    (X.astype(">f8"), X),
    (misaligned(X), X),
    ([1.0, 2.5, -3.0], [[1.0], [2.5], [-3.0]]),
    (np.array([1, 2, -3], dtype=np.int8), [[1.0], [2.0], [-3.0]]),
    (np.array([True, False]), [[1.0], [0.0]]),
    (np.array([0.1, 0.7], dtype=np.float32),
     np.array([[0.1], [0.7]], dtype=np.float32).astype(np.float64)),
    (np.uint64(2**64 - 1), [[float(2**64 - 1)]]),
    (2.5, [[2.5]]),
    (np.zeros((0, 3)), np.zeros((0, 3))),
    (np.zeros((4, 0)), np.zeros((4, 0))),
    (np.ma.array(X), X),  # a masked array with nothing masked is its data
    (np.ma.array(X, mask=np.zeros_like(X, dtype=bool)), X),
    (2**53, [[float(2**53)]]),
]


@pytest.mark.parametrize("given, canonical", X_FORMS)
@pytest.mark.parametrize("nbns", [1, 3, 4.0, 2.5])
def test_tentfill2_accepts_array_likes(given, canonical, nbns):
    expected = tentfill2(np.asfortranarray(canonical, dtype=np.float64), nbns)
    assert_same_bits(tentfill2(given, nbns), expected)


# nbns is its first element in column-major order, of any numeric type.
@pytest.mark.parametrize("nbns", [
    3, 3.0, np.float32(3.0), np.int16(3), [3, 7], [[3, 7], [8, 9]],
    np.array([3.0]), (3,), np.array([[[3.0]]]),
])
def test_tentfill2_reads_the_first_value_of_nbns(nbns):
    assert_same_bits(tentfill2(X, nbns), tentfill2(X, 3.0))


def test_tentfill2_result_is_new_fortran_float64():
    for x, shape in [(X, (12, 2)), ([1.0, 2.0], (8, 1)), (5.0, (4, 1)),
                     (np.zeros((0, 2)), (0, 2)), (X, (0, 2))]:
        nbns = 0.5 if shape == (0, 2) and np.size(x) else 4
        y = tentfill2(x, nbns)
        assert y.shape == shape and y.dtype == np.float64
        assert y.flags.f_contiguous and y.flags.owndata and y.flags.writeable
        assert not np.may_share_memory(y, np.asarray(x))


SPINDS_FORMS = [
    ([1.0, 2.5, 7.25], SPIKES),
    ((1, 2.5, 7.25), SPIKES),
    (SPIKES[:, None], SPIKES),
    (np.array([1.0, 2.5, 7.25], dtype=np.float32), SPIKES),
    (np.array([1.0, 9.0, 2.5, 9.0, 7.25])[::2], SPIKES),
    (SPIKES.reshape(3, 1, 1), SPIKES),
    (misaligned(SPIKES), SPIKES),
    (2.5, [2.5]),
    (np.zeros((3, 0)), []),
    (np.zeros((0, 1)), []),
    ([], []),
]


@pytest.mark.parametrize("given, canonical", SPINDS_FORMS)
def test_trainfold_accepts_spike_time_forms(given, canonical):
    expected = trainfold(np.asarray(canonical, dtype=np.float64), H, TWIN)
    assert_same_bits(trainfold(given, H, TWIN), expected)


H_FORMS = [
    (np.ascontiguousarray(H), H),
    (H.tolist(), H),
    (H.astype(">f8"), H),
    (misaligned(H), H),
    (np.asfortranarray(np.repeat(H, 2, axis=1))[:, ::2], H),
    ([1.0, 0.25, 4.0], H[:, :1]),
    (np.array([1, 2, 3], dtype=np.uint8), [[1.0], [2.0], [3.0]]),
    (0.5, [[0.5]]),
    (np.zeros((0, 2)), np.zeros((0, 2))),
    (np.zeros((3, 0)), np.zeros((3, 0))),
]


@pytest.mark.parametrize("given, canonical", H_FORMS)
def test_trainfold_accepts_filter_forms(given, canonical):
    expected = trainfold(SPIKES, np.asfortranarray(canonical, np.float64), TWIN)
    assert_same_bits(trainfold(SPIKES, given, TWIN), expected)


# twin is its first two values in column-major order.
@pytest.mark.parametrize("twin", [
    (2, 8), [2.7, 8.9], np.array([[2.0], [8.0]]), np.array([[2.0, 8.0]]),
    np.array([[2.0, 5.0], [8.0, 6.0]]), (2, 8, 100), np.array([2, 8], np.int32),
])
def test_trainfold_reads_the_first_two_values_of_twin(twin):
    assert_same_bits(trainfold(SPIKES, H, twin), trainfold(SPIKES, H, (2., 8.)))


def test_trainfold_result_is_new_fortran_float64():
    for spinds, h, twin, shape in [(SPIKES, H, TWIN, (10, 2)),
                                   (SPIKES, [1.0], (5, 5), (1, 1)),
                                   (SPIKES, H, (5, 4), (0, 2)),
                                   ([], np.zeros((3, 0)), (0, 3), (4, 0))]:
        y = trainfold(spinds, h, twin)
        assert y.shape == shape and y.dtype == np.float64
        assert y.flags.f_contiguous and y.flags.owndata and y.flags.writeable
        assert not np.may_share_memory(y, np.asarray(h))


def peak_bytes(call):
    """Peak of the memory numpy allocates during call (numpy reports its
    data allocations to tracemalloc)."""
    tracemalloc.start()
    try:
        tracemalloc.reset_peak()
        call()
        return tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()


# A Fortran-ordered, aligned float64 argument is read in place; any other
# layout is converted once. The inputs here are 8 MB, the results 8 MB (nbns
# 1) or 64 bytes (one row of 8 filters).
@pytest.mark.parametrize("layout, copies", [
    (lambda a: np.asfortranarray(a), 0),
    (lambda a: np.ascontiguousarray(a), 1),
    (lambda a: misaligned(a.T).T, 1),  # Fortran order, not aligned
    (lambda a: np.asfortranarray(a).astype(">f8", order="F"), 1),
])
def test_matrix_arguments_are_copied_only_when_needed(layout, copies):
    mb = 2**20
    x = layout(np.ones((2**17, 8)))
    assert x.nbytes == 8 * mb and x.shape == (2**17, 8)
    peak = peak_bytes(lambda: tentfill2(x, 1))
    assert (1 + copies) * 8 * mb <= peak < (1 + copies) * 8 * mb + mb
    peak = peak_bytes(lambda: trainfold([0.0], x, (0, 0)))
    assert copies * 8 * mb <= peak < copies * 8 * mb + mb


def test_signatures_and_version_speak_python():
    import inspect
    import pathlib
    import spike_bins
    assert list(inspect.signature(tentfill2).parameters) == ["x", "nbns"]
    assert list(inspect.signature(trainfold).parameters) == [
        "spinds", "h_currents", "twin"]
    assert_same_bits(tentfill2(nbns=2, x=[1.0, 2.0]), tentfill2([1.0, 2.0], 2))
    with pytest.raises(TypeError, match="unexpected keyword argument"):
        tentfill2(X, bins=2)
    # The package's version is the project's (CMakeLists.txt's project()).
    cmake = pathlib.Path(__file__).resolve().parents[2] / "CMakeLists.txt"
    version = re.search(r"project\(spike_bins VERSION ([0-9.]+)",
                        cmake.read_text()).group(1)
    assert spike_bins.__version__ == version
