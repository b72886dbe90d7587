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
#   debian13, debian-unstable
#                Debian 13 (trixie) and unstable (sid) in debootstrap chroots
#                under build/chroots/ (build_scripts/test_debian_chroot.sh):
#                the default workflow there, with that release's Octave,
#                compilers, Python and numpy. Their chroots are made (or
#                updated) in the background from the start, while the host
#                stages compile. A chroot stage whose mirror or packages
#                cannot be had is NOT RUN: said in the table and above the
#                closing line, and counted neither passed nor failed.
#                TEST_CHROOTS=0 leaves them out (said as NOT RUN too).
# Stages run two at a time (2 cores: one builds while the other
# waits on tests), the next one starting as soon as either ends; each one's
# output goes to build/logs/<stage>.log and is shown when it ends. A stage
# runs for STAGE_TIMEOUT seconds at most (default 3000). The last line
# counts the tests of all stages: "summary: <passed> passed, <failed>
# failed"; a stage that could not build or was stopped counts as one failed
# test.
#
# usage: build_scripts/test_all.sh [stage ...]   (default: every stage)
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
logs=build/logs
mkdir -p "$logs"
start_all=$(date +%s)
# The stages, written once: the workflow presets of CMakePresets.json (in
# its order; read without CMake, which may not be installed yet), then the
# chroot stages of suite_of, which holds their Debian suites.
declare -A suite_of=([debian13]=trixie [debian-unstable]=sid)
mapfile -t all_stages < <(awk '/"workflowPresets"/ { w = 1 }
  w && /^      "name":/ { gsub(/^[^:]*: *"|",?$/, ""); print }' CMakePresets.json)
mapfile -t -O "${#all_stages[@]}" all_stages < <(printf '%s\n' "${!suite_of[@]}" | sort)
stages=("$@")
if [ ${#stages[@]} -eq 0 ]; then stages=("${all_stages[@]}"); fi

# stage_packages <stage>: the Debian packages the stage needs beyond
# install_deps.sh's own: the default stage tests the Python package too (the
# native and sanitize presets leave the packages' tests out:
# SPIKE_BINS_TEST_PACKAGES in CMakePresets.json), the chroot and cross
# stages name theirs.
stage_packages() {
  if [ -n "${suite_of[$1]:-}" ]; then
    bash build_scripts/test_debian_chroot.sh --packages
    return
  fi
  case $1 in
    default) bash build_scripts/test_python.sh --packages ;;
    native | sanitize | fuzz) ;;
    *) bash build_scripts/test_platform.sh --packages "$1" ;;
  esac
}

# One apt run for the packages of the stages asked for.
stage_package_list=()
for stage in "${stages[@]}"; do
  if [[ " ${all_stages[*]} " != *" $stage "* ]]; then
    echo "test_all: no stage $stage (stages: ${all_stages[*]})" >&2
    exit 2
  fi
  read -r -a packages < <(stage_packages "$stage")
  stage_package_list+=("${packages[@]}")
done
bash build_scripts/install_deps.sh "${stage_package_list[@]}" || exit 1
echo "=== packages ready after $(($(date +%s) - start_all)) s"
# shellcheck source=stage_counts.sh
source build_scripts/stage_counts.sh

# The chroots are made now, in the background: debootstrap and apt wait on
# the network and the disk while the host stages compile. Each chroot stage
# later waits for its chroot (a lock in the script) and finds it ready.
for stage in "${stages[@]}"; do
  if [ -n "${suite_of[$stage]:-}" ] && [ "${TEST_CHROOTS:-1}" != 0 ]; then
    STAGE_NAME=$stage bash build_scripts/test_debian_chroot.sh \
      "${suite_of[$stage]}" --prepare >"$logs/$stage.prepare.log" 2>&1 &
  fi
done

