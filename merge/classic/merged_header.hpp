// The header of the merged file: the first file's header with the point counts summed over all
// files and a bounding box that encloses every file's box.
#pragma once

#include <cstdio>

#include "core/merge_job.hpp"
#include "file_system.hpp"

namespace quillet {

// Sets state.ph12global and job.inputs, and prints the total number of points, and a warning when
// the merged file will pass 2,147 MB. False, after a message, when a file cannot be read or the
// total reaches 2,147,483,647 points.
bool calc_output_filesize_and_attributes(MergeJob& job, ClassicState& state, std::FILE* out,
                                         korvane::FileSystem& fs);

// Folds the counts and box of one more file's header into the merged header. The comparisons
// are strict, so a NaN never replaces an extent and a NaN extent is never replaced.
void merge_into(LAS12Header& merged, const LAS12Header& next);

}  // namespace quillet
