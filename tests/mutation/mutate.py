#!/usr/bin/env python3
"""Mutation sampling of the GLM fitting code (run by hand, not by CTest).

Picks N random mutation sites with a fixed seed among

  * operator swaps: + -, * /, < <=, > >=, == !=, and or (Python), && ||
    and & | (M), and dropped negations (Python `not`, `~`; M `~`, `!`);
  * constant changes: 0 -> 1, 1 -> 0, any other number x -> x + 1;
  * dropped statements and returns (Python: the line becomes `pass`; M:
    the statement is commented out),

in the Python GLM modules (python/src/spike_bins/_*.py and glm.py) or in
the Octave fitting code (toolbox/spike_glm_*.m without their %! blocks,
toolbox/private/glm_*.m). Each mutant is written into a scratch copy of the
code (never into the working tree) and the fit tests are run against it:

  python: PYTHONPATH=<scratch> with a copy of the installed package (so the
          compiled _kernels extension comes from the venv) whose .py files
          are this tree's, then pytest -x on the fit test files;
  m:      a copy of an Octave module folder (the compiled modules) whose .m
          files are this tree's, then tests/octave/run_tests.m on the
          spike_glm files of %! tests and tests/octave/glm_*_test.m.

A mutant is "killed" when the tests fail (or time out), "survived" when
they pass; a mutant that does not compile (Python) or parse (Octave) is
"invalid" and is not counted. Survivors are judged by hand: list the
equivalent ones (no input can tell them apart from the original) in a
file of site keys and pass it with --equivalent, so that the report counts
live mutants only.

  python3 tests/mutation/mutate.py --host python --seed 1 -n 40 \
      --venv build/python-venv --out /tmp/mut-py.json
  python3 tests/mutation/mutate.py --host m --seed 1 -n 20 \
      --octave-modules build/default/octave_modules --out /tmp/mut-m.json
  python3 tests/mutation/mutate.py --host python --seed 1 -n 40 --list

The sample depends on the seed and on the code: a site is (file, line,
column, old text, new text), and the candidate list is sorted before the
seeded draw, so the same tree and seed give the same mutants.
"""
import argparse
import ast
import io
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import tokenize
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]

PY_FILES = ["_basis.py", "_cv.py", "_data.py", "_distributed.py", "_estimator.py",
            "_fitting.py", "_held.py", "_inference.py", "_inputs.py",
            "_lockstep.py", "_objective.py", "_penalties.py", "_rows.py",
            "_runaway.py", "_simulation.py", "_solvers.py", "glm.py"]
# The quick files first: pytest -x stops at the first failure.
PY_TESTS = ["test_fit_faults.py", "test_penalties.py", "test_group_lasso.py",
            "test_population_fit.py", "test_population_recording.py",
            "test_population_inference.py", "test_population_glm.py",
            "test_population_split.py", "test_lockstep.py",
            "test_population_threads.py", "test_dask.py"]
M_TESTS = ["spike_glm_rate", "spike_glm_score", "spike_glm_inference", "spike_glm_ks",
           "spike_glm_simulate", "spike_glm_fit"]
M_SKIPPED = ("spike_glm_read_kilosort.m", "spike_glm_plot.m", "glm_read_npy.m")

# Operator swaps: each token maps to its replacements.
PY_OPS = {"+": ["-"], "-": ["+"], "*": ["/"], "/": ["*"], "//": ["/"],
          "<": ["<="], "<=": ["<"], ">": [">="], ">=": [">"], "==": ["!="],
          "!=": ["=="], "and": ["or"], "or": ["and"], "+=": ["-="], "-=": ["+="],
          "*=": ["/="], "/=": ["*="]}
M_OPS = {"+": ["-"], "-": ["+"], "*": ["/"], "/": ["*"], ".*": ["./"], "./": [".*"],
         "<": ["<="], "<=": ["<"], ">": [">="], ">=": [">"], "==": ["~="],
         "~=": ["=="], "!=": ["=="], "&&": ["||"], "||": ["&&"], "&": ["|"],
         "|": ["&"], "~": [""], "!": [""]}


def _number_change(text):
    """The constant change of a number literal."""
    if text in ("0", "0.0"):
        return "1"
    if text in ("1", "1.0"):
        return "0"
    return f"({text} + 1)"


# ------------------------------------------------------------------ Python

