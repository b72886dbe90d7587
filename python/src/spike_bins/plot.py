"""Figures of a fitted spike_bins.glm.PopulationGLM: filters with their
bands, the coupling map with its Wald tests, and the time-rescaling KS plot.

matplotlib is optional for the package and imported only here, when a
figure is drawn (Debian: python3-matplotlib). Every function returns the
matplotlib Figure; nothing is shown or saved.
"""
import math

import numpy as np

GRID_NEURONS = 6  # filters(): an N x N grid of panels up to this many neurons


def _pyplot():
    try:
        import matplotlib.pyplot as plt
    except ImportError:
        raise ImportError("spike_bins.plot needs matplotlib (Debian: "
                          "python3-matplotlib)") from None
    return plt


def _lags_ms(model):
    """Lag of each filter tap in ms: tap k (1 .. H) acts k bins after a spike."""
    return np.arange(1, model.filters_.shape[0] + 1) * model.bin_size_ * 1000.0


def _one_filter(ax, lags, h, lower, upper, color="C0", label=None):
    if np.all(np.isfinite(lower)):
        ax.fill_between(lags, lower, upper, color=color, alpha=0.25, linewidth=0)
    ax.plot(lags, h, color=color, linewidth=1.2, label=label)
    ax.axhline(0.0, color="0.6", linewidth=0.6)


def filters(model, level=0.95, ax=None):
    """Each fitted filter with its pointwise band (model.filter_bands).

    ax None: a new figure, an N x N grid of panels (row: target neuron i,
    column: source j) up to GRID_NEURONS neurons (or without coupling),
    else one panel per neuron with its spike-history filter. ax a
    matplotlib Axes: the spike-history filters of all neurons in it.
    Lag in ms on the x axis, the log-rate change on the y axis; a band is
    missing where the filter has none (a dropped group lasso group)."""
    plt = _pyplot()
    lower, upper = model.filter_bands(level)
    h, lags = model.filters_, _lags_ms(model)
    n = h.shape[1]
    if ax is not None:
        for i in range(n):
            _one_filter(ax, lags, h[:, i, i], lower[:, i, i], upper[:, i, i],
                        color=f"C{i % 10}", label=f"neuron {i}")
        ax.set_xlabel("lag after a spike (ms)")
        ax.set_ylabel("log-rate change")
        ax.set_title(f"spike-history filters, {100 * level:g} % bands")
        return ax.figure
    if model.coupling_ and n <= GRID_NEURONS:
        fig, axes = plt.subplots(n, n, figsize=(2.4 * n + 1, 1.9 * n + 0.6),
                                 sharex=True, squeeze=False)
        for i in range(n):
            for j in range(n):
                a = axes[i, j]
                _one_filter(a, lags, h[:, j, i], lower[:, j, i], upper[:, j, i],
                            color="C3" if i == j else "C0")
                a.set_title(f"{j} \u2192 {i}" if i != j else f"history of {i}",
                            fontsize=9)
                if i == n - 1:
                    a.set_xlabel("lag (ms)")
        fig.suptitle(f"filters of source \u2192 target, {100 * level:g} % pointwise "
                     "bands")
    else:
        cols = math.ceil(math.sqrt(n))
        rows = math.ceil(n / cols)
        fig, axes = plt.subplots(rows, cols, figsize=(2.6 * cols + 1, 2 * rows + 0.6),
                                 sharex=True, squeeze=False)
        for k, a in enumerate(axes.flat):
            if k >= n:
                a.set_visible(False)
                continue
            _one_filter(a, lags, h[:, k, k], lower[:, k, k], upper[:, k, k],
                        color="C3")
            a.set_title(f"history of {k}", fontsize=9)
            a.set_xlabel("lag (ms)")
        fig.suptitle(f"spike-history filters, {100 * level:g} % pointwise bands")
    fig.tight_layout()
    return fig


def coupling(model, alpha=0.05):
    """An N x N map of coupling strength, row target i, column source j:
    the filter h_ji's value of largest magnitude (log-rate change), with a
    dot on the entries whose Wald test (model.coupling_pvalues_) rejects
    w_ji = 0 at level alpha. The diagonal (spike history) and couplings
    without a test (coupling off, dropped groups) are blank."""
    plt = _pyplot()
    if not 0 < alpha < 1:
        raise ValueError(f"alpha must be in (0, 1), got {alpha}")
    h = model.filters_
    n = h.shape[1]
    peak = np.take_along_axis(h, np.abs(h).argmax(axis=0)[None], axis=0)[0]  # [j, i]
    p = model.coupling_pvalues_
    strength = np.where(np.isfinite(p), peak, np.nan).T  # rows: targets
    fig, ax = plt.subplots(figsize=(3 + 0.35 * n, 2.5 + 0.3 * n))
    top = np.nanmax(np.abs(strength)) if np.isfinite(strength).any() else 1.0
    image = ax.imshow(strength, cmap="RdBu_r", vmin=-top, vmax=top,
                      interpolation="nearest")
    fig.colorbar(image, ax=ax, label="peak of h_ji (log-rate change)")
    targets, sources = np.nonzero(p.T < alpha)
    ax.plot(sources, targets, "k.", markersize=6)
    step = max(1, n // 10)
    ax.set_xticks(range(0, n, step))
    ax.set_yticks(range(0, n, step))
    ax.set_xlabel("source neuron j")
    ax.set_ylabel("target neuron i")
    ax.set_title(f"coupling (dots: Wald p < {alpha:g})")
    fig.tight_layout()
    return fig


def ks(result):
    """The KS plot of a time-rescaling result (model.time_rescaling): per
    neuron the sorted rescaled intervals against the uniform quantiles
    (k - 0.5) / n, with the diagonal and the 95 % band 1.36 / sqrt(n)."""
    plt = _pyplot()
    n = len(result.rescaled)
    cols = math.ceil(math.sqrt(n))
    rows = math.ceil(n / cols)
    fig, axes = plt.subplots(rows, cols, figsize=(2.4 * cols + 0.6, 2.4 * rows + 0.6),
                             squeeze=False)
    form = "discrete" if result.corrected else "continuous"
    for k, a in enumerate(axes.flat):
        if k >= n:
            a.set_visible(False)
            continue
        z = np.sort(result.rescaled[k])
        q = (np.arange(1, z.size + 1) - 0.5) / max(z.size, 1)
        grid = np.array([0.0, 1.0])
        a.plot(grid, grid, color="0.4", linewidth=0.8)
        if z.size:
            b = result.band[k]
            a.plot(grid, grid + b, "k--", linewidth=0.6)
            a.plot(grid, grid - b, "k--", linewidth=0.6)
            a.plot(q, z, color="C3", linewidth=1.2)
        a.set_xlim(0, 1)
        a.set_ylim(0, 1)
        a.set_aspect("equal")
        a.set_title(f"neuron {k}: p = {result.ks_pvalue[k]:.2g}", fontsize=9)
        a.set_xlabel("uniform quantile")
        a.set_ylabel("rescaled interval")
    fig.suptitle(f"time rescaling ({form} form), 95 % bands")
    fig.tight_layout()
    return fig
