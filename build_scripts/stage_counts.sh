# Sourced by the stage scripts: reads a test runner's counts from its log.
# Each function prints "<passed> <failed>"; a log without the runner's
# closing line gives "0 1" (the run did not finish, counted as one failure).

# ctest_counts <log>: from ctest's "N% tests passed, F tests failed out of T".
ctest_counts() {
  local total failed
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$1" | tail -n 1)
  failed=$(sed -n 's/.* \([0-9]*\) tests failed out of .*/\1/p' "$1" | tail -n 1)
  if [ -z "$total" ]; then
    echo "0 1"
  else
    echo "$((total - failed)) $failed"
  fi
}

# pytest_counts <log>: from pytest's closing line ("P passed, F failed,
# E errors"); failures and errors both count as failed.
pytest_counts() {
  local line passed failed
  line=$(grep -E '[0-9]+ (passed|failed|errors?)' "$1" | tail -n 1)
  if [ -z "$line" ]; then
    echo "0 1"
    return
  fi
  passed=$(grep -Eo '[0-9]+ passed' <<<"$line" | grep -Eo '[0-9]+')
  failed=$(grep -Eo '[0-9]+ (failed|errors?)' <<<"$line" |
    awk '{ n += $1 } END { print n + 0 }')
  echo "${passed:-0} $failed"
}
