// The output must never be one of the user's inputs: writing it would destroy that input.
#pragma once

#include "core/merge_job.hpp"
#include "core/status.hpp"
#include "file_system.hpp"

namespace quillet {

// The failure when the output name refers to a listed file or to the list file itself (the same
// file under any name: compared by device and inode, so "./a.las", symbolic and hard links
// count), or to something that is not a regular file.
Problem output_is_distinct(const MergeJob& job, korvane::FileSystem& fs);

}  // namespace quillet
