// Writing the merged file: the pieces of its layout, one after the other. Each input's point
// region is described again just before it is copied, so that an input rewritten since the
// checks is noticed instead of merged.
#pragma once

#include <cstdio>

#include "file_system.hpp"
#include "input_description.hpp"
#include "merge_job.hpp"
#include "output_layout.hpp"

namespace quillet {

// Writes the merged file under a temporary name and renames it onto job.outputName once it is
// complete. False, after one message naming the file and the cause, on any failure; the
// temporary file is then removed and an existing output is left as it was.
// `describe` is the reader that checked the inputs.
bool write_merged_file(const MergeJob& job, const OutputLayout& layout, DescribeInput describe,
                       std::FILE* out, korvane::FileSystem& fs);

}  // namespace quillet
