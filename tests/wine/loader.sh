# loader.sh, sourced: decides which Wine loader and wineserver run our Windows programs, and
# whether x86 ones can run at all. Every script that starts Wine takes the answer from here.
#
# Some of our machines' kernels refuse every 32-bit x86 program with "Exec format error"
# (ENOEXEC), although wine32:i386 installs without complaint; others run them, and which kind a
# run gets is chance. On the refusing kind /usr/bin/wine still tries the 32-bit loader first and
# fails even for 64-bit programs and for creating a 64-bit prefix, while /usr/lib/wine/wine64
# with /usr/lib/wine/wineserver64 works. So we find out by running Wine's 32-bit loader once,
# rather than guessing from uname or the package list. Where the package mirror could not give
# wine32:i386 at all, tools/bootstrap.sh said why, and that is the answer.
#
# Sets and exports:
#   WINE             the loader to start a Windows program with
#   WINE_SERVER      the wineserver, to wait for (-w) or stop (-k) a prefix's programs
#   WINE_X86_REFUSED empty where x86 programs run; otherwise why they cannot, in plain words
#   WINE_MACHINE     empty: this Wine runs the machine's own x86 and x86-64 programs
# A run that already has the answer (a parent script asked) keeps it; a WINE of the user's own
# (winetricks reads one) is no answer and is replaced. Arm64 programs take use_wine_arm64 first.

if [ -z "${WINE_X86_REFUSED+set}" ]; then
  # Only a refusal by the kernel, or x86 Wine that the bootstrap could not install, counts as
  # "cannot run"; any other failure is left to show itself loudly when the 32-bit loader is used.
  source "$(dirname "${BASH_SOURCE[0]}")/../../tools/packages.sh"
  if not_installed=$(part_missing wine-x86); then
    refusal=$not_installed
  elif ! probe=$(LC_ALL=C /usr/lib/wine/wine --version 2>&1) && [[ $probe == *"Exec format error"* ]]; then
    refusal="this machine's kernel cannot run 32-bit x86 programs (/usr/lib/wine/wine: Exec format error)"
  fi
  if [ -z "${refusal:-}" ]; then
    WINE=wine WINE_SERVER=wineserver WINE_X86_REFUSED=
  else
    # As Debian's own wine script does where only wine64 is installed: programs that Wine starts
    # itself (wineboot's helpers, notepad) are started by the 64-bit loader too.
    WINE=/usr/lib/wine/wine64 WINE_SERVER=/usr/lib/wine/wineserver64 WINELOADER=/usr/lib/wine/wine64
    WINE_X86_REFUSED=$refusal
    export WINELOADER
  fi
  WINE_MACHINE=
  unset probe not_installed refusal
  export WINE WINE_SERVER WINE_X86_REFUSED WINE_MACHINE
fi

# use_wine_arm64: for arm64 programs, where Debian's arm64 Wine can run under qemu here
# (tests/wine/arm64.sh unpacks it once), WINE, WINE_SERVER and WINELOADER become its loader and
# wineserver, WINE_MACHINE becomes arm64 and the status is 0; otherwise WINE_ARM64_REFUSED says
# why, the status is 1 and the rest stays as it was. The answer holds for the rest of the run, and
# for the scripts that it starts.
use_wine_arm64() {
  local loader
  if ! loader=$("$(dirname "${BASH_SOURCE[0]}")/arm64.sh" --check); then
    WINE_ARM64_REFUSED=$loader
    export WINE_ARM64_REFUSED
    return 1
  fi
  WINE=$loader WINE_SERVER=${loader%/*}/wineserver WINELOADER=$loader WINE_MACHINE=arm64 WINE_ARM64_REFUSED=
  export WINE WINE_SERVER WINELOADER WINE_MACHINE WINE_ARM64_REFUSED
}
