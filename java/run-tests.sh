#!/bin/sh
# Runs the client jar's tests in real JVMs with -Xcheck:jni, in the test environment
# (tests/env/devices.sh), with java.library.path elsewhere: on this machine's JDK, in an emulated
# arm64 JVM, and on each JDK a Debian release packages (tests/env/debian-root.sh). The unit tests
# against the simulated machine run through Maven (make test-java).
#   java/run-tests.sh [TEST_CLASSES] [JAR]     (defaults: build/java/test-classes dist/orvanta-natives.jar)
# Ends with each run's count and "N passed, N failed"; exits non-zero on any failure or JNI warning.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
tests=$(realpath "${1:-build/java/test-classes}")
jar=$(realpath "${2:-dist/orvanta-natives.jar}")
junit=/usr/share/java/junit-platform-console-standalone.jar
for f in "$junit" "$jar" "$tests/com/velk/orvanta/content/client/JvmTestMain.class"; do
    [ -e "$f" ] || { echo "run-tests: missing $f" >&2; exit 1; }
done

# Under /tmp, which the Debian systems share.
work=$(mktemp -d /tmp/run-tests.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/empty"
cp -r "$tests" "$work/classes"
cp "$jar" "$junit" "$work/"
jar=$work/$(basename "$jar") junit=$work/$(basename "$junit")

passed=0
failed=0
: >"$work/failures"
: >"$work/counts"
# run NAME LAUNCHER CLASSPATH LIBRARY_PATH TEST_CLASS...: LAUNCHER runs the JVM ("" for none).
run() {
    name=$1 launcher=$2 classpath=$3 libpath=$4
    shift 4
    echo "== $name"
    status=0
    # A crash report goes to the temporary directory, not into the source tree.
    $launcher java -Xcheck:jni -XX:ErrorFile="${TMPDIR:-/tmp}/orvanta-hs_err_%p.log" -Djava.library.path="$libpath" \
        -cp "$classpath:$work/classes:$junit" com.velk.orvanta.content.client.JvmTestMain "$@" \
        >"$work/log" 2>&1 || status=$?
    cat "$work/log"
    # The summary need not be the last line: the environment may report after the JVM (a server
    # that a test killed, say).
    counts=$(sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$work/log" | tail -n 1)
    sed -n "s|^FAILED |  $name: |p" "$work/log" >>"$work/failures"
    if [ -z "$counts" ]; then
        echo "run-tests: $name did not finish" >&2
        echo "  $name: did not finish (exit status $status)" >>"$work/failures"
        counts="0 1"
    fi
    set -- $counts
    echo "  $name: $1 passed, $2 failed" >>"$work/counts"
    passed=$((passed + $1))
    failed=$((failed + $2))
    if grep -q 'in native method' "$work/log"; then
        echo "run-tests: $name: the JNI checker complained" >&2
        echo "  $name: the JNI checker complained" >>"$work/failures"
        failed=$((failed + 1))
    elif [ "$status" != 0 ] && [ "$2" = 0 ]; then
        echo "  $name: exit status $status, though no test failed" >>"$work/failures"
        failed=$((failed + 1))
    fi
}

run "natives from the jar, real devices" "$here/../tests/env/devices.sh --tone 7 --" "$jar" "$work/empty" \
    com.velk.orvanta.content.client.natives.JarLoadingTest \
    com.velk.orvanta.content.client.natives.ExtractionTest \
    com.velk.orvanta.content.client.natives.ClassLoadersTest \
    com.velk.orvanta.content.client.audio.JavaSoundRecordingTest \
    com.velk.orvanta.content.client.audio.SilentSourceTest \
    com.velk.orvanta.content.client.appshare.PaintedScreenTest
run "natives from the jar, no sound server" "$here/../tests/env/devices.sh --no-sound --" "$jar" "$work/empty" \
    com.velk.orvanta.content.client.audio.NoMicrophoneTest
# Its sound server dies and does not come back, so it has devices of its own.
run "natives from the jar, a sound server that dies" "$here/../tests/env/devices.sh --tone 7 --" "$jar" "$work/empty" \
    com.velk.orvanta.content.client.audio.SoundServerDeathTest

# The same jar in an arm64 JVM, emulated: its linux-aarch64 natives against the same servers. Java
# runs 6-8x slower there, so this is the chosen few: the tone without a break, the loader's choice,
# a pixel-exact grab, and no sound server.
skipped=0
if reason=$("$here/../tests/env/arm64.sh" --check); then
    run "natives from the jar, real devices, arm64 JVM (emulated)" \
        "$here/../tests/env/devices.sh --tone 7 -- $here/../tests/env/arm64.sh" "$jar" "$work/empty" \
        com.velk.orvanta.content.client.natives.JarLoadingTest \
        com.velk.orvanta.content.client.appshare.PaintedScreenTest
    run "natives from the jar, no sound server, arm64 JVM (emulated)" \
        "$here/../tests/env/devices.sh --no-sound -- $here/../tests/env/arm64.sh" "$jar" "$work/empty" \
        com.velk.orvanta.content.client.audio.NoMicrophoneTest
else
    echo "SKIPPED natives from the jar, arm64 JVM (emulated): $reason"
    skipped=$((skipped + 1))
fi

# The same jar on each JDK a Debian release packages, in that release (tests/env/debian-root.sh):
# Debian 11 is also the oldest system we build for (glibc 2.31, the GCC 10 C++ runtime).
# debian SUITE JDK TEST_CLASS...
debian() {
    suite=$1 version=$2
    shift 2
    if reason=$("$here/../tests/env/debian-root.sh" "$suite" --java "$version" --check); then
        run "natives from the jar, real devices, $suite, JDK $version" \
            "$here/../tests/env/devices.sh --tone 7 -- $here/../tests/env/debian-root.sh $suite --java $version" \
            "$jar" "$work/empty" "$@"
    else
        echo "SKIPPED natives from the jar, $suite, JDK $version: $reason"
        skipped=$((skipped + 1))
    fi
}
everywhere="com.velk.orvanta.content.client.natives.JarLoadingTest
    com.velk.orvanta.content.client.audio.JavaSoundRecordingTest
    com.velk.orvanta.content.client.natives.ClassLoadersTest"
debian bullseye 11 $everywhere
debian bullseye 17 $everywhere \
    com.velk.orvanta.content.client.natives.OlderCxxRuntimeTest \
    com.velk.orvanta.content.client.audio.SilentSourceTest \
    com.velk.orvanta.content.client.appshare.RobotComparisonTest
debian trixie 21 $everywhere
debian trixie 25 $everywhere com.velk.orvanta.content.client.natives.NativeAccessTest

# Last, so that a log cut to its tail still says what failed.
if [ -s "$work/failures" ]; then
    echo "Failed:"
    cat "$work/failures"
fi
echo "Counts:"
cat "$work/counts"
echo "$passed passed, $failed failed$([ "$skipped" = 0 ] || echo ", $skipped skipped")"
[ "$failed" = 0 ]
