#include "command_line.hpp"

#include <algorithm>
#include <string_view>
#include <vector>

namespace quillet {
namespace {

using Action = CommandLine::Action;

constexpr Option kOptions[] = {
    {"--help", "-h", [](CommandLine& c) { c.action = Action::Help; },
     "print this help on standard output and exit with status 0"},
    {"--extended", "", [](CommandLine& c) { c.extended = true; },
     "merge LAS 1.3 and 1.4, point formats 6 to 8, extra bytes and LAZ too"},
    {"--version", "", [](CommandLine& c) { c.action = Action::Version; },
     "print the name and version of Quillet and exit with status 0"},
};

}  // namespace

std::span<const Option> known_options() {
    return kOptions;
}

namespace {

const Option* find_option(std::string_view arg) {
    const auto it = std::find_if(std::begin(kOptions), std::end(kOptions), [&](const Option& o) {
        return arg == o.long_name || (!o.short_name.empty() && arg == o.short_name);
    });
    return it == std::end(kOptions) ? nullptr : it;
}

bool looks_like_option(std::string_view arg) {
    return arg.size() > 1 && arg.front() == '-';
}

CommandLine refused(std::string unknown = {}) {
    CommandLine c;
    c.action = Action::Refuse;
    c.unknownOption = std::move(unknown);
    return c;
}

}  // namespace

CommandLine parse_command_line(std::span<const char* const> args) {
    const std::span<const char* const> words = args.empty() ? args : args.subspan(1);
    CommandLine c;
    // The classic form, unchanged: two names, even when one begins with '-'.
    auto plain_name = [](std::string_view w) { return w != "--" && find_option(w) == nullptr; };
    if (words.size() == 2 && plain_name(words[0]) && plain_name(words[1])) {
        c.listName = words[0];
        c.outputName = words[1];
        return c;
    }
    std::vector<std::string_view> names;
    bool options_ended = false;
    for (const std::string_view arg : words) {
        if (!options_ended && arg == "--") {
            options_ended = true;
        } else if (!options_ended && looks_like_option(arg)) {
            const Option* option = find_option(arg);
            if (option == nullptr) return refused(std::string(arg));
            option->apply(c);
            // Help and version are answered at once, whatever follows them.
            if (c.action != Action::Merge) return c;
        } else {
            names.push_back(arg);
        }
    }
    if (names.size() != 2) return refused();
    c.listName = names[0];
    c.outputName = names[1];
    return c;
}

}  // namespace quillet
