// The merge of two or three arbitrary files. The input is split at "|QUILLET|" into the files
// (one part is listed twice); when the input's length is odd an earlier output is in place. A
// merge that succeeds must have written the first file's header with the summed counts and the
// enclosing box, the first file's bytes up to its point data, and then every file's point
// records in list order; a merge that fails returns -1 and leaves the earlier output (or no
// output) and no temporary file.
#include <Korvane_LiDAR.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/merge_driver.hpp"
#include "file_system.hpp"
#include "fuzz_support.hpp"

namespace {

constexpr std::size_t kHeader = 227;
constexpr std::string_view kSeparator = "|QUILLET|";
constexpr std::string_view kEarlier = "an earlier merge, to be kept";

using Bytes = std::span<const std::byte>;

constexpr std::size_t kPointsAt = offsetof(LAS12Header, NumberOfPointReturns);
constexpr std::size_t kOffsetAt = offsetof(LAS12Header, OffsetToData);

template <typename T>
void put(LAS12Header& h, std::size_t at, T value) {
    std::memcpy(reinterpret_cast<std::byte*>(&h) + at, &value, sizeof value);
}

// The merged header the files' headers call for, as the merge forms it: the first header with
// the counts summed and each extent replaced only by a strictly wider one.
LAS12Header merged_header(const std::vector<Bytes>& files) {
    LAS12Header merged;
    std::memcpy(&merged, files[0].data(), kHeader);
    const Bytes m(reinterpret_cast<const std::byte*>(&merged), kHeader);
    static constexpr std::size_t kLower[3] = {
        offsetof(LAS12Header, MinX), offsetof(LAS12Header, MinY), offsetof(LAS12Header, MinZ)};
    static constexpr std::size_t kUpper[3] = {
        offsetof(LAS12Header, MaxX), offsetof(LAS12Header, MaxY), offsetof(LAS12Header, MaxZ)};
    constexpr std::size_t kCounts = offsetof(LAS12Header, NumberOfPointsByReturn);
    constexpr std::size_t kTotal = offsetof(LAS12Header, NumberOfPointReturns);
    for (std::size_t i = 1; i < files.size(); ++i) {
        const Bytes f = files[i];
        for (int a = 0; a < 3; ++a) {
            const double lower = fuzzing::field<double>(f, kLower[a]);
            const double upper = fuzzing::field<double>(f, kUpper[a]);
            if (lower < fuzzing::field<double>(m, kLower[a])) put(merged, kLower[a], lower);
            if (upper > fuzzing::field<double>(m, kUpper[a])) put(merged, kUpper[a], upper);
        }
        for (std::size_t r = 0; r < 6; ++r) {
            // The five counts by return and the total lie side by side, total first.
            const std::size_t at = r == 0 ? kTotal : kCounts + 4 * (r - 1);
            put<std::uint32_t>(
                merged, at,
                fuzzing::field<std::uint32_t>(m, at) + fuzzing::field<std::uint32_t>(f, at));
        }
    }
    return merged;
}

void check_merged(const std::vector<Bytes>& files, const std::vector<std::byte>& out) {
    for (const Bytes f : files) {
        FUZZ_CHECK(f.size() >= kHeader && fuzzing::expected_type_code(f.first(107)) > 0,
                   "merged a file that is not a LAS file of a handled type");
        FUZZ_CHECK(fuzzing::expected_type_code(f.first(107)) ==
                       fuzzing::expected_type_code(files[0].first(107)),
                   "merged files of different types");
    }
    const LAS12Header expected = merged_header(files);
    const auto offset = fuzzing::field<std::uint32_t>(files[0], kOffsetAt);
    const auto length =
        fuzzing::field<std::uint16_t>(files[0], offsetof(LAS12Header, PointDataRecordLength));
    std::uint64_t total = offset;
    std::uint64_t points_total = 0;
    for (const Bytes f : files) {
        const auto points = fuzzing::field<std::uint32_t>(f, kPointsAt);
        const auto own_offset = fuzzing::field<std::uint32_t>(f, kOffsetAt);
        FUZZ_CHECK(fuzzing::field<std::uint16_t>(f, offsetof(LAS12Header, PointDataRecordLength)) ==
                       length,
                   "merged files of different record lengths");
        FUZZ_CHECK(own_offset >= kHeader && own_offset + std::uint64_t{points} * length <= f.size(),
                   "merged a file that cannot hold the records its header states");
        for (const std::size_t at :
             {offsetof(LAS12Header, XScaleFactor), offsetof(LAS12Header, YScaleFactor),
              offsetof(LAS12Header, ZScaleFactor), offsetof(LAS12Header, XOffset),
              offsetof(LAS12Header, YOffset), offsetof(LAS12Header, ZOffset)})
            FUZZ_CHECK(fuzzing::field<double>(f, at) == fuzzing::field<double>(files[0], at),
                       "merged files whose scale factors or offsets differ");
        total += std::uint64_t{points} * length;
        points_total += points;
    }
    FUZZ_CHECK(points_total < 2147483647u, "merged more points than a header can count");
    FUZZ_CHECK(out.size() == total, "the merged file has " + std::to_string(out.size()) +
                                        " bytes, expected " + std::to_string(total));

    // The header: the first file's, with the sums and the box.
    const Bytes written(out.data(), kHeader);
    const Bytes wanted(reinterpret_cast<const std::byte*>(&expected), kHeader);
    for (std::size_t at = 0; at < kHeader; ++at) {
        if (written[at] == wanted[at]) continue;
        const bool counts = at >= 107 && at <= 130;
        const bool box = at >= 179 && at <= 226;
        FUZZ_CHECK(!counts, "the point count or a count by return is not the sum");
        FUZZ_CHECK(!box, "the bounding box does not enclose the files' boxes as stated");
        FUZZ_CHECK(false, "header byte " + std::to_string(at) + " is not the first file's");
    }

    // The first file's bytes between its header and its point data.
    FUZZ_CHECK(std::memcmp(out.data() + kHeader, files[0].data() + kHeader, offset - kHeader) == 0,
               "the bytes before the point data are not the first file's");

    // Every file's records, in list order.
    std::uint64_t at = offset;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Bytes f = files[i];
        const auto points = fuzzing::field<std::uint32_t>(f, kPointsAt);
        const auto own_offset = fuzzing::field<std::uint32_t>(f, kOffsetAt);
        const std::uint64_t n = std::uint64_t{points} * length;
        FUZZ_CHECK(std::memcmp(out.data() + at, f.data() + own_offset, n) == 0,
                   "the records of file " + std::to_string(i) + " are not copied unchanged");
        at += n;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes input(reinterpret_cast<const std::byte*>(data), size);
    const std::vector<Bytes> parts = fuzzing::split(input, kSeparator, 3);

    fuzzing::clear_scratch_dir();
    const std::string& dir = fuzzing::scratch_dir();
    std::vector<std::string> names;
    std::vector<Bytes> listed;
    std::string list;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        names.push_back(dir + "/in" + std::to_string(i) + ".las");
        fuzzing::write_file(names.back(), parts[i]);
    }
    for (std::size_t i = 0; i < std::max<std::size_t>(parts.size(), 2); ++i) {
        const std::size_t which = i % parts.size();
        list += names[which] + "\n";
        listed.push_back(parts[which]);
    }
    const std::string list_name = dir + "/list.txt";
    fuzzing::write_file(list_name, std::as_bytes(std::span(list)));
    const std::string output = dir + "/out.las";
    const bool earlier = size % 2 == 1;
    if (earlier) fuzzing::write_file(output, std::as_bytes(std::span(kEarlier)));

    const std::vector<std::string> before = fuzzing::entries_of(dir);
    const char* args[] = {"Quillet", list_name.c_str(), output.c_str()};
    const int status = quillet::run(args, fuzzing::null_output(), korvane::system_files());

    std::vector<std::string> expected_entries = before;
    if (!earlier && status == 0) {
        expected_entries.push_back("out.las");
        std::sort(expected_entries.begin(), expected_entries.end());
    }
    FUZZ_CHECK(fuzzing::entries_of(dir) == expected_entries,
               "files were left behind, or the output is missing");
    if (status == 0) {
        check_merged(listed, fuzzing::read_file(output));
    } else {
        FUZZ_CHECK(status == -1, "exit status " + std::to_string(status));
        if (earlier) {
            const std::vector<std::byte> kept = fuzzing::read_file(output);
            FUZZ_CHECK(kept.size() == kEarlier.size() &&
                           std::memcmp(kept.data(), kEarlier.data(), kEarlier.size()) == 0,
                       "a failed merge touched the earlier output");
        }
    }
    return 0;
}
