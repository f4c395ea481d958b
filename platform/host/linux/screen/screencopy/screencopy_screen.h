// The screen of a wlroots compositor (sway and its kin), read with its screencopy protocol: each
// grab copies every output's picture as it is at that moment, so a still screen reads as it is,
// and no session, dialog or PipeWire stream is involved. The compositor decides who may copy its
// outputs; wlroots lets any client of the session, as grim does.
//
// - One connection serves the process (compositor.h), whose thread keeps each output's latest
//   picture while grabs come: a grab copies from it, and waits only when there is none yet (at
//   most compositor_answer_ms).
// - Whether the compositor offers screencopy is asked at most every retry_after_ms until one
//   connection lists it; until then current_screen() is null and another source serves.
// - Once it has been offered, it stays the source: a connection that breaks gives black (never
//   a portal session and its dialog) and is made afresh at most every retry_after_ms.
#pragma once

#include <memory>

#include "screen/source.h"

namespace screencopy {

const unsigned compositor_answer_ms = 2000;
const unsigned retry_after_ms = 5000;

// The compositor's screen, or null while it offers no screencopy.
std::shared_ptr<screen::Source> current_screen();

// Pictures copied from the compositor so far, for tests that prove which source served a grab
// and that a still screen is not copied again.
int copies_made();

}  // namespace screencopy
