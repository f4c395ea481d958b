#include "screen_checks.h"

#include "check.h"
#include "fake_jni.h"
#include "libraries.h"
#include "pattern_window.h"

#include <windows.h>

namespace {

const jint sentinel = 0x7E7E7E7E;

// The first element, in a picture with the given row stride, whose colour differs from the
// window's pixels starting at (dx, dy) of the window; -1 when all w x h match. The top byte is
// not compared: what the bitmap read puts there differs between machines.
long firstWrongPixel(const jint* pixels, int stride, int dx, int dy, int w, int h) {
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            if ((static_cast<unsigned long>(pixels[r * stride + c]) & 0xFFFFFF) != pattern::pixel(dx + c, dy + r))
                return r * stride + c;
    return -1;
}

bool untouched(FakeJni& jni, jintArray array, jsize length) {
    for (jsize i = 0; i < length; ++i)
        if (jni.ints(array)[i] != sentinel) return false;
    return true;
}

// Grabs (dx, dy, w, h) of the window and compares it with the pattern.
long grabWindowPart(const Deskcap& deskcap, FakeJni& jni, int dx, int dy, int w, int h) {
    jintArray pixels = jni.newIntArray(w * h, sentinel);
    deskcap.nGrabPixels(jni.env(), pixels, pattern::left + dx, pattern::top + dy, w, h);
    return firstWrongPixel(jni.ints(pixels), w, dx, dy, w, h);
}

void checkRefused(const Deskcap& deskcap, FakeJni& jni, const char* what, jsize length, jint width, jint height) {
    jintArray pixels = jni.newIntArray(length, sentinel);
    deskcap.nGrabPixels(jni.env(), pixels, pattern::left, pattern::top, width, height);
    check(untouched(jni, pixels, length), what);
}

void checkWholeScreen(const Deskcap& deskcap, FakeJni& jni) {
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    jintArray pixels = jni.newIntArray(width * height, sentinel);
    deskcap.nGrabPixels(jni.env(), pixels, 0, 0, width, height);
    const jint* all = jni.ints(pixels);
    long leftOver = 0;
    for (int i = 0; i < width * height; ++i) leftOver += all[i] == sentinel;
    long wrong = firstWrongPixel(all + pattern::top * width + pattern::left, width, 0, 0, pattern::width,
                                 pattern::height);
    check(width > 0 && leftOver == 0 && wrong < 0, "a grab of the whole screen fills the array, window included",
          "%dx%d, %ld elements not written, window pixel %ld wrong", width, height, leftOver, wrong);
}

}  // namespace

void screenChecks(const Deskcap& deskcap) {
    FakeJni jni;
    pattern::show();
    long wrong = grabWindowPart(deskcap, jni, 0, 0, pattern::width, pattern::height);
    // The window may take a moment to reach the screen.
    for (int tries = 0; wrong >= 0 && tries < 30; ++tries) {
        pattern::pumpMessages(100);
        wrong = grabWindowPart(deskcap, jni, 0, 0, pattern::width, pattern::height);
    }
    check(wrong < 0, "a painted window reads back pixel-exact, top row first, blue in the low byte",
          "first wrong element %ld", wrong);
    wrong = grabWindowPart(deskcap, jni, 9, 5, 21, 13);
    check(wrong < 0, "a rectangle inside it reads back pixel-exact", "first wrong element %ld", wrong);

    const jint w = 20, h = 10;
    checkRefused(deskcap, jni, "an array one element too long is left untouched", w * h + 1, w, h);
    checkRefused(deskcap, jni, "an array one element too short is left untouched", w * h - 1, w, h);
    // 65536 x 65537 wraps to 65536 in 32 bits.
    checkRefused(deskcap, jni, "sizes whose product overflows are refused", 65536, 65536, 65537);
    checkRefused(deskcap, jni, "negative sizes are refused", 16, -4, -4);

    int callsBefore = jni.vmCalls();
    deskcap.nGrabPixels(jni.env(), nullptr, 0, 0, w, h);
    check(jni.vmCalls() == callsBefore, "a null array is refused without a VM call");
    deskcap.nGrabPixels(jni.env(), jni.newIntArray(0), 0, 0, 0, 0);

    checkWholeScreen(deskcap, jni);
    check(jni.violations() == 0, "the grabs use the JNI array functions correctly", "%s",
          jni.violations() ? jni.firstViolation() : "");
}
