// Writing the merged file: the merged header, the first file's bytes between its header and its
// point data (its variable length records), then the point records of every input in list
// order, byte for byte.
#pragma once

#include <cstdio>

#include "file_system.hpp"
#include "merge_job.hpp"

namespace quillet {

// Writes the merged file under a temporary name and renames it onto job.outputName once it is
// complete. False, after one message naming the file and the cause, on any failure; the
// temporary file is then removed and an existing output is left as it was.
bool write_merged_file(const MergeJob& job, std::FILE* out, korvane::FileSystem& fs);

}  // namespace quillet
