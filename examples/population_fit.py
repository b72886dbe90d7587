#!/usr/bin/env python3
"""Worked fit: Poisson GLMs of a simulated population, without a design matrix.

    python3 examples/population_fit.py [--neurons 20] [--seconds 3600]
                                       [--figures DIR] [--cv] [--check]
                                       [--n-jobs -1] [--verbose]

Simulates N neurons over one hour of 1 ms bins (a fixed seed) with
glm.draw_spikes, each driven by a coarse stimulus (10 ms samples upsampled
with tentfill2), its own spike history and coupling from the other neurons,
with filters built from a raised-cosine basis; then fits the recording with
glm.PopulationGLM (drive and gradient from tentfill2/trainfold and their
adjoints). Prints each neuron's recovered errors and score and writes two
figures: true against fitted filters, and a raster with the fitted rate;
then three of spike_bins.plot: the fitted filters with their 95 % bands,
the coupling map with its Wald tests, and the time-rescaling KS plot. --cv
chooses a group-lasso alpha by cross-validation (glm.PopulationGLMCV)
instead.

--n-jobs: threads that fit neurons at once (default -1: every core; the
parameters are the same bits for any count). --verbose: a line per neuron
with the time left.

--check runs a small population and exits non-zero unless the fit recovers
the filters within the bounds below and the figures are written.
"""
import argparse
import math
import os
import sys
import time

import numpy as np

import spike_bins
from spike_bins import glm

CHECK = {"neurons": 3, "seconds": 600, "seed": 3}
# Bounds for the check size: several times the errors it gives, far below
# those of a fit that ignores the history or the stimulus (near 1).
CHECK_BOUNDS = {"bias": 0.1, "stimulus": 0.2, "history": 0.4, "coupling": 0.6}
NAMES = ("bias", "stimulus", "history", "coupling")
TAPS, NBASIS, LAGS = 100, 5, 5  # history taps (1 ms), basis size, stimulus lags
E = 10  # fine bins (1 ms) per stimulus sample
RATE = 0.006  # typical spikes per bin


def true_model(rng, n, basis):
    """The population's parameters: history filters that are refractory then
    mildly excitatory, sparse weak coupling, biphasic stimulus filters. A
    dict of bias (N,), stimulus filters (LAGS, N), filters (TAPS, N
    sources, N targets) and weights (N, P), laid out as PopulationGLM's
    fitted attributes."""
    nb = basis.shape[1]
    weights = np.empty((n, 1 + LAGS + n * nb))
    shape = np.cos(np.linspace(0, 1.5 * math.pi, LAGS)) * np.exp(-np.arange(LAGS) / LAGS)
    history = np.linspace(-1.5, 0.5, nb)
    history[-1] = 0.0
    bias, stimulus = np.empty(n), np.empty((LAGS, n))
    filters = np.empty((basis.shape[0], n, n))
    for i in range(n):
        linked = rng.random((n, 1)) < 0.4
        linked[(i + 1) % n] = True  # every neuron has one input at least
        # Past 20 neurons the coupling weakens so that the summed input, and
        # the population's stability, stay as at 20.
        w = rng.normal(0.0, 0.3 * min(1.0, math.sqrt(20 / n)), (n, nb)) * linked
        w[i] = history + rng.normal(0.0, 0.1, nb)
        bias[i] = math.log(RATE) + rng.normal(0.0, 0.2)
        stimulus[:, i] = rng.uniform(0.3, 0.6) * rng.choice([-1, 1]) * shape
        filters[:, :, i] = basis @ w.T  # column j: the filter of source j onto i
        weights[i] = np.r_[bias[i], stimulus[:, i], w.ravel()]
    return {"bias": bias, "stimulus": stimulus, "filters": filters, "weights": weights}


def coarse_drives(stimulus, truth):
    """M x N stimulus drives u_i(c) = sum_l K[l, i] x(c - delay - l)."""
    m, d = stimulus.size, glm.STIMULUS_DELAY
    delayed = np.zeros(m)
    delayed[d:] = stimulus[:m - d]
    k = truth["stimulus"]
    u = np.zeros((m, k.shape[1]), order="F")
    for i in range(k.shape[1]):
        for lag in range(k.shape[0]):
            u[lag:, i] += k[lag, i] * delayed[:m - lag]
    return u


