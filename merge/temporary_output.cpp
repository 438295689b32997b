#include "temporary_output.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

namespace quillet {
namespace {

// Removal of the temporary file when SIGINT, SIGTERM or SIGHUP ends the process mid-merge.
// The handler may only use async-signal-safe calls, so the path is kept in a fixed buffer.
// A signal that the process ignores (SIGHUP under nohup) is left ignored, and the dispositions
// found are put back when the temporary file is gone, for callers that run the merge in-process.
char pending_path[PATH_MAX + 64];
volatile std::sig_atomic_t pending_armed = 0;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kSignalCount = std::size(kCleanupSignals);
struct sigaction previous_actions[kSignalCount];
bool handler_installed[kSignalCount] = {};

extern "C" void remove_pending_and_die(int sig) {
    if (pending_armed) ::unlink(pending_path);
    pending_armed = 0;
    // The disposition the process had before, which ends it unless a caller chose otherwise;
    // the signal is blocked while this handler runs and is delivered when it returns.
    for (std::size_t i = 0; i < kSignalCount; ++i)
        if (kCleanupSignals[i] == sig) sigaction(sig, &previous_actions[i], nullptr);
    std::raise(sig);
}

// Arms the removal of `path`. Called before the file is created, so that no signal can arrive
// between its creation and the arming.
void arm_cleanup(const std::string& path) {
    if (path.size() >= sizeof pending_path) return;
    pending_armed = 0;  // no handler may see a half-copied path
    std::memcpy(pending_path, path.c_str(), path.size() + 1);
    pending_armed = 1;
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        if (handler_installed[i]) continue;
        struct sigaction current {};
        sigaction(kCleanupSignals[i], nullptr, &current);
        if (current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = remove_pending_and_die;
        sigemptyset(&action.sa_mask);
        handler_installed[i] = sigaction(kCleanupSignals[i], &action, &previous_actions[i]) == 0;
    }
}

void disarm_cleanup() {
    pending_armed = 0;
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        if (!handler_installed[i]) continue;
        sigaction(kCleanupSignals[i], &previous_actions[i], nullptr);
        handler_installed[i] = false;
    }
}

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
                                                       korvane::FileSystem& fs) {
    struct stat existing {};
    const bool replaces = fs.stat(output_name.c_str(), &existing) == 0;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string path = temporary_name(output_name, attempt);
        arm_cleanup(path);
        const int fd = fs.open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int error = errno;
            disarm_cleanup();
            errno = error;
            if (error == EEXIST) continue;
            return std::nullopt;
        }
        TemporaryOutput out(fs, korvane::UniqueFd(fs, fd), std::move(path), output_name);
        if (replaces && fs.fchmod(fd, existing.st_mode & 07777) != 0) return std::nullopt;
        return out;
    }
    errno = EEXIST;
    return std::nullopt;
}

TemporaryOutput::TemporaryOutput(korvane::FileSystem& fs, korvane::UniqueFd fd, std::string path,
                                 std::string output_name)
    : fs_(&fs), fd_(std::move(fd)), path_(std::move(path)), output_name_(std::move(output_name)) {}

TemporaryOutput::TemporaryOutput(TemporaryOutput&& other) noexcept
    : fs_(other.fs_),
      fd_(std::move(other.fd_)),
      path_(std::move(other.path_)),
      output_name_(std::move(other.output_name_)),
      committed_(std::exchange(other.committed_, true)) {}

TemporaryOutput::~TemporaryOutput() {
    if (committed_) return;
    fd_.reset();
    fs_->unlink(path_.c_str());
    disarm_cleanup();
}

bool TemporaryOutput::commit() {
    if (fd_.close_checked() != 0) return false;
    if (fs_->rename(path_.c_str(), output_name_.c_str()) != 0) return false;
    committed_ = true;
    disarm_cleanup();
    return true;
}

}  // namespace quillet
