#!/usr/bin/env python3
"""Worked fit: Poisson GLMs of a simulated population, without a design matrix.

    python3 examples/population_fit.py [--neurons 20] [--seconds 3600]
                                       [--figures DIR] [--check]

Simulates N neurons over one hour of 1 ms bins (a fixed seed), each driven by
a coarse stimulus (10 ms bins upsampled with tentfill2), its own spike history
and coupling from the other neurons, with filters built from a raised-cosine
basis; then fits every neuron by maximum likelihood with L-BFGS-B, drive and
gradient from tentfill2/trainfold and their adjoints (spike_bins.glm). Prints
each neuron's recovered errors and writes two figures: true against fitted
filters, and a raster with the fitted rate.

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


def fit_all(pop):
    thetas, evaluations = [], []
    for i in range(pop.nneurons):
        theta, nfev = glm.fit_neuron(pop, i)
        thetas.append(theta)
        evaluations.append(nfev)
    return np.array(thetas), evaluations


def report(pop, truth, fitted, evaluations, seconds):
    names = ("bias", "stimulus", "history", "coupling")
    errors = [glm.filter_errors(pop, truth[i], fitted[i], i)
              for i in range(pop.nneurons)]
    print(f"population fit: {pop.nneurons} neurons, {pop.nbins} bins of 1 ms, "
          f"stimulus {pop.stimulus.size} coarse bins x nbns {pop.nbns}, "
          f"{pop.basis.shape[1]} raised cosines over {pop.basis.shape[0]} taps")
    print(f"fit time {seconds:.1f} s, {sum(evaluations)} evaluations "
          f"({pop.nparams} parameters per neuron)")
    print("neuron  spikes  evals   " + "  ".join(f"{n:>9}" for n in names))
    for i, e in enumerate(errors):
        print(f"{i:6d}  {pop.spikes[i].size:6d}  {evaluations[i]:5d}   "
              + "  ".join(f"{e[n]:9.4f}" for n in names))
    medians = {n: float(np.median([e[n] for e in errors])) for n in names}
    print("median                  " + "  ".join(f"{medians[n]:9.4f}" for n in names))
    print("(bias: absolute error; filters: relative L2 error over taps, "
          "coupling over all sources together)")
    return errors, medians


def figures(pop, truth, fitted, folder):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    os.makedirs(folder, exist_ok=True)
    shown = min(pop.nneurons, 3)
    fig, axes = plt.subplots(shown, 3, figsize=(11, 2.6 * shown), squeeze=False)
    e = int(pop.nbns)
    for i in range(shown):
        _, k0, w0 = pop.split(truth[i])
        _, k1, w1 = pop.split(fitted[i])
        lags = (glm.STIMULUS_DELAY + np.arange(k0.size)) * e
        ax = axes[i, 0]
        ax.plot(lags, k0, "k-o", label="true")
        ax.plot(lags, k1, "r--s", label="fitted")
        ax.set_title(f"neuron {i}: stimulus filter")
        ax.set_xlabel("lag (ms, coarse bins of %d ms)" % e)
        ax = axes[i, 1]
        taps = np.arange(pop.basis.shape[0]) + 1
        ax.plot(taps, pop.basis @ w0[i], "k-", label="true")
        ax.plot(taps, pop.basis @ w1[i], "r--", label="fitted")
        ax.set_title(f"neuron {i}: spike history")
        ax.set_xlabel("lag after a spike (ms)")
        ax = axes[i, 2]
        j = int(np.argmax([np.abs(w0[s]).sum() if s != i else -1
                           for s in range(pop.nneurons)]))
        ax.plot(taps, pop.basis @ w0[j], "k-", label="true")
        ax.plot(taps, pop.basis @ w1[j], "r--", label="fitted")
        ax.set_title(f"neuron {i}: coupling from neuron {j}")
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
    fitted_rate = np.exp(glm.log_rate(pop, fitted[0])[start:stop]) * 1000
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
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args(argv)
    if args.check:
        args.neurons, args.seconds, args.seed = (
            CHECK["neurons"], CHECK["seconds"], CHECK["seed"])

    pop, truth = glm.simulate(nneurons=args.neurons,
                              nbins=int(args.seconds * 1000), seed=args.seed)
    start = time.perf_counter()
    fitted, evaluations = fit_all(pop)
    seconds = time.perf_counter() - start
    _, medians = report(pop, truth, fitted, evaluations, seconds)
    pngs = figures(pop, truth, fitted, args.figures)
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
