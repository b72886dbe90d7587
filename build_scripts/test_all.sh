#!/usr/bin/env bash
# The one test command: installs what is missing on a Debian machine, then
# builds and runs the whole suite in each configuration the project supports,
# each a preset of CMakePresets.json (build folder build/<preset>):
#   default    RelWithDebInfo with the system compiler (kernels, stand-in host,
#              Octave modules and end-to-end tests, install and consumer)
#   native     the same with -O3 -march=native added (bits must not change)
#   sanitize   clang with AddressSanitizer and UndefinedBehaviorSanitizer
#   fuzz       every libFuzzer target for a bounded time (FUZZ_SECONDS, 60 s
#              each by default); any finding fails the run
# The default stage also runs the Octave end-to-end refusals under valgrind.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)

bash build_scripts/install_deps.sh

# run_stage <preset>: configure, build and test one preset.
run_stage() {
  local name=$1
  local dir=build/$name
  echo "=== $name: configure, build, test"
  cmake --preset "$name" >/dev/null
  cmake --build --preset "$name" -j "$jobs"
  ctest --preset "$name" -j "$jobs" | tee "$dir/ctest.log"
  local count
  count=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' \
    "$dir/ctest.log")
  passed=$((passed + ${count:-0}))
}

passed=0

run_stage default
run_stage native
run_stage sanitize

echo "=== fuzz"
bash fuzz/run_fuzzers.sh build/fuzz "${FUZZ_SECONDS:-60}"

# One kernel and one gateway fuzz target per module.
modules=$(grep -c -v -e '^#' -e '^[[:space:]]*$' build_scripts/modules.txt)
passed=$((passed + 2 * modules))
echo "All test stages passed."
echo "summary: $passed passed, 0 failed"