# run_stage <stage>: the stage's workflow, its JUnit file removed first so
# that a stage that stops before its tests leaves none.
# Exit status 3: NOT RUN (a chroot stage whose release could not be had).
run_stage() {
  rm -f "build/$1/ctest-junit.xml"
  if [ -n "${suite_of[$1]:-}" ]; then
    if [ "${TEST_CHROOTS:-1}" = 0 ]; then
      echo "stage $1: NOT RUN (TEST_CHROOTS=0)"
      return 3
    fi
    STAGE_NAME=$1 within_limit bash build_scripts/test_debian_chroot.sh \
      "${suite_of[$1]}"
    return
  fi
  case $1 in
    windows-x64) within_limit bash build_scripts/test_platform.sh windows-x64 ;;
    *) within_limit cmake --workflow --preset "$1" ;;
  esac
}

# within_limit <command>...: runs the command (a whole stage) for at most
# STAGE_TIMEOUT seconds (default 3000: 8 times the longest stage, default's
# 361 s on the quiet machine), then stops it and everything it started; a
# stopped stage says so and counts as failed. Every CTest test has a limit
# of its own too (cmake/test_timeouts.cmake).
within_limit() {
  local limit=${STAGE_TIMEOUT:-3000} status
  timeout --kill-after=60 "$limit" "$@"
  status=$?
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "test_all: stage stopped after $limit s (STAGE_TIMEOUT)"
    return 1
  fi
  return "$status"
}

passed=0
failed=0
declare -A row_of=() pid_of=()
running=()
not_run=()

# launch <stage>: runs the stage in the background; its status file (exit
# status and seconds) is the subshell's last write.
launch() {
  rm -f "$logs/$1.status"
  (
    begin=$(date +%s)
    run_stage "$1" >"$logs/$1.log" 2>&1
    echo "$? $(($(date +%s) - begin))" >"$logs/$1.status"
  ) &
  pid_of[$1]=$!
  running+=("$1")
}

# report <stage>: shows the finished stage's log, adds up its counts.
report() {
  local stage=$1 status seconds p f reason result
  echo "=== stage $stage"
  cat "$logs/$stage.log"
  read -r status seconds <"$logs/$stage.status"
  reason=$(sed -n "s/^stage $stage: NOT RUN (\(.*\))$/\1/p" \
    "$logs/$stage.log" | tail -n 1)
  if [ "$status" -eq 3 ] && [ -n "$reason" ]; then
    not_run+=("$stage: $reason")
    result="NOT RUN ($reason)"
  else
    read -r p f < <(junit_counts "build/$stage/ctest-junit.xml")
    if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
    passed=$((passed + p))
    failed=$((failed + f))
    result="$(printf '%5d passed, %d failed' "$p" "$f")"
  fi
  row_of[$stage]=$(printf '%-16s %5d s  %s' "$stage" "$seconds" "$result")
}

# collect: waits until one or more running stages have finished (not for
# the chroots being made in the background) and reports them.
collect() {
  local stage still=() pids=() reported=0
  for stage in "${running[@]}"; do pids+=("${pid_of[$stage]}"); done
  while [ "$reported" -eq 0 ]; do
    wait -n "${pids[@]}" 2>/dev/null || true
    still=()
    for stage in "${running[@]}"; do
      if [ -f "$logs/$stage.status" ]; then
        wait "${pid_of[$stage]}" 2>/dev/null
        report "$stage"
        reported=1
      else
        still+=("$stage")
      fi
    done
    if [ "$reported" -eq 0 ]; then sleep 1; fi
  done
  running=("${still[@]}")
}

# Two stages at a time, the next one starting as soon as one ends.
for stage in "${stages[@]}"; do
  if [ ${#running[@]} -ge 2 ]; then collect; fi
  launch "$stage"
done
while [ ${#running[@]} -gt 0 ]; do collect; done
rows=()
for stage in "${stages[@]}"; do rows+=("${row_of[$stage]}"); done

echo "=== stages (two at a time; total $(($(date +%s) - start_all)) s)"
printf '%s\n' "${rows[@]}"
if [ ${#not_run[@]} -ne 0 ]; then
  echo "!!! NOT RUN: ${#not_run[@]} stage(s) did not run, their platform is untested:"
  printf '!!!   %s\n' "${not_run[@]}"
  echo "!!! The counts below leave them out."
elif [ "$failed" -eq 0 ]; then
  echo "All test stages passed."
fi
echo "summary: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
