// Interrupts during a merge: SIGINT, SIGTERM or SIGHUP end a running Quillet with a failure
// status, remove its temporary output and leave an existing output as it was; a signal the user
// chose to ignore (nohup) stays ignored; and a merge run in-process gives back the signal
// handlers it found.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>

#include "child_process.hpp"
#include "cli/merge_driver.hpp"
#include "file_system.hpp"
#include "las_header.hpp"
#include "merge_fixture.hpp"

namespace {

using testing_support::list_dir;
using testing_support::ScratchDir;

constexpr std::string_view kEarlier = "the user's earlier merge";

bool is_temporary(const std::string& name) {
    return name.find(".Quillet-") != std::string::npos && name.ends_with(".tmp");
}

// A merge that runs long enough to be interrupted while it writes: the classic merge of two
// inputs of 250 MB whose point data is a hole, or the decoding of two LAZ inputs of 4.6 million
// points each on two threads (from a list, or named on the -o form's command line); a list naming
// them; and an earlier output.
class RunningMerge : public ::testing::TestWithParam<const char*> {
  protected:
    static constexpr std::uint32_t kPoints = 12'500'000;  // 20-byte records
    static constexpr const char* kLazCopies = "30";       // of lone-star-split-2.laz's chunks

    void SetUp() override {
        if (laz()) {
            const std::string sample = std::string(SAMPLES_DIR) + "/lone-star-split-2.laz";
            ASSERT_TRUE(std::filesystem::exists(sample)) << "missing test data: " << sample;
            for (const char* name : {"a.laz", "b.laz"})
                ASSERT_EQ(testing_support::run_child({LAZGEN_EXE, sample, dir_ / name, kLazCopies})
                              .exit_status,
                          0);
            dir_.write_text("list.txt", "a.laz\nb.laz\n");
        } else {
            testing_support::write_sparse_las(dir_ / "a.las", 2, 0, kPoints);
            testing_support::write_sparse_las(dir_ / "b.las", 2, 0, kPoints);
            dir_.write_text("list.txt", "a.las\nb.las\n");
        }
        dir_.write_text("out.las", std::string(kEarlier));
    }

    bool laz() const { return std::string_view(GetParam()) != "classic"; }
    bool output_form() const { return std::string_view(GetParam()) == "output-form"; }

    std::vector<std::string> inputs() const {
        return laz() ? std::vector<std::string>{"a.laz", "b.laz", "list.txt", "out.las"}
                     : std::vector<std::string>{"a.las", "b.las", "list.txt", "out.las"};
    }

    // Starts Quillet in the scratch directory, with SIGHUP ignored when `ignore_hangup`, as
    // nohup starts a program. Its output goes to /dev/null; an alarm ends it should it hang.
    pid_t start(bool ignore_hangup) {
        const std::vector<std::string> args =
            output_form()
                ? std::vector<std::string>{"-o", "out.las", "--threads", "2", "a.laz", "b.laz"}
            : laz()
                ? std::vector<std::string>{"--extended", "--threads", "2", "list.txt", "out.las"}
                : std::vector<std::string>{"list.txt", "out.las"};
        return testing_support::start_quillet(args, dir_.path(), ignore_hangup);
    }

    // Waits until a temporary output appears in the directory; false after `seconds` without.
    bool wait_for_temporary(int watch_fd, int seconds) {
        for (const std::string& name : list_dir(dir_.path()))
            if (is_temporary(name)) return true;
        alignas(inotify_event) char buf[4096];
        pollfd p{watch_fd, POLLIN, 0};
        while (::poll(&p, 1, seconds * 1000) > 0) {
            const ssize_t n = ::read(watch_fd, buf, sizeof buf);
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                if (e->len > 0 && is_temporary(e->name)) return true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        return false;
    }

    struct Ended {
        int exit_status = -1;  // 0..255 when it exited
        int signal = 0;        // the signal that ended it
    };

    // Starts a merge, sends `sig` once its temporary output exists, and waits for it to end.
    Ended interrupt(int sig, bool ignore_hangup = false) {
        const int watch = ::inotify_init1(IN_CLOEXEC);
        EXPECT_GE(watch, 0);
        EXPECT_GE(::inotify_add_watch(watch, dir_.path().c_str(), IN_CREATE), 0);
        const pid_t pid = start(ignore_hangup);
        const bool seen = wait_for_temporary(watch, 120);
        ::close(watch);
        EXPECT_TRUE(seen) << "no temporary output appeared";
        ::kill(pid, sig);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0) {
        }
        Ended e;
        if (WIFEXITED(status)) e.exit_status = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) e.signal = WTERMSIG(status);
        return e;
    }

    ScratchDir dir_;
};

TEST_P(RunningMerge, InterruptRemovesTheTemporaryOutput) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        const Ended e = interrupt(sig);
        EXPECT_TRUE(e.signal == sig || e.exit_status == 255)
            << "exit status " << e.exit_status << ", signal " << e.signal;
        EXPECT_EQ(list_dir(dir_.path()), inputs());
        const std::vector<std::byte> kept = lassynth::read_bytes(dir_ / "out.las");
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(kept.data()), kept.size()), kEarlier);
    }
}

