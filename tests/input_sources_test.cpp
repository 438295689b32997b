// The -o form's command lines read and their inputs resolved, in-process: files, directories,
// virtual point clouds and input lists into the files merged, in order; and every refusal with
// its one message. The classic two-name form must stay what it was.
#include "read/input_sources.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "cli/command_line.hpp"
#include "scratch_dir.hpp"

namespace {

using quillet::InputArgument;
using testing_support::ScratchDir;

// A scratch tree: d/ with files of several cases and a link, an empty directory, a cloud.
class InputSources : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"d/b.las", "d/A.LAZ", "d/c.Las", "d/notes.txt", "d/sub/x.las",
                                 "e/readme", "one.las", "two.laz", "my tile.las"})
            put(name);
        std::filesystem::create_symlink(dir_ / "one.las", dir_ / "d/link.laz");
        std::filesystem::create_symlink(dir_ / "nowhere.las", dir_ / "d/dangling.las");
        dir_.write_text("cloud.vpc", cloud({"./d/b.las", dir_ / "two.laz"}));
        dir_.write_text("d/inner.vpc", cloud({"../one.las"}));
        dir_.write_text("remote.vpc", cloud({"one.las", "https://example.org/t.laz"}));
        dir_.write_text("broken.vpc", "{\"type\": \"FeatureCollection\",\n \"features\": [,]}");
        dir_.write_text("nohref.vpc", "{\"type\":\"FeatureCollection\",\"features\":[{}]}");
        dir_.write_text("empty.vpc", cloud({}));
        dir_.write_text("list.txt", "# tiles\none.las\r\n\n  \t\nmy tile.las\ncloud.vpc\n");
        std::filesystem::current_path(dir_.path());
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

    void put(const std::string& name) {
        std::filesystem::create_directories(std::filesystem::path(dir_ / name).parent_path());
        dir_.write_text(name, "");
    }
    static std::string cloud(const std::vector<std::string>& hrefs) {
        std::string features;
        for (const std::string& h : hrefs) {
            if (!features.empty()) features += ",";
            features += R"({"type":"Feature","assets":{"data":{"href":")" + h + R"("}}})";
        }
        return R"({"type":"FeatureCollection","features":[)" + features + "]}";
    }

    ScratchDir dir_;
    std::filesystem::path previous_ = std::filesystem::current_path();
};

quillet::CommandLine parse(std::vector<const char*> words) {
    words.insert(words.begin(), "Quillet");
    return quillet::parse_command_line(words);
}

