#!/usr/bin/env bash
# Runs Octave end-to-end suites on the modules in <module dir> under valgrind
# memcheck and fails when memcheck reports an error or a definite leak whose
# stack passes through the modules (their files or their source files).
# Octave's own reports (it leaks at exit) are listed as a count only.
#
# usage: run_memcheck.sh <module dir> [suite ...]
#   suites default to e2e_refusals (the bad inputs; about 30 s); the result
#   suites e2e_tentfill2 e2e_trainfold_mex take several minutes more.
#   MEMCHECK_LOG=<file> keeps valgrind's full log there.
# Exit status: 0 clean; 1 findings in the modules, a failed suite, or a run
# that did not finish; 2 usage or missing tools.
set -uo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 <module dir> [suite ...]" >&2
  exit 2
fi
module_dir=$(cd "$1" && pwd)
shift
suites=("$@")
if [ ${#suites[@]} -eq 0 ]; then
  suites=(e2e_refusals)
fi
test_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
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

suite_args=$(printf ", '%s'" "${suites[@]}")
start=$(date +%s)
"${preload[@]}" valgrind --tool=memcheck --error-limit=no --num-callers=50 \
  --track-origins=yes --keep-debuginfo=yes \
  --leak-check=full --show-leak-kinds=definite \
  --errors-for-leak-kinds=definite \
  --log-file="$log" \
  octave-cli --norc --no-history --no-window-system --quiet \
  --eval "addpath('$test_dir'); run_e2e('$module_dir'$suite_args)"
suite_status=$?
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
# A report is ours when a frame lies in a module file or one of its sources
# (the modules and sources of build_scripts/modules.txt).
module_names=()
source_names=()
while read -r module _ sources; do
  module_names+=("$module")
  for source in $sources; do
    source_names+=("$(basename "$source" .cpp)")
  done
done < <(grep -v -e '^#' -e '^[[:space:]]*$' "$test_dir/../../build_scripts/modules.txt")
alternatives() { local IFS='|'; echo "$*"; }
ours="\\(in [^)]*/($(alternatives "${module_names[@]}"))\\.mex[a-z0-9]*\\)|\\(($(alternatives "${source_names[@]}"))\\.cpp:[0-9]+\\)|\\((host_arrays|double_matrix)\\.h:[0-9]+\\)"
findings=$(awk -v ours="$ours" '
  /^==[0-9]+== $/ {
    if (block ~ ours) { print block; count++ }
    block = ""; next
  }
  { block = block $0 "\n" }
  END {
    if (block ~ ours) { print block; count++ }
    exit count > 0
  }' "$log")
found=$?
total=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$log" | tail -1)

if [ $found -ne 0 ]; then
  echo "run_memcheck: memcheck reports through the modules:"
  echo "$findings"
  exit 1
fi
echo "run_memcheck: no memcheck reports through the modules" \
  "(${total:-0} reports elsewhere in Octave, not ours)"
if [ $suite_status -ne 0 ]; then
  echo "run_memcheck: the suites failed under valgrind (status $suite_status)"
  exit 1
fi
exit 0
