// The chunk table of a chunked LAZ file as a container. The point data starts with an i64, the
// offset of the table (or -1: a writer that could not seek back stored the offset in the file's
// last 8 bytes instead); the chunks follow back to back; the table is a u32 version (0), a u32
// number of chunks and the coded entries (chunk_table_coder.hpp). A fixed table lists only byte
// sizes: every chunk holds the chunk size in points, the last one the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "laz/chunk_table_coder.hpp"

namespace korvane::laz {

inline constexpr std::size_t kTableOffsetBytes = 8;
inline constexpr std::int64_t kTableOffsetAtEnd = -1;
inline constexpr std::size_t kChunkTableHeaderBytes = 8;
inline constexpr std::uint32_t kChunkTableVersion = 0;

struct ChunkTableHeader {
    std::uint32_t version = 0;
    std::uint32_t count = 0;
};

ChunkTableHeader parse_chunk_table_header(std::span<const std::byte, kChunkTableHeaderBytes> bytes);

// How many chunks of `chunk_size` points hold `points`.
std::uint64_t fixed_chunk_count(std::uint64_t points, std::uint32_t chunk_size);

// Sets the point counts of the chunks of a fixed table: `chunk_size` each, the last the rest of
// `points`. The caller has checked that the count of chunks is fixed_chunk_count(points, size).
void set_fixed_chunk_points(std::span<LazChunk> chunks, std::uint64_t points,
                            std::uint32_t chunk_size);

// A whole table, header and coded entries, listing `chunks`.
std::vector<std::byte> build_chunk_table(std::span<const LazChunk> chunks, bool variable);

}  // namespace korvane::laz
