#!/usr/bin/env python3
"""Writes the seed corpora and the dictionary of the fuzz targets.

The seeds are the cases of the kernel and gateway test tables (the worked
examples, the edge cases, the refusals), encoded in the byte format that
fuzz_decode.h and gateway_fuzz_support.h decode: every value is written as
raw bits, so it decodes to exactly the double of the table. Run it from any
folder; it rewrites fuzz/corpus/<target>/ and fuzz/fuzz.dict next to it.
"""
import hashlib
import math
import os
import shutil
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
INF = math.inf
NAN = math.nan
TWO31 = 1 << 31

# ---- Encoders (the inverse of the decoders) --------------------------------

def raw(tag, value):
    return bytes([tag]) + struct.pack("<d", value)


def value(v):        # take_value: tags 12-15 are raw bits
    return raw(12, v)


def bin_count(v):    # take_bin_count: tags 12-15 are raw bits
    return raw(12, v)


def window_end(v):   # take_window_end: tags 12-15 are raw bits
    return raw(12, v)


def spike_time(v):   # take_spike_time: tags 10-15 are raw bits
    return raw(10, v)


def count(n, limit, big):
    """take_count(limit, big): byte % (limit + 1), or (byte & 0x7f) % (big + 1)
    with the top bit set."""
    if n <= limit:
        return bytes([n])
    assert n <= big and n <= 0x7f
    return bytes([0x80 | n])


def upsample_seed(nbns, rows, cols, x, mode=0):
    assert len(x) == rows * cols
    return (bin_count(nbns) + count(rows, 8, 100) + count(cols, 4, 12) +
            bytes([mode]) + b"".join(value(v) for v in x))


def spike_seed(spikes, taps, filters, h, t0, t1, mode=0):
    assert len(h) == taps * filters
    return (window_end(t0) + window_end(t1) + count(taps, 6, 40) +
            count(filters, 3, 6) + count(len(spikes), 12, 127) +
            bytes([mode]) + b"".join(value(v) for v in h) +
            b"".join(spike_time(s) for s in spikes))


def upsample_adjoint_seed(nbns, samples, cols, r, row_offset=0, mode=0):
    """r has samples * E rows (E = 1 for an nbns outside the domain), or
    row_offset more (-3 .. 4, mode bit 0x40)."""
    if row_offset:
        mode |= 0x40 | (row_offset + 3)
    return (bin_count(nbns) + count(samples, 8, 100) + count(cols, 4, 12) +
            bytes([mode]) + b"".join(value(v) for v in r))


def spike_adjoint_seed(spikes, ntaps, cols, r, t0, t1, mode=0, taps=None,
                       row_offset=0):
    """ntaps a whole number from 0 to 40 is the taps byte; any other value
    goes as a value (mode bit 0x40) with taps (the byte) beside it. r has the
    window's rows, or row_offset (-1 .. 2, mode bit 0x20) more."""
    if taps is None and float(ntaps).is_integer() and 0 <= ntaps <= 40:
        taps, extra = int(ntaps), b""
    else:
        mode |= 0x40
        extra = value(ntaps)
        taps = taps or 0
    if row_offset:
        mode |= 0x20 | (row_offset + 1)
    return (window_end(t0) + window_end(t1) + count(taps, 6, 40) +
            count(cols, 3, 6) + count(len(spikes), 12, 127) + bytes([mode]) +
            extra + b"".join(value(v) for v in r) +
            b"".join(spike_time(t) for t in spikes))


# Argument kinds of take_argument.
CLASS_BITS = {"double": 0, "single": 9, "integer": 10, "logical": 11,
              "char": 12, "cell": 13, "struct": 14}
ELEMENT_SIZE = {"double": 8, "single": 4, "logical": 1, "char": 2,
                "cell": 0, "struct": 0}
INTEGER_SIZE = [1, 1, 2, 2, 4, 4, 8, 8]  # int8 uint8 ... uint64


def arg(dims, values=(), cls="double", complex_values=None, sparse_nz=None,
        integer=0, encode=value):
    """A full array (or a sparse one with sparse_nz nonzeros) of dims; values
    in column-major order (for non-double classes, the raw data bytes)."""
    kind = CLASS_BITS[cls]
    if complex_values is not None:
        kind |= 0x10
    if sparse_nz is not None:
        kind |= 0x20
    out = bytes([kind])
    if cls == "integer":
        out += bytes([integer])
    out += bytes([len(dims)]) + b"".join(count(d, 5, 40) for d in dims)
    if sparse_nz is not None:
        out += bytes([sparse_nz])
        stored = sparse_nz
    else:
        stored = 1
        for d in dims:
            stored *= d
    if cls == "double":
        assert len(values) == stored, (dims, values)
        out += b"".join(encode(v) for v in values)
        if complex_values is not None:
            assert len(complex_values) == stored
            out += b"".join(encode(v) for v in complex_values)
    else:
        size = INTEGER_SIZE[integer] if cls == "integer" else ELEMENT_SIZE[cls]
        data = bytes(values)
        assert len(data) == stored * size, (cls, dims)
        out += data
        if complex_values is not None:
            out += bytes(complex_values)
    return out


HUGE_BIG = [TWO31, TWO31 + 1, 1 << 32, (1 << 32) + 1, (1 << 32) + 3, 1 << 40]


def huge_arg(big, position, small, values, encode=value):
    """take_huge_dims: position 0 [big, small], 1 [small, big],
    2 [small, 2^16, 2^16], 3 [small, 2^16, 2^15]; two stored values (none
    when small is 0)."""
    if small == 0:
        values = []  # no elements, none stored
    index = HUGE_BIG.index(big)
    byte = next(b for b in range(256)
                if b % 6 == index and (b >> 4) % 4 == position)
    return (bytes([0x40, byte]) + count(small, 3, 3) +
            b"".join(encode(v) for v in values))


def call(args, expected_count, nlhs=1):
    n = len(args)
    count_byte = 0 if n == expected_count else 0xC0 + n
    return bytes([count_byte, nlhs]) + b"".join(args)


def tentfill2(x, nbns, nlhs=1):
    return call([x, nbns], 2, nlhs)


def nbns_arg(v, dims=(1, 1)):
    n = 1
    for d in dims:
        n *= d
    return arg(dims, [v] + [7.0] * (n - 1) if n else [], encode=bin_count)


def twin_arg(t0, t1):
    return arg((1, 2), [t0, t1], encode=window_end)


