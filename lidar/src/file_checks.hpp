// Whether a named file can be opened, and whether a name ends in a given extension.
#pragma once

#include <cstdint>
#include <cstdio>

#include "file_system.hpp"

namespace korvane {

// 0 if the file opens for reading; otherwise the "Unable to open file" line and -1.
std::int16_t file_access(const char* filename, std::FILE* out, FileSystem& fs);

// 0 if filename ends in "." and the three-letter extension (compared case-sensitively);
// otherwise the matching message and -1.
std::int16_t check_file_extension(const char* filename, const char* extension, std::FILE* out);

// Message 1, 2 or 3 about text; nothing for any other number.
void error_msg(std::int32_t i, const char* text, std::FILE* out);

}  // namespace korvane
