// The checks that every listed file passes before anything is written: each is a LAS file of
// one shared type, and all share the first file's scale factors, offsets and record length.
#pragma once

#include <cstdio>

#include "core/merge_job.hpp"
#include "file_system.hpp"

namespace quillet {

// Reads the list, classifies every listed file and sets job.names, job.LASCount and
// state.LASType. False, after a message, when a file is not a handled LAS file, when the types
// differ, or when fewer than two files are listed. A refused file that `Quillet --extended`
// would merge gets a line on `hints` that says so, unless `hints` is null.
bool checkInput(MergeJob& job, ClassicState& state, std::FILE* out, korvane::FileSystem& fs,
                std::FILE* hints = nullptr);

// Compares each file's scale factors, offsets and record length with the first file's, and
// checks that each file holds what its header states. False, after a message naming the first
// file that differs, otherwise.
bool check_scale_offset_recordlength_consistency(const MergeJob& job, std::FILE* out,
                                                 korvane::FileSystem& fs);

}  // namespace quillet