def _py_sites(path, rel):
    src = path.read_text()
    lines = src.splitlines(keepends=True)
    sites = []
    for tok in tokenize.generate_tokens(io.StringIO(src).readline):
        (row, col), text = tok.start, tok.string
        if tok.type == tokenize.OP and text in PY_OPS:
            sites += [(rel, row, col, text, new) for new in PY_OPS[text]]
        elif tok.type == tokenize.NAME and text in ("and", "or"):
            sites += [(rel, row, col, text, new) for new in PY_OPS[text]]
        elif tok.type == tokenize.NAME and text == "not":
            sites.append((rel, row, col, "not", ""))
        elif tok.type == tokenize.OP and text == "~":
            sites.append((rel, row, col, "~", ""))
        elif tok.type == tokenize.NUMBER:
            sites.append((rel, row, col, text, _number_change(text)))
    # Dropped statements: simple statements alone on their line(s).
    tree = ast.parse(src)
    docstrings = {id(n.body[0]) for n in ast.walk(tree)
                  if isinstance(n, (ast.Module, ast.FunctionDef, ast.ClassDef))
                  and n.body and isinstance(n.body[0], ast.Expr)
                  and isinstance(n.body[0].value, ast.Constant)}
    simple = (ast.Assign, ast.AugAssign, ast.AnnAssign, ast.Expr, ast.Return,
              ast.Raise, ast.Continue, ast.Break)
    for node in ast.walk(tree):
        if isinstance(node, simple) and id(node) not in docstrings:
            first = lines[node.lineno - 1]
            if first[:node.col_offset].strip():
                continue  # not first on its line (after a colon or semicolon)
            span = node.end_lineno - node.lineno + 1
            sites.append((rel, node.lineno, node.col_offset,
                          f"<{span} line statement>", "pass"))
    return sites


def _py_apply(src, site):
    _, row, col, old, new = site
    lines = src.splitlines(keepends=True)
    if new == "pass" and old.startswith("<"):
        span = int(old[1:].split()[0])
        indent = lines[row - 1][:col]
        lines[row - 1:row - 1 + span] = [indent + "pass\n"]
        return "".join(lines)
    line = lines[row - 1]
    assert line[col:col + len(old)] == old, (site, line)
    rest = line[col + len(old):]
    if old == "not" and rest.startswith(" "):
        rest = rest[1:]
    lines[row - 1] = line[:col] + new + rest
    return "".join(lines)


# ---------------------------------------------------------------------- M

_M_KEYWORDS = re.compile(
    r"^(function|if|elseif|else|end\w*|for|parfor|while|do|until|switch|case|"
    r"otherwise|try|catch|unwind_protect\w*|global|persistent)\b")
_M_NUMBER = re.compile(r"(?<![\w.])(\d+\.?\d*(?:[eE][-+]?\d+)?|\.\d+(?:[eE][-+]?\d+)?)"
                       r"(?![\w.])")
_M_OP = re.compile(r"\.\*|\./|==|~=|!=|<=|>=|&&|\|\||[-+*/<>&|~!]")


def _m_code(line):
    """The line with strings and comments blanked (same length), so that
    positions in it are positions in the line."""
    out = []
    i, n = 0, len(line)
    prev = ""  # last non-blank character of code
    while i < n:
        c = line[i]
        if c in "%#":
            out.append(" " * (n - i))
            break
        if c == '"' or (c == "'" and (prev == "" or prev in "([{,;=&|~!<>+-*/:^")):
            j = i + 1
            while j < n:
                if line[j] == c and (j + 1 >= n or line[j + 1] != c):
                    break
                j += 2 if line[j] == c else 1
            out.append(" " * (min(j, n - 1) - i + 1))
            i = j + 1
            prev = "s"
            continue
        out.append(c)
        if not c.isspace():
            prev = c
        i += 1
    return "".join(out)


def _m_sites(path, rel):
    lines = path.read_text().splitlines()
    sites = []
    continued = False
    for row, line in enumerate(lines, 1):
        if line.startswith("%!"):
            break  # the tests of a help file
        code = _m_code(line)
        stripped = code.strip()
        if not stripped:
            continue
        for m in _M_OP.finditer(code):
            op, at = m.group(), m.start()
            after = code[at + len(op):].lstrip()
            if op in "~!" and (after[:1] in (",", "]", "=") or not after):
                continue  # [~, i] = ..., or part of ~= / !=
            if op in "+-" and at > 0 and re.search(r"\d[eE]$", code[:at]):
                continue  # exponent sign
            sites += [(rel, row, at, op, new) for new in M_OPS[op]]
        for m in _M_NUMBER.finditer(code):
            sites.append((rel, row, m.start(), m.group(), _m_number(m.group())))
        ends_continued = stripped.endswith("...")
        if (not continued and not ends_continued and not _M_KEYWORDS.match(stripped)
                and (re.match(r"^return\b", stripped) or "=" in stripped
                     or re.match(r"^(error|warning|fprintf|printf|disp)\b", stripped))):
            col = len(line) - len(line.lstrip())
            sites.append((rel, row, col, "<statement>", "% dropped"))
        continued = ends_continued
    return sites


