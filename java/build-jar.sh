#!/bin/sh
# Assembles the client jar: the Java classes and the native libraries of every platform, in the
# folders where NativeLoader looks for them.
#   java/build-jar.sh [LINUX_BUILD] [WIN32_BUILD] [OUT_JAR]
# Defaults: build/linux build/win32 dist/orvanta-natives.jar. Both builds must be done. The Linux
# build is the real backend (preset linux); the simulated machine never goes into the jar.
set -eu

linux=${1:-build/linux}
win32=${2:-build/win32}
out=${3:-dist/orvanta-natives.jar}

classes=$linux/java/orvanta_classes.jar
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# natives FOLDER BUILD FILE...: copies the files and lists them in the folder's index.
natives() {
    dir=$stage/natives/$1
    from=$2/bin
    shift 2
    mkdir -p "$dir"
    for file in "$@"; do
        if [ ! -f "$from/$file" ]; then
            echo "build-jar: missing $from/$file" >&2
            exit 1
        fi
        cp "$from/$file" "$dir/"
        echo "$file" >>"$dir/index"
    done
}

[ -f "$classes" ] || { echo "build-jar: missing $classes" >&2; exit 1; }
classes=$(realpath "$classes")
(cd "$stage" && jar --extract --file "$classes")
rm -rf "$stage/META-INF"

natives windows-x86 "$win32" Voxcap.dll Deskcap.dll
# The Linux libraries find the real backend beside them (RPATH $ORIGIN).
natives linux-x86_64 "$linux" libwinhost-linux.so libVoxcap.so libDeskcap.so

mkdir -p "$(dirname "$out")"
rm -f "$out"
jar --create --file "$out" -C "$stage" .
echo "build-jar: $out"
