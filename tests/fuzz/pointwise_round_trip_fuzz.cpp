// Random records through the point-wise chunk codec: encoded, then decoded, they must come back
// exactly, and decoding must read every byte the encoder wrote and no more. Byte 0 picks the
// items: point format in bits 0-1, extra bytes in bits 2-7 (0-63); byte 1 the records handed to
// the encoder per call and byte 2 those asked of the decoder per call; the rest, cut to whole
// records, are the records (the first one raw, the others coded). One encoder and one decoder per
// item list serve every input, as they serve every chunk of a file.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.hpp"
#include "laz/pointwise_chunk.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const auto format = static_cast<std::uint8_t>(data[0] & 3u);
    const auto extra = static_cast<std::uint16_t>(data[0] >> 2);
    const std::size_t batch = std::size_t{data[1]} + 1;
    const std::size_t piece = std::size_t{data[2]} + 1;
    const auto items = korvane::laz::standard_items(format, extra);
    using Codec =
        std::pair<korvane::laz::PointwiseChunkEncoder, korvane::laz::PointwiseChunkDecoder>;
    static std::array<std::unique_ptr<Codec>, 256> codecs;
    auto& slot = codecs[data[0]];
    if (!slot) slot = std::make_unique<Codec>(items, items);
    korvane::laz::PointwiseChunkEncoder& encoder = slot->first;
    const std::size_t length = encoder.record_length();
    const std::size_t count = (size - 3) / length;
    std::vector<std::byte> records(count * length);
    if (!records.empty()) std::memcpy(records.data(), data + 3, records.size());

    encoder.begin();
    for (std::size_t at = 0; at < records.size(); at += batch * length)
        encoder.encode(
            std::span(records).subspan(at, std::min(batch * length, records.size() - at)));
    FUZZ_CHECK(encoder.points() == count, "the encoder lost count of its records");
    const std::span<const std::byte> coded_view = encoder.finish();
    const std::vector<std::byte> coded(coded_view.begin(), coded_view.end());  // exactly its size
    const std::string what = "format " + std::to_string(format) + " + " + std::to_string(extra) +
                             ", " + std::to_string(count) + " records";
    if (count == 0) {
        FUZZ_CHECK(coded.empty(), "a chunk of no records has bytes: " + what);
        return 0;
    }

    korvane::laz::PointwiseChunkDecoder& decoder = slot->second;
    const auto points = static_cast<std::uint32_t>(count);
    FUZZ_CHECK(decoder.begin(coded, points), "our own chunk is refused: " + what);
    std::vector<std::byte> decoded(records.size());
    for (std::size_t at = 0; decoder.remaining() > 0;) {
        const std::size_t n = std::min<std::size_t>(piece, decoder.remaining());
        FUZZ_CHECK(decoder.decode(std::span(decoded).subspan(at * length, n * length)),
                   "our own chunk is damaged: " + what);
        at += n;
    }
    FUZZ_CHECK(decoded == records, "the records did not come back: " + what);
    // The stream is read to its last byte: without it the chunk is damaged.
    if (count > 1) {
        const std::vector<std::byte> cut(coded.begin(), coded.end() - 1);
        bool ok = decoder.begin(cut, points);
        while (ok && decoder.remaining() > 0)
            ok = decoder.decode(std::span(decoded).first(
                std::min<std::size_t>(piece, decoder.remaining()) * length));
        FUZZ_CHECK(!ok, "a chunk without its last byte decoded: " + what);
    }
    return 0;
}
