#!/usr/bin/env bash
# The one test command: installs what is missing on a Debian machine, then
# builds and runs the whole suite in each configuration the project supports.
# Each stage is one line below; the preset stages are presets of
# CMakePresets.json (build folder build/<preset>):
#   default       RelWithDebInfo with the system compiler (kernels, stand-in
#                 host, Octave modules and end-to-end tests, install and
#                 consumer, the Octave refusals under valgrind)
#   baseline-cpu  default's host-free tests on a CPU without AVX2 (qemu)
#   native        the same with -O3 -march=native added (bits must not change)
#   sanitize      clang with AddressSanitizer and UndefinedBehaviorSanitizer
#   aarch64       ARM Linux cross build, tests under qemu-aarch64
#   windows-x64   MinGW-w64 cross build, tests and .mexw64 modules under wine
#   i686          32-bit x86 cross build with SSE2 math, tests under qemu-i386
#   octave-package  the Octave package: pkg install, pkg load, pkg test, bits
#                 against the CMake-built modules
#   python        the Python package spike_bins: pip install into a venv,
#                 pytest (bits against the Octave modules included)
#   fuzz          every libFuzzer target for a bounded time (FUZZ_SECONDS,
#                 30 s each by default, two at a time); any finding fails
#   debian13, debian-unstable
#                 Debian 13 (trixie) and unstable (sid) in chroots under
#                 build/chroots/ (build_scripts/test_debian_chroot.sh): the
#                 default preset's ctest, the python and the octave-package
#                 stages there. Their chroots are made (or updated) in the
#                 background from the start, while the stages above compile.
#                 A chroot stage whose mirror or packages cannot be had is
#                 NOT RUN: said in the table and next to the closing line,
#                 without failing the command.
# Stages after default run two at a time (2 cores: one builds while the
# other waits on tests); each stage's output goes to build/logs/<stage>.log
# and is shown when the stage ends, with its time. The last line counts the
# tests of all stages: "summary: <passed> passed, <failed> failed".
# TEST_CHROOTS=0 leaves the two chroot stages out (said as NOT RUN).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
jobs=2
logs=build/logs
mkdir -p "$logs"
start_all=$(date +%s)

# One apt run for every stage's packages (each stage's own call then finds
# them installed).
# shellcheck disable=SC2046
bash build_scripts/install_deps.sh $(bash build_scripts/test_platform.sh \
  --packages aarch64 windows-x64 i686 baseline-cpu) \
  $(bash build_scripts/test_python.sh --packages) \
  $(bash build_scripts/test_debian_chroot.sh --packages) || exit 1
echo "=== packages ready after $(($(date +%s) - start_all)) s"
# shellcheck source=stage_counts.sh
source build_scripts/stage_counts.sh

# The chroot stages: <stage name> <Debian suite>.
chroot_stages=(debian13:trixie debian-unstable:sid)
if [ "${TEST_CHROOTS:-1}" != 0 ]; then
  # Made now, in the background: debootstrap and apt wait on the network and
  # the disk while the host stages compile. Each stage later waits for its
  # chroot (a lock in the script) and finds it ready.
  for stage in "${chroot_stages[@]}"; do
    STAGE_NAME=${stage%%:*} bash build_scripts/test_debian_chroot.sh \
      "${stage#*:}" --prepare >"$logs/${stage%%:*}.prepare.log" 2>&1 &
  done
fi

