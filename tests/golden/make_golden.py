#!/usr/bin/env python3
"""Golden bits of the two kernels, computed outside the C++ build.

Python floats are IEEE doubles and Python evaluates every operation on its
own, rounded to nearest: there is no contraction into fused multiply-adds and
no reassociation, whatever compiler built the interpreter. The functions
upsample_bins and spike_filter_sum below follow the kernels' defining
formulas step by step, in the order the kernels must use; their results are
the bits every build of the kernels must reproduce.

The generator writes golden_data.inc, compiled into the C++ kernel tests
(tests/kernels/golden_test.cpp), so no data file is read when the tests run
(under qemu or wine too):

  * a table of small upsampling cases chosen because a build that fuses
    a * b + c into one rounding changes their last bit, in either arithmetic
    form and whichever product the compiler fuses; their outputs are stored
    as exact bits;
  * a digest of the outputs of both kernels over a large input set that the
    C++ test rebuilds from the same integer stream (splitmix64) and the same
    draws. The builders here and in golden_test.cpp must stay in step; every
    double they make comes from a bit pattern or from exact operations, so a
    build that contracts the test's own arithmetic builds the same inputs.

The spike-train filter sum and its adjoint only add (y = h + y, g = r + g):
no multiply can fuse into their additions, so they have no fusing-sensitive
table; the digests cover them. The upsampling adjoint multiplies then adds
(acc = (w * h) * r + acc): its table holds cases a fusing build changes.

The adjoints (upsample_bins_adjoint, spike_filter_sum_adjoint) have input
sets of their own (their own stream tags), drawn like the forwards' sets.

The population sums (spike_filter_pop, spike_filter_pop_adjoint) add only,
too; their sets (tags 7 and 8) draw a source count, a source id per spike
(numbered from 0 or 1, the base drawn too) and N filters per output column.
The targets-major population sums (spike_filter_multi and its adjoint) draw
their sets alike from tags 9 and 10, the output columns being the targets.
The exponential (portable_exp) has case 0 of fixed edge values and draws the
others from tag 11.

Regenerate (a few seconds) after a change of the input set, never after a
change of the kernels, whose bits are fixed:
    python3 tests/golden/make_golden.py tests/golden/golden_data.inc
Check that the committed file is what this script produces (a CTest test):
    python3 tests/golden/make_golden.py --check tests/golden/golden_data.inc

Other languages' tests can import this module and call upsample_bins,
spike_filter_sum and the adjoints, or the build_*_case functions for the
inputs.
"""

import math
import struct
import sys
import textwrap
from fractions import Fraction

MASK = (1 << 64) - 1
INT32_MIN = -(1 << 31)
INT32_MAX = (1 << 31) - 1
SEED = 0x6A09E667F3BCC909
UPSAMPLE_CASES = 40000
SPIKE_CASES = 30000
UPSAMPLE_TAG = 1
SPIKE_TAG = 2
ADJOINT_UPSAMPLE_CASES = 20000
ADJOINT_SPIKE_CASES = 20000
ADJOINT_UPSAMPLE_TAG = 4
ADJOINT_SPIKE_TAG = 5
POP_CASES = 12000
ADJOINT_POP_CASES = 12000
POP_TAG = 7
ADJOINT_POP_TAG = 8
MULTI_CASES = 12000
ADJOINT_MULTI_CASES = 12000
MULTI_TAG = 9
ADJOINT_MULTI_TAG = 10
EXP_CASES = 6000
EXP_TAG = 11
CANONICAL_NAN = 0x7FF8000000000000


# --- Bits ---------------------------------------------------------------------


