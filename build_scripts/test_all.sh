#!/usr/bin/env bash
# The one test command: installs what is missing on a Debian machine, then
# runs every stage. A stage is a workflow preset of CMakePresets.json
# (configure, build and ctest into build/<stage>/); CTest runs the tests and
# writes their results to build/<stage>/ctest-junit.xml.
#   default      RelWithDebInfo with the system compiler: the kernels (both
#                copies), the stand-in host and gateways, the Octave modules
#                and their tests (memcheck included), the demo, install and
#                consumer, the Python package (label python) and the Octave
#                package (label package)
#   native       the same with -O3 -march=native added (bits must not change)
#   sanitize     clang with AddressSanitizer and UndefinedBehaviorSanitizer
#   aarch64      ARM Linux cross build, tests under qemu-aarch64
#   windows-x64  MinGW-w64 cross build, tests and .mexw64 modules under wine
#                (build_scripts/test_platform.sh starts its wine server)
#   i686         32-bit x86 cross build with SSE2 math, tests under qemu-i386
#   fuzz         every libFuzzer target for SPIKE_BINS_FUZZ_SECONDS (30 s)
# Stages run two at a time (2 cores: one builds while the other
# waits on tests); each one's output goes to build/logs/<stage>.log and is
# shown when it ends. The last line counts the tests of all stages:
# "summary: <passed> passed, <failed> failed"; a stage that could not build
# counts as one failed test.
#
# usage: build_scripts/test_all.sh [stage ...]   (default: every stage)
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
logs=build/logs
mkdir -p "$logs"
start_all=$(date +%s)
all_stages=(default native sanitize aarch64 windows-x64 i686 fuzz)
stages=("$@")
if [ ${#stages[@]} -eq 0 ]; then stages=("${all_stages[@]}"); fi

# One apt run for every stage's packages.
# shellcheck disable=SC2046
bash build_scripts/install_deps.sh $(bash build_scripts/test_platform.sh \
  --packages aarch64 windows-x64 i686) \
  $(bash build_scripts/test_python.sh --packages) || exit 1
echo "=== packages ready after $(($(date +%s) - start_all)) s"

# run_stage <stage>: the stage's workflow, its JUnit file removed first so
# that a stage that stops before its tests leaves none.
run_stage() {
  rm -f "build/$1/ctest-junit.xml"
  case $1 in
    windows-x64) bash build_scripts/test_platform.sh windows-x64 ;;
    *) cmake --workflow --preset "$1" ;;
  esac
}

# junit_count <file> <attribute>: a count of the file's <testsuite> element.
junit_count() {
  sed -n "s/^[[:space:]]*$2=\"\([0-9]*\)\".*/\1/p" "$1" | head -n 1
}

passed=0
failed=0
rows=()
pending=()

launch() {
  (
    begin=$(date +%s)
    run_stage "$1" >"$logs/$1.log" 2>&1
    echo "$? $(($(date +%s) - begin))" >"$logs/$1.status"
  ) &
  pending+=("$1")
}

# collect: waits for the launched stages, shows their logs, adds up counts.
collect() {
  wait
  local stage status seconds junit tests bad p f
  for stage in "${pending[@]}"; do
    echo "=== stage $stage"
    cat "$logs/$stage.log"
    read -r status seconds <"$logs/$stage.status"
    junit=build/$stage/ctest-junit.xml
    if [ -f "$junit" ]; then
      tests=$(junit_count "$junit" tests)
      bad=$(($(junit_count "$junit" failures) + 0))
      p=$((tests - bad - $(junit_count "$junit" skipped) - \
        $(junit_count "$junit" disabled)))
      f=$bad
      if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
    else
      p=0 f=1
    fi
    passed=$((passed + p))
    failed=$((failed + f))
    rows+=("$(printf '%-12s %5d s  %5d passed, %d failed' "$stage" "$seconds" \
      "$p" "$f")")
  done
  pending=()
}

for stage in "${stages[@]}"; do
  launch "$stage"
  if [ ${#pending[@]} -eq 2 ]; then collect; fi
done
collect

echo "=== stages (two at a time; total $(($(date +%s) - start_all)) s)"
printf '%s\n' "${rows[@]}"
if [ "$failed" -eq 0 ]; then
  echo "All test stages passed."
fi
echo "summary: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
