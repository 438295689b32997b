// How each input of `Quillet --extended` goes into the output, whose form its name decides, on the
// output's grid. An input already in the output's form and on its grid is copied (LAS records,
// LAZ chunks); a LAZ input into a LAS output is decoded; a LAS input into a LAZ output is
// encoded, consecutive LAS inputs sharing one run of chunks; a LAS input on another grid is
// rewritten; a LAZ input on another grid is shifted chunk by chunk when only whole-step offsets
// differ and its chunks allow it, and re-encoded otherwise. Also the output's LASzip record and
// chunk size, and what the merge refuses about coding: items the codec does not implement where
// they must be coded, and LAZ inputs whose chunks could not share one file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/status.hpp"
#include "laz/chunk_head.hpp"
#include "plan/grid_plan.hpp"
#include "plan/output_schema.hpp"
#include "read/input_description.hpp"
#include "write/record_transform.hpp"

namespace quillet {

enum class Coding {
    Copy,      // LAS records or LAZ chunks, as they are
    Decode,    // LAZ chunks decoded into a LAS output (and transformed when they change)
    Encode,    // LAS records (transformed when they change) encoded into a LAZ output
    Reencode,  // LAZ chunks decoded, transformed and encoded again
    Rewrite,   // LAS records transformed into the output's
    Shift,     // LAZ chunks copied with the raw first point of each moved by whole steps
};

// What the merge prints for an input it codes or moves: "decoded", "encoded", "re-encoded",
// "rewritten", "shifted".
const char* action_of(Coding coding);

// The points of each chunk that the merge encodes in runs: this many, across input boundaries.
inline constexpr std::uint32_t kEncodedChunkPoints = 50000;

// The raw X, Y and Z of the first point of each chunk of a LAZ input, read for the inputs that
// would be shifted.
using ChunkHeads = std::vector<korvane::laz::ChunkHead>;

// How one input goes into the output.
struct InputPlan {
    Coding coding = Coding::Copy;
    // Its records made into the output's, when they change (another grid, another record).
    std::optional<RecordTransform> transform;
    std::array<std::int64_t, kAxes> shift{};  // Shift: the whole steps added to each chunk's head

    // Whether its points go in with their own real coordinates' box unchanged: copied or
    // shifted, or coded without moving a point.
    bool keeps_box() const { return !transform || !transform->moves_points(); }
};

struct CodingPlan {
    OutputSchema schema;
    GridPlan grid;
    std::vector<InputPlan> inputs;  // in list order
    // A LAZ output re-encodes its chunks in runs (--fixed-chunks) rather than one by one.
    bool runs_across_inputs = false;
    // LAZ output: the LASzip record and its payload as written (the chunk size set to match, no
    // special EVLRs), the input whose record it is (none when it is Quillet's own), and whether
    // the chunk table lists only byte sizes.
    korvane::laz::LaszipRecord laszip;
    std::vector<std::byte> laszip_payload;
    std::optional<std::size_t> laszip_source;
    bool fixed_chunks = false;
    std::uint64_t chunk_count = 0;
};

// What the grid plan reads of each input: its name, scale factors, offsets and header box.
std::vector<GridInput> grid_inputs(std::span<const InputDescription> inputs);

// The LAZ inputs that would be shifted into a LAZ output, were their chunks' first points inside
// their header boxes: those whose mapping has k = 1 on every axis and whose Z keeps its steps
// unless their coder predicts Z from the first point (layered chunks).
std::vector<bool> shift_candidates(std::span<const InputDescription> inputs, OutputForm form,
                                   bool fixed_chunks, const GridPlan& grid);

// The plan for inputs that passed the extended checks, into `schema`, on `grid` (whose inputs
// `on_grid` describes); `heads` holds the chunk heads of the shift candidates (nothing for the
// others, and for a candidate with a chunk too short to hold a first point). The refusal, as one
// message, when an input that must be coded has items the codec does not implement, or when LAZ
// inputs whose chunks go in as they are differ in their LASzip compressor, coder, options or
// items. With `fixed_chunks` (a LAZ output), every LAZ input is re-encoded with the LAS inputs in
// one run of 50,000-point chunks, so that the chunk table is fixed.
Result<CodingPlan> plan_coding(std::span<const InputDescription> inputs,
                               std::span<const GridInput> on_grid, const OutputSchema& schema,
                               bool fixed_chunks, GridPlan grid,
                               const std::vector<std::optional<ChunkHeads>>& heads);

// The plan's line for an input that is transformed or shifted: what changes for it, then its
// action ("XOffset 583000 -> 500000 (X + 8300000 steps), shifted"); for one that is only decoded
// or encoded, the action alone.
std::string plan_line(const GridInput& input, const CodingPlan& plan, std::size_t i);

}  // namespace quillet
