// How the merged file is laid out: a sequence of pieces, each either bytes made here (the
// merged header, a rewritten record, a chunk table) or a stretch copied from an input (the
// first file's records, every input's points or compressed chunks). The writer puts the pieces
// one after the other; it never has to know which kind of merge made them.
#pragma once

#include <cstdint>
#include <vector>

#include "input_description.hpp"
#include "merge_job.hpp"

namespace quillet {

struct Piece {
    enum class Kind {
        Bytes,        // `bytes`, as they are
        InputBytes,   // the stretch `from` of input `input`, copied byte for byte
        InputPoints,  // the point region of input `input`, described again when it is copied
    };
    Kind kind = Kind::Bytes;
    std::vector<std::byte> bytes;
    std::size_t input = 0;  // in list order
    Region from;
};

struct OutputLayout {
    std::vector<Piece> pieces;
    std::uint64_t size = 0;  // the merged file's size when every input is as it was checked

    void add_bytes(std::vector<std::byte> bytes);
    // Joins a stretch that continues the previous piece of the same input.
    void add_input_bytes(std::size_t input, Region from);
    void add_points(std::size_t input, std::uint64_t length);
};

// The classic merge: the merged 227-byte header, the first file's bytes from there up to its
// point data, then every input's point records.
OutputLayout classic_layout(const MergeJob& job);

// The extended merge: the first file's whole header, rewritten; its VLRs without those of
// cloud optimised LAZ and with its LASzip record rewritten; the points, or for LAZ the offset
// of the chunk table, every input's chunks and one chunk table for all of them; then the first
// file's EVLRs without those of cloud optimised LAZ. Expects inputs that passed the extended
// checks.
OutputLayout extended_layout(const MergeJob& job);

}  // namespace quillet
