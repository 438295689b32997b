// What a merge decided, as far as it got before it ended or was refused: the inputs it described,
// the output's schema and box, each input's action. The C interface's report is made from it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plan/output_schema.hpp"

namespace quillet {

struct InputSummary {
    std::string name;
    std::uint64_t points = 0;
    // copied, shifted, rewritten, decoded, encoded or re-encoded; empty until the plan is made
    std::string action;
};

struct MergeSummary {
    std::vector<InputSummary> inputs;    // every input described so far, in order
    std::optional<OutputSchema> schema;  // once decided
    // The union of the inputs' header boxes (min X Y Z, max X Y Z), once the schema is decided
    // and when any input holds points: the real coordinates, which no grid change moves.
    std::optional<std::array<double, 6>> box;
};

}  // namespace quillet
