"""The independent Python reference of the kernels and the golden input set:
tests/golden/make_golden.py of this repository, loaded as a module."""
import importlib.util
import pathlib

import numpy as np

GOLDEN_DIR = pathlib.Path(__file__).resolve().parents[2] / "tests" / "golden"


def _load():
    path = GOLDEN_DIR / "make_golden.py"
    module_spec = importlib.util.spec_from_file_location("make_golden", path)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


make_golden = _load()


def reference_tentfill2(x, nbns):
    """The reference's y for a 2-D x, as a Fortran-ordered array."""
    x = np.asarray(x, dtype=np.float64)
    rows, cols = x.shape
    y = make_golden.upsample_bins(x.ravel(order="F").tolist(), rows, cols, nbns)
    bins = make_golden.truncate(nbns)
    return np.array(y, dtype=np.float64).reshape((rows * bins, cols), order="F")


def reference_trainfold(spinds, h, twin):
    """The reference's y for a 2-D h, as a Fortran-ordered array."""
    h = np.asarray(h, dtype=np.float64)
    taps, filters = h.shape
    y = make_golden.spike_filter_sum([float(s) for s in spinds],
                                     h.ravel(order="F").tolist(), taps,
                                     filters, twin)
    rows = make_golden.truncate(twin[1]) - make_golden.truncate(twin[0]) + 1
    return np.array(y, dtype=np.float64).reshape((rows, filters), order="F")
