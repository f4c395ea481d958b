#!/bin/sh
# Assembles the client jar: the Java classes and the native libraries of every platform, in the
# folders where NativeLoader looks for them.
#   java/build-jar.sh [LINUX_BUILD] [LINUX_AARCH64_BUILD] [WIN32_BUILD] [WIN64_BUILD] [OUT_JAR]
# Defaults: build/linux build/linux-aarch64 build/win32 build/win64 dist/orvanta-natives.jar. All
# builds must be done. The Linux builds are the real backend (presets linux, linux-aarch64); the
# simulated machine never goes into the jar.
set -eu

linux=${1:-build/linux}
linux_aarch64=${2:-build/linux-aarch64}
win32=${3:-build/win32}
win64=${4:-build/win64}
out=${5:-dist/orvanta-natives.jar}

classes=$linux/java/orvanta_classes.jar
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# natives FOLDER FROM FILE...: copies the files out of FROM and lists them in the folder's index.
natives() {
    dir=$stage/natives/$1
    from=$2
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
    echo "$(basename "$dir")" >>"$stage/natives/index"
}

[ -f "$classes" ] || { echo "build-jar: missing $classes" >&2; exit 1; }
classes=$(realpath "$classes")
(cd "$stage" && jar --extract --file "$classes")
# The class jar's META-INF/services stays; its manifest is replaced below.
rm -f "$stage/META-INF/MANIFEST.MF"

natives windows-x86 "$win32/bin" Voxcap.dll Deskcap.dll
natives windows-x86_64 "$win64/bin" Voxcap.dll Deskcap.dll
# The Linux libraries find the real backend beside them (RPATH $ORIGIN); they ship stripped.
natives linux-x86_64 "$linux/bin/stripped" libwinhost-linux.so libVoxcap.so libDeskcap.so
natives linux-aarch64 "$linux_aarch64/bin/stripped" libwinhost-linux.so libVoxcap.so libDeskcap.so

# Packaging: the manifest names the module and the version (the version also names the folder
# the natives are extracted to); the sources and their javadoc go beside the jar.
version=${ORVANTA_VERSION:-1.0.0}
src=$(cd "$(dirname "$0")" && pwd)/src
meta=$(mktemp -d)
trap 'rm -rf "$stage" "$meta"' EXIT
printf '%s\n' "Automatic-Module-Name: com.velk.orvanta.content.client" \
    "Implementation-Title: Orvanta native client libraries" "Implementation-Version: $version" >"$meta/MANIFEST.MF"
echo "$version" >"$stage/natives/version"
base=${out%.jar}
mkdir -p "$(dirname "$out")"
rm -f "$out" "$base-sources.jar" "$base-javadoc.jar"
jar --create --file "$out" --manifest "$meta/MANIFEST.MF" -C "$stage" .
jar --create --file "$base-sources.jar" --manifest "$meta/MANIFEST.MF" -C "$src" .
find "$src" -name '*.java' >"$meta/sources"
javadoc -quiet --release 8 -Xdoclint:all,-missing -Werror -d "$meta/javadoc" @"$meta/sources" >"$meta/javadoc.log" 2>&1 || { cat "$meta/javadoc.log" >&2; exit 1; }
jar --create --file "$base-javadoc.jar" -C "$meta/javadoc" .
echo "build-jar: $out, $(basename "$base")-sources.jar, $(basename "$base")-javadoc.jar (version $version)"
