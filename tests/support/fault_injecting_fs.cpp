#include "fault_injecting_fs.hpp"

#include <fcntl.h>

namespace testing_support {

const char* call_name(Call call) {
    switch (call) {
        case Call::Open:
            return "open";
        case Call::Close:
            return "close";
        case Call::Fstat:
            return "fstat";
        case Call::Stat:
            return "stat";
        case Call::Read:
            return "read";
        case Call::Pread:
            return "pread";
        case Call::Pwrite:
            return "pwrite";
        case Call::CopyFileRange:
            return "copy_file_range";
        case Call::Fchmod:
            return "fchmod";
        case Call::Rename:
            return "rename";
        case Call::Unlink:
            return "unlink";
    }
    return "?";
}

const FaultInjectingFs::Fault* FaultInjectingFs::due(Call call) {
    const int n = ++counts_[call];
    if (const auto a = always_.find(call); a != always_.end()) {
        static thread_local Fault always_fault;
        always_fault = Fault{a->second, false};
        triggered_ = true;
        return &always_fault;
    }
    const auto it = faults_.find({call, n});
    if (it == faults_.end()) return nullptr;
    triggered_ = true;
    return &it->second;
}

bool FaultInjectingFs::unnamed_fails(Call call, int fd) {
    const auto it = unnamed_.find(call);
    if (it == unnamed_.end() || unnamed_fds_.count(fd) == 0) return false;
    triggered_ = true;
    errno = it->second;
    return true;
}

int FaultInjectingFs::open(const char* path, int flags, mode_t mode) {
    if (const Fault* f = due(Call::Open)) return failure(*f);
    const bool unnamed = (flags & O_TMPFILE) == O_TMPFILE;
    if (unnamed && unnamed_.count(Call::Open) != 0) {
        triggered_ = true;
        errno = unnamed_[Call::Open];
        return -1;
    }
    const int fd = FileSystem::open(path, flags, mode);
    if (fd >= 0 && unnamed) unnamed_fds_.insert(fd);
    return fd;
}

int FaultInjectingFs::close(int fd) {
    unnamed_fds_.erase(fd);
    if (const Fault* f = due(Call::Close)) {
        FileSystem::close(fd);  // the descriptor is gone either way, as with a real close
        return failure(*f);
    }
    return FileSystem::close(fd);
}

int FaultInjectingFs::fstat(int fd, struct stat* st) {
    if (const Fault* f = due(Call::Fstat)) return failure(*f);
    return FileSystem::fstat(fd, st);
}

int FaultInjectingFs::stat(const char* path, struct stat* st) {
    if (const Fault* f = due(Call::Stat)) return failure(*f);
    return FileSystem::stat(path, st);
}

ssize_t FaultInjectingFs::read(int fd, void* buf, std::size_t count) {
    if (const Fault* f = due(Call::Read)) {
        if (f->shorten) return FileSystem::read(fd, buf, count / 2);
        return failure(*f);
    }
    return FileSystem::read(fd, buf, count);
}

ssize_t FaultInjectingFs::pread(int fd, void* buf, std::size_t count, off_t offset) {
    if (unnamed_fails(Call::Pread, fd)) return -1;
    if (const Fault* f = due(Call::Pread)) {
        if (f->shorten) return FileSystem::pread(fd, buf, count / 2, offset);
        return failure(*f);
    }
    return FileSystem::pread(fd, buf, count, offset);
}

ssize_t FaultInjectingFs::pwrite(int fd, const void* buf, std::size_t count, off_t offset) {
    if (unnamed_fails(Call::Pwrite, fd)) return -1;
    if (const Fault* f = due(Call::Pwrite)) {
        if (f->shorten) return FileSystem::pwrite(fd, buf, count / 2, offset);
        return failure(*f);
    }
    return FileSystem::pwrite(fd, buf, count, offset);
}

ssize_t FaultInjectingFs::copy_file_range(int fd_in, off_t* off_in, int fd_out, off_t* off_out,
                                          std::size_t count) {
    if (const Fault* f = due(Call::CopyFileRange)) {
        if (f->shorten)
            return FileSystem::copy_file_range(fd_in, off_in, fd_out, off_out, count / 2);
        return failure(*f);
    }
    return FileSystem::copy_file_range(fd_in, off_in, fd_out, off_out, count);
}

int FaultInjectingFs::fchmod(int fd, mode_t mode) {
    if (const Fault* f = due(Call::Fchmod)) return failure(*f);
    return FileSystem::fchmod(fd, mode);
}

int FaultInjectingFs::rename(const char* from, const char* to) {
    if (const Fault* f = due(Call::Rename)) return failure(*f);
    return FileSystem::rename(from, to);
}

int FaultInjectingFs::unlink(const char* path) {
    if (const Fault* f = due(Call::Unlink)) return failure(*f);
    return FileSystem::unlink(path);
}

}  // namespace testing_support
