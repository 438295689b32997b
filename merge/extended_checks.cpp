#include "extended_checks.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "file_checks.hpp"
#include "full_io.hpp"
#include "input_checks.hpp"
#include "input_file.hpp"
#include "las_extended_layout.hpp"
#include "list_file.hpp"
#include "unique_fd.hpp"

namespace quillet {
namespace {

using ull = unsigned long long;
namespace lz = korvane::laszip_at;

// An open input with its description: what the comparisons read.
struct Opened {
    const std::string& name;
    int fd;
    const InputDescription& d;
};

// The shortest text that reads back as the same double, so that 0.01 shows as 0.01 and two
// values that differ in their last bit show differently.
std::string text_of(double v) {
    char buf[40];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, v);
        if (std::strtod(buf, nullptr) == v) break;
    }
    return buf;
}

std::string text_of(unsigned long long v) {
    return std::to_string(v);
}

std::string version_of(const InputDescription& d) {
    return "1." + std::to_string(d.minor);
}

std::string gps_time_of(const InputDescription& d) {
    return (d.base.GlobalEncoding & korvane::kGpsTimeIsStandard) != 0 ? "adjusted standard time"
                                                                      : "GPS week time";
}

// The LASzip items as "type/size/version" triples.
std::string items_of(const LaszipInfo& z) {
    const std::span<const std::byte> p = z.payload;
    const std::uint16_t n = korvane::get_le<std::uint16_t>(p, lz::kItemCount);
    std::string text = std::to_string(n);
    text += n == 1 ? " item:" : " items:";
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = lz::kItems + i * lz::kItemBytes;
        for (std::size_t field = 0; field < 3; ++field) {
            text += field == 0 ? ' ' : '/';
            text += std::to_string(korvane::get_le<std::uint16_t>(p, at + 2 * field));
        }
    }
    return text;
}

bool items_equal(const LaszipInfo& a, const LaszipInfo& b) {
    const std::size_t n = korvane::get_le<std::uint16_t>(a.payload, lz::kItemCount);
    const std::size_t end = lz::kItems + n * lz::kItemBytes;
    return korvane::get_le<std::uint16_t>(b.payload, lz::kItemCount) == n &&
           std::equal(a.payload.begin() + lz::kItemCount, a.payload.begin() + end,
                      b.payload.begin() + lz::kItemCount);
}

// Whether two stretches of two files hold the same bytes; nothing, after a message, when one
// cannot be read.
std::optional<bool> same_bytes(const Opened& a, Region ra, const Opened& b, Region rb,
                               std::FILE* out, korvane::FileSystem& fs) {
    if (ra.length != rb.length) return false;
    auto read_part = [&](const Opened& file, Region region, std::uint64_t done,
                         std::span<std::byte> into) {
        const ssize_t got =
            korvane::read_full(fs, file.fd, into, static_cast<off_t>(region.offset + done));
        if (got == static_cast<ssize_t>(into.size())) return true;
        std::fprintf(out, "\nCannot read %s: %s\n", file.name.c_str(),
                     got < 0 ? std::strerror(errno) : "the file ended early");
        return false;
    };
    std::array<std::byte, 65536> x, y;
    for (std::uint64_t done = 0; done < ra.length;) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(x.size(), ra.length - done));
        if (!read_part(a, ra, done, std::span(x).first(n)) ||
            !read_part(b, rb, done, std::span(y).first(n)))
            return std::nullopt;
        if (std::memcmp(x.data(), y.data(), n) != 0) return false;
        done += n;
    }
    return true;
}

// The records of a file that match `wanted`, VLRs first, then EVLRs.
template <typename Wanted>
std::vector<const RecordInfo*> records_of(const InputDescription& d, Wanted wanted) {
    std::vector<const RecordInfo*> found;
    for (const auto* list : {&d.vlrs, &d.evlrs})
        for (const RecordInfo& r : *list)
            if (wanted(r)) found.push_back(&r);
    return found;
}

bool is_extra_bytes(const RecordInfo& r) {
    return r.user_id == korvane::kSpecUserId && r.record_id == korvane::kExtraBytesRecordId;
}

