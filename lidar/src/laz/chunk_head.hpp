// The head of a LAZ chunk: every chunk codec stores the chunk's first point uncompressed, and
// that point's record opens with its raw X, Y and Z as i32 little-endian. The first 12 bytes of a
// chunk are therefore those three integers, which a merge can read to place a chunk on a grid,
// or rewrite to move every point of the chunk by whole steps without decoding it (the later
// points are coded as differences from the first).
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>

#include "las/byte_order.hpp"

namespace korvane::laz {

inline constexpr std::size_t kChunkHeadBytes = 12;

// The raw X, Y and Z of a chunk's first point.
using ChunkHead = std::array<std::int32_t, 3>;

// The head in the first kChunkHeadBytes of `chunk`, which holds at least that many bytes.
inline ChunkHead read_chunk_head(std::span<const std::byte> chunk) {
    assert(chunk.size() >= kChunkHeadBytes);
    const auto head = chunk.first<kChunkHeadBytes>();
    return {get_le<std::int32_t>(head, 0), get_le<std::int32_t>(head, 4),
            get_le<std::int32_t>(head, 8)};
}

// Adds `steps` to the raw X, Y and Z in the first kChunkHeadBytes of `chunk`, in place. The
// stored integers wrap modulo 2^32, as a decoder's sums of differences do, so every step count
// has one result whatever its sign or size.
inline void shift_chunk_head(std::span<std::byte> chunk, const std::array<std::int64_t, 3>& steps) {
    assert(chunk.size() >= kChunkHeadBytes);
    const auto head = chunk.first<kChunkHeadBytes>();
    for (std::size_t axis = 0; axis < steps.size(); ++axis) {
        const auto raw = get_le<std::uint32_t>(head, 4 * axis);
        put_le<std::uint32_t>(head, 4 * axis, raw + static_cast<std::uint32_t>(steps[axis]));
    }
}

}  // namespace korvane::laz
