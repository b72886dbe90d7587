#!/usr/bin/env bash
# A stage of the test command on another Debian release, in a chroot:
#   bash build_scripts/test_debian_chroot.sh <release> [--prepare]
#   bash build_scripts/test_debian_chroot.sh --packages | --mirror
# <release> is a Debian suite (trixie, sid, ...). The chroot is a minbase
# debootstrap in build/chroots/<release>/root, made on the first run and
# reused after; the mirror is the one the machine's own apt sources name
# (/etc/apt/sources.list, /etc/apt/sources.list.d/*.list and *.sources),
# read at run time. The project's install_deps.sh installs the packages
# inside. Then, in the chroot under env -i, from a fresh copy of the sources
# in /project (its one build folder /project/build kept between runs), the
# default preset's workflow: configure, build and ctest (the Python and
# Octave packages are CTest tests of that build).
# With --prepare it stops once the chroot is ready (the test command starts
# that early, so that the download overlaps with its compile stages).
#
# Prints "stage <name>: <passed> passed, <failed> failed" (name: the stage
# name the test command gives it, STAGE_NAME, default debian-<release>).
# --packages prints the host packages the stage needs; --mirror the mirror it
# would use (APT_SOURCES_ROOT, default empty, is put in front of the
# /etc/apt paths, for the test of that reading).
# Exit status: 0 passed, 1 failed, 3 NOT RUN (the mirror could not be
# reached, the release's packages could not be installed, no root, or no
# right to mount): the
# line then reads "stage <name>: NOT RUN (<reason>)".
# Every mount made under the chroot is undone on exit, also on failure or
# interruption; one run at a time per chroot (a lock file).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1

# The first Debian mirror of the machine's apt sources (not a security one).
host_mirror() {
  local file etc=${APT_SOURCES_ROOT:-}/etc/apt
  {
    for file in "$etc/sources.list" "$etc"/sources.list.d/*.list; do
      [ -f "$file" ] || continue
      awk '$1 == "deb" {
        for (i = 2; i <= NF; i++) if ($i !~ /^\[/ && $i !~ /\]$/) break
        if ($(i + 1) !~ /security/) print $i
      }' "$file"
    done
    for file in "$etc"/sources.list.d/*.sources; do
      [ -f "$file" ] || continue
      # deb822 stanzas, separated by blank lines; "Enabled: no" skips one.
      awk 'function flush() {
             if (types ~ /(^| )deb( |$)/ && suites !~ /security/ && uris != "" &&
                 enabled != "no")
               print uris
             types = ""; suites = ""; uris = ""; enabled = ""
           }
           /^[[:space:]]*$/ { flush(); next }
           /^Types:/ { sub(/^Types:[[:space:]]*/, ""); types = $0 }
           /^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); suites = $0 }
           /^URIs:/ { sub(/^URIs:[[:space:]]*/, ""); uris = $1 }
           /^Enabled:/ { sub(/^Enabled:[[:space:]]*/, ""); enabled = tolower($0) }
           END { flush() }' "$file"
    done
  } | grep -E '^(https?|ftp)://' | head -n 1
}

case ${1:-} in
  --packages)
    echo debootstrap
    exit 0
    ;;
  --mirror)
    mirror=$(host_mirror)
    [ -n "$mirror" ] || exit 1
    echo "$mirror"
    exit 0
    ;;
esac
if [ $# -lt 1 ] || [ $# -gt 2 ] || { [ $# -eq 2 ] && [ "$2" != --prepare ]; }; then
  echo "usage: $0 <release> [--prepare] | --packages" >&2
  exit 2
fi
release=$1
prepare_only=false
if [ "${2:-}" = --prepare ]; then prepare_only=true; fi
name=${STAGE_NAME:-debian-$release}
jobs=2
base=$root/build/chroots/$release
chroot_dir=$base/root
mkdir -p "$base"

not_run() {
  echo "stage $name: NOT RUN ($1)"
  exit 3
}

[ "$(id -u)" -eq 0 ] || not_run "a chroot needs root"

# One run per chroot at a time: a second run (the test stage after the
# early --prepare) waits here for the first.
exec 9>"$base/lock"
flock 9

# Mounts: undone in reverse order on any exit.
mounted=()
unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" || true
  done
  mounted=()
  # Whatever an interrupted run (or debootstrap) left below the chroot.
  findmnt -rn -o TARGET | grep -F "$chroot_dir/" | sort -r |
    while read -r target; do umount -l "$target" || true; done
}
trap unmount_all EXIT
trap 'exit 130' INT TERM HUP

mount_into() { # <target below the chroot> <mount arguments>...
  local target=$chroot_dir$1
  shift
  mkdir -p "$target"
  mount "$@" "$target" || return 1
  mounted+=("$target")
}

# The pseudo file systems the builds and apt need. /dev is a fresh tmpfs with
# the few device nodes programs open, not a bind of the host's /dev, so that
# nothing done inside (or a removal of the build folder) reaches the host's.
mount_system() {
  mount_into /proc -t proc proc &&
    mount_into /sys -t sysfs -o ro sysfs &&
    mount_into /dev -t tmpfs -o mode=755,nosuid tmpfs || return 1
  local node major minor
  for node in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
    IFS=: read -r node major minor <<<"$node"
    mknod -m 666 "$chroot_dir/dev/$node" c "$major" "$minor" || return 1
  done
  ln -s /proc/self/fd "$chroot_dir/dev/fd"
  ln -s /proc/self/fd/0 "$chroot_dir/dev/stdin"
  ln -s /proc/self/fd/1 "$chroot_dir/dev/stdout"
  ln -s /proc/self/fd/2 "$chroot_dir/dev/stderr"
  mount_into /dev/pts -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts &&
    ln -s pts/ptmx "$chroot_dir/dev/ptmx" &&
    mount_into /dev/shm -t tmpfs -o mode=1777,nosuid,nodev tmpfs
}