bool is_crs(const RecordInfo& r) {
    return r.user_id == korvane::kProjectionUserId && korvane::is_crs_record(r.record_id);
}

// Whether two files hold the same records of a kind, record for record: the same record ids
// and byte-identical payloads.
template <typename Wanted>
std::optional<bool> same_records(const Opened& a, const Opened& b, Wanted wanted, std::FILE* out,
                                 korvane::FileSystem& fs) {
    const std::vector<const RecordInfo*> ra = records_of(a.d, wanted);
    const std::vector<const RecordInfo*> rb = records_of(b.d, wanted);
    if (ra.size() != rb.size()) return false;
    for (std::size_t i = 0; i < ra.size(); ++i) {
        if (ra[i]->record_id != rb[i]->record_id) return false;
        const std::optional<bool> same = same_bytes(a, ra[i]->payload, b, rb[i]->payload, out, fs);
        if (!same || !*same) return same;
    }
    return true;
}

std::string extra_bytes_of(const InputDescription& d) {
    const std::vector<const RecordInfo*> found = records_of(d, is_extra_bytes);
    if (found.empty()) return "none";
    std::string text;
    for (const RecordInfo* r : found)
        text += (text.empty() ? "" : " and ") + std::to_string(r->payload.length) + " bytes";
    return text;
}

// Compares a file with the first file, field by field, and names the first field that differs
// with both values. Nothing after a read failure; otherwise whether they match.
std::optional<bool> matches_first(const Opened& first, const Opened& file, std::FILE* out,
                                  korvane::FileSystem& fs) {
    const InputDescription& a = first.d;
    const InputDescription& b = file.d;
    auto differs = [&](const char* field, const std::string& value, const std::string& expected) {
        std::fprintf(out, "\n%s of %s is %s; the first file, %s, has %s\n", field,
                     file.name.c_str(), value.c_str(), first.name.c_str(), expected.c_str());
        return false;
    };
    if (a.minor != b.minor) return differs("Version", version_of(b), version_of(a));
    if (a.compressed != b.compressed)
        return differs("Compression", b.compressed ? "LAZ" : "none", a.compressed ? "LAZ" : "none");
    if (a.format != b.format)
        return differs("Point format", text_of(ull{b.format}), text_of(ull{a.format}));
    if (a.record_length != b.record_length)
        return differs("Record length", text_of(ull{b.record_length}),
                       text_of(ull{a.record_length}));
    // Exact comparison of value: a NaN differs from everything, and -0.0 equals +0.0. The
    // fields are read from the header's bytes: the packed header holds them unaligned.
    namespace at = korvane::header_at;
    static constexpr std::pair<const char*, std::size_t> kFrame[] = {
        {"XScaleFactor", at::kScale},      {"YScaleFactor", at::kScale + 8},
        {"ZScaleFactor", at::kScale + 16}, {"XOffset", at::kOffset},
        {"YOffset", at::kOffset + 8},      {"ZOffset", at::kOffset + 16},
    };
    for (const auto& [field, offset] : kFrame) {
        const double va = korvane::get_le<double>(a.header, offset);
        const double vb = korvane::get_le<double>(b.header, offset);
        if (va != vb) return differs(field, text_of(vb), text_of(va));
    }
    if (gps_time_of(a) != gps_time_of(b))
        return differs("GPS time", gps_time_of(b), gps_time_of(a));
    if (a.laszip) {
        const LaszipInfo& za = *a.laszip;
        const LaszipInfo& zb = *b.laszip;
        if (za.compressor != zb.compressor)
            return differs("LASzip compressor", text_of(ull{zb.compressor}),
                           text_of(ull{za.compressor}));
        if (za.coder != zb.coder)
            return differs("LASzip coder", text_of(ull{zb.coder}), text_of(ull{za.coder}));
        if (za.options != zb.options)
            return differs("LASzip options", text_of(ull{zb.options}), text_of(ull{za.options}));
        if (!items_equal(za, zb)) return differs("LASzip items", items_of(zb), items_of(za));
    }
    const std::optional<bool> same_extra = same_records(first, file, is_extra_bytes, out, fs);
    if (!same_extra) return std::nullopt;
    if (!*same_extra) {
        const std::string vb = extra_bytes_of(b), va = extra_bytes_of(a);
        return differs("Extra Bytes record", vb == va ? vb + " of other content" : vb, va);
    }
    return true;
}

