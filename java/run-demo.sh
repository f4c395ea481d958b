#!/bin/sh
# Builds and runs the Java demo on the real Linux backend, in the test environment
# (tests/env/devices.sh): the microphone speaks a phrase and a window on the screen shows the
# demo's text. A few seconds from the microphone go to a WAV file and the screen to a PNG file.
# It runs again on a Wayland desktop with no X server (devices.sh --wayland: the screen through
# sway's screencopy, the microphone through pipewire-pulse), into OUT_DIR/wayland.
#   java/run-demo.sh [LINUX_BUILD] [OUT_DIR] [SECONDS]    (defaults: build/linux out/demo/java 6)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
phrase="Hello from Voxcap. This is the virtual microphone speaking."

if [ "${1:-}" = --in-environment ]; then
    shift
    if [ -n "${WAYLAND_DISPLAY:-}" ]; then
        exec java -Djava.awt.headless=true "$@"
    fi
    xmessage -center "Deskcap grabbed this screen. Voxcap recorded: \"$phrase\"" 2>/dev/null &
    sleep 1
    java -Djava.awt.headless=true "$@"
    status=$?
    kill $! 2>/dev/null || true
    exit $status
fi

build=$(realpath "${1:-build/linux}")
out=$(realpath -m "${2:-out/demo/java}")
seconds=${3:-6}
classes=$build/java/orvanta_classes.jar
[ -f "$classes" ] || { echo "run-demo: missing $classes" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
javac --release 8 -Xlint:all,-options -Werror -d "$work" -cp "$classes" \
    "$here/demo/com/velk/orvanta/content/client/demo/CaptureDemo.java"
echo "Running the Java demo on Linux: the microphone says \"$phrase\""
"$here/../tests/env/devices.sh" --speak "$phrase" -- "$0" --in-environment \
    -Djava.library.path="$build/bin" -cp "$classes:$work" \
    com.velk.orvanta.content.client.demo.CaptureDemo "$out" "$seconds"
echo "Running the Java demo on a Wayland desktop (no X server): the microphone says \"$phrase\""
"$here/../tests/env/devices.sh" --speak "$phrase" --screen 1024x768x24 --wayland '#3465a4' -- "$0" --in-environment \
    -Djava.library.path="$build/bin" -cp "$classes:$work" \
    com.velk.orvanta.content.client.demo.CaptureDemo "$out/wayland" "$seconds" || [ $? = 77 ]
