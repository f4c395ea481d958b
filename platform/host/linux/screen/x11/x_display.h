// The X display behind the screen's device context: one connection per $DISPLAY, shared by
// every thread (XCB connections are thread-safe) and reopened when $DISPLAY names another
// display or the connection broke. XCB hands X errors back as values; nothing here can end
// the process the way Xlib's default error handler does.
//
// A rectangle of the root window is read, clipped to the root window as it is at the time of
// the read (RandR may resize it), in one round trip to the server; the shot holds it in a
// MIT-SHM segment that then goes back to the display's pool, or in the plain GetImage reply.
// The server refusing (an XWayland root window answers BadMatch), a broken connection, a server
// that does not answer in time, or a format convert_row cannot read give no shot.
#pragma once

#include <memory>

#include "screen/source.h"

namespace x11 {

// How long a grab waits for the X server each time it must: to connect (the setup and the
// MIT-SHM query), and for the replies of one read. A server that lets it pass is given up on:
// that grab gets no shot (the rectangle stays black), and the next connects afresh.
const unsigned server_answer_ms = 2000;

// The display $DISPLAY names, or null when there is none (no $DISPLAY, no server, no libxcb) or
// it did not answer within server_answer_ms.
std::shared_ptr<screen::Source> current_display();

struct DisplayCensus {
    int displays;     // open connections
    int segments;     // MIT-SHM segments attached, in use or pooled
    int shm_reads;    // rectangles read so far with MIT-SHM
    int plain_reads;  // and with a plain GetImage
};
DisplayCensus display_census();

}  // namespace x11
