#!/bin/sh
# Checks that a host library exports exactly the given JNI names.
# usage: check_so.sh <nm> <library> "<exports>"
set -u
nm=$1 lib=$2 exports=$(echo "$3" | tr ';' ' ')
actual=$("$nm" -D --defined-only "$lib" | awk '$2 ~ /^[TtWwDdBbRr]$/ {print $3}' | sort)
expected=$(printf '%s\n' $exports | sort)
if [ "$actual" != "$expected" ]; then
  echo "FAIL: $lib exports [$actual], expected [$expected]"
  exit 1
fi
echo "ok: $lib"
