# packages.sh, sourced: the Debian 12 packages that building and testing use, in one place.
# tools/bootstrap.sh installs them; the test scripts ask part_missing whether an optional part is
# here. Everything builds from the required ones. An optional part only serves some test and demo
# steps: where it cannot be installed, those steps say they were skipped and why, and the rest runs.

required_packages="make cmake g++ clang libclang-rt-14-dev valgrind python3
  libgtest-dev libgmock-dev libbenchmark-dev
  openjdk-17-jdk-headless junit5
  maven maven-debian-helper libmaven-compiler-plugin-java libmaven-resources-plugin-java libmaven-jar-plugin-java
  libsurefire-java libmaven-source-plugin-java libmaven-javadoc-plugin-java libmaven-install-plugin-java
  libmaven-deploy-plugin-java
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  lld lld-14 llvm-14 bzip2
  libpulse-dev libxcb1-dev libxcb-shm0-dev x11-utils openjdk-17-jdk
  wine64 wine xvfb xauth pulseaudio pulseaudio-utils espeak-ng sox imagemagick
  pipewire pipewire-pulse wireplumber libpipewire-0.3-dev libdbus-1-dev libwayland-dev dbus-daemon debootstrap
  g++-aarch64-linux-gnu qemu-user-static"

optional_parts="wine-x86 wayland arm64"

# What each part is called in a message, and its packages. apt's resolver gives up on wine32:i386
# alone when the versions of some i386 libraries are in doubt; named beside it, the GStreamer
# library lets it find its way.
part_title() {
  case $1 in
    wine-x86) echo "x86 Wine" ;;
    wayland) echo "the Wayland desktop (sway and its portal)" ;;
    arm64) echo "the arm64 libraries for the emulated JVM and arm64 Wine" ;;
  esac
}
part_packages() {
  case $1 in
    wine-x86) echo "wine32:i386 libgstreamer-plugins-base1.0-0:i386" ;;
    wayland) echo "sway swaybg grim xdg-desktop-portal xdg-desktop-portal-wlr" ;;
    arm64) echo "libc6:arm64 libstdc++6:arm64 zlib1g:arm64 libpulse0:arm64 libxcb1:arm64 libxcb-shm0:arm64" ;;
  esac
}

# Why the bootstrap could not install a part, kept for the steps that need it.
parts_dir=/var/cache/orvanta-tests/parts

# missing_packages PACKAGE...: those of the packages that are not installed.
missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || printf ' %s' "$p"
  done
}

# part_missing PART: status 1, silently, when the part is installed; otherwise status 0 and, on
# stdout, why it is not, in plain words.
part_missing() {
  local missing
  # shellcheck disable=SC2046 # a list of package names
  missing=$(missing_packages $(part_packages "$1"))
  [ -n "$missing" ] || return 1
  if [ -s "$parts_dir/$1" ]; then
    cat "$parts_dir/$1"
  else
    echo "$(part_title "$1") is not installed (missing:$missing)"
  fi
}
