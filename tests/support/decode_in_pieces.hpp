// A chunk decoded with one of our chunk decoders, the records asked for `piece` at a time (the
// last request shorter): the way the merge asks, shared by the codec tests and the fuzzers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace testing_support {

// The chunk's records; nothing when the decoder refuses the chunk or a request.
template <typename Decoder>
std::optional<std::vector<std::byte>> decode_in_pieces(Decoder& decoder,
                                                       std::span<const std::byte> chunk,
                                                       std::uint32_t points, std::size_t piece) {
    if (!decoder.begin(chunk, points)) return std::nullopt;
    const std::size_t length = decoder.record_length();
    std::vector<std::byte> out(std::size_t{points} * length);
    for (std::size_t at = 0; decoder.remaining() > 0;) {
        const std::size_t n = std::min<std::size_t>(piece, decoder.remaining());
        if (!decoder.decode(std::span(out).subspan(at * length, n * length))) return std::nullopt;
        at += n;
    }
    return out;
}

}  // namespace testing_support
