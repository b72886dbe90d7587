#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# missing, plus any package named as an argument (the benchmarks and the
# stages name their own). Needs root (or sudo) and Debian's package registry.
#
# Package names change between releases, so a requirement may list
# alternatives, "a|b": it is met when any of them is installed, else the
# first one apt knows is installed. The clang runtime is the one of the clang
# that is (or will be) installed. Works on Debian 12, 13 and unstable, and on
# Ubuntu releases with the same package layout.
set -euo pipefail

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

# known <package>: apt has a real (installable) package of that name.
known() {
  apt-cache show --no-all-versions "$1" 2>/dev/null | grep '^Package:' >/dev/null
}

updated=false
update_lists() {
  if ! $updated; then
    "${sudo_cmd[@]}" apt-get update -qq
    updated=true
  fi
}

# clang_major: the major version of the clang package (installed, else the
# one apt would install), from its dependency on clang-<major>.
clang_major() {
  local depends
  if installed clang; then
    depends=$(dpkg-query -W -f='${Depends}' clang)
  else
    depends=$(apt-cache depends clang 2>/dev/null | grep 'Depends:' || true)
  fi
  grep -Eo 'clang-[0-9]+' <<<"$depends" | sed -n '1s/clang-//p'
}

# resolve <a|b|...>: prints nothing when an alternative is installed, else the
# first alternative apt knows; fails when apt knows none.
resolve() {
  local alternative
  local -a alternatives
  IFS='|' read -r -a alternatives <<<"$1"
  for alternative in "${alternatives[@]}"; do
    if installed "$alternative"; then return 0; fi
  done
  for alternative in "${alternatives[@]}"; do
    if known "$alternative"; then
      echo "$alternative"
      return 0
    fi
  done
  return 1
}

requirements=(
  build-essential cmake pkg-config binutils
  clang llvm
  googletest libgtest-dev libbenchmark-dev
  "octave-dev|liboctave-dev"
  octave
  gnuplot-nox fonts-freefont-otf
  valgrind
  "$@"
)

# A first pass on what is installed: nothing to do (and no apt run) when
# every requirement is met; the clang runtime is checked once clang's
# version is known.
unmet=()
for requirement in "${requirements[@]}"; do
  met=false
  IFS='|' read -r -a alternatives <<<"$requirement"
  for alternative in "${alternatives[@]}"; do
    if installed "$alternative"; then met=true; fi
  done
  $met || unmet+=("$requirement")
done
major=""
if installed clang; then major=$(clang_major); fi
runtime=""
if [ -n "$major" ]; then
  runtime="libclang-rt-$major-dev|libclang-common-$major-dev"
  if ! installed "libclang-rt-$major-dev" &&
    ! installed "libclang-common-$major-dev"; then
    unmet+=("$runtime")
  fi
fi
if [ ${#unmet[@]} -eq 0 ]; then
  exit 0
fi

update_lists
if [ -z "$major" ]; then
  major=$(clang_major)
  if [ -z "$major" ]; then
    echo "install_deps: apt knows no clang package" >&2
    exit 1
  fi
  unmet+=("libclang-rt-$major-dev|libclang-common-$major-dev")
fi
missing=()
unknown=()
for requirement in "${unmet[@]}"; do
  if package=$(resolve "$requirement"); then
    if [ -n "$package" ]; then missing+=("$package"); fi
  else
    unknown+=("$requirement")
  fi
done
if [ ${#unknown[@]} -ne 0 ]; then
  echo "install_deps: apt knows none of: ${unknown[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
