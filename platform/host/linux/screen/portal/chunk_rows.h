// Where the rows of a frame lie in a PipeWire buffer's memory, as its chunk says: the chunk comes
// from another process, and is trusted only as far as the memory it points into reaches.
#pragma once

#include <cstddef>
#include <cstdint>

namespace portal {

struct ChunkRows {
    size_t offset;  // of the first row, from the start of the memory
    size_t stride;  // from one row to the next
};

// The rows of a width x height frame of 32-bit pixels that a chunk of `offset` and `stride` (0 or
// less: rows packed) places in `maxsize` bytes, or false when any of them would reach past the
// end, or rows would overlap.
bool chunk_rows(uint32_t offset, int32_t stride, uint32_t maxsize, int width, int height, ChunkRows& rows);

}  // namespace portal
