# Sourced by the scripts that run another machine's programs under qemu-user from a folder of
# Debian packages unpacked, not installed (tests/env/arm64.sh, tests/wine/arm64.sh).

# unpack_debs FOLDER PACKAGE...: downloads the packages (NAME:ARCH, or NAME:ARCH=VERSION) and
# extracts them all into FOLDER. On failure apt's messages go to stderr and the status is 1.
unpack_debs() {
  local root=$1 deb file status=0
  shift
  deb=$(mktemp -d)
  # apt-get download writes into the current folder.
  if (cd "$deb" && apt-get download -q "$@" >"$deb/log" 2>&1); then
    for file in "$deb"/*.deb; do
      dpkg-deb -x "$file" "$root" || status=1
    done
  else
    cat "$deb/log" >&2
    status=1
  fi
  rm -rf "$deb"
  return $status
}
