"""Spike times from the files real recordings come in.

``read_nwb_units`` reads the units table of an NWB 2 file (HDF5, with
h5py); ``read_kilosort`` reads a Kilosort/phy output folder (numpy .npy
files, ``params.py`` and the cluster label .tsv files). Both return spike
times in seconds as a list of float64 arrays, one per unit, with the units'
ids: the first argument of ``glm.PopulationGLM.fit`` as it stands.

h5py is imported by ``read_nwb_units`` only, when it is called, so
``import spike_bins.io`` and ``read_kilosort`` work without it.
"""
import ast
import csv
import math
import operator
import os

import numpy as np

__all__ = ["read_nwb_units", "read_kilosort"]


def read_nwb_units(path, units=None):
    """Spike times of the units table of an NWB 2 file.

    The table's ragged column ``/units/spike_times`` holds every unit's
    spike times back to back; ``/units/spike_times_index[k]`` is the end
    offset of unit k's times in it (any integer type: uint64, int64, int32,
    ...), and ``/units/id[k]`` its id. Each selected unit's times are read
    with one slice of the dataset, so the whole column is never held in
    memory at once.

    Parameters
    ----------
    path : str or os.PathLike
        The NWB file.
    units : int or sequence of int, optional
        Ids of the units to read (values of ``/units/id``), in the order
        wanted; default all units, in the table's order.

    Returns
    -------
    spike_times : list of numpy.ndarray of float64
        One array per unit, in seconds from the acquisition start (the
        file's ``timestamps_reference_time``), as stored (NWB stores each
        unit's times in ascending order).
    ids : numpy.ndarray of int64
        The units' ids, in the same order.

    Raises
    ------
    FileNotFoundError
        No file at path.
    ValueError
        The file is not HDF5, or ``/units/spike_times``,
        ``/units/spike_times_index`` or ``/units/id`` is missing or
        malformed (the message names it): an index that is not integers,
        decreasing, negative or past the end of the times, an id column of
        another length than the index, a requested id found twice in the
        table, or a unit requested twice.
    KeyError
        A requested id is not in the table (the message names it).
    TypeError
        units holds something other than whole numbers.

    Notes
    -----
    NWB counts times from the file's ``timestamps_reference_time``, the
    session start unless the file says otherwise. To fit the whole recording, pass its start and length:
    ``PopulationGLM.fit(spike_times, duration=..., t_start=...)``, with
    t_start the acquisition start on that clock (often 0.0) and duration
    the seconds recorded after it; every spike must fall in one of its
    bins. To hold out the end for ``score``, fit ``[t_start, t_split)``
    and score ``[t_split, t_end)`` with ``t_start=t_split``, each on the
    spikes of its bins (docs/fit_from_files.md shows the split).

    Examples
    --------
    >>> from spike_bins.io import read_nwb_units
    >>> spikes, ids = read_nwb_units("session.nwb")          # doctest: +SKIP
    >>> spikes, ids = read_nwb_units("session.nwb", units=[12, 3])  # doctest: +SKIP
    >>> model = PopulationGLM(history_taps=100).fit(
    ...     spikes, duration=1800.0, t_start=0.0)            # doctest: +SKIP
    """
    path = os.fspath(path)
    if not os.path.isfile(path):
        raise FileNotFoundError(f"no NWB file {path!r}")
    wanted = None if units is None else _unit_ids(units)
    import h5py  # here, so that the rest of the package runs without it

    try:
        handle = h5py.File(path, "r")
    except OSError as err:
        raise ValueError(f"{path!r} cannot be opened as an HDF5 (NWB) file: "
                         f"{err}") from None
    with handle:
        times = _dataset(handle, path, "/units/spike_times")
        index = _dataset(handle, path, "/units/spike_times_index")
        id_set = _dataset(handle, path, "/units/id")
        if times.ndim != 1 or times.dtype.kind not in "iuf":
            raise ValueError(f"/units/spike_times in {path!r} must be a 1-D "
                             f"column of real times, got {times.dtype} of "
                             f"shape {times.shape}")
        ends = _end_offsets(index[()], times.shape[0], path)
        ids = np.asarray(id_set[()])
        if ids.ndim != 1 or ids.dtype.kind not in "iu":
            raise ValueError(f"/units/id in {path!r} must be a 1-D column of "
                             f"integer ids, got {ids.dtype} of shape {ids.shape}")
        if ids.size != ends.size:
            raise ValueError(f"/units/id in {path!r} has {ids.size} rows but "
                             f"/units/spike_times_index has {ends.size}")
        if ids.dtype.kind == "u" and ids.size and ids.max() > np.iinfo(np.int64).max:
            raise ValueError(f"/units/id in {path!r} holds an id beyond int64")
        ids = ids.astype(np.int64)
        rows = range(ids.size) if wanted is None else _rows_of(ids, wanted, path)
        spike_times = []
        for k in rows:
            start = int(ends[k - 1]) if k else 0
            spike_times.append(np.asarray(times[start:int(ends[k])], dtype=np.float64))
        return spike_times, ids[list(rows)]


