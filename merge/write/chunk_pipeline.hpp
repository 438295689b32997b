// Coding LAZ chunks on every core. The caller gives work (a chunk to decode, records to encode
// into one chunk) in output order; worker threads do it; the caller takes the results back in
// the order it gave the work, whichever thread did it, so the output's bytes never depend on the
// number of threads. Workers get their input as owned bytes and give back values: they touch no
// file and share no state but the queue of work. With one thread no worker is started and the
// work is done as it is given.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "laz/chunk_table_coder.hpp"
#include "laz/laszip_record.hpp"
#include "write/ordered_tasks.hpp"
#include "write/record_transform.hpp"

namespace quillet {

struct ChunkWork {
    enum class Kind {
        Decode,     // chunks to records, transformed when `transform` is set
        Encode,     // records to one chunk, or to the chunks of the points that `chunks` lists
        Transform,  // input records to output records
        Transcode,  // chunks decoded, their records transformed, each encoded as one chunk again
    };
    Kind kind = Kind::Decode;
    // The record that says how the chunks are coded, and for Transcode the output's; they
    // outlive the pipeline, as does the transform.
    const korvane::laz::LaszipRecord* record = nullptr;
    // Decode, Transcode: compressed chunks back to back, as `chunks` lists them (several small
    // chunks go in one piece of work). Encode, Transform: whole records.
    std::vector<std::byte> bytes;
    std::vector<korvane::LazChunk> chunks;
    const RecordTransform* transform = nullptr;
    const korvane::laz::LaszipRecord* encode_with = nullptr;
    // Storage for the result's bytes, which the result gives back: buffers are reused, not made
    // anew for every piece of work.
    std::vector<std::byte> output;
};

struct ChunkResult {
    bool ok = true;                // false: a chunk does not decode to its points
    std::size_t failed_chunk = 0;  // when not ok: which of the work's chunks
    std::vector<std::byte> bytes;  // records, or encoded chunks back to back (Encode, Transcode)
    std::vector<korvane::LazChunk> chunks;  // Encode, Transcode: the chunks in `bytes`
    ConvertedExtent extent;        // of transformed records; a record outside the 32-bit range
    std::vector<std::byte> spare;  // the work's other buffer, given back for reuse
};

// The number of threads that codes chunks by default: the cores this process may run on, at
// most kMaxThreads.
inline constexpr unsigned kMaxThreads = 64;
unsigned default_thread_count();

// The thread count that `text` states: a whole number from 1 to kMaxThreads, in decimal.
std::optional<unsigned> thread_count_of(std::string_view text);
// The line that refuses `text` as a thread count.
std::string thread_count_refusal(std::string_view text);

class ChunkCoders;

// Chunks coded on worker threads, each with its own coders, taken back in the order given.
class ChunkPipeline {
  public:
    explicit ChunkPipeline(unsigned threads);
    ~ChunkPipeline();
    ChunkPipeline(const ChunkPipeline&) = delete;
    ChunkPipeline& operator=(const ChunkPipeline&) = delete;

    // Whether the work in flight has reached the bound (two pieces per thread), at which the
    // caller takes a result before it gives more: memory stays fixed.
    bool full() const { return tasks_.full(); }
    bool empty() const { return tasks_.empty(); }

    void give(ChunkWork work);
    // A result that needs no work (records read from a LAS file), in its place in the order.
    void give_done(ChunkResult result);
    // The result of the oldest work given; waits for it. Not to be called when empty().
    ChunkResult take();

  private:
    OrderedTasks<ChunkResult, ChunkCoders> tasks_;
};

}  // namespace quillet