def _m_number(text):
    return _number_change(text)


def _m_apply(src, site):
    _, row, col, old, new = site
    lines = src.splitlines(keepends=True)
    line = lines[row - 1]
    if old == "<statement>":
        lines[row - 1] = line[:col] + "% dropped: " + line[col:]
        return "".join(lines)
    assert line[col:col + len(old)] == old, (site, line)
    lines[row - 1] = line[:col] + new + line[col + len(old):]
    return "".join(lines)


# ------------------------------------------------------------------ hosts

def _py_files():
    base = ROOT / "python/src/spike_bins"
    return [(base / f, f"python/src/spike_bins/{f}") for f in PY_FILES
            if (base / f).exists()]


def _m_files():
    files = sorted((ROOT / "toolbox").glob("spike_glm_*.m"))
    files += sorted((ROOT / "toolbox/private").glob("glm_*.m"))
    files = [f for f in files if f.name not in M_SKIPPED]
    return [(f, str(f.relative_to(ROOT))) for f in files]


def all_sites(host):
    if host == "python":
        sites = []
        for path, rel in _py_files():
            src = path.read_text()
            for s in _py_sites(path, rel):
                try:  # only mutants that compile (not `/args` from `*args`)
                    compile(_py_apply(src, s), rel, "exec")
                except SyntaxError:
                    continue
                sites.append(s)
        return sorted(sites)
    return sorted(s for p, rel in _m_files() for s in _m_sites(p, rel))


def site_key(site):
    rel, row, col, old, new = site
    return f"{rel}:{row}:{col}:{old}->{new}"


class PythonRunner:
    """A scratch package: the installed spike_bins (for the compiled
    extension) with this tree's .py files; pytest on the fit tests."""

    def __init__(self, venv, tests, timeout, scratch):
        self.python = str(Path(venv).resolve() / "bin/python")
        installed = subprocess.run(
            [self.python, "-c", "import spike_bins, os; "
             "print(os.path.dirname(spike_bins.__file__))"],
            capture_output=True, text=True, check=True, cwd="/").stdout.strip()
        self.root = Path(scratch) / "python"
        pkg = self.root / "spike_bins"
        shutil.copytree(installed, pkg, ignore=shutil.ignore_patterns("__pycache__"))
        for f in (ROOT / "python/src/spike_bins").glob("*.py"):
            shutil.copy(f, pkg / f.name)
        self.env = dict(os.environ, PYTHONPATH=str(self.root),
                        PYTHONDONTWRITEBYTECODE="1")
        where = subprocess.run(
            [self.python, "-c", "import spike_bins; print(spike_bins.__file__)"],
            capture_output=True, text=True, check=True, env=self.env,
            cwd="/").stdout.strip()
        if not where.startswith(str(pkg)):
            raise SystemExit(f"the scratch package is not what is imported: {where}")
        self.tests = [str(ROOT / "python/tests" / t) for t in tests
                      if (ROOT / "python/tests" / t).exists()]
        self.timeout = timeout

    def valid(self, text):
        try:
            compile(text, "mutant", "exec")
            return True
        except SyntaxError:
            return False

    def run(self, rel):
        cmd = ["nice", self.python, "-m", "pytest", "-x", "-q", "-p",
               "no:cacheprovider",
               "-W", "ignore::DeprecationWarning", *self.tests]
        return _run(cmd, self.env, self.timeout, str(ROOT))

    def target(self, rel):
        return self.root / "spike_bins" / Path(rel).name


class OctaveRunner:
    """A scratch module folder with this tree's toolbox .m files; Octave's
    test on the spike_glm files of %! tests and tests/octave/glm_*_test.m."""

    def __init__(self, modules, tests, timeout, scratch):
        self.dir = Path(scratch) / "octave_modules"
        shutil.copytree(modules, self.dir)
        for f in (ROOT / "toolbox").glob("*.m"):
            shutil.copy(f, self.dir / f.name)
        for f in (ROOT / "toolbox/private").glob("*.m"):
            shutil.copy(f, self.dir / "private" / f.name)
        extra = sorted(p.stem for p in (ROOT / "tests/octave").glob("glm_*_test.m"))
        self.tests = extra + list(tests)  # the quick file first
        self.timeout = timeout

    def valid(self, text):
        return True  # parse errors are told apart from failures in run()

    def run(self, rel):
        # run_tests.m one file at a time, stopping at the first failing file.
        names = "', '".join(self.tests)
        script = (f"addpath('{ROOT / 'tests/octave'}'); addpath('{self.dir}'); "
                  f"for f = {{'{names}'}}, [p, n] = test(f{{1}}, 'quiet', stdout); "
                  "printf('%s: %d of %d\\n', f{1}, p, n); "
                  "if n == 0 || p < n, exit(1); end, end, exit(0)")
        cmd = ["nice", "octave-cli", "--norc", "--no-history", "--no-window-system",
               "--quiet", "--eval", script]
        return _run(cmd, dict(os.environ), self.timeout, str(ROOT))

    def target(self, rel):
        rel = Path(rel)
        if rel.parent.name == "private":
            return self.dir / "private" / rel.name
        return self.dir / rel.name


