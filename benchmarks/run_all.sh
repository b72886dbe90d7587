#!/usr/bin/env bash
# Runs every benchmark and prints the Markdown tables of docs/benchmarks.md:
#
#   bash benchmarks/run_all.sh <build-dir> [repetitions]
#
# <build-dir> is a configured and built tree (SPIKE_BINS_BUILD_BENCHMARKS=ON, the Octave
# modules on). Steps:
#   0. installs the optional comparisons when missing (octave-signal,
#      python3-numpy, python3-scipy) through build_scripts/install_deps.sh,
#      which also checks the build's own packages; if that fails (no root, no
#      registry) the rows that need them are skipped;
#   1. kernel_benchmarks, median of the repetitions (default 7), ratio and
#      scaling tables;
#   2. the in-host Octave benchmark with its numpy/scipy companion, as is
#      (4 KiB pages) and again with glibc's huge pages for malloc
#      (GLIBC_TUNABLES=glibc.malloc.hugetlb=1).
# The raw JSON and text go to <build-dir>/benchmark_results/. Not part of the
# test command: the figures depend on the machine and take minutes.
set -euo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 <build-dir> [repetitions]" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "$1" && pwd)
repetitions=${2:-7}
out=$build/benchmark_results
mkdir -p "$out"

if ! bash "$here/../build_scripts/install_deps.sh" \
  octave-signal python3-numpy python3-scipy >&2; then
  echo "(could not install the optional comparison packages)" >&2
fi

echo "## Machine"
echo
echo '```'
lscpu | grep -E '^(Model name|CPU\(s\)|Thread|L1d|L2|L3)' || true
getconf -a 2>/dev/null | grep -E 'LEVEL[123]_D?CACHE_SIZE' || true
grep -E '^MemTotal' /proc/meminfo || true
echo "vector extensions: $(grep -m1 '^flags' /proc/cpuinfo |
  grep -o -w -E 'sse2|avx|avx2|fma|avx512f' | tr '\n' ' ')"
c++ --version | head -n 1 || true
uname -sr
echo '```'
echo

echo "## Kernel benchmarks"
echo
"$build/benchmarks/kernel_benchmarks" \
  --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.3 \
  --benchmark_out="$out/kernel_benchmarks.json" \
  --benchmark_out_format=json >"$out/kernel_benchmarks.txt"
python3 "$here/summarize_kernel_benchmarks.py" "$out/kernel_benchmarks.json"
echo

# numpy/scipy: the first python3 that has both (Debian's, then PATH's).
python=""
for candidate in /usr/bin/python3 "$(command -v python3 || true)"; do
  if [[ -x $candidate ]] &&
    "$candidate" -c 'import numpy, scipy.signal, scipy.sparse' 2>/dev/null; then
    python=$candidate
    break
  fi
done
if [[ -z $python ]]; then
  echo "(numpy/scipy not found: the in-host tables have no numpy/scipy rows)"
fi

if ! command -v octave-cli >/dev/null; then
  echo "(octave-cli not found: no in-host benchmark)"
  exit 0
fi
run_host() {
  octave-cli -q --no-window-system "$here/host_benchmark.m" \
    "$build/octave_modules" "$build/benchmark_modules" $python 2>&1 |
    grep -v 'ignoring const execution_exception'
}
echo "## In-host benchmark, 4 KiB pages (as is)"
echo
run_host | tee "$out/host_4k.txt"
echo
echo "## In-host benchmark, huge pages (GLIBC_TUNABLES=glibc.malloc.hugetlb=1)"
echo
GLIBC_TUNABLES=glibc.malloc.hugetlb=1 run_host | tee "$out/host_hugetlb.txt"
