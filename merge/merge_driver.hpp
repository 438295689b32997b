// The Quillet command: checks the arguments, runs the phases in order and writes the merge.
#pragma once

#include <cstdio>
#include <span>

#include "file_system.hpp"

namespace quillet {

// Runs `Quillet <ASCII List> <LAS Output>` with the given arguments (program name first),
// writing every message to `out`. Returns the exit status: 0 after a complete merge, -1 after
// any failure.
int run(std::span<const char* const> args, std::FILE* out, korvane::FileSystem& fs);

// The usage text, then the banner.
void usage(std::FILE* out);

}  // namespace quillet
