// The screen of a Wayland desktop, read through the desktop portal's ScreenCast: one session
// per process, opened by the first grab, whose PipeWire streams keep each monitor's latest
// frame. Grabs copy from those frames and never wait, except the one that opens a session.
//
// - The grab that opens a session waits at most first_frame_ms for its first frame. A grab
//   while the session is still starting (the user not yet asked) gets black.
// - The desktop's answers are waited for at most answer_ms each, the user's at most user_ms.
// - A session that fails (no portal or no ScreenCast, no PipeWire, PipeWire or a stream ending,
//   the compositor going away, no answer) is tried again at most every retry_after_ms; until
//   then current_screen() is null and the grab falls back to X11, so a grab's cost stays
//   bounded. A session the user declined is not asked for again in this process.
// - The session ends with the process (our bus connection closes).
#pragma once

#include <memory>

#include "screen/source.h"

namespace portal {

const unsigned first_frame_ms = 3000;
const unsigned answer_ms = 5000;
const unsigned user_ms = 120000;
const unsigned retry_after_ms = 5000;

// The portal's screen, or null when it cannot be used now.
std::shared_ptr<screen::Source> current_screen();

// Sessions this process began to open so far.
int sessions_begun();

}  // namespace portal
