#!/usr/bin/env bash
# The chroot stages take their mirror from the machine's apt sources: one
# case per layout of those files, each a folder standing in for /etc/apt.
#   bash apt_mirror_test.sh <repository root>
set -uo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# check <case> <expected mirror, or "none"> : the files are in $work/<case>.
check() {
  local got status
  got=$(APT_SOURCES_ROOT=$work/$1 bash "$root/build_scripts/test_debian_chroot.sh" --mirror)
  status=$?
  if [ "$2" = none ]; then
    if [ $status -eq 0 ]; then
      echo "FAIL $1: expected no mirror, got '$got'"
      failures=$((failures + 1))
    else
      echo "ok   $1: no mirror"
    fi
  elif [ $status -ne 0 ] || [ "$got" != "$2" ]; then
    echo "FAIL $1: expected '$2', got '$got' (status $status)"
    failures=$((failures + 1))
  else
    echo "ok   $1: $got"
  fi
}

# write <case> <file below etc/apt> <text>
write() {
  mkdir -p "$(dirname "$work/$1/etc/apt/$2")"
  printf '%s\n' "$3" >"$work/$1/etc/apt/$2"
}

write deb822_security_first sources.list.d/debian.sources "Types: deb
URIs: http://security.example/debian-security
Suites: bookworm-security
Components: main

Types: deb
# a comment line
URIs: http://mirror.example/debian
Suites: bookworm bookworm-updates
Components: main"
check deb822_security_first http://mirror.example/debian

write deb822_source_only sources.list.d/src.sources "Types: deb-src
URIs: http://src.example/debian
Suites: bookworm
Components: main"
check deb822_source_only none

write deb822_disabled sources.list.d/a.sources "Types: deb
URIs: http://off.example/debian
Suites: trixie
Enabled: no

Types: deb deb-src
URIs: http://on.example/debian
Suites: trixie"
check deb822_disabled http://on.example/debian

write one_line_options sources.list "# deb http://commented.example/debian bookworm main
deb-src http://src.example/debian bookworm main
deb http://security.example/debian-security bookworm-security main
deb [arch=amd64 signed-by=/usr/share/keyrings/k.gpg] https://mirror.example/debian bookworm main"
check one_line_options https://mirror.example/debian

write one_line_first sources.list "deb http://first.example/debian bookworm main"
write one_line_first sources.list.d/more.sources "Types: deb
URIs: http://second.example/debian
Suites: bookworm"
check one_line_first http://first.example/debian

mkdir -p "$work/empty/etc/apt"
check empty none

[ "$failures" -eq 0 ]
