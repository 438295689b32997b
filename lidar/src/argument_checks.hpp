// Validation of command-line style arguments: plain decimal numbers, yes/no flags and the names
// of elevation-model (DEM) files. The checks only validate; none converts the argument.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "file_system.hpp"

namespace korvane {

// Whether text holds only decimal digits, at most one point and at most one dash, and is not a
// lone point or a lone dash. The empty text qualifies.
bool is_plain_number(std::string_view text);

// 0 if str is a plain number; otherwise the "Invalid argument value" message and -1.
std::int16_t check_numeric_argument(const char* str, std::FILE* out);

// 0 for exactly "Y", "N", "y" or "n", silently; otherwise the flag message and -1.
std::int16_t check_YN(const char* text, std::FILE* out);

// 0 if str ends in ".asc", or ends in ".flt" and the ".hdr" file beside it opens for reading;
// otherwise -1 after the messages of the failed checks. Only the ".hdr" file is ever opened.
std::int16_t check_DEM(const char* str, std::FILE* out, FileSystem& fs);

}  // namespace korvane
