"""Bin-centred linear upsampling and windowed spike-train filter sums, their
adjoints, and an exponential with the same bits on every platform.

The functions run the same C++ kernels as the MATLAB/Octave modules
``tentfill2``, ``trainfold_mex``, ``tentfill2_adjoint``,
``trainfold_adjoint``, ``trainfold_pop``, ``trainfold_pop_adjoint``,
``trainfold_multi``, ``trainfold_multi_adjoint`` and ``rate_exp`` and give
the same
results to the bit (the population functions number their sources from 0
here, from 1 there).

Arguments are array-likes of real numbers: numpy arrays of a bool, integer
or floating dtype, Python numbers, or nested lists of them. A 1-D array is
one column (one row, one target, for the targets-major arguments of
``trainfold_multi`` and ``trainfold_multi_adjoint``); arrays of more than 2 dimensions, complex values (whose
imaginary part would be lost), masked arrays with masked elements, text,
objects and sparse matrices are refused. An aligned Fortran-ordered float64
array is read in place; anything else is converted once. Results are new
float64 arrays in Fortran (column-major) order (``rate_exp``'s keeps its
argument's shape, 1-D for 1-D, as numpy's ``exp``).

Bad arguments raise before anything is allocated: ``TypeError`` for an
argument that is not real numbers, ``ValueError`` for sizes and values out
of range. The GIL is released while a kernel runs, so calls from several
threads run in parallel.
"""
from spike_bins import _kernels
from spike_bins._version import __version__

__all__ = ["tentfill2", "trainfold", "tentfill2_adjoint", "trainfold_adjoint",
           "trainfold_pop", "trainfold_pop_adjoint", "trainfold_multi",
           "trainfold_multi_adjoint", "rate_exp", "__version__"]


def tentfill2(x, nbns):
    """Upsample the columns of x to E = int(nbns) fine bins per coarse bin.

    Each column of x holds one signal sampled once per coarse bin. Sample j
    stands for the centre of its block of E fine rows and lands on row
    j*E + E - E//2 - 1 (the centre row for odd E, the row just before the
    centre for even E); the rows between two samples lie on the straight
    line between them, and before the first and after the last sample the
    values ramp linearly to zero. The fine-bin weight is h = 1/nbns, taken
    from nbns itself: a fractional nbns scales the values (nbns = 2.5 gives
    E = 2 and h = 0.4).

    Parameters
    ----------
    x : array_like of real numbers, shape (m, n) or (m,)
        The coarse samples, one signal per column (1-D: one column).
    nbns : real number (or array_like; its first element is used)
        Fine bins per coarse bin, greater than -1 and less than 2**31.
        For -1 < nbns < 1 the result has no rows.

    Returns
    -------
    numpy.ndarray of float64, shape (m * E, n), Fortran order

    Notes
    -----
    Causality: the ramp toward a sample starts half a coarse bin before the
    sample's own block of E rows. Sample j (0-based) is non-zero on rows
    j*E - E//2 .. (j+2)*E - E//2 - 2 (clipped to the result), while its
    block is rows j*E .. j*E + E - 1: ``tentfill2([0, 0, 1, 0], 10)`` is
    non-zero from row 15, and coarse bin 2 is rows 20-29. For a stimulus
    that must not lead the response (a value of coarse bin c acting only
    from row (c + 1) * E on), delay it by two coarse bins before
    upsampling, ``tentfill2(np.r_[np.zeros(2), x[:-2]], nbns)``, or start a
    stimulus filter's lags at two coarse bins; a delay of one coarse bin
    still reaches E//2 rows into bin c (for E >= 2).

    Raises
    ------
    TypeError
        x or nbns is not real numbers.
    ValueError
        x has more than 2 dimensions or more than 2**31 - 1 rows or columns,
        nbns is empty, NaN, infinite, <= -1 or >= 2**31, or the result would
        have more than 2**31 - 1 rows or be larger than memory can address.

    Examples
    --------
    >>> tentfill2([4.0, 8.0], 4).ravel()
    array([3., 4., 5., 6., 7., 8., 6., 4.])
    """
    return _kernels.tentfill2(x, nbns)


