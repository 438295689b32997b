#include "cli/command_line.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "write/chunk_pipeline.hpp"

namespace quillet {
namespace {

using Action = CommandLine::Action;

// A whole number from 1 to kMaxThreads, in decimal.
bool set_threads(CommandLine& c, std::string_view value) {
    const std::optional<unsigned> n = thread_count_of(value);
    if (n) c.threads = *n;
    return n.has_value();
}

constexpr Option kOptions[] = {
    {"--help", "-h",
     [](CommandLine& c, std::string_view) {
         c.action = Action::Help;
         return true;
     },
     "print this help and exit with status 0"},
    {"--extended", "",
     [](CommandLine& c, std::string_view) {
         c.extended = true;
         return true;
     },
     "merge LAS 1.3 and 1.4, point formats 6 to 8, extra bytes, LAZ"},
    {"--threads", "", set_threads, "code LAZ chunks on N threads, 1 to 64 (default: all cores)",
     "N", true},
    {"--fixed-chunks", "",
     [](CommandLine& c, std::string_view) {
         c.fixed_chunks = true;
         return true;
     },
     "encode every LAZ chunk anew, all of 50,000 points (slower)", "", true},
    {"--rescale", "",
     [](CommandLine& c, std::string_view) {
         c.rescale = true;
         return true;
     },
     "round inputs that are off the output's grid onto it", "", true},
    {"--dry-run", "",
     [](CommandLine& c, std::string_view) {
         c.dry_run = true;
         return true;
     },
     "check the inputs and print the plan, writing nothing", "", true},
    {"--version", "",
     [](CommandLine& c, std::string_view) {
         c.action = Action::Version;
         return true;
     },
     "print Quillet's name and version and exit with status 0"},
};

}  // namespace

std::span<const Option> known_options() {
    return kOptions;
}

namespace {

// The option an argument names: `--name`, `-n`, or `--name=value` for one that takes a value.
const Option* find_option(std::string_view arg) {
    const std::string_view name = arg.substr(0, arg.find('='));
    const auto it = std::find_if(std::begin(kOptions), std::end(kOptions), [&](const Option& o) {
        if (name.size() != arg.size() && o.value.empty()) return false;
        return name == o.long_name || (!o.short_name.empty() && arg == o.short_name);
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

CommandLine refused_option(std::string line) {
    CommandLine c;
    c.action = Action::RefuseOption;
    c.refusal = std::move(line);
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
    std::vector<const Option*> given;
    bool options_ended = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view arg = words[i];
        if (!options_ended && arg == "--") {
            options_ended = true;
        } else if (!options_ended && looks_like_option(arg)) {
            const Option* option = find_option(arg);
            if (option == nullptr) return refused(std::string(arg));
            std::string_view value;
            if (!option->value.empty()) {
                const std::size_t equals = arg.find('=');
                if (equals != std::string_view::npos) {
                    value = arg.substr(equals + 1);
                } else if (i + 1 < words.size()) {
                    value = words[++i];
                } else {
                    return refused_option(std::string(option->long_name) + " needs a value");
                }
            }
            if (!option->apply(c, value)) return refused_option(thread_count_refusal(value));
            // Help and version are answered at once, whatever follows them.
            if (c.action != Action::Merge) return c;
            given.push_back(option);
        } else {
            names.push_back(arg);
        }
    }
    if (names.size() != 2) return refused();
    for (const Option* option : given)
        if (option->needs_extended && !c.extended)
            return refused_option(std::string(option->long_name) + " needs --extended");
    if (c.fixed_chunks && names[1].ends_with(".las"))
        return refused_option("--fixed-chunks needs a .laz output");
    c.listName = names[0];
    c.outputName = names[1];
    return c;
}

}  // namespace quillet
