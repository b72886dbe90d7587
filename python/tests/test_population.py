"""trainfold_pop and trainfold_pop_adjoint: bits against the Python
generator's definitions, one source against the single-train functions, out=
(adding into a given array, and its refusals), and the id refusals."""
import numpy as np
import pytest

from conftest import assert_same_bits
from golden_reference import make_golden
from spike_bins import trainfold, trainfold_adjoint, trainfold_pop, \
    trainfold_pop_adjoint


def generator_case(index, adjoint):
    spinds, ids, h, taps, sources, outputs, twin, base = \
        make_golden.build_pop_case(index, adjoint)
    ids = [i - base for i in ids]  # Python numbers sources from 0
    if adjoint:
        g = make_golden.spike_filter_pop_adjoint(
            spinds, ids, h, taps, sources, outputs, twin, 0)
        return spinds, ids, h, taps, sources, outputs, twin, g
    y = make_golden.spike_filter_pop(spinds, ids, h, taps, sources, outputs,
                                     twin, 0)
    return spinds, ids, h, taps, sources, outputs, twin, y


@pytest.mark.parametrize("adjoint", [False, True])
def test_bits_of_the_generators_definition(adjoint):
    for index in range(300):
        spinds, ids, values, taps, n, k, twin, expected = \
            generator_case(index, adjoint)
        rows = int(twin[1]) - int(twin[0]) + 1
        if adjoint:
            r = np.array(values).reshape((rows, k), order="F")
            got = trainfold_pop_adjoint(spinds, ids, r, twin, taps, n)
            shape = (taps, n * k)
        else:
            h = np.array(values).reshape((taps, n * k), order="F")
            got = trainfold_pop(spinds, ids, h, twin, n)
            shape = (rows, k)
        assert_same_bits(got, np.array(expected).reshape(shape, order="F"))


def test_one_source_is_the_single_train_sum_and_out_adds():
    rng = np.random.default_rng(3)
    spinds = np.r_[rng.uniform(-5, 40, 30), np.nan, 3.0]
    h = rng.standard_normal((6, 2))
    r = rng.standard_normal((31, 2))
    ids = np.zeros(spinds.size)
    assert_same_bits(trainfold_pop(spinds, ids, h, (0, 30), 1),
                     trainfold(spinds, h, (0, 30)))
    assert_same_bits(trainfold_pop_adjoint(spinds, ids, r, (0, 30), 6, 1),
                     trainfold_adjoint(spinds, r, (0, 30), 6))
    # With out: each element starts at out's value and the spikes add in
    # list order, as one spike at a time into it does.
    taken = spinds[:np.argmax(~(spinds < 31))]
    start = np.asfortranarray(rng.standard_normal((31, 2)))
    out = start.copy(order="F")
    assert trainfold_pop(spinds, ids, h, (0, 30), 1, out=out) is out
    expected = start.copy(order="F")
    for s in taken:
        expected += trainfold([s], h, (0, 30))
    assert_same_bits(out, expected)
    out = np.asfortranarray(rng.standard_normal((6, 2)))
    expected = out.copy(order="F")
    trainfold_pop_adjoint(spinds, ids, r, (0, 30), 6, 1, out=out)
    for s in taken:
        expected += trainfold_adjoint([s], r, (0, 30), 6)
    assert_same_bits(out, expected)


@pytest.mark.parametrize("out, error, match", [
    ([[0.0]] * 4, TypeError, "numpy.ndarray"),
    (np.zeros((4, 1), dtype=np.float32), TypeError, "dtype float64"),
    (np.zeros((4, 2)), ValueError, "shape"),
    (np.zeros(4), ValueError, "shape"),
    (np.zeros((4, 2))[:, :1], ValueError, "Fortran"),
    (np.zeros((2, 4)).T[:, :1], None, None),
    (np.zeros((8, 1))[::2], ValueError, "Fortran"),
])
def test_out_refusals(out, error, match):
    if error is None:  # a 4 x 1 view that is Fortran-contiguous: accepted
        trainfold_pop([10.0], [1], np.ones((2, 2)), (10, 13), 2, out=out)
        assert out[0, 0] == 1.0
        return
    with pytest.raises(error, match=match):
        trainfold_pop([10.0], [1], np.ones((2, 2)), (10, 13), 2, out=out)


def test_out_read_only_or_sharing_memory():
    out = np.zeros((4, 1), order="F")
    out.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        trainfold_pop([10.0], [0], np.ones((2, 1)), (10, 13), 1, out=out)
    shared = np.zeros((4, 1), order="F")
    for args in (([10.0], [0], shared, (10, 13), 1),
                 (shared[:, 0], np.zeros(4), np.ones((2, 1)), (10, 13), 1)):
        with pytest.raises(ValueError, match="share memory"):
            trainfold_pop(*args, out=shared)
    with pytest.raises(ValueError, match="share memory"):
        trainfold_pop_adjoint([10.0], [0], shared, (10, 13), 4, 1, out=shared)


@pytest.mark.parametrize("ids", [[2], [-1], [0.5], [np.nan], [np.inf]])
def test_ids_outside_zero_to_n_minus_one(ids):
    message = r"ids must be whole numbers from 0 to nsources - 1"
    with pytest.raises(ValueError, match=message):
        trainfold_pop([10.0], ids, np.ones((2, 2)), (10, 13), 2)
    with pytest.raises(ValueError, match=message):
        trainfold_pop_adjoint([10.0], ids, np.ones(4), (10, 13), 2, 2)


def test_argument_refusals():
    with pytest.raises(ValueError, match="as many elements as spinds"):
        trainfold_pop([1.0, 2.0], [0], np.ones((2, 1)), (0, 3), 1)
    with pytest.raises(ValueError, match="multiple of nsources"):
        trainfold_pop([1.0], [0], np.ones((2, 3)), (0, 3), 2)
    with pytest.raises(ValueError, match="nsources must be a whole number"):
        trainfold_pop([1.0], [0], np.ones((2, 2)), (0, 3), 0)
    with pytest.raises(TypeError, match="ids must be an array of real"):
        trainfold_pop([1.0], ["a"], np.ones((2, 2)), (0, 3), 1)
    with pytest.raises(ValueError, match="nsources \\* r.shape\\[1\\]"):
        trainfold_pop_adjoint([1.0], [0], np.ones((4, 4)), (0, 3), 2, 2**30)
