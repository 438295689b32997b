#include "las_synth.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>

namespace lassynth {
namespace {

std::uint16_t record_length(std::uint8_t format) {
    return format < 4 ? base_record_length(format) : 0;
}

template <typename T>
void put(std::span<std::byte> into, std::size_t at, T value) {
    std::memcpy(into.data() + at, &value, sizeof value);
}

void copy_text(char* field, std::size_t width, std::string_view text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

// Fields of the header block beyond the first 227 bytes, by their offset in the file.
constexpr std::size_t kWaveformStartAt = 227;
constexpr std::size_t kEvlrStartAt = 235;
constexpr std::size_t kEvlrCountAt = 243;
constexpr std::size_t kPointCountAt = 247;
constexpr std::size_t kPointsByReturnAt = 255;

// Formats 6 to 8: X, Y, Z, intensity, return byte (return number and number of returns, four
// bits each), flags, classification, user data, scan angle (i16), point source, GPS time, then
// RGB (7, 8) and NIR (8).
void put_extended_record(std::span<std::byte> into, std::uint8_t format, const Point& p,
                         std::uint32_t serial) {
    put<std::int32_t>(into, 0, p.x);
    put<std::int32_t>(into, 4, p.y);
    put<std::int32_t>(into, 8, p.z);
    put<std::uint16_t>(into, 12, static_cast<std::uint16_t>(serial * 7));
    put<std::uint8_t>(into, 14, static_cast<std::uint8_t>((p.return_number & 15) | (3 << 4)));
    put<std::uint8_t>(into, 15, static_cast<std::uint8_t>(serial % 4 << 4));
    put<std::uint8_t>(into, 16, static_cast<std::uint8_t>(2 + serial % 4));
    put<std::uint8_t>(into, 17, static_cast<std::uint8_t>(serial >> 8));
    put<std::int16_t>(into, 18, static_cast<std::int16_t>(serial % 181) - 90);
    put<std::uint16_t>(into, 20, static_cast<std::uint16_t>(serial >> 4));
    put<double>(into, 22, 2.5e8 + serial * 0.25);
    if (format >= 7) {
        put<std::uint16_t>(into, 30, static_cast<std::uint16_t>(serial * 3));
        put<std::uint16_t>(into, 32, static_cast<std::uint16_t>(serial * 5));
        put<std::uint16_t>(into, 34, static_cast<std::uint16_t>(serial * 11));
    }
    if (format == 8) put<std::uint16_t>(into, 36, static_cast<std::uint16_t>(serial * 13));
}

}  // namespace

std::uint16_t base_record_length(std::uint8_t format) {
    static constexpr std::uint16_t kLengths[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
    return format < std::size(kLengths) ? kLengths[format] : 0;
}

LAS12Header new_header(std::uint8_t minor, std::uint8_t format) {
    LAS12Header h;
    std::memset(&h, 0, sizeof h);
    std::memcpy(h.LASF, "LASF", 4);
    h.VersionMajor = 1;
    h.VersionMinor = minor;
    copy_text(h.SystemIdentifier, sizeof h.SystemIdentifier, "lassynth");
    copy_text(h.GeneratingSoftware, sizeof h.GeneratingSoftware, "Korvane synthetic tiles");
    h.FileCreationDay = 42;
    h.FileCreationYear = 2026;
    h.HeaderSize = sizeof(LAS12Header);
    h.OffsetToData = sizeof(LAS12Header);
    h.PointDataFormatID = format;
    h.PointDataRecordLength = record_length(format);
    h.XScaleFactor = h.YScaleFactor = h.ZScaleFactor = 0.01;
    return h;
}

std::vector<std::byte> vlr(std::string_view user_id, std::uint16_t record_id,
                           std::span<const std::byte> payload) {
    std::vector<std::byte> out(54 + payload.size());
    std::span<std::byte> s(out);
    put<std::uint16_t>(s, 0, 0xAABB);
    copy_text(reinterpret_cast<char*>(out.data() + 2), 16, user_id);
    put<std::uint16_t>(s, 18, record_id);
    put<std::uint16_t>(s, 20, static_cast<std::uint16_t>(payload.size()));
    copy_text(reinterpret_cast<char*>(out.data() + 22), 32, "synthetic record");
    std::copy(payload.begin(), payload.end(), out.begin() + 54);
    return out;
}

void put_record(std::span<std::byte> into, std::uint8_t format, const Point& p,
                std::uint32_t serial) {
    std::fill(into.begin(), into.end(), std::byte{0});
    // Extra bytes: a pattern that differs from record to record.
    for (std::size_t i = base_record_length(format); i < into.size(); ++i)
        into[i] = std::byte(serial * 31 + i);
    if (format >= 6) return put_extended_record(into, format, p, serial);
    put<std::int32_t>(into, 0, p.x);
    put<std::int32_t>(into, 4, p.y);
    put<std::int32_t>(into, 8, p.z);
    put<std::uint16_t>(into, 12, static_cast<std::uint16_t>(serial * 7));
    put<std::uint8_t>(into, 14, static_cast<std::uint8_t>((p.return_number & 7) | (1 << 3)));
    put<std::uint8_t>(into, 15, static_cast<std::uint8_t>(2 + serial % 4));
    put<std::uint8_t>(into, 16, static_cast<std::uint8_t>(serial % 31));
    put<std::uint8_t>(into, 17, static_cast<std::uint8_t>(serial >> 8));
    put<std::uint16_t>(into, 18, static_cast<std::uint16_t>(serial >> 4));
    std::size_t at = 20;
    if (format == 1 || format == 3) {
        put<double>(into, at, 1000.0 + serial * 0.25);
        at += 8;
    }
    if (format == 2 || format == 3) {
        put<std::uint16_t>(into, at, static_cast<std::uint16_t>(serial * 3));
        put<std::uint16_t>(into, at + 2, static_cast<std::uint16_t>(serial * 5));
        put<std::uint16_t>(into, at + 4, static_cast<std::uint16_t>(serial * 11));
    }
}

void set_statistics(LAS12Header& h, std::span<const Point> points) {
    h.NumberOfPointReturns = static_cast<std::uint32_t>(points.size());
    // Element by element: the packed header's array is not aligned for a reference to it.
    for (int r = 0; r < 5; ++r) h.NumberOfPointsByReturn[r] = 0;
    if (points.empty()) {
        h.MaxX = h.MinX = h.MaxY = h.MinY = h.MaxZ = h.MinZ = 0.0;
        return;
    }
    std::int32_t lo[3] = {std::numeric_limits<std::int32_t>::max(),
                          std::numeric_limits<std::int32_t>::max(),
                          std::numeric_limits<std::int32_t>::max()};
    std::int32_t hi[3] = {std::numeric_limits<std::int32_t>::min(),
                          std::numeric_limits<std::int32_t>::min(),
                          std::numeric_limits<std::int32_t>::min()};
    for (const Point& p : points) {
        const std::int32_t c[3] = {p.x, p.y, p.z};
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], c[a]);
            hi[a] = std::max(hi[a], c[a]);
        }
        const unsigned r = p.return_number & 7u;
        if (r >= 1 && r <= 5) ++h.NumberOfPointsByReturn[r - 1];
    }
    h.MaxX = hi[0] * h.XScaleFactor + h.XOffset;
    h.MinX = lo[0] * h.XScaleFactor + h.XOffset;
    h.MaxY = hi[1] * h.YScaleFactor + h.YOffset;
    h.MinY = lo[1] * h.YScaleFactor + h.YOffset;
    h.MaxZ = hi[2] * h.ZScaleFactor + h.ZOffset;
    h.MinZ = lo[2] * h.ZScaleFactor + h.ZOffset;
}

