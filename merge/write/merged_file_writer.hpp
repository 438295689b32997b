// Writing the merged file: the pieces of its plan, one after the other, then the patches that
// only the written file can fill in. Each input is described again before the first piece copied
// from it and after the last, and must still be the input that was checked, so that an input
// rewritten during the merge is refused instead of merged.
#pragma once

#include "core/events.hpp"
#include "core/merge_job.hpp"
#include "core/status.hpp"
#include "file_system.hpp"
#include "plan/output_layout.hpp"

namespace quillet {

// Writes the merged file under a temporary name and renames it onto job.outputName once it is
// complete. Runs of LAZ chunks are coded on `threads` threads; the bytes written do not depend on
// how many. Tells `events` which input it writes, how many points are written (at least once per
// chunk or 4 MiB, and a last time with every point, before the output is replaced) and the
// temporary file's name. The failure naming the file and the cause, on any failure (the first in
// the output's order) or when the progress callback asks to stop; the temporary file is then
// removed and an existing output is left as it was.
Problem write_merged_file(const MergeJob& job, const OutputLayout& layout, unsigned threads,
                          const MergeEvents& events, korvane::FileSystem& fs);

}  // namespace quillet
