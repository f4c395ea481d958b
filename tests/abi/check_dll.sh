#!/bin/sh
# Checks a shipped DLL the way the Java VM and Windows will see it.
# usage: check_dll.sh <objdump> <nm> <dll> "<exports>" "<imported DLLs>" "<stdcall symbols>" <objects...>
#   exports:        the exact set of exported names
#   imported DLLs:  the exact set of DLLs it may import from (case-insensitive)
#   stdcall symbols: names the objects must define with their @N suffix, proving __stdcall
set -u
objdump=$1 nm=$2 dll=$3
# CMake passes lists with semicolons.
exports=$(echo "$4" | tr ';' ' ') imports=$(echo "$5" | tr ';' ' ') stdcall=$(echo "$6" | tr ';' ' ')
shift 6
failed=0
fail() { echo "FAIL: $*"; failed=1; }
# Export names are case-sensitive; DLL names are not.
sorted() { LC_ALL=C sort -u; }
upper_sorted() { tr 'a-z' 'A-Z' | LC_ALL=C sort -u; }
words() { printf '%s\n' $1; }

dump=$("$objdump" -p "$dll") || { echo "FAIL: cannot read $dll"; exit 1; }

actual=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sorted)
[ "$actual" = "$(words "$exports" | sorted)" ] || fail "exports are [$actual], expected [$exports]"

actual=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | upper_sorted)
[ "$actual" = "$(words "$imports" | upper_sorted)" ] || fail "imports are [$actual], expected [$imports]"

"$objdump" -f "$dll" | grep -q 'file format pei-i386' || fail "not a 32-bit x86 PE image"
characteristics=$(printf '%s\n' "$dump" | sed -n 's/^DllCharacteristics[[:space:]]*//p')
[ $(( 0x$characteristics & 0x0140 )) -eq $(( 0x0140 )) ] || fail "DllCharacteristics $characteristics lack DYNAMIC_BASE|NX_COMPAT"

defined=$("$nm" --defined-only $(printf '%s ' "$@" | tr ';' ' ') | awk '{print $3}')
for symbol in $stdcall; do
  printf '%s\n' "$defined" | grep -qx "_$symbol" || fail "objects do not define _$symbol (not __stdcall?)"
done

[ $failed -eq 0 ] && echo "ok: $dll"
exit $failed
