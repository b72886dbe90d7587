"""spike_bins against the committed golden bits (tests/golden/golden_data.inc):
the digests over the whole golden input set and every fusing-sensitive
upsampling case, bit for bit."""
import re

import numpy as np

from conftest import assert_same_bits
from golden_reference import GOLDEN_DIR, make_golden
from spike_bins import tentfill2, trainfold

COMMITTED = (GOLDEN_DIR / "golden_data.inc").read_text(encoding="utf-8")


def committed_digests():
    found = re.findall(r'\{"([^"]+)", (\d+), 0x([0-9a-f]{16})ULL\}', COMMITTED)
    return {name: (int(outputs), int(digest, 16))
            for name, outputs, digest in found}


def flat(y):
    return np.asarray(y).ravel(order="F").tolist()


def test_digests_of_the_golden_input_set():
    one, many, spike = [0, 0], [0, 0], [0, 0]
    for index in range(make_golden.UPSAMPLE_CASES):
        x, rows, cols, nbns = make_golden.build_upsample_case(index)
        x = np.array(x, dtype=np.float64).reshape((rows, cols), order="F")
        y = flat(tentfill2(x, nbns))
        part = one if cols == 1 else many
        part[0] += len(y)
        part[1] = make_golden.digest_values(part[1], y)
    for index in range(make_golden.SPIKE_CASES):
        spinds, h, taps, filters, twin = make_golden.build_spike_case(index)
        h = np.array(h, dtype=np.float64).reshape((taps, filters), order="F")
        y = flat(trainfold(np.array(spinds, dtype=np.float64), h, twin))
        spike[0] += len(y)
        spike[1] = make_golden.digest_values(spike[1], y)
    committed = committed_digests()
    assert {name: committed[name] for name in (
        "upsample_bins, one column", "upsample_bins, more columns",
        "spike_filter_sum")} == {
        "upsample_bins, one column": tuple(one),
        "upsample_bins, more columns": tuple(many),
        "spike_filter_sum": tuple(spike)}


def words(text):
    return [int(w, 16) for w in re.findall(r"0x([0-9a-f]{16})", text)]


def as_doubles(bits):
    return np.array(bits, dtype=np.uint64).view(np.float64)


def test_fusing_sensitive_cases():
    body = COMMITTED[COMMITTED.index("golden_fusing_cases"):
                     COMMITTED.index("golden_adjoint_fusing_cases")]
    cases = re.findall(r'\{"[^"]*",\s*0x([0-9a-f]{16})ULL,\s*(\d+),\s*(\d+),'
                       r'\s*\{([^}]*)\},\s*\{([^}]*)\}\}', body)
    assert len(cases) >= 10
    for nbns_bits, rows, cols, x_text, y_text in cases:
        rows, cols = int(rows), int(cols)
        nbns = float(as_doubles([int(nbns_bits, 16)])[0])
        x = as_doubles(words(x_text)).reshape((rows, cols), order="F")
        expected = as_doubles(words(y_text)).reshape((-1, cols), order="F")
        assert_same_bits(tentfill2(x, nbns), expected)
