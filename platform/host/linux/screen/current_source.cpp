#include "current_source.h"

#include <cstdlib>
#include <cstring>

#include "screen/portal/portal_screen.h"
#include "screen/screencopy/screencopy_screen.h"
#include "screen/x11/x_display.h"

namespace screen {
namespace {

bool wayland_session() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (display && *display) || (type && !std::strcmp(type, "wayland"));
}

bool portal_asked_for() {
    const char* source = std::getenv("ORVANTA_SCREEN_SOURCE");
    return source && !std::strcmp(source, "portal");
}

}  // namespace

std::shared_ptr<Source> current_source() {
    // An X server on a Wayland desktop (XWayland) holds no pixels of the Wayland windows.
    if (wayland_session()) {
        if (!portal_asked_for())
            if (std::shared_ptr<Source> copied = screencopy::current_screen()) return copied;
        if (std::shared_ptr<Source> portal = portal::current_screen()) return portal;
    }
    return x11::current_display();
}

}  // namespace screen
