"""Neurons fitted in lockstep: the solvers of a batch of targets run side by
side, and each round of their objective evaluations makes one pass over the
merged spikes for the whole batch (trainfold_multi and its adjoint, one row
per target, over blocks of rows made and used in cache) instead of one pass
per target.

Each target's value and gradient are the bits its own evaluation gives
(_objective._nll: the kernels add every element's terms in spike order
whatever the number of outputs, and the rest is the same code on the same
row), so the fits are the bits of fitting one neuron at a time, for any
batch width and any number of threads. Needs coupling (every target reads
the same sources).
"""
import threading

import numpy as np

import spike_bins as _sb
from spike_bins._constants import LOCKSTEP_TARGETS
from spike_bins._objective import (_project, base_drive, history_filters, raw_rest,
                                   residual)


# Values in one block of the targets-major buffers: a block of rows of the
# batch's drive (or residual) made and used in cache. Blocking changes no bit:
# the forward adds each element's terms in spike order either way, and the
# adjoint, adding into one result block after block over time-sorted spikes,
# makes every element's additions in spike order too.
BLOCK_VALUES = 65536


def _blocks(data, width):
    """(first bin, end bin, first spike, end spike) of each block of rows,
    the spikes being those that reach the block."""
    taps, lo, hi = data.basis.shape[0], data.lo, data.hi
    rows = max(1, BLOCK_VALUES // width)
    starts = np.arange(lo, hi, rows)
    ends = np.minimum(starts + rows, hi)
    first = np.searchsorted(data.spikes, starts - taps + 1)
    last = np.searchsorted(data.spikes, ends)
    return zip(starts.tolist(), ends.tolist(), first.tolist(), last.tolist())


def _history_forward(data, eta, rows, filters):
    """Adds the history of filters[k] (taps x sources) to eta[rows[k]] for
    each k, in one trainfold_multi pass over the merged spikes."""
    count, nsrc, lo = len(rows), data.nneurons, data.lo
    h = np.empty((count, filters[0].size), order="F")
    for k, f in enumerate(filters):
        h[k] = f.ravel(order="F")
    part = eta if count == eta.shape[0] else eta[rows]
    block = np.empty((max(1, BLOCK_VALUES // count), count))
    for a, b, s, e in _blocks(data, count):
        here = block[:b - a]
        np.copyto(here, part[:, a - lo:b - lo].T)
        _sb.trainfold_multi(data.spikes[s:e], data.ids[s:e], h, (a, b - 1), nsrc,
                            out=here.T)
        part[:, a - lo:b - lo] = here.T
    if part is not eta:
        eta[rows] = part


def _history_adjoint(data, resid):
    """The taps x sources history gradient of each row of resid, from one
    trainfold_multi_adjoint pass over the merged spikes."""
    count, nsrc, lo = resid.shape[0], data.nneurons, data.lo
    ntaps = data.basis.shape[0]
    g = np.zeros((count, ntaps * nsrc), order="F")
    block = np.empty((max(1, BLOCK_VALUES // count), count))
    for a, b, s, e in _blocks(data, count):
        here = block[:b - a]
        np.copyto(here, resid[:, a - lo:b - lo].T)
        _sb.trainfold_multi_adjoint(data.spikes[s:e], data.ids[s:e], here.T,
                                    (a, b - 1), ntaps, nsrc, out=g)
    return [g[k].reshape(ntaps, nsrc, order="F") for k in range(count)]


def batch_nll(data, items, block, nfit, eta=None):
    """[_nll(theta, data, i, block, nfit) for (i, theta) in items], from one
    forward and one adjoint pass over the merged spikes. eta: a C-ordered
    (len(items), hi - lo) buffer to use, or None."""
    count, nbins = len(items), data.hi - data.lo
    if eta is None or eta.shape != (count, nbins):
        eta = np.empty((count, nbins))
    filters = []
    for k, (_, theta) in enumerate(items):
        base_drive(data, theta, eta[k])
        filters.append(history_filters(data, theta))
    rows = [k for k, h in enumerate(filters) if h is not None]
    if rows and data.spikes.size:
        _history_forward(data, eta, rows, [filters[k] for k in rows])
    out = []
    with np.errstate(over="ignore", invalid="ignore"):
        sums = [residual(data, i, eta[k], block) for k, (i, _) in enumerate(items)]
        if data.spikes.size:
            taps = _history_adjoint(data, eta)
        else:
            taps = [np.zeros((data.basis.shape[0], data.nneurons), order="F")] * count
        for k in range(count):
            value, total = sums[k]
            g0, gstim = raw_rest(data, eta[k], total)
            out.append((value / nfit, _project(data, (g0, gstim, taps[k])) / nfit))
    return out


class _Round:
    """The rendezvous of a batch's solver threads: each evaluation request
    waits until every live solver of the batch has asked, then the last to
    ask evaluates them all at once."""

    def __init__(self, data, block, nfit, live):
        self.data, self.block, self.nfit = data, block, nfit
        self.live = live
        self.pending = {}  # target -> theta
        self.answers = {}  # target -> (value, gradient) or the exception raised
        self.round = 0
        self.cond = threading.Condition()
        self.buffer = None

    def evaluate(self, i, theta):
        with self.cond:
            self.pending[i] = np.array(theta, dtype=float)
            mine = self.round
            if len(self.pending) == self.live:
                self._run()
            while self.round == mine:
                self.cond.wait()
            answer = self.answers.pop(i)
        if isinstance(answer, BaseException):
            raise answer
        return answer

    def leave(self):
        with self.cond:
            self.live -= 1
            if self.pending and len(self.pending) == self.live:
                self._run()

    def _run(self):
        items = sorted(self.pending.items())
        self.pending = {}
        try:
            count, nbins = len(items), self.data.hi - self.data.lo
            if self.buffer is None or self.buffer.shape[0] < count:
                self.buffer = np.empty((count, nbins))
            results = batch_nll(self.data, items, self.block, self.nfit,
                                self.buffer[:count])
            self.answers.update((i, r) for (i, _), r in zip(items, results))
        except BaseException as error:  # every waiting solver raises it
            self.answers.update((i, error) for i, _ in items)
        self.round += 1
        self.cond.notify_all()


def fit_lockstep(fit_one, data, block, targets, n_jobs, report,
                 width=LOCKSTEP_TARGETS):
    """[fit_one(i, evaluate) for i in targets], the targets in batches of
    width whose evaluations run in lockstep (evaluate(theta): the objective
    and gradient of neuron i), up to n_jobs batches at a time; report(i,
    result) as each one ends. In the order of targets."""
    from spike_bins._progress import map_targets
    nfit = data.fit_count(block)
    targets = list(targets)
    batches = [targets[a:a + width] for a in range(0, len(targets), width)]

    def run(batch):
        meeting = _Round(data, block, nfit, len(batch))
        fits, errors = {}, []

        def one(i):
            try:
                fits[i] = fit_one(i, lambda theta: meeting.evaluate(i, theta))
                report(i, fits[i])
            except BaseException as error:
                errors.append(error)
            finally:
                meeting.leave()

        threads = [threading.Thread(target=one, args=(i,), daemon=True,
                                    name=f"spike_bins_target_{i}") for i in batch]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        if errors:
            raise errors[0]
        return [fits[i] for i in batch]

    done = map_targets(run, batches, n_jobs, lambda _batch, _fits: None)
    return [fit for batch in done for fit in batch]
