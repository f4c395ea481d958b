#!/bin/sh
# Compares ScreenCapture with java.awt.Robot on one X screen, against the real Linux backend.
#   java/run-screen-test.sh [--wayland] [LINUX_BUILD]     (default build/linux)
# Needs an X screen in $DISPLAY: `make test` runs it inside tests/env/devices.sh. With --wayland
# it runs WaylandScreenTest instead, on the desktop of devices.sh --wayland '#ff8000'. Ends with
# "N passed, N failed".
set -eu

here=$(cd "$(dirname "$0")" && pwd)
test=RobotComparisonTest
if [ "${1:-}" = --wayland ]; then
    test=WaylandScreenTest
    shift
fi
build=$(realpath "${1:-build/linux}")
junit=/usr/share/java/junit-platform-console-standalone.jar
classes=$build/java/orvanta_classes.jar
for f in "$junit" "$classes" "$build/bin/libDeskcap.so"; do
    [ -f "$f" ] || { echo "run-screen-test: missing $f" >&2; exit 1; }
done

[ -n "${DISPLAY:-}" ] || [ $test = WaylandScreenTest ] || { echo "run-screen-test: needs an X screen in DISPLAY" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/classes"
javac --release 8 -Xlint:all,-options -Werror -d "$work/classes" -cp "$classes:$junit" \
    "$here/tests/com/velk/orvanta/content/client/JvmTestMain.java" \
    "$here/tests/com/velk/orvanta/content/client/appshare/$test.java"
java -Xcheck:jni -Djava.library.path="$build/bin" -cp "$classes:$work/classes:$junit" \
    com.velk.orvanta.content.client.JvmTestMain com.velk.orvanta.content.client.appshare.$test
