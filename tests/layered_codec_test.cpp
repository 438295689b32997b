// The layered LAZ chunk codec (point formats 6-8) against laz-perf 0.0.7, an independent LASzip
// implementation: every compressor-3 chunk of the real samples decodes to laz-perf's records
// and encodes back to its own bytes; generated records that reach the coders' corners go through
// our encoder and come back out of laz-perf's decoder (and ours) as they went in; damaged chunks
// are refused without a crash; and the item lists the codec accepts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "extended_point_records.hpp"
#include "laz/laszip_record.hpp"
#include "laz/layered_chunk.hpp"
#include "laz_decoder.hpp"
#include "laz_sample.hpp"

namespace {

using korvane::laz::LaszipItem;
using korvane::laz::LayeredChunkDecoder;
using korvane::laz::LayeredChunkEncoder;
using testing_support::CodedChunk;
using Bytes = std::vector<std::byte>;

#define REQUIRE_LAZPERF()                                                                     \
    do {                                                                                      \
        if (const std::string why = testing_support::laz_decoder_unavailable(); !why.empty()) \
            GTEST_SKIP() << why;                                                              \
    } while (false)

struct EncodedChunks {
    std::vector<Bytes> bytes;
    std::vector<CodedChunk> chunks;
};

// `records` encoded by one encoder in chunks of `sizes` points (the last size repeats until the
// records run out), each chunk fed in batches of `batch` records.
EncodedChunks encode_ours(std::span<const LaszipItem> items, const Bytes& records,
                          const std::vector<std::uint32_t>& sizes, std::size_t batch) {
    LayeredChunkEncoder encoder(items);
    const std::size_t length = encoder.record_length();
    const std::size_t total = records.size() / length;
    EncodedChunks out;
    std::vector<std::uint32_t> points;
    for (std::size_t done = 0, i = 0; done < total; ++i) {
        const std::size_t n =
            std::min<std::size_t>(sizes[std::min(i, sizes.size() - 1)], total - done);
        encoder.begin();
        for (std::size_t at = 0; at < n; at += batch) {
            const std::size_t m = std::min(batch, n - at);
            encoder.encode(std::span(records).subspan((done + at) * length, m * length));
        }
        EXPECT_EQ(encoder.points(), n);
        const auto bytes = encoder.finish();
        out.bytes.emplace_back(bytes.begin(), bytes.end());
        points.push_back(static_cast<std::uint32_t>(n));
        done += n;
    }
    for (std::size_t i = 0; i < points.size(); ++i) out.chunks.push_back({points[i], out.bytes[i]});
    return out;
}

// The records of `chunks` decoded by one decoder, `piece` records at a time; nothing when a
// chunk is refused.
std::optional<Bytes> decode_ours(std::span<const LaszipItem> items,
                                 std::span<const CodedChunk> chunks, std::size_t piece) {
    LayeredChunkDecoder decoder(items);
    const std::size_t length = decoder.record_length();
    Bytes out;
    for (const CodedChunk& c : chunks) {
        if (!decoder.begin(c.bytes, c.points)) return std::nullopt;
        while (decoder.remaining() > 0) {
            const std::size_t n = std::min<std::size_t>(piece, decoder.remaining());
            const std::size_t at = out.size();
            out.resize(at + n * length);
            if (!decoder.decode(std::span(out).subspan(at))) return std::nullopt;
        }
    }
    return out;
}

// Index of the first record where two record sets differ, for a readable failure.
std::string first_difference(const Bytes& a, const Bytes& b, std::size_t length) {
    if (a.size() != b.size())
        return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return "record " + std::to_string(i / length) + " byte " + std::to_string(i % length);
    return "none";
}

TEST(LayeredCodec, SampleChunksDecodeAsLazperfAndEncodeToTheirOwnBytes) {
    REQUIRE_LAZPERF();
    const struct {
        const char* file;
        std::uint8_t format;
        std::uint16_t record_length;
        std::size_t chunks;
        std::size_t piece;  // records per decode call
    } cases[] = {
        {"1.2-with-color.copc.laz", 7, 36, 65, 5},
        {"append-bug.laz", 8, 41, 1, 4096},
        {"1_4_w_evlr.laz", 6, 30, 1, 333},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::string error;
        const auto sample =
            testing_support::load_laz_sample(std::string(SAMPLES_DIR) + "/" + c.file, error);
        ASSERT_TRUE(sample) << error;
        ASSERT_EQ(sample->laszip.compressor, korvane::laz::kLayeredChunkedCompressor);
        ASSERT_EQ(sample->format, c.format);
        ASSERT_EQ(sample->record_length, c.record_length);
        ASSERT_EQ(sample->chunks.size(), c.chunks);
        const auto& items = sample->laszip.items;
        ASSERT_FALSE(korvane::laz::layered_unsupported_item(items));

        const auto theirs =
            testing_support::decode_laz_chunks(c.format, c.record_length, sample->chunks, error);
        ASSERT_TRUE(theirs) << error;
        const auto ours = decode_ours(items, sample->chunks, c.piece);
        ASSERT_TRUE(ours);
        EXPECT_TRUE(*ours == *theirs) << first_difference(*ours, *theirs, c.record_length);

        // Re-encoding every chunk's records gives the chunk's bytes back.
        LayeredChunkEncoder encoder(items);
        std::size_t at = 0;
        for (std::size_t i = 0; i < sample->chunks.size(); ++i) {
            const CodedChunk& chunk = sample->chunks[i];
            const std::size_t size = chunk.points * std::size_t{c.record_length};
            encoder.begin();
            encoder.encode(std::span(*theirs).subspan(at, size));
            const auto bytes = encoder.finish();
            EXPECT_TRUE(
                std::equal(bytes.begin(), bytes.end(), chunk.bytes.begin(), chunk.bytes.end()))
                << "chunk " << i << ": " << bytes.size() << " bytes, stored " << chunk.bytes.size();
            at += size;
        }
    }
}

TEST(LayeredCodec, GeneratedRecordsComeBackFromLazperfAsTheyWentIn) {
    REQUIRE_LAZPERF();
    using Recipe = testing_support::ExtendedRecordRecipe;
    const struct {
        const char* name;
        Recipe recipe;
        std::vector<std::uint32_t> chunk_sizes;
        std::size_t batch;  // records per encode call
        std::size_t piece;  // records per decode call
    } cases[] = {
        {"a chunk of one point", {.format = 6, .points = 1}, {1}, 1, 1},
        {"two points, each chunk's first", {.format = 8, .extra_bytes = 2, .points = 2}, {1}, 1, 1},
        {"a full chunk and one more point",
         {.format = 6, .points = 50001, .seed = 2, .channel_changes = true},
         {50000},
         4096,
         65536},
        {"format 7, channels changing",
         {.format = 7, .points = 6000, .seed = 3, .channel_changes = true},
         {2500},
         777,
         1000},
        {"format 7, grey and differing colours",
         {.format = 7, .points = 3000, .seed = 4, .grey_stretches = true},
         {3000},
         3000,
         64},
        {"format 8 and 3 extra bytes, channels and GPS jumps",
         {.format = 8,
          .extra_bytes = 3,
          .points = 8000,
          .seed = 5,
          .channel_changes = true,
          .gps_jumps = true},
         {4000},
         100,
         4096},
        {"format 8, constant layers",
         {.format = 8, .extra_bytes = 2, .points = 1000, .seed = 6, .constant = true},
         {1000},
         10,
         1000},
        {"format 6, constant layers and channel changes",
         {.format = 6, .points = 1500, .seed = 7, .channel_changes = true, .constant = true},
         {1500},
         1500,
         7},
        {"format 6 and 1 extra byte, extreme coordinates",
         {.format = 6, .extra_bytes = 1, .points = 4000, .seed = 8, .extreme_coordinates = true},
         {1000},
         999,
         1000},
        {"format 7 and 5 extra bytes, any returns, busy attributes",
         {.format = 7,
          .extra_bytes = 5,
          .points = 4000,
          .seed = 9,
          .channel_changes = true,
          .any_returns = true,
          .busy_attributes = true},
         {4000},
         1,
         4000},
        {"format 8, everything at once",
         {.format = 8,
          .extra_bytes = 1,
          .points = 20000,
          .seed = 10,
          .channel_changes = true,
          .gps_jumps = true,
          .any_returns = true,
          .extreme_coordinates = true,
          .busy_attributes = true,
          .grey_stretches = true},
         {5000, 16, 16, 1, 7000},
         333,
         65536},
        {"cloud optimised chunks of 16 points",
         {.format = 7, .points = 1600, .seed = 11, .channel_changes = true, .gps_jumps = true},
         {16},
         16,
         16},
        // Known case: -0.0 after +0.0 is taken as an unchanged time, and comes back as +0.0.
        {"GPS time -0.0 after +0.0",
         {.format = 6, .points = 1000, .seed = 12, .negative_zero_times = true},
         {500},
         500,
         500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Recipe& r = c.recipe;
        const auto items = korvane::laz::standard_items(r.format, r.extra_bytes);
        ASSERT_FALSE(korvane::laz::layered_unsupported_item(items));
        const std::size_t length = testing_support::extended_record_length(r.format, r.extra_bytes);
        const Bytes records = testing_support::make_extended_records(r);
        const Bytes expected =
            r.negative_zero_times ? testing_support::expected_v3_records(records, length) : records;
        if (r.negative_zero_times) {
            EXPECT_NE(expected, records) << "the known case never came up";
        }

        const EncodedChunks encoded = encode_ours(items, records, c.chunk_sizes, c.batch);
        if (r.constant) {
            // Only XY and Z are written when nothing else changes.
            const std::size_t layers = 9 +
                                       (r.format == 8   ? 2
                                        : r.format == 7 ? 1
                                                        : 0) +
                                       std::size_t{r.extra_bytes};
            for (const Bytes& chunk : encoded.bytes) {
                ASSERT_GE(chunk.size(), length + 4 + 4 * layers);
                for (std::size_t i = 2; i < layers; ++i) {
                    std::uint32_t size = 0;
                    std::memcpy(&size, chunk.data() + length + 4 + 4 * i, 4);
                    EXPECT_EQ(size, 0u) << "layer " << i;
                }
            }
        }
        std::string error;
        const auto theirs = testing_support::decode_laz_chunks(
            r.format, static_cast<std::uint16_t>(length), encoded.chunks, error);
        ASSERT_TRUE(theirs) << error;
        EXPECT_TRUE(*theirs == expected) << first_difference(*theirs, expected, length);
        const auto ours = decode_ours(items, encoded.chunks, c.piece);
        ASSERT_TRUE(ours);
        EXPECT_TRUE(*ours == *theirs) << first_difference(*ours, *theirs, length);
    }
}

// ---- Damaged chunks ----

enum class Outcome { BeginRefuses, DecodeRefuses, DecodesAsBefore, NoCrash };

// A format 8 chunk with 3 extra bytes: 41-byte records, 14 layers.
constexpr std::size_t kLength = 41;
constexpr std::size_t kLayers = 14;
constexpr std::size_t kCountAt = kLength;
constexpr std::size_t kSizesAt = kLength + 4;
constexpr std::size_t kHeader = kSizesAt + 4 * kLayers;

std::uint32_t get32(const Bytes& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    std::memcpy(b.data() + at, &v, 4);
}
std::uint32_t layer_size(const Bytes& b, std::size_t layer) {
    return get32(b, kSizesAt + 4 * layer);
}
std::size_t layer_start(const Bytes& b, std::size_t layer) {
    std::size_t at = kHeader;
    for (std::size_t i = 0; i < layer; ++i) at += layer_size(b, i);
    return at;
}
// Shortens a layer to `keep` bytes, the chunk with it, so that the counts still add up.
void cut_layer(Bytes& b, std::size_t layer, std::uint32_t keep) {
    const std::size_t at = layer_start(b, layer);
    const std::uint32_t size = layer_size(b, layer);
    b.erase(b.begin() + static_cast<std::ptrdiff_t>(at + keep),
            b.begin() + static_cast<std::ptrdiff_t>(at + size));
    put32(b, kSizesAt + 4 * layer, keep);
}
void scramble(Bytes& b, std::size_t from, std::uint32_t seed) {
    std::mt19937 rng(seed);
    for (std::size_t i = from; i < b.size(); ++i) b[i] = static_cast<std::byte>(rng());
}

TEST(LayeredCodec, DamagedChunksAreRefusedWithoutReadingPastThem) {
    REQUIRE_LAZPERF();
    const testing_support::ExtendedRecordRecipe recipe{.format = 8,
                                                       .extra_bytes = 3,
                                                       .points = 600,
                                                       .seed = 21,
                                                       .channel_changes = true,
                                                       .gps_jumps = true,
                                                       .busy_attributes = true};
    const auto items = korvane::laz::standard_items(8, 3);
    const Bytes records = testing_support::make_extended_records(recipe);
    const EncodedChunks encoded = encode_ours(items, records, {600}, 600);
    const Bytes good = encoded.bytes[0];
    ASSERT_EQ(get32(good, kCountAt), 600u);
    // Every layer holds bytes but that of the first extra byte, which the generator keeps
    // constant.
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (i == 11) {
            ASSERT_EQ(layer_size(good, i), 0u);
        } else {
            ASSERT_GT(layer_size(good, i), 3u) << "layer " << i;
        }
    }
    std::string error;
    const auto theirs = testing_support::decode_laz_chunks(8, kLength, encoded.chunks, error);
    ASSERT_TRUE(theirs) << error;
    ASSERT_EQ(*theirs, records);

    using Damage = void (*)(Bytes&, std::uint32_t&);
    const struct {
        const char* name;
        Damage damage;
        Outcome outcome;
    } cases[] = {
        {"table count one more", [](Bytes&, std::uint32_t& n) { ++n; }, Outcome::BeginRefuses},
        {"table count one less", [](Bytes&, std::uint32_t& n) { --n; }, Outcome::BeginRefuses},
        {"stored count 0", [](Bytes& b, std::uint32_t&) { put32(b, kCountAt, 0); },
         Outcome::BeginRefuses},
        {"both counts 0", [](Bytes& b, std::uint32_t& n) { put32(b, kCountAt, 0), n = 0; },
         Outcome::BeginRefuses},
        {"XY layer one byte past the chunk",
         [](Bytes& b, std::uint32_t&) { put32(b, kSizesAt, layer_size(b, 0) + 1); },
         Outcome::BeginRefuses},
        {"last layer one byte past the chunk",
         [](Bytes& b, std::uint32_t&) {
             put32(b, kSizesAt + 4 * (kLayers - 1), layer_size(b, kLayers - 1) + 1);
         },
         Outcome::BeginRefuses},
        {"a layer count of 2^32 - 1",
         [](Bytes& b, std::uint32_t&) { put32(b, kSizesAt + 4 * 3, 0xFFFFFFFFu); },
         Outcome::BeginRefuses},
        {"layer counts whose 32-bit sum wraps to the right total",
         [](Bytes& b, std::uint32_t&) {
             put32(b, kSizesAt, layer_size(b, 0) + 0x80000000u);
             put32(b, kSizesAt + 4, layer_size(b, 1) + 0x80000000u);
         },
         Outcome::BeginRefuses},
        {"chunk cut inside the raw record", [](Bytes& b, std::uint32_t&) { b.resize(20); },
         Outcome::BeginRefuses},
        {"chunk cut inside the layer counts",
         [](Bytes& b, std::uint32_t&) { b.resize(kHeader - 1); }, Outcome::BeginRefuses},
        {"chunk cut in its last layer", [](Bytes& b, std::uint32_t&) { b.pop_back(); },
         Outcome::BeginRefuses},
        {"empty chunk", [](Bytes& b, std::uint32_t&) { b.clear(); }, Outcome::BeginRefuses},
        {"XY layer cut to half",
         [](Bytes& b, std::uint32_t&) { cut_layer(b, 0, layer_size(b, 0) / 2); },
         Outcome::DecodeRefuses},
        {"Z layer cut to 2 bytes", [](Bytes& b, std::uint32_t&) { cut_layer(b, 1, 2); },
         Outcome::DecodeRefuses},
        {"GPS layer gone while times change", [](Bytes& b, std::uint32_t&) { cut_layer(b, 8, 0); },
         Outcome::DecodeRefuses},
        {"scan angle layer gone while angles change",
         [](Bytes& b, std::uint32_t&) { cut_layer(b, 5, 0); }, Outcome::DecodeRefuses},
        {"colour layer cut short",
         [](Bytes& b, std::uint32_t&) { cut_layer(b, 9, layer_size(b, 9) / 3); },
         Outcome::DecodeRefuses},
        {"NIR layer cut short",
         [](Bytes& b, std::uint32_t&) { cut_layer(b, 10, layer_size(b, 10) / 3); },
         Outcome::DecodeRefuses},
        {"last extra byte's layer cut short", [](Bytes& b, std::uint32_t&) { cut_layer(b, 13, 3); },
         Outcome::DecodeRefuses},
        {"bytes after the last layer",
         [](Bytes& b, std::uint32_t&) { b.insert(b.end(), 9, std::byte{0x5A}); },
         Outcome::DecodesAsBefore},
        {"garbage in every layer", [](Bytes& b, std::uint32_t&) { scramble(b, kHeader, 1); },
         Outcome::NoCrash},
        {"garbage after the raw record", [](Bytes& b, std::uint32_t&) { scramble(b, kLength, 2); },
         Outcome::NoCrash},
        {"garbage with the counts kept",
         [](Bytes& b, std::uint32_t&) {
             const Bytes head(b.begin(), b.begin() + kHeader);
             scramble(b, 0, 3);
             std::copy(head.begin() + kLength, head.end(), b.begin() + kLength);
         },
         Outcome::NoCrash},
    };
    LayeredChunkDecoder decoder(items);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes chunk = good;
        std::uint32_t points = 600;
        c.damage(chunk, points);
        // A copy of exactly the chunk's size, so that AddressSanitizer sees any read past it.
        const auto exact = std::make_unique<std::byte[]>(chunk.size());
        if (!chunk.empty()) std::memcpy(exact.get(), chunk.data(), chunk.size());
        const std::span<const std::byte> bytes(exact.get(), chunk.size());

        const bool began = decoder.begin(bytes, points);
        if (c.outcome == Outcome::BeginRefuses) {
            EXPECT_FALSE(began);
            EXPECT_EQ(decoder.remaining(), 0u);
        } else if (c.outcome != Outcome::NoCrash) {
            ASSERT_TRUE(began);
        }
        if (began) {
            Bytes out(points * kLength);
            bool ok = true;
            std::size_t at = 0;
            while (ok && decoder.remaining() > 0) {
                const std::size_t n = std::min<std::size_t>(100, decoder.remaining());
                ok = decoder.decode(std::span(out).subspan(at, n * kLength));
                at += n * kLength;
            }
            if (c.outcome == Outcome::DecodeRefuses) {
                EXPECT_FALSE(ok);
            }
            if (c.outcome == Outcome::DecodesAsBefore) {
                EXPECT_TRUE(ok);
                EXPECT_EQ(out, *theirs);
            }
            EXPECT_EQ(decoder.remaining(), 0u);
            if (!ok) {
                EXPECT_FALSE(decoder.decode(std::span(out).first(0))) << "damage is kept";
            }
        }
        // The same decoder then decodes the undamaged chunk.
        ASSERT_TRUE(decoder.begin(good, 600));
        Bytes again(600 * kLength);
        ASSERT_TRUE(decoder.decode(again));
        EXPECT_EQ(again, *theirs);
    }
}

