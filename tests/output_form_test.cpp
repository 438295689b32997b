// `Quillet -o OUTPUT INPUT...` as a user and a script meet it, run as a child process: the same
// bytes as the list form of the same inputs, what it prints (no banner, the plan, one closing
// line), its JSON report read by a JSON parser, its progress on standard error (plain lines for
// logs, nothing for a pipe, a bar redrawn in place in a real terminal), and the bar's frames
// against a clock of the test's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "child_process.hpp"
#include "cli/progress_display.hpp"
#include "merge_fixture.hpp"
#include "point_records.hpp"

namespace {

using nlohmann::json;
using testing_support::ChildResult;
using testing_support::run_quillet_in;
using testing_support::ScratchDir;

std::string sample(const std::string& name) {
    return std::string(SAMPLES_DIR) + "/" + name;
}

class OutputForm : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(dir_ / "tiles");
        for (const char* name : {"lone-star-split-1.laz", "lone-star-split-2.laz"})
            std::filesystem::copy_file(sample(name), dir_ / ("tiles/" + std::string(name)));
        std::filesystem::copy_file(sample("thin-1.las"), dir_ / "thin-1.las");
        std::filesystem::copy_file(sample("thin-2.las"), dir_ / "thin-2.las");
    }
    ScratchDir dir_;
};

TEST_F(OutputForm, SameBytesAsTheListForm) {
    struct Row {
        const char* what;
        std::vector<std::string> inputs;  // the -o form's
        std::vector<std::string> listed;  // the same files for the list form
        std::string output;
        std::vector<std::string> options = {};
    };
    const Row rows[] = {
        {"a directory of LAZ tiles into LAZ",
         {"tiles"},
         {"tiles/lone-star-split-1.laz", "tiles/lone-star-split-2.laz"},
         "m.laz"},
        {"LAS tiles into LAZ on two threads, options after the inputs",
         {"thin-1.las", "thin-2.las"},
         {"thin-1.las", "thin-2.las"},
         "m.laz",
         {"--threads", "2"}},
        {"one LAZ tile into LAS", {"tiles/lone-star-split-2.laz"}, {}, "m.las"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> args = {"-o", row.output};
        args.insert(args.end(), row.inputs.begin(), row.inputs.end());
        args.insert(args.end(), row.options.begin(), row.options.end());
        const ChildResult r = run_quillet_in(dir_, args);
        ASSERT_EQ(r.exit_status, 0) << r.out;
        const auto bytes = lassynth::read_bytes(dir_ / row.output);
        if (row.listed.empty()) {
            // One input: a conversion, its records those that laz-perf decodes from the tile.
            EXPECT_NE(r.out.find("lone-star-split-2.laz: decoded\n"), std::string::npos) << r.out;
            EXPECT_EQ(testing_support::records_of(dir_ / row.output),
                      testing_support::records_of(dir_ / "tiles/lone-star-split-2.laz"));
            continue;
        }
        std::vector<std::string> options = {"--extended"};
        options.insert(options.end(), row.options.begin(), row.options.end());
        std::string list;
        for (const std::string& n : row.listed) list += n + "\n";
        dir_.write_text("list.txt", list);
        options.push_back("list.txt");
        options.push_back("ref-" + row.output);
        ASSERT_EQ(run_quillet_in(dir_, options).exit_status, 0);
        EXPECT_EQ(bytes, lassynth::read_bytes(dir_ / ("ref-" + row.output)));
    }
}

TEST_F(OutputForm, WhatItPrints) {
    struct Row {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string out;  // a regular expression for the whole of standard output
    };
    const Row rows[] = {
        {"no banner, one closing line",
         {"-o", "m.laz", "tiles"},
         0,
         R"(Merged 277,454 points from 2 files into m\.laz in [0-9]+\.[0-9]{2} s\n)"},
        {"the plan's lines, then the closing line",
         {"-o", "m.las", "tiles"},
         0,
         R"(tiles/lone-star-split-1\.laz: decoded\ntiles/lone-star-split-2\.laz: decoded\n)"
         R"(Merged 277,454 points from 2 files into m\.las in [0-9.]+ s\n)"},
        {"a dry run",
         {"--dry-run", "-o", "m.laz", "thin-2.las", "thin-1.las"},
         0,
         R"(thin-2\.las: encoded\nthin-1\.las: encoded\n)"
         R"(Would merge 10,653 points from 2 files into m\.laz; nothing written\n)"},
        {"quiet", {"-q", "-o", "m.laz", "tiles"}, 0, ""},
        {"a damaged single input is reported as damaged",
         {"-o", "m.las", "list.txt"},
         255,
         R"(\nlist\.txt is too short to hold a LAS header \(18 bytes\)\n)"},
        {"an unknown option: the -o form's usage, no banner",
         {"-o", "m.las", "tiles", "--fast"},
         255,
         R"(\nUnknown option --fast\nUsage: Quillet -o OUTPUT \[OPTION\]\.\.\. INPUT\.\.\.  )"
         R"(\(Quillet --help tells more\)\n)"},
        {"the same file twice",
         {"-o", "m.laz", "tiles", "./tiles/lone-star-split-1.laz"},
         255,
         R"(\ntiles/lone-star-split-1\.laz and \./tiles/lone-star-split-1\.laz are the same )"
         R"(file\n)"},
    };
    dir_.write_text("list.txt", "not a point cloud\n");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::filesystem::remove(dir_ / "m.laz");
        std::filesystem::remove(dir_ / "m.las");
        const ChildResult r = run_quillet_in(dir_, row.args);
        EXPECT_EQ(r.exit_status, row.status);
        EXPECT_TRUE(std::regex_match(r.out, std::regex(row.out))) << r.out;
        EXPECT_EQ(r.err, "") << "progress reached a standard error that is no terminal";
        const bool written =
            std::filesystem::exists(dir_ / "m.laz") || std::filesystem::exists(dir_ / "m.las");
        EXPECT_EQ(written, row.status == 0 && row.args[0] != "--dry-run");
    }
}

