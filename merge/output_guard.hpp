// The output must never be one of the user's inputs: writing it would destroy that input.
#pragma once

#include <cstdio>

#include "file_system.hpp"
#include "merge_job.hpp"

namespace quillet {

// False, after a message, when the output name refers to a listed file or to the list file
// itself (the same file under any name: compared by device and inode, so "./a.las", symbolic
// and hard links count), or to something that is not a regular file.
bool output_is_distinct(const MergeJob& job, std::FILE* out, korvane::FileSystem& fs);

}  // namespace quillet
