#include "child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testing_support {
namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (::pipe2(fd, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    }
    ~Pipe() {
        for (int f : fd)
            if (f >= 0) ::close(f);
    }
    void close_end(int i) {
        ::close(fd[i]);
        fd[i] = -1;
    }
};

// Reads both pipes until the child closes them, then waits for it.
ChildResult collect(pid_t pid, Pipe& out, Pipe& err) {
    ChildResult result;
    out.close_end(1);
    err.close_end(1);
    pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    char buf[65536];
    while (open_count > 0) {
        if (::poll(fds, 2, -1) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0) {
    }
    result.max_rss_kib = usage.ru_maxrss;
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace

ChildResult run_child(const std::vector<std::string>& argv, const ChildOptions& options) {
    Pipe out, err;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The inherited environment, less the variables that extra_env names; then extra_env's
    // entries with a value (an entry without '=' only removes its variable).
    const auto name_of = [](std::string_view e) { return e.substr(0, e.find('=')); };
    std::vector<std::string> env_storage;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::none_of(options.extra_env.begin(), options.extra_env.end(),
                         [&](const std::string& x) { return name_of(x) == name_of(*e); }))
            env_storage.emplace_back(*e);
    for (const std::string& e : options.extra_env)
        if (e.find('=') != std::string::npos) env_storage.push_back(e);
    std::vector<char*> env;
    for (std::string& e : env_storage) env.push_back(e.data());
    env.push_back(nullptr);

    // The whole text goes into the pipe before the child starts, so it must fit the pipe.
    Pipe in;
    if (options.stdin_text) {
        const std::string& text = *options.stdin_text;
        if (text.size() > 65536 ||
            ::write(in.fd[1], text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            throw std::runtime_error("standard input text does not fit a pipe");
        in.close_end(1);
    }

    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (options.stdin_text) ::dup2(in.fd[0], 0);
        ::dup2(out.fd[1], 1);
        ::dup2(err.fd[1], 2);
        if (!options.working_dir.empty() && ::chdir(options.working_dir.c_str()) != 0) _exit(127);
        if (options.timeout_seconds > 0) ::alarm(options.timeout_seconds);
        if (options.file_size_limit) {
            const rlimit limit{*options.file_size_limit, *options.file_size_limit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execve(args[0], args.data(), env.data());
        _exit(127);
    }
    return collect(pid, out, err);
}

std::vector<std::string> quillet_command(const std::vector<std::string>& args, bool wrapped) {
    std::vector<std::string> argv;
    const char* wrapper = wrapped ? std::getenv("QUILLET_WRAPPER") : nullptr;
    if (wrapper != nullptr) {
        std::istringstream words(wrapper);
        for (std::string w; words >> w;) argv.push_back(w);
    }
    // execve needs a path: a wrapper named without one is looked up in PATH here.
    if (!argv.empty() && argv[0].find('/') == std::string::npos) {
        const char* path = std::getenv("PATH");
        std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
        for (std::string dir; std::getline(dirs, dir, ':');) {
            const std::string candidate = dir + "/" + argv[0];
            if (::access(candidate.c_str(), X_OK) == 0) {
                argv[0] = candidate;
                break;
            }
        }
    }
    argv.emplace_back(QUILLET_EXE);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

ChildResult run_quillet(const std::vector<std::string>& args, const ChildOptions& options) {
    // A file-size limit would cut the wrapper's own log (and end it by SIGXFSZ), so runs under
    // such a limit are not wrapped.
    return run_child(quillet_command(args, !options.file_size_limit), options);
}

pid_t start_quillet(const std::vector<std::string>& args, const std::string& working_dir,
                    bool ignore_hangup) {
    const std::vector<std::string> command = quillet_command(args);
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (::chdir(working_dir.c_str()) != 0) _exit(126);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (ignore_hangup) std::signal(SIGHUP, SIG_IGN);
        ::alarm(300);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

ChildResult run_in_child_impl(void (*body)(void*), void* context) {
    Pipe out, err;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(out.fd[1], 1);
        ::dup2(err.fd[1], 2);
        body(context);
        std::fflush(nullptr);
        _exit(0);
    }
    return collect(pid, out, err);
}

std::string find_program(std::initializer_list<const char*> names) {
    const char* path = std::getenv("PATH");
    for (const char* name : names) {
        std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
        for (std::string dir; std::getline(dirs, dir, ':');) {
            const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
    }
    return {};
}

}  // namespace testing_support
