#!/bin/bash
# run.sh BUILD_DIR SECONDS: fuzzes each target of a host-fuzz build for SECONDS, starting from
# the corpus kept here (seeds and past crashes, all replayed first). New inputs go to a scratch
# folder; a crash stops the run, fails it, and leaves the input in the current folder as
# crash-* (add it to corpus/<target>/ with the fix, so the replay test keeps it fixed).
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: run.sh BUILD_DIR SECONDS" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
bin=$1/bin
seconds=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

status=0
for target in voxcap deskcap x_server pipewire_chunk; do
  mkdir -p "$scratch/$target"
  echo "fuzz: $target for ${seconds} s"
  "$bin/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
    "$scratch/$target" "$here/corpus/$target" >"$scratch/$target.log" 2>&1 || {
    status=1
    grep -A 30 -m 1 -E '^==[0-9]+==|^fuzz:|runtime error|ERROR: libFuzzer' "$scratch/$target.log" >&2 || tail -n 30 "$scratch/$target.log" >&2
  }
  grep -E '^stat::number_of_executed_units|^Done' "$scratch/$target.log" || true
done
exit $status
