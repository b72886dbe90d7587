"""spike_bins.io on files written here: NWB units tables (HDF5 via h5py)
and Kilosort folders (numpy .npy, params.py, label .tsv), with spike times
on a 30 kHz sample clock far from 0, silent units and every index dtype."""
import os
import pathlib
import re
import shutil
import subprocess
import sys

import h5py
import numpy as np
import pytest

from spike_bins import io as sio
from spike_bins.glm import PopulationGLM

REPO = pathlib.Path(__file__).resolve().parents[2]
RATE = 30000.0
T0 = 86400.0  # a recording that starts a day into the acquisition clock

# Units as recorded: a handful of spikes on the sample clock, silent units
# first, in the middle and last, one busy unit.
UNITS = [np.array([]),
         T0 + np.array([1, 2, 30000, 299999]) / RATE,
         np.array([]),
         T0 + np.arange(0, 300000, 997) / RATE,
         T0 + np.array([150000]) / RATE,
         np.array([])]
IDS = [4, 0, 17, 2, 9, 30]


def write_nwb(path, units=UNITS, ids=IDS, index_dtype="uint64", drop=(),
              index=None, id_values=None, times_dtype="float64"):
    """An NWB-layout units table: the ragged spike_times column."""
    flat = np.concatenate([np.zeros(0)] + [np.asarray(u, float) for u in units])
    ends = np.cumsum([len(u) for u in units]) if index is None else index
    with h5py.File(path, "w") as f:
        f.attrs["neurodata_type"] = "NWBFile"
        g = f.create_group("units")
        columns = {"spike_times": flat.astype(times_dtype),
                   "spike_times_index": np.asarray(ends).astype(index_dtype),
                   "id": np.asarray(ids if id_values is None else id_values)}
        for name, values in columns.items():
            if name not in drop:
                g.create_dataset(name, data=values)
    return path


@pytest.mark.parametrize("index_dtype", ["uint64", "int64", "int32", "uint32",
                                         "int16"])
def test_nwb_every_unit_for_every_index_dtype(tmp_path, index_dtype):
    path = write_nwb(tmp_path / "units.nwb", index_dtype=index_dtype)
    times, ids = sio.read_nwb_units(path)
    assert ids.dtype == np.int64 and ids.tolist() == IDS
    assert len(times) == len(UNITS)
    for got, want in zip(times, UNITS):
        assert got.dtype == np.float64 and got.ndim == 1
        np.testing.assert_array_equal(got, want)


@pytest.mark.parametrize("units, want", [
    ([9, 4, 2], [9, 4, 2]),            # the order given, not the table's
    ((30,), [30]),                     # a silent unit alone
    (17, [17]),                        # one id
    (np.array([2, 0], dtype=np.uint64), [2, 0]),
    ([], []),
])
def test_nwb_units_selects_by_id_in_order(tmp_path, units, want):
    path = write_nwb(tmp_path / "units.nwb")
    times, ids = sio.read_nwb_units(str(path), units=units)
    assert ids.dtype == np.int64 and ids.tolist() == want
    for got, i in zip(times, want):
        np.testing.assert_array_equal(got, UNITS[IDS.index(i)])


def test_nwb_table_without_units(tmp_path):
    path = write_nwb(tmp_path / "none.nwb", units=[], ids=np.zeros(0, np.int64))
    times, ids = sio.read_nwb_units(path)
    assert times == [] and ids.dtype == np.int64 and ids.shape == (0,)
    with pytest.raises(KeyError, match="unit id 0"):
        sio.read_nwb_units(path, units=[0])


def test_nwb_reads_one_unit_at_a_time(tmp_path, monkeypatch):
    """Every read of the times column is one unit's slice."""
    path = write_nwb(tmp_path / "units.nwb")
    ends = np.cumsum([len(u) for u in UNITS])
    spans = {(int(a), int(b)) for a, b in zip(np.r_[0, ends[:-1]], ends)}
    seen = []
    original = h5py.Dataset.__getitem__

    def spy(self, key):
        if self.name == "/units/spike_times":
            seen.append(key)
        return original(self, key)

    monkeypatch.setattr(h5py.Dataset, "__getitem__", spy)
    sio.read_nwb_units(path)
    assert len(seen) == len(UNITS)
    for key in seen:
        assert isinstance(key, slice) and (key.start, key.stop) in spans


