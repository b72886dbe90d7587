#!/usr/bin/env bash
# The Python package spike_bins (python/): installs its Debian packages,
# builds it with pip into a fresh virtual environment under build/ made from
# Debian's python3 with its system packages (no package index is used), and
# runs its tests. The default preset's CTest tests python_install and
# python_pytest run the two steps alone:
#   build_scripts/test_python.sh install <venv>
#   build_scripts/test_python.sh pytest <venv> When octave-cli is installed the tests also
# compare bits with the Octave modules: those of SPIKE_BINS_OCTAVE_MODULES,
# else of the default preset's build tree, else built here.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

packages=(python3-dev python3-venv python3-numpy python3-scipy python3-pytest
  python3-hypothesis pybind11-dev python3-pybind11 python3-mesonpy meson
  ninja-build python3-matplotlib python3-dask python3-distributed python3-sklearn
  python3-statsmodels python3-neo python3-h5py python3-tqdm)
# --packages: print the Debian packages this stage needs, and stop.
if [ "${1:-}" = --packages ]; then
  echo "${packages[@]}"
  exit 0
fi

# install <venv>: the package built with pip into a fresh virtual environment
# made from SPIKE_BINS_PYTHON (default Debian's /usr/bin/python3, whose
# system packages it sees).
install_package() {
  local venv=$1
  rm -rf "$venv"
  "${SPIKE_BINS_PYTHON:-/usr/bin/python3}" -m venv --system-site-packages \
    "$venv"
  "$venv/bin/pip" install --quiet --no-index --no-build-isolation ./python
}

# pytest <venv>: the tests, against SPIKE_BINS_OCTAVE_MODULES when set.
run_tests() {
  echo "=== python: pytest"
  "$1/bin/python" -m pytest -q -p no:cacheprovider python/tests
}

case "${1:-}" in
  install)
    install_package "$2"
    exit 0
    ;;
  pytest)
    run_tests "$2"
    exit $?
    ;;
esac

bash build_scripts/install_deps.sh "${packages[@]}"
venv=build/python-venv
install_package "$venv"

if command -v octave-cli >/dev/null && [ -z "${SPIKE_BINS_OCTAVE_MODULES:-}" ]; then
  modules=build/default/octave_modules
  if [ ! -e "$modules/tentfill2.mex" ]; then
    cmake -S . -B build/python-octave >/dev/null
    cmake --build build/python-octave -j "$(nproc 2>/dev/null || echo 2)"
    modules=build/python-octave/octave_modules
  fi
  export SPIKE_BINS_OCTAVE_MODULES=$root/$modules
fi
run_tests "$venv"
