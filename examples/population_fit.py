#!/usr/bin/env python3
"""Worked fit: Poisson GLMs of a simulated population, without a design matrix.

    python3 examples/population_fit.py [--neurons 20] [--seconds 3600]
                                       [--figures DIR] [--cv] [--check]
                                       [--n-jobs -1] [--verbose]

Simulates N neurons over one hour of 1 ms bins (a fixed seed), each driven by
a coarse stimulus (10 ms samples upsampled with tentfill2), its own spike
history and coupling from the other neurons, with filters built from a
raised-cosine basis; then fits the recording with glm.PopulationGLM (drive
and gradient from tentfill2/trainfold and their adjoints). Prints each
neuron's recovered errors and score and writes two figures: true
against fitted filters, and a raster with the fitted rate. --cv chooses a
group-lasso alpha by cross-validation (glm.PopulationGLMCV) instead.

--n-jobs: threads that fit neurons at once (default -1: every core; the
parameters are the same bits for any count). --verbose: a line per neuron
with the time left.

--check runs a small population and exits non-zero unless the fit recovers
the filters within the bounds below and both figures are written.
"""
import argparse
import os
import sys
import time

import numpy as np

from spike_bins import glm

CHECK = {"neurons": 3, "seconds": 600, "seed": 3}
# Bounds for the check size: several times the errors it gives, far below
# those of a fit that ignores the history or the stimulus (near 1).
CHECK_BOUNDS = {"bias": 0.1, "stimulus": 0.2, "history": 0.4, "coupling": 0.6}
NAMES = ("bias", "stimulus", "history", "coupling")


def recording(pop):
    """Spike times (s, bin centres) and fit arguments of a simulated population."""
    return {"spike_times": [(s + 0.5) * 0.001 for s in pop.spikes],
            "duration": pop.nbins / 1000, "stimulus": pop.stimulus,
            "stimulus_rate": 1000 / pop.nbns}


def report(pop, truth, model, seconds):
    errors = [glm.filter_errors(pop, truth[i], model.weights_[i], i)
              for i in range(pop.nneurons)]
    bits = model.score(**recording(pop))  # in-sample here
    print(f"population fit: {pop.nneurons} neurons, {pop.nbins} bins of 1 ms, "
          f"stimulus {pop.stimulus.size} samples x {pop.nbns} bins, "
          f"{pop.basis.shape[1]} raised cosines over {pop.basis.shape[0]} taps")
    print(f"fit time {seconds:.1f} s, {int(model.n_iter_.sum())} iterations "
          f"({model.weights_.shape[1]} parameters per neuron)")
    print("neuron  spikes  iters  bits/spike  " + "  ".join(f"{n:>9}" for n in NAMES))
    for i, e in enumerate(errors):
        print(f"{i:6d}  {pop.spikes[i].size:6d}  {model.n_iter_[i]:5d}  {bits[i]:10.4f}  "
              + "  ".join(f"{e[n]:9.4f}" for n in NAMES))
    medians = {n: float(np.median([e[n] for e in errors])) for n in NAMES}
    print("median                          "
          + "  ".join(f"{medians[n]:9.4f}" for n in NAMES))
    print("(bias: absolute error; filters: relative L2 error over taps, coupling "
          "over all sources together; bits/spike: in-sample, against a constant rate)")
    return medians


def figures(pop, truth, model, folder):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    os.makedirs(folder, exist_ok=True)
    shown = min(pop.nneurons, 3)
    fig, axes = plt.subplots(shown, 3, figsize=(11, 2.6 * shown), squeeze=False)
    e = int(pop.nbns)
    taps = np.arange(1, model.filters_.shape[0] + 1)  # lag k bins = k ms
    for i in range(shown):
        _, k0, w0 = pop.split(truth[i])
        lags = (glm.STIMULUS_DELAY + np.arange(k0.size)) * e
        ax = axes[i, 0]
        ax.plot(lags, k0, "k-o", label="true")
        ax.plot(lags, model.stimulus_filters_[:, 0, i], "r--s", label="fitted")
        ax.set_title(f"neuron {i}: stimulus filter")
        ax.set_xlabel(f"lag (ms, samples of {e} ms)")
        j = int(np.argmax([np.abs(w0[s]).sum() if s != i else -1
                           for s in range(pop.nneurons)]))
        for ax, src, what in [(axes[i, 1], i, "spike history"),
                              (axes[i, 2], j, f"coupling from neuron {j}")]:
            ax.plot(taps, pop.basis @ w0[src], "k-", label="true")
            ax.plot(taps, model.filters_[:, src, i], "r--", label="fitted")
            ax.set_title(f"neuron {i}: {what}")
            ax.set_xlabel("lag after a spike (ms)")
    axes[0, 0].legend(loc="best")
    fig.tight_layout()
    filters_png = os.path.join(folder, "population_filters.png")
    fig.savefig(filters_png, dpi=80)
    plt.close(fig)

    start, stop = pop.nbins // 2, pop.nbins // 2 + 2000
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(11, 5), sharex=True,
                                      gridspec_kw={"height_ratios": [2, 1]})
    for i in range(pop.nneurons):
        s = pop.spikes[i]
        s = s[(s >= start) & (s < stop)]
        top.vlines(s / 1000, i - 0.4, i + 0.4, color="k", linewidth=0.8)
    top.set_ylabel("neuron")
    top.set_ylim(-0.6, pop.nneurons - 0.4)
    top.set_yticks(range(0, pop.nneurons, max(1, pop.nneurons // 10)))
    top.set_title("spikes, 2 s of the recording")
    t = np.arange(start, stop) / 1000
    true_rate = np.exp(glm.log_rate(pop, truth[0])[start:stop]) * 1000
    fitted_rate = model.predict_rate(**recording(pop))[start:stop, 0] * 1000
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

    pop, truth = glm.simulate(nneurons=args.neurons,
                              nbins=int(args.seconds * 1000), seed=args.seed)
    shape = {"history_taps": pop.basis.shape[0], "n_basis": pop.basis.shape[1],
             "stimulus_lags": pop.stim_lags, "n_jobs": args.n_jobs,
             "verbose": args.verbose}
    if args.cv:
        model = glm.PopulationGLMCV(alphas=(0.0, 1e-6, 1e-5, 1e-4, 1e-3), **shape)
    else:
        model = glm.PopulationGLM(**shape)
    start = time.perf_counter()
    model.fit(**recording(pop))
    seconds = time.perf_counter() - start
    if args.cv:
        print("cross-validation: held-out log-likelihood per alpha "
              + ", ".join(f"{a:g}: {s:.1f}" for a, s in
                          zip(model.alphas, model.cv_scores_.sum(axis=1)))
              + f"; chose alpha {model.alpha_:g}")
    medians = report(pop, truth, model, seconds)
    pngs = figures(pop, truth, model, args.figures)
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
