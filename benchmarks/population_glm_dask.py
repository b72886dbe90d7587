#!/usr/bin/env python3
"""glm.PopulationGLM: serial fit against a default LocalCluster of 2 workers.

    python3 benchmarks/population_glm_dask.py [--neurons 20] [--seconds 600]

Simulates a population (fixed seed), fits it in this process, then on a
LocalCluster(n_workers=2, threads_per_worker=1) with dask's default worker
environment (MALLOC_TRIM_THRESHOLD_=65536), once with the fit tasks raising
glibc's malloc thresholds (what PopulationGLM does) and once without; prints
the times, their ratios within this run and whether the parameters equal
the serial ones bit for bit. Not a test: the figures depend on the machine.
"""
import argparse
import os
import time

import numpy as np
from dask.distributed import Client, LocalCluster

from spike_bins import _distributed, _legacy, glm


def _untuned():
    _distributed._tune_malloc = lambda: True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--neurons", type=int, default=20)
    parser.add_argument("--seconds", type=float, default=600)
    args = parser.parse_args()
    load = os.getloadavg()
    pop, _ = _legacy._simulate(nneurons=args.neurons, nbins=int(args.seconds * 1000),
                               seed=0)
    fit = ([(s + 0.5) * 0.001 for s in pop.spikes], args.seconds, pop.stimulus, 100.0)
    model = glm.PopulationGLM()
    print(f"{args.neurons} neurons, {pop.nbins} bins")
    start = time.perf_counter()
    serial = model.fit(*fit).weights_.copy()
    times = {"serial": time.perf_counter() - start}
    print(f"serial, this process            {times['serial']:7.2f} s")
    for label in ("2 workers, malloc tuned", "2 workers, dask's malloc"):
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=":0") as cluster, Client(cluster) as client:
            if label.endswith("dask's malloc"):
                client.run(_untuned)
            client.run(lambda: None)
            start = time.perf_counter()
            weights = model.fit(*fit, client=client).weights_
            times[label] = time.perf_counter() - start
        same = np.array_equal(weights.view(np.uint64), serial.view(np.uint64))
        print(f"{label:30s}  {times[label]:7.2f} s  bits equal to serial: {same}")
    for label in list(times)[1:]:
        print(f"serial / ({label}) {times['serial'] / times[label]:6.2f}")
    print(f"(load average before the run: {load[0]:.2f}; the ratios need two idle cores)")


if __name__ == "__main__":
    main()
