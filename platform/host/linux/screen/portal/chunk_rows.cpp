#include "chunk_rows.h"

namespace portal {
namespace {

// Far above the 16384 x 16384 we accept from the portal: no frame is ever this large.
const int largest_side = 1 << 16;

}  // namespace

bool chunk_rows(uint32_t offset, int32_t stride, uint32_t maxsize, int width, int height, ChunkRows& rows) {
    if (width <= 0 || height <= 0 || width > largest_side || height > largest_side) return false;
    // In 64 bits nothing here wraps: 2^16 rows of at most 2^31 bytes, after at most 2^32.
    const uint64_t row_bytes = uint64_t{static_cast<uint32_t>(width)} * 4;
    const uint64_t step = stride > 0 ? static_cast<uint64_t>(stride) : row_bytes;
    if (step < row_bytes || uint64_t{offset} + step * static_cast<uint64_t>(height - 1) + row_bytes > maxsize)
        return false;
    rows = {offset, static_cast<size_t>(step)};
    return true;
}

}  // namespace portal
