// The Quillet command: checks the arguments, runs the phases in order and writes the merge.
#pragma once

#include <cstdio>
#include <span>

#include "file_system.hpp"

namespace quillet {

// Runs `Quillet [OPTION]... <ASCII List> <LAS Output>` with the given arguments (program name
// first), writing every message to `out`. When the classic merge refuses a file that
// `Quillet --extended` would merge, one line on `hints` says so (none when it is null). Returns
// the exit status: 0 after a complete merge, -1 after any failure.
int run(std::span<const char* const> args, std::FILE* out, korvane::FileSystem& fs,
        std::FILE* hints = nullptr);

// The usage text, then the banner.
void usage(std::FILE* out);

}  // namespace quillet
