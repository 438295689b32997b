#include "cli/command_line.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "core/memory_size.hpp"
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

// A size in bytes, or with a K, M or G suffix; at least 64M.
bool set_memory(CommandLine& c, std::string_view value) {
    const std::optional<std::uint64_t> n = memory_size_of(value);
    if (n) c.memory = *n;
    return n.has_value();
}

constexpr Option kOptions[] = {
    {"--help", "-h",
     [](CommandLine& c, std::string_view) {
         c.action = Action::Help;
         return true;
     },
     "print this help and exit with status 0"},
    {"--output", "-o",
     [](CommandLine& c, std::string_view value) {
         c.outputName = value;
         return !value.empty();
     },
     "write the merge of the INPUTs to OUTPUT (.las or .laz)", "OUTPUT", false, true},
    {"--input-list", "",
     [](CommandLine& c, std::string_view value) {
         c.inputs.push_back({InputArgument::Kind::List, std::string(value)});
         return !value.empty();
     },
     "merge the files named in FILE, one a line (-: standard input)", "FILE", false, true},
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
    {"--temp-dir", "",
     [](CommandLine& c, std::string_view value) {
         c.temp_dir = value;
         return !value.empty();
     },
     "stage a .copc.laz output's points in DIR (default: $TMPDIR, else beside it)", "DIR", true},
    {"--memory", "", set_memory,
     "hold a .copc.laz output's points in at most SIZE bytes of memory, at least 64M; K, M, G "
     "are powers of 1024 (default: 1G)",
     "SIZE", true},
    {"--progress", "",
     [](CommandLine& c, std::string_view) {
         c.progress = true;
         return true;
     },
     "print progress lines on standard error, at most every 5 s", "", false, true},
    {"--quiet", "-q",
     [](CommandLine& c, std::string_view) {
         c.quiet = true;
         return true;
     },
     "print nothing but warnings and errors", "", false, true},
    {"--json", "",
     [](CommandLine& c, std::string_view) {
         c.json = true;
         return true;
     },
     "print one JSON report on standard output, and nothing else", "", false, true},
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

// Whether the arguments name an output with -o or --output before any "--": the -o form.
bool names_output(std::span<const char* const> words) {
    for (const std::string_view w : words) {
        if (w == "--") return false;
        const Option* o = find_option(w);
        if (o != nullptr && o->long_name == "--output") return true;
    }
    return false;
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

// Reads the options and names of `words`: the options applied to `c`, the names in order.
// Options stand anywhere before "--"; the refusal of the first that is unknown or lacks a value.
std::optional<CommandLine> read_words(std::span<const char* const> words, CommandLine& c,
                                      std::vector<std::string_view>& names,
                                      std::vector<const Option*>& given) {
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
            if (!option->apply(c, value)) {
                if (option->long_name == "--threads")
                    return refused_option(thread_count_refusal(value));
                if (option->long_name == "--memory")
                    return refused_option(memory_size_refusal(value));
                return refused_option(std::string(option->long_name) + " needs a value");
            }
            // Help and version are answered at once, whatever follows them.
            if (c.action != Action::Merge) return c;
            given.push_back(option);
        } else if (c.output_form) {
            // In the order given among the input lists.
            c.inputs.push_back({InputArgument::Kind::Path, std::string(arg)});
        } else {
            names.push_back(arg);
        }
    }
    return std::nullopt;
}

// `Quillet -o OUTPUT [OPTION]... INPUT...`: every name an INPUT.
CommandLine parse_output_form(std::span<const char* const> words) {
    CommandLine c;
    c.output_form = true;
    std::vector<std::string_view> names;  // none: the -o form's names go into c.inputs
    std::vector<const Option*> given;
    if (std::optional<CommandLine> refusal = read_words(words, c, names, given)) {
        // Told in the -o form's words, and as a report when --json is among the options.
        refusal->output_form = true;
        for (const std::string_view w : words) {
            if (w == "--") break;
            refusal->json |= w == "--json";
        }
        return *refusal;
    }
    return c;
}

}  // namespace

CommandLine parse_command_line(std::span<const char* const> args) {
    const std::span<const char* const> words = args.empty() ? args : args.subspan(1);
    CommandLine c;
    // The classic form, unchanged: two names, even when one begins with '-'.
    // The -o form's own options (but -o itself) are names here, as they were before it.
    auto plain_name = [](std::string_view w) {
        const Option* o = find_option(w);
        return w != "--" && (o == nullptr || (o->needs_output && o->long_name != "--output"));
    };
    if (words.size() == 2 && plain_name(words[0]) && plain_name(words[1])) {
        c.listName = words[0];
        c.outputName = words[1];
        return c;
    }
    if (names_output(words)) return parse_output_form(words);
    std::vector<std::string_view> names;
    std::vector<const Option*> given;
    if (std::optional<CommandLine> refusal = read_words(words, c, names, given)) return *refusal;
    for (const Option* option : given)
        if (option->needs_output)
            return refused_option(std::string(option->long_name) + " needs -o OUTPUT");
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
