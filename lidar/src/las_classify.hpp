// Classification of a LAS file by version and point data format into a LAS type code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "file_system.hpp"

namespace korvane {

// How many leading bytes of a file the classification reads.
inline constexpr std::size_t kClassifiedBytes = 107;

// The LAS type code (1 to 8, 0, or -1 after a message) of a file whose first bytes are `head`
// (at most kClassifiedBytes of them; fewer when the file is shorter). `filename` only names the
// file in messages.
std::int16_t classify_las_bytes(std::span<const std::byte> head, const char* filename,
                                std::FILE* out);

// The whole classification of a named file: it must open, be named *.las, be a regular file,
// and its first bytes must classify.
std::int16_t check_las(const char* filename, std::FILE* out, FileSystem& fs);

}  // namespace korvane
