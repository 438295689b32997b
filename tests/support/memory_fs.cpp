#include "memory_fs.hpp"

#include <cerrno>
#include <cstring>

namespace testing_support {

void MemoryFs::put(const std::string& path, std::span<const std::byte> bytes) {
    files_[path].assign(bytes.begin(), bytes.end());
}

int MemoryFs::open(const char* path, int, mode_t) {
    const auto it = files_.find(path);
    if (it == files_.end()) {
        errno = ENOENT;
        return -1;
    }
    open_[next_fd_] = {&it->second, 0};
    return next_fd_++;
}

int MemoryFs::close(int fd) {
    if (open_.erase(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    return 0;
}

int MemoryFs::fstat(int fd, struct stat* st) {
    const auto it = open_.find(fd);
    if (it == open_.end()) {
        errno = EBADF;
        return -1;
    }
    *st = {};
    st->st_mode = S_IFREG | 0644;
    st->st_size = static_cast<off_t>(it->second.bytes->size());
    st->st_ino = static_cast<ino_t>(fd);
    return 0;
}

int MemoryFs::stat(const char* path, struct stat* st) {
    const auto it = files_.find(path);
    if (it == files_.end()) {
        errno = ENOENT;
        return -1;
    }
    *st = {};
    st->st_mode = S_IFREG | 0644;
    st->st_size = static_cast<off_t>(it->second.size());
    return 0;
}

ssize_t MemoryFs::pread(int fd, void* buf, std::size_t count, off_t offset) {
    const auto it = open_.find(fd);
    if (it == open_.end() || offset < 0) {
        errno = EBADF;
        return -1;
    }
    const std::vector<std::byte>& bytes = *it->second.bytes;
    const auto at = static_cast<std::size_t>(offset);
    if (at >= bytes.size()) return 0;
    const std::size_t n = std::min(count, bytes.size() - at);
    std::memcpy(buf, bytes.data() + at, n);
    return static_cast<ssize_t>(n);
}

ssize_t MemoryFs::read(int fd, void* buf, std::size_t count) {
    const auto it = open_.find(fd);
    if (it == open_.end()) {
        errno = EBADF;
        return -1;
    }
    const ssize_t n = pread(fd, buf, count, static_cast<off_t>(it->second.position));
    if (n > 0) it->second.position += static_cast<std::size_t>(n);
    return n;
}

}  // namespace testing_support
