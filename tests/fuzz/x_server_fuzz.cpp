// Feeds the real backend's reading of what an X server sends, the connection setup and a GetImage
// reply's pixels, with any bytes at all: a setup that is taken never leads a read past its bytes,
// an image that is taken is converted without a read past its reply, and into RGB alone.
#include <algorithm>
#include <vector>

#include "fuzz_input.h"
#include "screen/x11/x_setup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int screen = input.ConsumeIntegralInRange(0, 2);
    const int columns = input.ConsumeIntegralInRange(0, 64), rows = input.ConsumeIntegralInRange(0, 16);
    // Each in a block of its own size, so that a read past either end is the sanitizer's to see.
    const std::vector<uint8_t> setup =
        input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, input.remaining_bytes()));
    const std::vector<uint8_t> image = input.ConsumeRemainingBytes<uint8_t>();

    x11::ScreenSetup read;
    if (!x11::read_screen_setup(setup.data(), setup.size(), screen, read)) return 0;
    if (!read.format.supported() || !x11::image_holds(read.format, columns, rows, image.size())) return 0;
    const size_t stride = read.format.stride(columns);
    std::vector<uint32_t> pixels(static_cast<size_t>(columns));
    for (int r = 0; r < rows; ++r) {
        read.format.convert_row(image.data() + stride * static_cast<size_t>(r), columns, pixels.data());
        FUZZ_REQUIRE(std::all_of(pixels.begin(), pixels.end(), [](uint32_t p) { return p <= 0xFFFFFF; }),
                     "a pixel has bits above its red, green and blue");
    }
    return 0;
}
