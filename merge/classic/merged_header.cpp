#include "classic/merged_header.hpp"

#include <cmath>

#include "core/message.hpp"
#include "plan/header_box.hpp"
#include "read/input_file.hpp"
#include "read/input_reader.hpp"

namespace quillet {
namespace {

constexpr double kPointLimit = 2147483647.0;  // the largest signed 32-bit count
constexpr double kSizeLimit = 2147483647.0;   // bytes, for the size warning
constexpr double kRoundingGuard = 1e-5;

}  // namespace

void merge_into(LAS12Header& merged, const LAS12Header& next) {
    enclose_box(merged, next);
    for (int r = 0; r < 5; ++r) merged.NumberOfPointsByReturn[r] += next.NumberOfPointsByReturn[r];
    merged.NumberOfPointReturns += next.NumberOfPointReturns;
}

bool calc_output_filesize_and_attributes(MergeJob& job, ClassicState& state, std::FILE* out,
                                         korvane::FileSystem& fs) {
    double TotalPoints = 0.0;
    job.inputs.clear();
    LAS12Header last{};
    for (std::size_t i = 0; i < job.names.size(); ++i) {
        const std::string& name = job.names[i];
        const korvane::UniqueFd fd = open_input(name, fs);
        if (!fd.valid()) {
            print(out,
                  say("Failed to open %s for reading in check_output_filesize()\n", name.c_str()));
            return false;
        }
        // Only the first file's records go into the merge: only theirs are digested.
        ReadResult read = read_classic(fd.get(), name, fs, i == 0);
        if (read.problem) {
            print(out, read.problem->text);
            return false;
        }
        const LAS12Header* h = &read.description.base;
        last = *h;
        if (i == 0) state.ph12global = *h;

        TotalPoints = std::floor(h->NumberOfPointReturns + TotalPoints + kRoundingGuard);
        if (TotalPoints >= kPointLimit) {
            print(out, say("\nERROR: The number of points in the merged .las file exceeds "
                           "2,147,483,647,\nthe 32-bit limit, and cannot be stored in the file's "
                           "header."));
            return false;
        }
        if (i >= 1) merge_into(state.ph12global, *h);
        job.inputs.push_back(std::move(read.description));
    }

    // The estimate counts neither variable length records nor the gap before the point data.
    const double TotalFileSize = last.PointDataRecordLength * TotalPoints + last.HeaderSize;
    print(out, say("%.0f points in all input .las files\n", TotalPoints));
    if (TotalFileSize >= kSizeLimit) {
        print(out, say("\nWARNING: The output .las file will be %.3fMB, which excceds the 32-bit "
                       "limit (2,147MB)\n\n",
                       TotalFileSize / 1000000));
    }
    return true;
}

}  // namespace quillet
