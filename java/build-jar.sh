#!/bin/sh
# Assembles the client jar: the Java classes and the native libraries of every platform, in the
# folders where NativeLoader looks for them.
#   java/build-jar.sh [HOST_BUILD] [WIN32_BUILD] [OUT_JAR]
# Defaults: build/host build/win32 dist/orvanta-natives.jar. Both builds must be done.
set -eu

host=${1:-build/host}
win32=${2:-build/win32}
out=${3:-dist/orvanta-natives.jar}

classes=$host/java/orvanta_classes.jar
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
# The Linux libraries find the simulated machine beside them (RPATH $ORIGIN).
natives linux-x86_64 "$host" libwinhost-dummy.so libVoxcap.so libDeskcap.so

mkdir -p "$(dirname "$out")"
rm -f "$out"
jar --create --file "$out" -C "$stage" .
echo "build-jar: $out"
