#include "read/input_reader.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <span>
#include <variant>

#include "full_io.hpp"
#include "las/geotiff_keys.hpp"
#include "las/point_formats.hpp"
#include "las/public_header.hpp"
#include "las/variable_length_records.hpp"
#include "las_header.hpp"
#include "laz/chunk_table_reader.hpp"
#include "read/content_digest.hpp"
#include "read/input_file.hpp"

namespace quillet {
namespace {

namespace header = korvane::header;
namespace laz = korvane::laz;
using korvane::read_field;

using ull = unsigned long long;

// Reads stretches of an open input that its size says are there, and digests them.
class FileReader {
  public:
    FileReader(int fd, const std::string& name, korvane::FileSystem& fs)
        : fd_(fd), name_(name), fs_(fs) {}

    const std::string& name() const { return name_; }

    // Reads `into.size()` bytes at `offset`; the problem when the read fails or the file ended.
    Problem read_at(std::span<std::byte> into, std::uint64_t offset) {
        const ssize_t got = korvane::read_full(fs_, fd_, into, static_cast<off_t>(offset));
        if (got == static_cast<ssize_t>(into.size())) return std::nullopt;
        return read_failure(name_, got);
    }

    // The digest of a stretch, read in pieces.
    Problem digest(Region region, std::uint64_t& value) {
        ContentDigest d;
        std::array<std::byte, 65536> piece;
        for (std::uint64_t done = 0; done < region.length;) {
            const auto n = static_cast<std::size_t>(
                std::min<std::uint64_t>(piece.size(), region.length - done));
            if (auto problem = read_at(std::span(piece).first(n), region.offset + done))
                return problem;
            d.add(std::span(piece).first(n));
            done += n;
        }
        value = d.value();
        return std::nullopt;
    }

  private:
    int fd_;
    const std::string& name_;
    korvane::FileSystem& fs_;
};

// Records whose payload the checks compare between inputs.
bool is_compared(const RecordInfo& r) {
    return korvane::is_extra_bytes_record(r.user_id, r.record_id) ||
           korvane::is_crs_record(r.user_id, r.record_id);
}

// One callable made of lambdas, one for each kind of value a visit meets.
template <typename... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <typename... F>
Overloaded(F...) -> Overloaded<F...>;

// The extended reader: each step judges one part of the file, in file order, and stops the
// reading at the first problem.
class ExtendedReader {
  public:
    ExtendedReader(int fd, const std::string& name, korvane::FileSystem& fs)
        : file_(fd, name, fs), fs_(fs), fd_(fd) {}

    ReadResult read() {
        const bool ok = judge_file() && judge_header() && judge_format() && judge_counts() &&
                        walk_vlrs() && read_extra_bytes() && judge_laszip() && judge_points() &&
                        walk_evlrs();
        (void)ok;
        return std::move(r_);
    }

  private:
    bool judge_file();
    bool judge_header();
    bool judge_format();
    bool judge_counts();
    bool walk_vlrs();
    bool read_extra_bytes();
    bool judge_laszip();
    bool judge_points();
    bool judge_chunk_table();
    Failure chunk_table_failure(const laz::ChunkTableFault& fault);
    bool walk_evlrs();

    // A header, record or table that the file contradicts: the input is damaged.
    bool fail(Message m) { return fail(Problem(bad_input(std::move(m)))); }
    bool fail(Problem p) {
        if (!p) return true;
        r_.problem = std::move(p);
        return false;
    }
    bool read_at(std::span<std::byte> into, std::uint64_t offset) {
        return fail(file_.read_at(into, offset));
    }
    bool digest(RecordInfo& r) { return fail(file_.digest(r.payload, r.digest)); }
    // Keeps the payload of a GeoTIFF key directory or WKT record that is not too long to keep.
    bool keep_crs(RecordInfo& r) {
        if (r.user_id != korvane::kProjectionUserId || r.payload.length > kKeptRecordBytes ||
            (r.record_id != korvane::kGeoKeyDirectoryId && r.record_id != korvane::kWktRecordId))
            return true;
        r.kept.resize(static_cast<std::size_t>(r.payload.length));
        return read_at(r.kept, r.payload.offset);
    }
    // "... is too short" for a part of the file that ends at `end`.
    bool too_short(const char* part, std::uint64_t end) {
        return fail(too_short_message(part, end));
    }
    Message too_short_message(const char* part, std::uint64_t end) {
        return say("\n%s is too short: %s end at byte %llu, the file has %llu bytes\n", name(),
                   part, ull{end}, ull{d().file_size});
    }
    const char* name() const { return file_.name().c_str(); }
    InputDescription& d() { return r_.description; }

