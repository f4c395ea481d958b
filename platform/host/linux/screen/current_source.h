// Which screen source GDI reads: the one place that chooses among the sources beside it.
#pragma once

#include <memory>

#include "screen/source.h"

namespace screen {

// On a Wayland session ($WAYLAND_DISPLAY set or $XDG_SESSION_TYPE=wayland): the compositor's
// screencopy where it offers one (wlroots: sway and its kin), since it reads a still screen at
// once; otherwise the desktop portal, where it offers ScreenCast and its session has not failed
// (GNOME, KDE). ORVANTA_SCREEN_SOURCE=portal asks for the portal, and its dialog, even where
// screencopy is offered. Otherwise, or where neither serves, the X display. Null when none is
// there.
std::shared_ptr<Source> current_source();

}  // namespace screen
