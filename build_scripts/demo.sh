#!/usr/bin/env bash
# The demo command: installs what is missing on a Debian machine, builds the
# Octave modules into build/demo/octave_modules, then runs demo/spike_bin_demo.m
# in octave-cli. It prints a summary and writes the PNG figures into
# build/demo/figures (or the folder given as the first argument).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
figure_dir=$(realpath -m "${1:-build/demo/figures}")
jobs=$(nproc 2>/dev/null || echo 2)
build_dir=build/demo

bash build_scripts/install_deps.sh

echo "=== Building the Octave modules in $build_dir"
# A plain configure builds the product: the modules of every host found.
cmake -S . -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j "$jobs"
module_dir=$root/$build_dir/octave_modules
modules=$(awk -v field=1 -f build_scripts/module_list.awk build_scripts/modules.txt)
for module in $modules; do
  if [ ! -f "$module_dir/$module.mex" ]; then
    echo "error: $module_dir/$module.mex was not built" >&2
    exit 1
  fi
done

echo "=== Running the demo"
# Paths reach Octave through the environment, so no quoting can break them.
export DEMO_MODULE_DIR=$module_dir DEMO_SOURCE_DIR=$root/demo \
  DEMO_FIGURE_DIR=$figure_dir
octave-cli --no-history --no-init-file --eval \
  "addpath(getenv('DEMO_MODULE_DIR')); addpath(getenv('DEMO_SOURCE_DIR')); spike_bin_demo(getenv('DEMO_FIGURE_DIR'));"
