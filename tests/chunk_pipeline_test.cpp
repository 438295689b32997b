// The chunk pipeline on its own: chunks of very different sizes decoded and encoded on 1, 2 and
// 5 threads come back in the order they were given, the same for every thread count; decoded
// records are laz-perf's (which shares no code with us); a damaged chunk fails in its place; the
// work in flight stays bounded. Run under ThreadSanitizer by `make test-tsan`.
#include "chunk_pipeline.hpp"

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

// Every chunk of two samples, alternating between 50,000-point chunks and 1,065-point ones,
// one of them cut short, then encodings of records.
std::vector<Given> works(const std::vector<testing_support::LazSample>& samples) {
    std::vector<Given> all;
    const std::size_t most = std::max(samples[0].chunks.size(), samples[1].chunks.size());
    for (std::size_t c = 0; c < most; ++c)
        for (const testing_support::LazSample& s : samples) {
            if (c >= s.chunks.size()) continue;
            const testing_support::CodedChunk& chunk = s.chunks[c];
            all.push_back({{ChunkWork::Kind::Decode, &s.laszip,
                            Bytes(chunk.bytes.begin(), chunk.bytes.end()), chunk.points},
                           &s,
                           c});
        }
    // A chunk of the first sample cut to half its bytes: it does not decode.
    const testing_support::CodedChunk& cut = samples[0].chunks[1];
    all.insert(all.begin() + 2,
               {{ChunkWork::Kind::Decode, &samples[0].laszip,
                 Bytes(cut.bytes.begin(), cut.bytes.begin() + cut.bytes.size() / 2), cut.points},
                nullptr,
                0});
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
    if (!std::filesystem::exists(kSamples + "lone-star-split-1.laz"))
        GTEST_SKIP() << "no LAZ samples in " << SAMPLES_DIR;
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
        const testing_support::CodedChunk chunk = s.chunks[given[i].chunk];
        std::string error;
        const std::optional<Bytes> theirs = testing_support::decode_laz_chunks(
            s.format, s.record_length, std::span(&chunk, 1), error);
        ASSERT_TRUE(theirs) << error;
        EXPECT_TRUE(one[i].bytes == *theirs);
    }

    // Encoded again, on several threads: each chunk's own bytes, in order.
    std::vector<Given> encodings;
    for (std::size_t i = 0; i < given.size(); ++i)
        if (given[i].sample != nullptr)
            encodings.push_back(
                {{ChunkWork::Kind::Encode, &given[i].sample->laszip, one[i].bytes, 0}, nullptr, 0});
    for (const unsigned threads : {1u, 2u, 5u}) {
        SCOPED_TRACE(threads);
        const std::vector<ChunkResult> decoded = run(threads, works(samples));
        ASSERT_EQ(decoded.size(), one.size());
        for (std::size_t i = 0; i < one.size(); ++i) {
            EXPECT_EQ(decoded[i].ok, one[i].ok) << i;
            EXPECT_TRUE(decoded[i].bytes == one[i].bytes) << i;
        }
        const std::vector<ChunkResult> encoded = run(threads, encodings);
        std::size_t k = 0;
        for (std::size_t i = 0; i < given.size(); ++i) {
            if (given[i].sample == nullptr) continue;
            const auto& bytes = given[i].sample->chunks[given[i].chunk].bytes;
            EXPECT_TRUE(std::ranges::equal(encoded[k].bytes, bytes)) << "chunk " << i;
            ++k;
        }
    }
}

TEST(ChunkPipeline, WorkInFlightIsBounded) {
    for (const unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        const korvane::laz::LaszipRecord record = korvane::laz::standard_laszip_record(0, 0, 50000);
        ChunkPipeline pipeline(threads);
        EXPECT_TRUE(pipeline.empty());
        for (unsigned i = 0; i < 2 * threads; ++i) {
            EXPECT_FALSE(pipeline.full()) << i;
            pipeline.give({ChunkWork::Kind::Encode, &record, Bytes(20 * (i + 1)), 0});
        }
        EXPECT_TRUE(pipeline.full());
        EXPECT_EQ(pipeline.take().points, 1u);
        EXPECT_FALSE(pipeline.full());
        ChunkResult done;
        done.bytes = Bytes(3);
        done.points = 7;
        pipeline.give_done(std::move(done));
        std::vector<std::uint32_t> points;
        while (!pipeline.empty()) points.push_back(pipeline.take().points);
        ASSERT_EQ(points.size(), 2 * threads);
        EXPECT_EQ(points.back(), 7u) << "a done result keeps its place";
        for (std::size_t i = 0; i + 1 < points.size(); ++i) EXPECT_EQ(points[i], i + 2);
    }
}

}  // namespace