def trainfold(spinds, h_currents, twin):
    """Sum the filters placed at spike times over the bins of a window.

    A spike at time s lies in bin int(s) (truncated toward zero); tap q of a
    filter (row q of h_currents) lands in bin int(s) + q. For every bin of
    the window twin[0] .. twin[1] and every filter, the result holds the sum
    of the taps landing there: the convolution of the spike train with each
    filter, computed only over the window.

    Spike times are expected in ascending order: leading spikes that cannot
    reach the window are skipped, and the scan stops at the first spike at
    or past int(twin[1]) + 1, or at a NaN; later spikes are not used, even
    if out of order. Taps are added in list order.

    Parameters
    ----------
    spinds : array_like of real numbers, shape (b,) or (b, 1)
        Spike times, ascending.
    h_currents : array_like of real numbers, shape (c, K) or (c,)
        One filter per column, c taps each (1-D: one filter).
    twin : array_like of real numbers
        Its first two values are the first and last bin of the window, both
        included, each truncated toward zero.

    Returns
    -------
    numpy.ndarray of float64, shape (int(twin[1]) - int(twin[0]) + 1, K),
    Fortran order; row r holds bin int(twin[0]) + r.

    Notes
    -----
    Causality: tap 0 lands in the spike's own bin. For spike-history and
    coupling terms, where bin t may depend only on spikes in earlier bins,
    pass the bins plus one, ``trainfold(np.trunc(spinds) + 1, h, twin)``:
    tap q then lands in bin int(s) + 1 + q, never in the spike's own bin.
    For integer bins ``spinds + 1`` is the same; for times with fractions it
    is not for -1 < s < 0 (s and s + 1 both lie in bin 0), so shift the
    bins, not the times.

    Raises
    ------
    TypeError
        An argument is not real numbers.
    ValueError
        spinds has more than one column; twin holds fewer than two values or
        values that are NaN, infinite or outside the 32-bit integer range;
        twin[1] < twin[0] - 1; a size beyond 2**31 - 1; or a result larger
        than memory can address.

    Examples
    --------
    >>> trainfold([8.0, 10.5, 13.2, 14.0], [1.0, 2.0, 4.0], (10, 13)).ravel()
    array([5., 2., 4., 1.])
    """
    return _kernels.trainfold(spinds, h_currents, twin)


def tentfill2_adjoint(r, nbns):
    """The adjoint (transpose) of tentfill2 with respect to x.

    For r of the shape of ``tentfill2(x, nbns)`` it returns g of the shape of
    x with ``sum(tentfill2(x, nbns) * r) == sum(x * g)`` in exact arithmetic:
    g = A.T @ r where tentfill2(x, nbns) = A @ x, without building A. It is
    the gradient with respect to x of a loss whose gradient with respect to
    the fine signal is r.

    Each coarse sample j of a column sums, from +0.0, the rows of r it feeds
    in tentfill2, in ascending row order: acc = (w * h) * r[row] + acc with
    h = 1/nbns and w the row's integer weight for sample j (G+1+i on the
    head ramp, k+1 before the sample, E-1-k after it and on the tail ramp,
    G = E//2). One form for every column count; a zero weight still
    multiplies (0 * inf is nan).

    Parameters
    ----------
    r : array_like of real numbers, shape (F, n) or (F,)
        F a multiple of E = int(nbns).
    nbns : real number (or array_like; its first element is used)
        Fine bins per coarse bin, at least 1 and less than 2**31.

    Returns
    -------
    numpy.ndarray of float64, shape (F // E, n), Fortran order

    Raises
    ------
    TypeError
        r or nbns is not real numbers.
    ValueError
        r has more than 2 dimensions or more than 2**31 - 1 rows or
        columns, nbns is empty, NaN, infinite, < 1 or >= 2**31, or F is not
        a multiple of int(nbns).

    Examples
    --------
    >>> tentfill2_adjoint([1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0], 4).ravel()
    array([ 8.25, 21.75])
    """
    return _kernels.tentfill2_adjoint(r, nbns)


