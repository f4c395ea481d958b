#!/bin/bash
# debian-root.sh SUITE [--java N] --check | COMMAND...
# Runs COMMAND inside a kept Debian system, with one of that release's own OpenJDKs as `java` on
# PATH (the first listed unless --java N names another):
#   bullseye  Debian 11: glibc 2.31, the GCC 10 C++ runtime; OpenJDK 17 and 11
#   trixie    Debian 13: glibc 2.41; OpenJDK 21 and 25
# Each system is made once with debootstrap (a few minutes and 1 GB or so) and kept in
# $DEBIAN_ROOTS/SUITE (default /var/cache/orvanta-tests/SUITE). A system kept from before a package
# was added to its list below gets that package on the next run.
# COMMAND shares this machine's /tmp (and $TMPDIR), /dev and environment, so it reaches the servers
# of tests/env/devices.sh and files staged under /tmp; mounts are private to it and vanish with it.
# --check makes (or completes) the system if needed and says why it cannot be had: exit 0 when it
# can, otherwise the reason on stdout and exit 1.
set -euo pipefail

usage() { echo "usage: debian-root.sh bullseye|trixie [--java N] --check | COMMAND..." >&2; exit 2; }
unavailable() { echo "$*"; exit 1; }

# What a desktop has and the natives open at run time, and pactl: the tests look at the server.
desktop=(libpulse0 libxcb1 libxcb-shm0 pulseaudio-utils)
suite=${1:-}
case $suite in
  bullseye)
    release="Debian 11"
    javas=(17 11)
    # The full JRE 17, not the headless one: the tests compare our grab with java.awt.Robot there.
    packages=(openjdk-17-jre openjdk-11-jre-headless "${desktop[@]}") ;;
  trixie)
    # trixie's Release file carries no Valid-Until and is signed with keys that bookworm's
    # debian-archive-keyring already holds, so debootstrap takes it as it is.
    release="Debian 13"
    javas=(21 25)
    packages=(openjdk-21-jre-headless openjdk-25-jre-headless "${desktop[@]}") ;;
  *) usage ;;
esac
shift
java=${javas[0]}
if [ "${1:-}" = --java ]; then
  [ $# -ge 2 ] || usage
  java=$2
  shift 2
fi
[[ " ${javas[*]} " == *" $java "* ]] || { echo "debian-root.sh: $suite has OpenJDK ${javas[*]}, not $java" >&2; exit 2; }
java_home=/usr/lib/jvm/java-$java-openjdk-amd64
root=${DEBIAN_ROOTS:-/var/cache/orvanta-tests}/$suite
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

# A mount namespace of its own: nothing stays mounted when the command ends, however it ends.
# Inside a chroot "/" is no mount point and its propagation cannot be made private; the mounts are
# then taken down on the way out (with the command's end or its signal).
# Called as: "${in_root[@]}" PATH COMMAND...
propagation=private
unshare --mount --propagation private true 2>/dev/null || propagation=unchanged
# shellcheck disable=SC2016 # expanded by the inner shell
in_root=(unshare --mount --propagation "$propagation" /bin/sh -euc '
  root=$1 path=$2
  shift 2
  mounts="$root/dev $root/proc $root/tmp"
  trap "umount -R \$mounts 2>/dev/null || true" EXIT
  trap "exit 143" TERM HUP INT
  mount --rbind /dev "$root/dev"
  mount -t proc proc "$root/proc"
  mount --bind /tmp "$root/tmp"
  if [ -n "${TMPDIR:-}" ] && [ "$TMPDIR" != /tmp ]; then
    mkdir -p "$root$TMPDIR"
    mount --bind "$TMPDIR" "$root$TMPDIR"
    mounts="$root$TMPDIR $mounts"
  fi
  PATH=$path /usr/sbin/chroot "$root" "$@"
' "$suite" "$root")

# The packages listed above that the system lacks: all of them while there is none.
missing() {
  local package
  for package in "${packages[@]}"; do
    [ "$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${db:Status-Status}' "$package" 2>/dev/null)" = installed ] ||
      echo "$package"
  done
}

bootstrap() {
  command -v debootstrap >/dev/null || unavailable "debootstrap is not installed"
  rm -rf "$root.new"
  echo "$suite: making $release in $root (once)" >&2
  if ! debootstrap --variant=minbase --include="$(IFS=,; echo "${packages[*]}")" "$suite" "$root.new" "$mirror" >"$root.log" 2>&1; then
    rm -rf "$root.new"
    unavailable "debootstrap of $suite from $mirror failed (see $root.log)"
  fi
  mv "$root.new" "$root"
}

# Installs into the kept system what it lacks, as debootstrap would have (no recommended packages),
# waiting for a dpkg of its own that another process may be running there.
complete() {
  echo "$suite: adding $* to $root" >&2
  local apt=(apt-get -q -o DPkg::Lock::Timeout=300)
  if ! { "${in_root[@]}" /usr/sbin:/usr/bin:/sbin:/bin "${apt[@]}" update &&
         "${in_root[@]}" /usr/sbin:/usr/bin:/sbin:/bin env DEBIAN_FRONTEND=noninteractive \
           "${apt[@]}" install -y --no-install-recommends "$@"; } >>"$root.log" 2>&1; then
    unavailable "installing $* into $root failed (see $root.log)"
  fi
}

make_root() {
  local lacking
  lacking=$(missing)
  [ -z "$lacking" ] && return 0
  [ "$(id -u)" = 0 ] || unavailable "making $release in $root takes root"
  [ "$(dpkg --print-architecture)" = amd64 ] || unavailable "the natives tried there are x86-64"
  mkdir -p "$(dirname "$root")"
  exec 9>"$root.lock"
  flock 9
  lacking=$(missing)
  [ -z "$lacking" ] && return 0
  if [ -d "$root" ]; then
    # shellcheck disable=SC2086 # one package a word
    complete $lacking
  else
    bootstrap
  fi
}

if [ "${1:-}" = --check ]; then
  make_root
  exit 0
fi
[ $# -gt 0 ] || usage
reason=$(make_root) || { echo "$suite: $reason" >&2; exit 1; }
exec "${in_root[@]}" "$java_home/bin:/usr/bin:/bin" "$@"
