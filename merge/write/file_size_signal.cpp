#include "write/file_size_signal.hpp"

#include <pthread.h>

#include <ctime>

namespace quillet {
namespace {

sigset_t file_size_only() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGXFSZ);
    return set;
}

}  // namespace

FileSizeSignalBlocked::FileSizeSignalBlocked() {
    const sigset_t set = file_size_only();
    if (pthread_sigmask(SIG_BLOCK, &set, &previous_) == 0)
        blocked_here_ = sigismember(&previous_, SIGXFSZ) == 0;
}

FileSizeSignalBlocked::~FileSizeSignalBlocked() {
    if (!blocked_here_) return;
    // A limit reached while blocked left the signal pending: taken here, it ends nothing.
    const sigset_t set = file_size_only();
    const timespec now{};
    while (sigtimedwait(&set, nullptr, &now) == SIGXFSZ) {
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace quillet