def spinds_arg(times, dims=None):
    return arg(dims or (len(times), 1), times, encode=spike_time)


def trainfold(spinds, h, twin, nlhs=1):
    return call([spinds, h, twin], 3, nlhs)


# ---- Cases from the test tables --------------------------------------------

def upsample_cases():
    x3 = [1.0, 2.0, 3.0, 4.0, 5.0, 6.0]
    seeds = [
        (4.0, 2, 1, [4.0, 8.0]),
        (4.0, 2, 2, [4.0, 8.0, -1.0, 0.5]),
        (3.0, 2, 1, [0.1, 0.7]),
        (3.0, 2, 2, [0.1, 0.7, 0.1, 0.7]),
        (3.0, 3, 1, [0.5, 1.25, -3.7619803885035443]),
        (2.0, 2, 1, [0.1, 0.7]),
        (2.5, 3, 1, [1.0, 2.0, 3.0]),
        (3.999, 3, 1, [0.1, 0.7, -2.5]),
        (3.999, 3, 2, [0.1, 0.7, -2.5, 0.1, 0.7, -2.5]),
        (1.5, 3, 1, [0.3, -0.0, 1e-310]),
        (1.0, 3, 1, [-0.0, 2.0, -0.0]),
        (1.0, 3, 2, [-0.0, 2.0, -0.0, 1.5, -0.0, -0.0]),
        (3.0, 3, 1, [1.0, INF, 3.0]),
        (1.0, 2, 1, [INF, 2.0]),
        (3.0, 1, 1, [0.1]),
        (3.0, 1, 3, [0.1, -2.0, INF]),
        (49.0, 1, 1, [1.0]),
        (0.5, 3, 2, x3), (-0.5, 3, 1, x3[:3]), (-0.0, 3, 2, x3),
        (0.9999999999999999, 3, 1, x3[:3]),
        (-0.9999999999999999, 3, 2, x3),
        (3.0, 3, 0, []), (3.0, 0, 1, []), (7.5, 0, 4, []),
        (NAN, 3, 2, x3), (INF, 3, 2, x3), (-INF, 3, 2, x3),
        (-1.0, 3, 2, x3), (-7.5, 3, 2, x3), (2147483648.0, 3, 2, x3),
        (1e300, 3, 2, x3), (-1.0000000000000002, 3, 1, x3[:3]),
        (2147483647.9999998, 1, 1, [1.0]),
        (2147483647.9999998, 2, 1, [1.0, 2.0]),
        (2147483647.5, 1, 0, []),
        (32768.0, 12, 1, [float(i) for i in range(12)]),
        (46341.5, 2, 0, []),
    ]
    out = [upsample_seed(*s) for s in seeds]
    # Outputs of the wrong shape (mode bit 7 and its row/column choices).
    for mode in (0x80, 0x81, 0x82, 0x84, 0x87):
        out.append(upsample_seed(4.0, 2, 2, [4.0, 8.0, -1.0, 0.5], mode))
    return out


def spike_cases():
    t124 = [1.0, 2.0, 4.0]
    taps5 = [1.0, 2.0, 4.0, 8.0, 16.0]
    third = 1.0 / 3.0
    seeds = [
        ([8.0, 10.5, 13.2, 14.0], 3, 1, [0.1, 0.2, 0.7], 10.0, 13.0),
        ([8.0, 10.5, 13.2, 14.0, 10.0], 3, 1, [0.1, 0.2, 0.7], 10.0, 13.0),
        ([], 3, 1, t124, 10.0, 13.0),
        ([8.0], 3, 1, t124, 10.0, 13.0),
        ([7.999999999999999], 3, 1, t124, 10.0, 13.0),
        ([7.999999999999999, 8.0], 3, 1, t124, 10.0, 13.0),
        ([13.5], 3, 1, t124, 10.0, 13.0),
        ([14.0, 12.0], 3, 1, t124, 10.0, 13.0),
        ([13.999999999999998], 3, 1, t124, 10.0, 13.0),
        ([11.0, 11.9], 3, 1, t124, 10.0, 13.0),
        ([2.0, 50.0, 3.0, 4.0], 3, 1, t124, 1.0, 10.0),
        ([10.0, 1.0, 12.0], 3, 1, t124, 10.0, 13.0),
        ([2.0, -1.5], 3, 1, t124, 1.0, 5.0),
        ([5, 3, 5, 3, 5], 3, 1, [0.1, third, 0.7], 1.0, 9.0),
        ([3, 3, 5, 5, 5], 3, 1, [0.1, third, 0.7], 1.0, 9.0),
        ([NAN, 11.0], 3, 1, t124, 10.0, 13.0),
        ([1.0, NAN, 11.0], 3, 1, t124, 10.0, 13.0),
        ([11.0, NAN, 12.0], 3, 1, t124, 10.0, 13.0),
        ([-0.5], 3, 1, t124, 1.0, 5.0),
        ([-1.0], 3, 1, t124, 1.0, 5.0),
        ([-1.5], 3, 1, t124, 1.0, 5.0),
        ([-0.0], 2, 1, [1.0, 2.0], 0.0, 1.0),
        ([4.9406564584124654e-324], 2, 1, [1.0, 2.0], 0.0, 1.0),
        ([10.0, 11.0], 0, 1, [], 10.0, 13.0),
        ([10.0, 11.0], 3, 0, [], 10.0, 13.0),
        ([10.0, 11.0], 3, 1, t124, 10.0, 9.0),
        ([4.0, 5.0, 5.5], 3, 1, t124, 5.0, 5.0),
        ([1.9, 2.0, 9.9, 10.0], 1, 1, [5.0], 2.7, 9.2),
        ([-3.9, -3.5, -3.0, -0.5, 0.5, 0.99, 1.0], 1, 1, [1.0], -3.7, -0.2),
        ([0.5, 1.0], 2, 2, [1.0, 2.0, 10.0, 20.0], 0.0, 2.0),
        ([0.0, 1.0], 2, 1, [INF, -INF], 1.0, 1.0),
        ([0.0, 1.0], 2, 1, [NAN, 1.0], 0.0, 1.0),
        ([11.0, 1e300, 12.0], 3, 1, t124, 10.0, 13.0),
        ([11.0, INF, 12.0], 3, 1, t124, 10.0, 13.0),
        ([-1e300, -INF, 11.0], 3, 1, t124, 10.0, 13.0),
        ([11.0, -1e300, -INF, -2147483649.0, -9.3e18, 12.0], 3, 1, t124,
         10.0, 13.0),
        ([-1e300, -3e9, -2147483649.5], 3, 1, t124, -5.0, -3.0),
        ([-2147483653.0, -2147483652.0, -2147483651.5, -2147483648.5], 5, 1,
         taps5, -2147483648.0, -2147483645.0),
        ([-2147483652.0], 5, 1, taps5, -2147483648.75, -2147483648.0),
        ([2147483646.0, 2147483647.5, 2147483648.0, 2147483645.0], 5, 1,
         taps5, 2147483645.0, 2147483647.0),
        # Windows outside the domain.
        ([1.0], 3, 1, t124, NAN, 5.0),
        ([1.0], 3, 1, t124, 1.0, INF),
        ([1.0], 3, 1, t124, 2147483648.0, 2147483648.0),
        ([1.0], 3, 1, t124, 5.0, 3.0),
        ([1.0], 3, 1, t124, -2147483648.0, 2147483647.0),
        ([1.0], 3, 0, [], -2147483648.0, 2147483646.0),
    ]
    out = [spike_seed(*s) for s in seeds]
    for mode in (0x80, 0x81, 0x82, 0x84, 0x87):
        out.append(spike_seed([8.0, 10.5, 13.2], 3, 2, t124 + t124, 10.0,
                              13.0, mode))
    return out