TEST(LayeredCodec, DecodeRefusesMoreRecordsThanRemainOrPartialRecords) {
    REQUIRE_LAZPERF();
    std::string error;
    const auto sample =
        testing_support::load_laz_sample(std::string(SAMPLES_DIR) + "/append-bug.laz", error);
    ASSERT_TRUE(sample) << error;
    const CodedChunk& chunk = sample->chunks.at(0);
    const auto theirs = testing_support::decode_laz_chunks(8, 41, std::span(&chunk, 1), error);
    ASSERT_TRUE(theirs) << error;
    const std::size_t n = chunk.points;
    LayeredChunkDecoder decoder(sample->laszip.items);
    ASSERT_EQ(decoder.record_length(), 41u);
    const struct {
        const char* name;
        std::size_t first;  // records asked for first, then all the rest
        std::size_t extra_bytes;
        bool first_ok;
    } cases[] = {
        {"one record more than the chunk holds", n + 1, 0, false},
        {"a record and a half", 1, 20, false},
        {"no record", 0, 0, true},
        {"all of them", n, 0, true},
        {"all but the last, then the last", n - 1, 0, true},
        {"the first alone, then the rest", 1, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(decoder.begin(chunk.bytes, chunk.points));
        Bytes out(c.first * 41 + c.extra_bytes);
        EXPECT_EQ(decoder.decode(out), c.first_ok);
        if (!c.first_ok) {
            // A refused request decodes nothing: the chunk is still there to decode.
            EXPECT_EQ(decoder.remaining(), n);
            continue;
        }
        EXPECT_EQ(decoder.remaining(), n - c.first);
        out.resize(n * 41);
        EXPECT_TRUE(decoder.decode(std::span(out).subspan(c.first * 41)));
        EXPECT_EQ(decoder.remaining(), 0u);
        EXPECT_TRUE(out == *theirs) << first_difference(out, *theirs, 41);
    }
}

TEST(LayeredCodec, UnsupportedItems) {
    constexpr LaszipItem p14{10, 30, 3};
    constexpr LaszipItem rgb{11, 6, 3};
    constexpr LaszipItem nir{12, 8, 3};
    constexpr LaszipItem b3{14, 3, 3};
    using Items = std::vector<LaszipItem>;
    const struct {
        const char* name;
        Items items;
        std::optional<LaszipItem> refused;
    } cases[] = {
        {"format 6", {p14}, std::nullopt},
        {"format 7", {p14, rgb}, std::nullopt},
        {"format 8", {p14, nir}, std::nullopt},
        {"format 6 with extra bytes", {p14, b3}, std::nullopt},
        {"format 7 with one extra byte", {p14, rgb, {14, 1, 3}}, std::nullopt},
        {"the longest record", {p14, nir, {14, 65497, 3}}, std::nullopt},
        {"one byte longer than a record can be",
         {p14, nir, {14, 65498, 3}},
         LaszipItem{14, 65498, 3}},
        {"empty list", {}, LaszipItem{}},
        {"POINT14 v2", {{10, 30, 2}}, LaszipItem{10, 30, 2}},
        {"POINT14 v4", {{10, 30, 4}, rgb}, LaszipItem{10, 30, 4}},
        {"POINT14 of 31 bytes", {{10, 31, 3}}, LaszipItem{10, 31, 3}},
        {"POINT10 first", {{6, 20, 2}, {7, 8, 2}}, LaszipItem{6, 20, 2}},
        {"RGB14 v4", {p14, {11, 6, 4}}, LaszipItem{11, 6, 4}},
        {"RGB14 of 8 bytes", {p14, {11, 8, 3}}, LaszipItem{11, 8, 3}},
        {"RGBNIR14 v2", {p14, {12, 8, 2}}, LaszipItem{12, 8, 2}},
        {"BYTE14 of 0 bytes", {p14, {14, 0, 3}}, LaszipItem{14, 0, 3}},
        {"BYTE14 v4", {p14, rgb, {14, 2, 4}}, LaszipItem{14, 2, 4}},
        {"BYTE v2 after POINT14", {p14, {0, 3, 2}}, LaszipItem{0, 3, 2}},
        {"colour after extra bytes", {p14, b3, rgb}, rgb},
        {"two colours", {p14, rgb, nir}, nir},
        {"two BYTE14", {p14, b3, b3}, b3},
        {"two POINT14", {p14, p14}, p14},
        {"colour first", {rgb, p14}, rgb},
        {"wave packets", {p14, rgb, {13, 29, 3}}, LaszipItem{13, 29, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(korvane::laz::layered_unsupported_item(c.items), c.refused);
    }
}

}  // namespace
