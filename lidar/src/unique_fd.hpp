// A file descriptor that is closed when it goes out of scope.
//
// Descriptors opened for reading are closed by the destructor, whose result does not matter.
// A file that was written must be closed with close_checked(), whose result tells whether the
// data reached the file system.
#pragma once

#include <utility>

#include "file_system.hpp"

namespace korvane {

class UniqueFd {
  public:
    UniqueFd() = default;
    UniqueFd(FileSystem& fs, int fd) : fs_(&fs), fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fs_(other.fs_), fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fs_ = other.fs_;
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

    // Closes the descriptor and returns the result of close(): 0, or -1 with errno set.
    int close_checked() {
        if (fd_ < 0) return 0;
        return fs_->close(std::exchange(fd_, -1));
    }

    void reset() {
        if (fd_ >= 0) fs_->close(std::exchange(fd_, -1));
    }

  private:
    FileSystem* fs_ = nullptr;
    int fd_ = -1;
};

}  // namespace korvane
