"""The population GLM's constants: spike_bins._constants against the
Octave side's toolbox/private/glm_constants.m, which holds the same numbers
(one `c.<name> = <number>;` line each)."""
import pathlib
import re
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
OCTAVE = ROOT / "toolbox" / "private" / "glm_constants.m"
# Python's alone: the largest count argument, which the Octave GLM leaves to
# the modules' own checks. Octave's alone: the spike density from which its
# fit runs in lockstep (a matter of its own costs; Python always does).
PYTHON_ONLY = {"MAX_BINS"}
OCTAVE_ONLY = {"LOCKSTEP_MIN_TAPS"}
NUMBER = r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?"
FIELD = re.compile(rf"^\s*c\.([a-z_][a-z0-9_]*)\s*=\s*({NUMBER})\s*;\s*(%.*)?$")


def octave_constants(text):
    """NAME (upper case): value of every `c.name = number;` line; anything
    else that assigns a field of c is refused, so no field goes unchecked."""
    out = {}
    for line in text.splitlines():
        code = line.split("%", 1)[0]
        if not re.match(r"^\s*c\.", code):
            continue
        m = FIELD.match(line)
        assert m, f"not of the form c.<name> = <number>;: {line!r}"
        out[m.group(1).upper()] = float(m.group(2))
    return out


def test_python_and_octave_constants_agree():
    from spike_bins import _constants
    py = {k: getattr(_constants, k) for k in dir(_constants) if k.isupper()}
    oc = octave_constants(OCTAVE.read_text())
    assert set(oc) - OCTAVE_ONLY == set(py) - PYTHON_ONLY
    assert OCTAVE_ONLY <= set(oc) and not OCTAVE_ONLY & set(py)
    for name, value in ((k, v) for k, v in oc.items() if k not in OCTAVE_ONLY):
        assert float(py[name]) == value, name


@pytest.mark.parametrize("line, wanted", [
    ("c.runaway = 20;", {"RUNAWAY": 20.0}),
    ("  c.bin_tolerance = 1e-6;  % comment", {"BIN_TOLERANCE": 1e-6}),
    ("% c.runaway = 21; in a comment", {}),
    ("x.runaway = 21;", {}),
])
def test_octave_lines_are_read(line, wanted):
    assert octave_constants(line) == wanted


@pytest.mark.parametrize("line", ["c.runaway = 2 * 10;", "c.runaway = 20",
                                  "c.block_rows = 2^16;"])
def test_octave_lines_of_another_form_are_refused(line):
    with pytest.raises(AssertionError, match="not of the form"):
        octave_constants(line)


@pytest.mark.skipif(shutil.which("octave-cli") is None, reason="octave-cli is missing")
def test_octave_evaluates_the_numbers_read():
    script = ("c = glm_constants(); f = fieldnames(c); "
              "for k = 1:numel(f), printf('%s %.17g\\n', f{k}, c.(f{k})); end")
    out = subprocess.run(["octave-cli", "--no-gui", "--quiet", "--eval", script],
                         cwd=OCTAVE.parent, capture_output=True, text=True, timeout=120,
                         check=True).stdout
    seen = {name.upper(): float(value) for name, value in
            (line.split() for line in out.splitlines() if line.strip())}
    assert seen == octave_constants(OCTAVE.read_text())
