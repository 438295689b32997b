#include "input_description.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <span>

#include "full_io.hpp"
#include "input_file.hpp"
#include "las_extended_layout.hpp"
#include "las_header.hpp"

namespace quillet {
namespace {

using korvane::get_le;
namespace at = korvane::header_at;

using ull = unsigned long long;

// The reader of one input: the open file, its size, and the name its messages give.
class Reader {
  public:
    // `out` may be null: the verdict is then given without messages.
    Reader(int fd, const std::string& name, std::FILE* out, korvane::FileSystem& fs)
        : fd_(fd), name_(name.c_str()), out_(out), fs_(fs) {}

    std::optional<InputDescription> describe();

  private:
    bool judge_file();
    bool judge_header();
    bool judge_format();
    bool judge_counts();
    bool walk_vlrs();
    bool judge_laszip();
    bool judge_points();
    bool judge_chunk_table();
    bool walk_evlrs();

    // Reads `into.size()` bytes at `offset`, all of which the file's size says are there.
    bool read_at(std::span<std::byte> into, std::uint64_t offset);
    // "... is too short" for a part of the file that ends at `end`.
    bool too_short(const char* part, std::uint64_t end);
    template <typename... Args>
    bool fail(const char* format, Args... args);

    int fd_;
    const char* name_;
    std::FILE* out_;
    korvane::FileSystem& fs_;
    InputDescription d_;
    std::uint32_t vlr_count_ = 0;
    std::uint64_t evlr_start_ = 0;
    std::uint32_t evlr_count_ = 0;
};

template <typename... Args>
bool Reader::fail(const char* format, Args... args) {
    if (out_ != nullptr) std::fprintf(out_, format, args...);
    return false;
}

bool Reader::read_at(std::span<std::byte> into, std::uint64_t offset) {
    const ssize_t got = korvane::read_full(fs_, fd_, into, static_cast<off_t>(offset));
    if (got == static_cast<ssize_t>(into.size())) return true;
    // The file was shortened after its size was taken.
    return fail("\nCannot read %s: %s\n", name_,
                got < 0 ? std::strerror(errno) : "the file ended early");
}

bool Reader::too_short(const char* part, std::uint64_t end) {
    return fail("\n%s is too short: %s end at byte %llu, the file has %llu bytes\n", name_, part,
                ull{end}, ull{d_.file_size});
}

bool Reader::judge_file() {
    struct stat st {};
    if (fs_.fstat(fd_, &st) != 0)
        return fail("\nCannot read %s: %s\n", name_, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return fail("\n%s is not a regular file\n", name_);
    d_.file_size = static_cast<std::uint64_t>(st.st_size);
    if (d_.file_size < korvane::kHeaderBytes)
        return fail("\n%s is too short to hold a LAS header (%llu bytes)\n", name_,
                    ull{d_.file_size});
    korvane::HeaderBytes base;
    if (!read_at(base, 0)) return false;
    d_.base = korvane::header_from_bytes(base);
    return true;
}

bool Reader::judge_header() {
    const LAS12Header& h = d_.base;
    if (std::memcmp(h.LASF, "LASF", 4) != 0)
        return fail("\n%s is not a LAS or LAZ file: it does not begin with LASF\n", name_);
    if (h.VersionMajor != 1 || h.VersionMinor > 4)
        return fail("\n%s is LAS %u.%u; Quillet --extended merges LAS 1.0 to 1.4\n", name_,
                    unsigned{h.VersionMajor}, unsigned{h.VersionMinor});
    d_.minor = h.VersionMinor;
    const std::uint16_t standard = korvane::standard_header_size(d_.minor);
    if (h.HeaderSize < standard)
        return fail("\nHeaderSize of %s (%u) is smaller than a LAS 1.%u header (%u bytes)\n", name_,
                    unsigned{h.HeaderSize}, unsigned{d_.minor}, unsigned{standard});
    if (h.OffsetToData < h.HeaderSize)
        return fail("\nOffsetToData of %s (%u) lies inside its %u-byte header\n", name_,
                    h.OffsetToData, unsigned{h.HeaderSize});
    if (h.OffsetToData > d_.file_size)
        return too_short("its header and variable length records", h.OffsetToData);
    d_.header.resize(h.HeaderSize);
    return read_at(d_.header, 0);
}

bool Reader::judge_format() {
    const std::uint8_t stored = d_.base.PointDataFormatID;
    d_.compressed = (stored & korvane::kCompressedBits) != 0;
    d_.format = stored & korvane::kFormatBits;
    d_.record_length = d_.base.PointDataRecordLength;
    if (korvane::has_waveform_packets(d_.format))
        return fail(
            "\n%s holds point format %u, whose waveform packets point into its own waveform "
            "data: it cannot be merged\n",
            name_, unsigned{d_.format});
    const bool defined = d_.format <= 3 || (d_.minor == 4 && d_.format <= 8);
    if (!defined)
        return fail("\nPoint format %u of %s is not a point format of LAS 1.%u\n",
                    unsigned{d_.format}, name_, unsigned{d_.minor});
    const std::uint16_t base = korvane::base_record_length(d_.format);
    if (d_.record_length < base)
        return fail("\nRecord length of %s (%u) is shorter than point format %u needs (%u)\n",
                    name_, unsigned{d_.record_length}, unsigned{d_.format}, unsigned{base});
    return true;
}

bool Reader::judge_counts() {
    const std::span<const std::byte> h = d_.header;
    const std::uint32_t legacy = d_.base.NumberOfPointReturns;
    if (d_.minor < 4) {
        d_.point_count = legacy;
        for (std::size_t r = 0; r < korvane::kLegacyReturns; ++r)
            d_.points_by_return[r] = d_.base.NumberOfPointsByReturn[r];
    } else {
        d_.point_count = get_le<std::uint64_t>(h, at::kPointCount);
        for (std::size_t r = 0; r < korvane::kExtendedReturns; ++r)
            d_.points_by_return[r] = get_le<std::uint64_t>(h, at::kPointsByReturn + 8 * r);
        if (legacy != 0 && legacy != d_.point_count)
            return fail("\n%s states %u points in its legacy count and %llu in its 64-bit count\n",
                        name_, legacy, ull{d_.point_count});
        evlr_start_ = get_le<std::uint64_t>(h, at::kEvlrStart);
        evlr_count_ = get_le<std::uint32_t>(h, at::kEvlrCount);
    }
    vlr_count_ = d_.base.NumberOfVariableLengthRecords;
    return true;
}

bool Reader::walk_vlrs() {
    // Records that do not fit before the point data are not records: some writers state more
    // than they wrote. What lies there is kept as bytes, the way readers skip it.
    std::uint64_t at_byte = d_.base.HeaderSize;
    const std::uint64_t limit = d_.base.OffsetToData;
    for (std::uint32_t i = 0; i < vlr_count_; ++i) {
        std::array<std::byte, korvane::kVlrHeaderBytes> head;
        if (at_byte + head.size() > limit) break;
        if (!read_at(head, at_byte)) return false;
        RecordInfo r;
        r.user_id = std::string(korvane::record_user_id(head));
        r.record_id = get_le<std::uint16_t>(head, korvane::vlr_at::kRecordId);
        const std::uint16_t length = get_le<std::uint16_t>(head, korvane::vlr_at::kLength);
        r.payload = {at_byte + head.size(), length};
        r.whole = {at_byte, head.size() + length};
        if (r.whole.end() > limit) break;
        at_byte = r.whole.end();
        d_.vlrs.push_back(std::move(r));
    }
    return true;
}

bool Reader::judge_laszip() {
    if (!d_.compressed) return true;
    const auto it = std::find_if(d_.vlrs.begin(), d_.vlrs.end(), [](const RecordInfo& r) {
        return r.user_id == korvane::kLaszipUserId && r.record_id == korvane::kLaszipRecordId;
    });
    if (it == d_.vlrs.end())
        return fail("\n%s is compressed (point format byte %u) but holds no LASzip record\n", name_,
                    unsigned{d_.base.PointDataFormatID});
    LaszipInfo z;
    z.vlr = static_cast<std::size_t>(it - d_.vlrs.begin());
    z.payload.resize(it->payload.length);
    if (!read_at(z.payload, it->payload.offset)) return false;
    namespace lz = korvane::laszip_at;
    const std::span<const std::byte> p = z.payload;
    auto damaged = [&] { return fail("\nThe LASzip record of %s is damaged\n", name_); };
    if (p.size() < lz::kItems) return damaged();
    const std::uint16_t items = get_le<std::uint16_t>(p, lz::kItemCount);
    if (p.size() < lz::kItems + std::size_t{items} * lz::kItemBytes) return damaged();
    unsigned item_bytes = 0;
    for (std::size_t i = 0; i < items; ++i)
        item_bytes += get_le<std::uint16_t>(p, lz::kItems + i * lz::kItemBytes + 2);
    z.compressor = get_le<std::uint16_t>(p, lz::kCompressor);
    z.coder = get_le<std::uint16_t>(p, lz::kCoder);
    z.options = get_le<std::uint32_t>(p, lz::kOptions);
    z.chunk_size = get_le<std::uint32_t>(p, lz::kChunkSize);
    if (z.compressor == korvane::kPointwiseCompressor)
        return fail(
            "\n%s is LAZ compressed point by point, not in chunks: it cannot be merged without "
            "decompressing it\n",
            name_);
    if ((z.compressor != korvane::kPointwiseChunkedCompressor &&
         z.compressor != korvane::kLayeredChunkedCompressor) ||
        z.coder != 0)
        return fail("\n%s uses LASzip compressor %u with coder %u, which Quillet cannot merge\n",
                    name_, unsigned{z.compressor}, unsigned{z.coder});
    // The items make up the uncompressed record; a chunk size of 0 holds no points.
    if (item_bytes != d_.record_length || z.chunk_size == 0) return damaged();
    d_.laszip = std::move(z);
    return true;
}

bool Reader::judge_points() {
    const std::uint64_t start = d_.base.OffsetToData;
    if (d_.compressed) return judge_chunk_table();
    // The count and length are checked against the size before they are multiplied.
    const std::uint64_t room = d_.file_size - start;
    if (d_.point_count > room / d_.record_length) {
        const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
        const bool fits = d_.point_count <= (most - start) / d_.record_length;
        return too_short("its point records",
                         fits ? start + d_.point_count * d_.record_length : most);
    }
    d_.points = {start, d_.point_count * d_.record_length};
    return true;
}

bool Reader::judge_chunk_table() {
    const std::uint64_t start = d_.base.OffsetToData;
    constexpr std::uint64_t kOffsetBytes = 8;
    if (start + kOffsetBytes > d_.file_size)
        return too_short("its chunk table offset", start + kOffsetBytes);
    std::array<std::byte, kOffsetBytes> field;
    if (!read_at(field, start)) return false;
    std::int64_t table = get_le<std::int64_t>(field, 0);
    // A writer that could not seek back stored the offset in the file's last 8 bytes.
    if (table == -1) {
        if (d_.file_size < start + 2 * kOffsetBytes)
            return too_short("its chunk table offset", start + 2 * kOffsetBytes);
        if (!read_at(field, d_.file_size - kOffsetBytes)) return false;
        table = get_le<std::int64_t>(field, 0);
    }
    if (table == static_cast<std::int64_t>(start))
        return fail("\n%s has no chunk table: its writer was interrupted\n", name_);
    const auto table_at = static_cast<std::uint64_t>(table);
    if (table < 0 || table_at < start + kOffsetBytes ||
        table_at > d_.file_size - korvane::kChunkTableHeaderBytes)
        return fail("\nThe chunk table offset of %s (%lld) lies outside its point data\n", name_,
                    static_cast<long long>(table));
    d_.points = {start + kOffsetBytes, table_at - (start + kOffsetBytes)};

    std::array<std::byte, korvane::kChunkTableHeaderBytes> head;
    if (!read_at(head, table_at)) return false;
    const std::uint32_t version = get_le<std::uint32_t>(head, 0);
    const std::uint32_t count = get_le<std::uint32_t>(head, 4);
    if (version != 0)
        return fail("\nThe chunk table of %s has version %u; only version 0 is known\n", name_,
                    version);
    // Every chunk takes at least one byte, so the region bounds the count before any memory is
    // reserved for the entries.
    if (count > d_.points.length)
        return fail(
            "\nThe chunk table of %s claims %u chunks, more than its %llu bytes of chunks "
            "can hold\n",
            name_, count, ull{d_.points.length});
    const bool variable = d_.laszip->variable_chunks();
    const std::uint64_t coded_at = table_at + head.size();
    const std::uint64_t coded_length = std::min<std::uint64_t>(
        d_.file_size - coded_at, korvane::max_coded_chunk_table_bytes(count, variable));
    std::vector<std::byte> coded(static_cast<std::size_t>(coded_length));
    if (!read_at(coded, coded_at)) return false;
    std::optional<korvane::DecodedChunkTable> decoded =
        korvane::decode_chunk_table(coded, count, variable);
    if (!decoded) return fail("\nThe chunk table of %s is truncated\n", name_);
    d_.chunks = std::move(decoded->chunks);
    d_.chunk_table = {table_at, head.size() + decoded->consumed};

    if (!variable) {
        // Every chunk holds the chunk size, the last one the rest.
        const std::uint64_t size = d_.laszip->chunk_size;
        const std::uint64_t needed = d_.point_count / size + (d_.point_count % size != 0);
        if (count != needed)
            return fail(
                "\nThe chunk table of %s lists %u chunks; %llu points in chunks of %llu need "
                "%llu\n",
                name_, count, ull{d_.point_count}, ull{size}, ull{needed});
        for (std::size_t i = 0; i < d_.chunks.size(); ++i)
            d_.chunks[i].points = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(size, d_.point_count - i * size));
    }
    std::uint64_t points = 0, bytes = 0;
    for (const korvane::LazChunk& c : d_.chunks) {
        points += c.points;
        bytes += c.bytes;
    }
    if (points != d_.point_count)
        return fail("\nThe chunks of %s hold %llu points; its header states %llu\n", name_,
                    ull{points}, ull{d_.point_count});
    if (bytes != d_.points.length)
        return fail(
            "\nThe chunks of %s fill %llu bytes; its chunk table starts %llu bytes after its "
            "first chunk\n",
            name_, ull{bytes}, ull{d_.points.length});
    return true;
}

bool Reader::walk_evlrs() {
    if (evlr_count_ == 0) return true;
    const std::uint64_t data_end = d_.compressed ? d_.chunk_table.end() : d_.points.end();
    if (evlr_start_ < data_end)
        return fail(
            "\nThe extended variable length records of %s start at byte %llu, inside its point "
            "data (which ends at byte %llu)\n",
            name_, ull{evlr_start_}, ull{data_end});
    std::uint64_t at_byte = evlr_start_;
    for (std::uint32_t i = 0; i < evlr_count_; ++i) {
        std::array<std::byte, korvane::kEvlrHeaderBytes> head;
        if (head.size() > d_.file_size - std::min(at_byte, d_.file_size))
            return too_short("its extended variable length records", at_byte + head.size());
        if (!read_at(head, at_byte)) return false;
        RecordInfo r;
        r.user_id = std::string(korvane::record_user_id(head));
        r.record_id = get_le<std::uint16_t>(head, korvane::vlr_at::kRecordId);
        const std::uint64_t length = get_le<std::uint64_t>(head, korvane::vlr_at::kLength);
        const std::uint64_t payload_at = at_byte + head.size();
        if (length > d_.file_size - payload_at)
            return fail(
                "\n%s is too short: its extended variable length record %u holds %llu bytes "
                "from byte %llu, the file has %llu bytes\n",
                name_, i + 1, ull{length}, ull{payload_at}, ull{d_.file_size});
        r.payload = {payload_at, length};
        r.whole = {at_byte, head.size() + length};
        at_byte = r.whole.end();
        d_.evlrs.push_back(std::move(r));
    }
    return true;
}

std::optional<InputDescription> Reader::describe() {
    const bool ok = judge_file() && judge_header() && judge_format() && judge_counts() &&
                    walk_vlrs() && judge_laszip() && judge_points() && walk_evlrs();
    if (!ok) return std::nullopt;
    return std::move(d_);
}

}  // namespace

bool LaszipInfo::variable_chunks() const {
    return chunk_size == korvane::kVariableChunkSize;
}

std::optional<InputDescription> describe_classic(int fd, const std::string& name, std::FILE* out,
                                                 korvane::FileSystem& fs) {
    const std::optional<LAS12Header> h = read_checked_header(fd, name, out, fs);
    if (!h) return std::nullopt;
    InputDescription d;
    d.base = *h;
    d.minor = h->VersionMinor;
    d.format = h->PointDataFormatID;
    d.record_length = h->PointDataRecordLength;
    d.point_count = h->NumberOfPointReturns;
    for (std::size_t r = 0; r < korvane::kLegacyReturns; ++r)
        d.points_by_return[r] = h->NumberOfPointsByReturn[r];
    d.points = {h->OffsetToData, d.point_count * d.record_length};
    return d;
}

std::optional<InputDescription> describe_extended(int fd, const std::string& name, std::FILE* out,
                                                  korvane::FileSystem& fs) {
    return Reader(fd, name, out, fs).describe();
}

bool same_layout(const InputDescription& checked, const InputDescription& now) {
    return checked.record_length == now.record_length && checked.compressed == now.compressed &&
           checked.chunks == now.chunks && checked.vlrs == now.vlrs && checked.evlrs == now.evlrs;
}

}  // namespace quillet
