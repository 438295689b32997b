// The report of one merge as a JSON document, for scripts: its status and message, the output
// (name, form and schema), each input with its points and action, the plan's lines, the warnings
// and the time it took. Its keys are stable; the manual page lists them.
#pragma once

#include <Korvane_LiDAR.h>

#include <string>
#include <vector>

#include "core/merge_summary.hpp"

namespace quillet {

struct ReportFacts {
    korvane_status status = KORVANE_OK;
    std::string message;  // the failure's message; "" after a success
    std::string output;   // the output's name, as given
    bool dry_run = false;
    MergeSummary summary;
    std::vector<std::string> plan;      // the plan's lines, as the merge told them
    std::vector<std::string> warnings;  // as the merge told them
    double seconds = 0;
};

// The document, on one line, ended by a line end. Messages and lines lose the line ends around
// them; counts are JSON numbers.
std::string merge_report(const ReportFacts& facts);

}  // namespace quillet