// Opens and describes one listed file; the missing-file messages are those of the classic
// checks.
std::optional<InputDescription> describe_listed(const std::string& name, korvane::UniqueFd& fd,
                                                std::FILE* out, korvane::FileSystem& fs) {
    if (korvane::file_access(name.c_str(), out, fs) < 0) {
        korvane::error_msg(1, name.c_str(), out);
        return std::nullopt;
    }
    fd = open_input(name, fs);
    if (!fd.valid()) {
        std::fprintf(out, "\nCannot read %s: %s\n", name.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    return describe_extended(fd.get(), name, out, fs);
}

}  // namespace

bool check_extended_inputs(MergeJob& job, std::FILE* out, korvane::FileSystem& fs) {
    std::optional<std::vector<std::string>> names = read_list(job.listName, out, fs);
    if (!names) return false;
    job.names = std::move(*names);
    job.inputs.clear();
    job.LASCount = 0;

    korvane::UniqueFd first_fd;
    for (const std::string& name : job.names) {
        korvane::UniqueFd fd;
        std::optional<InputDescription> d = describe_listed(name, fd, out, fs);
        if (!d) return false;
        if (!job.inputs.empty()) {
            const Opened first{job.names[0], first_fd.get(), job.inputs[0]};
            const Opened file{name, fd.get(), *d};
            const std::optional<bool> matches = matches_first(first, file, out, fs);
            if (!matches || !*matches) return false;
            const std::optional<bool> same_crs = same_records(first, file, is_crs, out, fs);
            if (!same_crs) return false;
            if (!*same_crs)
                std::fprintf(out,
                             "\nWARNING: The coordinate reference system records of %s differ "
                             "from those of the first file, %s; the merged file keeps the first "
                             "file's\n",
                             name.c_str(), job.names[0].c_str());
        } else {
            first_fd = std::move(fd);
        }
        job.inputs.push_back(std::move(*d));
        ++job.LASCount;
    }
    return enough_files(job, out);
}

bool check_extended_total(const MergeJob& job, std::FILE* out) {
    const InputDescription& first = job.inputs.front();
    const std::uint64_t limit = first.minor < 4 ? std::numeric_limits<std::uint32_t>::max()
                                                : std::numeric_limits<std::uint64_t>::max();
    std::uint64_t total = 0;
    for (const InputDescription& d : job.inputs) {
        if (d.point_count > limit - total) {
            std::fprintf(out,
                         "\nERROR: The inputs hold more points than a LAS 1.%u header can state "
                         "(%llu)\n",
                         unsigned{first.minor}, ull{limit});
            return false;
        }
        total += d.point_count;
    }
    // One chunk table lists the chunks of every input, and counts them in 32 bits.
    std::uint64_t chunks = 0;
    for (const InputDescription& d : job.inputs) chunks += d.chunks.size();
    if (chunks > std::numeric_limits<std::uint32_t>::max()) {
        std::fprintf(out,
                     "\nERROR: The inputs hold %llu chunks, more than one chunk table can list "
                     "(4294967295)\n",
                     ull{chunks});
        return false;
    }
    std::fprintf(out, "%llu points in all input .%s files\n", ull{total},
                 first.compressed ? "laz" : "las");
    return true;
}

void hint_extended(const std::string& name, std::FILE* hints, korvane::FileSystem& fs) {
    if (hints == nullptr) return;
    const korvane::UniqueFd fd = open_input(name, fs);
    if (!fd.valid()) return;
    const std::optional<InputDescription> d = describe_extended(fd.get(), name, nullptr, fs);
    if (!d) return;
    std::fprintf(hints, "%s is LAS %s%s with point format %u: Quillet --extended merges it\n",
                 name.c_str(), version_of(*d).c_str(), d->compressed ? " (LAZ)" : "",
                 unsigned{d->format});
}

}  // namespace quillet
