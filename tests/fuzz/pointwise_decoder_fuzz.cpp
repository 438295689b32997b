// The point-wise chunk decoder on hostile bytes. Byte 0 picks the items: point format in bits 0-1
// (the standard items of formats 0-3), extra bytes in bits 2-7 (0-63); bytes 1-2 the chunk's point
// count (little-endian, up to 1,024), byte 3 the records asked for per decode call; the rest is
// the chunk. One decoder per item list serves every input, as one serves every chunk of a file. The
// decoder must not crash or read outside the chunk (a copy of exactly its size), must give every
// record of a chunk it accepts or say it is damaged, and must decode alike however the records
// are asked for: all at once, or in pieces.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "decode_in_pieces.hpp"
#include "fuzz_support.hpp"
#include "laz/pointwise_chunk.hpp"

using Bytes = std::vector<std::byte>;
using testing_support::decode_in_pieces;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const auto format = static_cast<std::uint8_t>(data[0] & 3u);
    const auto extra = static_cast<std::uint16_t>(data[0] >> 2);
    const std::uint32_t points = (data[1] | (std::uint32_t{data[2]} << 8)) % 1'025;
    const std::size_t piece = std::size_t{data[3]} + 1;
    Bytes chunk(size - 4);
    if (!chunk.empty()) std::memcpy(chunk.data(), data + 4, chunk.size());

    const auto items = korvane::laz::standard_items(format, extra);
    FUZZ_CHECK(!korvane::laz::pointwise_unsupported_item(items), "a standard list is refused");
    static std::array<std::unique_ptr<korvane::laz::PointwiseChunkDecoder>, 256> decoders;
    auto& slot = decoders[data[0]];
    if (!slot) slot = std::make_unique<korvane::laz::PointwiseChunkDecoder>(items);
    korvane::laz::PointwiseChunkDecoder& decoder = *slot;
    const auto whole = decode_in_pieces(decoder, chunk, points, points);
    const auto pieces = decode_in_pieces(decoder, chunk, points, piece);
    const std::string what = "format " + std::to_string(format) + " + " + std::to_string(extra) +
                             ", " + std::to_string(points) + " points, pieces of " +
                             std::to_string(piece);
    FUZZ_CHECK(whole.has_value() == pieces.has_value(),
               "accepted in one way of asking and refused in the other: " + what);
    if (whole) FUZZ_CHECK(*whole == *pieces, "the records depend on the pieces: " + what);
    return 0;
}
