#!/usr/bin/env bash
# Builds the Octave package tarball from the repository:
#   bash build_scripts/make_octave_package.sh [out dir]
# writes <out dir>/spike_bins-<version>.tar.gz (default out dir
# build/octave_package) and prints its path. Octave users install it with
#   pkg install spike_bins-<version>.tar.gz
#   pkg load spike_bins
# which compiles the modules of the module list with mkoctfile --mex (no CMake needed) and the
# exact-math flags of build_scripts/exact_math_flags.txt placed last.
#
# Layout of the package:
#   DESCRIPTION, INDEX, COPYING (the repository's LICENSE)
#   inst/        the help files (toolbox/*.m), with their %! tests, and the
#                population GLM (spike_glm_*.m, helpers in inst/private/)
#   inst/test/   the Octave tests of tests/octave (*_test.m), with the
#                references, same_bits, stand_in_toc and the module list (module_table.m,
#                read_module_list.m, modules.txt) they call ("pkg test" runs them
#                from that folder; it is not on the path after pkg load)
#   src/         Makefile, exact_math_flags.txt, modules.txt (the module
#                list the Makefile builds from) and module_list.awk (its
#                reader), the gateway and kernel
#                sources and the headers they include, in the repository's
#                folders
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out_dir=$(realpath -m "${1:-$root/build/octave_package}")
name=spike_bins

# The version is the project's (the VERSION of project() in CMakeLists.txt);
# the date that of the last commit, so the same commit gives the same files.
version=$(sed -n 's/^project([A-Za-z_0-9]* *VERSION \([0-9][0-9.]*\).*/\1/p' \
  "$root/CMakeLists.txt" | head -1)
if [ -z "$version" ]; then
  echo "make_octave_package: no VERSION in project() of CMakeLists.txt" >&2
  exit 1
fi
date=$(git -C "$root" log -1 --format=%cs 2>/dev/null || date -u +%F)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
pkg_dir=$stage/$name
mkdir -p "$pkg_dir/inst/test" "$pkg_dir/src"

# The module list's rows, read once by its awk reader (which stops on a
# faulty row, naming its line): one row a line, fields joined by one blank.
rows=$(awk -f "$root/build_scripts/module_list.awk" "$root/build_scripts/modules.txt")

# The description names every module of the module list with its arguments.
calls=$(awk '{ gsub(",", ", ", $4); printf "%s%s(%s)", sep, $1, $4; sep = ", " }' <<<"$rows")
count=$(wc -l <<<"$rows")
description=$(fold -s -w 72 <<<"Description: $count compiled functions (MEX files) for work on signals binned in time, such as fitting models of spike trains: $calls. Each function's help text states its contract. Results are bit-exact: every operation is one IEEE double operation in a fixed order, with no fused multiply-add. spike_glm_fit, spike_glm_rate, spike_glm_score and spike_glm_simulate fit, evaluate and run Poisson GLMs of spike-train populations with these functions; spike_glm_inference, spike_glm_ks and spike_glm_plot give their standard errors and tests, the time-rescaling goodness-of-fit test and plots." |
  sed -e 's/ *$//' -e '2,$s/^/ /')
cat >"$pkg_dir/DESCRIPTION" <<DESCRIPTION
Name: $name
Version: $version
Date: $date
Author: the spike_bins developers
Maintainer: the spike_bins developers
Title: spike_bins: spike-train kernels and population GLMs
$description
License: BSD-3-Clause
Depends: octave (>= 7.1.0)
DESCRIPTION

# The index lists every module of the module list and the GLM functions.
{
  echo "$name >> Binned signals and spike trains"
  echo "Functions"
  awk '{ print " " $1 }' <<<"$rows"
  echo "Population GLM"
  for file in "$root"/toolbox/spike_glm_*.m; do
    echo " $(basename "$file" .m)"
  done
} >"$pkg_dir/INDEX"

cp "$root/LICENSE" "$pkg_dir/COPYING"
cp "$root"/toolbox/*.m "$pkg_dir/inst/"
# The population GLM's helpers stay private to the spike_glm_* functions of
# inst/ (the Makefile moves only the modules' help files).
mkdir -p "$pkg_dir/inst/private"
cp "$root"/toolbox/private/*.m "$pkg_dir/inst/private/"
# "help spike_bins" prints the overview: pkg installs into a folder named
# after the version, which "help" does not take for the package's name.
cp "$root/toolbox/Contents.m" "$pkg_dir/inst/$name.m"
cp "$root"/tests/octave/*_test.m "$root"/tests/octave/ref_*.m \
  "$root/tests/octave/same_bits.m" "$root/tests/octave/stand_in_toc.m" \
  "$root/tests/octave/module_table.m" \
  "$root/tests/octave/uncovered_modules.m" "$root/build_scripts/modules.txt" \
  "$root/build_scripts/read_module_list.m" "$pkg_dir/inst/test/"

cp "$root/build_scripts/octave_package/Makefile" \
  "$root/build_scripts/exact_math_flags.txt" \
  "$root/build_scripts/modules.txt" "$root/build_scripts/module_list.awk" \
  "$pkg_dir/src/"
# The sources and headers of the kernels and gateways, in their folders:
# common/, mex/ and the folders of the module list's sources.
source_dirs=$(awk '{ for (i = 7; i <= NF; i++) { sub("/[^/]*$", "", $i); print $i } }' \
  <<<"$rows" | sort -u)
for dir in common mex $source_dirs; do
  if [ -d "$root/$dir" ]; then
    mkdir -p "$pkg_dir/src/$dir"
    find "$root/$dir" -maxdepth 1 -type f \( -name '*.h' -o -name '*.cpp' \) \
      -exec cp {} "$pkg_dir/src/$dir/" \;
  fi
done

mkdir -p "$out_dir"
tarball=$out_dir/$name-$version.tar.gz
# Fixed owner, order and times: the same sources give the same tarball.
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner \
  --mtime="$date 00:00Z" -cf - "$name" | gzip -n >"$tarball"
echo "$tarball"
