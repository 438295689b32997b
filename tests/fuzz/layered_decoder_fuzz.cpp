// The layered chunk decoder on hostile chunks. Byte 0 picks the items (format 6, 7 or 8 and 0-4
// extra bytes) and bit 7 of it the source of the chunk: clear, the rest of the input is the chunk
// as it is, with a point count in bytes 1-2; set, the rest of the input becomes records that our
// encoder turns into a valid chunk, which the input's last bytes then damage (pairs of an offset
// and a byte to xor) and whose point count byte 1 may put off by one. Byte 3 picks how many
// records each decode call asks for. The decoder must never read outside the chunk or write
// outside its buffer (the sanitizers watch), must hand out at most the chunk's points, and must
// report damage as the interface says: no records remain after it fails, and it keeps failing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "fuzz_support.hpp"
#include "laz/laszip_record.hpp"
#include "laz/layered_chunk.hpp"

namespace {

using Bytes = std::vector<std::byte>;

// One decoder and encoder per item list, kept from input to input: building a coder's models
// costs far more than a chunk, and a kept coder shows that nothing leaks from chunk to chunk.
struct Coders {
    explicit Coders(std::span<const korvane::laz::LaszipItem> items)
        : decoder(items), encoder(items) {}
    korvane::laz::LayeredChunkDecoder decoder;
    korvane::laz::LayeredChunkEncoder encoder;
};

Coders& coders(std::uint8_t format, std::uint16_t extra) {
    static std::map<std::pair<std::uint8_t, std::uint16_t>, std::unique_ptr<Coders>> kept;
    auto& c = kept[{format, extra}];
    if (!c) c = std::make_unique<Coders>(korvane::laz::standard_items(format, extra));
    return *c;
}

void decode_all(korvane::laz::LayeredChunkDecoder& decoder, std::span<const std::byte> chunk,
                std::uint32_t points, std::size_t piece) {
    if (!decoder.begin(chunk, points)) {
        FUZZ_CHECK(decoder.remaining() == 0, "a refused chunk has no records");
        return;
    }
    FUZZ_CHECK(decoder.remaining() == points, "a chunk holds the table's points");
    const std::size_t length = decoder.record_length();
    // One piece at a time, in a buffer of exactly that size.
    while (decoder.remaining() > 0) {
        const std::size_t n = std::min<std::size_t>(piece, decoder.remaining());
        const auto out = std::make_unique<std::byte[]>(n * length);
        const std::uint32_t before = decoder.remaining();
        if (!decoder.decode(std::span(out.get(), n * length))) {
            FUZZ_CHECK(decoder.remaining() == 0, "no records remain after damage");
            std::byte none[1];
            FUZZ_CHECK(!decoder.decode(std::span(none, 0)), "damage is kept");
            return;
        }
        FUZZ_CHECK(decoder.remaining() == before - n, "each record is handed out once");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const auto format = static_cast<std::uint8_t>(6 + data[0] % 3);
    const auto extra = static_cast<std::uint16_t>((data[0] / 3) % 5);
    const bool encoded = (data[0] & 0x80) != 0;
    const std::size_t piece = 1 + data[3] % 64;
    Coders& kept = coders(format, extra);
    korvane::laz::LayeredChunkDecoder& decoder = kept.decoder;
    const std::span<const std::byte> rest(reinterpret_cast<const std::byte*>(data) + 4, size - 4);

    if (!encoded) {
        const std::uint32_t points = data[1] | (std::uint32_t{data[2]} << 8);
        // A copy of exactly the chunk's size, so that a read past it is caught.
        const auto chunk = std::make_unique<std::byte[]>(rest.size() + 1);
        if (!rest.empty()) std::memcpy(chunk.get(), rest.data(), rest.size());
        decode_all(decoder, std::span(chunk.get(), rest.size()), points, piece);
        return 0;
    }

    // The last 2 * k bytes damage the chunk; the rest are records.
    const std::size_t flips = std::min<std::size_t>(data[2] % 8, rest.size() / 2);
    const std::span<const std::byte> damage = rest.last(2 * flips);
    const std::span<const std::byte> records = rest.first(rest.size() - 2 * flips);
    korvane::laz::LayeredChunkEncoder& encoder = kept.encoder;
    const std::size_t length = encoder.record_length();
    if (records.size() < length) return 0;
    encoder.begin();
    encoder.encode(records);
    const auto bytes = encoder.finish();
    Bytes chunk(bytes.begin(), bytes.end());
    for (std::size_t i = 0; i < flips; ++i) {
        const std::size_t at = std::to_integer<std::size_t>(damage[2 * i]) * 131 % chunk.size();
        chunk[at] ^= damage[2 * i + 1] == std::byte{0} ? std::byte{1} : damage[2 * i + 1];
    }
    std::uint32_t points = encoder.points();
    if (data[1] & 1) points += (data[1] & 2) ? 1 : -1;
    const auto exact = std::make_unique<std::byte[]>(chunk.size());
    std::memcpy(exact.get(), chunk.data(), chunk.size());
    decode_all(decoder, std::span(exact.get(), chunk.size()), points, piece);
    return 0;
}
