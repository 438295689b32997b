// The conventions of Quillet's command line: help, version, unknown options, "--", and the list
// read from standard input. The classic two-name form is covered by the merge tests.
#include "cli/command_line.hpp"

#include <gtest/gtest.h>

#include "child_process.hpp"
#include "merge_fixture.hpp"

namespace {

using testing_support::ChildOptions;
using testing_support::ChildResult;
using testing_support::kBanner;
using testing_support::make_tile;
using testing_support::run_quillet_in;
using testing_support::ScratchDir;
using testing_support::Tile;

const std::string kUsage = std::string("Usage:\nQuillet <ASCII List> <LAS Output>\n\n") + kBanner;
const std::string kArgumentCount = "\nMissing, or excessive number of, arguments\n" + kUsage;

TEST(CommandLine, HelpAndVersionSucceedOnStandardOutput) {
    ScratchDir dir;
    const ChildResult help = run_quillet_in(dir, {"--help"});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_TRUE(
        help.out.starts_with("Usage: Quillet -o OUTPUT [OPTION]... INPUT...\n"
                             "       Quillet [OPTION]... <ASCII List> <LAS Output>\n"));
    for (const char* text :
         {"-h, --help", "--version", "--  ", "standard input", "Exit status", "255"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;

    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"-h"}, help.out},
        {{"--help", "list.txt", "out.las"}, help.out},
        {{"--version"}, std::string("Quillet ") + PROJECT_VERSION_TEXT + "\n"},
        {{"--version", "--help"}, std::string("Quillet ") + PROJECT_VERSION_TEXT + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const ChildResult r = run_quillet_in(dir, c.args);
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(testing_support::list_dir(dir.path()).empty());
}

TEST(CommandLine, ArgumentsThatAreRefused) {
    struct Case {
        std::vector<std::string> args;
        std::string first_line;  // before the argument-count message
    };
    const Case cases[] = {
        {{"--bogus", "list.txt", "out.las"}, "\nUnknown option --bogus\n"},
        {{"-x", "list.txt", "out.las"}, "\nUnknown option -x\n"},
        {{"list.txt", "out.las", "--extendd"}, "\nUnknown option --extendd\n"},
        {{"--", "list.txt"}, ""},
        {{"--", "a", "b", "c"}, ""},
        {{"--", "-", "a", "--"}, ""},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const ChildResult r = run_quillet_in(dir, c.args);
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.out, c.first_line + kArgumentCount);
    }
    EXPECT_TRUE(testing_support::list_dir(dir.path()).empty());
}

TEST(CommandLine, OptionsOfTheExtendedMergeThatAreRefused) {
    // One line that says what is wrong, then the usage; nothing is read or written.
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const std::string bad = "\nThe number of threads must be a whole number from 1 to 64, not ";
    const Case cases[] = {
        {{"--threads", "2", "list.txt", "out.las"}, "\n--threads needs --extended\n"},
        {{"--threads=2", "list.txt", "out.laz"}, "\n--threads needs --extended\n"},
        {{"--fixed-chunks", "list.txt", "out.laz"}, "\n--fixed-chunks needs --extended\n"},
        {{"--rescale", "list.txt", "out.las"}, "\n--rescale needs --extended\n"},
        {{"--dry-run", "list.txt", "out.las"}, "\n--dry-run needs --extended\n"},
        {{"--extended", "--threads", "0", "list.txt", "out.laz"}, bad + "0\n"},
        {{"--extended", "--threads=65", "list.txt", "out.laz"}, bad + "65\n"},
        {{"--extended", "--threads", "two", "list.txt", "out.laz"}, bad + "two\n"},
        {{"--extended", "--threads=", "list.txt", "out.laz"}, bad + "\n"},
        {{"--extended", "--threads", "-3", "list.txt", "out.laz"}, bad + "-3\n"},
        {{"--extended", "list.txt", "out.laz", "--threads"}, "\n--threads needs a value\n"},
        {{"--memory", "1G", "list.txt", "out.copc.laz"}, "\n--memory needs --extended\n"},
        {{"--extended", "--fixed-chunks", "list.txt", "out.las"},
         "\n--fixed-chunks needs a .laz output\n"},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args[2]);
        const ChildResult r = run_quillet_in(dir, c.args);
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.out, c.line + kUsage);
    }
    EXPECT_TRUE(testing_support::list_dir(dir.path()).empty());
}

