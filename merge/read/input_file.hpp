// Opening a listed input and reading its classic header, judged against the file's real size: a
// header is used only when the file can hold everything that the header states.
#pragma once

#include <Korvane_LiDAR.h>

#include <string>

#include "core/status.hpp"
#include "file_system.hpp"
#include "unique_fd.hpp"

namespace quillet {

// Opens the input for reading; an invalid descriptor when it cannot be opened.
korvane::UniqueFd open_input(const std::string& name, korvane::FileSystem& fs);

// Reads the 227-byte header of an open input and checks that the file holds it, that its point
// data starts after it, and that the file holds every record the header states. The problem,
// naming the file, when it does not.
Result<LAS12Header> read_checked_header(int fd, const std::string& name, korvane::FileSystem& fs);

}  // namespace quillet
