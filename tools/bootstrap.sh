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
  pipewire pipewire-pulse wireplumber libpipewire-0.3-dev libdbus-1-dev debootstrap"

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
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends $missing >/dev/null
