// What the phases of a merge share. The driver owns one MergeJob and hands it to each phase
// in turn, so every phase's inputs and results are in plain sight.
#pragma once

#include <Korvane_LiDAR.h>

#include <cstdint>
#include <string>
#include <vector>

#include "read/input_description.hpp"

namespace quillet {

struct MergeJob {
    std::string listName;                  // the first argument: the list file
    std::string outputName;                // the second argument: the merged file
    std::vector<std::string> names;        // the listed names, in list order, repeats kept
    std::int32_t LASCount = 0;             // number of listed files
    std::vector<InputDescription> inputs;  // every listed file as checked, in list order
};

// What only the phases of the classic merge share.
struct ClassicState {
    std::int16_t LASType = 0;  // the listed files' common LAS type code, set by checkInput
    LAS12Header ph12global{};  // the merged header, set by the merged-header phase
};

}  // namespace quillet
