"""Population GLM fits on a dask.distributed cluster, and recordings split
over time.

Per neuron: one task per lockstep batch of neurons, each worker holding the whole recording
(the serial result, bit for bit). Over time: the recording cut into
contiguous pieces, each held by one worker (or all in this process), every
evaluation of a neuron's objective summed over the pieces in piece order.
"""
import ctypes
import ctypes.util
import sys
import warnings

from spike_bins._fitting import _fit_neuron, _fit_serial, lockstep_width
from spike_bins._inputs import _positive, _whole
from spike_bins._objective import _add_raw, _piece_nll, _project, _stimulus_gram
from spike_bins._progress import Progress, map_targets, resolve_n_jobs


def _tune_malloc():
    """Keep T-sized temporaries on the heap in this process: dask's nanny
    sets MALLOC_TRIM_THRESHOLD_=65536, which also pins glibc's mmap threshold
    low, so every T x 1 array is mmapped and page-faulted anew. True when
    glibc took the settings."""
    if not sys.platform.startswith("linux"):
        return False
    try:
        libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6")
        m_trim_threshold, m_mmap_threshold = -1, -3
        ok = libc.mallopt(m_mmap_threshold, 32 * 1024 * 1024)
        ok &= libc.mallopt(m_trim_threshold, 256 * 1024 * 1024)
        return bool(ok)
    except (OSError, AttributeError):
        return False


def _fit_task(data, targets, penalty, alpha, tol, max_iter, block=None, gram=None):
    """A dask task: (the NeuronFits of the neurons in targets, fitted in
    lockstep on one thread of the worker, whether glibc took the malloc
    settings)."""
    tuned = _tune_malloc()
    return _fit_serial(data, penalty, alpha, tol, max_iter, block, targets,
                       lambda *_: None, n_jobs=1, gram=gram), tuned


# ------------------------------------------------- recordings split over time

