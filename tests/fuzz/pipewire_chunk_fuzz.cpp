// Feeds the real backend's placing of a frame in a PipeWire buffer, from the chunk another process
// wrote (offset and stride) and the memory's size, with any values at all: rows that are taken
// lie wholly inside the memory, by arithmetic that cannot wrap, and are read there.
#include <vector>

#include "fuzz_input.h"
#include "screen/pixel_format.h"
#include "screen/portal/chunk_rows.h"

namespace {

// Mostly a side of a few pixels; otherwise one at the edges.
int side(FuzzedDataProvider& input) {
    static constexpr int edges[] = {INT32_MIN, -1, 0, 1, 16384, 65536, 65537, INT32_MAX};
    return input.ConsumeBool() ? input.PickValueInArray(edges) : input.ConsumeIntegralInRange(0, 300);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int width = side(input), height = side(input);
    const auto stride = static_cast<int32_t>(anyInt(input, -8, 1300));
    const auto offset = static_cast<uint32_t>(anyInt(input, 0, 4096));
    const uint32_t maxsize = input.ConsumeBool() ? input.ConsumeIntegral<uint32_t>()
                                                 : input.ConsumeIntegralInRange<uint32_t>(0, 1 << 18);
    portal::ChunkRows rows;
    if (!portal::chunk_rows(offset, stride, maxsize, width, height, rows)) return 0;

    const unsigned __int128 row_bytes = static_cast<unsigned __int128>(width) * 4;
    const unsigned __int128 end = rows.offset + static_cast<unsigned __int128>(rows.stride) * (height - 1) + row_bytes;
    FUZZ_REQUIRE(width > 0 && height > 0 && rows.stride >= row_bytes && end <= maxsize, "rows reach past the memory");
    FUZZ_REQUIRE(rows.offset == offset, "the rows moved from where the chunk put them");
    if (maxsize > (1u << 18)) return 0;
    // The memory exactly as large as the buffer says: the first and the last row are read from it.
    const std::vector<uint8_t> memory(maxsize, 0x80);
    const host::PixelFormat bgrx{32, 32, false, 0xFF0000, 0xFF00, 0xFF};
    std::vector<uint32_t> pixels(static_cast<size_t>(width));
    bgrx.convert_row(memory.data() + rows.offset, width, pixels.data());
    bgrx.convert_row(memory.data() + rows.offset + rows.stride * static_cast<size_t>(height - 1), width, pixels.data());
    return 0;
}
