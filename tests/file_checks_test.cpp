// file_access, check_file_extension and error_msg: results and the exact lines they print.
#include "file_checks.hpp"

#include <Korvane_LiDAR.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "captured_output.hpp"
#include "child_process.hpp"
#include "scratch_dir.hpp"

namespace {

using testing_support::CapturedOutput;
using testing_support::ScratchDir;

TEST(CheckFileExtension, AcceptsAndRejectsNames) {
    struct Case {
        const char* name;
        const char* extension;
        int result;
        const char* printed;
    };
    const Case cases[] = {
        {"a.las", "las", 0, ""},
        {"tiles/x.las", "las", 0, ""},
        {"x.las", "las", 0, ""},
        {".las", "las", -1, "\nFile name (.las) is too short\n"},
        {"", "las", -1, "\nFile name () is too short\n"},
        {"abc", "asc", -1, "\nFile name (abc) is too short\n"},
        {"data.LAS", "las", -1, "\nFile extension of data.LAS is not .las\n"},
        {"A.LAS", "las", -1, "\nFile extension of A.LAS is not .las\n"},
        {"merged.txt", "las", -1, "\nFile extension of merged.txt is not .las\n"},
        {"merged_las", "las", -1,
         "\nExtension of file merged_las should be preceeded by a dot (.)\n"},
        {"a.lasx", "las", -1, "\nExtension of file a.lasx should be preceeded by a dot (.)\n"},
        // An extension of any length other than three never matches.
        {"a.las", "la", -1, "\nFile extension of a.las is not .la\n"},
        {"a.las", "lasx", -1, "\nFile extension of a.las is not .lasx\n"},
    };
    for (const Case& c : cases) {
        CapturedOutput out;
        EXPECT_EQ(korvane::check_file_extension(c.name, c.extension, out.file()), c.result)
            << c.name;
        EXPECT_EQ(out.text(), c.printed) << c.name;
    }
}

TEST(FileAccess, OpensReadableFilesOnly) {
    ScratchDir dir;
    const std::string present = dir.write_text("present.las", "x");
    const std::string unreadable = dir.write_text("locked.las", "x");
    ::chmod(unreadable.c_str(), 0);
    const bool root = ::geteuid() == 0;  // root reads any file

    struct Case {
        std::string name;
        int result;
    };
    const Case cases[] = {{present, 0}, {dir / "missing.las", -1}, {unreadable, root ? 0 : -1}};
    for (const Case& c : cases) {
        CapturedOutput out;
        EXPECT_EQ(korvane::file_access(c.name.c_str(), out.file(), korvane::system_files()),
                  c.result)
            << c.name;
        EXPECT_EQ(out.text(),
                  c.result == 0 ? "" : "Unable to open file " + c.name + " in file_access()\n");
    }
}

TEST(ErrorMsg, PrintsTheThreeMessagesAndNothingElse) {
    struct Case {
        int i;
        const char* printed;
    };
    const Case cases[] = {
        {1, "\nFile a.las does NOT exist\n"},
        {2, "\nFile a.las already exists\n"},
        {3, "\nSame file name (a.las) has been specified twice\n"},
        {0, ""},
        {4, ""},
        {-1, ""},
    };
    for (const Case& c : cases) {
        CapturedOutput out;
        korvane::error_msg(c.i, "a.las", out.file());
        EXPECT_EQ(out.text(), c.printed) << c.i;
    }
}

TEST(ExportedFileChecks, WriteToStandardOutput) {
    const auto result = testing_support::run_in_child([] {
        error_msg(3, "x.las");
        std::printf("[%d]", check_file_extension("x.txt", "las"));
        std::printf("[%d]", file_access("/nonexistent/dir/x.las"));
    });
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out,
              "\nSame file name (x.las) has been specified twice\n"
              "\nFile extension of x.txt is not .las\n[-1]"
              "Unable to open file /nonexistent/dir/x.las in file_access()\n[-1]");
}

}  // namespace
