#!/bin/sh
# Runs one Java benchmark in a real JVM against a build's libraries:
#   java/bench/run.sh BUILD MAIN_CLASS SOURCE...
# HandOverBench takes the host build (its simulated machine, scripted from Java as the JVM tests
# script it); JavaSideBench the Linux build, with DISPLAY and PULSE_SERVER set.
set -eu
build=$(realpath "$1")
main=$2
shift 2
classes=$build/java/orvanta_classes.jar
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
javac --release 8 -Xlint:all,-options -Werror -d "$work" -cp "$classes" "$@"
java -Djava.library.path="$build/bin" -cp "$classes:$work" "$main"