    FileReader file_;
    korvane::FileSystem& fs_;
    int fd_;
    ReadResult r_;
    std::uint32_t vlr_count_ = 0;
    std::uint64_t evlr_start_ = 0;
    std::uint32_t evlr_count_ = 0;
};

bool ExtendedReader::judge_file() {
    d().reader = ReaderKind::Extended;
    struct stat st {};
    if (fs_.fstat(fd_, &st) != 0)
        return fail(Problem(io_error(say("\nCannot read %s: %s\n", name(), std::strerror(errno)))));
    if (!S_ISREG(st.st_mode)) return fail(say("\n%s is not a regular file\n", name()));
    d().file_size = static_cast<std::uint64_t>(st.st_size);
    if (d().file_size < korvane::kHeaderBytes)
        return fail(say("\n%s is too short to hold a LAS header (%llu bytes)\n", name(),
                        ull{d().file_size}));
    korvane::HeaderBytes base;
    if (!read_at(base, 0)) return false;
    d().base = korvane::header_from_bytes(base);
    return true;
}

bool ExtendedReader::judge_header() {
    const LAS12Header& h = d().base;
    if (std::memcmp(h.LASF, "LASF", 4) != 0)
        return fail(say("\n%s is not a LAS or LAZ file: it does not begin with LASF\n", name()));
    if (h.VersionMajor != 1 || h.VersionMinor > 4)
        return fail(say("\n%s is LAS %u.%u; Quillet --extended merges LAS 1.0 to 1.4\n", name(),
                        unsigned{h.VersionMajor}, unsigned{h.VersionMinor}));
    d().minor = h.VersionMinor;
    const std::uint16_t standard = korvane::standard_header_size(d().minor);
    if (h.HeaderSize < standard)
        return fail(say("\nHeaderSize of %s (%u) is smaller than a LAS 1.%u header (%u bytes)\n",
                        name(), unsigned{h.HeaderSize}, unsigned{d().minor}, unsigned{standard}));
    if (h.OffsetToData < h.HeaderSize)
        return fail(say("\nOffsetToData of %s (%u) lies inside its %u-byte header\n", name(),
                        h.OffsetToData, unsigned{h.HeaderSize}));
    if (h.OffsetToData > d().file_size)
        return too_short("its header and variable length records", h.OffsetToData);
    d().header.resize(h.HeaderSize);
    return read_at(d().header, 0);
}

bool ExtendedReader::judge_format() {
    const std::uint8_t stored = d().base.PointDataFormatID;
    d().compressed = (stored & korvane::kCompressedBits) != 0;
    d().format = stored & korvane::kFormatBits;
    d().record_length = d().base.PointDataRecordLength;
    r_.format_read = true;
    if (!korvane::format_defined_for(d().format, d().minor))
        return fail(say("\nPoint format %u of %s is not a point format of LAS 1.%u\n",
                        unsigned{d().format}, name(), unsigned{d().minor}));
    const std::uint16_t base = korvane::base_record_length(d().format);
    if (d().record_length < base)
        return fail(say("\nRecord length of %s (%u) is shorter than point format %u needs (%u)\n",
                        name(), unsigned{d().record_length}, unsigned{d().format}, unsigned{base}));
    return true;
}

bool ExtendedReader::judge_counts() {
    const std::span<const std::byte> h = d().header;
    const std::uint32_t legacy = d().base.NumberOfPointReturns;
    if (d().minor < 4) {
        d().point_count = legacy;
        for (std::size_t r = 0; r < korvane::kLegacyReturns; ++r)
            d().points_by_return[r] = d().base.NumberOfPointsByReturn[r];
    } else {
        d().point_count = read_field(h, header::kPointCount);
        for (std::size_t r = 0; r < korvane::kExtendedReturns; ++r)
            d().points_by_return[r] = read_field(h, header::kPointsByReturn, r);
        if (legacy != 0 && legacy != d().point_count)
            return fail(
                say("\n%s states %u points in its legacy count and %llu in its 64-bit count\n",
                    name(), legacy, ull{d().point_count}));
        evlr_start_ = read_field(h, header::kEvlrStart);
        evlr_count_ = read_field(h, header::kEvlrCount);
    }
    vlr_count_ = d().base.NumberOfVariableLengthRecords;
    return true;
}

bool ExtendedReader::walk_vlrs() {
    // Records that do not fit before the point data are not records: some writers state more
    // than they wrote. What lies there is kept as bytes, the way readers skip it.
    std::uint64_t at_byte = d().base.HeaderSize;
    const std::uint64_t limit = d().base.OffsetToData;
    for (std::uint32_t i = 0; i < vlr_count_; ++i) {
        std::array<std::byte, korvane::kVlrHeaderBytes> head;
        if (at_byte + head.size() > limit) break;
        if (!read_at(head, at_byte)) return false;
        const korvane::RecordHeader h = korvane::parse_vlr_header(head);
        RecordInfo r{h.user_id,
                     h.record_id,
                     {at_byte, head.size() + h.payload_length},
                     {at_byte + head.size(), h.payload_length}};
        if (r.whole.end() > limit) break;
        if (is_compared(r) && !(digest(r) && keep_crs(r))) return false;
        at_byte = r.whole.end();
        d().vlrs.push_back(std::move(r));
    }
    const std::uint64_t header_end = d().base.HeaderSize;
    d().records_digested = true;
    return fail(file_.digest({header_end, limit - header_end}, d().vlr_bytes_digest));
}

// The fields of the Extra Bytes record, when it has one that parses and fits the records. One
// that does not leaves the extra bytes undescribed: they then move only as a whole, as bytes.
bool ExtendedReader::read_extra_bytes() {
    const auto it = std::find_if(d().vlrs.begin(), d().vlrs.end(), [](const RecordInfo& r) {
        return korvane::is_extra_bytes_record(r.user_id, r.record_id);
    });
    if (it == d().vlrs.end()) return true;
    std::vector<std::byte> payload(it->payload.length);
    if (!read_at(payload, it->payload.offset)) return false;
    const korvane::ExtraBytesParsing parsed = korvane::parse_extra_bytes(payload);
    const auto* fields = std::get_if<std::vector<korvane::ExtraBytesField>>(&parsed);
    if (fields != nullptr && korvane::extra_bytes_size(*fields) <= d().extra_bytes())
        d().extra_fields = *fields;
    else
        d().extra_record_unreadable = true;
    return true;
}

bool ExtendedReader::judge_laszip() {
    if (!d().compressed) return true;
    const auto it = std::find_if(d().vlrs.begin(), d().vlrs.end(), [](const RecordInfo& r) {
        return r.user_id == laz::kLaszipUserId && r.record_id == laz::kLaszipRecordId;
    });
    if (it == d().vlrs.end())
        return fail(say("\n%s is compressed (point format byte %u) but holds no LASzip record\n",
                        name(), unsigned{d().base.PointDataFormatID}));
    LaszipInfo z;
    z.vlr = static_cast<std::size_t>(it - d().vlrs.begin());
    z.payload.resize(it->payload.length);
    if (!read_at(z.payload, it->payload.offset)) return false;
    const std::optional<laz::LaszipRecord> record = laz::parse_laszip_record(z.payload);
    auto damaged = [&] { return fail(say("\nThe LASzip record of %s is damaged\n", name())); };
    if (!record) return damaged();
    z.record = *record;
    d().laszip = std::move(z);
    // The items make up the uncompressed record; a chunk size of 0 holds no points.
    if (record->record_length() != d().record_length || record->chunk_size == 0) return damaged();
    return true;
}

bool ExtendedReader::judge_points() {
    const std::uint64_t start = d().base.OffsetToData;
    if (d().compressed) return judge_chunk_table();
    // The count and length are checked against the size before they are multiplied.
    const std::uint64_t room = d().file_size - start;
    if (d().point_count > room / d().record_length) {
        const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
        const bool fits = d().point_count <= (most - start) / d().record_length;
        return too_short("its point records",
                         fits ? start + d().point_count * d().record_length : most);
    }
    d().points = {start, d().point_count * d().record_length};
    return true;
}

bool ExtendedReader::judge_chunk_table() {
    const std::uint64_t start = d().base.OffsetToData;
    const laz::LaszipRecord& z = d().laszip->record;
    if (!z.in_known_chunks()) {
        // Not in chunks, or coded in a way this reader does not know: the points run to the
        // EVLRs or the end of the file, and have no table.
        const std::uint64_t end =
            evlr_count_ != 0 && evlr_start_ >= start && evlr_start_ <= d().file_size
                ? evlr_start_
                : d().file_size;
        d().points = {start, end - start};
        return true;
    }
    const laz::ReadAt read = [this](std::span<std::byte> into, std::uint64_t offset) {
        const ssize_t got = korvane::read_full(fs_, fd_, into, static_cast<off_t>(offset));
        if (got < 0) return laz::ReadOutcome{0, true, errno};
        return laz::ReadOutcome{static_cast<std::size_t>(got)};
    };
    laz::ChunkTableReading reading =
        laz::read_chunk_table(read, {start, d().file_size, d().point_count}, z);
    if (auto* fault = std::get_if<laz::ChunkTableFault>(&reading))
        return fail(chunk_table_failure(*fault));
    laz::FoundChunkTable& found = std::get<laz::FoundChunkTable>(reading);
    d().points = {found.chunks.offset, found.chunks.length};
    d().chunks = std::move(found.entries);
    d().chunk_table = {found.table.offset, found.table.length};
    return true;
}

// The words for each fault of a chunk table.
Failure ExtendedReader::chunk_table_failure(const laz::ChunkTableFault& fault) {
    namespace f = laz::chunk_table_fault;
    const std::uint64_t points = d().point_count;
    return std::visit(
        Overloaded{
            [&](const f::TooShort& x) {
                return bad_input(too_short_message("its chunk table offset", x.end));
            },
            [&](const f::NoTable&) {
                return bad_input(
                    say("\n%s has no chunk table: its writer was interrupted\n", name()));
            },
            [&](const f::OffsetOutside& x) {
                return bad_input(
                    say("\nThe chunk table offset of %s (%lld) lies outside its point data\n",
                        name(), static_cast<long long>(x.offset)));
            },
            [&](const f::UnknownVersion& x) {
                return bad_input(
                    say("\nThe chunk table of %s has version %u; only version 0 is known\n", name(),
                        x.version));
            },
            [&](const f::TooManyChunks& x) {
                return bad_input(
                    say("\nThe chunk table of %s claims %u chunks, more than its %llu bytes of "
                        "chunks can hold\n",
                        name(), x.count, ull{x.bytes}));
            },
            [&](const f::Truncated&) {
                return bad_input(say("\nThe chunk table of %s is truncated\n", name()));
            },
            [&](const f::WrongFixedCount& x) {
                return bad_input(
                    say("\nThe chunk table of %s lists %u chunks; %llu points in chunks of %llu "
                        "need %llu\n",
                        name(), x.count, ull{x.points}, ull{x.chunk_size}, ull{x.needed}));
            },
            [&](const f::PointsDiffer& x) {
                return bad_input(
                    say("\nThe chunks of %s hold %llu points; its header states %llu\n", name(),
                        ull{x.points}, ull{points}));
            },
            [&](const f::BytesDiffer& x) {
                return bad_input(
                    say("\nThe chunks of %s fill %llu bytes; its chunk table starts %llu bytes "
                        "after its first chunk\n",
                        name(), ull{x.bytes}, ull{x.region}));
            },
            [&](const f::ReadFailed& x) {
                // The merge's words for a failed read take the read's errno from errno.
                errno = x.outcome.error;
                return read_failure(file_.name(),
                                    x.outcome.failed ? -1 : static_cast<ssize_t>(x.outcome.bytes));
            },
        },
        fault);
}

bool ExtendedReader::walk_evlrs() {
    if (evlr_count_ == 0) return true;
    const std::uint64_t data_end =
        d().chunk_table.length != 0 ? d().chunk_table.end() : d().points.end();
    if (evlr_start_ < data_end)
        return fail(
            say("\nThe extended variable length records of %s start at byte %llu, inside its "
                "point data (which ends at byte %llu)\n",
                name(), ull{evlr_start_}, ull{data_end}));
    std::uint64_t at_byte = evlr_start_;
    const std::uint64_t size = d().file_size;
    for (std::uint32_t i = 0; i < evlr_count_; ++i) {
        std::array<std::byte, korvane::kEvlrHeaderBytes> head;
        if (head.size() > size - std::min(at_byte, size))
            return too_short("its extended variable length records", at_byte + head.size());
        if (!read_at(head, at_byte)) return false;
        const korvane::RecordHeader h = korvane::parse_evlr_header(head);
        const std::uint64_t payload_at = at_byte + head.size();
        if (h.payload_length > size - payload_at)
            return fail(
                say("\n%s is too short: its extended variable length record %u holds %llu "
                    "bytes from byte %llu, the file has %llu bytes\n",
                    name(), i + 1, ull{h.payload_length}, ull{payload_at}, ull{size}));
        RecordInfo r{h.user_id,
                     h.record_id,
                     {at_byte, head.size() + h.payload_length},
                     {payload_at, h.payload_length}};
        if (is_compared(r) && !(digest(r) && keep_crs(r))) return false;
        at_byte = r.whole.end();
        d().evlrs.push_back(std::move(r));
    }
    return true;
}

}  // namespace

ReadResult read_classic(int fd, const std::string& name, korvane::FileSystem& fs,
                        bool digest_records) {
    ReadResult r;
    InputDescription& d = r.description;
    d.name = name;
    d.reader = ReaderKind::Classic;
    Result<LAS12Header> h = read_checked_header(fd, name, fs);
    if (!h) {
        r.problem = h.problem();
        return r;
    }
    d.base = *h;
    const korvane::HeaderBytes bytes = korvane::header_to_bytes(*h);
    d.header.assign(bytes.begin(), bytes.end());
    d.minor = h->VersionMinor;
    d.format = h->PointDataFormatID;
    r.format_read = true;
    d.record_length = h->PointDataRecordLength;
    d.point_count = h->NumberOfPointReturns;
    for (std::size_t i = 0; i < korvane::kLegacyReturns; ++i)
        d.points_by_return[i] = h->NumberOfPointsByReturn[i];
    d.points = {h->OffsetToData, d.point_count * d.record_length};
    if (!digest_records) return r;
    FileReader file(fd, name, fs);
    const Region between{korvane::kHeaderBytes, h->OffsetToData - korvane::kHeaderBytes};
    r.problem = file.digest(between, d.vlr_bytes_digest);
    d.records_digested = true;
    return r;
}

ReadResult read_extended(int fd, const std::string& name, korvane::FileSystem& fs) {
    ReadResult r = ExtendedReader(fd, name, fs).read();
    r.description.name = name;
    return r;
}

ReadResult read_again(const InputDescription& checked, int fd, const std::string& name,
                      korvane::FileSystem& fs) {
    return checked.reader == ReaderKind::Classic
               ? read_classic(fd, name, fs, checked.records_digested)
               : read_extended(fd, name, fs);
}

namespace {

// The header block without its point counts (the legacy ones and those of LAS 1.4).
std::vector<std::byte> without_counts(const InputDescription& d) {
    std::vector<std::byte> h = d.header;
    auto clear = [&](std::size_t from, std::size_t to) {
        if (from < h.size())
            std::fill(h.begin() + static_cast<long>(from),
                      h.begin() + static_cast<long>(std::min(to, h.size())), std::byte{0});
    };
    clear(header::kLegacyPointCount.offset, header::kLegacyPointsByReturn.end());
    clear(header::kPointCount.offset, header::kPointsByReturn.end());
    return h;
}

}  // namespace

Change change_between(const InputDescription& checked, const InputDescription& now) {
    const bool same_rest =
        without_counts(checked) == without_counts(now) && checked.vlrs == now.vlrs &&
        checked.vlr_bytes_digest == now.vlr_bytes_digest && checked.evlrs == now.evlrs &&
        checked.laszip == now.laszip && checked.chunks == now.chunks &&
        checked.chunk_table == now.chunk_table && checked.points.offset == now.points.offset;
    if (!same_rest) return Change::Other;
    const bool same_counts = checked.point_count == now.point_count &&
                             checked.points_by_return == now.points_by_return &&
                             checked.points == now.points;
    return same_counts ? Change::None : Change::PointCount;
}

}  // namespace quillet
