#!/bin/bash
# screen_bench.sh [LINUX_BUILD] [WIDTHxHEIGHT]: runs screen_bench (default build/linux) on a
# private Xvfb of that size (default 1920x1080) and prints its figures, one "name key=value..."
# line each.
set -euo pipefail

build=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build/linux}
size=${2:-1920x1080}
# A display no server answers for, abstract sockets of other mount namespaces included.
display=$((200 + $$ % 500))
while [ -e "/tmp/.X$display-lock" ] || grep -q "@/tmp/.X11-unix/X$display\$" /proc/net/unix; do display=$((display + 1)); done
ready=$(mktemp)
Xvfb ":$display" -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$ready" 2>/dev/null &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -f "$ready"' EXIT
for _ in $(seq 300); do [ -s "$ready" ] && break; sleep 0.1; done
[ -s "$ready" ] || { echo "screen_bench.sh: Xvfb did not start" >&2; exit 1; }
DISPLAY=":$display" "$build/bin/screen_bench"
