# Sourced by the device environments: starting the private servers they run. Every function
# works in the caller's scratch folder $D, adds each process it starts to the caller's `pids`
# array (the caller stops them on exit), and fails with the server's log when it does not start.
# The caller sets HOME and XDG_RUNTIME_DIR (0700) inside $D first.

log() { echo "devices: $*" >&2; }

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

# A session bus of our own, exported in DBUS_SESSION_BUS_ADDRESS. Its service folder starts
# empty: the system's would activate services (the document portal mounts a FUSE file system)
# that outlive us. Put .service files into $D/bus-services to have them activated.
start_session_bus() {
  mkdir -p "$D/bus-services"
  cat >"$D/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$XDG_RUNTIME_DIR/bus</listen>
  <servicedir>$D/bus-services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  dbus-daemon --nofork --nosyslog --config-file="$D/bus.conf" --print-address=3 3>"$D/bus.address" >"$D/bus.log" 2>&1 &
  pids+=($!)
  wait_for 20 grep -q . "$D/bus.address" || { cat "$D/bus.log" >&2; log "the session bus did not start"; return 1; }
  export DBUS_SESSION_BUS_ADDRESS
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$D/bus.address")
}

# PipeWire with its session manager (WirePlumber) and its PulseAudio server (pipewire-pulse),
# on the session bus (start it first). PulseAudio clients reach it at
# $XDG_RUNTIME_DIR/pulse/native, PipeWire clients at $XDG_RUNTIME_DIR/pipewire-0.
start_pipewire() {
  unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
  # Their settings and state come from, and go to, our HOME only.
  export XDG_CONFIG_HOME=$HOME/.config XDG_STATE_HOME=$HOME/.local/state
  pipewire >"$D/pipewire.log" 2>&1 &
  pids+=($!)
  echo $! >"$D/pipewire.pid"  # for tests that take it away
  wait_for 20 test -S "$XDG_RUNTIME_DIR/pipewire-0" || { cat "$D/pipewire.log" >&2; log "PipeWire did not start"; return 1; }
  wireplumber >"$D/wireplumber.log" 2>&1 &
  pids+=($!)
  pipewire-pulse >"$D/pipewire-pulse.log" 2>&1 &
  pids+=($!)
  wait_for 20 timeout 5 pactl -s "unix:$XDG_RUNTIME_DIR/pulse/native" info ||
    { cat "$D/pipewire.log" "$D/wireplumber.log" "$D/pipewire-pulse.log" >&2; log "pipewire-pulse did not start"; return 1; }
}

# PulseAudio itself, with a null sink, at $XDG_RUNTIME_DIR/pulse/native.
start_pulseaudio() {
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --disable-shm=yes \
    -L module-native-protocol-unix -L "module-null-sink sink_name=nullsink" >"$D/pulse.log" 2>&1 &
  pids+=($!)
  wait_for 20 timeout 5 pactl -s "unix:$XDG_RUNTIME_DIR/pulse/native" info ||
    { cat "$D/pulse.log" >&2; log "PulseAudio did not start"; return 1; }
}

# start_tone_source RATE RAW: the PulseAudio-speaking server's default source becomes the monitor
# of a null sink ("tone", mono 16-bit at RATE Hz) into which a playback stream plays the raw PCM
# file RAW over and over. The sink's own clock sets the pace, as a sound card's does: the player
# is written to as fast as it takes, so a busy machine that holds it up (for less than the
# stream's reserve: up to a second, about half of it on pipewire-pulse) breaks nothing, and a
# monitor hands over nothing from before a recording starts. (A pipe source fed in real time broke
# the tone whenever the machine held its feeder up; on PipeWire it also stopped for good once a
# screen cast joined the graph.)
start_tone_source() {
  local rate=$1 raw=$2 server=unix:$XDG_RUNTIME_DIR/pulse/native
  timeout 10 pactl -s "$server" load-module module-null-sink sink_name=tone format=s16le rate="$rate" channels=1 \
    >/dev/null || { log "the tone's sink did not load"; return 1; }
  # The loop ends when the player does (cat then fails on the closed pipe).
  { while cat "$raw"; do :; done; } | pacat -s "$server" --playback --device=tone --raw --format=s16le \
    --rate="$rate" --channels=1 --latency-msec=1000 --client-name=tone >"$D/tone.log" 2>&1 &
  pids+=($!)
  timeout 10 pactl -s "$server" set-default-source tone.monitor
}