std::vector<std::byte> LasFile::bytes() const {
    std::vector<std::byte> out(sizeof header);
    out.reserve(sizeof header + extension.size() + between.size() + points.size() + after.size());
    std::memcpy(out.data(), &header, sizeof header);
    for (const std::vector<std::byte>* part : {&extension, &between, &points, &after})
        out.insert(out.end(), part->begin(), part->end());
    return out;
}

void LasFile::lay_out() {
    header.HeaderSize = static_cast<std::uint16_t>(sizeof header + extension.size());
    header.OffsetToData = static_cast<std::uint32_t>(header.HeaderSize + between.size());
    if (header.VersionMinor >= 4)
        set_extension_u64(kEvlrStartAt,
                          after.empty() ? 0 : std::uint64_t{header.OffsetToData} + points.size());
}

std::uint64_t LasFile::extension_u64(std::size_t file_offset) const {
    std::uint64_t value;
    std::memcpy(&value, extension.data() + (file_offset - sizeof header), sizeof value);
    return value;
}

void LasFile::set_extension_u64(std::size_t file_offset, std::uint64_t value) {
    put<std::uint64_t>(extension, file_offset - sizeof header, value);
}

void LasFile::set_extension_u32(std::size_t file_offset, std::uint32_t value) {
    put<std::uint32_t>(extension, file_offset - sizeof header, value);
}

void LasFile::write(const std::string& path) const {
    write_bytes(path, bytes());
}