def trainfold_adjoint(spinds, r, twin, ntaps):
    """The adjoint (transpose) of trainfold with respect to the filters.

    For r of the shape of ``trainfold(spinds, h, twin)`` it returns g of
    ntaps rows with ``sum(trainfold(spinds, h, twin) * r) == sum(h * g)`` in
    exact arithmetic for every h of ntaps taps: g = X.T @ r for the design
    matrix X of the spike train, without building X. With r the residual of
    a Poisson GLM it is the gradient with respect to the filter taps.

    The spikes taken are those trainfold takes with ntaps taps. For each, in
    list order, with B its bin, each column and each window bin t from
    max(B, T0) to min(B + ntaps - 1, T1) ascending:
    g[t - B] = r[t - T0] + g[t - B], from zeros.

    Parameters
    ----------
    spinds : array_like of real numbers, shape (b,) or (b, 1)
        Spike times, ascending.
    r : array_like of real numbers, shape (R, M) or (R,)
        R = int(twin[1]) - int(twin[0]) + 1, one row per bin of the window.
    twin : array_like of real numbers
        Its first two values are the first and last bin of the window.
    ntaps : real number (or array_like; its first element is used)
        The filter length, a whole number from 0 to 2**31 - 1.

    Returns
    -------
    numpy.ndarray of float64, shape (ntaps, M), Fortran order

    Raises
    ------
    TypeError
        An argument is not real numbers.
    ValueError
        spinds has more than one column; twin holds fewer than two values or
        values that are NaN, infinite or outside the 32-bit integer range;
        twin[1] < twin[0] - 1; ntaps is empty, negative, fractional, NaN,
        infinite or >= 2**31; r has more than 2 dimensions, a size beyond
        2**31 - 1 or not one row per bin of the window.

    Examples
    --------
    >>> trainfold_adjoint([8.0, 10.5, 13.2, 14.0], [1.0, 2.0, 4.0, 8.0],
    ...                   (10, 13), 3).ravel()
    array([9., 2., 5.])
    """
    return _kernels.trainfold_adjoint(spinds, r, twin, ntaps)


