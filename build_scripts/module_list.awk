# The awk reader of build_scripts/modules.txt, the one list of modules, for
# the shell scripts and the Octave package's Makefile. The rules, the same in
# every reader of the list (module_list.py, module_list.cmake,
# read_module_list.m and this file): a line whose first non-blank character
# is # is a note; a line of blanks only is skipped; any other line is a
# module row, fields separated by runs of blanks (spaces, tabs), leading and
# trailing blanks and one carriage return at the end of the line ignored; a
# row with fewer than 8 fields is an error that names the file and the line.
#
# usage: awk [-v field=N | -v from=N] [-v module=NAME] [-v unique=1]
#            -f module_list.awk modules.txt
# prints, per row in file order, field N (counted from 1), or fields N and
# on one per line, or the whole row joined by single blanks; module= keeps
# that module's row only, unique=1 drops a line already printed. Exit status
# 1, with the message on standard error and nothing printed, on a faulty
# list.

BEGIN { FS = "[ \t]+"; count = 0; failed = 0 }

{
  line = $0
  sub(/\r$/, "", line)
  sub(/^[ \t]+/, "", line)
  sub(/[ \t]+$/, "", line)
  if (line == "" || substr(line, 1, 1) == "#") next
  n = split(line, fields, /[ \t]+/)
  if (n < 8) {
    printf "%s:%d: a module row needs 8 or more fields (<module> <kernel> " \
      "<reference> <arguments> <example> <result> <gateway source> " \
      "<kernel source>...), this one has %d\n", FILENAME, FNR, n \
      > "/dev/stderr"
    failed = 1
    exit 1
  }
  if (module != "" && fields[1] != module) next
  if (field != "") {
    add(fields[field + 0])
  } else if (from != "") {
    for (i = from + 0; i <= n; i++) add(fields[i])
  } else {
    row = fields[1]
    for (i = 2; i <= n; i++) row = row " " fields[i]
    add(row)
  }
}

# Output waits for the end, so that a faulty list prints nothing.
function add(text) {
  if (unique != "" && (text in seen)) return
  seen[text] = 1
  out[++count] = text
}

END {
  if (failed) exit 1
  for (i = 1; i <= count; i++) print out[i]
}
