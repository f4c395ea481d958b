#!/bin/sh
# Builds and runs the Java demo against the host build: a few seconds from the microphone to a
# WAV file and the screen to a PNG file.
#   java/run-demo.sh [HOST_BUILD] [OUT_DIR] [SECONDS]    (defaults: build/host out/demo/java 3)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
host=$(realpath "${1:-build/host}")
out=${2:-out/demo/java}
seconds=${3:-3}
classes=$host/java/orvanta_classes.jar
[ -f "$classes" ] || { echo "run-demo: missing $classes" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
javac --release 8 -Xlint:all,-options -Werror -d "$work" -cp "$classes" \
    "$here/demo/com/velk/orvanta/content/client/demo/CaptureDemo.java"
java -Djava.awt.headless=true -Djava.library.path="$host/bin" -cp "$classes:$work" \
    com.velk.orvanta.content.client.demo.CaptureDemo "$out" "$seconds"