# in_chroot <command>...: runs a command inside with an empty environment.
in_chroot() {
  env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM=dumb chroot "$chroot_dir" "$@"
}

# remove_chroot: deletes a broken chroot, only when nothing is mounted in it.
remove_chroot() {
  unmount_all
  if findmnt -rn -o TARGET | grep -qF "$chroot_dir/"; then
    echo "error: mounts remain under $chroot_dir; not removing it" >&2
    return 1
  fi
  rm -rf --one-file-system "$chroot_dir"
}

prepare() {
  local mirror
  mirror=$(host_mirror)
  [ -n "$mirror" ] || not_run "no Debian mirror in the machine's apt sources"
  if [ ! -f "$base/bootstrapped" ]; then
    bash build_scripts/install_deps.sh debootstrap >/dev/null ||
      not_run "debootstrap cannot be installed"
    if [ -e "$chroot_dir" ]; then remove_chroot || exit 1; fi
    echo "=== $name: debootstrap --variant=minbase $release from $mirror"
    if ! debootstrap --variant=minbase "$release" "$chroot_dir" "$mirror" \
      >"$base/debootstrap.log" 2>&1; then
      tail -n 20 "$base/debootstrap.log"
      remove_chroot
      not_run "debootstrap of $release from $mirror failed (mirror unreachable?)"
    fi
    if [ "$release" = sid ] || [ "$release" = unstable ]; then
      # Unstable's Release file is re-signed often and may have expired on a
      # mirror or snapshot; this chroot only.
      echo 'Acquire::Check-Valid-Until "false";' \
        >"$chroot_dir/etc/apt/apt.conf.d/99no-check-valid-until"
    fi
    touch "$base/bootstrapped"
  fi
  mount_system || not_run "cannot mount /proc, /sys and /dev into $chroot_dir"
  copy_sources
  echo "=== $name: packages (install_deps.sh inside)"
  local packages
  packages=$(bash build_scripts/test_python.sh --packages)
  # shellcheck disable=SC2086
  if ! in_chroot bash -c "cd /project && bash build_scripts/install_deps.sh $packages && apt-get clean"; then
    not_run "the packages of $release could not be installed"
  fi
}

# copy_sources: the working tree (without build/ and git's metadata) into
# /project; the build folder there stays. A file whose content is unchanged
# keeps its copy and time, so the build stays incremental; every other file
# is copied anew and so is newer than anything built from an older copy
# (keeping the tree's own times would not be: a checkout of older sources
# would leave objects built from newer ones looking up to date).
copy_sources() {
  local project=$chroot_dir/project incoming=$base/incoming file
  rm -rf "$incoming"
  mkdir -p "$project" "$incoming"
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' file; do
        [ -e "$file" ] && printf '%s\0' "$file"
      done | tar --null -T - -cf - | tar -xf - -C "$incoming"
  else
    tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$incoming"
  fi
  (cd "$project" && find . -path ./build -prune -o \( -type f -o -type l \) \
    -print0) | while IFS= read -r -d '' file; do
    [ -e "$incoming/$file" ] || [ -L "$incoming/$file" ] || rm -f "$project/$file"
  done
  (cd "$incoming" && find . \( -type f -o -type l \) -print0) |
    while IFS= read -r -d '' file; do
      if ! cmp -s "$incoming/$file" "$project/$file"; then
        mkdir -p "$(dirname "$project/$file")"
        rm -f "$project/$file"
        cp -P "$incoming/$file" "$project/$file"
      fi
    done
  rm -rf "$incoming"
}

# run_tests: the versions, then the default preset's workflow (configure,
# build, ctest: kernels, gateways, Octave modules and their tests, the demo,
# install and consumer, the Python and the Octave package); its JUnit file
# is copied to build/<name>/ctest-junit.xml, where the test command reads the
# counts.
run_tests() {
  local logs=$base/logs
  mkdir -p "$logs" "$root/build/$name"
  in_chroot bash -c 'echo "=== versions"; . /etc/os-release; echo "$PRETTY_NAME";
    octave-cli --version | head -n 1; g++ --version | head -n 1;
    clang --version | head -n 1; cmake --version | head -n 1;
    valgrind --version; python3 --version;
    python3 -c "import numpy, pybind11; print(\"numpy\", numpy.__version__, \"pybind11\", pybind11.__version__)"'
  echo "=== $name: default preset (configure, build, ctest)"
  local junit=$chroot_dir/project/build/default/ctest-junit.xml
  rm -f "$junit" "$root/build/$name/ctest-junit.xml"
  in_chroot bash -c "cd /project && cmake --workflow --preset default" \
    >"$logs/workflow.log" 2>&1
  status=$?
  grep -E 'tests passed|tests failed|^[[:space:]]+[0-9]+ - ' \
    "$logs/workflow.log" || tail -n 40 "$logs/workflow.log"
  if [ -f "$junit" ]; then cp "$junit" "$root/build/$name/ctest-junit.xml"; fi
  echo "(log $logs/workflow.log; chroot $(du -sh --one-file-system "$chroot_dir" | cut -f1))"
}

# shellcheck source=stage_counts.sh
source build_scripts/stage_counts.sh
status=0
prepare
if $prepare_only; then
  echo "=== $name: chroot ready"
  exit 0
fi
run_tests
read -r passed failed < <(junit_counts "$root/build/$name/ctest-junit.xml")
echo "stage $name: $passed passed, $failed failed"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ]
