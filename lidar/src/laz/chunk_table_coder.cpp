// The LAZ chunk table's coded entries: one arithmetic-coded stream under one integer compressor
// of 32 bits and 2 contexts, as LASzip's writers code it. A merged file's table is read by their
// decoders and theirs are read by ours, so every step must match bit for bit.
#include "chunk_table_coder.hpp"

#include "arithmetic_decoder.hpp"
#include "arithmetic_encoder.hpp"
#include "integer_compressor.hpp"

namespace korvane {
namespace {

constexpr std::uint32_t kPointsContext = 0;
constexpr std::uint32_t kBytesContext = 1;

laz::IntegerCompressor table_compressor() {
    return laz::IntegerCompressor(32, 2);
}

}  // namespace

std::vector<std::byte> encode_chunk_table(std::span<const LazChunk> chunks, bool variable) {
    if (chunks.empty()) return {};
    laz::ArithmeticEncoder enc;
    laz::IntegerCompressor ic = table_compressor();
    LazChunk previous;
    for (const LazChunk& chunk : chunks) {
        if (variable)
            ic.compress(enc, static_cast<std::int32_t>(previous.points),
                        static_cast<std::int32_t>(chunk.points), kPointsContext);
        ic.compress(enc, static_cast<std::int32_t>(previous.bytes),
                    static_cast<std::int32_t>(chunk.bytes), kBytesContext);
        previous = chunk;
    }
    return enc.finish();
}

std::optional<DecodedChunkTable> decode_chunk_table(std::span<const std::byte> coded,
                                                    std::uint32_t count, bool variable) {
    DecodedChunkTable table;
    if (count == 0) return table;
    laz::ArithmeticDecoder dec(coded);
    laz::IntegerCompressor ic = table_compressor();
    table.chunks.reserve(count);
    LazChunk previous;
    for (std::uint32_t i = 0; i < count && !dec.overrun(); ++i) {
        LazChunk chunk;
        if (variable)
            chunk.points = static_cast<std::uint32_t>(
                ic.decompress(dec, static_cast<std::int32_t>(previous.points), kPointsContext));
        chunk.bytes = static_cast<std::uint32_t>(
            ic.decompress(dec, static_cast<std::int32_t>(previous.bytes), kBytesContext));
        table.chunks.push_back(chunk);
        previous = chunk;
    }
    if (dec.overrun()) return std::nullopt;
    table.consumed = dec.consumed();
    return table;
}

// The coded size, bounded through how much each coded value can narrow the interval. Before
// each step the length is at least 2^24, and:
//   - a symbol keeps at least unit = floor(length / 2^15) (every count is >= 1 and the counts
//     total <= 2^15, so every symbol's share is >= 1): at most 15 + log2(1 / (1 - 2^-9)), under
//     15.003 bits;
//   - a bit keeps at least floor(length / 2^13) on either side (1 <= p0 < 2^13): under 13.001;
//   - j raw bits in one step keep floor(length / 2^j) with j <= 19: under j + 0.05 bits; more
//     than 19 go as 16 and then j - 16 <= 7, under j + 0.01 bits.
// A value costs k's symbol and then a bit, a symbol, or a symbol and k - 8 <= 23 raw bits, so
// at most 15.003 + 15.003 + 23.01 < 54 bits. Each byte shifted out widens the interval 2^8
// times and it never grows past its initial 2^32 - 1, so coding shifts out at most 54 / 8 < 7
// bytes per value. The flush then adds 4 bytes (1 or 2 shifted out, then 3 or 2 of padding).
std::uint64_t max_coded_chunk_table_bytes(std::uint32_t count, bool variable) {
    if (count == 0) return 0;
    const std::uint64_t values = std::uint64_t{count} * (variable ? 2 : 1);
    return 7 * values + 4;
}

}  // namespace korvane
