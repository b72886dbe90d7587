# Sourced by the test command and the chroot stage: a stage's counts from the
# JUnit file its ctest run wrote.

# junit_counts <file>: prints "<passed> <failed>" from the file's <testsuite>
# counts (skipped and disabled tests are neither); "0 1" when there is no
# file (the stage stopped before its tests: one failure).
junit_counts() {
  if [ ! -f "$1" ]; then
    echo "0 1"
    return
  fi
  local tests failures skipped disabled
  count() { sed -n "s/^[[:space:]]*$1=\"\([0-9]*\)\".*/\1/p" "$2" | head -n 1; }
  tests=$(count tests "$1")
  failures=$(count failures "$1")
  skipped=$(count skipped "$1")
  disabled=$(count disabled "$1")
  echo "$((tests - failures - skipped - disabled)) $((failures + 0))"
}