@pytest.mark.parametrize("kwargs, error, words", [
    (dict(drop=("spike_times_index",)), ValueError, "/units/spike_times_index"),
    (dict(drop=("spike_times",)), ValueError, "/units/spike_times "),
    (dict(drop=("id",)), ValueError, "/units/id"),
    (dict(index_dtype="float64"), ValueError, "integer end offsets"),
    (dict(index=[1, 5, 3, 40, 41, 41]), ValueError, "ascending"),
    (dict(index=[0, 4, 4, 305, 306, 307]), ValueError, "points past"),
    # a uint64 offset that would wrap to a negative int64
    (dict(index=np.array([0, 4, 4, 2**64 - 1, 2**64 - 1, 2**64 - 1], np.uint64)),
     ValueError, "points past"),
    (dict(index=[-1, 4, 4, 5, 6, 6], index_dtype="int64"), ValueError, "ascending"),
    (dict(id_values=[1, 2, 3]), ValueError, "has 3 rows"),
    (dict(id_values=[0.5] * 6), ValueError, "integer ids"),
    # a duplicated id matters only when it is asked for
    (dict(id_values=[1, 1, 2, 3, 4, 5]), None, None),
    (dict(times_dtype="S8"), ValueError, "real times"),
])
def test_nwb_malformed_tables_are_refused(tmp_path, kwargs, error, words):
    path = write_nwb(tmp_path / "units.nwb", **kwargs)
    if error is None:
        assert len(sio.read_nwb_units(path)[0]) == 6
        with pytest.raises(ValueError, match="unit id 1 is in /units/id"):
            sio.read_nwb_units(path, units=[1])
        return
    with pytest.raises(error, match=re.escape(words)):
        sio.read_nwb_units(path)


@pytest.mark.parametrize("units, error, words", [
    ([2, 5], KeyError, "unit id 5"),
    ([2, 2], ValueError, "id 2 twice"),
    ([2.0], TypeError, "whole-number ids"),
    ([True], TypeError, "whole-number ids"),
    ("2", TypeError, "sequence of unit ids"),
])
def test_nwb_bad_unit_selection(tmp_path, units, error, words):
    path = write_nwb(tmp_path / "units.nwb")
    with pytest.raises(error, match=re.escape(words)):
        sio.read_nwb_units(path, units=units)


def test_nwb_missing_and_foreign_files(tmp_path):
    with pytest.raises(FileNotFoundError, match="nope.nwb"):
        sio.read_nwb_units(tmp_path / "nope.nwb")
    text = tmp_path / "notes.nwb"
    text.write_text("not HDF5\n")
    with pytest.raises(ValueError, match="cannot be opened as an HDF5"):
        sio.read_nwb_units(text)


def test_import_does_not_load_h5py():
    code = ("import sys, spike_bins, spike_bins.io, spike_bins.glm; "
            "assert 'h5py' not in sys.modules, 'h5py imported'")
    subprocess.run([sys.executable, "-c", code], check=True)


def small_recording():
    """Three units over 2 s on the 30 kHz clock, 1 ms bins from T0."""
    rng = np.random.default_rng(3)
    units = [T0 + np.sort(rng.choice(60000, n, replace=False)) / RATE
             for n in (40, 25, 60)]
    return units


FIT = dict(history_taps=10, n_basis=2, stimulus_lags=1, penalty="ridge",
           alpha=1e-3)


@pytest.mark.parametrize("index_dtype, as_dict", [
    ("uint64", False), ("uint64", True), ("int32", False), ("uint32", True)])
def test_nwb_layout_fits_as_read(tmp_path, index_dtype, as_dict):
    """The raw (times, index) columns of an NWB file (the index uint64 as
    NWB writers store it, or narrower) go straight into fit and give the
    fit of read_nwb_units' lists."""
    units = small_recording()
    path = write_nwb(tmp_path / "rec.nwb", units=units, ids=[0, 1, 2],
                     index_dtype=index_dtype)
    with h5py.File(path, "r") as f:
        layout = (f["units/spike_times"][()], f["units/spike_times_index"][()])
    assert layout[1].dtype == index_dtype
    if as_dict:
        layout = dict(spike_times=layout[0], spike_times_index=layout[1])
    times, _ = sio.read_nwb_units(path)
    want = PopulationGLM(**FIT).fit(times, duration=2.0, t_start=T0)
    got = PopulationGLM(**FIT).fit(layout, duration=2.0, t_start=T0)
    np.testing.assert_array_equal(got.weights_, want.weights_)


