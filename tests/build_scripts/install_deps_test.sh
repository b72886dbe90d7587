#!/usr/bin/env bash
# install_deps.sh picks package names by what the release offers. Each case
# stands in for a release with stub dpkg-query, apt-cache and apt-get on the
# PATH (what is installed, what apt knows, clang's version) and checks the
# packages handed to apt-get install.
#   bash install_deps_test.sh <repository root>
set -uo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"

# The stubs read: INSTALLED (installed packages), UNKNOWN (packages apt does
# not know; any other name is known), CLANG (the clang package's major
# version, installed or candidate), APT_LOG (apt-get's arguments).
cat >"$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
format=$2 package=$3
case " $INSTALLED " in *" $package "*) ;; *) exit 1 ;; esac
case $format in
  *Status*) printf 'install ok installed' ;;
  *Depends*) printf 'clang-%s (>= %s~)' "$CLANG" "$CLANG" ;;
esac
STUB
cat >"$work/bin/apt-cache" <<'STUB'
#!/usr/bin/env bash
case $1 in
  show)
    case " $UNKNOWN " in *" $3 "*) echo "E: No packages found" >&2; exit 100 ;; esac
    printf 'Package: %s\nVersion: 1\n' "$3"
    ;;
  depends) printf '%s\n  Depends: clang-%s\n' "$2" "$CLANG" ;;
esac
STUB
cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "$*" >>"$APT_LOG"
STUB
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
chmod +x "$work/bin/"*

base="build-essential cmake pkg-config binutils clang llvm googletest
  libgtest-dev libbenchmark-dev octave gnuplot-nox fonts-freefont-otf valgrind"
base=$(echo $base)
failures=0

# run_case <name> <installed> <unknown> <clang> <expect> <forbid> [args...]
# expect: words that must be among the installed packages ("-" none, and
# "none" for no apt-get install at all); forbid: words that must not be
# ("-" none); "fail" as expect: install_deps must fail.
run_case() {
  local name=$1 installed=$2 unknown=$3 clang=$4 expect=$5 forbid=$6
  shift 6
  local log=$work/$name.log
  : >"$log"
  PATH=$work/bin:$PATH INSTALLED=$installed UNKNOWN=$unknown CLANG=$clang \
    APT_LOG=$log bash "$root/build_scripts/install_deps.sh" "$@" \
    >"$work/$name.out" 2>&1
  local status=$?
  local installs word ok=true
  installs=$(sed -n 's/^install -y -qq --no-install-recommends //p' "$log")
  if [ "$expect" = fail ]; then
    [ $status -ne 0 ] || { echo "FAIL $name: expected a failure"; ok=false; }
  elif [ $status -ne 0 ]; then
    echo "FAIL $name: status $status: $(cat "$work/$name.out")"
    ok=false
  elif [ "$expect" = none ]; then
    [ ! -s "$log" ] || { echo "FAIL $name: apt-get ran: $(cat "$log")"; ok=false; }
  else
    for word in $expect; do
      [ "$word" = - ] && continue
      case " $installs " in *" $word "*) ;; *)
        echo "FAIL $name: $word not installed (installed: $installs)"
        ok=false ;;
      esac
    done
  fi
  for word in $forbid; do
    [ "$word" = - ] && continue
    case " $installs " in *" $word "*)
      echo "FAIL $name: $word installed (installed: $installs)"
      ok=false ;;
    esac
  done
  if $ok; then echo "ok   $name"; else failures=$((failures + 1)); fi
}

# A fresh Debian 12: both Octave names exist, the newer one is taken.
run_case bookworm_fresh "" "" 14 \
  "$base octave-dev libclang-rt-14-dev" "liboctave-dev libclang-common-14-dev"
# A fresh Debian 13 or unstable: no liboctave-dev, clang 19's runtime.
run_case trixie_fresh "" "liboctave-dev libclang-rt-14-dev" 19 \
  "octave-dev libclang-rt-19-dev" "liboctave-dev libclang-rt-14-dev"
# A machine set up before: the old Octave name installed satisfies it.
run_case bookworm_installed "$base liboctave-dev libclang-rt-14-dev" "" 14 \
  none -
# Clang installed, its runtime not: only the runtime of that clang.
run_case runtime_missing "$base octave-dev" "" 19 \
  "libclang-rt-19-dev" "$base octave-dev"
# A release whose sanitizer runtime is still in libclang-common-<n>-dev.
run_case runtime_in_common "" "libclang-rt-15-dev" 15 \
  "libclang-common-15-dev" "libclang-rt-15-dev"
# A stage's extra packages, and one apt does not know.
run_case extra_packages "$base octave-dev libclang-rt-19-dev" "" 19 \
  "qemu-user" "$base" qemu-user
run_case unknown_package "" "no-such-package" 19 fail - no-such-package
run_case no_octave "" "octave-dev liboctave-dev" 19 fail -

[ "$failures" -eq 0 ]
