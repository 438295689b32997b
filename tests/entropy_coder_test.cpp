// The entropy coder on its own: the bytes LASzip's writer produced for two chunk tables (coded
// by one integer compressor of 32 bits and 2 contexts), round trips of the integer compressor
// at every width the LAZ items use, raw bits, the symbol search against a plain scan, and
// streams cut short.
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "laz/arithmetic_decoder.hpp"
#include "laz/arithmetic_encoder.hpp"
#include "laz/arithmetic_models.hpp"
#include "laz/integer_compressor.hpp"

namespace {

using korvane::laz::ArithmeticDecoder;
using korvane::laz::ArithmeticEncoder;
using korvane::laz::IntegerCompressor;
using korvane::laz::SymbolModel;
using Random = std::mt19937;

std::vector<std::byte> from_hex(const std::string& hex) {
    std::vector<std::byte> out;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        out.push_back(static_cast<std::byte>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

TEST(EntropyCoder, WritersTestVectors) {
    // (context, value) pairs, each predicted by the previous value of its context.
    struct Case {
        std::vector<std::pair<std::uint32_t, std::int32_t>> values;
        std::string hex;
    };
    const Case cases[] = {
        {{{0, 5327}, {1, 80852}, {0, 5326}, {1, 79837}}, "69e2cc5b2241e2a7000000"},
        {{{1, 16855}, {1, 16376}, {1, 16798}, {1, 16170}, {1, 16770}, {1, 5913}},
         "7859049680b85997d79a6f2a9c000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        ArithmeticEncoder enc;
        IntegerCompressor ic(32, 2);
        std::int32_t last[2] = {0, 0};
        for (const auto& [context, value] : c.values) {
            ic.compress(enc, last[context], value, context);
            last[context] = value;
        }
        const std::vector<std::byte> coded = enc.finish();
        EXPECT_EQ(coded, from_hex(c.hex));

        ArithmeticDecoder dec(coded);
        IntegerCompressor back(32, 2);
        std::int32_t seen[2] = {0, 0};
        for (const auto& [context, value] : c.values) {
            seen[context] = back.decompress(dec, seen[context], context);
            EXPECT_EQ(seen[context], value);
        }
        EXPECT_FALSE(dec.overrun());
        EXPECT_EQ(dec.consumed(), coded.size()) << "the decoder reads exactly what was written";
    }
}

TEST(EntropyCoder, IntegerCompressorRoundTrips) {
    // Widths, context counts and modelled bits as the LAZ items use them, and a range.
    struct Case {
        std::uint32_t bits, contexts, bits_high, range;
    };
    const Case cases[] = {
        {8, 1, 8, 0},  {16, 4, 8, 0}, {16, 1, 8, 0}, {32, 22, 8, 0},
        {32, 9, 8, 0}, {32, 2, 8, 0}, {17, 1, 8, 0}, {0, 1, 8, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, range " + std::to_string(c.range));
        const std::uint32_t span = c.range != 0 ? c.range : c.bits < 32 ? 1u << c.bits : 0;
        Random rng(c.bits * 31 + c.contexts);
        std::vector<std::int32_t> values;
        auto in_range = [&](std::uint32_t v) {
            return static_cast<std::int32_t>(span == 0 ? v : v % span);
        };
        // The extremes of the width, small steps, and anything at all.
        for (std::uint32_t v : {0u, 1u, 2u, span - 1, span - 2, span / 2, span / 2 - 1, 0x80000000u,
                                0x7FFFFFFFu, 0xFFFFFFFFu})
            values.push_back(in_range(v));
        std::int32_t walk = 0;
        for (int i = 0; i < 3000; ++i) {
            walk = in_range(static_cast<std::uint32_t>(walk) + rng() % 7 - 3 + (span == 0));
            values.push_back(walk);
            values.push_back(in_range(rng()));
        }
        ArithmeticEncoder enc;
        IntegerCompressor ic(c.bits, c.contexts, c.bits_high, c.range);
        std::vector<std::uint32_t> ks;
        std::int32_t pred = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            ic.compress(enc, pred, values[i], static_cast<std::uint32_t>(i % c.contexts));
            ks.push_back(ic.k());
            pred = values[i];
        }
        const std::vector<std::byte> coded = enc.finish();
        ArithmeticDecoder dec(coded);
        IntegerCompressor back(c.bits, c.contexts, c.bits_high, c.range);
        pred = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const std::int32_t got =
                back.decompress(dec, pred, static_cast<std::uint32_t>(i % c.contexts));
            ASSERT_EQ(got, values[i]) << "value " << i;
            ASSERT_EQ(back.k(), ks[i])
                << "k of value " << i << ", which callers choose contexts by";
            pred = got;
        }
        EXPECT_FALSE(dec.overrun());
        EXPECT_EQ(dec.consumed(), coded.size());

        // Reset brings both sides back to a new compressor's state: the same stream again.
        ic.reset();
        enc.reset();
        pred = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            ic.compress(enc, pred, values[i], static_cast<std::uint32_t>(i % c.contexts));
            pred = values[i];
        }
        EXPECT_EQ(enc.finish(), coded);
    }
}

TEST(EntropyCoder, RawBitsAndSymbolsInterleaved) {
    Random rng(7);
    struct Step {
        int kind;  // 0 bits, 1 int64, 2 symbol, 3 bit
        std::uint32_t bits;
        std::uint64_t value;
    };
    std::vector<Step> steps;
    for (int i = 0; i < 20000; ++i) {
        const int kind = static_cast<int>(rng() % 4);
        const std::uint32_t bits = 1 + rng() % 32;
        std::uint64_t value = (std::uint64_t{rng()} << 32) | rng();
        if (kind == 0) value &= bits == 32 ? 0xFFFFFFFFull : (1ull << bits) - 1;
        if (kind == 2) value %= 256;
        if (kind == 3) value = (rng() % 10) < 8;  // mostly ones: the bit model leans
        steps.push_back({kind, bits, value});
    }
    ArithmeticEncoder enc;
    SymbolModel symbols(256);
    korvane::laz::BitModel bit;
    for (const Step& s : steps) {
        if (s.kind == 0) enc.write_bits(s.bits, static_cast<std::uint32_t>(s.value));
        if (s.kind == 1) enc.write_int64(s.value);
        if (s.kind == 2) enc.encode_symbol(symbols, static_cast<std::uint32_t>(s.value));
        if (s.kind == 3) enc.encode_bit(bit, static_cast<std::uint32_t>(s.value));
    }
    const std::vector<std::byte> coded = enc.finish();
    ArithmeticDecoder dec(coded);
    symbols.reset();
    bit.reset();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        std::uint64_t got = 0;
        if (s.kind == 0) got = dec.read_bits(s.bits);
        if (s.kind == 1) got = dec.read_int64();
        if (s.kind == 2) got = dec.decode_symbol(symbols);
        if (s.kind == 3) got = dec.decode_bit(bit);
        ASSERT_EQ(got, s.value) << "step " << i << " of kind " << s.kind;
    }
    EXPECT_EQ(dec.consumed(), coded.size());

    // Cut short anywhere, the stream is flagged as overrun instead of read past its end.
    for (const std::size_t cut :
         {std::size_t{0}, std::size_t{3}, coded.size() / 2, coded.size() - 1}) {
        ArithmeticDecoder shortened(std::span<const std::byte>(coded).first(cut));
        symbols.reset();
        bit.reset();
        for (const Step& s : steps) {
            if (s.kind == 0) shortened.read_bits(s.bits);
            if (s.kind == 1) shortened.read_int64();
            if (s.kind == 2) shortened.decode_symbol(symbols);
            if (s.kind == 3) shortened.decode_bit(bit);
        }
        EXPECT_TRUE(shortened.overrun()) << "cut at " << cut;
        EXPECT_LE(shortened.consumed(), cut);
    }
}

TEST(EntropyCoder, SymbolSearchAgreesWithAPlainScan) {
    // The search table narrows the scan differently for small and large models; after any
    // history of symbols, every offset must find the symbol whose share holds it.
    for (const std::uint32_t n : {2u, 3u, 16u, 17u, 64u, 256u, 515u, 2048u}) {
        SCOPED_TRACE(n);
        SymbolModel m(n);
        m.prepare();
        Random rng(n);
        for (int round = 0; round < 40; ++round) {
            // A skewed history: a few symbols often, the others rarely.
            for (int i = 0; i < 300; ++i) m.record(rng() % 4 == 0 ? rng() % n : rng() % 3 % n);
            for (std::uint32_t scaled = 0; scaled < (1u << 15) + 64; scaled += 1 + rng() % 61) {
                std::uint32_t expected = 0;
                while (expected + 1 < n && m.low(expected + 1) <= scaled) ++expected;
                ASSERT_EQ(m.find(scaled), expected) << "offset " << scaled;
            }
        }
    }
}

}  // namespace
