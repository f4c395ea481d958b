#!/bin/bash
# env.sh [--tone PERIOD | --speak TEXT | --no-sound] [--] COMMAND...
# Runs COMMAND in a private Windows environment: a Wine prefix of its own, a virtual screen
# (Xvfb) and a virtual microphone (a private PulseAudio whose default source is a pipe, fed in
# real time). The microphone hears mono 16-bit audio:
#   --tone PERIOD  a sine whose period is PERIOD samples at 8000 Hz (the default, PERIOD 7)
#   --speak TEXT   TEXT spoken by espeak-ng at 16000 Hz, then a second of silence, over and over
#   --no-sound     no sound server and no audio driver: the machine has no recording device
# COMMAND sees WINEPREFIX, DISPLAY, HOME, XDG_RUNTIME_DIR and WINE_ENV_DIR (a scratch folder).
# Everything started here is stopped on exit, failure or interrupt. Only a temporary folder and
# the prefix cache (build/wine-env, or $WINE_ENV_CACHE) are written; the run's own prefix, which
# lives in the cache beside the template it is linked from, is removed at the end.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${WINE_ENV_CACHE:-$(cd "$here/../.." && pwd)/build/wine-env}
rate=8000

sound=tone
period=7
phrase=
while [ $# -gt 0 ]; do
  case $1 in
    --tone) sound=tone period=$2; shift 2 ;;
    --speak) sound=speak phrase=$2 rate=16000; shift 2 ;;
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
pids=()
cleanup() {
  local status=$?
  set +e
  trap - EXIT INT TERM HUP
  [ -n "${command_pid:-}" ] && kill -- "-$command_pid" 2>/dev/null && wait "$command_pid" 2>/dev/null
  [ -n "${prefix:-}" ] && WINEPREFIX=$prefix timeout 10 wineserver -k >/dev/null 2>&1
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[i]}" 2>/dev/null; done
  rm -rf "$T" ${prefix:+"$prefix"}
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# Polls COMMAND every 0.1 s for up to SECONDS.
wait_for() {
  local seconds=$1 tries
  shift
  for ((tries = seconds * 10; tries > 0; tries--)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

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

# The template prefix is made once per Wine version, under a lock: parallel first use of a prefix
# fails. Each run gets a hard-linked copy (a prefix is some 600 MB), on the same file system;
# Wine replaces the registry files rather than rewriting them, and they are copied all the same.
mkdir -p "$cache"
exec 9>"$cache/lock"
flock -w 600 9 || { log "timed out waiting for $cache/lock"; exit 1; }
version=$(wine --version)
if [ "$(cat "$cache/prefix/.complete" 2>/dev/null)" != "$version" ]; then
  log "creating the Wine prefix for $version (once)"
  rm -rf "$cache/prefix" "$cache/home"
  mkdir -p "$cache/home"
  HOME=$cache/home WINEPREFIX=$cache/prefix timeout 300 wine wineboot --init >"$T/wineboot.log" 2>&1 &&
    WINEPREFIX=$cache/prefix timeout 120 wineserver -w ||
    { cat "$T/wineboot.log" >&2; log "wineboot failed"; exit 1; }
  echo "$version" >"$cache/prefix/.complete"
fi
prefix=$(mktemp -d "$cache/run.XXXXXX")
cp -al "$cache/prefix/." "$prefix"
for f in "$prefix"/*.reg; do cp --remove-destination "$cache/prefix/${f##*/}" "$f"; done
flock -u 9
exec 9>&-
export WINEPREFIX=$prefix

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$T/display" >"$T/xvfb.log" 2>&1 &
pids+=($!)
wait_for 20 grep -q . "$T/display" || { cat "$T/xvfb.log" >&2; log "Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n 1 "$T/display")

if [ "$sound" = none ]; then
  # An empty driver list leaves Wine with no audio driver at all, whatever the host has.
  timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d "" /f >/dev/null 2>&1 ||
    { log "could not turn off the audio drivers"; exit 1; }
else
  raw=$T/signal.raw
  if [ "$sound" = tone ]; then
    freq=$(awk -v r=$rate -v p="$period" 'BEGIN { if (p < 2) exit 1; printf "%.12f", r / p }') ||
      { log "bad tone period $period"; exit 1; }
    sox -D -r $rate -c 1 -n -t raw -e signed -b 16 "$raw" synth "$((period * 1000))s" sine "$freq" vol 0.5
  else
    espeak-ng -w "$T/phrase.wav" "$phrase"
    sox -D "$T/phrase.wav" -t raw -r $rate -e signed -b 16 -c 1 "$raw" pad 0.5 1
  fi
  cc -O2 -o "$T/pcm_pacer" "$here/pcm_pacer.c"
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --disable-shm=yes \
    -L module-native-protocol-unix -L "module-null-sink sink_name=nullsink" \
    -L "module-pipe-source source_name=testsrc file=$T/source.fifo format=s16le rate=$rate channels=1" \
    >"$T/pulse.log" 2>&1 &
  pids+=($!)
  wait_for 20 sh -c "timeout 5 pactl list short sources | grep -q testsrc" || { cat "$T/pulse.log" >&2; log "PulseAudio did not start"; exit 1; }
  "$T/pcm_pacer" $((rate * 2)) "$raw" >"$T/source.fifo" &
  pids+=($!)
  timeout 10 pactl set-default-source testsrc
fi

# The command runs in a process group of its own, so that an interrupt can stop all of it; the
# shell waits for it in a way that signals interrupt.
setsid "$@" &
command_pid=$!
wait "$command_pid"
