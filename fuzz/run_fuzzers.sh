#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer, coverage in the kernels, the stand-in host and the modules too)
# and runs each for a bounded time, starting from the committed seed corpus
# and the inputs of past findings. Fails when any target finds a crash, a
# wrong result, a leak, a timeout or an out-of-memory.
#
# usage: fuzz/run_fuzzers.sh <build dir> <seconds per target> [target ...]
#   targets: the kernels and the modules (upsample_bins tentfill2 ...);
#   default every fuzzer the build has.
#   FUZZ_JOBS=2 runs two targets at a time (default 1).
#   FUZZ_NO_BUILD=1 runs what <build dir> holds, without configuring or
#   building it (the fuzz preset's CTest tests, one target each).
# The build is the "fuzz" preset of CMakePresets.json, in <build dir>.
# The seeds are copied to a scratch folder, so the committed corpus is not
# changed; findings (input and log) are copied to <build dir>/fuzz-findings/.
set -euo pipefail

if [ $# -lt 2 ] || ! [[ $2 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 <build dir> <seconds per target> [target ...]" >&2
  exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mkdir -p "$1"
build=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=("$@")
jobs=${FUZZ_JOBS:-1}

if [ -z "${FUZZ_NO_BUILD:-}" ]; then
  echo "=== fuzz: configure and build in $build"
  (cd "$root" && cmake --preset fuzz -B "$build" >/dev/null)
  fuzzers=()
  for target in "${targets[@]}"; do
    fuzzers+=("${target}_fuzzer")
  done
  cmake --build "$build" -j 2 ${fuzzers[@]:+--target "${fuzzers[@]}"}
fi
# No target named: every fuzzer the build made (one per kernel and module of
# the module list, which CMake reads).
if [ ${#targets[@]} -eq 0 ]; then
  for fuzzer in "$build"/fuzz/*_fuzzer; do
    name=$(basename "$fuzzer")
    targets+=("${name%_fuzzer}")
  done
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings_dir=$build/fuzz-findings
for target in "${targets[@]}"; do
  rm -rf "${findings_dir:?}/$target"
done
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# run_target <target>: one bounded run; its status goes to $work/<t>/status.
run_target() {
  local target=$1
  local dir=$work/$target
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp "$root/fuzz/corpus/$target/"* "$dir/corpus/"
  if [ -d "$root/fuzz/regressions/$target" ]; then
    cp "$root/fuzz/regressions/$target/"* "$dir/corpus/"
  fi
  local status=0
  "$build/fuzz/${target}_fuzzer" \
    -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -print_final_stats=1 -dict="$root/fuzz/fuzz.dict" \
    -artifact_prefix="$dir/artifacts/" \
    "$dir/corpus" >"$dir/log" 2>&1 || status=$?
  echo "$status" >"$dir/status"
}

echo "=== fuzz: ${#targets[@]} targets, $seconds s each, $jobs at a time"
pending=("${targets[@]}")
while [ ${#pending[@]} -gt 0 ]; do
  batch=("${pending[@]:0:$jobs}")
  pending=("${pending[@]:$jobs}")
  for target in "${batch[@]}"; do
    run_target "$target" &
  done
  wait
done

failed=0
printf '%-18s %12s %8s %8s %8s %8s  %s\n' target executions exec/s cov ft \
  seconds result
for target in "${targets[@]}"; do
  dir=$work/$target
  status=$(cat "$dir/status")
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log")
  last=$(grep -E '^#[0-9]+.*cov: ' "$dir/log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\) .*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\) .*/\1/p' <<<"$last")
  took=$(sed -n 's/.*Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$dir/log")
  artifacts=$(find "$dir/artifacts" -type f ! -name 'slow-unit-*' | wc -l)
  result=ok
  if [ "$status" -ne 0 ] || [ "$artifacts" -ne 0 ]; then
    result="FINDING (exit $status)"
    failed=1
    mkdir -p "$findings_dir/$target"
    cp "$dir/log" "$dir/artifacts/"* "$findings_dir/$target/" 2>/dev/null || true
  fi
  printf '%-18s %12s %8s %8s %8s %8s  %s\n' "$target" "${executions:-?}" \
    "${rate:-?}" "${cov:-?}" "${ft:-?}" "${took:-?}" "$result"
done

if [ $failed -ne 0 ]; then
  for target in "${targets[@]}"; do
    if [ -d "$findings_dir/$target" ]; then
      echo "=== fuzz: $target, end of its log"
      grep -v -E '^#[0-9]+' "$findings_dir/$target/log" | tail -40
    fi
  done
  echo "fuzz: findings saved in $findings_dir"
  exit 1
fi
echo "fuzz: no findings"
