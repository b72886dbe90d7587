#!/usr/bin/env bash
# The one test command: installs what is missing on a Debian machine, then
# builds and runs the whole suite in each configuration the project supports:
#   default    RelWithDebInfo with the system compiler (kernels, stand-in host,
#              Octave modules and end-to-end tests)
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

run_stage() {
  local name=$1
  shift
  local dir=build/ci-$name
  echo "=== $name: configure, build, test"
  cmake -S . -B "$dir" -DBUILD_TESTING=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs") | tee "$dir/ctest.log"
  local count
  count=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' \
    "$dir/ctest.log")
  passed=$((passed + ${count:-0}))
}

passed=0

run_stage default -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_stage native -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="-O3 -march=native"
run_stage sanitize -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-O1 -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DBUILD_OCTAVE_MODULES=OFF -DBUILD_BENCHMARKS=OFF

echo "=== fuzz"
bash fuzz/run_fuzzers.sh build/ci-fuzz "${FUZZ_SECONDS:-60}"

passed=$((passed + 4))  # the fuzz targets
bash build_scripts/test_python.sh
echo "All test stages passed."
echo "summary: $passed passed, 0 failed"