def simulate(neurons, seconds, seed):
    """A recording drawn from the true model: spike bins per neuron, the
    stimulus, the truth and its stimulus drives."""
    rng = np.random.default_rng(seed)
    basis = glm.raised_cosine_basis(TAPS, NBASIS)
    stimulus = rng.standard_normal(int(seconds * 1000) // E)
    truth = true_model(rng, neurons, basis)
    coarse = coarse_drives(stimulus, truth)
    bins, owners = glm.draw_spikes(stimulus.size * E, truth["bias"], coarse, E,
                                   truth["filters"], rng)
    spikes = [bins[owners == i] for i in range(neurons)]
    return {"spikes": spikes, "stimulus": stimulus, "truth": truth, "coarse": coarse,
            "nbins": stimulus.size * E}


def recording(sim):
    """Spike times (s, bin centres) and fit arguments of the simulation."""
    return {"spike_times": [(s + 0.5) * 0.001 for s in sim["spikes"]],
            "duration": sim["nbins"] / 1000, "stimulus": sim["stimulus"],
            "stimulus_rate": 1000 / E}


def errors(sim, model, i):
    """Bias: absolute error; filters of neuron i: relative L2 errors over
    taps (coupling: all other sources together)."""
    return weight_errors(sim, model.weights_[i], i)


def weight_errors(sim, theta, i):
    """errors() of neuron i's parameter vector theta (a row of weights_)."""
    truth = sim["truth"]
    n = truth["bias"].size
    others = [j for j in range(n) if j != i]
    basis = glm.raised_cosine_basis(TAPS, NBASIS)

    def rel(a, b):
        return float(np.linalg.norm(b - a) / np.linalg.norm(a))

    f0 = truth["filters"][:, :, i]
    f1 = basis @ np.reshape(theta[1 + LAGS:], (n, NBASIS)).T  # TAPS x sources
    return {"bias": abs(float(theta[0] - truth["bias"][i])),
            "stimulus": rel(truth["stimulus"][:, i], theta[1:1 + LAGS]),
            "history": rel(f0[:, i], f1[:, i]),
            "coupling": rel(f0[:, others], f1[:, others]) if others else 0.0}


def true_log_rate(sim, i):
    """The true model's log rate of neuron i given the drawn spikes: bias,
    plus tentfill2 of its stimulus drive, plus one trainfold_pop pass over
    all neurons' spikes (each acting from the bin after it)."""
    n = len(sim["spikes"])
    eta = spike_bins.tentfill2(sim["coarse"][:, i], E)
    eta += sim["truth"]["bias"][i]
    merged = np.concatenate(sim["spikes"]) + 1.0
    ids = np.repeat(np.arange(n), [s.size for s in sim["spikes"]]).astype(float)
    order = np.argsort(merged, kind="stable")
    spike_bins.trainfold_pop(merged[order], ids[order],
                             np.asfortranarray(sim["truth"]["filters"][:, :, i]),
                             (0, sim["nbins"] - 1), n, out=eta)
    return eta[:, 0]


def report(sim, model, seconds):
    n = len(sim["spikes"])
    errs = [errors(sim, model, i) for i in range(n)]
    bits = model.score(**recording(sim))  # in-sample here
    print(f"population fit: {n} neurons, {sim['nbins']} bins of 1 ms, "
          f"stimulus {sim['stimulus'].size} samples x {E} bins, "
          f"{NBASIS} raised cosines over {TAPS} taps")
    print(f"fit time {seconds:.1f} s, {int(model.n_iter_.sum())} iterations "
          f"({model.weights_.shape[1]} parameters per neuron)")
    print("neuron  spikes  iters  bits/spike  " + "  ".join(f"{n:>9}" for n in NAMES))
    for i, e in enumerate(errs):
        print(f"{i:6d}  {sim['spikes'][i].size:6d}  {model.n_iter_[i]:5d}  "
              f"{bits[i]:10.4f}  " + "  ".join(f"{e[n]:9.4f}" for n in NAMES))
    medians = {n: float(np.median([e[n] for e in errs])) for n in NAMES}
    print("median                          "
          + "  ".join(f"{medians[n]:9.4f}" for n in NAMES))
    print("(bias: absolute error; filters: relative L2 error over taps, coupling "
          "over all sources together; bits/spike: in-sample, against a constant rate)")
    return medians


def figures(sim, model, folder):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    os.makedirs(folder, exist_ok=True)
    truth, n = sim["truth"], len(sim["spikes"])
    shown = min(n, 3)
    fig, axes = plt.subplots(shown, 3, figsize=(11, 2.6 * shown), squeeze=False)
    taps = np.arange(1, model.filters_.shape[0] + 1)  # lag k bins = k ms
    for i in range(shown):
        k0 = truth["stimulus"][:, i]
        lags = (glm.STIMULUS_DELAY + np.arange(k0.size)) * E
        ax = axes[i, 0]
        ax.plot(lags, k0, "k-o", label="true")
        ax.plot(lags, model.stimulus_filters_[:, 0, i], "r--s", label="fitted")
        ax.set_title(f"neuron {i}: stimulus filter")
        ax.set_xlabel(f"lag (ms, samples of {E} ms)")
        f0 = truth["filters"][:, :, i]
        j = int(np.argmax([np.abs(f0[:, s]).sum() if s != i else -1 for s in range(n)]))
        for ax, src, what in [(axes[i, 1], i, "spike history"),
                              (axes[i, 2], j, f"coupling from neuron {j}")]:
            ax.plot(taps, f0[:, src], "k-", label="true")
            ax.plot(taps, model.filters_[:, src, i], "r--", label="fitted")
            ax.set_title(f"neuron {i}: {what}")
            ax.set_xlabel("lag after a spike (ms)")
    axes[0, 0].legend(loc="best")
    fig.tight_layout()
    filters_png = os.path.join(folder, "population_filters.png")
    fig.savefig(filters_png, dpi=80)
    plt.close(fig)

    start, stop = sim["nbins"] // 2, sim["nbins"] // 2 + 2000
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(11, 5), sharex=True,
                                      gridspec_kw={"height_ratios": [2, 1]})
    for i in range(n):
        s = sim["spikes"][i]
        s = s[(s >= start) & (s < stop)]
        top.vlines(s / 1000, i - 0.4, i + 0.4, color="k", linewidth=0.8)
    top.set_ylabel("neuron")
    top.set_ylim(-0.6, n - 0.4)
    top.set_yticks(range(0, n, max(1, n // 10)))
    top.set_title("spikes, 2 s of the recording")
    t = np.arange(start, stop) / 1000
    true_rate = np.exp(true_log_rate(sim, 0)[start:stop]) * 1000
    fitted_rate = model.predict_rate(**recording(sim))[start:stop, 0] * 1000
    bottom.plot(t, true_rate, "k-", linewidth=0.8, label="true")
    bottom.plot(t, fitted_rate, "r-", linewidth=0.8, alpha=0.7, label="fitted")
    bottom.set_ylabel("neuron 0 rate (Hz)")
    bottom.set_xlabel("time (s)")
    bottom.ticklabel_format(axis="x", useOffset=False)
    bottom.legend(loc="upper right")
    fig.tight_layout()
    raster_png = os.path.join(folder, "population_raster.png")
    fig.savefig(raster_png, dpi=80)
    plt.close(fig)
    return filters_png, raster_png


def uncertainty(sim, model, folder):
    """The standard errors and the time-rescaling test, timed, and their
    figures (spike_bins.plot)."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from spike_bins import plot

    n = len(sim["spikes"])
    start = time.perf_counter()
    se = model.standard_errors_
    pvalues = model.coupling_pvalues_
    middle = time.perf_counter()
    ks = model.time_rescaling(**recording(sim), seed=0)
    stop = time.perf_counter()
    found = int(np.sum(pvalues < 0.05))
    print(f"standard errors: {middle - start:.1f} s ({se.size} of them); couplings "
          f"with p < 0.05: {found} of {pvalues.size - n}")
    print(f"time rescaling: {stop - middle:.1f} s; KS p < 0.05 for "
          f"{int(np.sum(ks.ks_pvalue < 0.05))} of {n} neurons")
    pngs = []
    for name, fig in (("population_bands.png", plot.filters(model)),
                      ("population_coupling.png", plot.coupling(model)),
                      ("population_ks.png", plot.ks(ks))):
        pngs.append(os.path.join(folder, name))
        fig.savefig(pngs[-1], dpi=80)
        plt.close(fig)
    return pngs


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--neurons", type=int, default=20)
    parser.add_argument("--seconds", type=float, default=3600)
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--figures", default="population_figures")
    parser.add_argument("--cv", action="store_true",
                        help="choose a group-lasso alpha by 5-fold cross-validation")
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--n-jobs", type=int, default=-1)
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args(argv)
    if args.check:
        args.neurons, args.seconds, args.seed = (
            CHECK["neurons"], CHECK["seconds"], CHECK["seed"])

    sim = simulate(args.neurons, args.seconds, args.seed)
    shape = {"history_taps": TAPS, "n_basis": NBASIS, "stimulus_lags": LAGS,
             "n_jobs": args.n_jobs, "verbose": args.verbose}
    if args.cv:
        model = glm.PopulationGLMCV(alphas=(0.0, 1e-6, 1e-5, 1e-4, 1e-3), **shape)
    else:
        model = glm.PopulationGLM(**shape)
    start = time.perf_counter()
    model.fit(**recording(sim))
    seconds = time.perf_counter() - start
    if args.cv:
        print("cross-validation: held-out log-likelihood per alpha "
              + ", ".join(f"{a:g}: {s:.1f}" for a, s in
                          zip(model.alphas, model.cv_scores_.sum(axis=1)))
              + f"; chose alpha {model.alpha_:g}")
    medians = report(sim, model, seconds)
    pngs = figures(sim, model, args.figures)
    pngs = list(pngs) + uncertainty(sim, model, args.figures)
    for png in pngs:
        print("wrote", png)
    if args.check:
        failed = [n for n, bound in CHECK_BOUNDS.items() if not medians[n] < bound]
        failed += [p for p in pngs if os.path.getsize(p) < 10000]
        if failed:
            print("check failed:", ", ".join(failed))
            return 1
        print("check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
