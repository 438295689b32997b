// The extended merge as one call: the checks, the plan and the write of a request, with its
// messages and progress told through `events`. It prints nothing, ends nothing, installs no
// signal handler and keeps no state beyond the call, so merges may run on several threads at once.
#pragma once

#include <cstdint>

#include "core/events.hpp"
#include "core/merge_request.hpp"
#include "core/merge_summary.hpp"
#include "core/status.hpp"
#include "file_system.hpp"

namespace quillet {

// Merges the request's inputs into its output (nothing is written on a dry run). Expects an
// output name; a request read from a list file refuses fewer than two inputs in the list's
// words, any other needs one. The points written, or the failure: the first thing that stopped
// the merge, with its status and message. After a failure no temporary file is left and an
// existing output is as it was. When `summary` is given, it holds what the merge decided, as far
// as it got.
Result<std::uint64_t> run_extended_merge(const MergeRequest& request, const MergeEvents& events,
                                         korvane::FileSystem& fs, MergeSummary* summary = nullptr);

}  // namespace quillet