TEST_P(RunningMerge, IgnoredHangupLetsTheMergeFinish) {
    const Ended e = interrupt(SIGHUP, true);
    EXPECT_EQ(e.signal, 0);
    EXPECT_EQ(e.exit_status, 0);
    EXPECT_EQ(list_dir(dir_.path()), inputs());
    if (laz()) return;  // what a complete decoding writes is the LAZ tests' to check
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / "out.las").c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), 227 + std::uint64_t{2} * kPoints * 20);
    const int fd = ::open((dir_ / "out.las").c_str(), O_RDONLY);
    const std::optional<LAS12Header> h = korvane::read_header(korvane::system_files(), fd);
    ::close(fd);
    ASSERT_TRUE(h);
    const std::uint32_t points = h->NumberOfPointReturns;  // packed: copied out, not bound
    EXPECT_EQ(points, 2 * kPoints);
}

// The -o form stops its merge through the C interface's progress callback, then raises the signal.
INSTANTIATE_TEST_SUITE_P(ClassicCopyAndLazDecodingOnTwoThreads, RunningMerge,
                         ::testing::Values("classic", "laz", "output-form"));

// ---- In-process: the moments around the temporary file, made deterministic -------------------

// Raises `sig` from inside the merge: right after the temporary output is created, or at its
// first write.
class SignallingFs : public korvane::FileSystem {
  public:
    SignallingFs(int sig, bool at_creation) : sig_(sig), at_creation_(at_creation) {}
    int open(const char* path, int flags, mode_t mode) override {
        const int fd = FileSystem::open(path, flags, mode);
        if (at_creation_ && fd >= 0 && (flags & O_CREAT) != 0) std::raise(sig_);
        return fd;
    }
    ssize_t pwrite(int fd, const void* buf, std::size_t count, off_t offset) override {
        if (!at_creation_) std::raise(sig_);
        return FileSystem::pwrite(fd, buf, count, offset);
    }

  private:
    int sig_;
    bool at_creation_;
};

class InProcessMerge : public ::testing::Test {
  protected:
    void SetUp() override {
        tiles_ = {testing_support::make_tile("a.las", 2, 1, 50, 1),
                  testing_support::make_tile("b.las", 2, 1, 60, 2)};
        std::string names;
        for (const auto& t : tiles_) {
            t.file.write(dir_ / t.name);
            names += dir_ / t.name + "\n";
        }
        list_ = dir_.write_text("list.txt", names);
        output_ = dir_.write_text("out.las", std::string(kEarlier));
    }

    int merge(korvane::FileSystem& fs) {
        const char* args[] = {"Quillet", list_.c_str(), output_.c_str()};
        std::FILE* null = std::fopen("/dev/null", "w");
        const int status = quillet::run(args, null, fs);
        std::fclose(null);
        return status;
    }

    void expect_untouched() {
        EXPECT_EQ(list_dir(dir_.path()),
                  (std::vector<std::string>{"a.las", "b.las", "list.txt", "out.las"}));
        EXPECT_EQ(lassynth::read_bytes(output_).size(), kEarlier.size());
    }

    ScratchDir dir_;
    std::vector<testing_support::Tile> tiles_;
    std::string list_, output_;
};

TEST_F(InProcessMerge, SignalRightAfterTheTemporaryFileIsCreated) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        const auto r = testing_support::run_in_child([&] {
            SignallingFs fs(sig, true);
            merge(fs);
            _exit(3);  // not reached: the signal ends the process
        });
        EXPECT_EQ(r.signal, sig);
        expect_untouched();
    }
}

TEST_F(InProcessMerge, IgnoredSignalsStayIgnored) {
    // Under nohup SIGHUP is ignored: a hangup during the merge must not end it.
    const auto r = testing_support::run_in_child([&] {
        std::signal(SIGHUP, SIG_IGN);
        SignallingFs fs(SIGHUP, false);
        _exit(merge(fs) == 0 ? 0 : 4);
    });
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(lassynth::read_bytes(output_), testing_support::expected_merge(tiles_));
}

// A handler of the caller's, to tell it apart from the merge's own.
extern "C" void callers_handler(int) {}

TEST_F(InProcessMerge, HandlersFoundAreGivenBack) {
    const auto r = testing_support::run_in_child([&] {
        struct sigaction mine {};
        mine.sa_handler = callers_handler;
        sigemptyset(&mine.sa_mask);
        for (const int sig : {SIGINT, SIGTERM}) sigaction(sig, &mine, nullptr);
        std::signal(SIGHUP, SIG_DFL);
        // A complete merge, then one that fails at its first write.
        korvane::FileSystem real;
        if (merge(real) != 0) _exit(5);
        struct Failing : korvane::FileSystem {
            ssize_t pwrite(int, const void*, std::size_t, off_t) override {
                errno = EIO;
                return -1;
            }
        } failing;
        if (merge(failing) != -1) _exit(6);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction now {};
            sigaction(sig, nullptr, &now);
            const auto wanted = sig == SIGHUP ? SIG_DFL : callers_handler;
            if (now.sa_handler != wanted) _exit(10 + sig);
        }
        _exit(0);
    });
    EXPECT_EQ(r.exit_status, 0) << "10 + the number of a signal whose handler was not restored";
    EXPECT_EQ(r.signal, 0);
}

}  // namespace
