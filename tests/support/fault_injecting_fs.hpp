// A file system that forwards to the real one and makes chosen calls fail: the k-th call of a
// kind fails with a given errno, or delivers fewer bytes than asked. Tests use it to walk a
// fault through every write, close and rename of an operation.
#pragma once

#include <cerrno>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "file_system.hpp"

namespace testing_support {

enum class Call {
    Open,
    Close,
    Fstat,
    Stat,
    Read,
    Pread,
    Pwrite,
    CopyFileRange,
    Fchmod,
    Rename,
    Unlink
};

const char* call_name(Call call);

class FaultInjectingFs : public korvane::FileSystem {
  public:
    // The `nth` call (counted from 1) of `call` fails with `error`.
    void fail(Call call, int nth, int error) { faults_[{call, nth}] = Fault{error, false}; }
    // The `nth` call of `call` (a read or a write) moves only half of what it is asked for.
    void shorten(Call call, int nth) { faults_[{call, nth}] = Fault{0, true}; }
    // Every call of `call` fails with `error`.
    void fail_always(Call call, int error) { always_[call] = error; }
    // Every call of `call` (Open, Pread or Pwrite) on unnamed files (opened with O_TMPFILE)
    // fails with `error`.
    void fail_unnamed(Call call, int error) { unnamed_[call] = error; }

    // How often each kind of call was made.
    int count(Call call) const {
        const auto it = counts_.find(call);
        return it == counts_.end() ? 0 : it->second;
    }
    // Whether a planned fault was triggered.
    bool triggered() const { return triggered_; }

    int open(const char* path, int flags, mode_t mode) override;
    int close(int fd) override;
    int fstat(int fd, struct stat* st) override;
    int stat(const char* path, struct stat* st) override;
    ssize_t read(int fd, void* buf, std::size_t count) override;
    ssize_t pread(int fd, void* buf, std::size_t count, off_t offset) override;
    ssize_t pwrite(int fd, const void* buf, std::size_t count, off_t offset) override;
    ssize_t copy_file_range(int fd_in, off_t* off_in, int fd_out, off_t* off_out,
                            std::size_t count) override;
    int fchmod(int fd, mode_t mode) override;
    int rename(const char* from, const char* to) override;
    int unlink(const char* path) override;

  private:
    struct Fault {
        int error;
        bool shorten;
    };
    // The planned fault for this call, if this is the call it is planned for.
    const Fault* due(Call call);
    int failure(const Fault& fault) {
        errno = fault.error;
        return -1;
    }

    std::map<std::pair<Call, int>, Fault> faults_;  // by call and its number
    std::map<Call, int> always_;
    std::map<Call, int> unnamed_;
    std::set<int> unnamed_fds_;
    // Fails the call when it is one on unnamed files that is set to fail.
    bool unnamed_fails(Call call, int fd);
    std::map<Call, int> counts_;
    bool triggered_ = false;
};

}  // namespace testing_support