def _unit_ids(units):
    """The requested ids as a list of Python ints, in order, each once."""
    if isinstance(units, (int, np.integer)) and not isinstance(units, bool):
        units = [units]
    if isinstance(units, (str, bytes)) or not hasattr(units, "__iter__"):
        raise TypeError("units must be an id or a sequence of unit ids")
    out = []
    for u in (units.tolist() if isinstance(units, np.ndarray) else units):
        if isinstance(u, bool):
            raise TypeError(f"units must hold whole-number ids, got {u!r}")
        try:
            u = operator.index(u)
        except TypeError:
            raise TypeError(f"units must hold whole-number ids, got {u!r}") from None
        if u in out:
            raise ValueError(f"units names id {u} twice")
        out.append(u)
    return out


def _dataset(handle, path, name):
    import h5py

    obj = handle.get(name)
    if not isinstance(obj, h5py.Dataset):
        raise ValueError(f"{path!r} has no dataset {name} (an NWB units table "
                         "with spike times needs /units/spike_times, "
                         "/units/spike_times_index and /units/id)")
    return obj


def _end_offsets(index, ntimes, path):
    """spike_times_index as int64 end offsets, checked against the times."""
    index = np.asarray(index)
    if index.ndim != 1 or index.dtype.kind not in "iu":
        raise ValueError(f"/units/spike_times_index in {path!r} must be a 1-D "
                         f"column of integer end offsets, got {index.dtype} "
                         f"of shape {index.shape}")
    if index.size == 0:
        return index.astype(np.int64)
    # Compare in the index's own type first: a uint64 offset past int64
    # would wrap on conversion.
    if index.max() > ntimes:
        raise ValueError(f"/units/spike_times_index in {path!r} points past the "
                         f"{ntimes} spike times (offset {index.max()})")
    ends = index.astype(np.int64)
    if ends[0] < 0 or np.any(np.diff(ends) < 0):
        raise ValueError(f"/units/spike_times_index in {path!r} must be "
                         "ascending non-negative end offsets")
    return ends


def _rows_of(ids, wanted, path):
    rows = []
    for u in wanted:
        where = np.flatnonzero(ids == u)
        if where.size == 0:
            raise KeyError(f"unit id {u} is not in /units/id of {path!r}")
        if where.size > 1:
            raise ValueError(f"unit id {u} is in /units/id of {path!r} "
                             f"{where.size} times")
        rows.append(int(where[0]))
    return rows


# Kilosort / phy output folders.

LABEL_FILES = (("cluster_group.tsv", "group"), ("cluster_KSLabel.tsv", "KSLabel"))