# Kilosort folders.

PARAMS = ("dat_path = 'C:\\Users\\lab\\rec.bin'\n"  # not valid Python as a whole
          "n_channels_dat = 385\ndtype = 'int16'\noffset = 0\n"
          "sample_rate = {}\nhp_filtered = False\n")
SAMPLES = np.array([90, 30, 31, 600000, 45, 7, 30000, 2**40, 100], dtype=np.int64)
CLUSTERS = np.array([3, 1, 3, 1, 12, 3, 1, 12, 5], dtype=np.int32)
GROUP_TSV = "cluster_id\tgroup\n1\tgood\n3\tmua\n5\tgood\n8\tgood\n12\tnoise\n"
KSLABEL_TSV = "cluster_id\tKSLabel\n1\tmua\n3\tgood\n5\tgood\n12\tgood\n"


def write_kilosort(folder, samples=SAMPLES, clusters=CLUSTERS, rate="30000.0",
                   tsv=(("cluster_group.tsv", GROUP_TSV),), times_dtype="uint64",
                   column=True, cluster_file="spike_clusters.npy"):
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    if rate is not None:
        (folder / "params.py").write_text(PARAMS.format(rate))
    if samples is not None:
        s = np.asarray(samples).astype(times_dtype)
        np.save(folder / "spike_times.npy", s[:, None] if column else s)
    if clusters is not None:
        np.save(folder / cluster_file, np.asarray(clusters))
    for name, text in tsv:
        (folder / name).write_text(text)
    return folder


def seconds(samples, rate=RATE):
    return np.sort(np.asarray(samples, dtype=np.float64)) / rate


def expected(ids, samples=SAMPLES, clusters=CLUSTERS, rate=RATE):
    return [seconds(samples[clusters == c], rate) for c in ids]


@pytest.mark.parametrize("times_dtype, column", [
    ("uint64", True), ("int64", True), ("uint64", False), ("int64", False),
    ("uint32", False), ("int32", True)])
def test_kilosort_sample_dtypes_and_shapes(tmp_path, times_dtype, column):
    samples = SAMPLES if times_dtype.endswith("64") else SAMPLES % 2**31
    folder = write_kilosort(tmp_path / "ks", samples=samples,
                            times_dtype=times_dtype, column=column)
    times, ids = sio.read_kilosort(folder)
    assert ids.dtype == np.int64 and ids.tolist() == [1, 5, 8]
    for got, want in zip(times, expected([1, 5, 8], samples=samples)):
        assert got.dtype == np.float64
        np.testing.assert_array_equal(got, want)
    assert times[2].size == 0  # cluster 8: labelled good, no spikes


@pytest.mark.parametrize("tsv, groups, want", [
    # the curation file wins over the sorter's labels
    ((("cluster_group.tsv", GROUP_TSV), ("cluster_KSLabel.tsv", KSLABEL_TSV)),
     ("good",), [1, 5, 8]),
    ((("cluster_KSLabel.tsv", KSLABEL_TSV),), ("good",), [3, 5, 12]),
    ((("cluster_KSLabel.tsv", KSLABEL_TSV),), "mua", [1]),
    ((("cluster_group.tsv", GROUP_TSV),), ["mua", "noise"], [3, 12]),
    ((("cluster_group.tsv", GROUP_TSV),), ("unsorted",), []),
    # every cluster: those with spikes and those labelled
    ((("cluster_group.tsv", GROUP_TSV),), None, [1, 3, 5, 8, 12]),
    ((), None, [1, 3, 5, 12]),
    # phy's own layout: CRLF lines, spaces, a trailing blank line
    ((("cluster_group.tsv", "cluster_id\tgroup\r\n 3 \tgood \r\n12\tgood\r\n\r\n"),),
     ("good",), [3, 12]),
    # extra columns, the label column first
    ((("cluster_group.tsv", "group\tcluster_id\tn\ngood\t5\t1\n"),), "good", [5]),
    # saved by an editor that writes a byte-order mark
    ((("cluster_group.tsv", "\ufeffcluster_id\tgroup\n5\tgood\n"),), "good", [5]),
])
def test_kilosort_labels_select_clusters(tmp_path, tsv, groups, want):
    folder = write_kilosort(tmp_path / "ks", tsv=tsv)
    times, ids = sio.read_kilosort(folder, groups=groups)
    assert ids.tolist() == want
    assert len(times) == len(want)
    for got, w in zip(times, expected(want)):
        np.testing.assert_array_equal(got, w)


