// A file system that holds files in memory: opening one of its names gives a descriptor of its
// own, and fstat, read and pread serve the bytes. Fuzz targets and tests describe inputs through
// it without a disk, through the same seam as the real files.
#pragma once

#include <map>
#include <span>
#include <string>
#include <vector>

#include "file_system.hpp"

namespace testing_support {

class MemoryFs : public korvane::FileSystem {
  public:
    // The file `path` now holds `bytes` (a copy).
    void put(const std::string& path, std::span<const std::byte> bytes);

    int open(const char* path, int flags, mode_t mode) override;
    int close(int fd) override;
    int fstat(int fd, struct stat* st) override;
    int stat(const char* path, struct stat* st) override;
    ssize_t read(int fd, void* buf, std::size_t count) override;
    ssize_t pread(int fd, void* buf, std::size_t count, off_t offset) override;

  private:
    struct Open {
        const std::vector<std::byte>* bytes;
        std::size_t position;
    };
    std::map<std::string, std::vector<std::byte>> files_;
    std::map<int, Open> open_;
    int next_fd_ = 1000;
};

}  // namespace testing_support
