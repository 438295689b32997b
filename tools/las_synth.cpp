#include "las_synth.hpp"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>

namespace lassynth {
namespace {

std::uint16_t record_length(std::uint8_t format) {
    static constexpr std::uint16_t kLengths[] = {20, 28, 26, 34};
    return format < 4 ? kLengths[format] : 0;
}

template <typename T>
void put(std::span<std::byte> into, std::size_t at, T value) {
    std::memcpy(into.data() + at, &value, sizeof value);
}

void copy_text(char* field, std::size_t width, std::string_view text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

}  // namespace

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
    std::vector<std::byte> out;
    out.reserve(sizeof header + between.size() + points.size());
    const auto* raw = reinterpret_cast<const std::byte*>(&header);
    out.insert(out.end(), raw, raw + sizeof header);
    out.insert(out.end(), between.begin(), between.end());
    out.insert(out.end(), points.begin(), points.end());
    return out;
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
