#!/bin/bash
# demo.sh [BIN_DIR] [OUT_DIR]: runs capture-demo.exe from BIN_DIR (default dist/win32; dist/win64
# holds the 64-bit one, dist/win-arm64 the ARM64 one, which runs on arm64 Wine under qemu) on Wine,
# with the virtual microphone speaking a phrase and Notepad on the virtual screen. Writes voice.wav
# and screen.png to OUT_DIR (default out/demo/ and the name of BIN_DIR). The phrase repeats every
# 4 to 5 s; 8 s of recording hold it whole. An x86 build on a machine that cannot run x86
# programs, or an ARM64 one where arm64 Wine cannot be had, is skipped with the reason, and that
# is no failure.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tests/wine/loader.sh"
phrase="Hello from Voxcap. This is the virtual microphone speaking."

if [ "${1:-}" = --in-environment ]; then
  # Inside tests/wine/env.sh: put something on the screen, then run the demo in the output folder.
  bin=$2 out=$3
  printf '%s\r\n' "Deskcap grabbed this screen." "" "Voxcap recorded: \"$phrase\"" >"$WINE_ENV_DIR/demo.txt"
  "$WINE" notepad "$WINE_ENV_DIR/demo.txt" >/dev/null 2>&1 &
  sleep 5
  cd "$out"
  timeout -k 10 120 "$WINE" "$bin/capture-demo.exe" 8 2>"$WINE_ENV_DIR/wine.log" | tr -d '\r' || {
    grep -v '^ALSA lib' "$WINE_ENV_DIR/wine.log" | tail -n 20 >&2
    exit 1
  }
  exit 0
fi

bin=$(cd "${1:-$root/dist/win32}" && pwd)
out=${2:-$root/out/demo/$(basename "$bin")}
rm -rf "$out"
format=$(llvm-objdump-14 -f "$bin/capture-demo.exe" | sed -n 's/.*file format //p')
refused=
case $format in
  coff-i386) refused=$WINE_X86_REFUSED ;;
  coff-arm64) use_wine_arm64 || refused=$WINE_ARM64_REFUSED ;;
esac
if [ -n "$refused" ]; then
  echo "Skipped ${bin#"$root"/}/capture-demo.exe ($format): $refused"
  exit 0
fi
mkdir -p "$out"
out=$(cd "$out" && pwd)
echo "Running ${bin#"$root"/}/capture-demo.exe ($format) on Wine: the microphone says \"$phrase\""
"$root/tests/wine/env.sh" --speak "$phrase" -- "$0" --in-environment "$bin" "$out"
convert "$out/screen.bmp" "$out/screen.png"
rm "$out/screen.bmp"
echo "Results in ${out#"$root"/}:"
echo "  voice.wav  $(soxi -d "$out/voice.wav") of audio, $(sox "$out/voice.wav" -n stat 2>&1 | sed -n 's/^RMS *amplitude: *//p') RMS"
echo "  screen.png $(identify -format '%w x %h' "$out/screen.png") pixels"
