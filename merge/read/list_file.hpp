// Reading the list file: the names of the files to merge, separated by any white space.
#pragma once

#include <string>
#include <vector>

#include "core/status.hpp"
#include "file_system.hpp"

namespace quillet {

// The list name that stands for standard input.
inline bool is_standard_input(const std::string& listName) {
    return listName == "-";
}

// The names listed in the file, in order. Names are used as they are written; each may be as
// long as the system's path limit allows. The failure when the file cannot be read or holds a
// name that no path can be. The list "-" is read from standard input.
Result<std::vector<std::string>> read_list(const std::string& listName, korvane::FileSystem& fs);

}  // namespace quillet
