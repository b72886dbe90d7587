#!/usr/bin/env python3
"""Population fit on dask.distributed: speed-up from 1 to 2 worker processes.

    python3 benchmarks/dask_population_speedup.py [--neurons 8] [--seconds 600]
                                                  [--scheduler tcp://host:8786]

Simulates a population (spike_bins.glm, fixed seed), fits every neuron
serially in this process, then with spike_bins.dask.fit_population on a
LocalCluster of one worker process and on one of two (one thread each), and
prints the times, the speed-up 1 -> 2 workers (a ratio within this run) and
whether the distributed parameters equal the serial ones bit for bit. With
--scheduler it fits once more on that cluster instead of starting local ones.
Not a test: the figures depend on the machine.
"""
import argparse
import os
import time

import dask
import numpy as np
from dask.distributed import Client, LocalCluster

import spike_bins.dask as sbd
from spike_bins import glm


def timed_fit(client, pop):
    client.run(lambda: None)  # workers up before the clock starts
    start = time.perf_counter()
    theta = sbd.fit_population(client, pop)
    return time.perf_counter() - start, theta


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--neurons", type=int, default=8)
    parser.add_argument("--seconds", type=float, default=600)
    parser.add_argument("--scheduler", default=None)
    args = parser.parse_args()
    load = os.getloadavg()
    pop, _ = glm.simulate(nneurons=args.neurons, nbins=int(args.seconds * 1000), seed=0)
    print(f"{args.neurons} neurons, {pop.nbins} bins, {pop.nparams} parameters each")

    start = time.perf_counter()
    serial = glm.fit_population(pop)
    print(f"serial, this process     {time.perf_counter() - start:7.2f} s")

    if args.scheduler:
        with Client(args.scheduler) as client:
            seconds, theta = timed_fit(client, pop)
        same = np.array_equal(theta.view(np.uint64), serial.view(np.uint64))
        print(f"cluster {args.scheduler}  {seconds:7.2f} s  bits equal: {same}")
        return

    # dask starts workers with MALLOC_TRIM_THRESHOLD_=65536, which makes glibc
    # hand every freed T x 1 array back to the system and fault it in again on
    # the next evaluation (about 35% slower fits here); the other defaults stay.
    dask.config.set({"distributed.nanny.pre-spawn-environ": {
        "OMP_NUM_THREADS": 1, "MKL_NUM_THREADS": 1, "OPENBLAS_NUM_THREADS": 1}})
    times = {}
    for workers in (1, 2):
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                          dashboard_address=":0") as cluster, Client(cluster) as client:
            times[workers], theta = timed_fit(client, pop)
        same = np.array_equal(theta.view(np.uint64), serial.view(np.uint64))
        print(f"{workers} worker process{'es' if workers > 1 else '  '}     "
              f"{times[workers]:7.2f} s  bits equal to serial: {same}")
    print(f"speed-up 1 -> 2 workers  {times[1] / times[2]:7.2f}")
    print(f"(load average before the run: {load[0]:.2f}; the ratio needs two idle cores)")


if __name__ == "__main__":
    main()
