#include "file_checks.hpp"

#include <Korvane_LiDAR.h>
#include <fcntl.h>

#include <cstring>

#include "unique_fd.hpp"

namespace korvane {

std::int16_t file_access(const char* filename, std::FILE* out, FileSystem& fs) {
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer.
    UniqueFd fd(fs, fs.open(filename, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0));
    if (!fd.valid()) {
        std::fprintf(out, "Unable to open file %s in file_access()\n", filename);
        return -1;
    }
    return 0;
}

ExtensionProblem extension_problem(const char* filename, const char* extension) {
    const std::size_t n = std::strlen(filename);
    if (n <= 4) return ExtensionProblem::TooShort;
    if (filename[n - 4] != '.') return ExtensionProblem::NoDot;
    if (std::strcmp(filename + n - 3, extension) != 0) return ExtensionProblem::OtherExtension;
    return ExtensionProblem::None;
}

std::int16_t check_file_extension(const char* filename, const char* extension, std::FILE* out) {
    switch (extension_problem(filename, extension)) {
        case ExtensionProblem::None:
            return 0;
        case ExtensionProblem::TooShort:
            std::fprintf(out, "\nFile name (%s) is too short\n", filename);
            break;
        case ExtensionProblem::NoDot:
            std::fprintf(out, "\nExtension of file %s should be preceeded by a dot (.)\n",
                         filename);
            break;
        case ExtensionProblem::OtherExtension:
            std::fprintf(out, "\nFile extension of %s is not .%s\n", filename, extension);
            break;
    }
    return -1;
}

void error_msg(std::int32_t i, const char* text, std::FILE* out) {
    switch (i) {
        case 1:
            std::fprintf(out, "\nFile %s does NOT exist\n", text);
            break;
        case 2:
            std::fprintf(out, "\nFile %s already exists\n", text);
            break;
        case 3:
            std::fprintf(out, "\nSame file name (%s) has been specified twice\n", text);
            break;
        default:
            break;
    }
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
