# Sourced by devices.sh: a headless Wayland desktop with no X server. sway draws one output
# (HEADLESS-1 at 0,0, more with `swaymsg create_output`), a private session bus carries the
# desktop portal, whose ScreenCast comes from xdg-desktop-portal-wlr over PipeWire.
# Uses devices.sh's $D and pids and daemons.sh's functions; the session bus and PipeWire
# (start_session_bus, start_pipewire) must be running already.

# sway will not run as root: it runs as nobody, in folders that uid can reach.
wayland_uid=65534

# start_wayland_desktop WIDTHxHEIGHT COLOUR grant|decline|none
# Leaves the pid of sway in $D/sway.pid, for tests that take the compositor away.
start_wayland_desktop() {
  local size=$1 colour=$2 screencast=$3 here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  chmod 755 "$D"
  mkdir -p "$D/sway-run"
  chown "$wayland_uid:$wayland_uid" "$D/sway-run"
  chmod 700 "$D/sway-run"

  cat >"$D/sway.conf" <<CONF
xwayland disable
default_border none
output HEADLESS-1 resolution ${size%x*}x${size#*x} position 0 0 bg $colour solid_color
CONF
  chmod 644 "$D/sway.conf"
  env -i PATH="$PATH" HOME="$D/home" XDG_RUNTIME_DIR="$D/sway-run" WLR_BACKENDS=headless \
    WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    setpriv --reuid=$wayland_uid --regid=$wayland_uid --clear-groups sway -c "$D/sway.conf" >"$D/sway.log" 2>&1 &
  pids+=($!)
  echo $! >"$D/sway.pid"
  wait_for 10 sh -c "ls '$D/sway-run' | grep -q '^wayland-[0-9]*\$'" &&
    wait_for 10 sh -c "ls '$D/sway-run' | grep -q '^sway-ipc'" || { cat "$D/sway.log" >&2; log "sway did not start"; exit 1; }
  local socket ipc
  socket=$(ls "$D/sway-run" | grep '^wayland-[0-9]*$' | head -n 1)
  ipc=$(ls "$D/sway-run" | grep '^sway-ipc' | head -n 1)
  ln -s "$D/sway-run/$socket" "$D/run/$socket"
  export WAYLAND_DISPLAY=$socket SWAYSOCK=$D/sway-run/$ipc XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway
  wait_for 10 swaymsg -t get_outputs || { cat "$D/sway.log" >&2; log "sway does not answer"; exit 1; }

  cc -shared -fPIC -O2 -o "$D/screencopy_dmabuf_shim.so" "$here/screencopy_dmabuf_shim.c"
  mkdir -p "$D/home/.config/xdg-desktop-portal-wlr"
  local chooser=$'output_name=HEADLESS-1\nchooser_type=none'
  # A chooser that reads the outputs it is offered and picks none, as a user who cancels; one that
  # exits before the portal has written them to it can make the portal fail rather than decline.
  [ "$screencast" = decline ] && chooser=$'chooser_type=dmenu\nchooser_cmd=cat >/dev/null'
  printf '[screencast]\nmax_fps=30\n%s\n' "$chooser" \
    >"$D/home/.config/xdg-desktop-portal-wlr/config"
  [ "$screencast" = none ] || start_screencast_backend
  /usr/libexec/xdg-desktop-portal >"$D/portal.log" 2>&1 &
  pids+=($!)
  wait_for 10 bus_has org.freedesktop.portal.Desktop || { cat "$D/portal.log" >&2; log "the desktop portal did not start"; exit 1; }
}

bus_has() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner "string:$1" |
    grep -q 'boolean true'
}

# The portal's ScreenCast backend, with the workaround for its DMA-BUF bug. Only its first
# session reliably gets a first frame of a still screen: tests open one per desktop.
start_screencast_backend() {
  LD_PRELOAD=$D/screencopy_dmabuf_shim.so XDG_CONFIG_HOME=$D/home/.config \
    /usr/libexec/xdg-desktop-portal-wlr >"$D/portal-wlr.log" 2>&1 &
  pids+=($!)
  wait_for 10 bus_has org.freedesktop.impl.portal.desktop.wlr || { cat "$D/portal-wlr.log" >&2; log "xdg-desktop-portal-wlr did not start"; exit 1; }
}