def upsample_adjoint_cases():
    r8 = [1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0]
    seeds = [
        (4.0, 2, 1, r8),
        (4.0, 2, 2, r8 + [0.5, -1.0, 0.25, 2.0, -3.0, 0.1, 0.7, 1e-3]),
        (1.0, 3, 1, [1.0, INF, 2.0]),
        (1.0, 2, 1, [-0.0, -0.0]),
        (2.5, 2, 1, [1.0, 2.0, 3.0, 4.0]),
        (3.0, 1, 1, [0.1, 0.2, 0.7]),
        (3.0, 12, 1, [0.1 * i - 1.3 for i in range(36)]),
        (2.0, 7, 2, [1.0 / (i + 3) for i in range(28)]),
        (3.0, 4, 1, [1, 2, 3, NAN, 5, 6, 7, 8, 9, 10, -INF, 12]),
        (3.999, 3, 2, [0.1 * i for i in range(18)]),
        (49.0, 1, 1, [1.0] * 49),
        (3.0, 0, 2, []), (3.0, 2, 0, []),
        # Refused: E < 1, NaN, beyond 2^31, rows not a multiple of E.
        (0.9999999999999999, 3, 1, [1.0, 2.0, 3.0]),
        (0.5, 3, 1, [1.0, 2.0, 3.0]), (-0.0, 2, 1, [1.0, 2.0]),
        (NAN, 2, 1, [1.0, 2.0]), (INF, 2, 1, [1.0, 2.0]),
        (2147483648.0, 2, 1, [1.0, 2.0]),
    ]
    out = [upsample_adjoint_seed(*c) for c in seeds]
    out.append(upsample_adjoint_seed(3.0, 2, 1, [1.0] * 7, 1))
    out.append(upsample_adjoint_seed(3.0, 2, 1, [1.0] * 4, -2))
    out.append(upsample_adjoint_seed(4.0, 1, 2, [], -3))
    for mode in (0x80, 0x81, 0x82, 0x84, 0x87):
        out.append(upsample_adjoint_seed(4.0, 2, 2, r8 + r8, 0, mode))
    return out


def spike_adjoint_cases():
    order_r = [0.5, 0.25, 0.7, 1.0 / 3.0, 0.1, 2.0, 3.0, 4.0, 5.0]
    r4 = [1.0, 2.0, 4.0, 8.0]
    seeds = [
        ([8.0, 10.5, 13.2, 14.0], 3.0, 1, r4, 10.0, 13.0),
        ([5.0, 3.0, 5.0, 3.0, 5.0], 3.0, 1, order_r, 1.0, 9.0),
        ([3.0, 3.0, 5.0, 5.0, 5.0], 3.0, 1, order_r, 1.0, 9.0),
        ([-1.5, -1.0, -0.5], 3.0, 1, r4 + [16.0], 1.0, 5.0),
        ([2.0, NAN, 3.0], 2.0, 1, r4, 1.0, 4.0),
        ([2.0, -50.0, 3.0], 2.0, 1, r4, 1.0, 4.0),
        ([0.0, 2.5, 3.0], 4.0, 2, r4 + [0.5, 0.25, -1.0, 3.0], 1.0, 4.0),
        ([0.0, 2.5, 3.0], 4.0, 1, r4 + [16.0], 1.9, 5.2),
        ([1.0, 2.0], 2.0, 1, [INF, 1.0, -INF], 1.0, 3.0),
        ([1.0, 2.0], 0.0, 2, [1.0] * 6, 1.0, 3.0),
        ([1.0, 2.0], -0.0, 1, [1.0] * 3, 1.0, 3.0),
        ([], 2.0, 1, [1.0] * 3, 1.0, 3.0),
        ([1.0, 2.0], 2.0, 1, [], 5.0, 4.0),
        ([2147483640.5, 2147483646.0, 2147483647.9], 6.0, 1, r4,
         2147483644.0, 2147483647.0),
        ([-2147483648.5, -2147483646.0], 3.0, 1, r4[:3], -2147483648.0,
         -2147483646.0),
        ([-1e300, -INF, 11.0, 1e300], 3.0, 1, r4, 10.0, 13.0),
        # Refused: the window, the tap count.
        ([1.0], 3.0, 1, [], NAN, 5.0),
        ([1.0], 3.0, 1, [], 5.0, 3.0),
        ([1.0], -1.0, 1, r4, 1.0, 4.0),
        ([1.0], 2.5, 1, r4, 1.0, 4.0),
        ([1.0], NAN, 1, r4, 1.0, 4.0),
        ([1.0], INF, 1, r4, 1.0, 4.0),
        ([1.0], 2147483648.0, 1, r4, 1.0, 4.0),
        ([1.0], 3.0000000000000004, 1, r4, 1.0, 4.0),
        ([1.0], 2147483647.0, 1, r4, 1.0, 4.0),
    ]
    out = [spike_adjoint_seed(*c) for c in seeds]
    out.append(spike_adjoint_seed([2.0], 2.0, 1, r4 + [1.0], 1.0, 4.0,
                                  row_offset=1))
    out.append(spike_adjoint_seed([2.0], 2.0, 1, r4[:3], 1.0, 4.0,
                                  row_offset=-1))
    for mode in (0x80, 0x81, 0x82, 0x84, 0x87):
        out.append(spike_adjoint_seed([8.0, 10.5, 13.2], 3.0, 2, r4 + r4,
                                      10.0, 13.0, mode))
    return out


