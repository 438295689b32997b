// One merge as asked: the inputs in order, the output, and how to merge them. The command line
// builds it from its arguments and list, the C interface from its calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/memory_size.hpp"

namespace quillet {

struct MergeRequest {
    std::vector<std::string> inputs;  // in merge order, repeats kept
    std::string output;
    // The list file the inputs were read from, which the output must not overwrite either; ""
    // when there is none (the C interface) and "-" for standard input.
    std::string list_name;
    unsigned threads = 0;       // threads that code LAZ chunks; 0: one per core
    bool rescale = false;       // inputs off the output's grid rounded onto it
    bool fixed_chunks = false;  // every LAZ input decoded, every chunk encoded anew
    bool dry_run = false;       // the checks and the plan, nothing written
    // Where a cloud optimised output stages its points: this directory, else $TMPDIR when set,
    // else beside the output.
    std::string temp_dir;
    // The memory a cloud optimised output may hold its points in, in bytes.
    std::uint64_t memory = kDefaultMemory;
};

}  // namespace quillet
