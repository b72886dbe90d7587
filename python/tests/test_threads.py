"""The GIL is released while a kernel runs: another Python thread runs
meanwhile, and calls from several threads give the same bits."""
import sys
import threading

import numpy as np
import pytest

from conftest import assert_same_bits
from spike_bins import tentfill2, tentfill2_adjoint, trainfold, \
    trainfold_adjoint, trainfold_multi, trainfold_multi_adjoint


def main_thread_ran_inside(call):
    """Whether the main thread took a step while `call` ran in a worker.

    The switch interval is made so long that the worker never hands the GIL
    over between bytecodes: the main thread, woken by `ready`, can run only
    when the worker blocks or releases the GIL. The worker reads the main
    thread's steps as soon as the call returns, so a step counted there was
    taken inside the call. With the GIL held for the kernel the answer is
    always False, whatever the machine's load."""
    ready = threading.Event()
    steps = []
    seen = []

    def worker():
        ready.set()
        call()
        seen.append(len(steps))

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    try:
        thread = threading.Thread(target=worker)
        thread.start()
        ready.wait()
        steps.append(1)
        thread.join()
    finally:
        sys.setswitchinterval(interval)
    return seen[0] > 0


def fortran(rng, rows, cols):
    return np.asfortranarray(rng.uniform(-1, 1, (rows, cols)))


# Calls whose work grows with `scale`; the arrays are already Fortran-ordered
# doubles, so no conversion (which might release the GIL itself) precedes the
# kernel.
def upsample(rng, scale):
    x = fortran(rng, 500 * scale, 8)
    return lambda: tentfill2(x, 50)


def upsample_adjoint(rng, scale):
    r = fortran(rng, 25000 * scale, 8)
    return lambda: tentfill2_adjoint(r, 50)


def spike_sum(rng, scale):
    h = fortran(rng, 200, 4)
    spinds = np.sort(rng.uniform(0, 2e4, 5000 * scale))
    return lambda: trainfold(spinds, h, np.array([0.0, 2e4]))


def spike_sum_adjoint(rng, scale):
    r = fortran(rng, 20001, 4)
    spinds = np.sort(rng.uniform(0, 2e4, 5000 * scale))
    return lambda: trainfold_adjoint(spinds, r, np.array([0.0, 2e4]), 200.0)


def multi_sum(rng, scale):
    h = fortran(rng, 8, 3 * 200)
    spinds = np.sort(rng.uniform(0, 2e4, 5000 * scale))
    ids = np.floor(rng.uniform(0, 3, spinds.size))
    return lambda: trainfold_multi(spinds, ids, h, np.array([0.0, 2e4]), 3.0)


def multi_sum_adjoint(rng, scale):
    r = fortran(rng, 8, 20001)
    spinds = np.sort(rng.uniform(0, 2e4, 5000 * scale))
    ids = np.floor(rng.uniform(0, 3, spinds.size))
    return lambda: trainfold_multi_adjoint(spinds, ids, r,
                                           np.array([0.0, 2e4]), 200.0, 3.0)


@pytest.mark.parametrize(
    "make_call", [upsample, spike_sum, upsample_adjoint, spike_sum_adjoint,
                  multi_sum, multi_sum_adjoint])
def test_another_thread_runs_while_a_kernel_runs(make_call):
    # A False can only mean that the GIL was held or that the main thread
    # found no core before the call ended: the work doubles until it does.
    rng = np.random.default_rng(1)
    for k in range(9):
        if main_thread_ran_inside(make_call(rng, 2 ** k)):
            return
    pytest.fail("no other thread ran while the kernel ran")


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
