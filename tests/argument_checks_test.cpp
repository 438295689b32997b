// The argument checks: plain numbers, yes/no flags and DEM file names. Every case runs through
// the internal function (status and messages) and through the exported one in a child process
// (messages on standard output and exit status 255 where the process ends).
#include "argument_checks.hpp"

#include <Korvane_LiDAR.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "captured_output.hpp"
#include "child_process.hpp"
#include "file_system.hpp"
#include "scratch_dir.hpp"

namespace {

using Capture = testing_support::CapturedOutput;
using testing_support::run_in_child;
using testing_support::ScratchDir;

constexpr int kEndedStatus = 255;  // exit(-1) as the shell sees it

// Compares printed text; for long texts the failure shows where they part, not all of them.
testing::AssertionResult same_text(const std::string& actual, const std::string& expected) {
    if (actual == expected) return testing::AssertionSuccess();
    if (actual.size() + expected.size() < 400)
        return testing::AssertionFailure()
               << "printed [" << actual << "], expected [" << expected << "]";
    std::size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
    return testing::AssertionFailure()
           << "printed " << actual.size() << " bytes, expected " << expected.size()
           << "; they differ from byte " << i << ": [" << actual.substr(i, 40) << "] against ["
           << expected.substr(i, 40) << "]";
}

// ---- check_numeric_argument --------------------------------------------------------------

std::string invalid_line(const std::string& arg) {
    return "\nInvalid argument value (" + arg + ")\n";
}

const std::vector<std::string> kNumbers = {
    "", "5", "-5", "5-", "1-2", "-.", "3.", ".5", "-.5", "0.5-", "0123456789", ".-", "-0.0",
};

const std::vector<std::string> kNotNumbers = {
    ".",     "-",  "1.2.3", "--1", "+1",  "1e3", " 1",  "12a", "1,5", "\xC3\xA9",
    "5\x80", "1 ", "..",    "\t1", "1/2", "1:2", "-5-", "1..", "0x1", "\x7F",
};

TEST(CheckNumericArgument, AcceptsPlainNumbersSilently) {
    for (const std::string& arg : kNumbers) {
        Capture out;
        EXPECT_EQ(korvane::check_numeric_argument(arg.c_str(), out.file()), 0) << "[" << arg << "]";
        EXPECT_TRUE(same_text(out.text(), "")) << "[" << arg << "]";

        const auto child = run_in_child([&] { ::check_numeric_argument(arg.c_str()); });
        EXPECT_EQ(child.exit_status, 0) << "[" << arg << "]";
        EXPECT_TRUE(same_text(child.out, "")) << "[" << arg << "]";
    }
}

TEST(CheckNumericArgument, RejectsAnythingElseAndEndsTheProcess) {
    for (const std::string& arg : kNotNumbers) {
        Capture out;
        EXPECT_EQ(korvane::check_numeric_argument(arg.c_str(), out.file()), -1)
            << "[" << arg << "]";
        EXPECT_TRUE(same_text(out.text(), invalid_line(arg))) << "[" << arg << "]";

        const auto child = run_in_child([&] {
            ::check_numeric_argument(arg.c_str());
            std::puts("returned");
        });
        EXPECT_EQ(child.exit_status, kEndedStatus) << "[" << arg << "]";
        EXPECT_TRUE(same_text(child.out, invalid_line(arg))) << "[" << arg << "]";
    }
}

// Arguments longer than a 16-bit position or counter can address: every character is looked
// at, and the count of points or dashes does not wrap around to an accepted value.
TEST(CheckNumericArgument, WalksArgumentsOfAnyLength) {
    struct Case {
        std::string what;
        std::string arg;
        bool accepted;
    };
    const std::string digits65536(65536, '7');
    const Case cases[] = {
        {"70,000 digits", std::string(70000, '1'), true},
        {"70,000 digits, a point and a dash",
         std::string(35000, '2') + ".-" + std::string(35000, '3'), true},
        {"70,000 digits then a letter", std::string(70000, '1') + "x", false},
        {"a letter at position 65,536", digits65536 + "a", false},
        {"a letter at position 65,536 followed by digits", digits65536 + "a" + "12", false},
        {"points at positions 0 and 65,536", std::string(".") + std::string(65535, '4') + ".",
         false},
        {"65,537 points", std::string(65537, '.'), false},
        {"65,537 dashes", std::string(65537, '-'), false},
    };
    for (const Case& c : cases) {
        Capture out;
        EXPECT_EQ(korvane::check_numeric_argument(c.arg.c_str(), out.file()), c.accepted ? 0 : -1)
            << c.what;
        EXPECT_TRUE(same_text(out.text(), c.accepted ? "" : invalid_line(c.arg))) << c.what;

        const auto child = run_in_child([&] { ::check_numeric_argument(c.arg.c_str()); });
        EXPECT_EQ(child.exit_status, c.accepted ? 0 : kEndedStatus) << c.what;
        EXPECT_TRUE(same_text(child.out, c.accepted ? "" : invalid_line(c.arg))) << c.what;
    }
}

// ---- check_YN ----------------------------------------------------------------------------

const std::string kFlagLine = "\nASCII Header Flag should be either Y (y) or N (n)\n";

TEST(CheckYN, TakesExactlyOneLetterOfEitherCase) {
    struct Case {
        std::string text;
        std::int16_t status;
    };
    const Case cases[] = {
        {"Y", 0},   {"N", 0}, {"y", 0},   {"n", 0},   {"Yes", -1}, {"yes", -1},  {"YN", -1},
        {"n ", -1}, {"", -1}, {" y", -1}, {"NO", -1}, {"x", -1},   {"\xD9", -1}, {"y\n", -1},
    };
    for (const Case& c : cases) {
        const std::string expected = c.status == 0 ? "" : kFlagLine;
        Capture out;
        EXPECT_EQ(korvane::check_YN(c.text.c_str(), out.file()), c.status) << "[" << c.text << "]";
        EXPECT_TRUE(same_text(out.text(), expected)) << "[" << c.text << "]";

        // The exported function returns its status and never ends the process.
        const auto child = run_in_child(
            [&] { std::fprintf(stderr, "%d", static_cast<int>(::check_YN(c.text.c_str()))); });
        EXPECT_EQ(child.exit_status, 0) << "[" << c.text << "]";
        EXPECT_TRUE(same_text(child.out, expected)) << "[" << c.text << "]";
        EXPECT_EQ(child.err, std::to_string(c.status)) << "[" << c.text << "]";
    }
}

// ---- check_DEM ---------------------------------------------------------------------------

std::string not_extension(const std::string& name, const std::string& ext) {
    return "\nFile extension of " + name + " is not ." + ext + "\n";
}
std::string too_short(const std::string& name) {
    return "\nFile name (" + name + ") is too short\n";
}
std::string no_dot(const std::string& name) {
    return "\nExtension of file " + name + " should be preceeded by a dot (.)\n";
}
std::string unable_to_open(const std::string& name) {
    return "Unable to open file " + name + " in file_access()\n";
}
const std::string kDemExtensionLine =
    "\nDEM file extension should be either '.asc' (ASCII) or '.flt' (floating point binary)\n";
const std::string kHeaderFileLine =
    "\nFloating point binary DEM files also require a ASCII header file ('.hdr')\n";

// A file system in which only the listed names can be opened; it records every name opened.
class ListedFiles : public korvane::FileSystem {
  public:
    explicit ListedFiles(std::set<std::string> readable) : readable_(std::move(readable)) {}

