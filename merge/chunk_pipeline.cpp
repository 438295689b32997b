#include "chunk_pipeline.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <csignal>
#include <map>

#include "laz/chunk_codec.hpp"

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
                return encode(*work.record, work.bytes);
            case ChunkWork::Kind::Convert:
                return convert(std::move(work.bytes), *work.convert);
            case ChunkWork::Kind::Transcode: {
                ChunkResult decoded = decode(work);
                if (!decoded.ok || decoded.extent.outside) return decoded;
                ChunkResult r = encode(*work.encode_with, decoded.bytes);
                r.extent = decoded.extent;
                return r;
            }
        }
        return {};
    }

  private:
    ChunkResult decode(const ChunkWork& work) {
        laz::ChunkDecoder& decoder = decoders_.try_emplace(work.record, *work.record).first->second;
        ChunkResult r;
        r.points = work.points;
        r.bytes.resize(std::size_t{work.points} * decoder.record_length());
        r.ok = decoder.begin(work.bytes, work.points);
        for (std::size_t at = 0; r.ok && decoder.remaining() > 0;) {
            const std::optional<std::size_t> n = decoder.decode(std::span(r.bytes).subspan(at));
            r.ok = n && *n > 0;
            if (r.ok) at += *n * decoder.record_length();
        }
        if (!r.ok) {
            r.bytes.clear();
            return r;
        }
        if (work.convert != nullptr) r.extent = convert_records(r.bytes, *work.convert);
        return r;
    }

    ChunkResult encode(const laz::LaszipRecord& record, std::span<const std::byte> records) {
        laz::ChunkEncoder& encoder = encoders_.try_emplace(&record, record).first->second;
        encoder.begin();
        encoder.encode(records);
        ChunkResult r;
        r.points = encoder.points();
        const std::span<const std::byte> chunk = encoder.finish();
        r.bytes.assign(chunk.begin(), chunk.end());
        return r;
    }

    static ChunkResult convert(std::vector<std::byte> records, const Conversion& c) {
        ChunkResult r;
        r.extent = convert_records(records, c);
        r.points = static_cast<std::uint32_t>(records.size() / c.record_length);
        r.bytes = std::move(records);
        return r;
    }

    std::map<const laz::LaszipRecord*, laz::ChunkDecoder> decoders_;
    std::map<const laz::LaszipRecord*, laz::ChunkEncoder> encoders_;
};

namespace {

// The signals that end a merge: only the thread that writes the output takes them, so that its
// handler removes the temporary file.
sigset_t merge_ending_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

unsigned default_thread_count() {
    cpu_set_t set;
    CPU_ZERO(&set);
    unsigned n = 1;
    if (sched_getaffinity(0, sizeof set, &set) == 0) n = static_cast<unsigned>(CPU_COUNT(&set));
    return std::clamp(n, 1u, kMaxThreads);
}

ChunkPipeline::ChunkPipeline(unsigned threads) : limit_(2 * std::size_t{threads}) {
    if (threads <= 1) {
        own_coders_ = std::make_unique<ChunkCoders>();
        return;
    }
    // Workers start with these signals blocked: they inherit the mask of the thread that makes
    // them, which gets its own back once they run.
    const sigset_t blocked = merge_ending_signals();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work_loop(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

ChunkPipeline::~ChunkPipeline() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : workers_) t.join();
}

void ChunkPipeline::give(ChunkWork work) {
    if (workers_.empty()) {
        std::promise<ChunkResult> done;
        done.set_value(own_coders_->run(work));
        results_.push_back(done.get_future());
        return;
    }
    Job job{std::move(work), {}};
    results_.push_back(job.result.get_future());
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
}

void ChunkPipeline::give_done(ChunkResult result) {
    std::promise<ChunkResult> done;
    done.set_value(std::move(result));
    results_.push_back(done.get_future());
}

ChunkResult ChunkPipeline::take() {
    ChunkResult r = results_.front().get();
    results_.pop_front();
    return r;
}

void ChunkPipeline::work_loop() {
    ChunkCoders coders;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job.result.set_value(coders.run(job.work));
    }
}

}  // namespace quillet
