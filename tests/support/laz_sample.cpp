#include "laz_sample.hpp"

#include <cstring>
#include <fstream>
#include <iterator>

#include "byte_fields.hpp"
#include "laz/chunk_table_coder.hpp"

namespace testing_support {

std::optional<LazSample> load_laz_sample(const std::string& path, std::string& error) {
    LazSample s;
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            error = "cannot open " + path;
            return std::nullopt;
        }
        const std::vector<char> chars{std::istreambuf_iterator<char>(in), {}};
        s.bytes.resize(chars.size());
        std::memcpy(s.bytes.data(), chars.data(), chars.size());
    }
    const std::vector<std::byte>& b = s.bytes;
    if (b.size() < 375 || std::memcmp(b.data(), "LASF", 4) != 0) {
        error = path + " is not a LAS file";
        return std::nullopt;
    }
    s.minor = std::to_integer<std::uint8_t>(b[25]);
    s.format = std::to_integer<std::uint8_t>(b[104]) & 0x3F;
    s.record_length = get<std::uint16_t>(b, 105);
    s.point_count = s.minor == 4 ? get<std::uint64_t>(b, 247) : get<std::uint32_t>(b, 107);
    const std::uint32_t offset_to_data = get<std::uint32_t>(b, 96);

    std::size_t at = get<std::uint16_t>(b, 94);
    bool found = false;
    for (std::uint32_t i = 0; i < get<std::uint32_t>(b, 100) && at + 54 <= offset_to_data; ++i) {
        const std::uint16_t length = get<std::uint16_t>(b, at + 20);
        const std::string user(reinterpret_cast<const char*>(&b[at + 2]),
                               strnlen(reinterpret_cast<const char*>(&b[at + 2]), 16));
        if (user == korvane::laz::kLaszipUserId && get<std::uint16_t>(b, at + 18) == 22204) {
            const auto record = korvane::laz::parse_laszip_record(
                std::span(b).subspan(at + 54, std::min<std::size_t>(length, b.size() - at - 54)));
            if (record) s.laszip = *record, found = true;
        }
        at += 54 + length;
    }
    if (!found) {
        error = path + " holds no LASzip record";
        return std::nullopt;
    }
    if (s.laszip.compressor != korvane::laz::kPointwiseChunkedCompressor &&
        s.laszip.compressor != korvane::laz::kLayeredChunkedCompressor) {
        error = path + " is not compressed in chunks";
        return std::nullopt;
    }
    auto table = get<std::int64_t>(b, offset_to_data);
    if (table == -1) table = get<std::int64_t>(b, b.size() - 8);
    const std::uint64_t first = offset_to_data + 8;
    if (table < static_cast<std::int64_t>(first) ||
        static_cast<std::uint64_t>(table) + 8 > b.size()) {
        error = path + ": chunk table offset out of place";
        return std::nullopt;
    }
    const auto table_at = static_cast<std::size_t>(table);
    const std::uint32_t count = get<std::uint32_t>(b, table_at + 4);
    const bool variable = s.laszip.variable_chunks();
    const auto decoded =
        korvane::decode_chunk_table(std::span(b).subspan(table_at + 8), count, variable);
    if (!decoded) {
        error = path + ": chunk table cut short";
        return std::nullopt;
    }
    std::uint64_t offset = first;
    std::uint64_t points = 0;
    for (std::size_t i = 0; i < decoded->chunks.size(); ++i) {
        const korvane::LazChunk& c = decoded->chunks[i];
        const std::uint32_t n =
            variable ? c.points
                     : static_cast<std::uint32_t>(std::min<std::uint64_t>(
                           s.laszip.chunk_size, s.point_count - std::min(points, s.point_count)));
        if (offset + c.bytes > table_at) {
            error = path + ": chunks run past the chunk table";
            return std::nullopt;
        }
        s.chunks.push_back({n, std::span(b).subspan(offset, c.bytes)});
        offset += c.bytes;
        points += n;
    }
    if (points != s.point_count) {
        error = path + ": chunks hold " + std::to_string(points) + " points, the header " +
                std::to_string(s.point_count);
        return std::nullopt;
    }
    return s;
}

}  // namespace testing_support