def tentfill2_cases():
    x = arg((3, 1), [1.0, 2.0, 3.0])
    x43 = arg((4, 3), [0.5 * i - 2 for i in range(12)])
    four = nbns_arg(4.0)
    seeds = [
        call([x], 2), call([x, four, four], 2), call([], 2),
        call([x, four, four, four, four], 2),
        tentfill2(x, four), tentfill2(x43, four),
        tentfill2(arg((2, 1), [0.1, 0.7]), nbns_arg(3.0)),
        tentfill2(x43, four, nlhs=0), tentfill2(x43, four, nlhs=3),
        tentfill2(arg((4, 3), [1.0] * 12, complex_values=[9.0] * 12), four),
        tentfill2(x, arg((1, 1), [4.0], complex_values=[9.0],
                         encode=bin_count)),
        tentfill2(x, nbns_arg(4.0, (1, 2))),
        tentfill2(arg((4, 1, 3), [float(i) for i in range(12)]), four),
        tentfill2(arg((4, 3, 1), [float(i) for i in range(12)]), four),
        tentfill2(arg((0, 3)), four), tentfill2(arg((3, 0)), four),
        tentfill2(arg((0, 0)), four), tentfill2(arg((2, 0, 5)), nbns_arg(3)),
        tentfill2(arg((1, 0)), nbns_arg(2147483647.5)),
        tentfill2(x, arg((0, 0))), tentfill2(x, arg((2, 0, 4))),
        tentfill2(arg((2, 0)), nbns_arg(1073741824.0)),
        tentfill2(arg((3, 1), [0.0] * 3), nbns_arg(2147483647.0)),
        tentfill2(huge_arg(TWO31, 0, 1, [1.0, 2.0]), four),
        tentfill2(huge_arg(1 << 32, 2, 1, [1.0, 2.0]), four),
        tentfill2(huge_arg((1 << 32) + 1, 1, 1, [1.0, 2.0]), four),
        tentfill2(x, huge_arg(TWO31, 0, 2, [2.0, 5.0], encode=bin_count)),
        tentfill2(arg((3, 2), [1.0], sparse_nz=1), four),
        tentfill2(x, arg((1, 1), [4.0], sparse_nz=1, encode=bin_count)),
        tentfill2(arg((3, 1), bytes(12), cls="single"), four),
        tentfill2(arg((3, 1), bytes(3), cls="integer", integer=0), four),
        tentfill2(arg((3, 1), bytes(24), cls="integer", integer=7), four),
        tentfill2(arg((3, 1), bytes(3), cls="logical"), four),
        tentfill2(arg((3, 1), bytes(6), cls="char"), four),
        tentfill2(arg((3, 1), cls="cell"), four),
        tentfill2(x, arg((1, 1), cls="struct")),
        tentfill2(x, arg((1, 1), bytes(4), cls="single")),
    ]
    for bad in (NAN, INF, -INF, -1.0, -1.5, -1e300, 2147483648.0,
                2147483648.5, 1e300, 0.5, -0.99, 2.5):
        seeds.append(tentfill2(x, nbns_arg(bad)))
    return seeds


def trainfold_cases():
    spikes = spinds_arg([8.0, 10.5, 13.2, 14.0])
    h = arg((3, 1), [0.1, 0.2, 0.7])
    h3 = arg((3, 3), [1.0, 2.0, 4.0, 0.5, 0.25, 0.125, -1.0, 0.0, INF])
    twin = twin_arg(10.0, 13.0)
    seeds = [
        call([spikes, h], 3), call([spikes, h, twin, twin], 3), call([], 3),
        call([spinds_arg([1.0, 2.0], (1, 2)), h], 3),
        trainfold(spikes, h, twin), trainfold(spikes, h3, twin),
        trainfold(spikes, h, twin, nlhs=0), trainfold(spikes, h, twin, nlhs=3),
        trainfold(spinds_arg([1.0, 2.0, 3.0], (1, 3)), h, twin),
        trainfold(spinds_arg([], (0, 2)), h, twin),
        trainfold(spinds_arg([], (3, 0)), h, twin),
        trainfold(spinds_arg([], (0, 0)), h, twin),
        trainfold(spinds_arg([], (0, 1)), h, twin),
        trainfold(spinds_arg([11.0]), h, twin_arg(5.0, 5.0)),
        trainfold(spinds_arg([11.0]), h, twin_arg(5.0, 4.0)),
        trainfold(spinds_arg([11.0]), h, twin_arg(5.0, 3.0)),
        trainfold(spikes, h, arg((1, 1), [10.0], encode=window_end)),
        trainfold(spikes, h, arg((0, 0))),
        trainfold(spikes, h, arg((3, 1), [10.0, 13.0, 99.0],
                                 encode=window_end)),
        trainfold(spikes, h, twin_arg(NAN, 13.0)),
        trainfold(spikes, h, twin_arg(10.0, INF)),
        trainfold(spikes, h, twin_arg(2147483648.0, 2147483648.0)),
        trainfold(spikes, h, twin_arg(-2147483648.0, 2147483647.0)),
        trainfold(spikes, arg((3, 0)), twin_arg(-2147483648.0, 2147483646.0)),
        trainfold(spikes, h, twin_arg(2.7, 9.2)),
        trainfold(spikes, arg((0, 1)), twin),
        trainfold(spikes, arg((3, 0)), twin),
        trainfold(arg((4, 1), [8.0, 10.5, 13.2, 14.0],
                      complex_values=[1.0, 2.0, 3.0, 4.0]), h, twin),
        trainfold(spikes, h, arg((1, 2), [10.0, 13.0],
                                 complex_values=[1.0, 1.0])),
        trainfold(huge_arg(TWO31, 0, 1, [1.0, 2.0]), h, twin),
        trainfold(huge_arg((1 << 32) + 1, 1, 1, [1.0, 2.0]), h, twin),
        trainfold(huge_arg(TWO31, 0, 0, [1.0, 2.0]), h, twin),
        trainfold(spikes, huge_arg(TWO31, 1, 3, [1.0, 2.0]), twin),
        trainfold(spikes, h, huge_arg(TWO31, 0, 2, [10.0, 13.0],
                                      encode=window_end)),
        trainfold(arg((4, 1), [1.0] * 2, sparse_nz=2), h, twin),
        trainfold(spikes, arg((3, 1), [1.0], sparse_nz=1), twin),
        trainfold(spikes, h, arg((1, 2), [1.0, 2.0], sparse_nz=2)),
        trainfold(arg((4, 1), bytes(16), cls="single"), h, twin),
        trainfold(spikes, arg((3, 1), bytes(3), cls="logical"), twin),
        trainfold(spikes, h, arg((1, 2), bytes(4), cls="char")),
        trainfold(spikes, h, arg((1, 2), bytes(16), cls="integer",
                                 integer=6)),
        trainfold(spikes, arg((1, 1), cls="cell"), twin),
        trainfold(arg((1, 1), cls="struct"), h, twin),
    ]
    return seeds