def test_kilosort_templates_when_no_clusters(tmp_path):
    folder = write_kilosort(tmp_path / "ks", cluster_file="spike_templates.npy",
                            clusters=CLUSTERS.astype(np.uint32),
                            tsv=(("cluster_KSLabel.tsv", KSLABEL_TSV),))
    times, ids = sio.read_kilosort(folder, groups=("good", "mua"))
    assert ids.tolist() == [1, 3, 5, 12]
    for got, w in zip(times, expected([1, 3, 5, 12])):
        np.testing.assert_array_equal(got, w)


@pytest.mark.parametrize("rate, value", [
    ("30000.0", 30000.0), ("30000", 30000.0), ("3e4  # Hz", 30000.0),
    ("30_000.", 30000.0), ("  25000.0", 25000.0), ("19531.25", 19531.25),
    (".5e5", 50000.0), (None, 30000.0),
])
def test_kilosort_params_variants(tmp_path, rate, value):
    folder = write_kilosort(tmp_path / "ks", rate=rate or "1")
    if rate is None:  # sample_rate first, after a byte-order mark
        (folder / "params.py").write_text("\ufeffsample_rate = 3e4\n")
    times, ids = sio.read_kilosort(folder, groups=None)
    for got, w in zip(times, expected(ids, rate=value)):
        np.testing.assert_array_equal(got, w)


def test_kilosort_params_last_assignment_counts(tmp_path):
    folder = write_kilosort(tmp_path / "ks")
    with open(folder / "params.py", "a") as f:
        f.write("sample_rate = 20000.0\nif False:\n    sample_rate = 1.0\n")
    times, ids = sio.read_kilosort(folder, groups=None)
    np.testing.assert_array_equal(times[0], expected(ids, rate=20000.0)[0])


@pytest.mark.parametrize("rate, words", [
    ("__import__('os').system('touch pwned')", "not a number"),
    ("float('nan')", "not a number"),
    ("'30000'", "not a number"),
    ("True", "not a number"),
    ("-30000.0", "finite and positive"),
    ("0", "finite and positive"),
    ("1e999", "finite and positive"),
])
def test_kilosort_params_bad_sample_rate(tmp_path, monkeypatch, rate, words):
    folder = write_kilosort(tmp_path / "ks", rate=rate)
    monkeypatch.chdir(tmp_path)
    with pytest.raises(ValueError, match="sample_rate"):
        sio.read_kilosort(folder)
    with pytest.raises(ValueError, match=re.escape(words)):
        sio.read_kilosort(folder)
    assert not (tmp_path / "pwned").exists()


def test_kilosort_params_without_sample_rate(tmp_path):
    folder = write_kilosort(tmp_path / "ks")
    (folder / "params.py").write_text("dtype = 'int16'\nsample_rates = 3.0\n")
    with pytest.raises(ValueError, match="sets no sample_rate"):
        sio.read_kilosort(folder)


def truncated(folder):
    """A .npy whose header promises more data than it holds."""
    data = (folder / "spike_times.npy").read_bytes()
    (folder / "spike_times.npy").write_bytes(data[:-5])


def garbage(folder):
    (folder / "spike_clusters.npy").write_bytes(b"cluster_id\tgroup\n1\tgood\n")


def floats(folder):
    np.save(folder / "spike_times.npy", SAMPLES / RATE)


def two_columns(folder):
    np.save(folder / "spike_times.npy", np.c_[SAMPLES, SAMPLES])


def pickled(folder):
    np.save(folder / "spike_clusters.npy", np.array([{}] * 9, dtype=object),
            allow_pickle=True)


def remove(name):
    return lambda folder: os.remove(folder / name)


