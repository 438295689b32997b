// The chunk-table coder on arbitrary bytes: whatever it decodes must encode back, within the
// bound a reader relies on, to a table that decodes to the same entries. The first two bytes
// choose the kind of table and how many entries to decode; the rest are the coded entries.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_support.hpp"
#include "laz/chunk_table_coder.hpp"

namespace {

void check_chunk_table(std::span<const std::byte> data) {
    if (data.size() < 2) return;
    // The first two bytes choose the kind of table and how many entries to decode.
    const bool variable = (std::to_integer<unsigned>(data[0]) & 1) != 0;
    const std::uint32_t count = std::to_integer<std::uint32_t>(data[1]) * 3;
    const std::optional<korvane::DecodedChunkTable> decoded =
        korvane::decode_chunk_table(data.subspan(2), count, variable);
    if (!decoded) return;
    FUZZ_CHECK(decoded->chunks.size() == count && decoded->consumed <= data.size() - 2, "decode");
    const std::vector<std::byte> coded = korvane::encode_chunk_table(decoded->chunks, variable);
    FUZZ_CHECK(coded.size() <= korvane::max_coded_chunk_table_bytes(count, variable), "bound");
    const std::optional<korvane::DecodedChunkTable> again =
        korvane::decode_chunk_table(coded, count, variable);
    FUZZ_CHECK(again && again->consumed == coded.size(), "round trip consumed");
    if (variable) {
        FUZZ_CHECK(again->chunks == decoded->chunks, "round trip");
    } else {
        for (std::size_t i = 0; i < count; ++i)
            FUZZ_CHECK(again->chunks[i].bytes == decoded->chunks[i].bytes, "round trip");
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_chunk_table(std::span(reinterpret_cast<const std::byte*>(data), size));
    return 0;
}
