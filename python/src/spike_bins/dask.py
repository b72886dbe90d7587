"""Chunked tentfill2 and trainfold as dask arrays (the extra
spike_bins[dask]). Population GLM fits on a dask.distributed cluster are
PopulationGLM.fit(client=...) in spike_bins.glm; fit_population here is
deprecated.

Each chunk of rows is one task that calls the kernel on only the samples or
spikes that reach those rows, so no worker holds the whole result; the
chunks are, bit for bit, the rows of the in-memory call. For trainfold this
holds for spike lists in any order: the chunk gets, in list order, the bins
of the spikes that the in-memory scan adds (after its leading skip, before
the first NaN or time past the window) whose taps reach its rows; for
ascending spike bins they are found by binary search, otherwise by a scan of
the list.

    from dask.distributed import Client
    client = Client("tcp://scheduler-host:8786")   # or Client() for local
    y = spike_bins.dask.trainfold(spikes, filters, (0, 3_599_999), 2**20)
    y.sum(axis=0).compute()
"""
import math
import warnings

import dask
import dask.array as da
import numpy as np

import spike_bins as _sb
from spike_bins import _rows

__all__ = ["tentfill2", "trainfold", "fit_population"]


def _chunk_size(chunk_rows):
    if (isinstance(chunk_rows, bool) or not isinstance(chunk_rows, (int, np.integer))
            or chunk_rows < 1):
        raise ValueError("chunk_rows must be a whole number of rows, 1 or more")
    return int(chunk_rows)


def tentfill2(x, nbns, chunk_rows):
    """tentfill2(x, nbns) as a dask array in chunks of chunk_rows rows.

    Arguments are refused as by spike_bins.tentfill2, with its messages."""
    chunk = _chunk_size(chunk_rows)
    # All of x checked as the whole call checks it (kinds, masked elements,
    # object arrays), at an nbns that gives no rows.
    _sb.tentfill2(x, 0.5)
    x = np.asarray(x, dtype=np.float64)
    if x.ndim < 2:
        x = x.reshape(-1, 1)
    _sb.tentfill2(np.empty((x.shape[0], 0)), nbns)  # nbns and the row count
    nbns = float(np.asarray(nbns, dtype=np.float64).ravel(order="F")[0])
    e = int(math.trunc(nbns))
    m, n = x.shape
    rows = m * e
    if rows == 0:
        return da.from_array(np.zeros((0, n), order="F"))
    parts = []
    for start in range(0, rows, chunk):
        stop = min(start + chunk, rows)
        first, end = _rows.sample_span(m, e, start, stop)
        task = dask.delayed(_rows.tentfill2_rows, pure=True)(
            np.asfortranarray(x[first:end]), first, nbns, start, stop)
        parts.append(da.from_delayed(task, (stop - start, n), dtype=np.float64))
    return da.concatenate(parts, axis=0)


def trainfold(spinds, h_currents, twin, chunk_rows):
    """trainfold(spinds, h_currents, twin) as a dask array in chunks of
    chunk_rows rows (bins), each chunk from the spikes that reach it.

    Arguments are refused as by spike_bins.trainfold, with its messages."""
    chunk = _chunk_size(chunk_rows)
    _sb.trainfold(spinds, np.zeros((0, 0)), twin)  # spinds and twin
    _sb.trainfold(np.zeros(0), h_currents, (0, -1))  # h_currents
    spinds = np.asarray(spinds, dtype=np.float64).reshape(-1)
    h = np.asarray(h_currents, dtype=np.float64)
    if h.ndim < 2:
        h = h.reshape(-1, 1)
    h = np.asfortranarray(h)
    t0, t1 = (int(math.trunc(v)) for v in
              np.asarray(twin, dtype=np.float64).ravel(order="F")[:2])
    ntaps, nfilters = h.shape
    rows = t1 - t0 + 1
    if rows == 0:
        return da.from_array(np.zeros((0, nfilters), order="F"))
    bins = _rows.taken_spikes(spinds, ntaps, t0, t1)
    ascending = bool(np.all(bins[1:] >= bins[:-1]))
    parts = []
    for start in range(t0, t1 + 1, chunk):
        stop = min(start + chunk - 1, t1)
        reaching = _rows.spikes_reaching(bins, ntaps, start, stop, ascending)
        task = dask.delayed(_sb.trainfold, pure=True)(
            np.ascontiguousarray(reaching), h, (start, stop))
        parts.append(da.from_delayed(task, (stop - start + 1, nfilters),
                                     dtype=np.float64))
    return da.concatenate(parts, axis=0)


def fit_population(client, pop, neurons=None):
    """Deprecated: use PopulationGLM.fit(client=...) (spike_bins.glm).

    glm.fit_population on a dask.distributed Client, one neuron per task;
    the data are sent to each worker once. The parameters are the serial
    fit's to the bit (the same code on the same data, one thread per task)."""
    warnings.warn("spike_bins.dask.fit_population is deprecated: use "
                  "PopulationGLM.fit(client=...) (spike_bins.glm)", DeprecationWarning,
                  stacklevel=2)
    import uuid
    from spike_bins._held import Held, held_legacy_fit
    neurons = list(range(pop.nneurons) if neurons is None else neurons)
    # Sent to each worker once through a plugin (a broadcast scatter can be
    # fetched again by a task that moves late in the fit); its own key per
    # call, released at the end.
    key = f"spike_bins-population-{uuid.uuid4().hex}"
    client.register_worker_plugin(Held(key, pop), name=key, nanny=False)
    futures = []
    try:
        futures = [client.submit(held_legacy_fit, key, i, pure=False) for i in neurons]
        return np.array([theta for theta, _ in client.gather(futures)])
    finally:
        client.cancel(futures)
        client.unregister_worker_plugin(key)
