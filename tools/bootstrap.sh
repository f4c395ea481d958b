#!/bin/sh
# Installs what building and testing need on Debian 12, as root. Quick when all is present.
set -eu

packages="make cmake g++ clang libclang-rt-14-dev valgrind python3
  libgtest-dev libgmock-dev libbenchmark-dev
  openjdk-17-jdk-headless junit5
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  libpulse-dev libxcb1-dev libxcb-shm0-dev x11-utils openjdk-17-jdk
  wine32:i386 wine64 wine xvfb xauth pulseaudio pulseaudio-utils espeak-ng sox imagemagick
  sway swaybg grim xdg-desktop-portal xdg-desktop-portal-wlr dbus-daemon
  pipewire pipewire-pulse wireplumber libpipewire-0.3-dev libdbus-1-dev debootstrap
  g++-aarch64-linux-gnu qemu-user-static
  libc6:arm64 libstdc++6:arm64 zlib1g:arm64 libpulse0:arm64 libxcb1:arm64 libxcb-shm0:arm64"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" != 0 ]; then
  echo "bootstrap: missing packages:$missing; run 'make' as root, or install them" >&2
  exit 1
fi
echo "bootstrap: installing$missing"
for arch in i386 arm64; do
  dpkg --print-foreign-architectures | grep -qx $arch || dpkg --add-architecture $arch
done
export DEBIAN_FRONTEND=noninteractive
# A mirror in the middle of a sync refuses an index now and then, and apt then keeps none of that
# suite's new ones: try again, then go on with the lists there are (the install says what fails).
for try in 1 2 3 4; do
  apt-get update -qq && break
  if [ $try = 4 ]; then
    echo "bootstrap: apt-get update failed 4 times; going on with the package lists there are" >&2
  else
    echo "bootstrap: apt-get update failed; again in 20 s" >&2
    sleep 20
  fi
done
apt-get install -y -qq --no-install-recommends $missing >/dev/null