def _run(cmd, env, timeout, cwd):
    proc = subprocess.Popen(cmd, env=env, cwd=cwd, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
        status = "survived" if proc.returncode == 0 else "killed"
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, 9)
        out, _ = proc.communicate()
        status = "timeout"
    except BaseException:
        os.killpg(proc.pid, 9)
        raise
    if status == "killed" and re.search(r"parse error|SyntaxError", out):
        status = "invalid"
    return status, out[-3000:]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--host", choices=["python", "m"], required=True)
    ap.add_argument("-n", type=int, default=40, help="mutants in the sample")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--list", action="store_true", help="print the sample and stop")
    ap.add_argument("--only", nargs="*", help="run these site keys instead")
    ap.add_argument("--venv", default=str(ROOT / "build/python-venv"))
    ap.add_argument("--octave-modules",
                    default=str(ROOT / "build/default/octave_modules"))
    ap.add_argument("--tests", nargs="*", help="test files (python) or names (m)")
    ap.add_argument("--timeout", type=float, default=600, help="seconds per mutant")
    ap.add_argument("--equivalent", help="file of site keys judged equivalent")
    ap.add_argument("--out", help="JSON file of the results (appended as it goes)")
    ap.add_argument("--no-baseline", action="store_true",
                    help="skip the run of the tests on the code as it is")
    args = ap.parse_args()

    sites = all_sites(args.host)
    if args.only:
        by_key = {site_key(s): s for s in sites}
        sample = [by_key[k] for k in args.only]
    else:
        sample = random.Random(args.seed).sample(sites, min(args.n, len(sites)))
    print(f"{len(sites)} sites, seed {args.seed}, {len(sample)} mutants")
    if args.list:
        for s in sample:
            print(site_key(s))
        return
    equivalent = set()
    if args.equivalent:
        equivalent = {k.split("#")[0].strip() for k in open(args.equivalent)} - {""}

    scratch = tempfile.mkdtemp(prefix="mutants-")
    # A kill (SIGTERM) still removes the scratch copy and the running tests.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        if args.host == "python":
            runner = PythonRunner(args.venv, args.tests or PY_TESTS, args.timeout,
                                  scratch)
            apply = _py_apply
        else:
            runner = OctaveRunner(args.octave_modules, args.tests or M_TESTS,
                                  args.timeout, scratch)
            apply = _m_apply
        if not args.no_baseline:
            # The tests must pass on the code as it is, or every mutant dies.
            status, out = runner.run("")
            print(f"tests on the code as it is: {status}", flush=True)
            if status != "survived":
                raise SystemExit("the tests fail without a mutant:\n" + out)
        results = []
        for k, site in enumerate(sample, 1):
            target = runner.target(site[0])
            original = target.read_text()
            mutant = apply(original, site)
            if not runner.valid(mutant):
                status, out = "invalid", ""
            else:
                target.write_text(mutant)
                try:
                    status, out = runner.run(site[0])
                finally:
                    target.write_text(original)
            key = site_key(site)
            if status == "survived" and key in equivalent:
                status = "equivalent"
            line = (ROOT / site[0]).read_text().splitlines()[site[1] - 1].strip()
            results.append({"key": key, "status": status,
                            "line": line, "tail": out[-800:] if status != "survived"
                            else ""})
            print(f"[{k}/{len(sample)}] {status:10s} {key}  | {line}",
                  flush=True)
            if args.out:
                Path(args.out).write_text(json.dumps(results, indent=1))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    count = {s: sum(r["status"] == s for r in results)
             for s in ("killed", "timeout", "survived", "equivalent", "invalid")}
    live = count["killed"] + count["timeout"] + count["survived"]
    dead = count["killed"] + count["timeout"]
    print(f"{args.host}: {count}; killed {dead} of {live} live "
          f"({100.0 * dead / max(live, 1):.0f} %)")
    for r in results:
        if r["status"] == "survived":
            print(f"  survived: {r['key']}  | {r['line']}")


if __name__ == "__main__":
    main()