@pytest.mark.parametrize("spoil, error, words", [
    (remove("params.py"), FileNotFoundError, "params.py"),
    (remove("spike_times.npy"), FileNotFoundError, "spike_times.npy"),
    (remove("spike_clusters.npy"), FileNotFoundError, "spike_templates.npy"),
    (remove("cluster_group.tsv"), FileNotFoundError, "cluster_KSLabel.tsv"),
    (truncated, ValueError, "spike_times.npy"),
    (garbage, ValueError, "spike_clusters.npy"),
    (pickled, ValueError, "spike_clusters.npy"),
    (floats, ValueError, "spike_times.npy must hold integers"),
    (two_columns, ValueError, "(n,) or (n, 1)"),
    (lambda f: np.save(f / "spike_clusters.npy", CLUSTERS[:-1]), ValueError,
     "spike_clusters.npy has 8 entries but spike_times.npy has 9"),
    (lambda f: (f / "cluster_group.tsv").write_text("cluster_id\tKSLabel\n1\tgood\n"),
     ValueError, "cluster_group.tsv has no column 'group'"),
    (lambda f: (f / "cluster_group.tsv").write_text("id\tgroup\n1\tgood\n"),
     ValueError, "no column 'cluster_id'"),
    (lambda f: (f / "cluster_group.tsv").write_text(""), ValueError, "no column"),
    (lambda f: (f / "cluster_group.tsv").write_text(
        "cluster_id\tgroup\n1\tgood\n1\tmua\n"),
     ValueError, "labels cluster 1 twice"),
    (lambda f: (f / "cluster_group.tsv").write_text("cluster_id\tgroup\nx\tgood\n"),
     ValueError, "cluster_id 'x'"),
    (lambda f: (f / "cluster_group.tsv").write_text("cluster_id\tgroup\n4\n"),
     ValueError, "row 2 has no 'group'"),
    (lambda f: np.save(f / "spike_times.npy", np.array([2**53 + 2] * 9, np.uint64)),
     ValueError, "beyond 2**53"),
])
def test_kilosort_broken_folders(tmp_path, spoil, error, words):
    folder = write_kilosort(tmp_path / "ks")
    spoil(folder)
    with pytest.raises(error, match=re.escape(words)):
        sio.read_kilosort(folder)


@pytest.mark.parametrize("groups, error", [(5, TypeError), ([1], TypeError),
                                           (b"good", TypeError), ((), ValueError)])
def test_kilosort_bad_groups(tmp_path, groups, error):
    folder = write_kilosort(tmp_path / "ks")
    with pytest.raises(error, match="groups"):
        sio.read_kilosort(folder, groups=groups)


def test_kilosort_missing_folder(tmp_path):
    with pytest.raises(FileNotFoundError, match="absent"):
        sio.read_kilosort(tmp_path / "absent")


# The same folders read by the M-code reader (toolbox/spike_glm_read_kilosort.m).

def save_npy(path, array, version):
    with open(path, "wb") as f:
        np.lib.format.write_array(f, array, version=version)


def big_folder(folder):
    """An hour on the 30 kHz clock from sample 10**8 on, 40 clusters."""
    rng = np.random.default_rng(11)
    samples = rng.integers(10**8, 10**8 + 3600 * 30000, 5000).astype(np.uint64)
    clusters = rng.integers(0, 40, 5000).astype(np.int32)
    labels = "".join(f"{c}\t{('good', 'mua', 'noise')[c % 3]}\n"
                     for c in range(0, 45, 2))
    write_kilosort(folder, samples=samples, clusters=clusters,
                   tsv=(("cluster_group.tsv", "cluster_id\tgroup\n" + labels),))


def npy_versions(folder):
    write_kilosort(folder, tsv=())
    save_npy(folder / "spike_times.npy",
             np.asfortranarray(SAMPLES.astype(np.uint64)[:, None]), (2, 0))
    save_npy(folder / "spike_clusters.npy", CLUSTERS.astype(np.int64), (3, 0))