TEST_F(OutputForm, JsonReport) {
    struct Row {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string status_name;
        std::vector<std::pair<std::string, std::string>> actions;  // input, action ("": null)
        std::uint64_t points;                                      // the schema's; 0: no schema
        std::string message;                                       // a piece of it
    };
    const Row rows[] = {
        {"a refusal: the inputs described, no schema",
         {"--json", "-o", "m.las", "thin-1.las", "tiles/lone-star-split-1.laz"},
         255,
         "KORVANE_REFUSED",
         {{"thin-1.las", ""}, {"tiles/lone-star-split-1.laz", ""}},
         0,
         "do not fit the 32-bit range"},
        {"copied and decoded",
         {"-o", "m.laz", "--json", "tiles", "--progress"},
         0,
         "KORVANE_OK",
         {{"tiles/lone-star-split-1.laz", "copied"}, {"tiles/lone-star-split-2.laz", "copied"}},
         277454,
         ""},
        {"a dry run of a conversion",
         {"-o", "m.las", "--json", "--dry-run", "thin-2.las"},
         0,
         "KORVANE_OK",
         {{"thin-2.las", "copied"}},
         5326,
         ""},
        {"an argument refused",
         {"--json", "-o", "m.las", "--threads", "99", "thin-2.las"},
         255,
         "KORVANE_INVALID_REQUEST",
         {},
         0,
         "from 1 to 64"},
        {"an empty directory",
         {"--json", "-o", "m.las", "empty"},
         255,
         "KORVANE_INVALID_REQUEST",
         {},
         0,
         "holds no .las or .laz files"},
    };
    std::filesystem::create_directory(dir_ / "empty");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const ChildResult r = run_quillet_in(dir_, row.args);
        EXPECT_EQ(r.exit_status, row.status);
        json report;
        ASSERT_NO_THROW(report = json::parse(r.out)) << "standard output holds more: " << r.out;
        EXPECT_EQ(report["status"], row.status_name);
        EXPECT_NE(report["message"].get<std::string>().find(row.message), std::string::npos);
        ASSERT_EQ(report["inputs"].size(), row.actions.size());
        for (std::size_t i = 0; i < row.actions.size(); ++i) {
            EXPECT_EQ(report["inputs"][i]["name"], row.actions[i].first);
            EXPECT_TRUE(report["inputs"][i]["points"].is_number_unsigned());
            if (row.actions[i].second.empty())
                EXPECT_TRUE(report["inputs"][i]["action"].is_null());
            else
                EXPECT_EQ(report["inputs"][i]["action"], row.actions[i].second);
        }
        const json& schema = report["output"]["schema"];
        if (row.points == 0) {
            EXPECT_TRUE(schema.is_null());
        } else {
            EXPECT_EQ(schema["points"].get<std::uint64_t>(), row.points);
            EXPECT_EQ(schema["scale"].size(), 3u);
            EXPECT_LE(schema["box"]["min"][0].get<double>(), schema["box"]["max"][0].get<double>());
        }
        EXPECT_TRUE(report["seconds"].is_number());
        EXPECT_TRUE(report["warnings"].is_array());
    }
}

