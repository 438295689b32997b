#include "file_checks.hpp"

#include <Korvane_LiDAR.h>
#include <fcntl.h>

#include <cstring>
#include <string>

#include "unique_fd.hpp"

namespace korvane {

namespace {

// The text of a printf format and its arguments.
template <typename... Args>
std::string format_text(const char* format, Args... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string text(static_cast<std::size_t>(n < 0 ? 0 : n), '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

}  // namespace

std::string access_problem(const char* filename, FileSystem& fs) {
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer.
    UniqueFd fd(fs, fs.open(filename, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0));
    if (fd.valid()) return {};
    return format_text("Unable to open file %s in file_access()\n", filename);
}

std::int16_t file_access(const char* filename, std::FILE* out, FileSystem& fs) {
    const std::string problem = access_problem(filename, fs);
    std::fputs(problem.c_str(), out);
    return problem.empty() ? 0 : -1;
}

ExtensionProblem extension_problem(const char* filename, const char* extension) {
    const std::size_t n = std::strlen(filename);
    if (n <= 4) return ExtensionProblem::TooShort;
    if (filename[n - 4] != '.') return ExtensionProblem::NoDot;
    if (std::strcmp(filename + n - 3, extension) != 0) return ExtensionProblem::OtherExtension;
    return ExtensionProblem::None;
}

std::string extension_message(const char* filename, const char* extension) {
    switch (extension_problem(filename, extension)) {
        case ExtensionProblem::None:
            return {};
        case ExtensionProblem::TooShort:
            return format_text("\nFile name (%s) is too short\n", filename);
        case ExtensionProblem::NoDot:
            // "preceeded": the library's message as it has always been printed.
            return format_text("\nExtension of file %s should be preceeded by a dot (.)\n",
                               filename);
        case ExtensionProblem::OtherExtension:
            return format_text("\nFile extension of %s is not .%s\n", filename, extension);
    }
    return {};
}

std::int16_t check_file_extension(const char* filename, const char* extension, std::FILE* out) {
    const std::string message = extension_message(filename, extension);
    std::fputs(message.c_str(), out);
    return message.empty() ? 0 : -1;
}

std::string error_text(std::int32_t i, const char* text) {
    switch (i) {
        case 1:
            return format_text("\nFile %s does NOT exist\n", text);
        case 2:
            return format_text("\nFile %s already exists\n", text);
        case 3:
            return format_text("\nSame file name (%s) has been specified twice\n", text);
        default:
            return {};
    }
}

void error_msg(std::int32_t i, const char* text, std::FILE* out) {
    std::fputs(error_text(i, text).c_str(), out);
}

}  // namespace korvane

extern "C" {

int16_t file_access(const char* filename) {
    return korvane::file_access(filename, stdout, korvane::system_files());
}

int16_t check_file_extension(const char* filename, const char* extension) {
    return korvane::check_file_extension(filename, extension, stdout);
}

void error_msg(int32_t i, const char* text) {
    korvane::error_msg(i, text, stdout);
}

}  // extern "C"
