// The file-system calls of the library and of the merge tool, behind one seam.
//
// Every function that touches a file takes a FileSystem&, so tests can hand it one that fails
// the k-th write, delivers short reads or refuses a rename; production code uses system_files(),
// which forwards each call to the kernel unchanged. Each call returns what the system call
// returns and leaves the cause in errno.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

namespace korvane {

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    virtual int open(const char* path, int flags, mode_t mode);
    virtual int close(int fd);
    virtual int fstat(int fd, struct stat* st);
    virtual int stat(const char* path, struct stat* st);
    virtual ssize_t read(int fd, void* buf, std::size_t count);
    virtual ssize_t pread(int fd, void* buf, std::size_t count, off_t offset);
    virtual ssize_t pwrite(int fd, const void* buf, std::size_t count, off_t offset);
    virtual ssize_t copy_file_range(int fd_in, off_t* off_in, int fd_out, off_t* off_out,
                                    std::size_t count);
    virtual int fchmod(int fd, mode_t mode);
    virtual int rename(const char* from, const char* to);
    virtual int unlink(const char* path);
};

// The real file system.
FileSystem& system_files();

}  // namespace korvane
