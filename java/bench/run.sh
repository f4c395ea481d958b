#!/bin/sh
# Java-side benchmark: java/bench/run.sh [BUILD] (default build/linux). Needs DISPLAY and PULSE_SERVER.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build/linux}")
classes=$build/java/orvanta_classes.jar
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
javac --release 8 -Xlint:all,-options -Werror -d "$work" -cp "$classes" "$here/JavaSideBench.java"
java -Djava.library.path="$build/bin" -cp "$classes:$work" JavaSideBench