def bits_of(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def from_bits(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def mix64(z):
    """The splitmix64 output function: a bijection of 64-bit integers."""
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
    return z ^ (z >> 31)


def digest_values(digest, values):
    """Folds the bits of each value into the digest: digest = mix64(digest ^
    bits), with every NaN counted as 0x7ff8000000000000, as NaN payloads may
    differ between compilers and machines."""
    if not values:
        return digest
    words = struct.unpack("<%dQ" % len(values), struct.pack("<%dd" % len(values), *values))
    for z in words:
        if (z & 0x7FF0000000000000) == 0x7FF0000000000000 and (z & 0xFFFFFFFFFFFFF):
            z = CANONICAL_NAN
        z ^= digest  # mix64, inline for speed
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        digest = z ^ (z >> 31)
    return digest


# --- The kernels, from their definition ---------------------------------------


def truncate(value):
    """Truncation toward zero to a 32-bit int, or None when undefined."""
    if not (value > -2147483649.0 and value < 2147483648.0):
        return None
    return int(value)


def upsample_bins(x, rows, cols, nbns):
    """y (rows * E by cols, column-major) from x (rows by cols, column-major).

    E = nbns truncated toward zero, G = E // 2, h = 1.0 / nbns. Per column:
    head rows i = 0 .. E-G-1: ((G+1+i) * h) * x0; interior rows of the gap
    between x[j-1] and x[j], k = 0 .. E-1: with one column
    ((E-1-k) * x[j-1] + (k+1) * x[j]) * h, with any other column count
    ((E-1-k) * h) * x[j-1] + ((k+1) * h) * x[j]; tail rows k = 0 .. G-1:
    ((E-1-k) * h) * x[rows-1]. Requires -1 < nbns < 2^31."""
    e = truncate(nbns)
    assert e is not None and e >= 0
    if e == 0 or rows == 0 or cols == 0:
        return []
    g = e // 2
    h = 1.0 / nbns
    y = []
    for col in range(cols):
        xc = x[col * rows:(col + 1) * rows]
        x0 = xc[0]
        for i in range(e - g):
            y.append((float(g + 1 + i) * h) * x0)
        for j in range(1, rows):
            a = xc[j - 1]
            b = xc[j]
            for k in range(e):
                if cols == 1:
                    y.append((float(e - 1 - k) * a + float(k + 1) * b) * h)
                else:
                    y.append((float(e - 1 - k) * h) * a + (float(k + 1) * h) * b)
        last = xc[rows - 1]
        for k in range(g):
            y.append((float(e - 1 - k) * h) * last)
    return y


def taken_spike_bins(spinds, taps, t0, t1):
    """The bins B = trunc(s) of the spikes spike_filter_sum and its adjoint
    take, in list order: L = T0 - c + 1 and U = T1 + 1 (integers, compared as
    doubles with the untruncated times); skip the leading spikes with L > s,
    then take spikes until one fails U > s (at or past U, or NaN). A taken
    -Inf reaches no bin and gives none."""
    lower = float(t0 - taps + 1)
    upper = float(t1 + 1)
    j = 0
    while j < len(spinds) and lower > spinds[j]:
        j += 1
    for s in spinds[j:]:
        if not (upper > s):
            break
        if s != float("-inf"):
            yield int(s)


def spike_filter_sum(spinds, h, taps, filters, twin):
    """y (R by filters, column-major, R = T1 - T0 + 1) from the spike times,
    the filters (taps by filters, column-major) and the window twin.

    L = T0 - c + 1 and U = T1 + 1 (integers, compared as doubles with the
    untruncated times). Skip the leading spikes with L > s; then take spikes
    in list order until one fails U > s (at or past U, or NaN). A taken spike
    in bin B = trunc(s) adds tap t - B of each filter to row t - T0 for each
    bin t = max(B, T0) .. min(B + c - 1, T1), as y = tap + y. Bins are exact
    integers: a taken time too far below the window (down to -Inf) reaches no
    bin. Requires a window that truncates to 32-bit ints with T1 >= T0 - 1."""
    t0 = truncate(twin[0])
    t1 = truncate(twin[1])
    assert t0 is not None and t1 is not None and t1 >= t0 - 1
    rows = t1 - t0 + 1
    y = [0.0] * (rows * filters)
    for b in taken_spike_bins(spinds, taps, t0, t1):
        first = max(b, t0)
        last = min(b + taps - 1, t1)
        for k in range(filters):
            for t in range(first, last + 1):
                r = (t - t0) + rows * k
                y[r] = h[(t - b) + taps * k] + y[r]
    return y


def upsample_bins_adjoint(r, rows, cols, nbns):
    """g (rows / E by cols, column-major) from r (rows by cols, column-major),
    the adjoint of upsample_bins.

    E, G and h as in upsample_bins, E >= 1, rows a multiple of E. Sample j of
    a column: acc = +0.0, then acc = (w * h) * r[rho] + acc for each row rho
    that holds sample j in the forward, in ascending row order, w its integer
    weight there: head row i: G+1+i; gap before x[j], position k: k+1; gap
    after x[j], position k: E-1-k (zero included); tail position k: E-1-k.
    The rows and weights are found from the forward's row formulas."""
    e = truncate(nbns)
    assert e is not None and e >= 1 and rows % e == 0
    if rows == 0 or cols == 0:
        return []
    g = e // 2
    h = 1.0 / nbns
    m = rows // e
    holders = [[] for _ in range(m)]  # (row, weight) per sample, ascending
    for i in range(e - g):
        holders[0].append((i, g + 1 + i))
    for j in range(1, m):
        for k in range(e):
            row = (e - g) + (j - 1) * e + k
            holders[j - 1].append((row, e - 1 - k))
            holders[j].append((row, k + 1))
    for k in range(g):
        holders[m - 1].append((rows - g + k, e - 1 - k))
    out = []
    for col in range(cols):
        rc = r[col * rows:(col + 1) * rows]
        for j in range(m):
            acc = 0.0
            for row, w in sorted(holders[j]):
                acc = (float(w) * h) * rc[row] + acc
            out.append(acc)
    return out


def spike_filter_sum_adjoint(spinds, r, taps, cols, twin):
    """g (taps by cols, column-major) from the spike times, r (R by cols,
    column-major, R = T1 - T0 + 1) and the window: the adjoint of
    spike_filter_sum with respect to the filters.

    The spikes are those spike_filter_sum takes with the same taps. For each,
    in list order, and each column in turn, for t = max(B, T0) ..
    min(B + c - 1, T1) ascending: g[t - B] = r[t - T0] + g[t - B]."""
    t0 = truncate(twin[0])
    t1 = truncate(twin[1])
    assert t0 is not None and t1 is not None and t1 >= t0 - 1
    rows = t1 - t0 + 1
    assert len(r) == rows * cols
    g = [0.0] * (taps * cols)
    for b in taken_spike_bins(spinds, taps, t0, t1):
        for k in range(cols):
            for t in range(max(b, t0), min(b + taps - 1, t1) + 1):
                i = (t - b) + taps * k
                g[i] = r[(t - t0) + rows * k] + g[i]
    return g


def spike_filter_pop(spinds, ids, h, taps, sources, outputs, twin, base):
    """y (R by outputs, column-major) from the spike times, their source ids
    (whole numbers from base to base + sources - 1) and the filters (taps by
    sources * outputs, column k * sources + n the filter of source n for
    output column k).

    The spikes taken and the bins are spike_filter_sum's with the same taps.
    For each taken spike in list order, from source n = id - base, each
    output column k in turn and each bin t ascending:
    y[t - T0, k] = h[t - B, k * sources + n] + y[t - T0, k]."""
    t0 = truncate(twin[0])
    t1 = truncate(twin[1])
    assert t0 is not None and t1 is not None and t1 >= t0 - 1
    assert all(base <= i <= base + sources - 1 and int(i) == i for i in ids)
    rows = t1 - t0 + 1
    y = [0.0] * (rows * outputs)
    for j, b, first, last in taken_spikes(spinds, taps, t0, t1):
        n = int(ids[j]) - base
        for k in range(outputs):
            f = taps * (k * sources + n)
            for t in range(first, last + 1):
                i = (t - t0) + rows * k
                y[i] = h[f + t - b] + y[i]
    return y


def spike_filter_pop_adjoint(spinds, ids, r, taps, sources, outputs, twin,
                             base):
    """g (taps by sources * outputs, column-major) from the spike times,
    their source ids and r (R by outputs): the adjoint of spike_filter_pop
    with respect to the filters. For each spike taken, in list order, each
    column k in turn and each bin t ascending:
    g[t - B, k * sources + n] = r[t - T0, k] + g[t - B, k * sources + n]."""
    t0 = truncate(twin[0])
    t1 = truncate(twin[1])
    assert t0 is not None and t1 is not None and t1 >= t0 - 1
    rows = t1 - t0 + 1
    assert len(r) == rows * outputs
    g = [0.0] * (taps * sources * outputs)
    for j, b, first, last in taken_spikes(spinds, taps, t0, t1):
        n = int(ids[j]) - base
        for k in range(outputs):
            f = taps * (k * sources + n)
            for t in range(first, last + 1):
                i = f + t - b
                g[i] = r[(t - t0) + rows * k] + g[i]
    return g


def spike_filter_multi(spinds, ids, h, taps, sources, targets, twin, base):
    """y (targets by R, column-major) from the spike times, their source ids
    and the filters (targets by taps * sources, element (k, n * taps + q) tap
    q of source n's filter onto target k).

    The spikes taken and the bins are spike_filter_sum's with the same taps.
    For each taken spike in list order, from source n = id - base, each bin t
    ascending and each target k in turn:
    y[k, t - T0] = h[k, n * taps + t - B] + y[k, t - T0]."""
    t0 = truncate(twin[0])
    t1 = truncate(twin[1])
    assert t0 is not None and t1 is not None and t1 >= t0 - 1
    assert all(base <= i <= base + sources - 1 and int(i) == i for i in ids)
    rows = t1 - t0 + 1
    assert len(h) == targets * taps * sources
    y = [0.0] * (targets * rows)
    for j, b, first, last in taken_spikes(spinds, taps, t0, t1):
        n = int(ids[j]) - base
        for t in range(first, last + 1):
            f = targets * (n * taps + t - b)
            for k in range(targets):
                i = k + targets * (t - t0)
                y[i] = h[f + k] + y[i]
    return y


def spike_filter_multi_adjoint(spinds, ids, r, taps, sources, targets, twin,
                               base):
    """g (targets by taps * sources, column-major) from the spike times,
    their source ids and r (targets by R): the adjoint of spike_filter_multi
    with respect to the filters. For each spike taken, in list order, each
    bin t ascending and each target k in turn:
    g[k, n * taps + t - B] = r[k, t - T0] + g[k, n * taps + t - B]."""
    t0 = truncate(twin[0])
    t1 = truncate(twin[1])
    assert t0 is not None and t1 is not None and t1 >= t0 - 1
    rows = t1 - t0 + 1
    assert len(r) == rows * targets
    g = [0.0] * (targets * taps * sources)
    for j, b, first, last in taken_spikes(spinds, taps, t0, t1):
        n = int(ids[j]) - base
        for t in range(first, last + 1):
            f = targets * (n * taps + t - b)
            for k in range(targets):
                g[f + k] = r[k + targets * (t - t0)] + g[f + k]
    return g


def taken_spikes(spinds, taps, t0, t1):
    """(j, B, a, z) for each spike j that the scan with taps takes and that
    reaches a bin a <= z of the window, in list order."""
    lower = float(t0 - taps + 1)
    upper = float(t1 + 1)
    j = 0
    while j < len(spinds) and lower > spinds[j]:
        j += 1
    for j in range(j, len(spinds)):
        s = spinds[j]
        if not (upper > s):
            break
        if s == float("-inf"):
            continue
        b = int(s)
        first = max(b, t0)
        last = min(b + taps - 1, t1)
        if first <= last:
            yield j, b, first, last


# --- The input set ------------------------------------------------------------


class Stream:
    """splitmix64: 64-bit state, one output per step."""

    __slots__ = ("state",)

    def __init__(self, tag, index):
        self.state = mix64(SEED ^ (tag << 40) ^ index)

    def bits(self):
        z = self.state = (self.state + 0x9E3779B97F4A7C15) & MASK
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK  # mix64, inline
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        return z ^ (z >> 31)

    def below(self, n):
        return self.bits() % n

    def chance(self, percent):
        return self.below(100) < percent

    def unit(self):  # [0, 1), exact
        return float(self.bits() >> 11) * 2.0 ** -53

    def half_unit(self):  # [0, 0.5), exact
        return float(self.bits() >> 12) * 2.0 ** -53


def draw_value(s):
    """A sample or tap: ordinary numbers and every kind of edge value."""
    kind = s.below(100)
    sign = s.bits() & (1 << 63)
    if kind < 30:  # ordinary, |v| in [2^-4, 2^5)
        exponent = 1019 + s.below(9)
        return from_bits(sign | exponent << 52 | s.bits() >> 12)
    if kind < 40:  # two decimals
        return float(s.below(20001) - 10000) / 100.0
    if kind < 48:
        return float(s.below(11) - 5)
    if kind < 53:  # +-0
        return from_bits(sign)
    if kind < 56:  # quiet NaN with a payload
        return from_bits(sign | 0x7FF8000000000000 | s.bits() >> 13)
    if kind < 60:  # +-Inf
        return from_bits(sign | 0x7FF0000000000000)
    if kind < 65:  # subnormal (or zero)
        return from_bits(sign | s.bits() >> 12)
    if kind < 70:  # huge, near overflow
        exponent = 2046 - s.below(48)
        return from_bits(sign | exponent << 52 | s.bits() >> 12)
    if kind < 74:  # tiny normal
        exponent = 1 + s.below(40)
        return from_bits(sign | exponent << 52 | s.bits() >> 12)
    if kind < 86:  # any bits at all
        return from_bits(s.bits())
    exponent = 993 + s.below(61)  # |v| in [2^-30, 2^31)
    return from_bits(sign | exponent << 52 | s.bits() >> 12)


def draw_nbns(s):
    """A bin count inside the domain (-1 < nbns < 2^31)."""
    kind = s.below(100)
    if kind < 35:
        return float(1 + s.below(8))
    if kind < 45:
        return float(9 + s.below(32))
    if kind < 47:  # beyond the kernel's weight chunks
        return float(100 + s.below(201))
    if kind < 60:
        whole = float(1 + s.below(12))
        return whole + s.unit()
    if kind < 70:
        whole = float(1 + s.below(12))
        return whole + 0.25 * float(s.below(4))
    if kind < 80:  # one ulp either side of a whole number
        whole = bits_of(float(1 + s.below(8)))
        return from_bits(whole + 1 if s.chance(50) else whole - 1)
    if kind < 90:  # E = 0
        choice = s.below(5)
        if choice < 4:
            return (0.0, -0.0, 0.9999999999999999, -0.9999999999999999)[choice]
        v = s.unit()
        return -v if s.chance(50) else v
    return 1.0


def build_upsample_case(index):
    """(x, rows, cols, nbns) of case index of the upsampling set."""
    s = Stream(UPSAMPLE_TAG, index)
    nbns = draw_nbns(s)
    many = nbns >= 100.0
    rows = 0 if s.chance(6) else 1 if s.chance(20) else 2 + s.below(2 if many else 9)
    cols = 0 if s.chance(5) else 1 if s.chance(45) else 2 + s.below(1 if many else 3)
    x = [draw_value(s) for _ in range(rows * cols)]
    if cols >= 2 and s.chance(20):  # equal columns: the two forms side by side
        x = x[:rows] * cols
    return x, rows, cols, nbns


def build_upsample_adjoint_case(index):
    """(r, rows, cols, nbns) of case index of the upsampling adjoint set:
    rows = m * E for m coarse samples drawn as in the forward's set."""
    s = Stream(ADJOINT_UPSAMPLE_TAG, index)
    nbns = draw_nbns(s)
    if not nbns >= 1.0:  # the adjoint needs E >= 1
        nbns = 1.0 + abs(nbns)
    many = nbns >= 100.0
    samples = 0 if s.chance(6) else 1 if s.chance(20) else 2 + s.below(2 if many else 9)
    cols = 0 if s.chance(5) else 1 if s.chance(45) else 2 + s.below(1 if many else 3)
    rows = samples * int(nbns)
    r = [draw_value(s) for _ in range(rows * cols)]
    return r, rows, cols, nbns


def window_end(s, b):
    """The bin itself or, truncating back to it, the bin plus a fraction
    (below one half, so that no rounding reaches the next bin) away from 0."""
    if s.chance(60):
        return float(b)
    f = s.half_unit()
    if b > 0:
        return float(b) + f
    if b < 0:
        return float(b) - f
    return f if s.chance(50) else -f


def next_down(value):
    """The largest double below value (value finite)."""
    if value > 0.0:
        return from_bits(bits_of(value) - 1)
    if value < 0.0:
        return from_bits(bits_of(value) + 1)
    return -5e-324


def draw_spike_time(s, lower, upper):
    if s.chance(90):  # near the window: whole, half or any fraction
        p = float(lower - 3 + s.below(upper - lower + 7))
        kind = s.below(10)
        if kind < 3:
            return p
        if kind < 4:
            return p + 0.5
        return p + s.unit()
    choice = s.below(15)
    if choice == 14:
        return draw_value(s)
    edges = (float("nan"), float("inf"), float("-inf"), 1e300, -1e300, -0.0, 5e-324,
             float(lower), next_down(float(lower)), float(upper), next_down(float(upper)),
             -3e9, 3e9, -2147483649.5)
    return edges[choice]


def build_spike_case(index, adjoint=False):
    """(spinds, h, taps, filters, twin) of case index of the spike-sum set;
    with adjoint, (spinds, r, taps, filters, twin) of the adjoint's set, drawn
    alike from its own streams, with r (window rows by filters) in place of
    h."""
    s = Stream(ADJOINT_SPIKE_TAG if adjoint else SPIKE_TAG, index)
    where = s.below(100)
    if where < 80:
        first = s.below(29) - 8
    elif where < 90:
        first = INT32_MIN + s.below(7)
    else:
        first = INT32_MAX - s.below(7)
    last = min(max(first - 1 + s.below(42), INT32_MIN), INT32_MAX)
    twin = (window_end(s, first), window_end(s, last))
    taps = 0 if s.chance(5) else 1 + s.below(6) if s.chance(85) else 7 + s.below(14)
    filters = 0 if s.chance(5) else 1 if s.chance(55) else 2 + s.below(2)
    h = []
    for _ in range((last - first + 1 if adjoint else taps) * filters):
        if s.chance(70):
            h.append(float(s.below(2001) - 1000) / 100.0)
        else:
            h.append(draw_value(s))
    count = 0 if s.chance(5) else 1 + s.below(16)
    lower = first - taps + 1
    upper = last + 1
    spinds = [draw_spike_time(s, lower, upper) for _ in range(count)]
    if s.chance(55):  # ascending, NaNs left where they are
        slots = [i for i, t in enumerate(spinds) if t == t]
        for i, t in zip(slots, sorted(spinds[i] for i in slots)):
            spinds[i] = t
    for i in range(1, count):
        if s.chance(15):
            spinds[i] = spinds[i - 1]
    return spinds, h, taps, filters, twin


def build_pop_case(index, adjoint=False, tag=None):
    """(spinds, ids, h, taps, sources, outputs, twin, base) of case index of
    the population set; with adjoint, of the adjoint's set, with r (window
    rows by outputs) in place of h. With tag, of that tag's set, drawn
    alike (the targets-major sets: the same number of values, in their own
    layout)."""
    if tag is None:
        tag = ADJOINT_POP_TAG if adjoint else POP_TAG
    s = Stream(tag, index)
    first = s.below(29) - 8 if s.chance(90) else INT32_MAX - s.below(7)
    last = min(first - 1 + s.below(30), INT32_MAX)
    twin = (window_end(s, first), window_end(s, last))
    taps = 0 if s.chance(5) else 1 + s.below(8)
    sources = 1 + s.below(4)
    outputs = 0 if s.chance(5) else 1 + s.below(3)
    base = s.below(2)
    values = (last - first + 1) * outputs if adjoint else taps * sources * outputs
    h = []
    for _ in range(values):
        if s.chance(70):
            h.append(float(s.below(2001) - 1000) / 100.0)
        else:
            h.append(draw_value(s))
    count = 0 if s.chance(5) else 1 + s.below(24)
    spinds = [draw_spike_time(s, first - taps + 1, last + 1) for _ in range(count)]
    ids = [float(base + s.below(sources)) for _ in range(count)]
    if s.chance(40):  # ascending, NaNs left where they are
        slots = [i for i, t in enumerate(spinds) if t == t]
        for i, t in zip(slots, sorted(spinds[i] for i in slots)):
            spinds[i] = t
    for i in range(1, count):
        if s.chance(15):
            spinds[i] = spinds[i - 1]
    return spinds, ids, h, taps, sources, outputs, twin, base


# --- The exponential ---------------------------------------------------------

EXP_OVERFLOW = 709.782712893383973096
EXP_UNDERFLOW = -745.13321910194110842


def portable_exp_one(x):
    """exp(x) by the kernel's sequence (rate/portable_exp.h): NaN gives
    x + x, x > 709.782712893383973096 gives inf, x < -745.13321910194110842
    gives +0.0; otherwise the reduction by ln 2 in two parts, the rational
    approximation and y * 2^kd rounded once (ldexp)."""
    if x != x:
        return x + x
    if x > EXP_OVERFLOW:
        return float("inf")
    if x < EXP_UNDERFLOW:
        return 0.0
    shift = 6755399441055744.0  # 0x1.8p52
    t = x * 1.44269504088896338700e+00 + shift
    kd = t - shift
    hi = x - kd * 6.93147180369123816490e-01
    lo = kd * 1.90821492927058770002e-10
    r = hi - lo
    s = r * r
    c = r - s * (1.66666666666666019037e-01 + s * (-2.77777777770155933842e-03 + s * (
        6.61375632143793436117e-05 + s * (-1.65339022054652515390e-06
                                          + s * 4.13813679705723846039e-08))))
    y = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi)
    return math.ldexp(y, int(kd))


def portable_exp(x):
    return [portable_exp_one(v) for v in x]


LN2 = from_bits(0x3FE62E42FEFA39EF)  # ln 2 rounded to a double


def exp_edge_values():
    """Case 0 of the exponential's set: signed zeros, +-1e-300, both
    thresholds and their neighbours, subnormal results, whole multiples of
    ln 2 (as products), infinities and NaN."""
    values = [0.0, -0.0, 1.0, -1.0, 1e-300, -1e-300, 0.5, -0.5,
              float("inf"), float("-inf"), float("nan"),
              -708.5, -740.0, -744.44007192138126, 700.0]
    for threshold in (EXP_OVERFLOW, EXP_UNDERFLOW):
        values += [from_bits(bits_of(threshold) + d) for d in range(-3, 4)]
    values += [float(k) * LN2 for k in (-1075, -1074, -1022, -1, 1, 10, 1023, 1024)]
    return values


def build_exp_case(index):
    """(x,) of case index of the exponential's set: the edge values for
    case 0, else 0 .. 40 values (every tail length of the vector blocks)."""
    if index == 0:
        return (exp_edge_values(),)
    s = Stream(EXP_TAG, index)
    x = []
    for _ in range(s.below(41)):
        kind = s.below(100)
        sign = s.bits() & (1 << 63)
        if kind < 45:  # |v| in [2^-10, 2^10): the whole range and past it
            x.append(from_bits(sign | (1013 + s.below(20)) << 52 | s.bits() >> 12))
        elif kind < 55:  # within 4 ulps of a threshold
            threshold = EXP_OVERFLOW if s.chance(50) else EXP_UNDERFLOW
            x.append(from_bits(bits_of(threshold) + s.below(9) - 4))
        elif kind < 65:  # whole multiples of ln 2
            x.append(float(s.below(2101) - 1075) * LN2)
        elif kind < 72:  # subnormal results
            x.append(-708.0 - float(s.below(38000)) / 1024.0)
        elif kind < 80:  # tiny, subnormal arguments too
            x.append(from_bits(sign | s.below(1000) << 52 | s.bits() >> 12))
        elif kind < 90:
            x.append(draw_value(s))
        else:  # two decimals
            x.append(float(s.below(20001) - 10000) / 100.0)
    return (x,)


# Each kernel's input set: (part name of one-column cases, part name of the
# others or None for one part, case count, case builder, kernel).
INPUT_SETS = [
    ("upsample_bins, one column", "upsample_bins, more columns",
     UPSAMPLE_CASES, build_upsample_case, upsample_bins),
    ("spike_filter_sum", None, SPIKE_CASES, build_spike_case,
     spike_filter_sum),
    ("upsample_bins_adjoint", None, ADJOINT_UPSAMPLE_CASES,
     build_upsample_adjoint_case, upsample_bins_adjoint),
    ("spike_filter_sum_adjoint", None, ADJOINT_SPIKE_CASES,
     lambda index: build_spike_case(index, adjoint=True),
     spike_filter_sum_adjoint),
    ("spike_filter_pop", None, POP_CASES, build_pop_case, spike_filter_pop),
    ("spike_filter_pop_adjoint", None, ADJOINT_POP_CASES,
     lambda index: build_pop_case(index, adjoint=True),
     spike_filter_pop_adjoint),
    ("spike_filter_multi", None, MULTI_CASES,
     lambda index: build_pop_case(index, tag=MULTI_TAG), spike_filter_multi),
    ("spike_filter_multi_adjoint", None, ADJOINT_MULTI_CASES,
     lambda index: build_pop_case(index, adjoint=True, tag=ADJOINT_MULTI_TAG),
     spike_filter_multi_adjoint),
    ("portable_exp", None, EXP_CASES, build_exp_case, portable_exp),
]


def digests():
    """(name, cases, outputs, digest) of each part of the input set."""
    parts = []
    for one_column, others, cases, build, kernel in INPUT_SETS:
        sums = {one_column: [0, 0], others: [0, 0]}
        for index in range(cases):
            args = build(index)
            out = kernel(*args)
            # The upsampling sets' column count is args[2]; one part else.
            part = sums[one_column if others is None or args[2] == 1
                        else others]
            part[0] += len(out)
            part[1] = digest_values(part[1], out)
        parts.append((one_column, cases) + tuple(sums[one_column]))
        if others is not None:
            parts.append((others, cases) + tuple(sums[others]))
    return parts


# --- Fusing-sensitive cases -----------------------------------------------------


def fma(a, b, c):
    """a * b + c rounded once (finite operands)."""
    return float(Fraction(a) * Fraction(b) + Fraction(c))


def fused_interior(a, b, e, k, h, one_column):
    """The two values a build that contracts the interior formula can give:
    the product of x[j-1] or the product of x[j] fused into the addition."""
    w1 = float(e - 1 - k)
    w2 = float(k + 1)
    if one_column:
        return (fma(w1, a, w2 * b) * h, fma(w2, b, w1 * a) * h)
    return (fma(w1 * h, a, (w2 * h) * b), fma(w2 * h, b, (w1 * h) * a))


def sensitive_rows(x, rows, cols, nbns):
    """(row, fused values, which) of the interior rows of column 0 whose bits
    change under a contraction; which[0] / which[1]: when the product of
    x[j-1] / of x[j] is the fused one."""
    e = truncate(nbns)
    g = e // 2
    h = 1.0 / nbns
    y = upsample_bins(x, rows, cols, nbns)
    found = []
    for j in range(1, rows):
        for k in range(e):
            r = (e - g) + (j - 1) * e + k
            fused = fused_interior(x[j - 1], x[j], e, k, h, cols == 1)
            which = tuple(bits_of(f) != bits_of(y[r]) for f in fused)
            if any(which):
                found.append((r, fused, which))
    return found


def catches_either_contraction(x, rows, cols, nbns):
    found = sensitive_rows(x, rows, cols, nbns)
    return any(w[0] for _, _, w in found) and any(w[1] for _, _, w in found)


def ordinary(values):
    return all(abs(v) > 1e-3 and abs(v) < 1e3 for v in values)


def fusing_table():
    """(name, x, rows, cols, nbns) of the fusing-sensitive cases: the known
    case (sensitive to one of the two contractions) in both forms, then, per
    form and bin count, the first case of a fixed stream of three-sample
    columns with rows that change whichever product is fused."""
    known = [1.0551827937883687, -2.7000000000000002]
    cases = [("known_two_equal_columns_nbns_6", known * 2, 2, 2, 6.0),
             ("known_one_column_nbns_6", known, 2, 1, 6.0)]
    s = Stream(3, 0)
    for cols, form in ((1, "one_column"), (2, "two_equal_columns"), (3, "three_columns")):
        # With E = 2 or 3 the one-column products are exact (weights 0, 1, 2,
        # or 3 beside 0), so nothing can fuse there.
        counts = (4.0, 5.0, 7.0, 10.0, 6.75, 12.25) if cols == 1 else (
            3.0, 4.0, 5.0, 7.0, 10.0, 2.5, 3.999, 6.75)
        for nbns in counts:
            while True:
                column = [draw_value(s) for _ in range(3)]
                x = column * min(cols, 2)
                if cols == 3:
                    x = column + [draw_value(s) for _ in range(6)]
                if ordinary(x) and catches_either_contraction(x, 3, cols, nbns):
                    break
            name = "%s_nbns_%s" % (form, repr(nbns).replace(".0", "").replace(".", "_"))
            cases.append((name, x, 3, cols, nbns))
    return cases


def fused_upsample_adjoint(r, rows, cols, nbns):
    """upsample_bins_adjoint as a build that fuses each (w * h) * r[rho] + acc
    into one rounding would compute it."""
    e = truncate(nbns)
    g = e // 2
    h = 1.0 / nbns
    m = rows // e
    out = []
    for col in range(cols):
        rc = r[col * rows:(col + 1) * rows]
        for j in range(m):
            acc = 0.0
            for k in range(e):  # rising weights k + 1, then falling E - 1 - k
                row = j * e - g + k
                if row >= 0:
                    acc = fma(float(k + 1) * h, rc[row], acc)
            for k in range(e):
                row = (j + 1) * e - g + k
                if row < rows:
                    acc = fma(float(e - 1 - k) * h, rc[row], acc)
            out.append(acc)
    return out


def adjoint_fusing_table():
    """(name, r, rows, cols, nbns) of the upsampling adjoint's fusing-sensitive
    cases: per bin count, sample count and column count, the first case of a
    fixed stream whose result a fusing build changes in at least two
    outputs."""
    s = Stream(6, 0)
    cases = []
    for samples, cols in ((3, 1), (10, 1), (3, 2)):
        for nbns in (3.0, 4.0, 5.0, 10.0, 2.5, 3.999, 6.75):
            rows = samples * int(nbns)
            while True:
                r = [from_bits((s.bits() & (1 << 63)) | (1019 + s.below(9)) << 52
                               | s.bits() >> 12) for _ in range(rows * cols)]
                g = upsample_bins_adjoint(r, rows, cols, nbns)
                fused = fused_upsample_adjoint(r, rows, cols, nbns)
                if sum(bits_of(a) != bits_of(b) for a, b in zip(g, fused)) >= 2:
                    break
            name = "adjoint_%d_samples_%d_col_nbns_%s" % (
                samples, cols, repr(nbns).replace(".0", "").replace(".", "_"))
            cases.append((name, r, rows, cols, nbns))
    return cases


# --- Output ---------------------------------------------------------------------


def hex_list(values, indent):
    words = ["0x%016xULL" % bits_of(v) for v in values]
    lines = []
    for i in range(0, len(words), 3):
        lines.append(indent + ", ".join(words[i:i + 3]) + ",")
    return "\n".join(lines)


def render():
    out = ["// Golden bits of the kernels. Generated by tests/golden/make_golden.py;",
           "// do not edit. Regenerate with",
           "//   python3 tests/golden/make_golden.py tests/golden/golden_data.inc",
           "",
           "// The input set: splitmix64 streams from this seed, %d upsampling and"
           % UPSAMPLE_CASES,
           "// %d spike-sum cases (see make_golden.py)." % SPIKE_CASES,
           "constexpr uint64_t kGoldenSeed = 0x%016xULL;" % SEED,
           "constexpr int32_t kGoldenUpsampleCases = %d;" % UPSAMPLE_CASES,
           "constexpr int32_t kGoldenSpikeCases = %d;" % SPIKE_CASES,
           "// And %d upsampling-adjoint and %d spike-sum-adjoint cases."
           % (ADJOINT_UPSAMPLE_CASES, ADJOINT_SPIKE_CASES),
           "constexpr int32_t kGoldenAdjointUpsampleCases = %d;"
           % ADJOINT_UPSAMPLE_CASES,
           "constexpr int32_t kGoldenAdjointSpikeCases = %d;" % ADJOINT_SPIKE_CASES,
           "// And %d population-sum and %d population-adjoint cases."
           % (POP_CASES, ADJOINT_POP_CASES),
           "constexpr int32_t kGoldenPopCases = %d;" % POP_CASES,
           "constexpr int32_t kGoldenAdjointPopCases = %d;" % ADJOINT_POP_CASES,
           "// And %d targets-major population and %d adjoint cases."
           % (MULTI_CASES, ADJOINT_MULTI_CASES),
           "constexpr int32_t kGoldenMultiCases = %d;" % MULTI_CASES,
           "constexpr int32_t kGoldenAdjointMultiCases = %d;"
           % ADJOINT_MULTI_CASES,
           "// And %d exponential cases." % EXP_CASES,
           "constexpr int32_t kGoldenExpCases = %d;" % EXP_CASES,
           "",
           "// Number of outputs and their digest, per part of the set.",
           "constexpr GoldenDigest kGoldenDigests[] = {"]
    for name, _, outputs, digest in digests():
        out.append("    {\"%s\", %d, 0x%016xULL}," % (name, outputs, digest))
    out += ["};",
            "",
            "// Upsampling cases whose last bits a contracting (fused multiply-add)",
            "// build changes: x and the whole of y as exact bits. The comments name",
            "// the rows that change and what such a build gives there when it fuses",
            "// the product of x[j-1] or the product of x[j] into the addition.",
            "inline std::vector<GoldenUpsampleCase> golden_fusing_cases() {",
            "  return {"]
    for name, x, rows, cols, nbns in fusing_table():
        y = upsample_bins(x, rows, cols, nbns)
        about = "nbns %r, x = (%s)" % (nbns, "; ".join(repr(v) for v in x[:rows]))
        out += ["      // " + line for line in textwrap.wrap(about, 70)]
        for r, fused, which in sensitive_rows(x, rows, cols, nbns):
            out.append("      // row %d: fused x[j-1] %s, fused x[j] %s" % (
                r, "0x%016x" % bits_of(fused[0]) if which[0] else "unchanged",
                "0x%016x" % bits_of(fused[1]) if which[1] else "unchanged"))
        out.append("      {\"%s\"," % name)
        out.append("       0x%016xULL," % bits_of(nbns))
        out.append("       %d," % rows)
        out.append("       %d," % cols)
        out.append("       {")
        out.append(hex_list(x, "           "))
        out.append("       },")
        out.append("       {")
        out.append(hex_list(y, "           "))
        out.append("       }},")
    out += ["  };", "}", "",
            "// Upsampling adjoint cases whose last bits a build that fuses",
            "// (w * h) * r + acc into one rounding changes: r (as x) and the",
            "// whole of g (as y) as exact bits, rows = r's rows. The comments",
            "// name the outputs that change and what such a build gives.",
            "inline std::vector<GoldenUpsampleCase> golden_adjoint_fusing_cases() {",
            "  return {"]
    for name, r, rows, cols, nbns in adjoint_fusing_table():
        g = upsample_bins_adjoint(r, rows, cols, nbns)
        fused = fused_upsample_adjoint(r, rows, cols, nbns)
        for i, (a, b) in enumerate(zip(g, fused)):
            if bits_of(a) != bits_of(b):
                out.append("      // g[%d]: fused 0x%016x" % (i, bits_of(b)))
        out.append("      {\"%s\"," % name)
        out.append("       0x%016xULL," % bits_of(nbns))
        out.append("       %d," % rows)
        out.append("       %d," % cols)
        out.append("       {")
        out.append(hex_list(r, "           "))
        out.append("       },")
        out.append("       {")
        out.append(hex_list(g, "           "))
        out.append("       }},")
    out += ["  };", "}", ""]
    return "\n".join(out)


def self_check():
    """The rows of the known case, and its fused values."""
    x = [1.0551827937883687, -2.7000000000000002] * 2
    y = upsample_bins(x, 2, 2, 6.0)
    assert bits_of(y[3]) == 0x3FDB79F660946C9D and bits_of(y[4]) == 0xBFC9286150FE0A8C
    fused = {r: f for r, f, _ in sensitive_rows(x, 2, 2, 6.0)}
    assert bits_of(fused[3][0]) == 0x3FDB79F660946C9C
    assert bits_of(fused[4][0]) == 0xBFC9286150FE0A8B
    # The worked examples of the two forms and of the spike sum.
    assert upsample_bins([0.1, 0.7], 2, 1, 3.0)[2:5] == [0.29999999999999993, 0.5, 0.6999999999999998]
    assert upsample_bins([0.1, 0.7] * 2, 2, 2, 3.0)[2:5] == [0.3, 0.49999999999999994, 0.7]
    y = spike_filter_sum([5.0, 3.0, 5.0, 3.0, 5.0], [0.1, 1 / 3, 0.7], 3, 1, (1.0, 9.0))
    assert y[4] == 1.7
    y = spike_filter_sum([-1.5, -1.0, -0.5], [1.0, 2.0, 4.0], 3, 1, (1.0, 5.0))
    assert y == [6.0, 4.0, 0.0, 0.0, 0.0]
    # The adjoints against their forwards where every operation is exact
    # (small integers, h a power of two): sum(y .* r) == sum(x .* g).
    x = [3.0, -1.0, 4.0, 1.0, -5.0, 9.0]
    r = [float((7 * i) % 11 - 5) for i in range(48)]
    for nbns, cols in ((4.0, 1), (4.0, 2), (1.0, 2), (2.0, 3), (8.0, 1)):
        rows = len(x) // cols
        e = int(nbns)
        y = upsample_bins(x, rows, cols, nbns)
        g = upsample_bins_adjoint(r[:rows * e * cols], rows * e, cols, nbns)
        assert sum(a * b for a, b in zip(y, r)) == sum(a * b for a, b in zip(x, g))
    spinds = [-3.5, 0.0, 2.7, 2.2, 6.0, 9.9, float("nan"), 4.0]
    h = [1.0, -2.0, 3.0, 5.0, 0.5, 7.0, -1.0, 2.0]
    for taps, twin in ((4, (1.0, 6.0)), (2, (-2.0, 12.0)), (8, (3.0, 3.0))):
        rows = int(twin[1]) - int(twin[0]) + 1
        y = spike_filter_sum(spinds, h, taps, 1, twin)
        g = spike_filter_sum_adjoint(spinds, r[:rows], taps, 1, twin)
        assert sum(a * b for a, b in zip(y, r)) == sum(a * b for a, b in zip(h, g))
    # One source: the population sums are the single-train sums, bit for bit;
    # two sources in list order, and the population adjoint identity.
    for index in range(200):
        times, hs, taps, filters, twin = build_spike_case(index)
        if not (truncate(twin[1]) - truncate(twin[0]) < 100):
            continue
        ones = [1.0] * len(times)
        assert list(map(bits_of, spike_filter_pop(times, ones, hs, taps, 1, filters, twin, 1))) \
            == list(map(bits_of, spike_filter_sum(times, hs, taps, filters, twin)))
        rows = truncate(twin[1]) - truncate(twin[0]) + 1
        rs = [float((5 * i) % 7 - 3) for i in range(rows * filters)]
        assert list(map(bits_of, spike_filter_pop_adjoint(times, ones, rs, taps, 1, filters, twin, 1))) \
            == list(map(bits_of, spike_filter_sum_adjoint(times, rs, taps, filters, twin)))
    y = spike_filter_pop([8.0, 10.5, 13.2, 14.0], [0.0, 1.0, 0.0, 1.0],
                         [1.0, 2.0, 4.0, 10.0, 20.0, 40.0], 3, 2, 1, (10, 13), 0)
    assert y == [14.0, 20.0, 40.0, 1.0]
    ids = [0.0, 1.0, 1.0, 0.0, 1.0, 0.0, 0.0, 1.0]
    h2 = h + [float(i % 5 - 2) for i in range(8)]
    for taps, twin in ((4, (1.0, 6.0)), (2, (-2.0, 12.0))):
        rows = int(twin[1]) - int(twin[0]) + 1
        hh = h2[:taps * 4]
        rr = [float((7 * i) % 11 - 5) for i in range(rows * 2)]
        y = spike_filter_pop(spinds, ids, hh, taps, 2, 2, twin, 0)
        g = spike_filter_pop_adjoint(spinds, ids, rr, taps, 2, 2, twin, 0)
        assert sum(a * b for a, b in zip(y, rr)) == sum(a * b for a, b in zip(hh, g))
    # Targets-major: row k is the population sum of target k's filters (the
    # row reshaped to taps by sources), bit for bit; the worked example.
    for index in range(300):
        times, ids_, hs, taps, sources, targets, twin, base = build_pop_case(
            index, tag=MULTI_TAG)
        rows = truncate(twin[1]) - truncate(twin[0]) + 1
        y = spike_filter_multi(times, ids_, hs, taps, sources, targets, twin, base)
        rs = [float((5 * i) % 7 - 3) for i in range(rows * targets)]
        g = spike_filter_multi_adjoint(times, ids_, rs, taps, sources, targets,
                                       twin, base)
        for k in range(targets):
            row = hs[k::targets] if targets else []
            one = spike_filter_pop(times, ids_, row, taps, sources, 1, twin, base)
            assert list(map(bits_of, y[k::targets])) == list(map(bits_of, one))
            one = spike_filter_pop_adjoint(times, ids_, rs[k::targets], taps,
                                           sources, 1, twin, base)
            assert list(map(bits_of, g[k::targets])) == list(map(bits_of, one))
    assert spike_filter_multi([8.0, 10.5, 13.2, 14.0], [1.0, 2.0, 1.0, 2.0],
                              [1.0, 3.0, 2.0, 4.0, 10.0, 30.0, 20.0, 40.0],
                              2, 2, 2, (10, 13), 1) == \
        [10.0, 30.0, 20.0, 40.0, 0.0, 0.0, 1.0, 3.0]
    assert spike_filter_multi_adjoint(
        [8.0, 10.5, 13.2, 14.0], [1.0, 2.0, 1.0, 2.0],
        [1.0, 16.0, 2.0, 32.0, 4.0, 64.0, 8.0, 128.0], 2, 2, 2, (10, 13), 1) == \
        [8.0, 128.0, 0.0, 0.0, 1.0, 16.0, 2.0, 32.0]
    # The exponential: the worked example, and within 1 ulp of math.exp.
    assert portable_exp([0.0, -800.0, -1.0, 0.5]) == \
        [1.0, 0.0, 0.36787944117144233, 1.6487212707001282]
    for index in range(200):
        for v in build_exp_case(index)[0]:
            if -745.0 < v < 709.0:
                want = math.exp(v)
                assert abs(portable_exp_one(v) - want) <= math.ulp(want), v


def main(argv):
    if len(argv) == 3 and argv[1] == "--check":
        check, path = True, argv[2]
    elif len(argv) == 2 and not argv[1].startswith("-"):
        check, path = False, argv[1]
    else:
        sys.stderr.write("usage: make_golden.py [--check] <golden_data.inc>\n")
        return 2
    self_check()
    text = render()
    if check:
        with open(path, encoding="utf-8") as f:
            committed = f.read()
        if committed != text:
            sys.stderr.write("%s differs from what make_golden.py generates; "
                             "regenerate it (see make_golden.py)\n" % path)
            return 1
        print("%s is up to date" % path)
        return 0
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    print("wrote %s" % path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
