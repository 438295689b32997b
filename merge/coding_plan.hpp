// How each input of `Quillet --extended` goes into the output, whose form its name decides: an
// input already in the output's form is copied (LAS records, LAZ chunks); a LAZ input into a LAS
// output is decoded; a LAS input into a LAZ output is encoded, consecutive LAS inputs sharing one
// run of chunks. Also the output's LASzip record and chunk size, and what the merge refuses about
// coding: items the codec does not implement where they must be coded, and LAZ inputs whose
// chunks could not share one file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "merge_job.hpp"
#include "result.hpp"

namespace quillet {

enum class OutputForm { Las, Laz };

// The form an output name asks for: `*.las` or `*.laz`, lower case. Nothing, after the
// library's line against .las and one more line, for any other name.
std::optional<OutputForm> output_form(const std::string& name, std::FILE* out);

enum class Coding {
    Copy,      // LAS records or LAZ chunks, as they are
    Decode,    // LAZ chunks decoded into a LAS output
    Encode,    // LAS records encoded into a LAZ output
    Reencode,  // LAZ chunks decoded and encoded again (--fixed-chunks)
};

// What the merge prints for an input it codes: "decoded", "encoded", "re-encoded".
const char* action_of(Coding coding);

// The points of each chunk that the merge encodes: runs of this many, across input boundaries.
inline constexpr std::uint32_t kEncodedChunkPoints = 50000;

struct CodingPlan {
    OutputForm form = OutputForm::Las;
    std::vector<Coding> coding;  // per input, in list order
    // LAZ output: the LASzip record and its payload as written (the chunk size set to match, no
    // special EVLRs), the input whose record it is (none when it is Quillet's own), and whether
    // the chunk table lists only byte sizes.
    korvane::laz::LaszipRecord laszip;
    std::vector<std::byte> laszip_payload;
    std::optional<std::size_t> laszip_source;
    bool fixed_chunks = false;
    std::uint64_t chunk_count = 0;
};

// The plan for inputs that passed the extended checks; the refusal, as one message, when an input
// that must be coded has items the codec does not implement, or when LAZ inputs that are copied
// into one LAZ output differ in their LASzip compressor, coder, options or items. With
// `fixed_chunks` (a LAZ output), every LAZ input is re-encoded with the LAS inputs, in one run
// of 50,000-point chunks, so that the chunk table is fixed.
Result<CodingPlan> plan_coding(const MergeJob& job, OutputForm form, bool fixed_chunks = false);

}  // namespace quillet
