#!/usr/bin/env bash
# The cross-platform stages' Debian packages, and the windows-x64 stage:
#   aarch64       cross build (g++-aarch64-linux-gnu), tests under qemu-aarch64
#                 in user mode, the stand-in host and modules included
#   windows-x64   MinGW-w64 cross build, statically linked tests under wine64;
#                 the .mexw64 modules against a stub host DLL: export and
#                 import tables, one call each on the worked examples
#   i686          32-bit x86 (g++-i686-linux-gnu, SSE2 math), host-free suite
#                 under qemu-i386
# Each is a workflow preset (cmake --workflow --preset <platform>); the
# windows-x64 stage needs its wine server up first, which this script does.
#
# usage: build_scripts/test_platform.sh windows-x64
#        build_scripts/test_platform.sh --packages <platform>...
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

packages_of() {
  case $1 in
    aarch64) echo g++-aarch64-linux-gnu qemu-user googletest ;;
    windows-x64) echo g++-mingw-w64-x86-64-posix wine64 googletest ;;
    i686) echo g++-i686-linux-gnu qemu-user googletest ;;
    *)
      echo "unknown platform: $1" >&2
      exit 2
      ;;
  esac
}

if [ "${1:-}" = --packages ]; then
  shift
  for platform in "$@"; do packages_of "$platform"; done | tr ' ' '\n' |
    sort -u | tr '\n' ' '
  echo
  exit 0
fi
if [ $# -ne 1 ]; then
  echo "usage: $0 <aarch64|windows-x64|i686>" >&2
  exit 2
fi
platform=$1
# shellcheck disable=SC2046
bash build_scripts/install_deps.sh $(packages_of "$platform")
case $platform in
  windows-x64)
    cmake --preset "$platform" >/dev/null
    # The first wine start creates the prefix (the toolchain's emulator puts
    # it in the build folder); doing it here keeps it out of the test
    # discovery's time limit.
    dir=build/$platform
    # One wine server for the whole stage, started before any wine program:
    # left to itself it exits shortly after its last client, and a test
    # starting just then fails with "wine client error: recvmsg: Connection
    # reset by peer" (seen with ctest -j 2).
    mkdir -p "$dir/wineprefix"
    env WINEPREFIX="$root/$dir/wineprefix" /usr/lib/wine/wineserver -k \
      2>/dev/null || true
    env WINEPREFIX="$root/$dir/wineprefix" /usr/lib/wine/wineserver -p \
      </dev/null >/dev/null 2>&1
    trap 'env WINEPREFIX="$root/$dir/wineprefix" /usr/lib/wine/wineserver -k \
      2>/dev/null || true' EXIT
    env WINEPREFIX="$root/$dir/wineprefix" WINEDEBUG=-all \
      /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    status=0
    cmake --workflow --preset "$platform" || status=$?
    exit $status
    ;;
  *)
    cmake --workflow --preset "$platform"
    ;;
esac
