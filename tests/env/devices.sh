#!/bin/bash
# devices.sh [--tone PERIOD | --speak TEXT | --no-sound] [--pipewire] [--screen WxHxD] [--no-shm]
#            [--wayland COLOUR [--screencast none|decline]] [--] COMMAND...
# Runs COMMAND with a virtual screen (Xvfb) and a virtual microphone: a private PulseAudio whose
# default source plays mono 16-bit audio, on the server's own clock (daemons.sh, start_tone_source):
#   --tone PERIOD  a sine whose period is PERIOD samples at 8000 Hz (the default, PERIOD 7)
#   --speak TEXT   TEXT spoken by espeak-ng at 16000 Hz, then a second of silence, over and over
#   --no-sound     no sound server at all: the machine has no recording device
# --pipewire serves the microphone from PipeWire instead (pipewire-pulse, with WirePlumber and a
# session bus of its own), as a Wayland desktop does; COMMAND then sees DBUS_SESSION_BUS_ADDRESS.
# --screen sets the screen (default 1024x768x24); --no-shm starts Xvfb without MIT-SHM.
# --wayland COLOUR gives a headless Wayland desktop instead of Xvfb (wayland_desktop.sh): one
#   output of the --screen size filled with COLOUR (#rrggbb), the desktop portal's ScreenCast over
#   PipeWire, the microphone on that PipeWire (as --pipewire), and no X server at all. --screencast none starts the portal without its ScreenCast
#   backend, --screencast decline with one whose chooser picks nothing, as a user who cancels.
#   Where that desktop is not installed, it says so and exits with status 77 (skipped).
# COMMAND sees DISPLAY, HOME, XDG_RUNTIME_DIR, PULSE_SERVER (the server's socket, or a missing one
# with --no-sound), PULSE_CLIENTCONFIG (autospawn off) and DEVICES_DIR (a scratch folder). It runs
# in a process group of its own. Everything started here is stopped on exit, failure or
# interrupt; only a temporary folder is written.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
rate=8000
sound=tone
server=pulseaudio
period=7
phrase=
screen=1024x768x24
xvfb_options=()
wayland=
screencast=grant
while [ $# -gt 0 ]; do
  case $1 in
    --tone) sound=tone period=$2; shift 2 ;;
    --speak) sound=speak phrase=$2 rate=16000; shift 2 ;;
    --no-sound) sound=none; shift ;;
    --pipewire) server=pipewire; shift ;;
    --screen) screen=$2; shift 2 ;;
    --no-shm) xvfb_options+=(-extension MIT-SHM); shift ;;
    --wayland) wayland=$2; shift 2 ;;
    --screencast) screencast=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "devices.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: devices.sh [--tone PERIOD | --speak TEXT | --no-sound] [--pipewire] [--screen WxHxD] [--no-shm] [--wayland COLOUR [--screencast none|decline]] [--] COMMAND..." >&2; exit 2; }

source "$here/daemons.sh"
source "$here/../../tools/packages.sh"
# A machine where the bootstrap could not install the Wayland desktop runs no COMMAND that needs
# it, and says why; the status 77 tells the caller that it was skipped, not passed.
if [ -n "$wayland" ] && reason=$(part_missing wayland); then
  echo "SKIPPED $*: $reason"
  exit 77
fi

D=$(mktemp -d "${TMPDIR:-/tmp}/devices.XXXXXX")
pids=()
cleanup() {
  local status=$?
  set +e
  trap - EXIT INT TERM HUP
  [ -n "${command_pid:-}" ] && kill -- "-$command_pid" 2>/dev/null && wait "$command_pid" 2>/dev/null
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[i]}" 2>/dev/null; done
  rm -rf "$D"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

mkdir -p "$D/home" "$D/run"
chmod 700 "$D/run"
export HOME=$D/home XDG_RUNTIME_DIR=$D/run DEVICES_DIR=$D
# Nothing here may reach a sound server other than ours, nor start one of its own.
echo "autospawn = no" >"$D/client.conf"
export PULSE_CLIENTCONFIG=$D/client.conf PULSE_SERVER=unix:$D/run/pulse/native
# Nor a session bus: an unset address would make D-Bus clients launch a daemon that outlives us.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$D/no-session-bus
# Nor a desktop of the caller's: the screen is ours alone.
unset DISPLAY WAYLAND_DISPLAY XDG_SESSION_TYPE XDG_CURRENT_DESKTOP

# A Wayland desktop's screen cast and microphone both come from its PipeWire.
[ -n "$wayland" ] && server=pipewire
if [ "$server" = pipewire ] && { [ "$sound" != none ] || [ -n "$wayland" ]; }; then
  start_session_bus
  start_pipewire
fi

if [ -n "$wayland" ]; then
  source "$here/wayland_desktop.sh"
  start_wayland_desktop "${screen%x*}" "$wayland" "$screencast"
else
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset "${xvfb_options[@]}" 3>"$D/display" >"$D/xvfb.log" 2>&1 &
  pids+=($!)
  wait_for 20 grep -q . "$D/display" || { cat "$D/xvfb.log" >&2; log "Xvfb did not start"; exit 1; }
  export DISPLAY=:$(head -n 1 "$D/display")
fi

if [ "$sound" != none ]; then
  raw=$D/signal.raw
  if [ "$sound" = tone ]; then
    freq=$(awk -v r=$rate -v p="$period" 'BEGIN { if (p < 2) exit 1; printf "%.12f", r / p }') ||
      { log "bad tone period $period"; exit 1; }
    sox -D -r $rate -c 1 -n -t raw -e signed -b 16 "$raw" synth "$((period * 1000))s" sine "$freq" vol 0.5
  else
    espeak-ng -w "$D/phrase.wav" "$phrase"
    sox -D "$D/phrase.wav" -t raw -r $rate -e signed -b 16 -c 1 "$raw" pad 0.5 1
  fi
  [ "$server" = pipewire ] || start_pulseaudio
  start_tone_source $rate "$raw"
fi

# The command runs in a process group of its own, so that an interrupt can stop all of it; the
# shell waits for it in a way that signals interrupt.
setsid "$@" &
command_pid=$!
status=0
wait "$command_pid" || status=$?
# Status 77 says "skipped", and only this script says it (above).
[ $status != 77 ] || status=1
exit $status
