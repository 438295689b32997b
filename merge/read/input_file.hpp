// Opening a listed input and reading its classic header, judged against the file's real size: a
// header is used only when the file can hold everything that the header states.
#pragma once

#include <Korvane_LiDAR.h>
#include <sys/types.h>

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

// The failure of a read of `name` that gave `got` bytes, fewer than a description said are there:
// a read error of the system (got < 0, errno set), or a file that ended early (it is damaged, or
// was shortened after it was checked).
Failure read_failure(const std::string& name, ssize_t got);

}  // namespace quillet
