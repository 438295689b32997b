// Faults injected into every file-system call of a merge, one at a time: whatever fails, the
// merge either completes correctly or reports one message, returns -1, leaves no temporary file
// and leaves an existing output exactly as it was.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#include "captured_output.hpp"
#include "cli/merge_driver.hpp"
#include "fault_injecting_fs.hpp"
#include "merge_fixture.hpp"

namespace {

using testing_support::Call;
using testing_support::CapturedOutput;
using testing_support::FaultInjectingFs;
using testing_support::kBanner;
using testing_support::list_dir;
using testing_support::make_tile;
using testing_support::ScratchDir;
using testing_support::Tile;

struct Outcome {
    int status;
    std::string printed;
};

class MergeFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        tiles_ = {make_tile("a.las", 2, 1, 3000, 1), make_tile("b.las", 2, 1, 10, 2),
                  make_tile("c.las", 2, 1, 2000, 3, false)};
        testing_support::write_tiles(dir_, tiles_, "list.txt");
        // The merge runs in this process, so the list names the tiles by full path.
        std::string names;
        for (Tile& t : tiles_) names += (t.name = dir_ / t.name) + "\n";
        list_ = dir_.write_text("list.txt", names);
        output_ = dir_ / "out.las";
        expected_ = testing_support::expected_merge(tiles_);
    }

    Outcome merge(FaultInjectingFs& fs) {
        CapturedOutput out;
        const char* args[] = {"Quillet", list_.c_str(), output_.c_str()};
        const int status = quillet::run(args, out.file(), fs);
        return {status, out.text()};
    }

    // How many faults this test injected, and how many of them the merge ran into; printed
    // at its end so a run shows how many fault points were exercised.
    void TearDown() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::printf("[fault points] %s: %d planned, %d exercised\n", name.c_str(), planned_,
                    exercised_);
        RecordProperty("fault_points_exercised", exercised_);
    }

    void tally(const FaultInjectingFs& fs) {
        ++planned_;
        if (fs.triggered()) ++exercised_;
    }

    // Runs one merge with the fault planned in `fs` and checks the outcome.
    void check(FaultInjectingFs& fs, const std::string& what, bool must_fail) {
        SCOPED_TRACE(what);
        struct Tally {
            MergeFaults* self;
            FaultInjectingFs& fs;
            ~Tally() { self->tally(fs); }
        } tally_at_end{this, fs};
        dir_.write_text("out.las", "the user's earlier merge");
        const Outcome o = merge(fs);
        const std::vector<std::string> files = list_dir(dir_.path());
        EXPECT_EQ(files,
                  (std::vector<std::string>{"a.las", "b.las", "c.las", "list.txt", "out.las"}))
            << "no temporary file may be left behind";
        if (o.status == 0) {
            EXPECT_FALSE(must_fail) << o.printed;
            EXPECT_EQ(lassynth::read_bytes(output_), expected_);
            return;
        }
        EXPECT_EQ(o.status, -1);
        EXPECT_EQ(lassynth::read_bytes(output_).size(), 24u) << "the old output must survive";
        // One message after the last progress or check line, naming a file of the merge.
        const std::size_t last = o.printed.find_last_of('\n', o.printed.size() - 2);
        const std::string message = o.printed.substr(last == std::string::npos ? 0 : last);
        bool names_a_file =
            message.find(output_) != std::string::npos || message.find(list_) != std::string::npos;
        for (const Tile& t : tiles_) names_a_file |= message.find(t.name) != std::string::npos;
        EXPECT_TRUE(names_a_file) << o.printed;
        for (const Tile& t : tiles_) EXPECT_EQ(lassynth::read_bytes(t.name), t.file.bytes());
    }

    // How often a clean merge makes each kind of call.
    int clean_count(Call call, int copy_error = 0) {
        FaultInjectingFs fs;
        if (copy_error != 0) fs.fail_always(Call::CopyFileRange, copy_error);
        const Outcome o = merge(fs);
        EXPECT_EQ(o.status, 0) << o.printed;
        EXPECT_EQ(lassynth::read_bytes(output_), expected_);
        return fs.count(call);
    }

    int planned_ = 0;
    int exercised_ = 0;
    ScratchDir dir_;
    std::vector<Tile> tiles_;
    std::string list_, output_;
    std::vector<std::byte> expected_;
};