def _time_edges(nbins, n_blocks, block_seconds, bin_size, default):
    """Block edges 0 = e_0 < ... < e_B = T: n_blocks blocks of near-equal
    size, or blocks of block_seconds (the last one shorter), or `default`
    blocks when neither is given."""
    if n_blocks is not None and block_seconds is not None:
        raise ValueError("give n_blocks or block_seconds, not both")
    if block_seconds is not None:
        size = round(_positive("block_seconds", block_seconds) / bin_size)
        if size < 1:
            raise ValueError("block_seconds must hold one bin or more")
        return list(range(0, nbins, size)) + [nbins]
    count = default if n_blocks is None else _whole("n_blocks", n_blocks, 1)
    if count > nbins:
        raise ValueError(f"n_blocks ({count}) exceeds the recording's {nbins} bins")
    return [b * nbins // count for b in range(count + 1)]


def _pieces_nll(pieces, i, theta, block):
    return [_piece_nll(p, i, theta, block) for p in pieces]


def _pieces_gram(pieces):
    _tune_malloc()
    return [_stimulus_gram(p) for p in pieces]


def _in_order(results):
    """Sums of per-piece (value, parts) in piece order."""
    total = results[0]
    for r in results[1:]:
        total = (total[0] + r[0], _add_raw(total[1], r[1]))
    return total


class _TimeSplit:
    """The recording's pieces, in this process (client None: on n_jobs
    threads) or each held by one worker of a dask cluster (contiguous runs
    of pieces per worker); run() evaluates a function on every piece and
    returns the results in piece order."""

    def __init__(self, data, edges, client, n_jobs=None):
        self.client = client
        self._gram = None
        pieces = [data.piece(a, b) for a, b in zip(edges[:-1], edges[1:])]
        if client is None:
            self.groups = [(None, pieces)]
            self.threads = resolve_n_jobs(n_jobs, len(pieces))
            return
        workers = sorted(client.scheduler_info()["workers"])
        per = -(-len(pieces) // len(workers))
        self.groups = []
        for k, w in enumerate(workers):
            mine = pieces[k * per:(k + 1) * per]
            if mine:
                held = [client.scatter(p, workers=[w], hash=False) for p in mine]
                self.groups.append((w, held))
        del pieces

    def run(self, fn, *args):
        if self.client is None:
            pieces = self.groups[0][1]
            if self.threads == 1:
                return fn(pieces, *args)
            from concurrent.futures import ThreadPoolExecutor
            with ThreadPoolExecutor(self.threads) as pool:
                parts = list(pool.map(lambda p: fn([p], *args), pieces))
            return [r for part in parts for r in part]
        futures = [self.client.submit(fn, held, *args, workers=[w],
                                      allow_other_workers=False, pure=False)
                   for w, held in self.groups]
        return [r for part in self.client.gather(futures) for r in part]

    def gram(self):
        """The recording's _stimulus_gram, summed in piece order (once)."""
        if self._gram is None:
            parts = self.run(_pieces_gram)
            sums, gram = parts[0]
            for s, g in parts[1:]:
                sums, gram = sums + s, gram + g
            self._gram = sums, gram
        return self._gram

    def objective(self, data, i, block, nfit):
        def evaluate(theta):
            value, raw = _in_order(self.run(_pieces_nll, i, theta, block))
            return value / nfit, _project(data, raw) / nfit
        return evaluate


def _fit_split(data, penalty, alpha, tol, max_iter, block, split, say, targets):
    """Every neuron's fit with the evaluations summed over the pieces of
    split (a _TimeSplit); with a cluster, as many neurons at a time as it
    has workers (each evaluation uses all of them)."""
    nfit = data.fit_count(block)
    gram = split.gram()

    def one(i):
        return _fit_neuron(data, i, penalty, alpha, tol, max_iter, block,
                           split.objective(data, i, block, nfit), gram)

    # With a cluster, a neuron per worker at a time; in this process the
    # split's threads share each evaluation's pieces, and neurons take turns.
    workers = 1 if split.client is None else max(1, len(split.groups))
    return map_targets(one, targets, workers, say)


def _fit_on_client(data, penalty, alpha, tol, max_iter, block, client, say, targets):
    """Dask tasks of up to LOCKSTEP_TARGETS neurons each (fitted in lockstep,
    enough tasks for every worker thread), the recording sent to every
    worker once (a _held.Held plugin, released at the end): a list of
    NeuronFit in the order of targets."""
    import uuid
    from dask.distributed import as_completed
    from spike_bins._held import Held, held_fit_task, held_gram
    results = [None] * len(targets)
    key = f"spike_bins-recording-{uuid.uuid4().hex}"
    submitted = []
    client.register_worker_plugin(Held(key, data), name=key, nanny=False)
    try:
        # The stimulus Gram matrix once, on a worker (it passes over T).
        gram = _stimulus_gram(data) if data.nstim == 0 else client.submit(
            held_gram, key, pure=False)
        threads = sum(w.get("nthreads", 1)
                      for w in client.scheduler_info()["workers"].values())
        width = lockstep_width(len(targets), threads) if data.coupling else 1
        starts = range(0, len(targets), width)
        futures = [client.submit(held_fit_task, key, targets[a:a + width], penalty,
                                 alpha, tol, max_iter, block, gram, pure=False)
                   for a in starts]
        submitted = futures
        where = {f.key: a for a, f in zip(starts, futures)}
        untuned = False
        for future in as_completed(futures):
            a = where[future.key]
            fits, tuned = future.result()
            untuned |= not tuned
            for x, fit in enumerate(fits, start=a):
                results[x] = fit
                say(targets[x], fit)
    finally:
        client.cancel(submitted)  # those left when a fit failed
        client.unregister_worker_plugin(key)
    if untuned:
        warnings.warn("could not raise glibc's malloc thresholds in the dask workers: "
                      "with dask's MALLOC_TRIM_THRESHOLD_ the distributed fit can be "
                      "slower than the serial one", RuntimeWarning, stacklevel=4)
    return results


def _fit_all(data, penalty, alpha, tol, max_iter, block, client, verbose, split=None,
             targets=None, n_jobs=None):
    """Every neuron's fit (or those in targets), on n_jobs threads of this
    process, one dask task per lockstep batch of neurons, or (split, a _TimeSplit) with each
    evaluation summed over the recording's pieces: a list of NeuronFit in
    neuron order. verbose: as PopulationGLM's."""
    targets = list(range(data.nneurons)) if targets is None else list(targets)
    say = Progress(verbose, data.nneurons, len(targets))
    try:
        if split is not None:
            return _fit_split(data, penalty, alpha, tol, max_iter, block, split, say,
                              targets)
        if client is None:
            return _fit_serial(data, penalty, alpha, tol, max_iter, block, targets,
                               say, n_jobs)
        return _fit_on_client(data, penalty, alpha, tol, max_iter, block, client, say,
                              targets)
    finally:
        say.close()
