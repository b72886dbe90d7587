#!/usr/bin/env python3
"""Population fit on dask.distributed: speed-up from 1 to 2 worker processes.

    python3 benchmarks/dask_population_speedup.py [--neurons 8] [--seconds 600]
                                                  [--scheduler tcp://host:8786]

Simulates the worked example's population (examples/population_fit.py,
glm.draw_spikes, seed 0), fits every neuron with glm.PopulationGLM serially
in this process, then with fit(client=...) (one task per neuron, the
recording scattered to each worker once) on a LocalCluster of one worker
process and on one of two (one thread each), and
prints the times, the speed-up 1 -> 2 workers (a ratio within this run) and
whether the distributed parameters equal the serial ones bit for bit. With
--scheduler it fits once more on that cluster instead of starting local ones.
Not a test: the figures depend on the machine.
"""
import argparse
import os
import sys
import time

import dask
import numpy as np
from dask.distributed import Client, LocalCluster

from spike_bins import glm

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                "examples"))
import population_fit as worked  # noqa: E402  (the worked example's simulation)

SHAPE = {"history_taps": worked.TAPS, "n_basis": worked.NBASIS,
         "stimulus_lags": worked.LAGS}


def timed_fit(client, recording):
    client.run(lambda: None)  # workers up before the clock starts
    start = time.perf_counter()
    weights = glm.PopulationGLM(**SHAPE).fit(**recording, client=client).weights_
    return time.perf_counter() - start, weights


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--neurons", type=int, default=8)
    parser.add_argument("--seconds", type=float, default=600)
    parser.add_argument("--scheduler", default=None)
    args = parser.parse_args()
    load = os.getloadavg()
    recording = worked.recording(worked.simulate(args.neurons, args.seconds, 0))
    nparams = 1 + worked.LAGS + args.neurons * worked.NBASIS
    print(f"{args.neurons} neurons, {round(args.seconds * 1000)} bins, {nparams} "
          "parameters each")

    start = time.perf_counter()
    serial = glm.PopulationGLM(**SHAPE).fit(**recording).weights_
    print(f"serial, this process     {time.perf_counter() - start:7.2f} s")

    if args.scheduler:
        with Client(args.scheduler) as client:
            seconds, theta = timed_fit(client, recording)
        same = np.array_equal(theta.view(np.uint64), serial.view(np.uint64))
        print(f"cluster {args.scheduler}  {seconds:7.2f} s  bits equal: {same}")
        return

    # One BLAS thread per worker process (PopulationGLM's tasks raise glibc's
    # malloc thresholds themselves, against dask's MALLOC_TRIM_THRESHOLD_).
    dask.config.set({"distributed.nanny.pre-spawn-environ": {
        "OMP_NUM_THREADS": 1, "MKL_NUM_THREADS": 1, "OPENBLAS_NUM_THREADS": 1}})
    times = {}
    for workers in (1, 2):
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                          dashboard_address=":0") as cluster, Client(cluster) as client:
            times[workers], theta = timed_fit(client, recording)
        same = np.array_equal(theta.view(np.uint64), serial.view(np.uint64))
        print(f"{workers} worker process{'es' if workers > 1 else '  '}     "
              f"{times[workers]:7.2f} s  bits equal to serial: {same}")
    print(f"speed-up 1 -> 2 workers  {times[1] / times[2]:7.2f}")
    print(f"(load average before the run: {load[0]:.2f}; the ratio needs two idle cores)")


if __name__ == "__main__":
    main()
