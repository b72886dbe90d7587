"""spike_bins.plot: the figures of a fitted PopulationGLM are drawn from
its bands, Wald tests and time-rescaling result, headless."""
import sys

import numpy as np
import pytest

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")

from spike_bins import plot  # noqa: E402
from spike_bins.glm import PopulationGLM  # noqa: E402
from test_population_inference import SHAPE, fit_args, recording  # noqa: E402


@pytest.fixture(scope="module")
def fitted():
    nbins = 20000
    spikes, stim = recording(21, nbins)
    pos, args = fit_args(spikes, stim, nbins)
    model = PopulationGLM(tol=1e-9, **SHAPE).fit(*pos, **args)
    return model, model.time_rescaling(*pos, seed=0, **args)


def lines_of(ax):
    return [line.get_ydata() for line in ax.get_lines()]


def test_filter_grid_draws_each_filter_with_its_band(fitted):
    import matplotlib.pyplot as plt
    model, _ = fitted
    fig = plot.filters(model, level=0.9)
    axes = fig.axes
    assert len(axes) == 9
    lower, upper = model.filter_bands(0.9)
    ax = axes[1 * 3 + 0]  # row: target 1, column: source 0
    assert any(np.array_equal(y, model.filters_[:, 0, 1]) for y in lines_of(ax))
    band = ax.collections[0].get_paths()[0].vertices[:, 1]
    assert np.isclose(band.min(), lower[:, 0, 1].min())
    assert np.isclose(band.max(), upper[:, 0, 1].max())
    plt.close(fig)
    fig, ax = plt.subplots()
    assert plot.filters(model, ax=ax) is fig
    assert len(ax.get_lines()) >= 3
    plt.close(fig)


def test_coupling_map_marks_the_significant_entries(fitted):
    import matplotlib.pyplot as plt
    model, _ = fitted
    fig = plot.coupling(model, alpha=0.01)
    image = fig.axes[0].get_images()[0].get_array()
    assert np.ma.is_masked(image[0, 0]) or np.isnan(image[0, 0])  # no self-coupling
    dots = fig.axes[0].get_lines()[0]
    expected = np.argwhere(model.coupling_pvalues_.T < 0.01)
    got = np.column_stack([dots.get_ydata(), dots.get_xdata()])
    assert np.array_equal(got, expected)
    assert [1, 0] in expected.tolist()  # the coupling 0 -> 1 of the recording
    plt.close(fig)
    with pytest.raises(ValueError, match="alpha"):
        plot.coupling(model, alpha=1.5)


def test_ks_plot_has_a_panel_per_neuron(fitted):
    import matplotlib.pyplot as plt
    _, result = fitted
    fig = plot.ks(result)
    shown = [a for a in fig.axes if a.get_visible()]
    assert len(shown) == 3
    z = lines_of(shown[2])[-1]
    assert np.array_equal(z, np.sort(result.rescaled[2]))
    plt.close(fig)


def test_missing_matplotlib_is_named(fitted, monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)
    with pytest.raises(ImportError, match="python3-matplotlib"):
        plot.ks(fitted[1])
