// `Quillet -o OUTPUT [OPTION]... INPUT...`: the inputs resolved (files, directories, virtual
// point clouds, input lists), merged through the C interface, and what a point-cloud tool prints:
// no banner, the plan's lines, warnings and errors on standard output with one closing line (or
// one JSON report with --json), and the progress on standard error.
#pragma once

#include <cstdio>

#include "cli/command_line.hpp"

namespace quillet {

// Runs the -o form of `command`: text on `out`, progress on `err` (a bar when it is a terminal;
// nothing when it is null), input lists named "-" read from `in`. The exit status: 0, or -1 after
// any failure.
int run_output_form(const CommandLine& command, std::FILE* out, std::FILE* err, std::FILE* in);

}  // namespace quillet