    int open(const char* path, int, mode_t) override {
        opened.emplace_back(path);
        if (readable_.count(path) == 0) {
            errno = ENOENT;
            return -1;
        }
        return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    }

    std::vector<std::string> opened;

  private:
    std::set<std::string> readable_;
};

struct DemCase {
    std::string what;
    std::string arg;
    std::set<std::string> existing;  // files present beside it
    std::string lines;               // everything printed, in order
    bool accepted;
    std::vector<std::string> opened;  // names check_DEM tries to open
};

std::vector<DemCase> dem_cases() {
    const std::string flt_missing_header =
        not_extension("x.flt", "asc") + unable_to_open("x.hdr") + kHeaderFileLine;
    const std::string long_core(96, 'd');  // with ".flt", a 100-character name
    const std::string longer_core(300, 'e');
    return {
        {"asc, absent", "x.asc", {}, not_extension("x.asc", "flt"), true, {}},
        {"asc, present", "x.asc", {"x.asc"}, not_extension("x.asc", "flt"), true, {}},
        {"shortest asc", "a.asc", {}, not_extension("a.asc", "flt"), true, {}},
        {"asc after flt", "x.flt.asc", {}, not_extension("x.flt.asc", "flt"), true, {}},
        {"flt and header",
         "x.flt",
         {"x.flt", "x.hdr"},
         not_extension("x.flt", "asc"),
         true,
         {"x.hdr"}},
        {"flt without header", "x.flt", {}, flt_missing_header, false, {"x.hdr"}},
        {"flt present, header absent", "x.flt", {"x.flt"}, flt_missing_header, false, {"x.hdr"}},
        {"header only, no flt", "x.flt", {"x.hdr"}, not_extension("x.flt", "asc"), true, {"x.hdr"}},
        {"flt in a directory",
         "tiles/dem01.flt",
         {"tiles/dem01.hdr"},
         not_extension("tiles/dem01.flt", "asc"),
         true,
         {"tiles/dem01.hdr"}},
        {"flt after asc",
         "x.asc.flt",
         {"x.asc.hdr"},
         not_extension("x.asc.flt", "asc"),
         true,
         {"x.asc.hdr"}},
        {"other extension",
         "x.txt",
         {"x.txt"},
         not_extension("x.txt", "asc") + not_extension("x.txt", "flt") + kDemExtensionLine,
         false,
         {}},
        {"upper-case ASC",
         "x.ASC",
         {"x.ASC"},
         not_extension("x.ASC", "asc") + not_extension("x.ASC", "flt") + kDemExtensionLine,
         false,
         {}},
        {"upper-case FLT",
         "x.FLT",
         {"x.HDR", "x.hdr"},
         not_extension("x.FLT", "asc") + not_extension("x.FLT", "flt") + kDemExtensionLine,
         false,
         {}},
        {"three characters",
         "abc",
         {},
         too_short("abc") + too_short("abc") + kDemExtensionLine,
         false,
         {}},
        {"bare .asc",
         ".asc",
         {},
         too_short(".asc") + too_short(".asc") + kDemExtensionLine,
         false,
         {}},
        {"bare .flt",
         ".flt",
         {".hdr"},
         too_short(".flt") + too_short(".flt") + kDemExtensionLine,
         false,
         {}},
        {"empty", "", {}, too_short("") + too_short("") + kDemExtensionLine, false, {}},
        {"no dot",
         "dem_asc",
         {},
         no_dot("dem_asc") + no_dot("dem_asc") + kDemExtensionLine,
         false,
         {}},
        {"dot one place early",
         "x.ascc",
         {},
         no_dot("x.ascc") + no_dot("x.ascc") + kDemExtensionLine,
         false,
         {}},
        {"100-character flt with header",
         long_core + ".flt",
         {long_core + ".hdr"},
         not_extension(long_core + ".flt", "asc"),
         true,
         {long_core + ".hdr"}},
        {"100-character flt without header",
         long_core + ".flt",
         {long_core + ".flt"},
         not_extension(long_core + ".flt", "asc") + unable_to_open(long_core + ".hdr") +
             kHeaderFileLine,
         false,
         {long_core + ".hdr"}},
        {"304-character flt, header name too long to open",
         longer_core + ".flt",
         {},
         not_extension(longer_core + ".flt", "asc") + unable_to_open(longer_core + ".hdr") +
             kHeaderFileLine,
         false,
         {longer_core + ".hdr"}},
    };
}

std::string joined(const std::vector<std::string>& names) {
    std::string s;
    for (const std::string& n : names) s.append("[").append(n, 0, 40).append("] ");
    return s;
}

TEST(CheckDEM, InternalPrintsEachFailedProbeAndOpensOnlyTheHeader) {
    for (const DemCase& c : dem_cases()) {
        ListedFiles fs(c.existing);
        Capture out;
        EXPECT_EQ(korvane::check_DEM(c.arg.c_str(), out.file(), fs), c.accepted ? 0 : -1) << c.what;
        EXPECT_TRUE(same_text(out.text(), c.lines)) << c.what;
        EXPECT_EQ(fs.opened, c.opened) << c.what << ": " << joined(fs.opened);
    }
}

// Creates the named files, and their directories, under dir.
void create_files(const ScratchDir& dir, const std::set<std::string>& names) {
    for (const std::string& name : names) {
        const std::filesystem::path path = std::filesystem::path(dir.path()) / name;
        std::filesystem::create_directories(path.parent_path());
        dir.write_text(name, "ncols 1\n");
    }
}

TEST(CheckDEM, ExportedReturnsOrEndsTheProcessOnRealFiles) {
    for (const DemCase& c : dem_cases()) {
        ScratchDir dir;
        // A 304-character name cannot exist as one directory entry; that case only ever fails.
        if (c.arg.size() < 255) create_files(dir, c.existing);
        const auto child = run_in_child([&] {
            if (::chdir(dir.path().c_str()) != 0) std::_Exit(90);
            ::check_DEM(c.arg.c_str());
        });
        EXPECT_EQ(child.exit_status, c.accepted ? 0 : kEndedStatus) << c.what;
        EXPECT_TRUE(same_text(child.out, c.lines)) << c.what;
    }
}

// A name of some 4,000 characters that the system can still open: the header name is the
// whole name with its extension replaced, nothing cut off.
TEST(CheckDEM, LongPathsReachTheHeaderFile) {
    ScratchDir dir;
    dir.write_text("grid.hdr", "ncols 1\n");
    std::string prefix = dir.path();
    while (prefix.size() < 4000) prefix += "/.";
    const std::string present = prefix + "/grid.flt";
    const std::string absent = prefix + "/none.flt";

    ListedFiles fs({prefix + "/grid.hdr"});
    Capture out;
    EXPECT_EQ(korvane::check_DEM(present.c_str(), out.file(), fs), 0);
    EXPECT_EQ(fs.opened, std::vector<std::string>{prefix + "/grid.hdr"});
    EXPECT_TRUE(same_text(out.text(), not_extension(present, "asc")));

    const auto accepted = run_in_child([&] { ::check_DEM(present.c_str()); });
    EXPECT_EQ(accepted.exit_status, 0);
    EXPECT_TRUE(same_text(accepted.out, not_extension(present, "asc")));

    const auto rejected = run_in_child([&] { ::check_DEM(absent.c_str()); });
    EXPECT_EQ(rejected.exit_status, kEndedStatus);
    EXPECT_TRUE(same_text(
        rejected.out,
        not_extension(absent, "asc") + unable_to_open(prefix + "/none.hdr") + kHeaderFileLine));
}

}  // namespace
