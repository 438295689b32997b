// The LAZ chunk-table coder: the bytes LASzip's writer produces, round trips of extreme and
// random tables, truncated tables, and the tables of every real LAZ sample.
#include "laz/chunk_table_coder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

using korvane::LazChunk;
using Chunks = std::vector<LazChunk>;
using Random = std::independent_bits_engine<std::mt19937, 32, std::uint32_t>;

std::vector<std::byte> from_hex(const std::string& hex) {
    std::vector<std::byte> out;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        out.push_back(static_cast<std::byte>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

TEST(ChunkTableCoder, WritersTestVectors) {
    const struct {
        Chunks chunks;
        bool variable;
        std::string hex;
    } cases[] = {
        {{{5327, 80852}, {5326, 79837}}, true, "69e2cc5b2241e2a7000000"},
        {{{0, 16855}, {0, 16376}, {0, 16798}, {0, 16170}, {0, 16770}, {0, 5913}},
         false,
         "7859049680b85997d79a6f2a9c000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        const auto coded = from_hex(c.hex);
        EXPECT_EQ(korvane::encode_chunk_table(c.chunks, c.variable), coded);
        // Bytes a writer leaves after the table are not read.
        auto padded = coded;
        padded.insert(padded.end(), 5, std::byte{0xA5});
        const auto n = static_cast<std::uint32_t>(c.chunks.size());
        const auto decoded = korvane::decode_chunk_table(padded, n, c.variable);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->chunks, c.chunks);
        EXPECT_EQ(decoded->consumed, coded.size());
    }
}

using Next = LazChunk (*)(LazChunk previous, Random& rng);

// A table: `head`, then `count` chunks each made from the one before (zeros before the first).
struct RoundTrip {
    const char* name;
    Chunks head;
    std::uint32_t count = 0;
    Next next = nullptr;
};

TEST(ChunkTableCoder, RoundTripsWithinTheBoundAndRefusesTruncations) {
    constexpr std::uint32_t kMax = 0xFFFFFFFFu;
    const Next flip = [](LazChunk p, Random&) { return LazChunk{~p.points, p.points}; };
    const Next min32 = [](LazChunk p, Random& r) {  // differences of INT32_MIN (and 0)
        return LazChunk{p.points ^ 0x80000000u, p.bytes ^ (r() & 0x80000000u)};
    };
    const Next max32 = [](LazChunk p, Random&) {  // differences of +-INT32_MAX
        return LazChunk{p.points + 0x7FFFFFFFu, p.bytes - 0x7FFFFFFFu};
    };
    const Next same = [](LazChunk, Random&) { return LazChunk{50000, 412345}; };
    const Next typical = [](LazChunk, Random& r) {
        return LazChunk{50000 - r() % 3, 300000 + r() % 65536};
    };
    const Next random = [](LazChunk, Random& r) { return LazChunk{r(), r()}; };
    const Next walk = [](LazChunk p, Random& r) {  // differences of every bit length
        const auto k = r() % 33;
        const auto delta = [&] { return k == 0 ? r() % 2 : r() >> (32 - k); };
        return LazChunk{p.points + delta(), p.bytes - delta()};
    };
    const RoundTrip cases[] = {
        {"none", {}},
        {"one of zeros", {{0, 0}}},
        {"one of ones", {{1, 1}}},
        {"one of maxima", {{kMax, kMax}}},
        {"alternating 0 and max", {}, 1000, flip},
        {"differences of INT32_MIN", {}, 1000, min32},
        {"differences of +-INT32_MAX", {{1, kMax}}, 1000, max32},
        {"long run", {}, 100000, same},
        {"typical", {}, 100000, typical},
        {"random values", {}, 100000, random},
        {"random differences", {}, 100000, walk},
    };
    Random rng(20240611);
    for (const auto& c : cases) {
        Chunks chunks = c.head;
        for (std::uint32_t i = 0; i < c.count; ++i)
            chunks.push_back(c.next(chunks.empty() ? LazChunk{} : chunks.back(), rng));
        const auto n = static_cast<std::uint32_t>(chunks.size());
        for (const bool variable : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (variable ? ", variable" : ", fixed"));
            const auto coded = korvane::encode_chunk_table(chunks, variable);
            EXPECT_LE(coded.size(), korvane::max_coded_chunk_table_bytes(n, variable));
            const auto decoded = korvane::decode_chunk_table(coded, n, variable);
            ASSERT_TRUE(decoded);
            Chunks expected = chunks;  // a fixed table holds byte sizes only
            for (auto& e : expected) e.points = variable ? e.points : 0;
            EXPECT_EQ(decoded->chunks, expected);
            EXPECT_EQ(decoded->consumed, coded.size());
            // Every shorter prefix is refused (of a long table, ten from the longest down).
            const std::size_t step = n <= 1000 ? 1 : coded.size() / 10 + 1;
            for (std::size_t cut = 1; cut <= coded.size(); cut += step) {
                const auto prefix = std::span(coded).first(coded.size() - cut);
                EXPECT_FALSE(korvane::decode_chunk_table(prefix, n, variable)) << prefix.size();
            }
        }
    }
}

template <typename T>
T get(const std::vector<std::byte>& f, std::uint64_t at) {
    T v{};
    if (at <= f.size() && f.size() - at >= sizeof v) std::memcpy(&v, f.data() + at, sizeof v);
    return v;
}

// Decodes a LAZ file's chunk table, checks it against the file and codes it again; says what
// it found.
std::string check_laz_table(const std::vector<std::byte>& f) {
    const auto is_laszip = [&f](std::uint64_t vlr) {
        const auto user_id = get<std::array<char, 16>>(f, vlr + 2);
        return !std::strncmp(user_id.data(), "laszip encoded", 16) &&
               get<std::uint16_t>(f, vlr + 18) == 22204;
    };
    std::uint64_t vlr = get<std::uint16_t>(f, 94);
    auto left = get<std::uint32_t>(f, 100);
    for (; left > 0 && !is_laszip(vlr); --left) vlr += 54 + get<std::uint16_t>(f, vlr + 20);
    EXPECT_GT(left, 0u) << "no LASzip VLR";
    if (left == 0 || get<std::uint16_t>(f, vlr + 54) < 2) return "not chunked, skipped";
    const bool variable = get<std::uint32_t>(f, vlr + 54 + 12) == 0xFFFFFFFFu;
    const std::uint64_t data = get<std::uint32_t>(f, 96);
    auto table = get<std::uint64_t>(f, data);
    if (table == ~std::uint64_t{0}) table = get<std::uint64_t>(f, f.size() - 8);
    const auto count = get<std::uint32_t>(f, table + 4);
    const auto coded = std::span(f).subspan(std::min<std::uint64_t>(table + 8, f.size()));
    const auto decoded = korvane::decode_chunk_table(coded, count, variable);
    EXPECT_TRUE(decoded);
    if (!decoded) return "table not decoded";
    std::uint64_t bytes = 0, points = 0;
    for (const auto& c : decoded->chunks) bytes += c.bytes, points += c.points;
    EXPECT_EQ(bytes, table - (data + 8));
    if (variable) {
        const bool v14 = get<std::uint8_t>(f, 25) >= 4;
        EXPECT_EQ(points, v14 ? get<std::uint64_t>(f, 247) : get<std::uint32_t>(f, 107));
    }
    EXPECT_TRUE(std::ranges::equal(korvane::encode_chunk_table(decoded->chunks, variable),
                                   coded.first(decoded->consumed)));
    EXPECT_LE(decoded->consumed, korvane::max_coded_chunk_table_bytes(count, variable));
    return std::to_string(count) + " chunks, " + std::to_string(decoded->consumed) +
           " coded bytes, " + (variable ? "variable" : "fixed");
}

TEST(ChunkTableCoder, RealLazSamples) {
    const std::filesystem::path dir(SAMPLES_DIR);
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << "missing test data: no samples in " << dir;
    int tables = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".laz") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        std::vector<std::byte> f(entry.file_size());
        std::ifstream(entry.path(), std::ios::binary)
            .read(reinterpret_cast<char*>(f.data()), static_cast<std::streamsize>(f.size()));
        const std::string found = check_laz_table(f);
        tables += found.ends_with("fixed") || found.ends_with("variable");
        std::printf("  %s: %s\n", name.c_str(), found.c_str());
    }
    EXPECT_GT(tables, 0) << "no chunked LAZ sample in " << dir;
}

}  // namespace