def tentfill2_adjoint_cases():
    r = arg((8, 1), [float(i + 1) for i in range(8)])
    r62 = arg((6, 2), [0.5 * i - 2 for i in range(12)])
    four = nbns_arg(4.0)
    two = nbns_arg(2.0)
    seeds = [
        call([r], 2), call([r, four, four], 2), call([], 2),
        call([r, four], 2), call([r62, two], 2),
        call([arg((4, 1), [1.0, 2.0, 3.0, 4.0]), nbns_arg(2.5)], 2),
        call([arg((3, 1), [1.0, INF, 2.0]), nbns_arg(1.0)], 2),
        call([arg((6, 2), [1.0] * 12, complex_values=[9.0] * 12), two], 2),
        call([arg((6, 1, 2), [float(i) for i in range(12)]), two], 2),
        call([arg((0, 3)), four], 2), call([arg((8, 0)), four], 2),
        call([r, arg((0, 0))], 2),
        call([arg((3, 2), [1.0], sparse_nz=1), nbns_arg(3.0)], 2),
        call([arg((4, 1), bytes(32), cls="integer", integer=7), two], 2),
        call([arg((4, 1), bytes(4), cls="logical"), two], 2),
        call([r, arg((1, 1), cls="struct")], 2),
        call([huge_arg(TWO31, 0, 1, [1.0, 2.0]), nbns_arg(1.0)], 2),
    ]
    for bad in (NAN, INF, -INF, 0.9999999999999999, 0.5, 0.0, -1.0,
                2147483648.0, 3.0, 5.0):
        seeds.append(call([r, nbns_arg(bad)], 2))
    return seeds


def trainfold_adjoint_cases():
    spikes = spinds_arg([8.0, 10.5, 13.2, 14.0])
    r = arg((4, 1), [1.0, 2.0, 4.0, 8.0])
    r2 = arg((4, 2), [1.0, 2.0, 4.0, 8.0, 0.5, 0.25, -1.0, 3.0])
    twin = twin_arg(10.0, 13.0)
    three = nbns_arg(3.0)

    def adjoint(*args):
        return call(list(args), 4)

    seeds = [
        call([spikes, r, twin], 4), call([], 4),
        call([spikes, r, twin, three, three], 4),
        adjoint(spikes, r, twin, three), adjoint(spikes, r2, twin, three),
        adjoint(spinds_arg([5.0, 3.0, 5.0, 3.0, 5.0]),
                arg((9, 1), [0.5, 0.25, 0.7, 1.0 / 3.0, 0.1, 2, 3, 4, 5]),
                twin_arg(1.0, 9.0), three),
        adjoint(spinds_arg([2.0, NAN, 3.0]), r, twin_arg(1.0, 4.0),
                nbns_arg(2.0)),
        adjoint(arg((0, 0)), r, twin, three),
        adjoint(spikes, r, twin, nbns_arg(0.0)),
        adjoint(spikes, arg((0, 1)), twin_arg(5.0, 4.0), three),
        adjoint(spinds_arg([1.0, 2.0], (1, 2)), r, twin, three),
        adjoint(spinds_arg([1.0], (1, 1)), r, twin, three),
        adjoint(spikes, arg((4, 2), [1.0] * 8, complex_values=[2.0] * 8),
                twin, three),
        adjoint(spikes, arg((4, 1), [1.0], sparse_nz=1), twin, three),
        adjoint(spikes, r, twin_arg(10.0, 13.0), arg((1, 1), cls="cell")),
        adjoint(spikes, r, arg((1, 1), [10.0], encode=window_end), three),
        adjoint(spikes, r, twin, arg((0, 0))),
        adjoint(spikes, arg((5, 1), [1.0] * 5), twin, three),
        adjoint(spikes, arg((3, 1), [1.0] * 3), twin, three),
        adjoint(spikes, r, twin_arg(NAN, 13.0), three),
        adjoint(spikes, r, twin_arg(13.0, 10.0), three),
        adjoint(spikes, r, twin_arg(-2147483648.0, 2147483647.0), three),
    ]
    for bad in (NAN, INF, -1.0, 2.5, 3.0000000000000004, 2147483648.0):
        seeds.append(adjoint(spikes, r, twin, nbns_arg(bad)))
    return seeds


def pop_seed(spikes, ids, sources, taps, outputs, values, t0, t1, base=1,
             mode=0, ntaps=None):
    """pop_fuzz_decode.h's layout, then the filters (forward) or, with ntaps
    given or mode bit 0x20, ntaps and r (adjoint). ids: source numbers from
    0, or ("value", v) for an id decoded as a value; sources: a count 1 .. 4
    or ("value", v)."""
    if isinstance(sources, tuple):
        source_bytes = bytes([0x80]) + value(sources[1])
    else:
        source_bytes = bytes([sources - 1])
    out = (window_end(t0) + window_end(t1) + count(taps, 6, 40) +
           source_bytes + count(outputs, 3, 6) + count(len(spikes), 12, 127) +
           bytes([mode | base]) + b"".join(spike_time(t) for t in spikes))
    for i in ids:
        out += bytes([0xf0]) + value(i[1]) if isinstance(i, tuple) else \
            bytes([i])
    if mode & 0x20:
        out += value(ntaps)
    return out + b"".join(value(v) for v in values)


