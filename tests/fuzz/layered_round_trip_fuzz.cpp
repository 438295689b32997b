// Random records through the layered chunk encoder and back through the decoder. Byte 0 picks the
// items (format 6, 7 or 8 and 0-6 extra bytes), byte 1 the points per chunk (1-256, or 50,000),
// byte 2 the records per encode call and per decode call; the rest are the records. Every record
// must come back as it went in, except that a GPS time of -0.0 is first made +0.0: a v3 coder
// compares times as doubles, so -0.0 after +0.0 (or +0.0 after -0.0) counts as unchanged and comes
// back as the time before it, in LASzip and lazperf as here.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.hpp"
#include "laz/laszip_record.hpp"
#include "laz/layered_chunk.hpp"

namespace {

// One encoder and decoder per item list, kept from input to input: building a coder's models
// costs far more than a chunk, and a kept coder shows that nothing leaks from chunk to chunk.
struct Coders {
    explicit Coders(std::span<const korvane::laz::LaszipItem> items)
        : encoder(items), decoder(items) {}
    korvane::laz::LayeredChunkEncoder encoder;
    korvane::laz::LayeredChunkDecoder decoder;
};

Coders& coders(std::uint8_t format, std::uint16_t extra) {
    static std::map<std::pair<std::uint8_t, std::uint16_t>, std::unique_ptr<Coders>> kept;
    auto& c = kept[{format, extra}];
    if (!c) c = std::make_unique<Coders>(korvane::laz::standard_items(format, extra));
    return *c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const auto format = static_cast<std::uint8_t>(6 + data[0] % 3);
    const auto extra = static_cast<std::uint16_t>((data[0] / 3) % 7);
    const std::size_t chunk_points = data[1] == 255 ? 50000 : 1 + data[1];
    const std::size_t batch = 1 + data[2] % 16;
    Coders& kept = coders(format, extra);
    korvane::laz::LayeredChunkEncoder& encoder = kept.encoder;
    korvane::laz::LayeredChunkDecoder& decoder = kept.decoder;
    const std::size_t length = encoder.record_length();
    const std::size_t count = (size - 3) / length;
    if (count == 0) return 0;

    std::vector<std::byte> records(count * length);
    std::memcpy(records.data(), data + 3, records.size());
    for (std::size_t at = 22; at < records.size(); at += length) {
        std::uint64_t bits;
        std::memcpy(&bits, records.data() + at, 8);
        if (bits == std::bit_cast<std::uint64_t>(-0.0)) std::memset(records.data() + at, 0, 8);
    }

    std::vector<std::byte> decoded(records.size());
    for (std::size_t first = 0; first < count; first += chunk_points) {
        const std::size_t n = std::min(chunk_points, count - first);
        encoder.begin();
        for (std::size_t i = 0; i < n; i += batch) {
            const std::size_t m = std::min(batch, n - i);
            encoder.encode(std::span(records).subspan((first + i) * length, m * length));
        }
        FUZZ_CHECK(encoder.points() == n, "the encoder counts every record");
        const auto chunk = encoder.finish();
        FUZZ_CHECK(decoder.begin(chunk, static_cast<std::uint32_t>(n)),
                   "our own chunk is accepted");
        for (std::size_t i = 0; i < n; i += batch) {
            const std::size_t m = std::min(batch, n - i);
            FUZZ_CHECK(decoder.decode(std::span(decoded).subspan((first + i) * length, m * length)),
                       "our own chunk decodes");
        }
        FUZZ_CHECK(decoder.remaining() == 0, "every record is handed out");
    }
    for (std::size_t i = 0; i < count; ++i) {
        FUZZ_CHECK(
            std::memcmp(decoded.data() + i * length, records.data() + i * length, length) == 0,
            "record " + std::to_string(i) + " of " + std::to_string(count) + " comes back");
    }
    return 0;
}
