"""A recording held in every worker of a dask cluster for the fits that
run there (imported with dask.distributed only: the client path of
PopulationGLM.fit and the workers)."""
from distributed import WorkerPlugin

from spike_bins._distributed import _fit_task
from spike_bins._objective import _stimulus_gram

# Recordings held by this process as a dask worker, by key.
_HELD = {}


class Held(WorkerPlugin):
    """A worker plugin that holds a recording in every worker of the
    cluster, those that join later included, until it is unregistered.

    It is sent to each worker once. A future scattered with broadcast=True
    is not: the scheduler's active memory manager drops the replicas that
    no waiting task asks for (near the end of a fit, when the tasks left
    run on one worker), and a task moved to another worker then fetches the
    whole recording again."""

    def __init__(self, key, data):
        self.key, self.data = key, data

    def setup(self, worker):
        _HELD[self.key] = self.data

    def teardown(self, worker):
        _HELD.pop(self.key, None)


def held(key):
    try:
        return _HELD[key]
    except KeyError:
        raise RuntimeError(f"this dask worker does not hold the recording {key!r}: "
                           "it was released before the fit ended") from None


def held_fit_task(key, targets, penalty, alpha, tol, max_iter, block=None, gram=None):
    """A dask task: _fit_task on the recording this worker holds."""
    return _fit_task(held(key), targets, penalty, alpha, tol, max_iter, block, gram)


def held_legacy_fit(key, i):
    """A dask task of the deprecated spike_bins.dask.fit_population: neuron
    i's fit on the population this worker holds."""
    from spike_bins import _legacy
    return _legacy._fit_neuron(held(key), i)


def held_gram(key):
    return _stimulus_gram(held(key))