def spike_pop_cases():
    h = [0.1, 1.0 / 3.0, 0.7, 0.5, 0.25, 2.0]
    times = [5.0, 3.0, 5.0, 3.0, 5.0]
    order = [0, 1, 0, 1, 0]
    seeds = [
        pop_seed(times, order, 2, 3, 1, h, 1.0, 9.0),
        pop_seed(times, order, 2, 3, 1, h, 1.0, 9.0, base=0, mode=0x80),
        pop_seed([8.0, 10.5, 13.2, 9.1, NAN, 11.0], [2, 0, 1, 2, 0, 1], 3, 2,
                 2, [float(v) for v in range(1, 13)], 10.0, 13.0),
        pop_seed([1.0, 2.0], [0, ("value", NAN)], 2, 2, 1, [1.0] * 4, 0.0, 3.0),
        pop_seed([1.0, 2.0], [0, ("value", 2.0)], 2, 2, 1, [1.0] * 4, 0.0, 3.0,
                 base=0),
        pop_seed([1.0, 2.0], [0, ("value", 1.5)], 2, 2, 1, [1.0] * 4, 0.0, 3.0),
        pop_seed([1.0], [0], ("value", 1.5), 2, 1, [1.0] * 2, 0.0, 3.0),
        pop_seed([1.0], [0], ("value", 2147483648.0), 2, 1, [1.0] * 2, 0.0,
                 3.0),
        pop_seed([1.0], [0], 3, 2, 2, [1.0] * 6, 0.0, 3.0, mode=0x40),
        pop_seed([], [], 2, 3, 2, [1.0] * 12, 0.0, 3.0),
        pop_seed([1.0, 2.0], [0, 1], 2, 2, 1, [1.0] * 4, 5.0, 3.0),
    ]
    return seeds


def spike_pop_adjoint_cases():
    r = [0.5, 0.25, 0.7, 1.0 / 3.0, 0.1, 2.0, 3.0, 4.0, 5.0]
    times = [5.0, 3.0, 5.0, 3.0, 5.0]
    order = [0, 1, 0, 1, 0]
    seeds = [
        pop_seed(times, order, 2, 3, 1, r, 1.0, 9.0),
        pop_seed(times, order, 2, 3, 1, r, 1.0, 9.0, base=0, mode=0x80),
        pop_seed([8.0, 10.5, 13.2, 9.1, NAN, 11.0], [2, 0, 1, 2, 0, 1], 3, 2,
                 2, [1.0, 2.0, 4.0, 8.0, 16.0, 32.0, 64.0, 128.0], 10.0, 13.0),
        pop_seed([1.0, 2.0], [0, ("value", INF)], 2, 2, 1, [1.0] * 4, 0.0,
                 3.0),
        pop_seed([1.0], [0], ("value", 0.0), 2, 1, [1.0] * 4, 0.0, 3.0),
        pop_seed([1.0], [0], 2, 2, 1, [1.0] * 4, 0.0, 3.0, mode=0x20,
                 ntaps=2.5),
        pop_seed([1.0], [0], 2, 2, 1, [1.0] * 5, 0.0, 3.0, mode=0x04),
    ]
    return seeds


def trainfold_pop_cases():
    spikes = spinds_arg([8.0, 10.5, 13.2, 14.0])
    ids = arg((4, 1), [1.0, 2.0, 1.0, 2.0])
    h = arg((3, 2), [1.0, 2.0, 4.0, 10.0, 20.0, 40.0])
    twin = twin_arg(10.0, 13.0)
    two = nbns_arg(2.0)

    def pop(*args):
        return call(list(args), 5)

    seeds = [
        pop(spikes, ids, h, twin, two), call([spikes, ids, h, twin], 5),
        call([], 5), pop(spikes, ids, h, twin, nbns_arg(1.0)),
        pop(spikes, arg((4, 1), [1.0, 3.0, 1.0, 2.0]), h, twin, two),
        pop(spikes, arg((4, 1), [1.0, NAN, 1.0, 2.0]), h, twin, two),
        pop(spikes, arg((4, 1), [1.0, 0.0, 1.0, 2.0]), h, twin, two),
        pop(spikes, arg((3, 1), [1.0, 2.0, 1.0]), h, twin, two),
        pop(spikes, arg((1, 4), [1.0, 2.0, 1.0, 2.0]), h, twin, two),
        pop(spikes, ids, h, twin, nbns_arg(1.5)),
        pop(spikes, ids, h, twin, arg((0, 0))),
        pop(spikes, ids, arg((3, 3), [1.0] * 9), twin, two),
        pop(spikes, arg((4, 1), bytes(4), cls="logical"), h, twin, two),
        pop(arg((0, 0)), arg((0, 1)), h, twin, two),
    ]
    return seeds


def trainfold_pop_adjoint_cases():
    spikes = spinds_arg([8.0, 10.5, 13.2, 14.0])
    ids = arg((4, 1), [1.0, 2.0, 1.0, 2.0])
    r = arg((4, 1), [1.0, 2.0, 4.0, 8.0])
    twin = twin_arg(10.0, 13.0)
    three = nbns_arg(3.0)
    two = nbns_arg(2.0)

    def adjoint(*args):
        return call(list(args), 6)

    seeds = [
        adjoint(spikes, ids, r, twin, three, two),
        call([spikes, ids, r, twin, three], 6), call([], 6),
        adjoint(spikes, arg((4, 1), [1.0, 2.0, 1.0, INF]), r, twin, three, two),
        adjoint(spikes, ids, arg((5, 1), [1.0] * 5), twin, three, two),
        adjoint(spikes, ids, r, twin, nbns_arg(2.5), two),
        adjoint(spikes, ids, r, twin, three, nbns_arg(NAN)),
        adjoint(spikes, ids, arg((4, 2), [1.0] * 8), twin, three,
                nbns_arg(2147483647.0)),
    ]
    return seeds


def spike_multi_cases():
    """pop_seed's layout with outputs the targets K and the filters
    K x taps*N (targets-major)."""
    h = [0.1, 1.0 / 3.0, 0.7, 0.5, 0.25, 2.0]
    times = [5.0, 3.0, 5.0, 3.0, 5.0]
    order = [0, 1, 0, 1, 0]
    seeds = [
        pop_seed(times, order, 2, 3, 1, h, 1.0, 9.0),
        pop_seed(times, order, 2, 3, 1, h, 1.0, 9.0, base=0, mode=0x80),
        pop_seed(times, order, 2, 3, 2, h + [-v for v in h], 1.0, 9.0,
                 mode=0x82),
        pop_seed([8.0, 10.5, 13.2, 9.1, NAN, 11.0], [2, 0, 1, 2, 0, 1], 3, 2,
                 3, [float(v) for v in range(1, 19)], 10.0, 13.0),
        pop_seed([1.0, 2.0], [0, ("value", NAN)], 2, 2, 1, [1.0] * 4, 0.0, 3.0),
        pop_seed([1.0], [0], ("value", 1.5), 2, 1, [1.0] * 2, 0.0, 3.0),
        pop_seed([1.0], [0], 2, 2, 2, [1.0] * 10, 0.0, 3.0, mode=0x40),
        pop_seed([], [], 2, 3, 2, [1.0] * 12, 0.0, 3.0),
        pop_seed([1.0, 2.0], [0, 1], 2, 2, 0, [], 0.0, 3.0),
    ]
    return seeds


