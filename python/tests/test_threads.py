"""The GIL is released while a kernel runs: another Python thread keeps
running meanwhile, and calls from several threads give the same bits."""
import threading
import time

import numpy as np

from conftest import assert_same_bits
from spike_bins import tentfill2, trainfold


def longest_pause_during(call):
    """Seconds of the call made in another thread, and the longest stretch
    of it in which the main thread made no step of its loop. Holding the GIL
    for the kernel would stop the main thread for the kernel's whole time;
    released, the main thread pauses only when the OS takes its core."""
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
    inside = [span["start"]] + [t for t in stamps
                                if span["start"] < t < span["end"]]
    return span["end"] - span["start"], max(np.diff(inside + [span["end"]]))


def test_the_main_thread_runs_while_a_kernel_runs():
    rng = np.random.default_rng(1)

    def upsample(scale):
        x = np.asfortranarray(rng.uniform(-1, 1, (4000 * scale, 16)))
        return lambda: tentfill2(x, 200)

    def spike_sum(scale):
        h = np.asfortranarray(rng.uniform(-1, 1, (400, 8)))
        spinds = np.sort(rng.uniform(0, 2e4, 100000 * scale))
        return lambda: trainfold(spinds, h, (0, 2e4))

    for make_call in (upsample, spike_sum):
        # A call long enough to tell, however fast this machine is: the
        # work doubles until the call takes 40 ms or more.
        for scale in (1, 2, 4):
            seconds, pause = longest_pause_during(make_call(scale))
            if seconds > 0.04:
                break
        assert seconds > 0.04, "the call was too short to tell"
        assert pause < seconds / 2


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
