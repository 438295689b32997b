// The command line owns its process, and so its signals: when SIGINT, SIGTERM or SIGHUP ends the
// process mid-merge, the merge's temporary output is removed first. A signal that the process
// ignores (SIGHUP under nohup) stays ignored, and the dispositions found are put back once no
// temporary file is left, for callers that run the command in-process.
#pragma once

#include <csignal>
#include <string>

namespace quillet {

// Arms the removal of `path`, which is about to be created; "" disarms it once the file is gone.
// What the merge's temporary output watch is given.
void watch_temporary_output(const std::string& path);

// Sets `handler` for `sig` unless the process ignores the signal (as under nohup), keeping the
// disposition found in `previous`. Whether it was set.
bool catch_signal(int sig, void (*handler)(int), struct sigaction& previous);

}  // namespace quillet