# preset_stage <preset>: configure, build and test one preset.
preset_stage() {
  local name=$1
  cmake --preset "$name" >/dev/null &&
    cmake --build --preset "$name" -j "$jobs" || return 1
  ctest --preset "$name" -j "$jobs" 2>&1 | tee "build/$name/ctest.log"
  local passed failed
  read -r passed failed < <(ctest_counts "build/$name/ctest.log")
  echo "stage $name: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# script_stage <name> <command>...: a stage that is one check, counted as one
# test.
script_stage() {
  local name=$1
  shift
  if "$@"; then
    echo "stage $name: 1 passed, 0 failed"
  else
    echo "stage $name: 0 passed, 1 failed"
    return 1
  fi
}

# python_stage: the Python package's pytest run, its tests counted.
python_stage() {
  local out=build/logs/python.pytest
  bash build_scripts/test_python.sh 2>&1 | tee "$out"
  local status=${PIPESTATUS[0]}
  local p f
  read -r p f < <(pytest_counts "$out")
  echo "stage python: $p passed, $f failed"
  return "$status"
}

# fuzz_stage: the libFuzzer targets, one kernel and one gateway target per
# module, each counted as one test.
fuzz_stage() {
  local modules
  modules=$(grep -c -v -e '^#' -e '^[[:space:]]*$' build_scripts/modules.txt)
  if FUZZ_JOBS=${FUZZ_JOBS:-2} bash fuzz/run_fuzzers.sh build/fuzz \
    "${FUZZ_SECONDS:-30}"; then
    echo "stage fuzz: $((2 * modules)) passed, 0 failed"
  else
    echo "stage fuzz: 0 passed, $((2 * modules)) failed"
    return 1
  fi
}

passed=0
failed=0
timings=()
pending=()
pids=()
not_run=()

# launch <name> <command>...: runs a stage in the background, logged.
launch() {
  local name=$1
  shift
  (
    begin=$(date +%s)
    "$@" >"$logs/$name.log" 2>&1
    status=$?
    echo "$status $(($(date +%s) - begin))" >"$logs/$name.status"
  ) &
  pending+=("$name")
  pids+=("$!")
}

# collect: waits for the launched stages, shows their logs, adds up counts.
collect() {
  wait "${pids[@]}"
  local name status seconds line
  for name in "${pending[@]}"; do
    echo "=== stage $name"
    cat "$logs/$name.log"
    read -r status seconds <"$logs/$name.status"
    line=$(grep -E "^stage $name: [0-9]+ passed, [0-9]+ failed$" \
      "$logs/$name.log" | tail -n 1)
    local reason
    reason=$(sed -n "s/^stage $name: NOT RUN (\(.*\))$/\1/p" "$logs/$name.log" |
      tail -n 1)
    if [ "$status" -eq 3 ] && [ -n "$reason" ]; then
      line="stage $name: NOT RUN ($reason)"
      not_run+=("$name: $reason")
    elif [ -n "$line" ]; then
      local p f
      p=$(sed 's/.*: \([0-9]*\) passed.*/\1/' <<<"$line")
      f=$(sed 's/.*, \([0-9]*\) failed/\1/' <<<"$line")
      passed=$((passed + p))
      failed=$((failed + f))
      if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then failed=$((failed + 1)); fi
    elif [ "$status" -ne 0 ]; then
      line="stage $name: did not finish (status $status)"
      failed=$((failed + 1))
    fi
    timings+=("$(printf '%-15s %4d s  %s' "$name" "$seconds" "${line#stage $name: }")")
  done
  pending=()
  pids=()
}

launch default preset_stage default
collect
launch octave-package script_stage octave-package \
  bash build_scripts/test_octave_package.sh build/default/octave_modules
launch python python_stage
launch baseline-cpu bash build_scripts/test_platform.sh baseline-cpu
launch native preset_stage native
collect
launch sanitize preset_stage sanitize
launch aarch64 bash build_scripts/test_platform.sh aarch64
collect
launch windows-x64 bash build_scripts/test_platform.sh windows-x64
launch i686 bash build_scripts/test_platform.sh i686
collect
launch fuzz fuzz_stage
collect
for stage in "${chroot_stages[@]}"; do
  if [ "${TEST_CHROOTS:-1}" != 0 ]; then
    launch "${stage%%:*}" env STAGE_NAME="${stage%%:*}" \
      bash build_scripts/test_debian_chroot.sh "${stage#*:}"
  else
    launch "${stage%%:*}" bash -c \
      "echo 'stage ${stage%%:*}: NOT RUN (TEST_CHROOTS=0)'; exit 3"
  fi
done
collect

echo "=== stage times (two at a time after default; total $(($(date +%s) - start_all)) s)"
printf '%s\n' "${timings[@]}"
if [ ${#not_run[@]} -ne 0 ]; then
  echo "!!! NOT RUN: ${#not_run[@]} stage(s) did not run, their platform is untested:"
  printf '!!!   %s\n' "${not_run[@]}"
  echo "!!! The counts below leave them out."
elif [ "$failed" -eq 0 ]; then
  echo "All test stages passed."
fi
echo "summary: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
