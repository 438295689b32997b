// The argument checks on arbitrary strings, each judged against a simple model of what it must
// accept and print. The string is the input up to its first zero byte; a byte after that zero
// byte, when there is one, says whether a DEM's ".hdr" file can be opened.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "argument_checks.hpp"
#include "fuzz_support.hpp"

namespace {

// A file system in which only the names in `readable` can be opened; it remembers every name
// asked for.
class NamedFiles : public korvane::FileSystem {
  public:
    std::vector<std::string> readable;
    std::vector<std::string> asked;

    int open(const char* path, int, mode_t) override {
        asked.emplace_back(path);
        if (std::find(readable.begin(), readable.end(), path) == readable.end()) {
            errno = ENOENT;
            return -1;
        }
        return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
};

// Digits with at most one point and at most one dash anywhere, but not a lone point or dash.
bool numeric_model(std::string_view s) {
    if (s == "." || s == "-") return false;
    if (s.find_first_not_of("0123456789.-") != std::string_view::npos) return false;
    return std::count(s.begin(), s.end(), '.') <= 1 && std::count(s.begin(), s.end(), '-') <= 1;
}

bool ends_with(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// What check_file_extension prints when `name` does not end in "." and `ext`.
std::string extension_message(const std::string& name, const std::string& ext) {
    if (name.size() <= 4) return "\nFile name (" + name + ") is too short\n";
    if (name[name.size() - 4] != '.')
        return "\nExtension of file " + name + " should be preceeded by a dot (.)\n";
    if (!ends_with(name, "." + ext))
        return "\nFile extension of " + name + " is not ." + ext + "\n";
    return "";
}

void check_numeric(const std::string& s, std::string_view whole) {
    fuzzing::Captured printed;
    const int verdict = korvane::check_numeric_argument(s.c_str(), printed.file());
    const bool valid = numeric_model(s);
    FUZZ_CHECK(verdict == (valid ? 0 : -1), "check_numeric_argument(\"" + s + "\")");
    FUZZ_CHECK(printed.text() == (valid ? "" : "\nInvalid argument value (" + s + ")\n"),
               "check_numeric_argument printed \"" + printed.text() + "\"");
    // Over the whole input, zero bytes included.
    FUZZ_CHECK(korvane::is_plain_number(whole) == numeric_model(whole), "is_plain_number");
}

void check_yes_no(const std::string& s) {
    fuzzing::Captured printed;
    const int verdict = korvane::check_YN(s.c_str(), printed.file());
    const bool valid = s == "Y" || s == "N" || s == "y" || s == "n";
    FUZZ_CHECK(verdict == (valid ? 0 : -1), "check_YN(\"" + s + "\")");
    FUZZ_CHECK(
        printed.text() == (valid ? "" : "\nASCII Header Flag should be either Y (y) or N (n)\n"),
        "check_YN printed \"" + printed.text() + "\"");
}

void check_dem(const std::string& s, bool header_readable) {
    NamedFiles fs;
    const bool flt = s.size() > 4 && ends_with(s, ".flt");
    const bool asc = s.size() > 4 && ends_with(s, ".asc");
    const std::string header = flt ? s.substr(0, s.size() - 4) + ".hdr" : "";
    if (header_readable && flt) fs.readable.push_back(header);

    fuzzing::Captured printed;
    const int verdict = korvane::check_DEM(s.c_str(), printed.file(), fs);

    std::string expected;
    int expected_verdict = 0;
    if (asc) {
        expected = extension_message(s, "flt");
    } else if (flt) {
        expected = extension_message(s, "asc");
        if (!header_readable) {
            expected += "Unable to open file " + header + " in file_access()\n";
            expected +=
                "\nFloating point binary DEM files also require a ASCII header file "
                "('.hdr')\n";
            expected_verdict = -1;
        }
    } else {
        expected = extension_message(s, "asc") + extension_message(s, "flt") +
                   "\nDEM file extension should be either '.asc' (ASCII) or '.flt' (floating "
                   "point binary)\n";
        expected_verdict = -1;
    }
    FUZZ_CHECK(verdict == expected_verdict, "check_DEM(\"" + s + "\")");
    FUZZ_CHECK(printed.text() == expected,
               "check_DEM printed \"" + printed.text() + "\", expected \"" + expected + "\"");
    // Only the header file of a ".flt" name is ever opened, and only once.
    FUZZ_CHECK(fs.asked == (flt ? std::vector<std::string>{header} : std::vector<std::string>{}),
               "check_DEM opened files other than the \".hdr\" file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view whole(reinterpret_cast<const char*>(data), size);
    const std::size_t end = whole.find('\0');
    const std::string s(whole.substr(0, end));
    const bool header_readable =
        end != std::string_view::npos && end + 1 < size && (data[end + 1] & 1u) != 0;

    check_numeric(s, whole);
    check_yes_no(s);
    check_dem(s, header_readable);
    return 0;
}
