#!/bin/sh
# Compares ScreenCapture with java.awt.Robot on one X screen, against the real Linux backend.
#   java/run-screen-test.sh [LINUX_BUILD]     (default build/linux)
# Uses $DISPLAY when set, otherwise starts its own Xvfb. Ends with "N passed, N failed".
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build/linux}")
junit=/usr/share/java/junit-platform-console-standalone.jar
classes=$build/java/orvanta_classes.jar
for f in "$junit" "$classes" "$build/bin/libDeskcap.so"; do
    [ -f "$f" ] || { echo "run-screen-test: missing $f" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb=
trap '[ -n "$xvfb" ] && kill "$xvfb"; rm -rf "$work"' EXIT
if [ -z "${DISPLAY:-}" ]; then
    display=:$((90 + $$ % 100))
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb=$!
    export DISPLAY="$display"
    for _ in $(seq 100); do [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
fi

mkdir "$work/classes"
javac --release 8 -Xlint:all,-options -Werror -d "$work/classes" -cp "$classes:$junit" \
    "$here/tests/com/velk/orvanta/content/client/JvmTestMain.java" \
    "$here/tests/com/velk/orvanta/content/client/appshare/RobotComparisonTest.java"
java -Xcheck:jni -Djava.library.path="$build/bin" -cp "$classes:$work/classes:$junit" \
    com.velk.orvanta.content.client.JvmTestMain com.velk.orvanta.content.client.appshare.RobotComparisonTest