def read_kilosort(folder, groups=("good",)):
    """Spike times of the clusters of a Kilosort (or phy-curated) folder.

    Reads ``spike_times.npy`` (sample numbers, any integer dtype, shape
    (n,) or (n, 1)), divided by ``sample_rate`` of ``params.py``;
    ``spike_clusters.npy`` (the cluster of each spike; ``spike_templates.npy``
    when there is none, as before any curation), and the cluster labels:
    those of ``cluster_group.tsv`` (the curation, columns ``cluster_id`` and
    ``group``), else of ``cluster_KSLabel.tsv`` (the sorter's own, columns
    ``cluster_id`` and ``KSLabel``). ``params.py`` is parsed, not run: the
    right-hand side of its ``sample_rate = ...`` line must be a number
    literal.

    Parameters
    ----------
    folder : str or os.PathLike
        The output folder.
    groups : str, sequence of str or None, default ("good",)
        The labels whose clusters are read (e.g. ``("good", "mua")``, not
        empty); None reads every cluster, labelled or not, and needs no
        label file.

    Returns
    -------
    spike_times : list of numpy.ndarray of float64
        One array per cluster, ascending, in seconds from the acquisition
        start (sample 0). A labelled cluster without spikes gets an empty
        array.
    cluster_ids : numpy.ndarray of int64
        The clusters' ids, ascending.

    Raises
    ------
    FileNotFoundError
        The folder, params.py, spike_times.npy, both spike_clusters.npy and
        spike_templates.npy, or (with groups given) both label files are
        missing; the message names them.
    ValueError
        A file is malformed (not .npy, non-integer samples or clusters, the
        two of different lengths, a label file without its columns, a
        cluster labelled twice, params.py without a positive finite
        sample_rate); the message names the file and the column or key.
        Also an empty groups.
    TypeError
        groups is not a string, a sequence of strings or None.

    Notes
    -----
    Sample numbers count from the start of the acquisition the sorter read,
    so the recording is ``t_start=0.0`` and ``duration=n_samples /
    sample_rate``, n_samples the samples of the raw data file (its size
    over n_channels_dat times the sample size of params.py's dtype):
    ``PopulationGLM.fit(spike_times, duration=n_samples / 30000.0,
    t_start=0.0)``. The times lie on the sample clock, each the exactly
    rounded quotient of its sample number.

    Examples
    --------
    >>> from spike_bins.io import read_kilosort
    >>> spikes, ids = read_kilosort("kilosort_output")             # doctest: +SKIP
    >>> spikes, ids = read_kilosort("ks_out", ("good", "mua"))     # doctest: +SKIP
    >>> model = PopulationGLM(history_taps=100).fit(
    ...     spikes, duration=3600.0, t_start=0.0)                  # doctest: +SKIP
    """
    folder = os.fspath(folder)
    if not os.path.isdir(folder):
        raise FileNotFoundError(f"no Kilosort folder {folder!r}")
    selected = _groups(groups)
    rate = _read_sample_rate(os.path.join(folder, "params.py"))
    samples = _integer_npy(os.path.join(folder, "spike_times.npy"))
    cluster_file = os.path.join(folder, "spike_clusters.npy")
    if not os.path.isfile(cluster_file):
        cluster_file = os.path.join(folder, "spike_templates.npy")
        if not os.path.isfile(cluster_file):
            raise FileNotFoundError(f"{folder!r} has neither spike_clusters.npy nor "
                                    "spike_templates.npy")
    clusters = _integer_npy(cluster_file)
    if clusters.size != samples.size:
        raise ValueError(f"{os.path.basename(cluster_file)} has {clusters.size} "
                         f"entries but spike_times.npy has {samples.size}")
    labels = _labels(folder, required=selected is not None)

    if clusters.dtype.kind == "u" and clusters.size and \
            clusters.max() > np.iinfo(np.int64).max:
        raise ValueError(f"{os.path.basename(cluster_file)} holds a cluster id "
                         "beyond int64")
    clusters = clusters.astype(np.int64)
    if selected is None:
        chosen = np.union1d(clusters, np.fromiter(labels, np.int64, len(labels)))
    else:
        chosen = np.array(sorted(c for c, g in labels.items() if g in selected),
                          dtype=np.int64)

    # Exactly rounded seconds: float64 holds every sample number below 2**53
    # (over 9 years at 30 kHz); beyond it a conversion would move spikes.
    if samples.size and (samples.max() > 2**53 or (
            samples.dtype.kind == "i" and samples.min() < -2**53)):
        raise ValueError("spike_times.npy holds sample numbers beyond 2**53, "
                         "which float64 seconds cannot keep apart")
    seconds = samples.astype(np.float64) / rate
    order = np.lexsort((seconds, clusters))
    seconds, clusters = seconds[order], clusters[order]
    lo = np.searchsorted(clusters, chosen, side="left")
    hi = np.searchsorted(clusters, chosen, side="right")
    return [seconds[a:b].copy() for a, b in zip(lo, hi)], chosen


