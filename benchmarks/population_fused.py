#!/usr/bin/env python3
"""glm.PopulationGLM: the one-pass population evaluation against one
trainfold call per source, and against a floor of streaming passes over T.

    python3 benchmarks/population_fused.py [--neurons 20] [--seconds 3600]
                                           [--fit-seconds 3600] [--repeats 7]

Simulates a population (the worked example's model, fixed seed) and, in one
run:
- times one evaluation of neuron 0's objective and gradient (at the true
  parameters) with the fitted code (drive into one buffer with trainfold_pop,
  gradient from one trainfold_pop_adjoint call) and with the per-source
  baseline kept below (one trainfold and one trainfold_adjoint call per
  source, each writing or reading a whole T x 1 column); medians of
  interleaved repeats;
- times a floor over the same T: three streaming passes as numpy does them,
  np.exp(x, out=y); y -= x; np.sum(y); and the two population kernels alone
  (their spikes x taps additions, which no pass over T can avoid);
- fits the first --fit-seconds of the recording with each evaluation
  (PopulationGLM, defaults otherwise) and reports the fit times and the
  largest parameter difference.
Not a test: the figures depend on the machine and its load.
"""
import argparse
import os
import time

import numpy as np

import spike_bins as sb
from spike_bins import _fitting, _legacy, _objective
from spike_bins import glm


def per_source_drive(data, i, theta):
    """The drive with one trainfold call per source (the previous code)."""
    nb = data.basis.shape[1]
    eta = np.full(data.nbins, theta[0])
    if data.nstim:
        k = theta[1:1 + data.nstim]
        coarse = np.zeros(data.design.shape[0])
        for c in range(data.nstim):
            if k[c] != 0.0:
                coarse += k[c] * data.design[:, c]
        eta += sb.tentfill2(coarse, data.m)[:, 0]
    window = (0, data.nbins - 1)
    at = 1 + data.nstim
    for j in data.sources(i):
        w = theta[at:at + nb]
        at += nb
        if w.any() and data.shifted[j].size:
            eta += sb.trainfold(data.shifted[j], data.basis @ w, window)[:, 0]
    return eta


def per_source_gradient(data, i, resid):
    nb, ntaps = data.basis.shape[1], data.basis.shape[0]
    grad = np.empty(data.nparams)
    grad[0] = np.sum(resid)
    if data.nstim:
        z = sb.tentfill2_adjoint(resid, data.m)[:, 0]
        for c in range(data.nstim):
            grad[1 + c] = np.sum(z * data.design[:, c])
    window = (0, data.nbins - 1)
    at = 1 + data.nstim
    for j in data.sources(i):
        if data.shifted[j].size:
            taps = sb.trainfold_adjoint(data.shifted[j], resid, window, ntaps)[:, 0]
            grad[at:at + nb] = np.sum(data.basis * taps[:, None], axis=0)
        else:
            grad[at:at + nb] = 0.0
        at += nb
    return grad


def per_source_nll(theta, data, i, block, nfit):
    bins, counts = data.counts(i, block)
    eta = per_source_drive(data, i, theta)
    value = -np.sum(counts * eta[bins])
    mu = np.exp(eta, out=eta)
    if block is not None:
        mu[block[0]:block[1]] = 0.0
    value += np.sum(mu)
    mu[bins] -= counts
    return value / nfit, per_source_gradient(data, i, mu) / nfit


def floor(x, y):
    np.exp(x, out=y)
    y -= x
    return np.sum(y)


