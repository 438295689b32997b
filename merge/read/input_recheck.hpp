// An input read again while it is merged: the file must still be the one that was checked, or
// the merged header (counts, box) and the plan would not hold for what is copied.
#pragma once

#include <string>

#include "core/status.hpp"
#include "file_system.hpp"
#include "read/input_description.hpp"

namespace quillet {

// Describes the input `checked` again through `fd`, as its reader did: nothing when it is as it
// was; otherwise the problem (a read that fails, or the change, with `output` named when only the
// counts changed: the merged header no longer adds up).
Problem recheck_input(const InputDescription& checked, int fd, const std::string& output,
                      korvane::FileSystem& fs);

}  // namespace quillet
