// The plan of the merged file: a sequence of pieces, each either bytes made here (the merged
// header, a rewritten record), a stretch copied from an input (the first file's records, every
// input's points or compressed chunks), a run of inputs' records (decoded, transformed, encoded
// to chunks), an input's chunks shifted, or the chunk table of the chunks written before it.
// Fields known only once everything is written (where the chunk table and the EVLRs start) are
// patched into their pieces at the end. The writer puts the pieces one after the other; it never
// has to know which kind of merge made them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "core/merge_job.hpp"
#include "plan/coding_plan.hpp"
#include "read/input_description.hpp"

namespace quillet {

// A place in the output that a patch may name: the output offset of the piece so marked.
enum class Mark { None, ChunkTable, FirstEvlr };

// A field within a piece's bytes, set once everything is written: a u64 at `at`, the output
// offset of the piece marked `offset_of` (0 when no piece is so marked); or, for `box`, the
// header's six box fields at `at`, enclosing the inputs that keep their boxes and the moved
// points of the others.
struct Patch {
    std::size_t at = 0;
    Mark offset_of = Mark::None;
    bool box = false;
};

// One input's points in a run: its LAS records, or its LAZ chunks (`chunks` not empty), decoded.
struct Source {
    std::size_t input = 0;
    Region from;                                 // its point records, or its chunks back to back
    std::vector<korvane::LazChunk> chunks;       // LAZ: its chunks, in order
    const RecordTransform* transform = nullptr;  // into the output's records, when they change
};

// The kinds of piece.
struct BytesPiece {  // bytes made here, then `patches` into them
    std::vector<std::byte> bytes;
    std::vector<Patch> patches;
};
struct CopyPiece {  // a stretch of an input that is not its points (header, records), as it is
    std::size_t input = 0;
    Region from;
    Mark mark = Mark::None;
};
struct PointsPiece {  // an input's point records or LAZ chunks, byte for byte
    std::size_t input = 0;
    Region from;
    std::vector<korvane::LazChunk> chunks;  // LAZ: the chunks it holds, in order
};
// The records of `sources` in order: encoded into chunks of kEncodedChunkPoints across the
// sources' boundaries when `encode`, or with `keep_chunks` one chunk for each chunk of its one LAZ
// source; otherwise written as they are (LAZ sources decoded into a LAS output, LAS records
// transformed).
struct RunPiece {
    std::vector<Source> sources;
    bool encode = false;
    bool keep_chunks = false;
};
struct ShiftPiece {  // an input's chunks, each first point's raw X, Y, Z + `shift`
    std::size_t input = 0;
    Region from;
    std::vector<korvane::LazChunk> chunks;
    std::array<std::int64_t, kAxes> shift{};
};
struct ChunkTablePiece {           // a chunk table listing every chunk written before it
    bool variable_chunks = false;  // whether it lists point counts
};

using Piece =
    std::variant<BytesPiece, CopyPiece, PointsPiece, RunPiece, ShiftPiece, ChunkTablePiece>;

// The place a piece marks for patches to name, if any.
Mark mark_of(const Piece& piece);

struct OutputLayout {
    std::vector<Piece> pieces;
    korvane::laz::LaszipRecord encoding;                     // what runs encode with
    std::uint16_t record_length = 0;                         // of the output's records
    std::vector<std::optional<RecordTransform>> transforms;  // per input, which sources point to
    // The output's grid, and the box of the inputs that keep theirs (none when every input with
    // points is moved): what a box patch starts from.
    std::array<double, kAxes> scale{}, offset{};
    std::optional<std::array<double, 6>> kept_box;  // MaxX MinX MaxY MinY MaxZ MinZ

    void add_bytes(std::vector<std::byte> bytes, std::vector<Patch> patches = {});
    // A stretch of an input; unless marked, it joins the previous piece when that copies the
    // bytes just before it.
    void add_copy(std::size_t input, Region from, Mark mark = Mark::None);
    void add_points(std::size_t input, const InputDescription& d);
    // Adds an input's points to the run that the last piece is, when it is one of the same kind
    // (encoded or not, and not keeping chunks), or starts one.
    void add_to_run(std::size_t input, const InputDescription& d, bool encode,
                    const RecordTransform* transform, bool keep_chunks = false);
    void add_shifted(std::size_t input, const InputDescription& d,
                     const std::array<std::int64_t, kAxes>& shift);
    void add_chunk_table(bool variable);
};

// The classic merge: the merged 227-byte header, the first file's bytes from there up to its
// point data, then every input's point records.
OutputLayout classic_layout(const MergeJob& job, const ClassicState& state);

// The extended merge: the first file's whole header, rewritten for the output's form; its VLRs
// without those of cloud optimised LAZ, and for a LAZ output with the output's LASzip record
// (rewritten, or added), for a LAS output without one; the points of every input as the plan
// codes them, and for LAZ the offset of the chunk table before them and one chunk table for all
// chunks after them; then the first file's EVLRs without those of cloud optimised LAZ. Expects
// inputs that passed the extended checks.
OutputLayout extended_layout(std::span<const InputDescription> inputs, const CodingPlan& plan);

}  // namespace quillet
