#include "header_update.hpp"

#include <Korvane_LiDAR.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <span>
#include <vector>

#include "full_io.hpp"
#include "las_classify.hpp"
#include "las_header.hpp"
#include "unique_fd.hpp"

namespace korvane {
namespace {

// Every point format starts with the fields of format 0, so X, Y, Z and the return number lie
// at the same offsets in all four records.
constexpr std::size_t kXAt = offsetof(LAS12fm0, X);
constexpr std::size_t kYAt = offsetof(LAS12fm0, Y);
constexpr std::size_t kZAt = offsetof(LAS12fm0, Z);
constexpr std::size_t kBitfieldAt = offsetof(LAS12fm0, bitfield);
static_assert(offsetof(LAS12fm1, bitfield) == kBitfieldAt && offsetof(LAS12fm2, Z) == kZAt &&
              offsetof(LAS12fm3, bitfield) == kBitfieldAt);

// The bounding box stated by a file that holds no whole record: these raw values, scaled and
// offset like any other.
constexpr std::int32_t kNoPointsMaxXY = -2147483646;
constexpr std::int32_t kNoPointsMinXY = 2147483646;
constexpr std::int32_t kNoPointsMaxZ = -10000000;
constexpr std::int32_t kNoPointsMinZ = 10000000;

// What the scan learns from the point records. Axes are indexed X, Y, Z.
struct PointStatistics {
    std::uint64_t records = 0;
    std::array<std::uint64_t, 8> by_return_number{};  // indexed by bits 0 to 2 of bitfield
    std::array<std::int32_t, 3> max{std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::min()};
    std::array<std::int32_t, 3> min{std::numeric_limits<std::int32_t>::max(),
                                    std::numeric_limits<std::int32_t>::max(),
                                    std::numeric_limits<std::int32_t>::max()};
};

// Four signed 32-bit lanes, compared lane by lane in one SIMD register: X, Y and Z of a record
// and a fourth lane that is loaded with them and never used.
using Lanes = std::int32_t __attribute__((vector_size(16)));
static_assert(kYAt == kXAt + 4 && kZAt == kXAt + 8 && sizeof(LAS12fm0) >= kXAt + sizeof(Lanes));

// One 8-bit counter per return number inside a 64-bit tally: adding kTally[bitfield] counts
// the record's return number (bits 0 to 2 of bitfield) in its own byte.
constexpr std::array<std::uint64_t, 256> kTally = [] {
    std::array<std::uint64_t, 256> t{};
    for (std::size_t bits = 0; bits < t.size(); ++bits)
        t[bits] = std::uint64_t{1} << (8 * (bits & 7));
    return t;
}();
// Records counted in a tally before it is emptied into the totals: fewer than 256, so that no
// 8-bit counter overflows, and even, since records are taken in pairs.
constexpr std::size_t kTallyRun = 254;

// Folds whole records of RecordBytes bytes into the statistics. Fields are copied out of the
// buffer, since records start at any byte. Even and odd records keep extremes of their own,
// so that each record's comparisons need not wait for those of the record before it.
template <std::size_t RecordBytes>
void accumulate(std::span<const std::byte> records, PointStatistics& s) {
    const std::size_t n = records.size() / RecordBytes;
    Lanes max_even = {s.max[0], s.max[1], s.max[2], 0};
    Lanes min_even = {s.min[0], s.min[1], s.min[2], 0};
    Lanes max_odd = max_even;
    Lanes min_odd = min_even;
    std::uint64_t tally = 0;
    std::size_t tallied = 0;

    auto fold = [&tally](const std::byte* r, Lanes& max, Lanes& min) {
        Lanes xyz;
        std::memcpy(&xyz, r + kXAt, sizeof xyz);
        max = max > xyz ? max : xyz;
        min = min < xyz ? min : xyz;
        tally += kTally[std::to_integer<std::uint8_t>(r[kBitfieldAt])];
    };
    auto empty_tally = [&] {
        for (std::size_t number = 0; number < 8; ++number)
            s.by_return_number[number] += (tally >> (8 * number)) & 0xFFu;
        tally = 0;
        tallied = 0;
    };

    const std::byte* r = records.data();
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2, r += 2 * RecordBytes) {
        fold(r, max_even, min_even);
        fold(r + RecordBytes, max_odd, min_odd);
        tallied += 2;
        if (tallied == kTallyRun) empty_tally();
    }
    if (i < n) fold(r, max_even, min_even);
    empty_tally();

