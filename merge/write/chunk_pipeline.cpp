#include "write/chunk_pipeline.hpp"

#include <sched.h>

#include <algorithm>
#include <csignal>
#include <map>

#include "laz/chunk_codec.hpp"
#include "write/ordered_tasks.hpp"

namespace quillet {
namespace {

namespace laz = korvane::laz;

}  // namespace

// The coders of one thread, one decoder or encoder per LASzip record, made once and reset for
// each chunk.
class ChunkCoders {
  public:
    ChunkResult run(ChunkWork& work) {
        switch (work.kind) {
            case ChunkWork::Kind::Decode:
                return decode(work);
            case ChunkWork::Kind::Encode:
                return encode(work);
            case ChunkWork::Kind::Transform:
                return transform(work);
            case ChunkWork::Kind::Transcode:
                return transcode(work);
        }
        return {};
    }

  private:
    laz::ChunkDecoder& decoder(const laz::LaszipRecord& r) {
        return decoders_.try_emplace(&r, r).first->second;
    }
    laz::ChunkEncoder& encoder(const laz::LaszipRecord& r) {
        return encoders_.try_emplace(&r, r).first->second;
    }

    // Decodes one chunk of `bytes` at `at` into `into` (resized to its records); false when it
    // is damaged.
    bool decode_chunk(laz::ChunkDecoder& d, std::span<const std::byte> chunk, std::uint32_t points,
                      std::vector<std::byte>& into, std::size_t into_at) {
        into.resize(into_at + std::size_t{points} * d.record_length());
        if (!d.begin(chunk, points)) return false;
        for (std::size_t at = into_at; d.remaining() > 0;) {
            const std::optional<std::size_t> n = d.decode(std::span(into).subspan(at));
            if (!n || *n == 0) return false;
            at += *n * d.record_length();
        }
        return true;
    }

    // The chunks' records, transformed when the work says so (decoded into this thread's own
    // buffer first).
    ChunkResult decode(ChunkWork& work) {
        laz::ChunkDecoder& d = decoder(*work.record);
        ChunkResult r;
        r.bytes = std::move(work.output);
        r.bytes.clear();
        std::vector<std::byte>& decoded = work.transform != nullptr ? records_ : r.bytes;
        decoded.clear();
        std::size_t at = 0;
        for (std::size_t c = 0; c < work.chunks.size(); ++c) {
            const korvane::LazChunk& chunk = work.chunks[c];
            if (!decode_chunk(d, std::span(work.bytes).subspan(at, chunk.bytes), chunk.points,
                              decoded, decoded.size())) {
                r.ok = false;
                r.failed_chunk = c;
                break;
            }
            at += chunk.bytes;
        }
        if (r.ok && work.transform != nullptr)
            r.extent = transform_records(decoded, r.bytes, *work.transform);
        r.spare = std::move(work.bytes);
        return r;
    }

    // All the records as one chunk, or, when `chunks` lists their points, as those chunks.
    ChunkResult encode(ChunkWork& work) {
        laz::ChunkEncoder& e = encoder(*work.record);
        ChunkResult r;
        r.bytes = std::move(work.output);
        r.bytes.clear();
        auto one = [&](std::span<const std::byte> records) {
            e.begin();
            e.encode(records);
            const std::span<const std::byte> chunk = e.finish();
            r.bytes.insert(r.bytes.end(), chunk.begin(), chunk.end());
            r.chunks.push_back({e.points(), static_cast<std::uint32_t>(chunk.size())});
        };
        if (work.chunks.empty()) {
            one(work.bytes);
        } else {
            std::size_t at = 0;
            for (const korvane::LazChunk& c : work.chunks) {
                const std::size_t n = std::size_t{c.points} * e.record_length();
                one(std::span(work.bytes).subspan(at, n));
                at += n;
            }
        }
        r.spare = std::move(work.bytes);
        return r;
    }

    static ChunkResult transform(ChunkWork& work) {
        ChunkResult r;
        r.bytes = std::move(work.output);
        r.bytes.clear();
        r.extent = transform_records(work.bytes, r.bytes, *work.transform);
        r.spare = std::move(work.bytes);
        return r;
    }

    ChunkResult transcode(ChunkWork& work) {
        laz::ChunkDecoder& d = decoder(*work.record);
        laz::ChunkEncoder& e = encoder(*work.encode_with);
        ChunkResult r;
        r.bytes = std::move(work.output);
        r.bytes.clear();
        std::size_t at = 0;
        std::uint64_t before = 0;
        for (std::size_t c = 0; c < work.chunks.size(); ++c) {
            const korvane::LazChunk& chunk = work.chunks[c];
            if (!decode_chunk(d, std::span(work.bytes).subspan(at, chunk.bytes), chunk.points,
                              records_, 0)) {
                r.ok = false;
                r.failed_chunk = c;
                break;
            }
            at += chunk.bytes;
            std::span<const std::byte> records = records_;
            if (work.transform != nullptr) {
                transformed_.clear();
                const ConvertedExtent x =
                    transform_records(records_, transformed_, *work.transform);
                r.extent.add(x, before);
                if (x.outside) break;
                records = transformed_;
            }
            before += chunk.points;
            e.begin();
            e.encode(records);
            const std::span<const std::byte> coded = e.finish();
            r.bytes.insert(r.bytes.end(), coded.begin(), coded.end());
            r.chunks.push_back({chunk.points, static_cast<std::uint32_t>(coded.size())});
        }
        r.spare = std::move(work.bytes);
        return r;
    }

    std::map<const laz::LaszipRecord*, laz::ChunkDecoder> decoders_;
    std::map<const laz::LaszipRecord*, laz::ChunkEncoder> encoders_;
    std::vector<std::byte> records_;      // decoded records, before they are transformed
    std::vector<std::byte> transformed_;  // Transcode: one chunk's records, transformed
};

sigset_t merge_ending_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

std::optional<unsigned> thread_count_of(std::string_view text) {
    unsigned n = 0;
    if (text.empty() || text.size() > 2) return std::nullopt;
    for (const char ch : text) {
        if (ch < '0' || ch > '9') return std::nullopt;
        n = 10 * n + static_cast<unsigned>(ch - '0');
    }
    if (n < 1 || n > kMaxThreads) return std::nullopt;
    return n;
}

std::string thread_count_refusal(std::string_view text) {
    return "The number of threads must be a whole number from 1 to " + std::to_string(kMaxThreads) +
           ", not " + std::string(text);
}

unsigned default_thread_count() {
    cpu_set_t set;
    CPU_ZERO(&set);
    unsigned n = 1;
    if (sched_getaffinity(0, sizeof set, &set) == 0) n = static_cast<unsigned>(CPU_COUNT(&set));
    return std::clamp(n, 1u, kMaxThreads);
}

ChunkPipeline::ChunkPipeline(unsigned threads) : tasks_(threads) {}

ChunkPipeline::~ChunkPipeline() = default;

void ChunkPipeline::give(ChunkWork work) {
    tasks_.give([work = std::move(work)](ChunkCoders& coders) mutable { return coders.run(work); });
}

void ChunkPipeline::give_done(ChunkResult result) {
    tasks_.give_done(std::move(result));
}

ChunkResult ChunkPipeline::take() {
    return tasks_.take();
}

}  // namespace quillet
