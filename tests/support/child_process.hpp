// Running a program as a child process, as a user would from the shell, and capturing what it
// prints on standard output and how it ends.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct ChildResult {
    std::string out;       // standard output
    std::string err;       // standard error
    int exit_status = -1;  // as the shell sees it (0..255); -1 when ended by a signal
    int signal = 0;        // the signal that ended it, or 0
    long max_rss_kib = 0;  // its peak resident memory
};

struct ChildOptions {
    std::string working_dir;                // empty: the test's own
    std::optional<rlim_t> file_size_limit;  // RLIMIT_FSIZE in bytes
    // NAME=value entries set in the environment (replacing inherited ones); NAME alone unsets
    std::vector<std::string> extra_env;
    unsigned timeout_seconds = 0;           // SIGALRM ends the child after this long; 0: never
    std::optional<std::string> stdin_text;  // fed through a pipe (up to 64 KiB); else inherited
};

ChildResult run_child(const std::vector<std::string>& argv, const ChildOptions& options = {});

// The path of the first of `names` that PATH holds as an executable (execve needs a path); ""
// when none.
std::string find_program(std::initializer_list<const char*> names);

// Runs the built Quillet with the given arguments. When QUILLET_WRAPPER is set in the
// environment (for example to "valgrind --error-exitcode=99 --leak-check=full"), its words are
// put in front of the command, so every test that runs Quillet runs it under that tool (except
// runs under a file-size limit, which the tool's own log would hit).
ChildResult run_quillet(const std::vector<std::string>& args, const ChildOptions& options = {});

// The command line that run_quillet runs: the wrapper's words when `wrapped`, the built Quillet,
// then `args`.
std::vector<std::string> quillet_command(const std::vector<std::string>& args, bool wrapped = true);

// Starts the built Quillet in the background with `working_dir` as its working directory, its
// output discarded and no signal blocked; SIGHUP is ignored when `ignore_hangup`, as nohup starts
// a program, and an alarm ends it should it hang for five minutes. Returns its process id.
pid_t start_quillet(const std::vector<std::string>& args, const std::string& working_dir,
                    bool ignore_hangup = false);

// Runs `body` in a forked child whose standard output is captured; for library functions that
// end the process. The child exits with status 0 when `body` returns.
template <typename Body>
ChildResult run_in_child(Body body);

ChildResult run_in_child_impl(void (*body)(void*), void* context);

template <typename Body>
ChildResult run_in_child(Body body) {
    return run_in_child_impl([](void* c) { (*static_cast<Body*>(c))(); }, &body);
}

}  // namespace testing_support
