"""spike_bins against the independent Python reference, on inputs drawn by
hypothesis: ordinary and edge values (NaN, infinities, -0.0, subnormals,
huge), bin counts with fractions and below 1, spike times in and out of
order around windows given with fractions."""
import numpy as np
from hypothesis import given, strategies as st
from hypothesis.extra import numpy as hnp

from conftest import assert_same_bits
from golden_reference import reference_tentfill2, reference_trainfold
from spike_bins import tentfill2, trainfold

edge_values = st.sampled_from([
    0.0, -0.0, 1.0, -1.0, np.nan, np.inf, -np.inf, 5e-324, -5e-324,
    2.2250738585072014e-308, 1.7976931348623157e308, 0.1, 0.7, 1.0 / 3.0])
values = st.one_of(st.floats(-8.0, 8.0), st.floats(width=64), edge_values)
bin_counts = st.one_of(
    st.integers(0, 64).map(float),
    st.floats(-0.999, 70.0),
    st.sampled_from([2.5, 3.999, 6.75, 49.0, 129.0, 1.0 - 2**-53]))


@st.composite
def upsample_inputs(draw):
    rows = draw(st.integers(0, 9))
    cols = draw(st.integers(0, 4))
    x = draw(hnp.arrays(np.float64, (rows, cols), elements=values))
    if cols >= 2 and draw(st.booleans()):
        x[:, 1:] = x[:, :1]  # equal columns: the two forms side by side
    return x, draw(bin_counts)


@given(upsample_inputs())
def test_tentfill2_matches_the_reference(case):
    x, nbns = case
    expected = reference_tentfill2(x, nbns)
    assert_same_bits(tentfill2(np.asfortranarray(x), nbns), expected)
    if x.shape[1] == 1:
        assert_same_bits(tentfill2(x[:, 0], nbns), expected)


@st.composite
def spike_inputs(draw):
    first = draw(st.integers(-8, 30))
    last = draw(st.integers(first - 1, first + 40))
    fraction = st.floats(0.0, 0.49)
    twin = (first + np.copysign(draw(fraction), first),
            last + np.copysign(draw(fraction), last))
    taps = draw(st.integers(0, 12))
    filters = draw(st.integers(0, 3))
    h = draw(hnp.arrays(np.float64, (taps, filters), elements=values))
    near = st.floats(first - taps - 3.0, last + 4.0)
    times = draw(st.lists(st.one_of(near, near, near, edge_values,
                                    st.floats(width=64)), max_size=20))
    if draw(st.booleans()):
        times.sort(key=lambda t: (np.isnan(t), t))
    return np.array(times, dtype=np.float64), h, twin


@given(spike_inputs())
def test_trainfold_matches_the_reference(case):
    spinds, h, twin = case
    expected = reference_trainfold(spinds, h, twin)
    assert_same_bits(trainfold(spinds, np.asfortranarray(h), twin), expected)
    assert_same_bits(trainfold(spinds[:, None], h, list(twin)), expected)