TEST_F(InputSources, CommandLinesResolved) {
    const std::vector<std::string> dir_files = {"d/A.LAZ", "d/b.las", "d/c.Las", "d/link.laz"};
    struct Row {
        const char* what;
        std::vector<const char*> words;
        std::string stdin_text;
        std::vector<std::string> files;  // resolved
        std::string refusal = {};        // or the resolution's message
    };
    const Row rows[] = {
        {"files in the order given",
         {"-o", "m.laz", "two.laz", "one.las"},
         "",
         {"two.laz", "one.las"}},
        {"options after the inputs",
         {"one.las", "--threads", "2", "--output=m.las", "two.laz"},
         "",
         {"one.las", "two.laz"}},
        {"a directory: its LAS and LAZ files in byte order, a link to a file among them",
         {"--output", "m.laz", "d"},
         "",
         dir_files},
        {"a directory named with its slash", {"-o", "m.laz", "d/"}, "", dir_files},
        {"after --, a name that begins with a dash",
         {"-o", "m.laz", "--", "-odd.las"},
         "",
         {"-odd.las"}},
        {"a missing file is the merge's to judge", {"-o", "m.laz", "gone.las"}, "", {"gone.las"}},
        {"a virtual point cloud: relative and absolute hrefs",
         {"-o", "m.laz", "cloud.vpc"},
         "",
         {"d/b.las", dir_ / "two.laz"}},
        {"an href relative to the cloud's own directory",
         {"-o", "m.laz", "d/inner.vpc"},
         "",
         {"one.las"}},
        {"an input list: comments, blank lines, carriage returns, blanks in names, a cloud",
         {"-o", "m.laz", "--input-list", "list.txt", "d/c.Las"},
         "",
         {"one.las", "my tile.las", "d/b.las", dir_ / "two.laz", "d/c.Las"}},
        {"an input list on standard input",
         {"-o", "m.laz", "--input-list=-"},
         "two.laz\n#one.las\none.las",
         {"two.laz", "one.las"}},
        {"an empty directory",
         {"-o", "m.laz", "e"},
         "",
         {},
         "\nThe directory e holds no .las or .laz files\n"},
        {"a remote href",
         {"-o", "m.laz", "remote.vpc"},
         "",
         {},
         "\nremote.vpc names https://example.org/t.laz, a remote file: Quillet reads only local "
         "files\n"},
        {"malformed JSON, with the parser's position",
         {"-o", "m.laz", "broken.vpc"},
         "",
         {},
         "\nbroken.vpc is not valid JSON: parse error at line 2, column 15: syntax error while "
         "parsing value - unexpected ','; expected '[', '{', or a literal\n"},
        {"a feature without an href",
         {"-o", "m.laz", "nohref.vpc"},
         "",
         {},
         "\nnohref.vpc is not a virtual point cloud: feature 1 has no assets.data.href\n"},
        {"a cloud of no files",
         {"-o", "m.laz", "empty.vpc"},
         "",
         {},
         "\nempty.vpc lists no point cloud files\n"},
        {"one file under two names",
         {"-o", "m.laz", "one.las", "d"},
         "",
         {},
         "\none.las and d/link.laz are the same file\n"},
        {"a missing input list",
         {"-o", "m.laz", "--input-list", "none.txt"},
         "",
         {},
         "\nCannot read the input list none.txt: No such file or directory\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const quillet::CommandLine c = parse(row.words);
        ASSERT_EQ(c.action, quillet::CommandLine::Action::Merge);
        ASSERT_TRUE(c.output_form);
        std::string text = row.stdin_text;
        std::FILE* in = fmemopen(text.data(), text.size(), "r");
        if (text.empty()) in = std::tmpfile();
        const auto files = quillet::resolve_inputs(c.inputs, in);
        std::fclose(in);
        if (row.refusal.empty()) {
            ASSERT_TRUE(files) << files.problem().text;
            EXPECT_EQ(*files, row.files);
        } else {
            ASSERT_FALSE(files);
            EXPECT_EQ(files.problem().text, row.refusal);
        }
    }
}

TEST_F(InputSources, ArgumentsOfEachForm) {
    using Action = quillet::CommandLine::Action;
    struct Row {
        const char* what;
        std::vector<const char*> words;
        Action action;
        std::string refusal;  // the line of a RefuseOption, or the unknown option
        bool output_form = true;
    };
    const Row rows[] = {
        {"the -o form takes every option",
         {"-o", "m.laz", "--json", "-q", "--progress", "--dry-run", "--rescale", "--fixed-chunks",
          "--extended", "a.las"},
         Action::Merge,
         ""},
        {"an unknown option", {"-o", "m.laz", "a.las", "--fast"}, Action::Refuse, "--fast"},
        {"-o without its value", {"a.las", "-o"}, Action::RefuseOption, "--output needs a value"},
        {"an empty output name",
         {"--output=", "a.las"},
         Action::RefuseOption,
         "--output needs a value"},
        {"a bad thread count",
         {"-o", "m.laz", "--threads", "0", "a.las"},
         Action::RefuseOption,
         "The number of threads must be a whole number from 1 to 64, not 0"},
        {"-o after -- is a name: the list form",
         {"--extended", "--", "-o", "m.laz"},
         Action::Merge,
         "",
         false},
        {"an option of the -o form in the list form",
         {"--json", "list.txt", "m.las"},
         Action::RefuseOption,
         "--json needs -o OUTPUT",
         false},
        {"two names are the classic form, whatever they begin with",
         {"list.txt", "--json"},
         Action::Merge,
         "",
         false},
        {"but for -o, which asks for the -o form",
         {"list.txt", "-o"},
         Action::RefuseOption,
         "--output needs a value"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const quillet::CommandLine c = parse(row.words);
        EXPECT_EQ(c.action, row.action);
        EXPECT_EQ(c.output_form, row.output_form);
        if (row.action == Action::RefuseOption) {
            EXPECT_EQ(c.refusal, row.refusal);
        } else if (row.action == Action::Refuse) {
            EXPECT_EQ(c.unknownOption, row.refusal);
        }
    }
    const quillet::CommandLine all = parse(rows[0].words);
    EXPECT_TRUE(all.json && all.quiet && all.progress && all.dry_run && all.rescale &&
                all.fixed_chunks);
    EXPECT_EQ(all.outputName, "m.laz");
    EXPECT_EQ(all.inputs, (std::vector<InputArgument>{{InputArgument::Kind::Path, "a.las"}}));
}

}  // namespace
