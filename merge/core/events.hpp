// What a merge tells its caller while it runs: messages, progress (which may ask it to stop),
// and the name of its temporary output while one exists. The command line prints the messages and
// arms its signal cleanup with the name; the C interface hands both callbacks to its caller. The
// engine keeps no state of its own outside the merge it runs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quillet {

// Information: the plan's lines. Warning: a warning. Account: the running account that the list
// forms print (the total, the files-to-be-merged line, each file as its points are written),
// which the -o form leaves out.
enum class Level { Information = 0, Warning = 1, Account = 2 };

struct MergeEvents {
    // A message: the text as the command line prints it, line ends included.
    std::function<void(Level, std::string_view)> message;
    // Points written so far of the output's total; false to stop the merge.
    std::function<bool(std::uint64_t done, std::uint64_t total)> progress;
    // The temporary output's name just before it is created, and "" once it is gone (removed, or
    // renamed onto the output).
    std::function<void(const std::string&)> temporary;

    void inform(std::string_view text) const {
        if (message) message(Level::Information, text);
    }
    void warn(std::string_view text) const {
        if (message) message(Level::Warning, text);
    }
    void account(std::string_view text) const {
        if (message) message(Level::Account, text);
    }
    bool go_on(std::uint64_t done, std::uint64_t total) const {
        return !progress || progress(done, total);
    }
};

}  // namespace quillet
