#!/bin/bash
# bullseye.sh --check | COMMAND...
# Runs COMMAND inside Debian 11 (bullseye: glibc 2.31, the GCC 10 C++ runtime, its own OpenJDK 17 as
# `java` on PATH), the oldest distribution our Linux natives are tried on. The system is made once
# with debootstrap (about a minute and 1 GB) and kept in $BULLSEYE_ROOT (default
# /var/cache/orvanta-tests/bullseye). COMMAND shares this machine's /tmp (and $TMPDIR), /dev and
# environment, so it reaches the servers of tests/env/devices.sh and files staged under /tmp;
# mounts are private to it and vanish with it.
# --check makes the system if needed and says why it cannot be had: exit 0 when it can, otherwise
# the reason on stdout and exit 1.
set -euo pipefail

root=${BULLSEYE_ROOT:-/var/cache/orvanta-tests/bullseye}
mirror=${BULLSEYE_MIRROR:-http://deb.debian.org/debian}
java_home=/usr/lib/jvm/java-17-openjdk-amd64

unavailable() { echo "$*"; exit 1; }

make_root() {
  [ -x "$root$java_home/bin/java" ] && return 0
  [ "$(id -u)" = 0 ] || unavailable "making a Debian 11 system takes root"
  command -v debootstrap >/dev/null || unavailable "debootstrap is not installed"
  [ "$(dpkg --print-architecture)" = amd64 ] || unavailable "the natives tried there are x86-64"
  mkdir -p "$(dirname "$root")"
  exec 9>"$root.lock"
  flock 9
  [ -x "$root$java_home/bin/java" ] && return 0
  rm -rf "$root.new"
  echo "bullseye: making Debian 11 in $root (once)" >&2
  # The full JRE, not the headless one: the tests compare our grab with java.awt.Robot there too.
  # libpulse and libxcb are what a desktop has; the natives open them at run time. pactl: the
  # tests look at the server.
  if ! debootstrap --variant=minbase --include=openjdk-17-jre,libpulse0,libxcb1,libxcb-shm0,pulseaudio-utils bullseye "$root.new" "$mirror" >"$root.log" 2>&1; then
    rm -rf "$root.new"
    unavailable "debootstrap of bullseye from $mirror failed (see $root.log)"
  fi
  mv "$root.new" "$root"
}

if [ "${1:-}" = --check ]; then
  make_root
  exit 0
fi
[ $# -gt 0 ] || { echo "usage: bullseye.sh --check | COMMAND..." >&2; exit 2; }
reason=$(make_root) || { echo "bullseye: $reason" >&2; exit 1; }

# A mount namespace of its own: nothing stays mounted when the command ends, however it ends.
# Inside a chroot "/" is no mount point and its propagation cannot be made private; the mounts are
# then taken down on the way out (with the command's end or its signal).
propagation=private
unshare --mount --propagation private true 2>/dev/null || propagation=unchanged
exec unshare --mount --propagation $propagation /bin/sh -euc '
  root=$1 java_home=$2
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
  PATH=$java_home/bin:/usr/bin:/bin /usr/sbin/chroot "$root" "$@"
' bullseye "$root" "$java_home" "$@"
