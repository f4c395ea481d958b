#!/bin/sh
# Uses the client as an application would, in the test environment (tests/env/devices.sh):
# the consumer project here is built against com.velk.orvanta:orvanta-natives:VERSION from the
# Maven repository folder REPOSITORY alone (a local repository of its own, nothing else of ours),
# and its test records and grabs; then the application runs from the module path, and from a
# runtime image that jlink makes of the two modules.
#   java/consumer/run.sh REPOSITORY VERSION
# Ends with "N passed, N failed"; exits non-zero on a failure.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repository=$(realpath "$1")
version=$2
out=$here/../../build/consumer
devices="$here/../../tests/env/devices.sh --tone 7 --"
main=com.velk.orvanta.consumer/com.velk.orvanta.consumer.RecordAndGrab
jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")

rm -rf "$out"
mkdir -p "$out"
export M2="$out/m2"
passed=0
failed=0
# step NAME COMMAND...: runs one way of using the client, for at most 10 minutes.
step() {
    name=$1
    shift
    echo "== $name"
    if timeout 600 "$@"; then passed=$((passed + 1)); else echo "FAILED $name"; failed=$((failed + 1)); fi
}

step "a Maven project depending on com.velk.orvanta:orvanta-natives:$version" \
    $devices "$here/../mvn.sh" -q -f "$here/pom.xml" -Dorvanta.repository="file://$repository" \
    -Dorvanta.version="$version" -Dconsumer.build="$out/maven" package
client=$M2/com/velk/orvanta/orvanta-natives/$version/orvanta-natives-$version.jar
app=$out/maven/orvanta-consumer-1.jar
step "the application on the module path" $devices java --module-path "$client:$app" -m $main
step "a jlink image of the application" jlink --module-path "$jdk/jmods:$client:$app" \
    --add-modules com.velk.orvanta.consumer --strip-debug --no-header-files --no-man-pages --output "$out/image"
[ ! -d "$out/image" ] || echo "image: $(du -sh "$out/image" | cut -f1)"
step "the application in its jlink image" $devices "$out/image/bin/java" -m $main
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
