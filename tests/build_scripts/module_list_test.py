#!/usr/bin/env python3
"""Every reader of build_scripts/modules.txt against one table of lists.

The module list has one reader per language: build_scripts/module_list.py
(Python, and python/meson.build through it), build_scripts/module_list.awk
(the shell scripts and the Octave package's Makefile),
cmake/module_list.cmake (CMake) and build_scripts/read_module_list.m
(Octave/MATLAB). Each case below is a small list, good or faulty; every
reader is fed each one and must give the rows the case expects, or refuse
it with the same message naming the same line.

usage: module_list_test.py --cmake CMAKE [--awk AWK] [--octave OCTAVE_CLI]
A reader whose program is not given (or not found) is skipped, and said so.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "build_scripts"))
from module_list import ModuleListError, read_module_list  # noqa: E402

ROW = "m k ref_m x,n [4;8]|4 3,4 dir/m_gateway.cpp dir/kernel.cpp"
ROW_FIELDS = ROW.split(" ")

# (name, text of the list, rows expected or (line, field count) of the
# refusal)
CASES = [
    ("notes and blank lines",
     "# note\n\n   \n\t# indented note\n" + ROW + "\n", [ROW_FIELDS]),
    ("CR LF line ends", "# note\r\n" + ROW + "\r\n\r\n", [ROW_FIELDS]),
    ("tabs, runs of blanks, leading and trailing blanks",
     " \t" + ROW.replace(" ", " \t  ") + " \t\n", [ROW_FIELDS]),
    ("no newline at the end", ROW, [ROW_FIELDS]),
    ("more than 8 fields", ROW + " dir/more.cpp dir/most.cpp\n",
     [ROW_FIELDS + ["dir/more.cpp", "dir/most.cpp"]]),
    ("a # inside a row is data", ROW + "#x\n",
     [ROW_FIELDS[:-1] + [ROW_FIELDS[-1] + "#x"]]),
    ("two rows in file order", ROW + "\n\n" + ROW.replace("m ", "n ", 1)
     + "\n", [ROW_FIELDS, ["n"] + ROW_FIELDS[1:]]),
    ("empty list", "", []),
    ("notes only", "# a\n#b\n", []),
    ("a short row", "# note\n" + ROW + "\nm k ref_m x [1] 2 g.cpp\n",
     (3, 7)),
    ("a row of one field", "\nlonely\n", (2, 1)),
    ("a short row with CR LF", ROW + "\r\na b\r\n", (2, 2)),
    ("a short row before good ones", "a b c\n" + ROW + "\n", (1, 3)),
    ("a short row without newline", ROW + "\n# x\n1 2 3 4 5 6 7", (3, 7)),
    ("a short note-like row", ROW + "\nx #1 2 3 4 5 6\n", (2, 7)),
]

MESSAGE = ("{file}:{line}: a module row needs 8 or more fields (<module> "
           "<kernel> <reference> <arguments> <example> <result> <gateway "
           "source> <kernel source>...), this one has {count}")


def squeeze(text):
    return " ".join(text.split())


def rows_of(output):
    return [line.split(" ") for line in output.splitlines()]


# Each reader: (list file) -> ("rows", [[field, ...], ...]) or
# ("refused", message); readers that take every case in one process are
# given the whole list of files instead.
def python_reader(path):
    try:
        return "rows", [fields for _, fields in read_module_list(path)]
    except ModuleListError as err:
        return "refused", str(err)


def awk_reader(awk):
    def read(path):
        run = subprocess.run([awk, "-f", os.path.join(ROOT, "build_scripts",
                                                      "module_list.awk"),
                              path], capture_output=True, text=True)
        if run.returncode != 0:
            if run.stdout:
                return "printed rows before refusing", run.stdout
            return "refused", run.stderr
        return "rows", rows_of(run.stdout)
    return read


def cmake_reader(cmake):
    def read(path):
        out = path + ".cmake_rows"
        run = subprocess.run([cmake, "-DMODULE_LIST=" + path,
                              "-DOUTPUT=" + out, "-P",
                              os.path.join(ROOT, "cmake", "module_list.cmake")],
                             capture_output=True, text=True)
        if run.returncode != 0:
            return "refused", run.stderr
        with open(out) as f:
            return "rows", rows_of(f.read())
    return read


def octave_results(octave, paths):
    """All cases in one Octave process: its answers by path."""
    files = ", ".join("'%s'" % p for p in paths)
    code = f"""addpath('{os.path.join(ROOT, "build_scripts")}');
files = {{{files}}};
for i = 1:numel(files)
  printf('=== %s\\n', files{{i}});
  try
    rows = read_module_list(files{{i}});
    for j = 1:numel(rows)
      printf('row %s\\n', strjoin(rows(j).fields, ' '));
    end
  catch err
    printf('refused %s %s\\n', err.identifier, err.message);
  end
end"""
    run = subprocess.run([octave, "--norc", "--no-history",
                          "--no-window-system", "--quiet", "--eval", code],
                         capture_output=True, text=True)
    results = {}
    path = None
    for line in run.stdout.splitlines():
        if line.startswith("=== "):
            path = line[4:]
            results[path] = ("rows", [])
        elif line.startswith("row "):
            results[path][1].append(line[4:].split(" "))
        elif line.startswith("refused "):
            _, identifier, message = line.split(" ", 2)
            if identifier != "spike_bins:moduleList":
                message = "identifier " + identifier + ": " + message
            results[path] = ("refused", message)
    return results


def check(name, reader, path, expected, answer):
    """An empty string when the reader's answer is the expected one, else
    what went wrong."""
    kind, value = answer
    if isinstance(expected, list):
        if kind != "rows":
            return f"{reader}: {name}: expected rows, {kind}: {value!r}"
        if value != expected:
            return f"{reader}: {name}: rows {value!r}, expected {expected!r}"
        return ""
    line, count = expected
    message = MESSAGE.format(file=path, line=line, count=count)
    if kind != "refused":
        return f"{reader}: {name}: expected a refusal of line {line}, " \
               f"{kind}: {value!r}"
    if squeeze(message) not in squeeze(value):
        return f"{reader}: {name}: message {value!r}, expected {message!r}"
    return ""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake")
    parser.add_argument("--awk", default=shutil.which("awk"))
    parser.add_argument("--octave")
    args = parser.parse_args()

    work = tempfile.mkdtemp()
    try:
        paths = []
        for i, (_, text, _) in enumerate(CASES):
            path = os.path.join(work, f"case{i}.txt")
            with open(path, "w", newline="") as f:
                f.write(text)
            paths.append(path)

        readers = {"python": python_reader}
        if args.awk:
            readers["awk"] = awk_reader(args.awk)
        if args.cmake:
            readers["cmake"] = cmake_reader(args.cmake)
        skipped = [r for r in ("awk", "cmake") if r not in readers]
        octave = {}
        if args.octave:
            octave = octave_results(args.octave, paths)
        else:
            skipped.append("octave")

        passed = failed = 0
        for (name, _, expected), path in zip(CASES, paths):
            answers = {r: read(path) for r, read in readers.items()}
            if args.octave:
                answers["octave"] = octave.get(path, ("no answer", ""))
            for reader, answer in answers.items():
                problem = check(name, reader, path, expected, answer)
                if problem:
                    print("FAIL " + problem)
                    failed += 1
                else:
                    passed += 1
    finally:
        shutil.rmtree(work)
    if skipped:
        print("readers not run (no program given): " + ", ".join(skipped))
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
