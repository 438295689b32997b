#include "cli/signal_cleanup.hpp"

#include <limits.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <iterator>

namespace quillet {
namespace {

// The handler may only use async-signal-safe calls, so the path is kept in a fixed buffer. This is
// the process's own state, kept here by the one program that owns the process.
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

// Called before the file is created, so that no signal can arrive between its creation and the
// arming.
void arm_cleanup(const std::string& path) {
    if (path.size() >= sizeof pending_path) return;
    pending_armed = 0;  // no handler may see a half-copied path
    std::memcpy(pending_path, path.c_str(), path.size() + 1);
    pending_armed = 1;
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        if (handler_installed[i]) continue;
        handler_installed[i] =
            catch_signal(kCleanupSignals[i], remove_pending_and_die, previous_actions[i]);
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

}  // namespace

bool catch_signal(int sig, void (*handler)(int), struct sigaction& previous) {
    struct sigaction current {};
    sigaction(sig, nullptr, &current);
    if (current.sa_handler == SIG_IGN) return false;
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    return sigaction(sig, &action, &previous) == 0;
}

void watch_temporary_output(const std::string& path) {
    if (path.empty())
        disarm_cleanup();
    else
        arm_cleanup(path);
}

}  // namespace quillet
