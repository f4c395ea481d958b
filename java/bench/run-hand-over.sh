#!/bin/sh
# The hand-over benchmark in a real JVM: java/bench/run-hand-over.sh [HOST_BUILD] (default
# build/host). Runs the host build's libraries on its simulated machine, scripted from Java the
# way the JVM tests script it; no devices needed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build/host}")
classes=$build/java/orvanta_classes.jar
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
javac --release 8 -Xlint:all,-options -Werror -d "$work" -cp "$classes" "$here/HandOverBench.java" \
    "$here/../tests/com/velk/orvanta/content/client/audio/SimulatedMachine.java"
java -Djava.library.path="$build/bin" -cp "$classes:$work" com.velk.orvanta.content.client.audio.HandOverBench