def spike_multi_adjoint_cases():
    """pop_seed's layout with outputs the targets K and r K x the window's
    bins."""
    r = [0.5, 0.25, 0.7, 1.0 / 3.0, 0.1, 2.0, 3.0, 4.0, 5.0]
    times = [5.0, 3.0, 5.0, 3.0, 5.0]
    order = [0, 1, 0, 1, 0]
    seeds = [
        pop_seed(times, order, 2, 3, 1, r, 1.0, 9.0),
        pop_seed(times, order, 2, 3, 2, r + r[::-1], 1.0, 9.0, base=0,
                 mode=0x80),
        pop_seed([8.0, 10.5, 13.2, 9.1, NAN, 11.0], [2, 0, 1, 2, 0, 1], 3, 2,
                 2, [1.0, 16.0, 2.0, 32.0, 4.0, 64.0, 8.0, 128.0], 10.0, 13.0),
        pop_seed([1.0, 2.0], [0, ("value", INF)], 2, 2, 1, [1.0] * 4, 0.0,
                 3.0),
        pop_seed([1.0], [0], ("value", 2147483647.0), 2, 1, [1.0] * 4, 0.0,
                 3.0),
        pop_seed([1.0], [0], 2, 2, 1, [1.0] * 4, 0.0, 3.0, mode=0x20,
                 ntaps=2.5),
        pop_seed([1.0], [0], 2, 2, 1, [1.0] * 5, 0.0, 3.0, mode=0x04),
    ]
    return seeds


def trainfold_multi_cases():
    spikes = spinds_arg([8.0, 10.5, 13.2, 14.0])
    ids = arg((4, 1), [1.0, 2.0, 1.0, 2.0])
    h = arg((2, 4), [1.0, 3.0, 2.0, 4.0, 10.0, 30.0, 20.0, 40.0])
    twin = twin_arg(10.0, 13.0)
    two = nbns_arg(2.0)

    def multi(*args):
        return call(list(args), 5)

    seeds = [
        multi(spikes, ids, h, twin, two), call([spikes, ids, h, twin], 5),
        call([], 5), multi(spikes, ids, h, twin, nbns_arg(1.0)),
        multi(spikes, arg((4, 1), [1.0, 3.0, 1.0, 2.0]), h, twin, two),
        multi(spikes, arg((4, 1), [1.0, NAN, 1.0, 2.0]), h, twin, two),
        multi(spikes, arg((3, 1), [1.0, 2.0, 1.0]), h, twin, two),
        multi(spikes, ids, h, twin, nbns_arg(1.5)),
        multi(spikes, ids, arg((2, 3), [1.0] * 6), twin, two),
        multi(spikes, ids, arg((1, 6), [1.0, 2.0, 4.0, 10.0, 20.0, 40.0]),
              twin, two),
        multi(arg((0, 0)), arg((0, 1)), h, twin, two),
    ]
    return seeds


def trainfold_multi_adjoint_cases():
    spikes = spinds_arg([8.0, 10.5, 13.2, 14.0])
    ids = arg((4, 1), [1.0, 2.0, 1.0, 2.0])
    r = arg((2, 4), [1.0, 16.0, 2.0, 32.0, 4.0, 64.0, 8.0, 128.0])
    twin = twin_arg(10.0, 13.0)
    two = nbns_arg(2.0)

    def adjoint(*args):
        return call(list(args), 6)

    seeds = [
        adjoint(spikes, ids, r, twin, two, two),
        call([spikes, ids, r, twin, two], 6), call([], 6),
        adjoint(spikes, arg((4, 1), [1.0, 2.0, 1.0, INF]), r, twin, two, two),
        adjoint(spikes, ids, arg((4, 1), [1.0] * 4), twin, two, two),
        adjoint(spikes, ids, arg((1, 4), [1.0, 2.0, 4.0, 8.0]), twin,
                nbns_arg(3.0), two),
        adjoint(spikes, ids, r, twin, nbns_arg(2.5), two),
        adjoint(spikes, ids, r, twin, two, nbns_arg(NAN)),
        adjoint(spikes, ids, r, twin, nbns_arg(4.0), nbns_arg(2147483647.0)),
    ]
    return seeds


def dictionary():
    """Raw-bits tokens (tag 12, accepted by every value decoder) of values at
    decision boundaries, and a few argument headers of the gateway format."""
    values = [0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 2.5, 1.0 / 3.0, 0.1,
              0.9999999999999999, -0.9999999999999999, -1.0000000000000002,
              2147483647.0, 2147483647.5, 2147483647.9999998, 2147483648.0,
              -2147483648.0, -2147483648.9999995, -2147483649.0,
              4294967296.0, 4294967297.0, 1e300, -1e300, INF, -INF, NAN,
              5e-324, 2.2250738585072014e-308, 1.7976931348623157e308]
    lines = []
    for v in values:
        token = raw(12, v)
        lines.append('"%s"' % "".join("\\x%02x" % b for b in token))
    # Argument headers: full double 1 x 1, 1 x 2, a column of 3; sparse,
    # single and huge kinds.
    for token in (b"\x00\x02\x01\x01", b"\x00\x02\x01\x02", b"\x00\x02\x03\x01",
                  b"\x20\x02\x01\x02", b"\x09\x02\x01\x01", b"\x40\x03\x01"):
        lines.append('"%s"' % "".join("\\x%02x" % b for b in token))
    return "\n".join(lines) + "\n"


# ---- Cases of every module, from its row of the module list ---------------

def parse_matrix(text):
    """A matrix in MATLAB notation without blanks ("4", "[1;2]", "[10,13]"):
    its dims and its values in column-major order."""
    rows = [r.split(",") for r in text.strip("[]").split(";")]
    return ((len(rows), len(rows[0])),
            [float(rows[i][j]) for j in range(len(rows[0]))
             for i in range(len(rows))])