def timed(fn, *args):
    start = time.perf_counter()
    fn(*args)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--neurons", type=int, default=20)
    parser.add_argument("--seconds", type=float, default=3600)
    parser.add_argument("--fit-seconds", type=float, default=3600)
    parser.add_argument("--repeats", type=int, default=7)
    args = parser.parse_args()
    print(f"load average at the start: {os.getloadavg()[0]:.2f}")
    pop, truth = _legacy._simulate(nneurons=args.neurons,
                                   nbins=int(args.seconds * 1000), seed=0)
    model = glm.PopulationGLM()
    spikes = [(s + 0.5) * 0.001 for s in pop.spikes]
    data, _ = model._data(spikes, pop.nbins / 1000, pop.stimulus, 100.0, 0.0)
    nspikes = int(data.nspikes.sum())
    print(f"{args.neurons} neurons, {data.nbins} bins, {nspikes} spikes, "
          f"{data.nparams} parameters per neuron")

    theta = truth[0].copy()
    nfit = data.nbins
    one = {"fused": lambda: _objective._nll(theta, data, 0, None, nfit),
           "per source": lambda: per_source_nll(theta, data, 0, None, nfit)}
    a, b = one["fused"](), one["per source"]()
    diff = np.max(np.abs(a[1] - b[1])) / np.max(np.abs(b[1]))
    x = np.random.default_rng(0).standard_normal(data.nbins) * 0.1 - 4.0
    y = np.empty_like(x)
    # The spike work alone: the two population kernels of one evaluation.
    w = theta[1 + data.nstim:].reshape(-1, data.basis.shape[1])
    h = np.asfortranarray(data.basis @ w.T)
    out = np.zeros((data.nbins, 1), order="F")
    window = (0, data.nbins - 1)

    def kernels():
        sb.trainfold_pop(data.spikes, data.ids, h, window, data.nneurons, out=out)
        sb.trainfold_pop_adjoint(data.spikes, data.ids, y, window, h.shape[0],
                                 data.nneurons)

    times = {k: [] for k in ("fused", "per source", "floor", "kernels")}
    for _ in range(args.repeats):
        times["fused"].append(timed(one["fused"]))
        times["per source"].append(timed(one["per source"]))
        times["floor"].append(timed(floor, x, y))
        times["kernels"].append(timed(kernels))
    med = {k: float(np.median(v)) for k, v in times.items()}
    print(f"one evaluation (objective + gradient of neuron 0), medians of "
          f"{args.repeats} interleaved repeats; gradients differ by {diff:.1e} "
          f"(relative)")
    for k in times:
        print(f"  {k:11s} {1000 * med[k]:9.2f} ms")
    print(f"  per source / fused  {med['per source'] / med['fused']:6.2f}")
    print(f"  fused / floor       {med['fused'] / med['floor']:6.2f}")
    print(f"  (fused - kernels) / floor  "
          f"{(med['fused'] - med['kernels']) / med['floor']:6.2f}   (kernels: "
          f"trainfold_pop + trainfold_pop_adjoint, {data.spikes.size} spikes x "
          f"{h.shape[0]} taps each)")

    cut = int(args.fit_seconds * 1000) // pop.nbns * pop.nbns
    fit_spikes = [s[s < cut * 0.001] for s in spikes]
    fit_args = (fit_spikes, cut / 1000, pop.stimulus[:cut // pop.nbns], 100.0)
    print(f"fits of {args.neurons} neurons x {cut / 1000:g} s "
          f"(load average {os.getloadavg()[0]:.2f}):")
    fused = _fitting._nll
    fits, times_fit = {}, {}
    for label, nll in (("fused", fused), ("per source", per_source_nll)):
        _fitting._nll = nll
        try:
            start = time.perf_counter()
            model.fit(*fit_args)
            seconds = time.perf_counter() - start
        finally:
            _fitting._nll = fused
        fits[label] = model.weights_.copy()
        times_fit[label] = seconds
        print(f"  {label:11s} {seconds:8.1f} s, {int(model.n_iter_.sum())} iterations, "
              f"all converged: {bool(model.converged_.all())}")
    print(f"  per source / fused  {times_fit['per source'] / times_fit['fused']:6.2f}")
    print(f"  largest parameter difference "
          f"{np.max(np.abs(fits['fused'] - fits['per source'])):.1e}")
    print(f"load average at the end: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
