#!/usr/bin/env bash
# Runs Octave test files (%! blocks, run by Octave's own `test`) on the
# modules in <module dir> under valgrind memcheck, all in one Octave process,
# and fails when memcheck reports an invalid access or a definite leak whose
# stack passes through the modules (a mexFunction frame or a frame in a file
# of <module dir>), or when a test fails. Octave's own reports (it leaks at
# exit) are listed as a count only.
#
# usage: run_memcheck.sh <module dir> <test file>...
#   MEMCHECK_LOG=<file> keeps valgrind's full log there.
#   MEMCHECK_TRACK_ORIGINS=yes makes memcheck name where an uninitialised
#   value came from (about twice as slow).
# Exit status: 0 clean; 1 findings in the modules, a failed test, or a run
# that did not finish; 2 usage or missing tools.
set -uo pipefail

if [ $# -lt 2 ] || [ ! -d "$1" ]; then
  echo "usage: $0 <module dir> <test file>..." >&2
  exit 2
fi
module_dir=$(cd "$1" && pwd)
shift
test_files=()
for file in "$@"; do
  if [ ! -f "$file" ]; then
    echo "run_memcheck: no test file $file" >&2
    exit 2
  fi
  test_files+=("$(cd "$(dirname "$file")" && pwd)/$(basename "$file")")
done
for tool in valgrind octave-cli; do
  if ! command -v "$tool" >/dev/null; then
    echo "run_memcheck: $tool not found" >&2
    exit 2
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/memcheck.log

# Octave loads libhwy (through its image libraries), whose load-time timer
# calibration executes RDTSCP. Valgrind 3.19 refuses that instruction when
# the CPU does not advertise it (common in virtual machines) and the process
# dies with SIGILL before Octave starts. A preloaded stand-in for that one
# calibration function (called through the PLT) avoids it; nothing in the
# suites uses the timer.
preload=()
libraries=$(ldd "$(command -v octave-cli)" 2>/dev/null)
if [[ $libraries == *libhwy.so* ]]; then
  cat >"$work/hwy_timer.cpp" <<'CPP'
#include <cstdint>
namespace hwy {
namespace platform {
uint64_t TimerResolution() { return 1; }
}  // namespace platform
}  // namespace hwy
CPP
  echo 'HWY_0 { global: _ZN3hwy8platform15TimerResolutionEv; local: *; };' \
    >"$work/hwy_timer.map"
  if ! c++ -O1 -shared -fPIC -Wl,--version-script="$work/hwy_timer.map" \
    -o "$work/hwy_timer.so" "$work/hwy_timer.cpp"; then
    echo "run_memcheck: could not build the libhwy timer stand-in" >&2
    exit 2
  fi
  preload=(env "LD_PRELOAD=$work/hwy_timer.so")
fi

# Each file runs with its own folder on the path (for helpers beside it);
# the module folder goes first so that the modules answer the calls.
octave_files=$(printf "'%s', " "${test_files[@]}")
octave_code="files = {${octave_files%, }}; failed = 0;
for i = 1:numel (files)
  addpath (fileparts (files{i}));
  addpath ('$module_dir');
  [n, nmax] = test (files{i}, 'quiet', stdout);
  printf ('run_memcheck: %s: %d of %d tests passed\\n', files{i}, n, nmax);
  failed += n < nmax || nmax == 0;
end
exit (failed > 0);"
start=$(date +%s)
"${preload[@]}" valgrind --tool=memcheck --error-limit=no --num-callers=50 \
  --track-origins="${MEMCHECK_TRACK_ORIGINS:-no}" --keep-debuginfo=yes \
  --leak-check=full --show-leak-kinds=definite \
  --errors-for-leak-kinds=definite \
  --log-file="$log" \
  octave-cli --norc --no-history --no-window-system --quiet \
  --eval "$octave_code"
test_status=$?
echo "run_memcheck: valgrind run took $(($(date +%s) - start)) s"
if [ -n "${MEMCHECK_LOG:-}" ]; then
  cp "$log" "$MEMCHECK_LOG"
fi

if grep -q 'Unrecognised instruction' "$log"; then
  echo "run_memcheck: valgrind met an instruction it cannot decode (AVX-512" \
    "from -march=native, for one); use a build without -march=native" >&2
fi
if ! grep -q 'ERROR SUMMARY' "$log"; then
  echo "run_memcheck: valgrind did not finish; its log:" >&2
  cat "$log" >&2
  exit 1
fi

# One memcheck report is a run of lines between "==pid== " separator lines.
# A report is ours when it has a frame in the modules: their entry point
# (with or without debug info) or any frame located in a module file.
findings=$(awk -v module_dir="(in $module_dir/" '
  function report_end() {
    if (block ~ /[ :]mexFunction[ (]/ || index(block, module_dir) > 0) {
      print block; count++
    }
    block = ""
  }
  /^==[0-9]+== $/ { report_end(); next }
  { block = block $0 "\n" }
  END { report_end(); exit count > 0 }' "$log")
found=$?
total=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$log" | tail -1)

if [ $found -ne 0 ]; then
  echo "run_memcheck: memcheck reports through the modules:"
  echo "$findings"
  exit 1
fi
echo "run_memcheck: no memcheck reports through the modules" \
  "(${total:-0} reports elsewhere in Octave, not ours)"
if [ $test_status -ne 0 ]; then
  echo "run_memcheck: tests failed under valgrind (status $test_status)"
  exit 1
fi
exit 0
