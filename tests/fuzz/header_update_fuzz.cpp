// The header statistics update on arbitrary file bytes. The first input byte picks the scan
// buffer's size and, sometimes, a failing write, close or read; the rest is the file. Whatever
// happens, the file keeps its length and every byte outside the point count, the counts by return
// and the bounding box (offsets 107 to 130 and 179 to 226); a failed update leaves every byte as
// it was (unless a restoring write failed too, which must then be reported); an update succeeds
// exactly when the file classifies, holds a header and its point data starts after it, and then
// states the records that the file holds.
#include <Korvane_LiDAR.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>

#include "fault_injecting_fs.hpp"
#include "fuzz_support.hpp"
#include "header_update.hpp"

namespace {

using testing_support::Call;
using testing_support::FaultInjectingFs;

constexpr std::size_t kHeader = 227;

bool in_rewritten_fields(std::size_t at) {
    return (at >= 107 && at <= 130) || (at >= 179 && at <= 226);
}

double real(std::int32_t raw, double scale, double offset) {
    const volatile double product = static_cast<double>(raw) * scale;
    return product + offset;
}

// Equal to the bit, except that any NaN equals any NaN: which operand's payload a sum of two
// NaNs carries depends on the order in which the compiler put the operands.
bool same_bits(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// What the scan of the records must find.
struct Statistics {
    std::uint64_t records = 0;
    std::array<std::uint32_t, 5> by_return{};
    std::array<std::int32_t, 3> max{}, min{};
};

Statistics scan(std::span<const std::byte> file, std::size_t from, std::size_t length) {
    Statistics s;
    s.max.fill(std::numeric_limits<std::int32_t>::min());
    s.min.fill(std::numeric_limits<std::int32_t>::max());
    for (std::size_t at = from; from <= file.size() && at + length <= file.size(); at += length) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const auto v = fuzzing::field<std::int32_t>(file, at + 4 * axis);
            s.max[axis] = std::max(s.max[axis], v);
            s.min[axis] = std::min(s.min[axis], v);
        }
        const unsigned number = std::to_integer<unsigned>(file[at + 14]) & 7u;
        if (number >= 1 && number <= 5) ++s.by_return[number - 1];
        ++s.records;
    }
    return s;
}

// The extent a header may state for a raw extreme: with no record, the initial value; with
// records, the extreme found, or that extreme held at the initial value (both readings of the
// running maximum started from -2147483646 and minimum started from 2147483646, -10000000 and
// 10000000 for Z, are accepted here).
bool extent_ok(double stated, std::int32_t found, std::int32_t initial, bool is_max, bool any,
               double scale, double offset) {
    if (!any) return same_bits(stated, real(initial, scale, offset));
    const std::int32_t held = is_max ? std::max(found, initial) : std::min(found, initial);
    return same_bits(stated, real(found, scale, offset)) ||
           same_bits(stated, real(held, scale, offset));
}

void check_statistics(std::span<const std::byte> before, std::span<const std::byte> after) {
    const auto format = std::to_integer<std::uint8_t>(before[104]);
    const std::size_t length = fuzzing::record_length(format);
    const auto offset = fuzzing::field<std::uint32_t>(before, offsetof(LAS12Header, OffsetToData));
    const Statistics s = scan(before, offset, length);
    FUZZ_CHECK(fuzzing::field<std::uint32_t>(after, 107) == s.records,
               "NumberOfPointReturns is not the number of whole records");
    for (std::size_t r = 0; r < 5; ++r)
        FUZZ_CHECK(fuzzing::field<std::uint32_t>(after, 111 + 4 * r) == s.by_return[r],
                   "NumberOfPointsByReturn[" + std::to_string(r) + "]");

    const bool any = s.records > 0;
    static constexpr std::int32_t kInitialMax[3] = {-2147483646, -2147483646, -10000000};
    static constexpr std::int32_t kInitialMin[3] = {2147483646, 2147483646, 10000000};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const double scale = fuzzing::field<double>(after, 131 + 8 * axis);
        const double off = fuzzing::field<double>(after, 155 + 8 * axis);
        const double max = fuzzing::field<double>(after, 179 + 16 * axis);
        const double min = fuzzing::field<double>(after, 187 + 16 * axis);
        FUZZ_CHECK(extent_ok(max, s.max[axis], kInitialMax[axis], true, any, scale, off),
                   "maximum of axis " + std::to_string(axis));
        FUZZ_CHECK(extent_ok(min, s.min[axis], kInitialMin[axis], false, any, scale, off),
                   "minimum of axis " + std::to_string(axis));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned control = data[0];
    const std::span<const std::byte> file(reinterpret_cast<const std::byte*>(data) + 1, size - 1);

    static constexpr std::size_t kBlockBytes[8] = {1, 20, 26, 28, 34, 100, 4096, 1 << 18};
    const std::size_t block_bytes = kBlockBytes[control & 7u];
    FaultInjectingFs fs;
    bool restore_may_fail = false;
    switch ((control >> 3) & 7u) {
        case 3:  // the header write fails outright
            fs.fail(Call::Pwrite, 1, EIO);
            break;
        case 4:  // part of the header lands, then the disk is full
            fs.shorten(Call::Pwrite, 1);
            fs.fail(Call::Pwrite, 2, ENOSPC);
            break;
        case 5:  // the close after the write reports a lost write-back
            fs.fail(Call::Close, 3, EIO);
            break;
        case 6:  // part of the header lands and the restoring write fails as well
            fs.shorten(Call::Pwrite, 1);
            fs.fail(Call::Pwrite, 2, EIO);
            fs.fail(Call::Pwrite, 3, EIO);
            restore_may_fail = true;
            break;
        case 7:  // a read of the header or of the records fails
            fs.fail(Call::Pread, 2 + static_cast<int>(control >> 6), EIO);
            break;
        default:
            break;
    }

    const std::string path = fuzzing::scratch_dir() + "/f.las";
    fuzzing::write_file(path, file);
    fuzzing::Captured printed;
    const bool ok = korvane::update_header(path.c_str(), printed.file(), fs, block_bytes);
    const std::vector<std::byte> after = fuzzing::read_file(path);

    FUZZ_CHECK(after.size() == file.size(), "the file's length changed");
    for (std::size_t at = 0; at < file.size(); ++at)
        FUZZ_CHECK(after[at] == file[at] || in_rewritten_fields(at),
                   "byte " + std::to_string(at) + " outside the statistics changed");

    const int code =
        fuzzing::expected_type_code(file.first(std::min<std::size_t>(file.size(), 107)));
    const bool updatable =
        code > 0 && file.size() >= kHeader &&
        fuzzing::field<std::uint32_t>(file, offsetof(LAS12Header, OffsetToData)) >= kHeader;
    if (!fs.triggered())
        FUZZ_CHECK(ok == updatable, ok ? "updated a file that cannot be updated"
                                       : "refused a file that can be updated: " + printed.text());
    else
        FUZZ_CHECK(!ok || !updatable || (control >> 3 & 7u) == 7,
                   "an injected failure went unnoticed");

    if (ok) {
        FUZZ_CHECK(updatable, "updated a file that cannot be updated");
        check_statistics(file, after);
    } else {
        const bool damage_reported = printed.text().find("may be damaged") != std::string::npos;
        FUZZ_CHECK(std::equal(after.begin(), after.end(), file.begin()) ||
                       (restore_may_fail && damage_reported),
                   "a failed update changed the file: " + printed.text());
    }
    return 0;
}
