// The command line of Quillet: the classic `Quillet <ASCII List> <LAS Output>` and its options
// before the two names, and the form of point-cloud tools, `Quillet -o OUTPUT [OPTION]...
// INPUT...`, whose options may stand anywhere before "--".
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "read/input_sources.hpp"

namespace quillet {

struct CommandLine {
    enum class Action {
        Merge,         // merge the files of `listName` into `outputName`
        Help,          // print the help and succeed
        Version,       // print the version and succeed
        Refuse,        // print the argument-count message (after naming `unknownOption`, if any)
        RefuseOption,  // print `refusal`, about an option, then the usage
    };
    Action action = Action::Merge;
    std::string listName;  // "-" means standard input
    std::string outputName;
    std::string unknownOption;  // the argument that was not a known option, when refused for it
    std::string refusal;        // RefuseOption: the line that says what is wrong
    bool extended = false;      // --extended: LAS 1.3 and 1.4, more point formats, and LAZ
    unsigned threads = 0;       // --threads N: threads that code LAZ chunks; 0: the default
    bool fixed_chunks = false;  // --fixed-chunks: every LAZ input decoded, every chunk encoded
    bool rescale = false;       // --rescale: inputs off the output's grid rounded onto it
    bool dry_run = false;       // --dry-run: the checks and the plan, nothing written
    std::string temp_dir;       // --temp-dir DIR: where a COPC output stages its points
    std::uint64_t memory = 0;   // --memory SIZE: a COPC output's budget in bytes; 0: the default

    // The -o form (-o OUTPUT, --output OUTPUT, --output=OUTPUT): `outputName` and these.
    bool output_form = false;
    std::vector<InputArgument> inputs;  // INPUTs and --input-list FILEs, in the order given
    bool progress = false;              // --progress: plain progress lines on standard error
    bool quiet = false;                 // --quiet: nothing but warnings and errors
    bool json = false;                  // --json: one JSON document on standard output
};

// Reads the arguments (program name first). Exactly two arguments, neither of them a known
// option nor "--", are the list and the output, whatever they begin with. With -o or --output
// before any "--", the -o form: options anywhere, "--" ends them, every other argument an INPUT.
// Otherwise options come first and "--" ends them; an argument that begins with '-' (other than "-"
// itself) before that is an option, and exactly two names must follow the options.
CommandLine parse_command_line(std::span<const char* const> args);

// An option Quillet knows: its names, what it does to the command line, and its help line. An
// option that takes a value (`--threads N` or `--threads=N`) names it in `value`, and `apply`
// gets it; its result says whether the value is one the option takes.
struct Option {
    std::string_view long_name;
    std::string_view short_name;  // empty when there is none
    bool (*apply)(CommandLine&, std::string_view value);
    std::string_view help;
    std::string_view value = {};  // the value's name in the help, empty for none
    bool needs_extended = false;  // an option of --extended (or of the -o form) only
    bool needs_output = false;    // an option of the -o form only
};

// Every option, in the order the help lists them.
std::span<const Option> known_options();

}  // namespace quillet
