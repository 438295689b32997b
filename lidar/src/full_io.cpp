#include "full_io.hpp"

#include <cerrno>

namespace korvane {

ssize_t read_full(FileSystem& fs, int fd, std::span<std::byte> into, off_t offset) {
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t got =
            fs.pread(fd, into.data() + done, into.size() - done, offset + static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

bool write_full(FileSystem& fs, int fd, std::span<const std::byte> from, off_t offset) {
    std::size_t done = 0;
    while (done < from.size()) {
        const ssize_t put = fs.pwrite(fd, from.data() + done, from.size() - done,
                                      offset + static_cast<off_t>(done));
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (put == 0) {
            errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace korvane
