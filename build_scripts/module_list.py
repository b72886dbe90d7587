#!/usr/bin/env python3
"""The Python reader of build_scripts/modules.txt, the one list of modules.

The rules, the same in every reader of the list (module_list.cmake,
read_module_list.m, module_list.awk and this file):

- a line whose first non-blank character is ``#`` is a note;
- a line of blanks only is skipped;
- any other line is a module row: fields separated by runs of blanks
  (spaces, tabs), leading and trailing blanks and one carriage return at
  the end of the line ignored;
- a row with fewer than 8 fields is an error that names the file and the
  line: ``<file>:<line>: a module row needs 8 or more fields (<module> ...),
  this one has <n>``.

As a command (used by python/meson.build)::

    module_list.py [--field N | --from N] [--module NAME] [--unique] FILE

prints, per row in file order, field N (counted from 1), or fields N and on
one per line, or the whole row joined by single blanks; ``--module`` keeps
that module's row only, ``--unique`` drops a line already printed. Exit
status 1, with the message on standard error, on a faulty list.
"""

import argparse
import re
import sys

FIELD_NAMES = ("<module> <kernel> <reference> <arguments> <example> <result> "
               "<gateway source> <kernel source>...")
MIN_FIELDS = 8


class ModuleListError(ValueError):
    """A row of the module list that breaks its rules."""


def parse_module_list(text, name="modules.txt"):
    """The rows of a module list's text.

    Parameters
    ----------
    text : str
        The list's contents.
    name : str
        The file name that error messages give.

    Returns
    -------
    list of (int, list of str)
        Each row's line number (from 1) and fields, in file order.

    Raises
    ------
    ModuleListError
        For a row with fewer than 8 fields, naming the file and line.
    """
    rows = []
    for number, line in enumerate(text.split("\n"), start=1):
        if line.endswith("\r"):
            line = line[:-1]
        fields = re.split(r"[ \t]+", line.strip(" \t"))
        if fields == [""]:
            fields = []
        if not fields or fields[0].startswith("#"):
            continue
        if len(fields) < MIN_FIELDS:
            raise ModuleListError(
                f"{name}:{number}: a module row needs {MIN_FIELDS} or more "
                f"fields ({FIELD_NAMES}), this one has {len(fields)}")
        rows.append((number, fields))
    return rows


def read_module_list(path):
    """The rows of the module list file at `path` (see parse_module_list)."""
    with open(path, encoding="utf-8", newline="") as f:
        return parse_module_list(f.read(), str(path))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    which = parser.add_mutually_exclusive_group()
    which.add_argument("--field", type=int)
    which.add_argument("--from", dest="first", type=int)
    parser.add_argument("--module")
    parser.add_argument("--unique", action="store_true")
    parser.add_argument("file")
    args = parser.parse_args(argv)
    try:
        rows = read_module_list(args.file)
    except (ModuleListError, OSError) as err:
        print(err, file=sys.stderr)
        return 1
    printed = set()
    for _, fields in rows:
        if args.module is not None and fields[0] != args.module:
            continue
        if args.field is not None:
            lines = fields[args.field - 1:args.field]
        elif args.first is not None:
            lines = fields[args.first - 1:]
        else:
            lines = [" ".join(fields)]
        for line in lines:
            if not (args.unique and line in printed):
                print(line)
                printed.add(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