// --memory SIZE: digits, then at most one K, M or G (powers of 1024, either case); at least 64M.
TEST(CommandLine, MemorySizes) {
    constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
    const std::pair<const char*, std::uint64_t> rows[] = {
        {"64M", 64 * kMiB},
        {"64m", 64 * kMiB},
        {"65536K", 64 * kMiB},
        {"67108864", 64 * kMiB},
        {"2g", 2048 * kMiB},
        {"1G", 1024 * kMiB},
        {"67108863", 0},
        {"63M", 0},
        {"1.5G", 0},
        {"64MB", 0},
        {"", 0},
        {"-1", 0},
        {"G", 0},
        {"1T", 0},
        {"17179869184G", 0},
        {"99999999999999999999", 0},
    };
    for (const auto& [text, bytes] : rows) {
        SCOPED_TRACE(text);
        const char* words[] = {"Quillet", "-o", "m.copc.laz", "--memory", text, "a.las"};
        const quillet::CommandLine c = quillet::parse_command_line(words);
        if (bytes != 0) {
            EXPECT_EQ(c.action, quillet::CommandLine::Action::Merge);
            EXPECT_EQ(c.memory, bytes);
        } else {
            EXPECT_EQ(c.action, quillet::CommandLine::Action::RefuseOption);
            EXPECT_EQ(c.refusal,
                      std::string("The memory must be at least 64M, in bytes or with K, M or G, "
                                  "not ") +
                          text);
        }
    }
}

TEST(CommandLine, NamesThatBeginWithADash) {
    ScratchDir dir;
    const std::vector<Tile> tiles = {make_tile("-a.las", 2, 1, 30, 1),
                                     make_tile("b.las", 2, 1, 20, 2)};
    const std::string list = testing_support::write_tiles(dir, tiles, "-list.txt");
    // Two arguments are the classic form, whatever they begin with; "--" ends the options.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{list, "-m.las"}, {"--", list, "-m.las"}}) {
        std::remove((dir / "-m.las").c_str());
        const ChildResult r = run_quillet_in(dir, args);
        ASSERT_EQ(r.exit_status, 0) << r.out;
        EXPECT_EQ(lassynth::read_bytes(dir / "-m.las"), testing_support::expected_merge(tiles));
    }
}

TEST(CommandLine, ListFromStandardInput) {
    ScratchDir dir;
    const std::vector<Tile> tiles = {make_tile("a.las", 2, 3, 40, 1),
                                     make_tile("b.las", 2, 3, 9, 2)};
    for (const Tile& t : tiles) t.file.write(dir / t.name);

    ChildOptions piped;
    piped.stdin_text = "a.las\nb.las\n";
    const ChildResult r = run_quillet_in(dir, {"-", "m.las"}, piped);
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.out, std::string(kBanner) + "49 points in all input .las files\n" +
                         "\n2 files to be merged into m.las\n" + "\ra.las (1 / 2)" +
                         std::string(20, ' ') + "\rb.las (2 / 2)" + std::string(20, ' '));
    EXPECT_EQ(lassynth::read_bytes(dir / "m.las"), testing_support::expected_merge(tiles));

    // Messages that name the list name it "-"; the same with options before the names.
    struct Case {
        std::string input;
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {"", {"-", "out.las"}, "\nFile - contains no valid .las files\n"},
        {"a.las", {"--", "-", "out.las"}, "\nAt least two .las files required in -\n"},
        {"a.las\nnope.las\n",
         {"-", "out.las"},
         "Unable to open file nope.las in file_access()\n\nFile nope.las does NOT exist\n"
         "nope.las (listed in -) is not a valid LAS file\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        ChildOptions options;
        options.stdin_text = c.input;
        const ChildResult refused = run_quillet_in(dir, c.args, options);
        EXPECT_EQ(refused.exit_status, 255);
        EXPECT_EQ(refused.out, kBanner + c.message);
        EXPECT_FALSE(testing_support::file_exists(dir / "out.las"));
    }
}

}  // namespace
