#!/usr/bin/env bash
# One platform as a stage of the test command: installs the platform's Debian
# packages, builds with its CMake preset and runs the host-free suite there.
#   aarch64       cross build (g++-aarch64-linux-gnu), tests under qemu-aarch64
#                 in user mode, the stand-in host and modules included
#   windows-x64   MinGW-w64 cross build, statically linked tests under wine64;
#                 the .mexw64 modules against a stub host DLL: export and
#                 import tables, one call each on the worked examples
#   i686          32-bit x86 (g++-i686-linux-gnu, SSE2 math), host-free suite
#                 under qemu-i386
#   baseline-cpu  the default preset's host-free test programs once more under
#                 qemu-x86_64 -cpu Nehalem, a CPU without AVX2, so that the
#                 kernels' SSE2 copy runs (the default stage runs the AVX2 copy
#                 on AVX2 machines); needs build/default built
# Ends with "stage <name>: <passed> passed, <failed> failed".
#
# usage: build_scripts/test_platform.sh <platform>
#        build_scripts/test_platform.sh --packages <platform>...
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

packages_of() {
  case $1 in
    aarch64) echo g++-aarch64-linux-gnu qemu-user googletest ;;
    windows-x64) echo g++-mingw-w64-x86-64-posix wine64 googletest ;;
    i686) echo g++-i686-linux-gnu qemu-user googletest ;;
    baseline-cpu) echo qemu-user ;;
    *)
      echo "unknown platform: $1" >&2
      exit 2
      ;;
  esac
}

if [ "${1:-}" = --packages ]; then
  shift
  for platform in "$@"; do packages_of "$platform"; done | tr ' ' '\n' |
    sort -u | tr '\n' ' '
  echo
  exit 0
fi
if [ $# -ne 1 ]; then
  echo "usage: $0 <aarch64|windows-x64|i686|baseline-cpu>" >&2
  exit 2
fi
platform=$1
# shellcheck disable=SC2046
bash build_scripts/install_deps.sh $(packages_of "$platform")
jobs=2
# shellcheck source=stage_counts.sh
source build_scripts/stage_counts.sh

# A preset's ctest run, its counts turned into the stage's result line.
run_preset() {
  local preset=$1
  local log=build/$preset/ctest.log
  ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log" || true
  local passed failed
  read -r passed failed < <(ctest_counts "$log")
  echo "stage $preset: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

case $platform in
  aarch64 | i686)
    cmake --preset "$platform" >/dev/null
    cmake --build --preset "$platform" -j "$jobs"
    run_preset "$platform"
    ;;
  windows-x64)
    cmake --preset "$platform" >/dev/null
    # The first wine start creates the prefix (the toolchain's emulator puts
    # it in the build folder); doing it here keeps it out of the test
    # discovery's time limit.
    dir=build/$platform
    # One wine server for the whole stage, started before any wine program:
    # left to itself it exits shortly after its last client, and a test
    # starting just then fails with "wine client error: recvmsg: Connection
    # reset by peer" (seen with ctest -j 2).
    mkdir -p "$dir/wineprefix"
    env WINEPREFIX="$root/$dir/wineprefix" /usr/lib/wine/wineserver -k \
      2>/dev/null || true
    env WINEPREFIX="$root/$dir/wineprefix" /usr/lib/wine/wineserver -p \
      </dev/null >/dev/null 2>&1
    trap 'env WINEPREFIX="$root/$dir/wineprefix" /usr/lib/wine/wineserver -k \
      2>/dev/null || true' EXIT
    env WINEPREFIX="$root/$dir/wineprefix" WINEDEBUG=-all \
      /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    status=0
    cmake --build --preset "$platform" -j "$jobs" &&
      run_preset "$platform" || status=$?
    exit $status
    ;;
  baseline-cpu)
    build=build/default
    passed=0 failed=0
    # The host-free GoogleTest program (golden bits included): its own
    # count of tests.
    for program in "$build"/tests/kernels/kernel_tests; do
      echo "=== $program under qemu-x86_64 -cpu Nehalem"
      log=$(mktemp)
      qemu-x86_64 -cpu Nehalem "$program" 2>&1 | tee "$log" || true
      ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log")
      bad=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:/\1/p' "$log")
      if [ -z "$ok$bad" ]; then bad=1; fi
      passed=$((passed + ${ok:-0}))
      failed=$((failed + ${bad:-0}))
      rm -f "$log"
    done
    # The kernel fuzz targets' replays of the seed corpus and past findings.
    while read -r _module kernel _rest; do
      replay=$build/fuzz/${kernel}_replay
      echo "=== $replay under qemu-x86_64 -cpu Nehalem"
      if qemu-x86_64 -cpu Nehalem "$replay" "fuzz/corpus/$kernel" \
        "fuzz/regressions/$kernel"; then
        passed=$((passed + 1))
      else
        failed=$((failed + 1))
      fi
    done < <(grep -v -e '^#' -e '^[[:space:]]*$' build_scripts/modules.txt)
    echo "stage $platform: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    ;;
  *) packages_of "$platform" ;;
esac
