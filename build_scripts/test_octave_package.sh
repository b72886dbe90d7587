#!/usr/bin/env bash
# The Octave package stage of the test command:
#   bash build_scripts/test_octave_package.sh <CMake-built Octave module dir>
# 1. builds the package tarball (make_octave_package.sh);
# 2. in a fresh octave-cli with an empty environment (a temporary HOME, no
#    CXXFLAGS or other build variables of the caller), pkg install -local into
#    a temporary prefix and package list; then in a second octave-cli pkg
#    load, a tiny spike_glm_fit, pkg test: every file of tests must run and
#    none may fail;
# 3. compares the package's modules with the CMake-built ones in <module dir>
#    bit for bit over a set of inputs (tests/octave/module_results.m);
# 4. installs the package again with hostile CXXFLAGS (-O3 -march=native
#    -ffast-math -ffp-contract=fast) and compares its modules the same way:
#    the exact-math flags of the package's Makefile must win.
# Exit status 0 only when all of this passed.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1/tentfill2.mex" ]; then
  echo "usage: $0 <CMake-built Octave module dir (with tentfill2.mex)>" >&2
  exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cmake_modules=$(cd "$1" && pwd)
start=$(date +%s)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tarball=$(bash "$root/build_scripts/make_octave_package.sh" "$work/dist")
tests_dir=$root/tests/octave

# octave-cli in an empty environment: only PATH, a fresh HOME and the paths
# this script hands over; extra variables (CXXFLAGS) come as arguments.
run_octave() {
  local home=$1
  shift
  mkdir -p "$home"
  env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$home" LANG=C.UTF-8 \
    PKG_TARBALL="$tarball" TESTS_DIR="$tests_dir" \
    CMAKE_MODULES="$cmake_modules" "$@"
}
octave=(octave-cli --norc --no-history --no-window-system --quiet)

# Installs the tarball into <dir>/prefix; then, in a second octave-cli, loads
# it, checks that the modules come from there and saves their results over
# the set of inputs to <dir>/results.mat; with "test", also runs pkg test.
# The output of both goes to <dir>/octave.log. Two processes, as a user who
# installs and later starts Octave would: Octave 11 runs a MEX file that is
# newer than the session's start about 50 times slower per call, which would
# make pkg test right after pkg install take minutes.
install_and_probe() {
  local dir=$1 mode=$2
  shift 2
  local test_cmd=""
  if [ "$mode" = test ]; then
    test_cmd="pkg test spike_bins;"
  fi
  local lists="pkg prefix '$dir/prefix' '$dir/prefix';
    pkg local_list '$dir/octave_packages';"
  (cd "$dir" && run_octave "$dir/home" "$@" "${octave[@]}" --eval "
    $lists
    pkg install -local '$tarball';" &&
    run_octave "$dir/home" "$@" "${octave[@]}" --eval "
    $lists
    pkg load spike_bins;
    where = which('tentfill2');
    if ~strncmp(where, '$dir/prefix/', numel('$dir/prefix/'))
      error('tentfill2 comes from %s, not from the package', where);
    end
    if isempty(strfind(help('spike_bins'), 'Upsampling'))
      error('help spike_bins does not print the package overview');
    end
    fit = spike_glm_fit({[0.0105; 0.3; 0.31; 0.7], [0.2; 0.5]}, 1, ...
        struct('history_taps', 10, 'n_basis', 2, 'penalty', 'ridge', 'alpha', 1e-3));
    if ~all(fit.converged) || ~isequal(size(fit.filters), [10 2 2])
      error('spike_glm_fit after pkg load: no converged 2-neuron fit');
    end
    printf('spike_glm_fit after pkg load: %d and %d iterations\n', fit.iterations);
    $test_cmd
    addpath(getenv('TESTS_DIR'));
    results = module_results();
    save('-binary', '$dir/results.mat', 'results');") >"$dir/octave.log" 2>&1 || {
    cat "$dir/octave.log"
    echo "test_octave_package: install, load or probe failed ($dir)" >&2
    return 1
  }
}

# Compares <dir>/results.mat with the CMake-built modules' results.
compare_with_cmake() {
  local dir=$1
  run_octave "$work/home_cmake" "${octave[@]}" --eval "
    addpath(getenv('CMAKE_MODULES'), getenv('TESTS_DIR'));
    expected = module_results();
    load('$dir/results.mat');
    differ = 0;
    for i = 1:numel(expected)
      [ok, why] = same_bits(results{i}, expected{i});
      if ~ok
        differ = differ + 1;
        if differ <= 5
          printf('  call %d: %s\n', i, why);
        end
      end
    end
    printf('%d of %d calls differ from the CMake-built modules\n', differ, ...
           numel(expected));
    exit(differ > 0);"
}

echo "=== Octave package: $(basename "$tarball")"
mkdir -p "$work/plain"
install_and_probe "$work/plain" test
sed -n '/^spike_glm_fit after/p;/^Integrated test scripts/,/^Summary/p;/^  PASS/p;/^  FAIL/p' \
  "$work/plain/octave.log"
# Every file of tests ran (each module's help file and tests/octave/*_test.m),
# and nothing failed.
files_with_tests=()
modules=$(awk -v field=1 -f "$root/build_scripts/module_list.awk" \
  "$root/build_scripts/modules.txt")
for module in $modules; do
  files_with_tests+=("$module.m")
done
for file in "$tests_dir"/*_test.m "$root"/toolbox/spike_glm_*.m; do
  files_with_tests+=("$(basename "$file")")
done
for file in "${files_with_tests[@]}"; do
  if ! grep -Eiq "$file \.* *pass +([0-9]+)/\1 " "$work/plain/octave.log"; then
    echo "test_octave_package: pkg test did not run $file" >&2
    exit 1
  fi
done
if ! grep -Eq '^  FAIL +0$' "$work/plain/octave.log"; then
  echo "test_octave_package: pkg test reports failures:" >&2
  cat "$work/plain/octave.log" >&2
  exit 1
fi
echo "--- package modules (no compiler flags of the user) against CMake's"
compare_with_cmake "$work/plain"

echo "--- package installed with CXXFLAGS='-O3 -march=native -ffast-math -ffp-contract=fast'"
mkdir -p "$work/hostile"
install_and_probe "$work/hostile" probe \
  CXXFLAGS="-O3 -march=native -ffast-math -ffp-contract=fast"
compare_with_cmake "$work/hostile"

echo "Octave package stage passed in $(($(date +%s) - start)) s"
