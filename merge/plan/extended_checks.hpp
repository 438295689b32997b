// The checks of `Quillet --extended`: every listed file is described by the extended reader and
// what the merge cannot carry is refused. Files whose extra bytes are all described may differ
// in version, point format, record length, extra bytes and GPS time type (the output's schema
// reconciles them or refuses); a file with undescribed extra bytes, and every file beside it, must
// be the first file's like in all that its records depend on (LAS and LAZ inputs may mix).
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "core/events.hpp"
#include "core/merge_job.hpp"
#include "core/status.hpp"
#include "file_system.hpp"
#include "plan/coding_plan.hpp"
#include "read/input_reader.hpp"

namespace quillet {

// Describes every file of job.names, in order, into job.inputs and job.LASCount. Warns through
// `events` of each file whose coordinate system differs from the first file's (as a system:
// GeoTIFF keys and WKT of one system agree).
// The failure when a file cannot be merged or differs from the first file, or when too few files
// are named: fewer than two in a list (job.listName), none otherwise.
Problem check_extended_inputs(MergeJob& job, const MergeEvents& events, korvane::FileSystem& fs);

// The failure when the job's list names no file or only one; nothing otherwise.
Problem too_few_files(const MergeJob& job);

// Why the extended merge refuses a file the reader described, so far as it was read: point
// formats whose waveform packets point into the file's own waveform data, LAZ not in chunks,
// compressors and coders it does not know. Nothing when it can merge what was read.
Problem extended_refusal(const ReadResult& read, const std::string& name);

// The raw first point of each chunk of the inputs marked in `candidates` (the first 12 bytes of
// each chunk), nothing for the others and for one with a chunk too short to hold it; the
// problem when a file cannot be read.
Result<std::vector<std::optional<ChunkHeads>>> read_chunk_heads(
    std::span<const InputDescription> inputs, const std::vector<bool>& candidates,
    korvane::FileSystem& fs);

// The total number of points, and the line that states it. The failure when the total is more
// than the merged header can state, or the chunks of a LAZ output more than one chunk table can
// list.
struct Total {
    std::uint64_t points = 0;
    Message line;
};
Result<Total> check_extended_total(std::span<const InputDescription> inputs,
                                   const CodingPlan& plan);

// What the extended reader says of a file that the classic checks refused, as one line on
// `hints`, when `Quillet --extended` would merge it; nothing otherwise.
void hint_extended(const std::string& name, std::FILE* hints, korvane::FileSystem& fs);

}  // namespace quillet
