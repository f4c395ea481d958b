#!/bin/sh
# Checks that shipped Linux libraries load on any glibc since FLOOR, beside any C++ runtime: they
# name no glibc version above FLOOR, need no C++ runtime (no libstdc++ or libgcc_s, no GLIBCXX,
# CXXABI or GCC versions), export none of its symbols, are stripped, and look for libraries
# nowhere but their own folder and the system's (an RPATH or RUNPATH of exactly $ORIGIN, or none).
# usage: check_portable_so.sh <readelf> <floor> <library>...
set -u
readelf=$1 floor=$2
shift 2
status=0
fail() { echo "FAIL: $lib: $*"; status=1; }
for lib in "$@"; do
  versions=$("$readelf" -V -W "$lib" | sed -n 's/.*Name: \([A-Z_]*[0-9.]*\) .*/\1/p' | sort -u)
  for v in $versions; do
    case $v in
      GLIBC_2.*)
        n=${v#GLIBC_}
        [ "$(printf '%s\n%s\n' "$n" "$floor" | sort -V | tail -n 1)" = "$floor" ] || fail "needs $v, above $floor" ;;
      GLIBC_PRIVATE) fail "needs glibc's private interface" ;;
      *) fail "needs $v" ;;
    esac
  done
  "$readelf" -d -W "$lib" | grep -Eo 'Shared library: \[(libstdc\+\+|libgcc_s)[^]]*\]' | while read -r line; do
    echo "FAIL: $lib: $line"
    exit 1
  done || status=1
  runtime=$("$readelf" --dyn-syms -W "$lib" | awk '$7 != "UND" && ($5 == "GLOBAL" || $5 == "WEAK") {print $8}' |
    grep -E '^(_Z(GVZ|T[ISV]|Z)?N?K?(St|9__gnu_cxx|10__cxxabiv1)|_Zn[wa]|_Zd[la]|__cxa_|__gxx_|_Unwind_|__gcc_)')
  [ -z "$runtime" ] || fail "exports C++ runtime symbols: $(echo $runtime | cut -c1-200)"
  "$readelf" -S -W "$lib" | grep -q ' \.symtab ' && fail "is not stripped"
  "$readelf" -d -W "$lib" | sed -n 's/.*(\(RPATH\|RUNPATH\)).*: \[\(.*\)\]$/\1 \2/p' | while read -r tag path; do
    [ "$path" = '$ORIGIN' ] || { echo "FAIL: $lib: $tag [$path]: only \$ORIGIN may be searched"; exit 1; }
  done || status=1
  [ "$status" = 0 ] && echo "ok: $lib"
done
exit $status