    const Lanes max = max_even > max_odd ? max_even : max_odd;
    const Lanes min = min_even < min_odd ? min_even : min_odd;
    s.max = {max[0], max[1], max[2]};
    s.min = {min[0], min[1], min[2]};
    s.records += n;
}

using Accumulator = void (*)(std::span<const std::byte>, PointStatistics&);

// The record layout of a LAS type code: its size and the matching accumulator. Code 0 (LAS
// 1.0 or 1.1 with format 2 or 3) and failed codes have none.
struct RecordLayout {
    std::size_t bytes = 0;
    Accumulator accumulate = nullptr;
};

RecordLayout layout_of(std::int16_t type_code) {
    switch (type_code) {
        case 1:
        case 3:
        case 5:
            return {sizeof(LAS12fm0), &accumulate<sizeof(LAS12fm0)>};
        case 2:
        case 4:
        case 6:
            return {sizeof(LAS12fm1), &accumulate<sizeof(LAS12fm1)>};
        case 7:
            return {sizeof(LAS12fm2), &accumulate<sizeof(LAS12fm2)>};
        case 8:
            return {sizeof(LAS12fm3), &accumulate<sizeof(LAS12fm3)>};
        default:
            return {};
    }
}

// Reads the point records from `from` to the end of the file, a block of whole records per
// call; a trailing partial record is left out. Returns 0, or the errno of a failed read.
int scan_records(FileSystem& fs, int fd, off_t from, const RecordLayout& layout,
                 std::span<std::byte> buffer, PointStatistics& stats) {
    off_t at = from;
    for (;;) {
        const ssize_t got = read_full(fs, fd, buffer, at);
        if (got < 0) return errno;
        const auto delivered = static_cast<std::size_t>(got);
        layout.accumulate(buffer.first(delivered), stats);
        if (delivered < buffer.size()) return 0;  // the file ended
        at += static_cast<off_t>(delivered);
    }
}

// raw x scale + offset, as two roundings: the product is stored before the sum is formed, so
// the compiler cannot contract them into a fused multiply-add.
double real_coordinate(std::int32_t raw, double scale, double offset) {
    const volatile double product = static_cast<double>(raw) * scale;
    return product + offset;
}

void apply_statistics(LAS12Header& h, const PointStatistics& s) {
    std::array<std::int32_t, 3> max = s.max;
    std::array<std::int32_t, 3> min = s.min;
    if (s.records == 0) {
        max = {kNoPointsMaxXY, kNoPointsMaxXY, kNoPointsMaxZ};
        min = {kNoPointsMinXY, kNoPointsMinXY, kNoPointsMinZ};
    }
    h.NumberOfPointReturns = static_cast<std::uint32_t>(s.records);
    for (std::size_t i = 0; i < 5; ++i)
        h.NumberOfPointsByReturn[i] = static_cast<std::uint32_t>(s.by_return_number[i + 1]);
    h.MaxX = real_coordinate(max[0], h.XScaleFactor, h.XOffset);
    h.MinX = real_coordinate(min[0], h.XScaleFactor, h.XOffset);
    h.MaxY = real_coordinate(max[1], h.YScaleFactor, h.YOffset);
    h.MinY = real_coordinate(min[1], h.YScaleFactor, h.YOffset);
    h.MaxZ = real_coordinate(max[2], h.ZScaleFactor, h.ZOffset);
    h.MinZ = real_coordinate(min[2], h.ZScaleFactor, h.ZOffset);
}

// Writes the new header at offset 0 and closes the file. When the write or the close fails,
// the original header is written back, so a failure leaves the file as it was whenever the
// file system allows it.
bool write_back(const char* filename, UniqueFd& fd, const HeaderBytes& updated,
                const HeaderBytes& original, std::FILE* out, FileSystem& fs) {
    auto report_restore = [&](bool restored, int cause) {
        if (!restored)
            std::fprintf(out, "\nThe header of %s may be damaged: restoring it failed: %s\n",
                         filename, std::strerror(cause));
    };

    if (!write_full(fs, fd.get(), updated, 0)) {
        const int cause = errno;
        std::fprintf(out, "\nCannot write the header of %s: %s\n", filename, std::strerror(cause));
        const bool restored = write_full(fs, fd.get(), original, 0);
        const int restore_cause = errno;
        report_restore(restored, restore_cause);
        return false;
    }
    if (fd.close_checked() != 0) {
        const int cause = errno;
        std::fprintf(out, "\nCannot close %s after writing its header: %s\n", filename,
                     std::strerror(cause));
        UniqueFd again(fs, fs.open(filename, O_RDWR | O_CLOEXEC | O_NONBLOCK, 0));
        bool restored = again.valid() && write_full(fs, again.get(), original, 0);
        int restore_cause = errno;
        if (restored && again.close_checked() != 0) {
            restored = false;
            restore_cause = errno;
        }
        report_restore(restored, restore_cause);
        return false;
    }
    return true;
}

}  // namespace

