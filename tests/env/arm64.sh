#!/bin/bash
# arm64.sh --check | COMMAND...
# Runs COMMAND with `java` on PATH being Debian's arm64 OpenJDK 17 under qemu-user emulation, so a
# jar's linux-aarch64 natives load and run on this x86-64 machine, against its own servers. The
# JVM is unpacked once from its package into $ARM64_JVM_ROOT (default
# /var/cache/orvanta-tests/jvm-arm64), not installed: installing it would move the machine's own
# JDK to the same version. Its libraries (libc6, libstdc++6, zlib1g, and libpulse0, libxcb1,
# libxcb-shm0 for the natives) are arm64 packages installed beside the amd64 ones by multiarch.
# --check unpacks the JVM if needed and says why it cannot be had: exit 0 when it can, otherwise
# the reason on stdout and exit 1.
set -euo pipefail

root=${ARM64_JVM_ROOT:-/var/cache/orvanta-tests/jvm-arm64}
java_home=$root/usr/lib/jvm/java-17-openjdk-arm64
qemu=/usr/bin/qemu-aarch64-static

unavailable() { echo "$*"; exit 1; }
source "$(dirname "$0")/../../tools/packages.sh"
source "$(dirname "$0")/unpack_debs.sh"

unpack_jvm() {
  local reason
  ! reason=$(part_missing arm64) || unavailable "$reason"
  [ -x "$java_home/bin/java" ] && [ -x "$root/bin/java" ] && return 0
  [ -x "$qemu" ] || unavailable "qemu-user-static is not installed"
  [ "$(id -u)" = 0 ] || unavailable "unpacking the arm64 JVM takes root"
  mkdir -p "$(dirname "$root")"
  exec 9>"$root.lock"
  flock 9
  [ -x "$java_home/bin/java" ] && [ -x "$root/bin/java" ] && return 0
  rm -rf "$root"
  unpack_debs "$root" openjdk-17-jre-headless:arm64 ||
    unavailable "could not download and unpack openjdk-17-jre-headless:arm64"
  # The package links its configuration from /etc; the unpacked copy uses its own.
  find "$root" -type l -lname '/etc/*' | while read -r link; do
    ln -sfn "$root$(readlink "$link")" "$link"
  done
  mkdir -p "$root/bin"
  # Without a binfmt registration the emulated JVM cannot start its own arm64 helper
  # (jspawnhelper) for a child process; forking starts the child directly.
  printf '#!/bin/sh\nexec %s %s -Djdk.lang.Process.launchMechanism=FORK "$@"\n' "$qemu" "$java_home/bin/java" >"$root/bin/java"
  chmod +x "$root/bin/java"
}

if [ "${1:-}" = --check ]; then
  unpack_jvm
  exit 0
fi
[ $# -gt 0 ] || { echo "usage: arm64.sh --check | COMMAND..." >&2; exit 2; }
reason=$(unpack_jvm) || { echo "arm64: $reason" >&2; exit 1; }
PATH=$root/bin:$PATH exec "$@"