CROSS = [  # (name, build the folder, groups as Python, groups as M code)
    ("curated", lambda f: write_kilosort(f), ("good",), "{'good'}"),
    ("sorter", lambda f: write_kilosort(
        f, times_dtype="int64", column=False, cluster_file="spike_templates.npy",
        clusters=CLUSTERS.astype(np.uint32),
        tsv=(("cluster_KSLabel.tsv", KSLABEL_TSV),)),
     ("good", "mua"), "{'good', 'mua'}"),
    ("versions", npy_versions, None, "{}"),
    ("rate", lambda f: write_kilosort(f, rate="3e4  # Hz"), "mua", "'mua'"),
    ("big_endian", lambda f: write_kilosort(
        f, times_dtype=">u8", clusters=CLUSTERS.astype(">i4"),
        tsv=(("cluster_group.tsv", "\ufeff" + GROUP_TSV),)), ("good",), "{'good'}"),
    ("big", big_folder, ("good", "noise"), "{'good', 'noise'}"),
    ("big_all", big_folder, None, "[]"),
    ("floats", lambda f: (write_kilosort(f), floats(f)), None, "{}"),
    ("column", lambda f: write_kilosort(f, tsv=(("cluster_group.tsv", "id\tgroup\n"),)),
     ("good",), "{'good'}"),
    ("params", lambda f: write_kilosort(f, rate="'30000'"), None, "{}"),
    ("no_labels", lambda f: write_kilosort(f, tsv=()), ("good",), "{'good'}"),
]

CROSS_SCRIPT = """
out = struct();
for k = 1:numel(folders)
  name = sprintf('c%d', k);
  try
    [t, ids] = spike_glm_read_kilosort(folders{k}, groups{k});
    out.([name '_ids']) = ids;
    out.([name '_times']) = vertcat(zeros(0, 1), t{:});
    out.([name '_counts']) = cellfun(@numel, t);
    out.([name '_error']) = '';
  catch err
    out.([name '_error']) = err.identifier;
  end
end
save('-v7', outputs, '-struct', 'out');
"""


def test_octave_reads_kilosort_as_python_does(tmp_path):
    octave = shutil.which("octave-cli")
    if octave is None:
        pytest.skip("octave-cli is not installed")
    scipy_io = pytest.importorskip("scipy.io")
    folders = []
    for name, build, _, _ in CROSS:
        folder = tmp_path / name
        folder.mkdir()
        build(folder)
        folders.append(str(folder))
    outputs = tmp_path / "out.mat"
    cells = lambda items: "{" + ", ".join(items) + "}"
    script = (f"addpath('{REPO / 'toolbox'}'); outputs = '{outputs}'; "
              f"folders = {cells(repr(f) for f in folders)}; "
              f"groups = {cells(m for *_, m in CROSS)};")
    subprocess.run([octave, "--norc", "--no-history", "--no-window-system",
                    "--eval", script + CROSS_SCRIPT], check=True, timeout=300)
    got = scipy_io.loadmat(outputs)
    refused = []
    for k, ((name, _, groups, _), folder) in enumerate(zip(CROSS, folders), start=1):
        error = got[f"c{k}_error"]
        error = str(np.asarray(error).squeeze()) if error.size else ""
        try:
            times, ids = sio.read_kilosort(folder, groups=groups)
        except (ValueError, FileNotFoundError) as err:
            want = ("spike_glm:fileNotFound" if isinstance(err, FileNotFoundError)
                    else "spike_glm:")
            assert error.startswith(want), f"{name}: Python {err!r}, Octave {error!r}"
            refused.append(name)
            continue
        assert error == "", f"{name}: Octave refused ({error})"
        np.testing.assert_array_equal(got[f"c{k}_ids"].reshape(-1), ids, err_msg=name)
        counts = got[f"c{k}_counts"].reshape(-1)
        np.testing.assert_array_equal(counts, [t.size for t in times], err_msg=name)
        flat = np.concatenate([np.zeros(0)] + times)
        np.testing.assert_array_equal(got[f"c{k}_times"].reshape(-1), flat,
                                      err_msg=name)
    assert refused == ["floats", "column", "params", "no_labels"]


# The README's "From a file" and docs/fit_from_files.md: their code blocks
# run on files written here.

DOC = REPO / "docs" / "fit_from_files.md"
README = REPO / "README.md"


def readme_from_a_file():
    """The README's subsection "### From a file", up to the next heading."""
    text = README.read_text()
    start = text.index("\n### From a file\n")
    end = re.compile(r"^#{1,3} ", re.M).search(text, start + 2).start()
    return text[start:end]