def trainfold_pop(spinds, ids, h_currents, twin, nsources, out=None):
    """Sum the filters of a population's spikes over the bins of a window.

    Spike j comes from source ids[j] (0 .. nsources - 1). h_currents holds
    nsources filters per output column: column k * nsources + n is the
    filter of source n for output column k. For every bin of the window
    twin[0] .. twin[1] and every output column, the result holds the sum of
    the taps that the spikes place there, each spike using its source's
    filter: the coupling drive of a population in one call.

    The spikes taken are those ``trainfold`` takes with one tap count for
    all sources (leading spikes that cannot reach the window are skipped,
    the scan stops at the first spike at or past int(twin[1]) + 1, or at a
    NaN). Each element starts at +0.0 (or at out's value) and each taken
    spike in list order adds its taps, y = h + y, for each output column in
    turn, bins ascending: with nsources = 1 the result is
    ``trainfold(spinds, h_currents, twin)`` bit for bit.

    Parameters
    ----------
    spinds : array_like of real numbers, shape (b,) or (b, 1)
        Spike times, in any order (see above for which are used).
    ids : array_like of real numbers, shape (b,) or (b, 1)
        The source of each spike, a whole number from 0 to nsources - 1.
    h_currents : array_like of real numbers, shape (c, nsources * K)
        The filters, c taps each (1-D: one filter, for nsources = 1).
    twin : array_like of real numbers
        Its first two values are the first and last bin of the window.
    nsources : real number (or array_like; its first element is used)
        The number of sources N, a whole number from 1 to 2**31 - 1.
    out : numpy.ndarray, optional
        A writeable, aligned, Fortran-ordered float64 array of the result's
        shape, sharing no memory with the arguments: the sums are added
        into it, each element starting at its value, and it is returned.

    Returns
    -------
    numpy.ndarray of float64, shape (int(twin[1]) - int(twin[0]) + 1, K),
    Fortran order (out, when given).

    Raises
    ------
    TypeError
        An argument is not real numbers; out is not a float64 ndarray.
    ValueError
        spinds or ids has more than one column or their lengths differ; an
        id is not a whole number from 0 to nsources - 1 (NaN, infinite);
        nsources is empty, fractional, < 1 or >= 2**31; the columns of
        h_currents are not a multiple of nsources; twin as for
        ``trainfold``; a size beyond 2**31 - 1; out of another shape, not
        Fortran-ordered, read-only or sharing memory with an argument.

    Examples
    --------
    >>> trainfold_pop([8.0, 10.5, 13.2, 14.0], [0, 1, 0, 1],
    ...               [[1.0, 10.0], [2.0, 20.0], [4.0, 40.0]], (10, 13),
    ...               2).ravel()
    array([14., 20., 40.,  1.])
    """
    return _kernels.trainfold_pop(spinds, ids, h_currents, twin, nsources,
                                  out=out)


def trainfold_pop_adjoint(spinds, ids, r, twin, ntaps, nsources, out=None):
    """The adjoint (transpose) of trainfold_pop with respect to the filters.

    For r of the shape of ``trainfold_pop(spinds, ids, h, twin, nsources)``
    it returns g of the shape of h (ntaps rows, nsources * K columns) with
    ``sum(trainfold_pop(spinds, ids, h, twin, nsources) * r) ==
    sum(h * g)`` in exact arithmetic for every h: with r the residual of a
    Poisson GLM, the gradient with respect to every source's filter taps.

    The spikes taken are those trainfold_pop takes with ntaps taps. For
    each, in list order, from source n, each column k and each window bin t
    from max(B, T0) to min(B + ntaps - 1, T1) ascending:
    g[t - B, k * nsources + n] = r[t - T0, k] + g[t - B, k * nsources + n],
    from zeros (or out's values). With nsources = 1 the result is
    ``trainfold_adjoint(spinds, r, twin, ntaps)`` bit for bit.

    Parameters
    ----------
    spinds : array_like of real numbers, shape (b,) or (b, 1)
        Spike times.
    ids : array_like of real numbers, shape (b,) or (b, 1)
        The source of each spike, a whole number from 0 to nsources - 1.
    r : array_like of real numbers, shape (R, K) or (R,)
        R = int(twin[1]) - int(twin[0]) + 1, one row per bin of the window.
    twin : array_like of real numbers
        Its first two values are the first and last bin of the window.
    ntaps : real number (or array_like; its first element is used)
        The filter length, a whole number from 0 to 2**31 - 1.
    nsources : real number (or array_like; its first element is used)
        The number of sources N, a whole number from 1 to 2**31 - 1.
    out : numpy.ndarray, optional
        As for ``trainfold_pop``, of shape (ntaps, nsources * K).

    Returns
    -------
    numpy.ndarray of float64, shape (ntaps, nsources * K), Fortran order
    (out, when given).

    Raises
    ------
    TypeError
        An argument is not real numbers; out is not a float64 ndarray.
    ValueError
        As for ``trainfold_pop`` and ``trainfold_adjoint``; also
        nsources * K beyond 2**31 - 1.

    Examples
    --------
    >>> trainfold_pop_adjoint([8.0, 10.5, 13.2, 14.0], [0, 1, 0, 1],
    ...                       [1.0, 2.0, 4.0, 8.0], (10, 13), 3, 2)
    array([[8., 1.],
           [0., 2.],
           [1., 4.]])
    """
    return _kernels.trainfold_pop_adjoint(spinds, ids, r, twin, ntaps,
                                          nsources, out=out)


