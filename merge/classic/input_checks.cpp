#include "classic/input_checks.hpp"

#include <optional>

#include "core/status.hpp"
#include "las_classify.hpp"
#include "plan/extended_checks.hpp"
#include "read/input_file.hpp"
#include "read/list_file.hpp"

namespace quillet {
namespace {

// The header of a listed file, or nothing after a message. `open_failure` is the phase's own
// message for a file that cannot be opened.
std::optional<LAS12Header> header_of(const std::string& name, const char* open_failure,
                                     std::FILE* out, korvane::FileSystem& fs) {
    const korvane::UniqueFd fd = open_input(name, fs);
    if (!fd.valid()) {
        print(out, say(open_failure, name.c_str()));
        return std::nullopt;
    }
    Result<LAS12Header> header = read_checked_header(fd.get(), name, fs);
    if (!header) {
        print(out, header.problem().text);
        return std::nullopt;
    }
    return *header;
}

}  // namespace

bool checkInput(MergeJob& job, ClassicState& state, std::FILE* out, korvane::FileSystem& fs,
                std::FILE* hints) {
    Result<std::vector<std::string>> names = read_list(job.listName, fs);
    if (!names) {
        print(out, names.problem().text);
        return false;
    }
    job.names = std::move(*names);
    job.LASCount = 0;

    const char* list = job.listName.c_str();
    for (const std::string& name : job.names) {
        const std::int16_t previous = state.LASType;
        state.LASType = korvane::check_las(name.c_str(), out, fs);
        if (state.LASType <= 0) {
            print(out, say("%s (listed in %s) is not a valid LAS file\n", name.c_str(), list));
            hint_extended(name, hints, fs);
            return false;
        }
        ++job.LASCount;
        if (job.LASCount > 1 && state.LASType != previous) {
            print(out, say("\nType of file %s differs from that of previous files in %s\n",
                           name.c_str(), list));
            return false;
        }
    }
    if (Problem few = too_few_files(job)) {
        print(out, few->text);
        return false;
    }
    return true;
}

bool check_scale_offset_recordlength_consistency(const MergeJob& job, std::FILE* out,
                                                 korvane::FileSystem& fs) {
    static constexpr const char* kOpenFailure =
        "\nFailed to open %s for reading in check_output_filesize()\n";
    const std::optional<LAS12Header> reference = header_of(job.names[0], kOpenFailure, out, fs);
    if (!reference) return false;

    for (std::size_t i = 1; i < job.names.size(); ++i) {
        const std::string& name = job.names[i];
        const std::optional<LAS12Header> h = header_of(name, kOpenFailure, out, fs);
        if (!h) return false;
        // Exact comparison of value: a NaN differs from everything, and -0.0 equals +0.0.
        const char* differing = nullptr;
        if (h->XScaleFactor != reference->XScaleFactor)
            differing = "XScaleFactor";
        else if (h->YScaleFactor != reference->YScaleFactor)
            differing = "YScaleFactor";
        else if (h->ZScaleFactor != reference->ZScaleFactor)
            differing = "ZScaleFactor";
        else if (h->XOffset != reference->XOffset)
            differing = "XOffset";
        else if (h->YOffset != reference->YOffset)
            differing = "YOffset";
        else if (h->ZOffset != reference->ZOffset)
            differing = "ZOffset";
        else if (h->PointDataRecordLength != reference->PointDataRecordLength)
            differing = "Record length";
        if (differing != nullptr) {
            print(out, say("\n%s in %s differs from that in previous .las files included in %s\n",
                           differing, name.c_str(), job.listName.c_str()));
            return false;
        }
    }
    return true;
}

}  // namespace quillet
