// The chunk table of a LAZ point region, coded and decoded in memory. The table lists, in chunk
// order, each chunk's point count (only when the chunk size is variable) and its size in bytes,
// as one arithmetic-coded stream. Merging LAZ files without decompressing them copies the chunks
// unchanged and needs only this: read every input's table, write one table for all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korvane {

// One chunk of a LAZ point region: the points it decodes to and the bytes it occupies.
struct LazChunk {
    std::uint32_t points = 0;
    std::uint32_t bytes = 0;

    bool operator==(const LazChunk&) const = default;
};
static_assert(sizeof(LazChunk) == 8);

// The coded entries of a chunk table (the bytes after its 8-byte `version, count` prefix).
// variable: each chunk's point count (context 0) then byte size (context 1);
// fixed: byte sizes only (context 1). Each value predicted by the previous chunk's value of
// its kind (0 for the first chunk). No chunks: no bytes.
std::vector<std::byte> encode_chunk_table(std::span<const LazChunk> chunks, bool variable);

struct DecodedChunkTable {
    std::vector<LazChunk> chunks;  // for fixed tables `points` is left 0 (the caller knows them)
    std::size_t consumed = 0;      // coded bytes the decoder read (some writers leave bytes after)
};

// Decodes `count` entries; nothing when the coded bytes end before the decoder is done
// (it would read past `coded`). The caller has already bounded `count` by what the file can
// hold: the decoder may reserve `count` entries. Bytes that no encoder wrote decode to some
// entries without harm; the caller's checks of the sums refuse them.
std::optional<DecodedChunkTable> decode_chunk_table(std::span<const std::byte> coded,
                                                    std::uint32_t count, bool variable);

// An upper bound on the coded size of any table of `count` entries, so a reader can read a
// bounded number of bytes from a file and still decode every valid table.
std::uint64_t max_coded_chunk_table_bytes(std::uint32_t count, bool variable);

}  // namespace korvane
