"""Fitting the neurons of a population on a thread pool, and the progress
lines of a long fit.

Each neuron's fit is one task; a task's computation does not depend on the
pool (the kernels release the GIL, and every task keeps its own state), so
the results are the same bits for any number of threads. Progress is
reported as the tasks finish, in whatever order that is.
"""
import os
import threading
import time

import numpy as np


def resolve_n_jobs(n_jobs, ntasks):
    """The number of threads for ntasks tasks: n_jobs=None means 1, a
    negative n_jobs counts back from the usable cores (-1: all of them);
    never more than ntasks nor fewer than 1."""
    if n_jobs is None:
        return 1
    if isinstance(n_jobs, bool) or not isinstance(n_jobs, (int, np.integer)):
        raise TypeError(f"n_jobs must be None or a whole number, got {n_jobs!r}")
    n_jobs = int(n_jobs)
    if n_jobs == 0:
        raise ValueError("n_jobs must not be 0 (None or 1: one thread; -1: all cores)")
    if n_jobs < 0:
        n_jobs = max(1, usable_cores() + 1 + n_jobs)
    return max(1, min(n_jobs, ntasks))


def usable_cores():
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        return os.cpu_count() or 1


def check_verbose(verbose):
    """verbose as False, True (lines) or 'bar'; refuses anything else."""
    if isinstance(verbose, str):
        if verbose != "bar":
            raise ValueError(f"verbose must be True, False or 'bar', got {verbose!r}")
        return "bar"
    if isinstance(verbose, (bool, np.bool_, int, np.integer)):
        return bool(verbose)
    raise TypeError(f"verbose must be True, False or 'bar', got {verbose!r}")


def duration(seconds):
    """A time span for a progress line: 42 s, 3 min 05 s, 2 h 07 min."""
    s = int(round(seconds))
    if s < 60:
        return f"{s} s"
    if s < 3600:
        return f"{s // 60} min {s % 60:02d} s"
    return f"{s // 3600} h {s // 60 % 60:02d} min"


def progress_line(i, nneurons, result, done, ntasks, elapsed):
    """The line for neuron i (0-based) whose fit gave result (theta,
    converged, iterations, seconds), the done-th of ntasks to finish,
    elapsed seconds after the first one started. The time left assumes the
    tasks left take as long as the mean of those done."""
    state = "converged" if result[1] else "stopped without converging"
    left = elapsed / done * (ntasks - done)
    return (f"neuron {i + 1}/{nneurons}: {state} in {result[2]} iterations, "
            f"{result[3]:.1f} s; {done}/{ntasks} done in {duration(elapsed)}, "
            f"about {duration(left)} left")


class Progress:
    """Reports each finished neuron: a line (verbose True), a tqdm bar
    (verbose 'bar', when tqdm can be imported; lines otherwise) or nothing.
    Safe to call from several threads; clock: seconds, for the lines."""

    def __init__(self, verbose, nneurons, ntasks, clock=time.perf_counter,
                 write=None):
        self.verbose = check_verbose(verbose)
        self.nneurons, self.ntasks = nneurons, ntasks
        self.clock = clock
        self.write = write or (lambda line: print(line, flush=True))
        self.done = 0
        self.lock = threading.Lock()
        self.bar = None
        if self.verbose == "bar":
            try:
                from tqdm import tqdm
            except ImportError:
                self.verbose = True  # no bar to draw: plain lines instead
            else:
                self.bar = tqdm(total=ntasks, unit="neuron", desc="fit")
        self.started = clock()

    def __call__(self, i, result):
        if not self.verbose:
            return
        with self.lock:
            self.done += 1
            if self.bar is not None:
                self.bar.set_postfix_str(
                    f"neuron {i + 1}: {result[2]} iterations", refresh=False)
                self.bar.update(1)
                return
            self.write(progress_line(i, self.nneurons, result, self.done,
                                     self.ntasks, self.clock() - self.started))

    def close(self):
        if self.bar is not None:
            self.bar.close()


def map_targets(fit_one, targets, n_jobs, report):
    """[fit_one(i) for i in targets] on up to n_jobs threads (resolve_n_jobs),
    in the order of targets; report(i, result) as each one finishes."""
    workers = resolve_n_jobs(n_jobs, len(targets))

    def one(i):
        result = fit_one(i)
        report(i, result)
        return result

    if workers == 1:
        return [one(i) for i in targets]
    from concurrent.futures import ThreadPoolExecutor
    with ThreadPoolExecutor(workers, thread_name_prefix="spike_bins_fit") as pool:
        return list(pool.map(one, targets))