def doc_blocks(fence):
    """The README's blocks, then the doc's: Python fenced, Octave indented."""
    texts = [readme_from_a_file(), DOC.read_text()]
    if fence == "python":
        return [b for t in texts for b in re.findall(r"```python\n(.*?)```", t, re.S)]
    return [re.sub(r"(?m)^    ", "", b) for t in texts
            for b in re.findall(r"\n\n((?:    .*\n)+)", t)
            if "spike_glm_read_kilosort" in b]


def clock_spikes(rng, rates, seconds):
    """Poisson units on the 30 kHz clock; unit 1 follows unit 0 by 2-4 ms."""
    samples = [np.unique(rng.integers(0, int(seconds * RATE), rng.poisson(r * seconds)))
               for r in rates]
    follow = samples[0][rng.random(samples[0].size) < 0.3]
    follow = follow + rng.integers(60, 120, follow.size)
    samples[1] = np.unique(np.r_[samples[1], follow[follow < seconds * RATE]])
    return samples


def kilosort_output(rng, tmp_path):
    """The doc's folder: 60 s, clusters 0 and 2 good, 5 mua, 385 channels."""
    samples = clock_spikes(rng, (10.0, 5.0, 3.0), 60.0)
    folder = write_kilosort(tmp_path / "kilosort_output",
                            samples=np.concatenate(samples),
                            clusters=np.repeat([0, 2, 5], [s.size for s in samples]),
                            tsv=(("cluster_group.tsv",
                                  "cluster_id\tgroup\n0\tgood\n2\tgood\n5\tmua\n"),))
    with open(folder / "recording.dat", "wb") as f:
        f.truncate(60 * 30000 * 385 * 2)  # sparse: no disk used


def test_doc_python_blocks_run(tmp_path):
    rng = np.random.default_rng(8)
    samples = clock_spikes(rng, (12.0, 6.0, 9.0), 300.0)
    write_nwb(tmp_path / "session.nwb", units=[s / RATE for s in samples],
              ids=[3, 7, 12])
    kilosort_output(rng, tmp_path)
    blocks = doc_blocks("python")
    assert len(blocks) == 2
    outputs = [subprocess.run([sys.executable, "-c", code], cwd=tmp_path, check=True,
                              capture_output=True, text=True, timeout=300).stdout
               for code in blocks]
    assert [line.split(":")[0] for line in outputs[0].splitlines()] == [
        "unit 3", "unit 7", "unit 12"]
    assert "converged True" in outputs[0] and "False" not in outputs[0]
    held_out = [float(line.split(", ")[1].split()[0]) for line in outputs[0].splitlines()]
    assert np.all(np.isfinite(held_out))
    pvalues = [float(line.split("KS p = ")[1]) for line in outputs[0].splitlines()]
    assert all(0 <= p <= 1 for p in pvalues)
    for figure in ("filters.png", "coupling.png", "ks.png"):
        assert (tmp_path / figure).stat().st_size > 0
    assert outputs[1].strip() == "{0: True, 2: True}"


def test_doc_octave_block_runs(tmp_path):
    octave = shutil.which("octave-cli")
    if octave is None:
        pytest.skip("octave-cli is not installed")
    from test_cross_host import module_dir
    modules = module_dir()
    if modules is None or not (modules / "spike_glm_fit.m").exists():
        pytest.skip("no Octave modules with spike_glm_fit "
                    "(set SPIKE_BINS_OCTAVE_MODULES)")
    kilosort_output(np.random.default_rng(8), tmp_path)
    [block] = doc_blocks("octave")
    # octave-cli draws through gnuplot, whose PNG without Ghostscript is
    # '-dpngcairo', as the block's comment says.
    assert "'-dpng'" in block
    block = block.replace("'-dpng'", "'-dpngcairo'")
    # The modules go in front of toolbox/, whose files of their names are
    # only their help text.
    script = f"addpath('{REPO / 'toolbox'}'); addpath('{modules}'); " + block
    out = subprocess.run([octave, "--norc", "--no-history", "--no-window-system",
                          "--eval", script], cwd=tmp_path, check=True,
                         capture_output=True, text=True, timeout=300).stdout
    rows = np.array([line.split() for line in out.strip().splitlines()], dtype=float)
    np.testing.assert_array_equal(rows[:, :2], [[0, 1], [2, 1]])
    assert np.all(np.isfinite(rows[:, 2]))
    assert (tmp_path / "coupling.png").stat().st_size > 0
