"""The GIL is released while a kernel runs: another Python thread keeps
running meanwhile, and calls from several threads give the same bits."""
import threading
import time

import numpy as np

from conftest import assert_same_bits
from spike_bins import tentfill2, trainfold


def python_steps_during(call):
    """How many loop steps the main thread makes while another thread is
    inside call(), well inside (a millisecond from either end)."""
    span = {}

    def worker():
        span["start"] = time.perf_counter()
        call()
        span["end"] = time.perf_counter()

    thread = threading.Thread(target=worker)
    stamps = []
    thread.start()
    while thread.is_alive():
        stamps.append(time.perf_counter())
    thread.join()
    start, end = span["start"] + 1e-3, span["end"] - 1e-3
    assert end - start > 0.02, "the call was too short to tell"
    return sum(start < t < end for t in stamps)


def test_the_main_thread_runs_while_a_kernel_runs():
    x = np.asfortranarray(np.random.default_rng(1).uniform(-1, 1, (4000, 16)))
    h = np.asfortranarray(np.random.default_rng(2).uniform(-1, 1, (400, 8)))
    spinds = np.sort(np.random.default_rng(3).uniform(0, 2e4, 100000))
    calls = [lambda: tentfill2(x, 200), lambda: trainfold(spinds, h, (0, 2e4))]
    for call in calls:
        assert python_steps_during(call) > 100


def test_threads_get_the_same_bits():
    rng = np.random.default_rng(4)
    x = rng.uniform(-1, 1, (300, 3))
    spinds = np.sort(rng.uniform(0, 1000, 300))
    h = rng.uniform(-1, 1, (30, 2))
    expected = (tentfill2(x, 7), trainfold(spinds, h, (10, 900)))
    results = [None] * 8

    def worker(i):
        results[i] = [(tentfill2(x, 7), trainfold(spinds, h, (10, 900)))
                      for _ in range(20)]

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for per_thread in results:
        for upsampled, summed in per_thread:
            assert_same_bits(upsampled, expected[0])
            assert_same_bits(summed, expected[1])
