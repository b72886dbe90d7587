#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# missing, plus any package named as an argument (the benchmarks name their
# optional comparisons). Needs root (or sudo) and Debian's package registry.
set -euo pipefail

packages=(
  build-essential cmake pkg-config binutils
  clang libclang-rt-14-dev llvm
  googletest libgtest-dev libbenchmark-dev
  octave liboctave-dev
  gnuplot-nox fonts-freefont-otf
  valgrind
  "$@"
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
    grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
