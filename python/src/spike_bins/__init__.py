"""Bin-centred linear upsampling and windowed spike-train filter sums.

The functions run the same C++ kernels as the MATLAB/Octave modules tentfill2
and trainfold_mex and give the same results to the bit. Arguments are numpy
array-likes of real numbers (a 1-D array is one column); results are new
float64 arrays in column-major (Fortran) order. Refusals raise TypeError for
an argument that is not real numeric data and ValueError for the rest, with
the modules' messages, before the result is allocated. The GIL is released
while a kernel runs, so calls from several threads run in parallel.
"""
from spike_bins import _kernels

__all__ = ["tentfill2", "trainfold"]

_NOT_GIVEN = object()  # marks an argument left out of the call


def tentfill2(x=_NOT_GIVEN, nbns=_NOT_GIVEN, *extra):
    """Upsample the columns of x to E = int(nbns) fine bins per coarse bin.

    Each coarse sample lands on the centre row of its block of E fine rows
    (the row just before the centre for an even E); rows in between
    interpolate linearly and the ends ramp to zero. x is m x n (1-D: one
    column); nbns is its first element. Returns an (m * E) x n array.

    >>> tentfill2([1.0, 2.0], 2)
    array([[1. ],
           [1.5],
           [2. ],
           [1. ]])
    """
    if x is _NOT_GIVEN or nbns is _NOT_GIVEN or extra:
        raise TypeError("tentfill needs 2 input args: x, nbns")
    return _kernels.tentfill2(x, nbns)


def trainfold(spinds=_NOT_GIVEN, h_currents=_NOT_GIVEN, twin=_NOT_GIVEN,
              *extra):
    """Sum the filters placed at spike times over the bins of a window.

    A spike at time s lies in bin int(s); tap q of filter k (row q, column k
    of h_currents; 1-D: one filter) lands in bin int(s) + q. twin holds the
    first and last bin of the window (its first two values). Returns a
    (T1 - T0 + 1) x K array, row r for bin T0 + r. Spike times are expected
    in ascending order: the scan stops at the first one past the window.

    >>> trainfold([0.0, 2.5], [[1.0], [0.5]], (0, 3))
    array([[1. ],
           [0.5],
           [1. ],
           [0.5]])
    """
    if (spinds is _NOT_GIVEN or h_currents is _NOT_GIVEN
            or twin is _NOT_GIVEN or extra):
        raise TypeError(
            "needs 3 input args:  trainfold_mex(spinds, h_currents, twin)")
    return _kernels.trainfold(spinds, h_currents, twin)