LasFile make_las(std::uint8_t minor, std::uint8_t format, std::span<const Point> points,
                 bool with_vlr) {
    LasFile f;
    f.header = new_header(minor, format);
    f.header.XOffset = 500000.0;
    f.header.YOffset = 4000000.0;
    if (with_vlr) {
        // A projection-like record: the GeoTIFF key directory's user and record id.
        std::vector<std::byte> keys(16);
        for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = std::byte(i * 13 + minor);
        f.between = vlr("LASF_Projection", 34735, keys);
        f.header.NumberOfVariableLengthRecords = 1;
    }
    if (minor == 0) {
        f.between.push_back(std::byte{0xDD});
        f.between.push_back(std::byte{0xCC});
    }
    set_statistics(f.header, points);
    const std::uint16_t length = record_length(format);
    f.points.resize(points.size() * length);
    for (std::size_t i = 0; i < points.size(); ++i)
        put_record(std::span(f.points).subspan(i * length, length), format, points[i],
                   static_cast<std::uint32_t>(i));
    f.header.OffsetToData = static_cast<std::uint32_t>(sizeof(LAS12Header) + f.between.size());
    return f;
}

std::vector<std::byte> evlr(std::string_view user_id, std::uint16_t record_id,
                            std::span<const std::byte> payload) {
    std::array<std::byte, 60> head{};
    copy_text(reinterpret_cast<char*>(head.data() + 2), 16, user_id);
    put<std::uint16_t>(head, 18, record_id);
    put<std::uint64_t>(head, 20, payload.size());
    copy_text(reinterpret_cast<char*>(head.data() + 28), 32, "synthetic extended record");
    std::vector<std::byte> out(head.size() + payload.size());
    std::copy(head.begin(), head.end(), out.begin());
    std::copy(payload.begin(), payload.end(), out.begin() + head.size());
    return out;
}

LasFile make_las_extended(std::uint8_t minor, std::uint8_t format, std::span<const Point> points,
                          std::uint16_t extra_bytes, bool with_vlr) {
    // The 1.2 file of the same points gives the first 227 bytes; formats 6 to 8 are not 1.2
    // formats, so their records and counts are filled in here.
    LasFile f = make_las(2, format <= 3 ? format : 1, points, with_vlr);
    f.header.VersionMinor = minor;
    f.header.PointDataFormatID = format;
    f.header.GlobalEncoding = 1;  // GPS times are standard time
    const std::uint16_t length =
        static_cast<std::uint16_t>(base_record_length(format) + extra_bytes);
    f.header.PointDataRecordLength = length;
    f.points.assign(points.size() * length, std::byte{0});
    for (std::size_t i = 0; i < points.size(); ++i)
        put_record(std::span(f.points).subspan(i * length, length), format, points[i],
                   static_cast<std::uint32_t>(i));

    f.extension.assign(minor == 3 ? 235 - 227 : 375 - 227, std::byte{0});
    f.set_extension_u64(kWaveformStartAt, 0);
    if (minor >= 4) {
        std::uint64_t by_return[15] = {};
        for (const Point& p : points)
            if (p.return_number >= 1 && p.return_number <= 15) ++by_return[p.return_number - 1];
        f.set_extension_u64(kPointCountAt, points.size());
        for (std::size_t r = 0; r < 15; ++r)
            f.set_extension_u64(kPointsByReturnAt + 8 * r, by_return[r]);
        f.set_extension_u32(kEvlrCountAt, 0);
        if (format >= 6) {
            f.header.NumberOfPointReturns = 0;
            for (int r = 0; r < 5; ++r) f.header.NumberOfPointsByReturn[r] = 0;
        }
    }
    f.lay_out();
    return f;
}

std::vector<Point> random_points(std::size_t count, std::uint32_t seed, std::int32_t x0,
                                 std::int32_t y0, std::int32_t size) {
    std::vector<Point> out(count);
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    const auto span = static_cast<std::uint64_t>(size);
    for (Point& p : out) {
        p.x = x0 + static_cast<std::int32_t>(next() % span);
        p.y = y0 + static_cast<std::int32_t>(next() % span);
        p.z = static_cast<std::int32_t>(next() % 5000);
        p.return_number = static_cast<std::uint8_t>(1 + next() % 3);
    }
    return out;
}

void write_bytes(const std::string& path, std::span<const std::byte> bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::vector<std::byte> read_bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    std::vector<char> chars((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<std::byte> out(chars.size());
    std::memcpy(out.data(), chars.data(), chars.size());
    return out;
}

}  // namespace lassynth
