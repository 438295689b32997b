// Two Quillet runs that write the same output at the same time both finish, and the output is
// then the complete result of one of them, never a mixture of the two; no temporary file stays.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "child_process.hpp"
#include "merge_fixture.hpp"

namespace {

using testing_support::list_dir;
using testing_support::ScratchDir;

constexpr std::uint32_t kPoints = 1'250'000;  // 25 MB of 20-byte records per input

// A sparse input whose every 4096th record carries `tag` and its number, so that any record of
// another run's inputs would show.
void write_marked_input(const std::string& path, char tag) {
    testing_support::write_sparse_las(path, 2, 0, kPoints);
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    for (std::uint32_t r = 0; r < kPoints; r += 4096) {
        char record[20];
        std::memset(record, tag, sizeof record);
        std::memcpy(record + 4, &r, sizeof r);
        ASSERT_EQ(::pwrite(fd, record, sizeof record, 227 + off_t{r} * 20), 20);
    }
    ::close(fd);
}

pid_t start_quillet(const std::string& dir, const std::string& list, const std::string& output) {
    return testing_support::start_quillet({list, output}, dir);
}

int wait_exit_status(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

bool same_bytes(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (fa && fb) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount() ||
            std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(fa.gcount())) != 0)
            return false;
    }
    return !fa && !fb;
}

// Whether both runs had created their temporary output before either renamed it into place,
// from the directory's events.
bool writes_overlapped(int watch_fd) {
    alignas(inotify_event) char buf[8192];
    int created = 0;
    pollfd p{watch_fd, POLLIN, 0};
    while (::poll(&p, 1, 0) > 0) {
        const ssize_t n = ::read(watch_fd, buf, sizeof buf);
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
            const std::string name = e->len > 0 ? e->name : "";
            if ((e->mask & IN_CREATE) != 0 && name.ends_with(".tmp")) ++created;
            if ((e->mask & IN_MOVED_TO) != 0 && name == "out.las") return created >= 2;
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    return false;
}

TEST(Concurrency, TwoRunsWritingOneOutput) {
    ScratchDir dir;
    for (const char* name : {"a1.las", "a2.las"}) write_marked_input(dir / name, 'A');
    for (const char* name : {"b1.las", "b2.las"}) write_marked_input(dir / name, 'B');
    dir.write_text("a.txt", "a1.las a2.las\n");
    dir.write_text("b.txt", "b2.las b1.las b2.las\n");

    // Each merge on its own, for reference.
    ASSERT_EQ(wait_exit_status(start_quillet(dir.path(), "a.txt", "only-a.las")), 0);
    ASSERT_EQ(wait_exit_status(start_quillet(dir.path(), "b.txt", "only-b.las")), 0);
    ASSERT_FALSE(same_bytes(dir / "only-a.las", dir / "only-b.las"));

    int a_won = 0, b_won = 0, overlapped = 0;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        ::inotify_add_watch(watch, dir.path().c_str(), IN_CREATE | IN_MOVED_TO);
        // Alternate which run starts first.
        const bool a_first = round % 2 == 0;
        const pid_t first = start_quillet(dir.path(), a_first ? "a.txt" : "b.txt", "out.las");
        const pid_t second = start_quillet(dir.path(), a_first ? "b.txt" : "a.txt", "out.las");
        EXPECT_EQ(wait_exit_status(first), 0);
        EXPECT_EQ(wait_exit_status(second), 0);
        overlapped += writes_overlapped(watch) ? 1 : 0;
        ::close(watch);

        const bool is_a = same_bytes(dir / "out.las", dir / "only-a.las");
        const bool is_b = same_bytes(dir / "out.las", dir / "only-b.las");
        EXPECT_TRUE(is_a || is_b) << "the output is neither run's complete result";
        a_won += is_a;
        b_won += is_b;
        EXPECT_EQ(list_dir(dir.path()),
                  (std::vector<std::string>{"a.txt", "a1.las", "a2.las", "b.txt", "b1.las",
                                            "b2.las", "only-a.las", "only-b.las", "out.las"}));
        ::unlink((dir / "out.las").c_str());
    }
    std::printf(
        "[concurrency] 6 rounds: the writes overlapped in %d; out.las was the merge of a.txt "
        "%d times, of b.txt %d times\n",
        overlapped, a_won, b_won);
    // Without a wrapper such as valgrind slowing the start-up of each run, inputs this large keep
    // both runs writing at once in most rounds; a test that never overlapped proves nothing.
    if (std::getenv("QUILLET_WRAPPER") == nullptr) {
        EXPECT_GT(overlapped, 0);
    }
}

}  // namespace
