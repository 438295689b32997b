// The chunk pipeline on its own: chunks of very different sizes decoded and encoded on 1, 2 and
// 5 threads come back in the order they were given, the same for every thread count; decoded
// records are laz-perf's (which shares no code with us); a damaged chunk fails in its place; the
// work in flight stays bounded. Run under ThreadSanitizer by `make test-tsan`.
#include "write/chunk_pipeline.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "laz_decoder.hpp"
#include "laz_sample.hpp"

namespace {

using Bytes = std::vector<std::byte>;
using quillet::ChunkPipeline;
using quillet::ChunkResult;
using quillet::ChunkWork;

const std::string kSamples = std::string(SAMPLES_DIR) + "/";

struct Given {
    ChunkWork work;
    const testing_support::LazSample* sample = nullptr;  // decoding: whose chunk
    std::size_t chunk = 0;
};

ChunkWork decode_work(const testing_support::LazSample& s, std::size_t first, std::size_t count) {
    ChunkWork w;
    w.record = &s.laszip;
    for (std::size_t c = first; c < first + count; ++c) {
        const testing_support::CodedChunk& chunk = s.chunks[c];
        w.bytes.insert(w.bytes.end(), chunk.bytes.begin(), chunk.bytes.end());
        w.chunks.push_back({chunk.points, static_cast<std::uint32_t>(chunk.bytes.size())});
    }
    return w;
}

// Every chunk of two samples, alternating between 50,000-point chunks and 1,065-point ones, the
// last two of the first sample in one piece of work, one chunk cut short; then encodings.
std::vector<Given> works(const std::vector<testing_support::LazSample>& samples) {
    std::vector<Given> all;
    const std::size_t most = std::max(samples[0].chunks.size(), samples[1].chunks.size());
    for (std::size_t c = 0; c < most; ++c)
        for (const testing_support::LazSample& s : samples) {
            if (c >= s.chunks.size()) continue;
            const bool pair = &s == &samples[0] && c + 2 == s.chunks.size();
            all.push_back({decode_work(s, c, pair ? 2 : 1), &s, c});
            if (pair) break;
        }
    // A chunk of the first sample cut to half its bytes: it does not decode.
    ChunkWork cut = decode_work(samples[0], 1, 1);
    cut.bytes.resize(cut.bytes.size() / 2);
    cut.chunks[0].bytes = static_cast<std::uint32_t>(cut.bytes.size());
    all.insert(all.begin() + 2, {std::move(cut), nullptr, 0});
    return all;
}

std::vector<ChunkResult> run(unsigned threads, std::vector<Given> given) {
    ChunkPipeline pipeline(threads);
    std::vector<ChunkResult> results;
    for (Given& g : given) {
        while (pipeline.full()) results.push_back(pipeline.take());
        pipeline.give(std::move(g.work));
    }
    while (!pipeline.empty()) results.push_back(pipeline.take());
    return results;
}

TEST(ChunkPipeline, ResultsComeBackInTheOrderGivenWhateverTheThreads) {
    ASSERT_TRUE(std::filesystem::exists(kSamples + "lone-star-split-1.laz"))
        << "missing test data: no LAZ samples in " << SAMPLES_DIR;
    std::vector<testing_support::LazSample> samples;
    for (const char* name : {"lone-star-split-1.laz", "laszip-generated.laz"}) {
        std::string error;
        samples.push_back(testing_support::load_laz_sample(kSamples + name, error).value());
    }
    const std::vector<Given> given = works(samples);
    const std::vector<ChunkResult> one = run(1, works(samples));
    ASSERT_EQ(one.size(), given.size());

    // Decoded on one thread: laz-perf's records, and nothing for the damaged chunk.
    const std::string why = testing_support::laz_decoder_unavailable();
    for (std::size_t i = 0; i < given.size(); ++i) {
        SCOPED_TRACE(i);
        if (given[i].sample == nullptr) {
            EXPECT_FALSE(one[i].ok);
            continue;
        }
        ASSERT_TRUE(one[i].ok);
        if (!why.empty()) continue;
        const testing_support::LazSample& s = *given[i].sample;
        const std::size_t n = given[i].work.chunks.size();
        const std::span<const testing_support::CodedChunk> chunks =
            std::span(s.chunks).subspan(given[i].chunk, n);
        std::string error;
        const std::optional<Bytes> theirs =
            testing_support::decode_laz_chunks(s.format, s.record_length, chunks, error);
        ASSERT_TRUE(theirs) << error;
        EXPECT_TRUE(one[i].bytes == *theirs);
    }

    // Encoded again, on several threads: each chunk's own bytes, in order.
    std::vector<Given> encodings;
    for (std::size_t i = 0; i < given.size(); ++i) {
        if (given[i].sample == nullptr || given[i].work.chunks.size() != 1) continue;
        ChunkWork w;
        w.kind = ChunkWork::Kind::Encode;
        w.record = &given[i].sample->laszip;
        w.bytes = one[i].bytes;
        encodings.push_back({std::move(w), given[i].sample, given[i].chunk});
    }
    for (const unsigned threads : {1u, 2u, 5u}) {
        SCOPED_TRACE(threads);
        const std::vector<ChunkResult> decoded = run(threads, works(samples));
        ASSERT_EQ(decoded.size(), one.size());
        for (std::size_t i = 0; i < one.size(); ++i) {
            EXPECT_EQ(decoded[i].ok, one[i].ok) << i;
            EXPECT_TRUE(decoded[i].bytes == one[i].bytes) << i;
        }
        std::vector<Given> again;
        for (const Given& g : encodings) again.push_back({g.work, g.sample, g.chunk});
        const std::vector<ChunkResult> encoded = run(threads, std::move(again));
        ASSERT_EQ(encoded.size(), encodings.size());
        for (std::size_t k = 0; k < encodings.size(); ++k) {
            const auto& bytes = encodings[k].sample->chunks[encodings[k].chunk].bytes;
            EXPECT_TRUE(std::ranges::equal(encoded[k].bytes, bytes)) << "chunk " << k;
            ASSERT_EQ(encoded[k].chunks.size(), 1u);
            EXPECT_EQ(encoded[k].chunks[0].bytes, bytes.size());
        }
    }
}

TEST(ChunkPipeline, WorkInFlightIsBounded) {
    for (const unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        const korvane::laz::LaszipRecord record = korvane::laz::standard_laszip_record(0, 0, 50000);
        ChunkPipeline pipeline(threads);
        EXPECT_TRUE(pipeline.empty());
        auto points_of = [](const ChunkResult& r) {
            return r.chunks.empty() ? 0 : r.chunks[0].points;
        };
        for (unsigned i = 0; i < 2 * threads; ++i) {
            EXPECT_FALSE(pipeline.full()) << i;
            ChunkWork w;
            w.kind = ChunkWork::Kind::Encode;
            w.record = &record;
            w.bytes = Bytes(20 * (i + 1));
            pipeline.give(std::move(w));
        }
        EXPECT_TRUE(pipeline.full());
        EXPECT_EQ(points_of(pipeline.take()), 1u);
        EXPECT_FALSE(pipeline.full());
        ChunkResult done;
        done.bytes = Bytes(3);
        done.chunks = {{7, 3}};
        pipeline.give_done(std::move(done));
        std::vector<std::uint32_t> points;
        while (!pipeline.empty()) points.push_back(points_of(pipeline.take()));
        ASSERT_EQ(points.size(), 2 * threads);
        EXPECT_EQ(points.back(), 7u) << "a done result keeps its place";
        for (std::size_t i = 0; i + 1 < points.size(); ++i) EXPECT_EQ(points[i], i + 2);
    }
}

}  // namespace
