// The inputs that the -o form's arguments name, resolved into files in merge order: a LAS or LAZ
// file as it is; a directory's *.las and *.laz files (any case; symbolic links to files count),
// in byte order of their names; a virtual point cloud's (*.vpc) files in its order; the names of
// an input list, one per line. The same file reached twice is refused, naming both spellings.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "core/status.hpp"

namespace quillet {

struct InputArgument {
    enum class Kind {
        Path,  // a file, a directory or a virtual point cloud
        List,  // --input-list FILE: names, one per line; "-" is standard input
    };
    Kind kind = Kind::Path;
    std::string text;
    bool operator==(const InputArgument&) const = default;
};

// The names of an input list's text: each line as written, its carriage return at the end
// dropped; lines that are empty or hold only blanks and tabs, and lines that start with '#',
// skipped.
std::vector<std::string> input_list_names(std::string_view text);

// The files the arguments name, in order, or the refusal: a directory without LAS or LAZ files,
// an input list or virtual point cloud that cannot be read, a remote file, one file named twice.
// `standard_input` is read for an input list named "-". A name that is neither a directory nor a
// virtual point cloud is kept as it is: the merge judges it.
Result<std::vector<std::string>> resolve_inputs(std::span<const InputArgument> arguments,
                                                std::FILE* standard_input);

}  // namespace quillet