def _groups(groups):
    if groups is None:
        return None
    if isinstance(groups, str):
        return {groups}
    if not hasattr(groups, "__iter__") or isinstance(groups, bytes):
        raise TypeError("groups must be a label, a sequence of labels or None")
    out = set()
    for g in groups:
        if not isinstance(g, str):
            raise TypeError(f"groups must hold labels (str), got {g!r}")
        out.add(g)
    if not out:
        raise ValueError("groups is empty, which selects no cluster: pass None "
                         "for every cluster")
    return out


def _read_sample_rate(path):
    """sample_rate of a Kilosort params.py, read without running the file.

    The last line ``sample_rate = <number>`` counts (as when the file
    runs); its right-hand side goes through ``ast.literal_eval`` and must
    be a finite positive int or float.
    """
    try:
        with open(path, encoding="utf-8-sig", errors="replace") as f:
            lines = f.read().splitlines()
    except FileNotFoundError:
        raise FileNotFoundError(f"no params.py at {path!r}") from None
    value = None
    for line in lines:
        name, eq, rhs = line.partition("=")
        if eq and name.strip() == "sample_rate" and not line[:1].isspace():
            try:
                value = ast.literal_eval(rhs.strip())
            except (ValueError, SyntaxError, TypeError, MemoryError, RecursionError):
                raise ValueError(f"sample_rate in {path!r} is not a number: "
                                 f"{rhs.strip()!r}") from None
            if isinstance(value, bool) or not isinstance(value, (int, float)):
                raise ValueError(f"sample_rate in {path!r} is not a number: "
                                 f"{rhs.strip()!r}")
    if value is None:
        raise ValueError(f"{path!r} sets no sample_rate")
    value = float(value)
    if not (math.isfinite(value) and value > 0):
        raise ValueError(f"sample_rate in {path!r} must be finite and positive, "
                         f"got {value}")
    return value


def _integer_npy(path):
    """A 1-D integer array from a .npy of shape (n,) or (n, 1)."""
    name = os.path.basename(path)
    if not os.path.isfile(path):
        raise FileNotFoundError(f"no {name} at {path!r}")
    try:
        a = np.load(path, allow_pickle=False)
    except (ValueError, OSError, EOFError) as err:
        raise ValueError(f"{path!r} is not a readable .npy file: {err}") from None
    if not isinstance(a, np.ndarray) or a.dtype.kind not in "iu":
        raise ValueError(f"{name} must hold integers, got {getattr(a, 'dtype', a)}")
    if a.ndim == 2 and a.shape[1] == 1:
        a = a[:, 0]
    if a.ndim != 1:
        raise ValueError(f"{name} must be of shape (n,) or (n, 1), got {a.shape}")
    return a


def _labels(folder, required):
    """{cluster id: label} from the first label file present ({} if none)."""
    for name, column in LABEL_FILES:
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            return _read_tsv(path, column)
    if required:
        raise FileNotFoundError(f"{folder!r} has neither cluster_group.tsv nor "
                                "cluster_KSLabel.tsv (pass groups=None to read "
                                "every cluster)")
    return {}


def _read_tsv(path, column):
    name = os.path.basename(path)
    # utf-8-sig: a byte-order mark (an editor's) is not part of the header.
    with open(path, newline="", encoding="utf-8-sig") as f:
        rows = [r for r in csv.reader(f, delimiter="\t") if any(c.strip() for c in r)]
    header = [c.strip() for c in rows[0]] if rows else []
    for needed in ("cluster_id", column):
        if needed not in header:
            raise ValueError(f"{name} has no column {needed!r} (columns: {header})")
    ci, li = header.index("cluster_id"), header.index(column)
    labels = {}
    for line, row in enumerate(rows[1:], start=2):
        if len(row) <= max(ci, li):
            raise ValueError(f"{name} row {line} has no {column!r} value")
        try:
            cid = int(row[ci].strip())
        except ValueError:
            raise ValueError(f"{name} row {line}: cluster_id {row[ci]!r} is not "
                             "a whole number") from None
        if cid in labels:
            raise ValueError(f"{name} labels cluster {cid} twice")
        labels[cid] = row[li].strip()
    return labels
