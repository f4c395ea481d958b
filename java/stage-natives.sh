#!/bin/sh
# Stages the native libraries of every platform in the folders where NativeLoader looks for them,
# for the Maven project to put in the jar (its resource folder natives.stage).
#   java/stage-natives.sh LINUX_BUILD LINUX_AARCH64_BUILD WIN32_BUILD WIN64_BUILD WIN_ARM64_BUILD STAGE
# All builds must be done. The Linux builds are the real backend (presets linux, linux-aarch64);
# the simulated machine never goes into the jar.
set -eu
[ $# = 6 ] || { echo "usage: stage-natives.sh LINUX LINUX_AARCH64 WIN32 WIN64 WIN_ARM64 STAGE" >&2; exit 2; }
linux=$1 linux_aarch64=$2 win32=$3 win64=$4 win_arm64=$5 stage=$6

rm -rf "$stage"
mkdir -p "$stage/natives"

# natives FOLDER FROM FILE...: copies the files out of FROM and lists them in the folder's index.
natives() {
    dir=$stage/natives/$1
    from=$2
    shift 2
    mkdir -p "$dir"
    for file in "$@"; do
        if [ ! -f "$from/$file" ]; then
            echo "stage-natives: missing $from/$file" >&2
            exit 1
        fi
        cp "$from/$file" "$dir/"
        echo "$file" >>"$dir/index"
    done
    echo "$(basename "$dir")" >>"$stage/natives/index"
}

natives windows-x86 "$win32/bin" Voxcap.dll Deskcap.dll
natives windows-x86_64 "$win64/bin" Voxcap.dll Deskcap.dll
natives windows-aarch64 "$win_arm64/bin" Voxcap.dll Deskcap.dll
# The Linux libraries find the real backend beside them (RPATH $ORIGIN); they ship stripped.
natives linux-x86_64 "$linux/bin/stripped" libwinhost-linux.so libVoxcap.so libDeskcap.so
natives linux-aarch64 "$linux_aarch64/bin/stripped" libwinhost-linux.so libVoxcap.so libDeskcap.so
