// Which screen source GDI reads: the one place that chooses among the sources beside it.
#pragma once

#include <memory>

#include "screen/source.h"

namespace screen {

// The portal on a Wayland session ($WAYLAND_DISPLAY set or $XDG_SESSION_TYPE=wayland) whose
// portal offers ScreenCast and whose session has not failed; otherwise the X display. Null when
// neither is there.
std::shared_ptr<Source> current_source();

}  // namespace screen