def module_rows():
    """(module, kernel, example arguments) of each row of the module list,
    read by the list's Python reader (build_scripts/module_list.py)."""
    sys.path.insert(0, os.path.join(HERE, "..", "build_scripts"))
    try:
        from module_list import read_module_list
    finally:
        del sys.path[0]
    path = os.path.join(HERE, "..", "build_scripts", "modules.txt")
    for _, fields in read_module_list(path):
        yield fields[0], fields[1], [parse_matrix(a)
                                     for a in fields[4].split("|")]


def row_cases(example):
    """Every module's seeds: its worked example, one argument fewer and one
    more, no results asked for, and each argument single, int8, complex,
    sparse or empty in turn."""
    args = [arg(dims, values) for dims, values in example]
    n = len(args)
    yield call(args, n)
    yield call(args[:-1], n)
    yield call(args + [args[-1]], n)
    yield call(args, n, nlhs=0)
    for i, (dims, values) in enumerate(example):
        others = (args[:i], args[i + 1:])
        size = len(values)
        for changed in (arg(dims, b"\0" * 4 * size, cls="single"),
                        arg(dims, b"\0" * size, cls="integer", integer=0),
                        arg(dims, values, complex_values=[1.0] * size),
                        arg(dims, [], sparse_nz=0),
                        arg((0, 0))):
            yield call(others[0] + [changed] + others[1], n)


def write_corpus(name, seeds):
    folder = os.path.join(HERE, "corpus", name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for seed in seeds:
        digest = hashlib.sha1(seed).hexdigest()[:16]
        with open(os.path.join(folder, "seed-" + digest), "wb") as f:
            f.write(seed)
    print("%-24s %3d seeds" % (name, len(set(seeds))))


# Seeds of a kernel or module of their own, beyond the row's (named by kernel
# or module).
def exponent(v):
    """take_exponent: tag 0, then take_value's raw bits."""
    return bytes([0]) + value(v)


def exp_seed(rows, cols, x, mode=0):
    assert len(x) == rows * cols
    return (count(rows, 8, 100) + count(cols, 4, 12) + bytes([mode]) +
            b"".join(exponent(v) for v in x))


EXP_OVERFLOW = 709.782712893383973096
EXP_UNDERFLOW = -745.13321910194110842


def exp_edges():
    """Signed zeros, +-1e-300, both thresholds and their neighbours,
    subnormal results, multiples of ln 2, infinities and NaN."""
    ln2 = 0.6931471805599453
    def step(v, d):
        return struct.unpack("<d", struct.pack("<q", struct.unpack(
            "<q", struct.pack("<d", v))[0] + d))[0]
    return ([0.0, -0.0, 1.0, -1.0, 1e-300, -1e-300, INF, -INF, NAN,
             -708.5, -740.0, -744.4400719213812, 700.0] +
            [step(t, d) for t in (EXP_OVERFLOW, EXP_UNDERFLOW)
             for d in (-1, 0, 1)] +
            [k * ln2 for k in (-1075, -1074, -1022, 1, 1023, 1024)])


def exp_cases():
    edges = exp_edges()
    seeds = [exp_seed(len(edges), 1, edges), exp_seed(len(edges), 1, edges, 0x40),
             exp_seed(2, 2, [0.0, -800.0, -1.0, 0.5]),
             exp_seed(2, 2, [0.0, -800.0, -1.0, 0.5], 0x81),
             exp_seed(2, 2, [0.0, -800.0, -1.0, 0.5], 0x86),
             exp_seed(0, 3, []), exp_seed(3, 0, []), exp_seed(0, 0, [])]
    for n in (7, 8, 9, 17):  # around the vector block
        seeds.append(exp_seed(n, 1, [0.25 * i - 2 for i in range(n)]))
    return seeds


def rate_exp_cases():
    eta = arg((2, 2), [0.0, -800.0, -1.0, 0.5])
    edges = exp_edges()
    return [call([eta], 1), call([eta, eta], 1), call([], 1),
            call([arg((len(edges), 1), edges)], 1),
            call([arg((1, len(edges)), edges)], 1),
            call([arg((2, 3, 2), [0.5 * i - 3 for i in range(12)])], 1),
            call([arg((2, 2), [1.0] * 4, complex_values=[0.0] * 4)], 1),
            call([arg((0, 3))], 1), call([arg((3, 0))], 1),
            call([arg((0, 0))], 1), call([arg((2, 0, 5))], 1),
            call([huge_arg(TWO31, 0, 1, [1.0, 2.0])], 1),
            call([arg((2, 2), [1.0], sparse_nz=1)], 1),
            call([arg((2, 1), bytes(8), cls="single")], 1),
            call([eta], 1, nlhs=0), call([eta], 1, nlhs=2)]


OWN_CASES = {
    "upsample_bins": upsample_cases,
    "spike_filter_sum": spike_cases,
    "upsample_bins_adjoint": upsample_adjoint_cases,
    "spike_filter_sum_adjoint": spike_adjoint_cases,
    "tentfill2": tentfill2_cases,
    "trainfold_mex": trainfold_cases,
    "tentfill2_adjoint": tentfill2_adjoint_cases,
    "trainfold_adjoint": trainfold_adjoint_cases,
    "spike_filter_pop": spike_pop_cases,
    "spike_filter_pop_adjoint": spike_pop_adjoint_cases,
    "trainfold_pop": trainfold_pop_cases,
    "trainfold_pop_adjoint": trainfold_pop_adjoint_cases,
    "spike_filter_multi": spike_multi_cases,
    "spike_filter_multi_adjoint": spike_multi_adjoint_cases,
    "trainfold_multi": trainfold_multi_cases,
    "trainfold_multi_adjoint": trainfold_multi_adjoint_cases,
    "portable_exp": exp_cases,
    "rate_exp": rate_exp_cases,
}


def main():
    for module, kernel, example in module_rows():
        if kernel in OWN_CASES:
            write_corpus(kernel, list(OWN_CASES[kernel]()))
        write_corpus(module, list(row_cases(example)) +
                     list(OWN_CASES.get(module, list)()))
    with open(os.path.join(HERE, "fuzz.dict"), "w") as f:
        f.write("# Tokens for the fuzz targets; written by make_seeds.py.\n")
        f.write(dictionary())


if __name__ == "__main__":
    main()
