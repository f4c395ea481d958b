#!/bin/sh
# Checks a shipped DLL the way the Java VM and Windows will see it.
# usage: check_dll.sh <llvm-objdump> <llvm-nm> <x86|x86-64|arm64> <dll> "<exports>" "<imported DLLs>" "<stdcall symbols>" <objects...>
#   x86|x86-64|arm64: the machine: a PE32 i386 image, or a PE32+ x86-64 or ARM64 one that also has
#                   HIGH_ENTROPY_VA
#   exports:        the exact set of exported names
#   imported DLLs:  the exact set of DLLs it may import from (case-insensitive); the objects may call
#                   no function that loads another DLL
#   stdcall symbols: names the objects must define with their @N suffix, proving __stdcall
set -u
objdump=$1 nm=$2 machine=$3 dll=$4
# CMake passes lists with semicolons.
exports=$(echo "$5" | tr ';' ' ') imports=$(echo "$6" | tr ';' ' ') stdcall=$(echo "$7" | tr ';' ' ')
shift 7
failed=0
fail() { echo "FAIL: $*"; failed=1; }
# Export names are case-sensitive; DLL names are not.
sorted() { LC_ALL=C sort -u; }
upper_sorted() { tr 'a-z' 'A-Z' | LC_ALL=C sort -u; }
words() { printf '%s\n' $1; }

dump=$("$objdump" -p "$dll") || { echo "FAIL: cannot read $dll"; exit 1; }

actual=$(printf '%s\n' "$dump" | sed -n '/^Export Table:/,/^$/p' | awk 'NF == 3 && $2 ~ /^0x/ { print $3 }' | sorted)
[ "$actual" = "$(words "$exports" | sorted)" ] || fail "exports are [$actual], expected [$exports]"

actual=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | upper_sorted)
[ "$actual" = "$(words "$imports" | upper_sorted)" ] || fail "imports are [$actual], expected [$imports]"

# DllCharacteristics: DYNAMIC_BASE 0x40, NX_COMPAT 0x100, HIGH_ENTROPY_VA 0x20.
case $machine in
  x86) format=coff-i386 magic=010b flags=0x0140 ;;
  x86-64) format=coff-x86-64 magic=020b flags=0x0160 ;;
  arm64) format=coff-arm64 magic=020b flags=0x0160 ;;
  *) echo "FAIL: unknown machine $machine"; exit 1 ;;
esac
"$objdump" -f "$dll" | grep -q "file format $format\$" || fail "not a $machine PE image ($format)"
printf '%s\n' "$dump" | grep -q "^Magic[[:space:]]*$magic" || fail "optional header magic is not $magic"
characteristics=$(printf '%s\n' "$dump" | sed -n 's/^DllCharacteristics[[:space:]]*//p')
[ $(( 0x$characteristics & flags )) -eq $(( flags )) ] || fail "DllCharacteristics $characteristics lack $flags"

defined=$("$nm" --defined-only $(printf '%s ' "$@" | tr ';' ' ') | awk '{print $3}')
# Nor does our code load a DLL by name once running, which a planted file could answer. (The x86
# DLLs import LoadLibraryA for GCC's crtbegin.o, which asks for libgcc_s_dw2-1.dll only once
# GetModuleHandleA found it already in the process: that loads nothing from disk.)
loaders=$("$nm" --undefined-only $(printf '%s ' "$@" | tr ';' ' ') | grep -Eo '(LoadLibrary|LoadPackagedLibrary|LoadModule)[A-Za-z]*' | sort -u | tr '\n' ' ')
[ -z "$loaders" ] || fail "loads DLLs at run time: $loaders"
for symbol in $stdcall; do
  printf '%s\n' "$defined" | grep -qx "_$symbol" || fail "objects do not define _$symbol (not __stdcall?)"
done

[ $failed -eq 0 ] && echo "ok: $dll"
exit $failed
