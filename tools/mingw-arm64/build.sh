#!/bin/bash
# build.sh [KIT]: makes the toolchain kit for Windows on ARM64 in KIT (default
# /var/cache/orvanta-tests/mingw-arm64) once, and keeps it; cmake/mingw-aarch64.cmake builds with
# it. Debian's clang and lld target aarch64-w64-mingw32, but Debian ships no C runtime for it, so
# the kit holds:
#   - the mingw-w64 C runtime and import libraries, built from Debian's own mingw-w64 source
#     package (only what our programs and clang's and CMake's default link lines name);
#   - libgcc.a with __chkstk alone (chkstk.S): there is no libgcc or compiler-rt for the target;
#   - the C++ headers of Debian's mingw-w64 g++, the libstdc++ that the x86 builds use, and as
#     libstdc++.a the little runtime that code built without exceptions calls (cxx_runtime.cpp).
# A kit made from other versions of these files is made again.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
kit=${1:-/var/cache/orvanta-tests/mingw-arm64}
target=aarch64-w64-mingw32
# What clang links by default (mingw32 moldname mingwex msvcrt advapi32 shell32 user32 kernel32),
# what CMake adds to every program, and winmm, which Voxcap needs.
libraries="mingw32 mingwex msvcrt moldname kernel32 user32 gdi32 winmm advapi32 shell32 winspool ole32
  oleaut32 uuid comdlg32"
recipe=$(cat "$0" "$here/chkstk.S" "$here/cxx_runtime.cpp" | sha256sum | cut -c1-16)

log() { echo "mingw-arm64: $*" >&2; }
complete() { [ "$(cat "$kit/.complete" 2>/dev/null)" = "$recipe" ]; }

complete && exit 0
mkdir -p "$(dirname "$kit")"
exec 9>"$kit.lock"
flock -w 1800 9 || { log "timed out waiting for $kit.lock"; exit 1; }
complete && exit 0

started=$(date +%s)
log "making the Windows on ARM64 toolchain kit in $kit (once; a few minutes)"
work=$(mktemp -d)
trap 'rm -rf "$work" "$kit.new"' EXIT
rm -rf "$kit.new"
cc=(clang-14 "--target=$target" "--sysroot=$kit.new")

# The source package, through a source list of our own, from the machine's own mirror for its
# release: the machine's apt setup is left as it was.
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
# shellcheck disable=SC2016 # apt's own format fields
mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' |
  awk -v r="$release" '$2 == r { print $1; exit }')
[ -n "$mirror" ] || { log "no package mirror for $release in this machine's apt sources"; exit 1; }
echo "deb-src $mirror $release main" >"$work/sources.list"
mkdir -p "$work/lists/partial" "$work/cache"
apt=(apt-get -q -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=-
  -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o APT::Sandbox::User=root)
"${apt[@]}" update >"$work/apt.log" 2>&1 &&
  (cd "$work" && "${apt[@]}" source --download-only mingw-w64 >>"$work/apt.log" 2>&1) ||
  { cat "$work/apt.log" >&2; log "could not fetch the mingw-w64 sources from $mirror"; exit 1; }
tar -C "$work" -xjf "$work"/mingw-w64_*.orig.tar.bz2 --wildcards '*/mingw-w64-crt/*'
crt=$(echo "$work"/mingw-w64-*/mingw-w64-crt)

# Headers: the system's mingw-w64 headers; libstdc++'s from g++, its configuration being that of
# the x86-64 target, which is the same C library and thread model.
lib=$kit.new/$target/lib cxx=$kit.new/$target/include/c++
mkdir -p "$lib" "$(dirname "$cxx")"
ln -s /usr/share/mingw-w64/include "$kit.new/include"
gxx_include=$(dirname "$(x86_64-w64-mingw32-g++ -print-libgcc-file-name)")/include/c++
cp -rs "$gxx_include" "$cxx"
ln -s x86_64-w64-mingw32 "$cxx/$target"

mkdir -p "$work/build/libarm64"
printf '#!/bin/sh\nexec %s "$@"\n' "${cc[*]}" >"$work/cc"
chmod +x "$work/cc"
# shellcheck disable=SC2046 # a list of targets
(cd "$work/build" &&
  "$crt/configure" --host=$target --disable-lib32 --disable-lib64 \
    --enable-libarm64 --with-default-msvcrt=msvcrt CC="$work/cc" AR=llvm-ar-14 RANLIB=llvm-ranlib-14 \
    DLLTOOL=llvm-dlltool-14 >"$work/configure.log" 2>&1 &&
  make -j"$(nproc)" libarm64/crt2.o libarm64/dllcrt2.o $(printf 'libarm64/lib%s.a ' $libraries) \
    >"$work/make.log" 2>&1) ||
  { tail -n 30 "$work/configure.log" "$work/make.log" >&2; log "building the C runtime failed"; exit 1; }
cp "$work"/build/libarm64/{crt2.o,dllcrt2.o} "$lib/"
for name in $libraries; do cp "$work/build/libarm64/lib$name.a" "$lib/"; done

"${cc[@]}" -c "$here/chkstk.S" -o "$work/chkstk.o"
llvm-ar-14 rcs "$lib/libgcc.a" "$work/chkstk.o"
# clang names these on its link lines too. GCC's register its unwind tables and hold its unwinder;
# code without exceptions has neither, so they are empty.
llvm-ar-14 rcs "$lib/libgcc_eh.a"
llvm-ar-14 rcs "$lib/libgcc_s.a"
for object in crtbegin crtend; do "${cc[@]}" -c -xc /dev/null -o "$lib/$object.o"; done
"${cc[@]}" -xc++ -std=c++20 -O2 -Wall -Wextra -Werror -fno-exceptions -fno-rtti -c "$here/cxx_runtime.cpp" \
  -o "$work/cxx_runtime.o"
llvm-ar-14 rcs "$lib/libstdc++.a" "$work/cxx_runtime.o"

echo "$recipe" >"$kit.new/.complete"
rm -rf "$kit"
mv "$kit.new" "$kit"
log "made in $(( $(date +%s) - started )) s"
