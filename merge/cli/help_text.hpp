// What `Quillet --help` and `Quillet --version` print.
#pragma once

#include <cstdio>

namespace quillet {

// The help: usage, what Quillet does, the list file, every option, the exit statuses.
void print_help(std::FILE* out);

// One line: the program's name and version.
void print_version(std::FILE* out);

}  // namespace quillet