TEST_F(OutputForm, ProgressLinesForLogs) {
    const ChildResult r = run_quillet_in(dir_, {"-o", "m.laz", "tiles", "--progress"});
    EXPECT_EQ(r.exit_status, 0);
    // The first line comes at once; a merge of a moment has no second.
    EXPECT_TRUE(std::regex_match(
        r.err, std::regex(R"(Progress: [0-9]+% \([0-9,]+ of 277,454 points\), .* left\n)")))
        << r.err;
}

// A real terminal: the merge run under script(1), whose record holds what the terminal got.
TEST_F(OutputForm, BarInATerminal) {
    if (std::system("script --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
    const std::string command = "script -q -e -c '" + std::string(QUILLET_EXE) +
                                " -o m.las tiles 2>&1' typescript >/dev/null";
    testing_support::ChildOptions options;
    options.working_dir = dir_.path();
    const ChildResult r = testing_support::run_child({"/bin/sh", "-c", command}, options);
    ASSERT_EQ(r.exit_status, 0) << r.out;
    const auto record = lassynth::read_bytes(dir_ / "typescript");
    const std::string text(reinterpret_cast<const char*>(record.data()), record.size());
    // One frame drawn at once and one at 100%, each over the line in place, then the line erased
    // before the closing line.
    const std::regex frames(
        R"(\r\[[-#]{30}\] +[0-9]+%  [0-9,]+ / 277,454 points  [^\r\n]* left\x1b\[K)");
    const auto count = std::distance(std::sregex_iterator(text.begin(), text.end(), frames),
                                     std::sregex_iterator());
    EXPECT_GE(count, 2) << text;
    EXPECT_NE(text.find("\r[##############################] 100%  277,454 / 277,454 points"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\x1b[K\r\x1b[KMerged 277,454 points"), std::string::npos) << text;
}

TEST(ProgressDisplay, FramesAndLinesAgainstTheClock) {
    struct Call {
        double at;  // seconds
        std::uint64_t done, total;
    };
    struct Row {
        const char* what;
        quillet::ProgressStyle style;
        std::vector<Call> calls;
        std::string shown;  // after finish()
    };
    const std::string f0 =
        "\r[------------------------------]   0%  0 / 1,000 points  "
        "-- points/s  --:-- left\x1b[K";
    const Row rows[] = {
        {"the first frame at once, then at most ten a second, the last always, then erased",
         quillet::ProgressStyle::Bar,
         {{0, 0, 1000}, {0.05, 100, 1000}, {0.2, 500, 1000}, {0.25, 1000, 1000}},
         f0 +
             "\r[###############---------------]  50%  500 / 1,000 points  2.5 k points/s  0:00 "
             "left\x1b[K" +
             "\r[##############################] 100%  1,000 / 1,000 points  4.0 k points/s  "
             "0:00 left\x1b[K\r\x1b[K"},
        {"lines: the first at once, then one every 5 seconds",
         quillet::ProgressStyle::Lines,
         {{10, 0, 3000000}, {12, 1000000, 3000000}, {15, 1500000, 3000000}, {16, 3000000, 3000000}},
         "Progress: 0% (0 of 3,000,000 points), -- points/s, --:-- left\n"
         "Progress: 50% (1,500,000 of 3,000,000 points), 300.0 k points/s, 0:05 left\n"},
        {"nothing", quillet::ProgressStyle::None, {{0, 0, 10}, {1, 10, 10}}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        char* buffer = nullptr;
        std::size_t size = 0;
        std::FILE* to = open_memstream(&buffer, &size);
        double now = 0;
        {
            quillet::ProgressDisplay display(to, row.style, [&now] { return now; });
            for (const Call& c : row.calls) {
                now = c.at;
                display.show(c.done, c.total);
            }
            display.finish();
        }
        std::fclose(to);
        EXPECT_EQ(std::string(buffer, size), row.shown);
        std::free(buffer);
    }
    EXPECT_EQ(quillet::with_commas(518862), "518,862");
    EXPECT_EQ(quillet::with_commas(999), "999");
    EXPECT_EQ(quillet::with_commas(4400000000), "4,400,000,000");
}

}  // namespace
