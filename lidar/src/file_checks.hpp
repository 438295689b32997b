// Whether a named file can be opened, and whether a name ends in a given extension.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "file_system.hpp"

namespace korvane {

// 0 if the file opens for reading; otherwise the "Unable to open file" line and -1.
std::int16_t file_access(const char* filename, std::FILE* out, FileSystem& fs);
// "" if the file opens for reading; otherwise the line that file_access prints.
std::string access_problem(const char* filename, FileSystem& fs);

// Whether filename ends in "." and the three-letter extension (compared case-sensitively), and
// if not, why not.
enum class ExtensionProblem { None, TooShort, NoDot, OtherExtension };
ExtensionProblem extension_problem(const char* filename, const char* extension);

// 0 if filename ends in "." and the three-letter extension; otherwise the message of its
// problem and -1.
std::int16_t check_file_extension(const char* filename, const char* extension, std::FILE* out);
// "" if filename ends in "." and the extension; otherwise the message check_file_extension prints.
std::string extension_message(const char* filename, const char* extension);

// Message 1, 2 or 3 about text; nothing for any other number.
void error_msg(std::int32_t i, const char* text, std::FILE* out);
// The text error_msg prints.
std::string error_text(std::int32_t i, const char* text);

}  // namespace korvane