def trainfold_multi(spinds, ids, h_currents, twin, nsources, out=None):
    """Sum a population's filters onto many targets at once, one row per
    target (targets-major).

    Spike j comes from source ids[j] (0 .. nsources - 1). h_currents has one
    row per target k and c taps per source: ``h_currents[k, n * c + q]`` is
    tap q of source n's filter onto target k (c = columns / nsources). The
    result has one row per target and one column per bin of the window
    twin[0] .. twin[1]: the coupling drive of every target in one pass, the
    targets of one bin next to each other in memory.

    The spikes taken are those ``trainfold_pop`` takes with c taps. Each
    element starts at +0.0 (or at out's value) and each taken spike in list
    order, from source n, in bin B, adds for each window bin t it reaches
    ascending and each target k: ``y[k, t - T0] = h[k, n * c + t - B] +
    y[k, t - T0]``. Row k is, bit for bit, ``trainfold_pop(spinds, ids,
    h_currents[k].reshape((c, nsources), order="F"), twin, nsources).T``.

    Parameters
    ----------
    spinds : array_like of real numbers, shape (b,) or (b, 1)
        Spike times, in any order (as for ``trainfold_pop``).
    ids : array_like of real numbers, shape (b,) or (b, 1)
        The source of each spike, a whole number from 0 to nsources - 1.
    h_currents : array_like of real numbers, shape (K, c * nsources) or \
(c * nsources,)
        The filters, one row per target (1-D: one target).
    twin : array_like of real numbers
        Its first two values are the first and last bin of the window.
    nsources : real number (or array_like; its first element is used)
        The number of sources N, a whole number from 1 to 2**31 - 1.
    out : numpy.ndarray, optional
        A writeable, aligned, Fortran-ordered float64 array of the result's
        shape, sharing no memory with the arguments: the sums are added
        into it, each element starting at its value, and it is returned.

    Returns
    -------
    numpy.ndarray of float64, shape (K, int(twin[1]) - int(twin[0]) + 1),
    Fortran order (out, when given).

    Raises
    ------
    TypeError
        An argument is not real numbers; out is not a float64 ndarray.
    ValueError
        As for ``trainfold_pop``; the columns of h_currents are not a
        multiple of nsources.

    Examples
    --------
    >>> trainfold_multi([8.0, 10.5, 13.2, 14.0], [0, 1, 0, 1],
    ...                 [[1.0, 2.0, 10.0, 20.0], [3.0, 4.0, 30.0, 40.0]],
    ...                 (10, 13), 2)
    array([[10., 20.,  0.,  1.],
           [30., 40.,  0.,  3.]])
    """
    return _kernels.trainfold_multi(spinds, ids, h_currents, twin, nsources,
                                    out=out)


