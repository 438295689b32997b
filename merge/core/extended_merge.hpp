// The extended merge as one call: the checks, the plan and the write of a request, with its
// messages and progress told through `events`. It prints nothing, ends nothing, installs no
// signal handler and keeps no state beyond the call, so merges may run on several threads at once.
#pragma once

#include <cstdint>

#include "core/events.hpp"
#include "core/merge_request.hpp"
#include "core/status.hpp"
#include "file_system.hpp"

namespace quillet {

// Merges the request's inputs into its output (nothing is written on a dry run). Expects an
// output name; fewer than two inputs are refused in the words of a list file. The points
// written, or the failure: the first thing that stopped the merge, with its status and message.
// After a failure no temporary file is left and an existing output is as it was.
Result<std::uint64_t> run_extended_merge(const MergeRequest& request, const MergeEvents& events,
                                         korvane::FileSystem& fs);

}  // namespace quillet
