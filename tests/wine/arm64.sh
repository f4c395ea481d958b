#!/bin/bash
# arm64.sh --check
# Makes Debian's arm64 Wine ready to run arm64 Windows programs on this x86-64 machine under
# qemu-user emulation; tests/wine/loader.sh (use_wine_arm64) asks here. Wine and every arm64
# library it links are unpacked once from their packages into $WINE_ARM64_ROOT (default
# /var/cache/orvanta-tests/wine-arm64), not installed: wine64:arm64 would replace the machine's
# own wine64. Only the arm64 C library, whose loader qemu takes from /lib, and the data packages
# that Wine's libraries read from fixed paths (/etc/fonts, /usr/share/X11) come from the machine.
# Exit 0 with the path of the Wine loader on stdout (its wineserver is beside it), or exit 1 with
# the reason on stdout.
set -euo pipefail

root=${WINE_ARM64_ROOT:-/var/cache/orvanta-tests/wine-arm64}
bin=$root/usr/lib/wine
qemu=/usr/bin/qemu-aarch64-static
# Written last: its presence says that the folder is complete and Wine starts from it.
marker=$root/.unpacked

unavailable() { echo "$*"; exit 1; }
here=$(dirname "$0")
source "$here/../../tools/packages.sh"
source "$here/../env/unpack_debs.sh"

# wrap PROGRAM NAME: NAME in Wine's folder runs the arm64 PROGRAM there under qemu. Without a
# binfmt registration the kernel cannot start an arm64 file itself, and Wine starts each new
# process by running its loader again from its own folder, and its server as `wineserver` from
# there. -0 keeps argv[0]; the libraries from the unpacked folder come before the machine's.
# shellcheck disable=SC2016 # "$0", "$1" and "$@" are the wrapper's own
wrap() {
  local libs=$root/lib/aarch64-linux-gnu:$root/usr/lib/aarch64-linux-gnu
  {
    echo '#!/bin/sh'
    # Skips the loader's start of itself again (one more emulator start for every process); that
    # also skips its answer to --version.
    [ "$2" = wine64 ] && echo '[ "$1" = --version ] || export WINELOADERNOEXEC=1'
    printf 'exec %q -0 "$0" -E %q %q "$@"\n' "$qemu" "LD_LIBRARY_PATH=$libs" "$bin/$1"
  } >"$bin/$2"
  chmod +x "$bin/$2"
}

unpack_wine() {
  local reason plan unpack missing version
  ! reason=$(part_missing arm64) || unavailable "$reason"
  [ -x "$qemu" ] || unavailable "qemu-user-static is not installed"
  [ -f "$marker" ] && return 0
  [ "$(id -u)" = 0 ] || unavailable "unpacking arm64 Wine takes root"
  mkdir -p "$(dirname "$root")"
  exec 9>"$root.lock"
  flock -w 900 9 || unavailable "timed out waiting for $root.lock"
  [ -f "$marker" ] && return 0
  # The whole dependency set, as apt would install it on a machine with nothing installed.
  plan=$(apt-get install --simulate --no-install-recommends -o Dir::State::status=/dev/null \
    wine64:arm64 libwine:arm64 2>&1) ||
    unavailable "apt cannot resolve arm64 Wine: $(grep -m 1 '^E:' <<<"$plan")"
  unpack=$(sed -n '/^Inst libc6:arm64 /d; s/^Inst \([^ ]*:arm64\) (\([^ ]*\) .*/\1=\2/p' <<<"$plan")
  # The rest is this machine's: libc6:arm64 (the part above) and the packages of its own
  # architecture or of all, whose files Wine's libraries read from fixed paths.
  # shellcheck disable=SC2046 # a list of package names
  missing=$(missing_packages $(sed -n 's/^Inst \([^ :]*\) .*/\1/p' <<<"$plan"))
  [ -z "$missing" ] || unavailable "arm64 Wine needs packages that are not installed:$missing"
  echo "wine-arm64: unpacking Debian's arm64 Wine into $root (once)" >&2
  rm -rf "$root"
  # shellcheck disable=SC2086 # a list of packages
  unpack_debs "$root" $unpack || unavailable "could not download and unpack arm64 Wine"
  mv "$bin/wine64" "$bin/wine64.arm64"
  wrap wine64.arm64 wine64
  wrap wineserver64 wineserver
  version=$("$bin/wine64" --version 2>&1) || unavailable "arm64 Wine does not start: $version"
  echo "$unpack" >"$marker"
}

if [ $# != 1 ] || [ "$1" != --check ]; then
  echo "usage: arm64.sh --check" >&2
  exit 2
fi
unpack_wine
echo "$bin/wine64"
