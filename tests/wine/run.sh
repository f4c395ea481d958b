#!/bin/bash
# run.sh [BIN_DIR] [x86|x86-64|arm64]: checks the Windows build in BIN_DIR (default build/win32/bin),
# made for the given machine (default x86), as files and on Wine: the DLLs' ABI as objdump shows
# it, then the test program with the test tone on the virtual microphone, then the leak checks
# against leaks made on purpose, then again on a machine with no recording device. Prints every
# check and a final "N passed, N failed, N skipped"; the exit status is 1 when anything failed.
# Where this machine cannot run x86 programs (tests/wine/loader.sh), the x86 build's Wine runs
# are skipped, each on its own line with the reason, and so are the arm64 build's where arm64
# Wine (emulated by qemu) cannot be had; the ABI checks need no execution and run.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/loader.sh"
bin=$(cd "${1:-$here/../../build/win32/bin}" && pwd) || exit 1
machine=${2:-x86}
case $machine in
  x86) refused=$WINE_X86_REFUSED ;;
  x86-64) refused= ;;
  arm64) refused=; use_wine_arm64 || refused=$WINE_ARM64_REFUSED ;;
  *) echo "run.sh: unknown machine $machine" >&2; exit 2 ;;
esac
# LLVM's tools read the images of every Windows machine.
objdump=llvm-objdump-14 nm=llvm-nm-14
program=voxcap_deskcap_wine_tests.exe
passed=0
failed=0
skipped=0

# tally STATUS WHAT [DETAIL]
tally() {
  if [ "$1" -eq 0 ]; then
    passed=$((passed + 1))
    echo "ok     $2"
  else
    failed=$((failed + 1))
    echo "FAILED $2${3:+: $3}"
  fi
}

# Exports, imported DLLs, the machine and the security flags, by the same script as the ABI tests.
check_dll() {
  local out
  out=$("$here/../abi/check_dll.sh" "$objdump" "$nm" "$machine" "$bin/$1" "$2" "$3" "" "$bin/$1" 2>/dev/null)
  tally $? "$1: exactly the exports $(echo $2); exactly the DLLs $3; $machine; DYNAMIC_BASE; NX_COMPAT" "$(echo $out)"
}

# The functions a DLL takes from one system DLL, as a whole set.
check_imported_functions() {
  local actual expected
  actual=$("$objdump" -p "$bin/$1" | sed -n "/DLL Name: $2\$/I,/^\$/p" |
    awk 'NF == 2 && $1 ~ /^[0-9]+$/ { print $2 }' | LC_ALL=C sort)
  expected=$(printf '%s\n' $3 | LC_ALL=C sort)
  [ "$actual" = "$expected" ]
  tally $? "$1 takes exactly $(echo $3) from $2" "it takes $(echo $actual)"
}

# run_program WHAT TIMEOUT ENV_OPTION... -- PROGRAM_ARGUMENT...: the test program's checks count as
# ours; where the machine cannot run the build, the run counts as one skipped step.
run_program() {
  local what=$1 limit=$2 log errors status counts
  shift 2
  echo "== On Wine, $what"
  if [ -n "$refused" ]; then
    skipped=$((skipped + 1))
    echo "SKIPPED $program $what: $refused"
    return
  fi
  local env_options=()
  while [ "$1" != -- ]; do env_options+=("$1"); shift; done
  shift
  log=$(mktemp) errors=$(mktemp)
  WINEDEBUG=-all,err+module "$here/env.sh" "${env_options[@]}" -- \
    timeout -k 10 "$limit" "$WINE" "$bin/$program" "$@" 2>"$errors" | tr -d '\r' | tee "$log"
  status=$?
  counts=$(sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$log" | tail -n 1)
  if [ -n "$counts" ]; then
    passed=$((passed + ${counts% *}))
    failed=$((failed + ${counts#* }))
  fi
  if [ -z "$counts" ] || [ "$status" -ne 0 ]; then
    [ -n "$counts" ] && [ "${counts#* }" -gt 0 ] || tally 1 "$program $* ran to its end" "exit status $status"
    grep -v '^ALSA lib' "$errors" | tail -n 20 >&2
  fi
  rm -f "$log" "$errors"
}

echo "== ABI of the $machine DLLs in $bin"
check_dll Voxcap.dll "Java_com_velk_orvanta_content_client_audio_Voxcap_nopen
  Java_com_velk_orvanta_content_client_audio_Voxcap_nclose
  Java_com_velk_orvanta_content_client_audio_Voxcap_ngetBuffer" "KERNEL32.dll WINMM.dll msvcrt.dll"
check_dll Deskcap.dll "Java_com_velk_orvanta_content_client_appshare_Deskcap_nGrabPixels" \
  "KERNEL32.dll GDI32.dll USER32.dll msvcrt.dll"
check_imported_functions Voxcap.dll WINMM.dll "waveInOpen waveInPrepareHeader waveInUnprepareHeader
  waveInAddBuffer waveInStart waveInStop waveInReset waveInClose"
check_imported_functions Deskcap.dll GDI32.dll "CreateCompatibleDC CreateCompatibleBitmap SelectObject BitBlt
  GetDIBits DeleteObject DeleteDC"
check_imported_functions Deskcap.dll USER32.dll "GetWindowDC ReleaseDC"

run_program "with a screen and the test tone on the default recording device" 300 --tone 7 --
run_program "the leak checks catch leaks made on purpose" 300 --tone 7 -- leak-check
run_program "with no recording device" 120 --no-sound -- no-device

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
