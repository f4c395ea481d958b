// What the GDI objects and the X display of this backend hold right now, for tests that prove
// a grab gives everything back.
#pragma once

namespace host {

struct ScreenCensus {
    int screen_dcs;   // from GetWindowDC, not yet released
    int memory_dcs;   // from CreateCompatibleDC, not yet deleted
    int bitmaps;      // from CreateCompatibleBitmap, not yet deleted
    int displays;     // open X connections (one is kept for the current $DISPLAY)
    int segments;     // MIT-SHM segments attached, in use or kept for the next grabs
    int shm_reads;    // screen rectangles read with MIT-SHM so far
    int plain_reads;  // and with a plain GetImage
    int portal_sessions;  // desktop portal sessions begun so far
    int screencopy_copies;  // outputs copied with the compositor's screencopy so far
};
ScreenCensus screen_census();

}  // namespace host