bool update_header(const char* filename, std::FILE* out, FileSystem& fs, std::size_t block_bytes) {
    const std::int16_t type_code = check_las(filename, out, fs);
    if (type_code < 0) return false;  // the classification has said why
    const RecordLayout layout = layout_of(type_code);
    if (layout.bytes == 0) {
        std::fprintf(out,
                     "\nCannot update the header of %s: point data formats 2 and 3 are not "
                     "handled in LAS 1.0 and 1.1 files\n",
                     filename);
        return false;
    }

    // O_NONBLOCK: should a FIFO have taken the file's place since the classification, opening it
    // must not wait for a peer; it is refused as not a regular file below.
    UniqueFd fd(fs, fs.open(filename, O_RDWR | O_CLOEXEC | O_NONBLOCK, 0));
    if (!fd.valid()) {
        std::fprintf(out, "\nCannot open binary file %s for header update\n\n", filename);
        return false;
    }
    struct stat st {};
    if (fs.fstat(fd.get(), &st) != 0) {
        std::fprintf(out, "\nCannot read %s: %s\n", filename, std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        std::fprintf(out, "\n%s is not a regular file\n", filename);
        return false;
    }

    HeaderBytes original;
    const ssize_t got = read_full(fs, fd.get(), original, 0);
    if (got < 0) {
        std::fprintf(out, "\nCannot read %s: %s\n", filename, std::strerror(errno));
        return false;
    }
    if (static_cast<std::size_t>(got) < kHeaderBytes) {
        std::fprintf(out, "\n%s is too short to hold a LAS header (%zd bytes)\n", filename, got);
        return false;
    }
    LAS12Header header = header_from_bytes(original);
    // Records that began inside the header would be rewritten with it.
    if (header.OffsetToData < kHeaderBytes) {
        std::fprintf(out, "\nOffsetToData of %s (%u) lies inside its 227-byte header\n", filename,
                     header.OffsetToData);
        return false;
    }

    const std::size_t records_per_block = std::max<std::size_t>(1, block_bytes / layout.bytes);
    std::vector<std::byte> buffer;
    try {
        buffer.resize(records_per_block * layout.bytes);
    } catch (const std::bad_alloc&) {
        std::fprintf(out, "\nCannot allocate memory for storing a record of information from %s\n",
                     filename);
        return false;
    }
    PointStatistics stats;
    if (const int cause = scan_records(fs, fd.get(), header.OffsetToData, layout, buffer, stats);
        cause != 0) {
        std::fprintf(out, "\nCannot read the point records of %s: %s\n", filename,
                     std::strerror(cause));
        return false;
    }
    if (stats.records > std::numeric_limits<std::uint32_t>::max()) {
        std::fprintf(out,
                     "\n%s holds %llu point records, more than its header can count "
                     "(4294967295)\n",
                     filename, static_cast<unsigned long long>(stats.records));
        return false;
    }

    apply_statistics(header, stats);
    if (!write_back(filename, fd, header_to_bytes(header), original, out, fs)) return false;
    std::fprintf(out, "\rHeader of file %s has been updated    ", filename);
    return true;
}

}  // namespace korvane

extern "C" void update_header(const char* filename) {
    if (!korvane::update_header(filename, stdout, korvane::system_files())) std::exit(-1);
}
