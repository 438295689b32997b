// Whole reads and writes at a file offset, looping over short counts and interrupted calls.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <span>

#include "file_system.hpp"

namespace korvane {

// Reads until the span is full or the file ends. Returns the number of bytes read (fewer than
// asked only at the end of the file), or -1 with errno set on a read error.
ssize_t read_full(FileSystem& fs, int fd, std::span<std::byte> into, off_t offset);

// Writes every byte of the span. Returns true when all were written; false with errno set
// otherwise (a write that makes no progress counts as ENOSPC).
bool write_full(FileSystem& fs, int fd, std::span<const std::byte> from, off_t offset);

}  // namespace korvane
