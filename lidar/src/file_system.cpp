#include "file_system.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace korvane {

int FileSystem::open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int FileSystem::close(int fd) {
    return ::close(fd);
}

int FileSystem::fstat(int fd, struct stat* st) {
    return ::fstat(fd, st);
}

int FileSystem::stat(const char* path, struct stat* st) {
    return ::stat(path, st);
}

ssize_t FileSystem::read(int fd, void* buf, std::size_t count) {
    return ::read(fd, buf, count);
}

ssize_t FileSystem::pread(int fd, void* buf, std::size_t count, off_t offset) {
    return ::pread(fd, buf, count, offset);
}

ssize_t FileSystem::pwrite(int fd, const void* buf, std::size_t count, off_t offset) {
    return ::pwrite(fd, buf, count, offset);
}

ssize_t FileSystem::copy_file_range(int fd_in, off_t* off_in, int fd_out, off_t* off_out,
                                    std::size_t count) {
    return ::copy_file_range(fd_in, off_in, fd_out, off_out, count, 0);
}

int FileSystem::fchmod(int fd, mode_t mode) {
    return ::fchmod(fd, mode);
}

int FileSystem::rename(const char* from, const char* to) {
    return std::rename(from, to);
}

int FileSystem::unlink(const char* path) {
    return ::unlink(path);
}

FileSystem& system_files() {
    static FileSystem real;
    return real;
}

}  // namespace korvane