def trainfold_multi_adjoint(spinds, ids, r, twin, ntaps, nsources, out=None):
    """The adjoint (transpose) of trainfold_multi with respect to the
    filters.

    For r of the shape of ``trainfold_multi(spinds, ids, h, twin,
    nsources)`` (one row per target, one column per window bin) it returns g
    of the shape of h (one row per target, ntaps * nsources columns) with
    ``sum(trainfold_multi(spinds, ids, h, twin, nsources) * r) ==
    sum(h * g)`` in exact arithmetic for every h: with r the residuals of a
    Poisson GLM, the gradient of every target with respect to every
    source's filter taps.

    The spikes taken are those ``trainfold_pop_adjoint`` takes with ntaps
    taps. For each, in list order, from source n, in bin B, each window bin
    t from max(B, T0) to min(B + ntaps - 1, T1) ascending and each target k:
    ``g[k, n * c + t - B] = r[k, t - T0] + g[k, n * c + t - B]``, from zeros
    (or out's values). Row k is, bit for bit, ``trainfold_pop_adjoint(spinds,
    ids, r[k], twin, ntaps, nsources).ravel(order="F")``.

    Calls on consecutive windows of a time-sorted spike list, each with the
    spikes that can reach its window and the same out, add up to the call
    on the whole window bit for bit.

    Parameters
    ----------
    spinds : array_like of real numbers, shape (b,) or (b, 1)
        Spike times.
    ids : array_like of real numbers, shape (b,) or (b, 1)
        The source of each spike, a whole number from 0 to nsources - 1.
    r : array_like of real numbers, shape (K, R) or (R,)
        R = int(twin[1]) - int(twin[0]) + 1, one column per bin of the
        window (1-D: one target).
    twin : array_like of real numbers
        Its first two values are the first and last bin of the window.
    ntaps : real number (or array_like; its first element is used)
        The filter length c, a whole number from 0 to 2**31 - 1.
    nsources : real number (or array_like; its first element is used)
        The number of sources N, a whole number from 1 to 2**31 - 1.
    out : numpy.ndarray, optional
        As for ``trainfold_multi``, of shape (K, ntaps * nsources).

    Returns
    -------
    numpy.ndarray of float64, shape (K, ntaps * nsources), Fortran order
    (out, when given).

    Raises
    ------
    TypeError
        An argument is not real numbers; out is not a float64 ndarray.
    ValueError
        As for ``trainfold_pop_adjoint``, with r's columns (not rows) the
        window's bins; also ntaps * nsources beyond 2**31 - 1.

    Examples
    --------
    >>> trainfold_multi_adjoint([8.0, 10.5, 13.2, 14.0], [0, 1, 0, 1],
    ...                         [[1.0, 2.0, 4.0, 8.0],
    ...                          [16.0, 32.0, 64.0, 128.0]], (10, 13), 2, 2)
    array([[  8.,   0.,   1.,   2.],
           [128.,   0.,  16.,  32.]])
    """
    return _kernels.trainfold_multi_adjoint(spinds, ids, r, twin, ntaps,
                                            nsources, out=out)


def rate_exp(eta, out=None):
    """The exponential of each element, the same bits on every platform.

    exp(eta) element by element, within one unit in the last place (ulp)
    of the correctly rounded value, computed by one fixed sequence of IEEE
    double operations (no math library, no fused multiply-add), so that it
    gives the same bits on every platform and in the MATLAB/Octave module
    ``rate_exp``: the expected counts of a Poisson GLM from its linear
    predictor. The sequence is the contract of the kernel's header
    (rate/portable_exp.h).

    Parameters
    ----------
    eta : array_like of real numbers, shape (), (m,) or (m, n)
        The exponents.
    out : numpy.ndarray, optional
        A writeable, aligned, Fortran-ordered float64 array of eta's shape
        that is either eta itself (the exponential is taken in place) or
        shares no memory with eta; the result is written there and
        returned.

    Returns
    -------
    numpy.ndarray of float64, eta's shape, Fortran order (out, when given).
        NaN gives NaN, eta > 709.782712893384 gives inf, eta <
        -745.1332191019411 gives +0.0; +-0 gives 1.

    Raises
    ------
    TypeError
        eta is not real numbers (complex values are refused: their
        exponential is not that of their real part); out is not a float64
        ndarray.
    ValueError
        eta has more than 2 dimensions or more than 2**31 - 1 rows or
        columns; out of another shape, not Fortran-ordered, read-only or
        overlapping eta without being eta.

    Examples
    --------
    >>> rate_exp([[0.0, -1.0], [-800.0, 0.5]])
    array([[1.        , 0.36787944],
           [0.        , 1.64872127]])
    >>> float(rate_exp(1.0))
    2.7182818284590455
    """
    return _kernels.rate_exp(eta, out=out)