TEST_F(MergeFaults, EveryWriteCopyCloseAndRenameOfTheOutput) {
    // Calls that move the output's bytes or put it in place: each failure must fail the merge.
    struct Kind {
        Call call;
        int error;
    };
    int points = 0;
    for (const Kind k : {Kind{Call::Pwrite, ENOSPC}, Kind{Call::CopyFileRange, EIO},
                         Kind{Call::Rename, EACCES}, Kind{Call::Fchmod, EPERM}}) {
        const int n = clean_count(k.call);
        EXPECT_GT(n, 0) << call_name(k.call);
        for (int i = 1; i <= n; ++i, ++points) {
            FaultInjectingFs fs;
            fs.fail(k.call, i, k.error);
            check(fs, std::string(call_name(k.call)) + " #" + std::to_string(i), true);
            EXPECT_TRUE(fs.triggered());
        }
    }
    EXPECT_GE(points, 7);

    // The output is the last file closed; a failed close means its data may not have landed.
    FaultInjectingFs fs;
    fs.fail(Call::Close, clean_count(Call::Close), EIO);
    check(fs, "close of the output", true);
}

TEST_F(MergeFaults, EveryOpenCloseReadAndStat) {
    // Reads, opens, stats and closes may belong to inputs or to the list; whatever fails, the
    // merge is either correct or refused cleanly.
    for (const Call call :
         {Call::Open, Call::Close, Call::Pread, Call::Read, Call::Fstat, Call::Stat}) {
        const int n = clean_count(call);
        for (int i = 1; i <= n; ++i) {
            FaultInjectingFs fs;
            fs.fail(call, i, EIO);
            check(fs, std::string(call_name(call)) + " #" + std::to_string(i), false);
        }
    }
}

TEST_F(MergeFaults, ShortReadsAndWritesAreCompleted) {
    for (const Call call : {Call::Pwrite, Call::Pread, Call::CopyFileRange, Call::Read}) {
        const int n = clean_count(call);
        for (int i = 1; i <= n; ++i) {
            FaultInjectingFs fs;
            fs.shorten(call, i);
            dir_.write_text("out.las", "old");
            const Outcome o = merge(fs);
            tally(fs);
            EXPECT_EQ(o.status, 0) << call_name(call) << " #" << i << o.printed;
            EXPECT_EQ(lassynth::read_bytes(output_), expected_) << call_name(call) << " #" << i;
        }
    }
}

TEST_F(MergeFaults, BufferedCopyWhenTheKernelCopyIsUnavailable) {
    // Each of these makes the copy fall back to the bounded buffer, with the same result.
    for (const int error : {ENOSYS, EXDEV, EINVAL, EOPNOTSUPP, EPERM}) {
        FaultInjectingFs fs;
        fs.fail_always(Call::CopyFileRange, error);
        dir_.write_text("out.las", "old");
        const Outcome o = merge(fs);
        EXPECT_EQ(o.status, 0) << o.printed;
        EXPECT_EQ(lassynth::read_bytes(output_), expected_) << error;
    }
    // And every write of the buffered copy is checked.
    const int n = clean_count(Call::Pwrite, EXDEV);
    EXPECT_GT(n, 3);
    for (int i = 1; i <= n; ++i) {
        FaultInjectingFs fs;
        fs.fail_always(Call::CopyFileRange, EXDEV);
        fs.fail(Call::Pwrite, i, EIO);
        check(fs, "buffered pwrite #" + std::to_string(i), true);
    }
}

TEST_F(MergeFaults, KernelCopyErrorsAfterProgressAreNotRetriedBuffered) {
    // Once bytes of an input went through the kernel copy, an error is the input's or the
    // output's, never a reason to start over through the buffer.
    FaultInjectingFs fs;
    fs.shorten(Call::CopyFileRange, 2);
    fs.fail(Call::CopyFileRange, 3, EINVAL);
    dir_.write_text("out.las", "the user's earlier merge");
    const Outcome o = merge(fs);
    tally(fs);
    EXPECT_EQ(o.status, -1);
    EXPECT_NE(o.printed.find("Cannot copy the points of " + tiles_[0].name + " into " + output_ +
                             ": Invalid argument\n"),
              std::string::npos)
        << o.printed;
    EXPECT_EQ(fs.count(Call::Pwrite), 1) << "only the header was written";
}

}  // namespace
