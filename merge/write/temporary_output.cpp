#include "write/temporary_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quillet {
namespace {

// A temporary name in the output's directory: the output's own file name (shortened where
// needed so the whole stays within the file-name limit), the process and a counter.
std::string temporary_name(const std::string& output_name, unsigned attempt) {
    const std::size_t slash = output_name.rfind('/');
    const std::size_t base_at = slash == std::string::npos ? 0 : slash + 1;
    constexpr std::size_t kLongestBase = 200;
    std::string name = output_name.substr(0, base_at) + output_name.substr(base_at, kLongestBase);
    name += ".Quillet-" + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
    return name;
}

}  // namespace

std::optional<TemporaryOutput> TemporaryOutput::create(const std::string& output_name,
                                                       korvane::FileSystem& fs, Watch watch) {
    struct stat existing {};
    const bool replaces = fs.stat(output_name.c_str(), &existing) == 0;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string path = temporary_name(output_name, attempt);
        if (watch) watch(path);
        const int fd = fs.open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int error = errno;
            if (watch) watch({});
            errno = error;
            if (error == EEXIST) continue;
            return std::nullopt;
        }
        TemporaryOutput out(fs, korvane::UniqueFd(fs, fd), std::move(path), output_name,
                            std::move(watch));
        if (replaces && fs.fchmod(fd, existing.st_mode & 07777) != 0) return std::nullopt;
        return out;
    }
    errno = EEXIST;
    return std::nullopt;
}

TemporaryOutput::TemporaryOutput(korvane::FileSystem& fs, korvane::UniqueFd fd, std::string path,
                                 std::string output_name, Watch watch)
    : fs_(&fs),
      fd_(std::move(fd)),
      path_(std::move(path)),
      output_name_(std::move(output_name)),
      watch_(std::move(watch)) {}

TemporaryOutput::TemporaryOutput(TemporaryOutput&& other) noexcept
    : fs_(other.fs_),
      fd_(std::move(other.fd_)),
      path_(std::move(other.path_)),
      output_name_(std::move(other.output_name_)),
      watch_(std::move(other.watch_)),
      committed_(std::exchange(other.committed_, true)) {}

TemporaryOutput::~TemporaryOutput() {
    if (committed_) return;
    fd_.reset();
    fs_->unlink(path_.c_str());
    if (watch_) watch_({});
}

bool TemporaryOutput::commit() {
    if (fd_.close_checked() != 0) return false;
    if (fs_->rename(path_.c_str(), output_name_.c_str()) != 0) return false;
    committed_ = true;
    if (watch_) watch_({});
    return true;
}

}  // namespace quillet
