#!/bin/bash
# env.sh [--tone PERIOD | --speak TEXT | --no-sound] [--] COMMAND...
# Runs COMMAND in a private Windows environment: a Wine prefix of its own, a virtual screen
# (Xvfb) and a virtual microphone (a private PulseAudio whose default source plays on the
# server's own clock), both from tests/env/devices.sh. The microphone hears mono 16-bit audio:
#   --tone PERIOD  a sine whose period is PERIOD samples at 8000 Hz (the default, PERIOD 7)
#   --speak TEXT   TEXT spoken by espeak-ng at 16000 Hz, then a second of silence, over and over
#   --no-sound     no sound server and no audio driver: the machine has no recording device
# COMMAND sees WINEPREFIX, DISPLAY, HOME, XDG_RUNTIME_DIR, WINE_ENV_DIR (a scratch folder), and
# WINE, the loader to start a program with (tests/wine/loader.sh tells which, and what can run).
# Everything started here is stopped on exit, failure or interrupt. Only a temporary folder and
# the prefix cache (build/wine-env, or $WINE_ENV_CACHE) are written; the run's own prefix, which
# lives in the cache beside the template it is linked from, is removed at the end.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/loader.sh"
cache=${WINE_ENV_CACHE:-$(cd "$here/../.." && pwd)/build/wine-env}
sound=tone
period=7
phrase=
while [ $# -gt 0 ]; do
  case $1 in
    --tone) sound=tone period=$2; shift 2 ;;
    --speak) sound=speak phrase=$2; shift 2 ;;
    --no-sound) sound=none; shift ;;
    --) shift; break ;;
    -*) echo "env.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: env.sh [--tone PERIOD | --speak TEXT | --no-sound] [--] COMMAND..." >&2; exit 2; }

log() { echo "wine-env: $*" >&2; }

T=$(mktemp -d "${TMPDIR:-/tmp}/wine-env.XXXXXX")
# Wine keeps its server sockets under TMPDIR.
export TMPDIR=$T/tmp
cleanup() {
  local status=$?
  set +e
  trap - EXIT INT TERM HUP
  [ -n "${command_pid:-}" ] && kill -- "-$command_pid" 2>/dev/null && wait "$command_pid" 2>/dev/null
  [ -n "${prefix:-}" ] && WINEPREFIX=$prefix timeout 10 "$WINE_SERVER" -k >/dev/null 2>&1
  rm -rf "$T" ${prefix:+"$prefix"}
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

mkdir -p "$T/home" "$T/run" "$T/tmp"
chmod 700 "$T/run"
export HOME=$T/home XDG_RUNTIME_DIR=$T/run WINE_ENV_DIR=$T
export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=${WINEDEBUG:--all}
# Wine must never reach a sound server other than ours, nor start one of its own.
echo "autospawn = no" >"$T/client.conf"
export PULSE_CLIENTCONFIG=$T/client.conf PULSE_SERVER=unix:$T/run/pulse/native
# Nor a session bus: an unset address would make D-Bus clients launch a daemon that outlives us.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$T/no-session-bus
unset DISPLAY

# The template prefix is made once per Wine version, architecture and loader, under a lock:
# parallel first use of a prefix fails. With wine64 the prefix is 64-bit and runs 32-bit programs
# too; one made without it refuses 64-bit programs; one made by the 64-bit loader alone, where x86
# programs cannot run, has no working 32-bit half. Arm64 Wine (WINE_MACHINE) has a template of its
# own beside that one, so that runs of both kinds keep theirs. Each run gets a hard-linked copy (a
# prefix is some 600 MB), on the same file system; Wine replaces the registry files rather than
# rewriting them, and they are copied all the same.
mkdir -p "$cache"
exec 9>"$cache/lock"
flock -w 600 9 || { log "timed out waiting for $cache/lock"; exit 1; }
template=$cache/prefix${WINE_MACHINE:+-$WINE_MACHINE}
version="$("$WINE" --version) ${WINE_MACHINE:-$([ -x /usr/lib/wine/wine64 ] && echo win64 || echo win32)${WINE_X86_REFUSED:+ without x86}}"
if [ "$(cat "$template/.complete" 2>/dev/null)" != "$version" ]; then
  log "creating the Wine prefix for $version (once)"
  rm -rf "$template" "$cache/home"
  mkdir -p "$cache/home"
  HOME=$cache/home WINEPREFIX=$template timeout 300 "$WINE" wineboot --init >"$T/wineboot.log" 2>&1 &&
    WINEPREFIX=$template timeout 120 "$WINE_SERVER" -w ||
    { cat "$T/wineboot.log" >&2; log "wineboot failed"; exit 1; }
  echo "$version" >"$template/.complete"
fi
prefix=$(mktemp -d "$cache/run.XXXXXX")
cp -al "$template/." "$prefix"
for f in "$prefix"/*.reg; do cp --remove-destination "$template/${f##*/}" "$f"; done
flock -u 9
exec 9>&-
export WINEPREFIX=$prefix

if [ "$sound" = none ]; then
  # An empty driver list leaves Wine with no audio driver at all, whatever the host has.
  timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d "" /f >/dev/null 2>&1 ||
    { log "could not turn off the audio drivers"; exit 1; }
  devices=(--no-sound)
elif [ "$sound" = tone ]; then
  devices=(--tone "$period")
else
  devices=(--speak "$phrase")
fi

# The screen and the microphone (shared with the Linux tests); the command runs in their
# environment, in a process group of its own so that an interrupt can stop all of it.
setsid "$here/../env/devices.sh" "${devices[@]}" -- "$@" &
command_pid=$!
wait "$command_pid"
