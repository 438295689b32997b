#include "argument_checks.hpp"

#include <Korvane_LiDAR.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "file_checks.hpp"

namespace korvane {

bool is_plain_number(std::string_view text) {
    // Positions and counters are size_t: an argument of any length is walked to its end, and
    // no count of points or dashes can wrap back to an accepted value.
    std::size_t ndots = 0;
    std::size_t ndashes = 0;
    for (const char c : text) {
        if (c == '.') {
            ++ndots;
        } else if (c == '-') {
            ++ndashes;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    if (ndots > 1 || ndashes > 1) return false;
    if (text.size() == 1 && (text[0] == '.' || text[0] == '-')) return false;
    return true;
}

std::int16_t check_numeric_argument(const char* str, std::FILE* out) {
    if (is_plain_number(str)) return 0;
    std::fprintf(out, "\nInvalid argument value (%s)\n", str);
    return -1;
}

std::int16_t check_YN(const char* text, std::FILE* out) {
    for (const char* accepted : {"Y", "N", "y", "n"}) {
        if (std::strcmp(text, accepted) == 0) return 0;
    }
    std::fputs("\nASCII Header Flag should be either Y (y) or N (n)\n", out);
    return -1;
}

std::int16_t check_DEM(const char* str, std::FILE* out, FileSystem& fs) {
    // Each probe prints its own message when it fails, so the user sees why neither matched.
    if (check_file_extension(str, "asc", out) < 0 && check_file_extension(str, "flt", out) < 0) {
        std::fputs(
            "\nDEM file extension should be either '.asc' (ASCII) or '.flt' (floating point "
            "binary)\n",
            out);
        return -1;
    }
    if (check_file_extension(str, "flt", out) < 0) return 0;  // an ASCII grid needs no header

    // A binary grid is described by the ".hdr" file of the same name; the name is built on
    // the heap, so a name of any length works.
    const std::string_view name(str);
    std::string header_name(name.substr(0, name.size() - 4));
    header_name += ".hdr";
    if (file_access(header_name.c_str(), out, fs) >= 0) return 0;
    std::fputs("\nFloating point binary DEM files also require a ASCII header file ('.hdr')\n",
               out);
    return -1;
}

}  // namespace korvane

extern "C" {

void check_numeric_argument(const char* str) {
    if (korvane::check_numeric_argument(str, stdout) < 0) std::exit(-1);
}

int16_t check_YN(const char* text) {
    return korvane::check_YN(text, stdout);
}

void check_DEM(const char* str) {
    if (korvane::check_DEM(str, stdout, korvane::system_files()) < 0) std::exit(-1);
}

}  // extern "C"
