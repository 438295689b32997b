#include "write/merged_file_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <optional>

#include "core/status.hpp"
#include "full_io.hpp"
#include "las/byte_order.hpp"
#include "laz/chunk_codec.hpp"
#include "laz/chunk_head.hpp"
#include "laz/chunk_table.hpp"
#include "plan/header_box.hpp"
#include "read/input_file.hpp"
#include "read/input_recheck.hpp"
#include "unique_fd.hpp"
#include "write/byte_copy.hpp"
#include "write/chunk_pipeline.hpp"
#include "write/file_size_signal.hpp"
#include "write/temporary_output.hpp"

namespace quillet {
namespace {

using ull = unsigned long long;

// The most bytes copied between two reports of progress.
constexpr std::uint64_t kProgressBytes = std::uint64_t{4} << 20;

// A stretch of a copy made before one report of progress, and the points it holds.
struct Slice {
    std::uint64_t bytes = 0;
    std::uint64_t points = 0;
};

// The next slice of a copy of `left` more bytes of an input's points: LAS records up to
// kProgressBytes, LAZ chunks (of `chunks`, from `chunk` on) up to kProgressBytes, one at least.
Slice next_slice(const InputDescription& d, std::span<const korvane::LazChunk> chunks,
                 std::uint64_t left, std::size_t& chunk) {
    if (!d.compressed) {
        const std::uint64_t records = std::min(
            left / d.record_length, std::max<std::uint64_t>(1, kProgressBytes / d.record_length));
        return {records * d.record_length, records};
    }
    if (chunk == chunks.size()) return {left, 0};
    Slice s;
    for (;
         chunk < chunks.size() && (s.bytes == 0 || s.bytes + chunks[chunk].bytes <= kProgressBytes);
         ++chunk) {
        s.bytes += chunks[chunk].bytes;
        s.points += chunks[chunk].points;
    }
    return s;
}

// The input a piece reads whole (a copy, its points, a shift); nothing for the others.
std::optional<std::size_t> input_of(const Piece& piece) {
    if (const auto* p = std::get_if<CopyPiece>(&piece)) return p->input;
    if (const auto* p = std::get_if<PointsPiece>(&piece)) return p->input;
    if (const auto* p = std::get_if<ShiftPiece>(&piece)) return p->input;
    return std::nullopt;
}

// One use of an input by the plan: a piece that copies or decodes it, or a segment of a run.
struct Use {
    std::size_t piece = 0;
    std::size_t segment = 0;
    auto operator<=>(const Use&) const = default;
};

// The state of one write: where each piece went and what was written.
class Writer {
  public:
    Writer(const MergeJob& job, const OutputLayout& layout, unsigned threads, int fd,
           const MergeEvents& events, korvane::FileSystem& fs)
        : job_(job),
          layout_(layout),
          threads_(threads),
          fd_(fd),
          events_(events),
          fs_(fs),
          record_length_(layout.record_length) {
        for (const InputDescription& d : job.inputs) total_ += d.point_count;
        for (std::size_t k = 0; k < layout.pieces.size(); ++k) {
            const Piece& p = layout.pieces[k];
            if (const std::optional<std::size_t> input = input_of(p)) note_use(*input, {k, 0});
            if (const auto* run = std::get_if<RunPiece>(&p))
                for (std::size_t j = 0; j < run->sources.size(); ++j)
                    note_use(run->sources[j].input, {k, j});
        }
    }

    bool write_pieces() {
        for (std::size_t k = 0; k < layout_.pieces.size(); ++k) {
            const Piece& p = layout_.pieces[k];
            offsets_.push_back(at_);
            if (const Mark mark = mark_of(p); mark != Mark::None) marked_[mark] = at_;
            if (!write_piece(k, p)) return false;
        }
        return true;
    }

    // Fills in what only the written file tells: the offsets that patches name, and the box of
    // the converted points.
    bool write_patches() {
        for (std::size_t k = 0; k < layout_.pieces.size(); ++k) {
            const auto* bytes = std::get_if<BytesPiece>(&layout_.pieces[k]);
            if (bytes == nullptr) continue;
            for (const Patch& patch : bytes->patches) {
                if (patch.box) {
                    const std::optional<HeaderBox> box = merged_box();
                    if (!box) continue;
                    std::array<std::byte, 48> fields;
                    for (std::size_t i = 0; i < box->size(); ++i)
                        korvane::put_le<double>(fields, 8 * i, (*box)[i]);
                    if (!write_at(fields, offsets_[k] + patch.at)) return false;
                    continue;
                }
                const auto it = marked_.find(patch.offset_of);
                std::array<std::byte, 8> value;
                korvane::put_le<std::uint64_t>(value, 0, it == marked_.end() ? 0 : it->second);
                if (!write_at(value, offsets_[k] + patch.at)) return false;
            }
        }
        return true;
    }

    // What stopped the write, once write_pieces or write_patches returned false.
    const Problem& failure() const { return failure_; }

    // Before the output is committed: a merge of no points reports once, here; any other has
    // reported its last point already.
    bool finish() { return reports_ > 0 || report(); }

  private:
    bool write_piece(std::size_t k, const Piece& piece) {
        if (const auto* p = std::get_if<BytesPiece>(&piece)) return write(p->bytes);
        if (const auto* p = std::get_if<CopyPiece>(&piece)) return copy(k, *p);
        if (const auto* p = std::get_if<PointsPiece>(&piece)) return copy_points(k, *p);
        if (const auto* p = std::get_if<RunPiece>(&piece)) return run(k, *p);
        if (const auto* p = std::get_if<ShiftPiece>(&piece)) return shift(k, *p);
        const auto& table = std::get<ChunkTablePiece>(piece);
        return write(korvane::laz::build_chunk_table(chunks_, table.variable_chunks));
    }

    // Keeps the first failure (the first in the output's order) and stops the write.
    bool fail(Failure f) {
        if (!failure_) failure_ = std::move(f);
        return false;
    }
    bool fail(Problem p) { return p ? fail(std::move(*p)) : true; }

    // `points` more output points are written (or on their way, in output order).
    bool advance(std::uint64_t points) {
        done_ += points;
        return report();
    }
    bool report() {
        ++reports_;
        if (events_.go_on(done_, total_)) return true;
        return fail(
            cancelled(say("\nThe merge was cancelled; %s not written\n", job_.outputName.c_str())));
    }

    // The box of the inputs that keep theirs and of the moved points, on the output's grid.
    std::optional<HeaderBox> merged_box() const {
        std::optional<HeaderBox> box = layout_.kept_box;
        for (const auto& [input, e] : extents_)
            if (e.any) enclose_raw_extent(box, e.lo, e.hi, layout_.scale, layout_.offset);
        return box;
    }

    void note_use(std::size_t input, Use use) {
        first_.try_emplace(input, use);
        last_[input] = use;
    }

    bool write_at(std::span<const std::byte> bytes, std::uint64_t at) {
        if (korvane::write_full(fs_, fd_, bytes, static_cast<off_t>(at))) return true;
        return fail(io_error(
            say("\nCannot write %s: %s\n", job_.outputName.c_str(), std::strerror(errno))));
    }

    bool write(std::span<const std::byte> bytes) {
        if (!write_at(bytes, at_)) return false;
        at_ += bytes.size();
        return true;
    }

    const char* name(std::size_t input) const { return job_.inputs[input].name.c_str(); }

    // The line that names the input whose points are being written.
    void show_progress(std::size_t input) {
        events_.account(
            say("\r%s (%d / %d)%20s", name(input), ++progress_, job_.LASCount, " ").text);
    }

    // Opens an input for one use, and describes it again when the use is its first: it must be
    // the input that was checked. The descriptor, or the problem.
    Result<korvane::UniqueFd> open_for(std::size_t input, Use use) {
        korvane::UniqueFd fd = open_input(job_.inputs[input].name, fs_);
        if (!fd.valid()) return bad_input(say("Failed to open file %s\n", name(input)));
        if (first_.at(input) == use)
            if (Problem changed = change_of(input, fd.get())) return *changed;
        return fd;
    }

    // After a use: when it was the input's last, the input must still be the one checked.
    Problem done_with(std::size_t input, Use use, int fd) {
        if (last_.at(input) != use) return std::nullopt;
        return change_of(input, fd);
    }

    // Describes the input again through `fd`: nothing when it is the input that was checked,
    // otherwise how it changed.
    Problem change_of(std::size_t input, int fd) {
        return recheck_input(job_.inputs[input], fd, job_.outputName, fs_);
    }

    // A stretch of an input that is not its points, byte for byte.
    bool copy(std::size_t k, const CopyPiece& p) {
        Result<korvane::UniqueFd> fd = open_for(p.input, {k, 0});
        if (!fd) return fail(fd.problem());
        const CopyOutcome outcome =
            copy_bytes(fs_, fd->get(), static_cast<off_t>(p.from.offset), fd_,
                       static_cast<off_t>(at_), p.from.length, 1, buffer_);
        if (!fail(copy_failure(outcome, job_.inputs[p.input].name, job_.outputName, 1)))
            return false;
        at_ += p.from.length;
        return fail(done_with(p.input, {k, 0}, fd->get()));
    }

    // An input's points, byte for byte, in slices of at most kProgressBytes (LAS records) or of
    // whole chunks (LAZ), each followed by a report of progress.
    bool copy_points(std::size_t k, const PointsPiece& p) {
        show_progress(p.input);
        Result<korvane::UniqueFd> fd = open_for(p.input, {k, 0});
        if (!fd) return fail(fd.problem());
        const InputDescription& d = job_.inputs[p.input];
        const std::uint16_t unit = d.copy_unit();
        std::size_t chunk = 0;
        for (std::uint64_t done = 0; done < p.from.length;) {
            const Slice s = next_slice(d, p.chunks, p.from.length - done, chunk);
            const CopyOutcome outcome =
                copy_bytes(fs_, fd->get(), static_cast<off_t>(p.from.offset + done), fd_,
                           static_cast<off_t>(at_), s.bytes, unit, buffer_);
            if (!fail(copy_failure(outcome, d.name, job_.outputName, unit))) return false;
            at_ += s.bytes;
            done += s.bytes;
            if (!advance(s.points)) return false;
        }
        chunks_.insert(chunks_.end(), p.chunks.begin(), p.chunks.end());
        return fail(done_with(p.input, {k, 0}, fd->get()));
    }

    // Reads `into.size()` bytes of an input at `offset`, which its description says are there;
    // the problem when it cannot.
    Problem read_input(std::size_t input, int fd, std::span<std::byte> into, std::uint64_t offset) {
        const ssize_t got = korvane::read_full(fs_, fd, into, static_cast<off_t>(offset));
        if (got == static_cast<ssize_t>(into.size())) return std::nullopt;
        return read_failure(job_.inputs[input].name, got);
    }

    // What the oldest result in the pipeline is, and where it belongs.
    struct Pending {
        enum class Kind { Records, Chunks };  // records go on; encoded chunks are written
        Kind kind;
        std::size_t input = 0;
        const std::vector<korvane::LazChunk>* chunks = nullptr;  // of a decoded input
        std::size_t first_chunk = 0;                             // among them, the work's first
        std::uint64_t first_point = 0;  // the input's first record in the work, from 0
        bool counted = false;           // Chunks: their points were counted when their records came
    };

    Failure outside(std::size_t input, std::uint64_t point) {
        return refused(
            say("\nPoint %llu of %s lies outside its header box: on the output's grid it "
                "leaves the 32-bit range\n",
                ull{point + 1}, name(input)));
    }

    Failure damaged(std::size_t input, std::size_t chunk, std::uint32_t points) {
        return bad_input(
            say("\nChunk %llu of %s is damaged: it does not decode to the %u points its chunk "
                "table states\n",
                ull{chunk + 1}, name(input), points));
    }

    // A buffer for the next piece of work, one given back by an earlier one when there is one.
    std::vector<std::byte> buffer() {
        if (spare_.empty()) return {};
        std::vector<std::byte> b = std::move(spare_.back());
        spare_.pop_back();
        b.clear();
        return b;
    }
    void give_back(std::vector<std::byte> b) {
        if (b.capacity() != 0 && spare_.size() < 4 * std::size_t{threads_} + 4)
            spare_.push_back(std::move(b));
    }

    // Gives work to the pipeline, first taking results while it is full.
    bool give(ChunkWork work, Pending pending) {
        while (pipeline_->full())
            if (!take()) return false;
        work.output = buffer();
        pending_.push_back(pending);
        pipeline_->give(std::move(work));
        return true;
    }

    // Takes the oldest result: records go on (written, or gathered into the next chunk to
    // encode), encoded chunks are written. False after a message when a chunk is damaged or a
    // converted point leaves the 32-bit range.
    bool take() {
        ChunkResult r = pipeline_->take();
        const Pending p = pending_.front();
        pending_.pop_front();
        give_back(std::move(r.spare));
        if (!r.ok) {
            const std::size_t c = p.first_chunk + r.failed_chunk;
            return fail(damaged(p.input, c, (*p.chunks)[c].points));
        }
        if (r.extent.outside) return fail(outside(p.input, p.first_point + *r.extent.outside));
        if (r.extent.any) extents_[p.input].add(r.extent, 0);
        std::uint64_t points = 0;
        bool ok = false;
        if (p.kind == Pending::Kind::Chunks) {
            ok = write_chunks(r);
            if (!p.counted)
                for (const korvane::LazChunk& c : r.chunks) points += c.points;
        } else {
            ok = deliver(r.bytes);
            points = r.bytes.size() / record_length_;
        }
        give_back(std::move(r.bytes));
        return ok && (points == 0 || advance(points));
    }

    bool write_chunks(const ChunkResult& r) {
        if (!write(r.bytes)) return false;
        chunks_.insert(chunks_.end(), r.chunks.begin(), r.chunks.end());
        return true;
    }

    // Records of a run, in order.
    bool deliver(std::span<const std::byte> records) {
        if (!encode_) return write(records);
        while (!records.empty()) {
            const std::size_t n = std::min(records.size(), chunk_bytes() - gathered_.size());
            gathered_.insert(gathered_.end(), records.begin(),
                             records.begin() + static_cast<long>(n));
            records = records.subspan(n);
            if (gathered_.size() == chunk_bytes()) encode_gathered();
        }
        return true;
    }

    std::size_t chunk_bytes() const { return std::size_t{kEncodedChunkPoints} * record_length_; }

    // Gives the gathered records to be encoded. Never takes a result first: it is called while
    // records are being delivered, which must end before any later records come. The pipeline
    // holds at most one such chunk more than its bound per result taken.
    void encode_gathered() {
        if (gathered_.empty()) return;
        ChunkWork work;
        work.kind = ChunkWork::Kind::Encode;
        work.record = &layout_.encoding;
        work.bytes = std::move(gathered_);
        work.output = buffer();
        gathered_ = buffer();
        gathered_.reserve(chunk_bytes());
        pending_.push_back({Pending::Kind::Chunks, 0, nullptr, 0, 0, true});
        pipeline_->give(std::move(work));
    }

    // Takes every result still in the pipeline.
    bool drain() {
        while (!pipeline_->empty())
            if (!take()) return false;
        return true;
    }

    // A failure found while the pipeline still holds work given before it: what comes first in
    // the output is reported, whichever thread found it.
    bool fail_after(Failure problem) {
        if (!drain()) return false;
        return fail(std::move(problem));
    }

    // Chunks of more points than one piece of decoding yields are decoded here, in pieces, so
    // memory does not grow with them; the work given before them is taken first.
    bool decode_here(const Source& s, std::size_t c, std::span<const std::byte> compressed,
                     std::uint64_t first_point) {
        if (!drain()) return false;
        const korvane::LazChunk& chunk = s.chunks[c];
        korvane::laz::ChunkDecoder decoder(job_.inputs[s.input].laszip->record);
        if (!decoder.begin(compressed, chunk.points))
            return fail_after(damaged(s.input, c, chunk.points));
        records_.resize(korvane::laz::kMaxBytesPerCall);
        for (std::uint64_t point = first_point; decoder.remaining() > 0;) {
            const std::optional<std::size_t> n = decoder.decode(records_);
            if (!n || *n == 0) return fail_after(damaged(s.input, c, chunk.points));
            const std::span<std::byte> records =
                std::span(records_).first(*n * decoder.record_length());
            std::span<const std::byte> out = records;
            if (s.transform != nullptr) {
                transformed_.clear();
                const ConvertedExtent e = transform_records(records, transformed_, *s.transform);
                if (e.outside) return fail_after(outside(s.input, point + *e.outside));
                extents_[s.input].add(e, 0);
                out = transformed_;
            }
            point += *n;
            if (!deliver(out) || !advance(*n)) return false;
        }
        return true;
    }

    // The LAZ chunks of a source, read here and decoded by the pipeline (converted, and when
    // the run keeps chunks encoded again, there too). Small chunks go several to a piece of
    // work, so that the pipeline's own cost stays small beside theirs.
    bool run_chunks(const Source& s, int fd) {
        constexpr std::uint64_t kPointsPerWork = kEncodedChunkPoints;
        const korvane::laz::LaszipRecord& record = job_.inputs[s.input].laszip->record;
        std::uint64_t offset = s.from.offset;
        std::uint64_t first_point = 0;
        for (std::size_t c = 0; c < s.chunks.size();) {
            if (s.chunks[c].points > korvane::laz::kMaxRecordsPerCall && !keep_chunks_) {
                compressed_.resize(s.chunks[c].bytes);
                if (auto problem = read_input(s.input, fd, compressed_, offset))
                    return fail_after(*problem);
                if (!decode_here(s, c, compressed_, first_point)) return false;
                offset += s.chunks[c].bytes;
                first_point += s.chunks[c].points;
                ++c;
                continue;
            }
            // As many whole chunks as make up to kPointsPerWork points (one at least).
            std::size_t end = c;
            std::uint64_t points = 0, bytes = 0;
            while (end < s.chunks.size() &&
                   s.chunks[end].points <= korvane::laz::kMaxRecordsPerCall &&
                   (end == c || points + s.chunks[end].points <= kPointsPerWork)) {
                points += s.chunks[end].points;
                bytes += s.chunks[end].bytes;
                ++end;
            }
            ChunkWork work;
            work.kind = keep_chunks_ ? ChunkWork::Kind::Transcode : ChunkWork::Kind::Decode;
            work.record = &record;
            work.transform = s.transform;
            work.encode_with = &layout_.encoding;
            work.bytes = buffer();
            work.bytes.resize(static_cast<std::size_t>(bytes));
            if (auto problem = read_input(s.input, fd, work.bytes, offset))
                return fail_after(*problem);
            work.chunks.assign(s.chunks.begin() + static_cast<long>(c),
                               s.chunks.begin() + static_cast<long>(end));
            const Pending pending{keep_chunks_ ? Pending::Kind::Chunks : Pending::Kind::Records,
                                  s.input, &s.chunks, c, first_point};
            if (!give(std::move(work), pending)) return false;
            offset += bytes;
            first_point += points;
            c = end;
        }
        return true;
    }

    // The records of a LAS source, read here a chunk's worth at a time: straight into the next
    // chunk to encode when they go in as they are, otherwise given to the pipeline to transform.
    bool run_records(const Source& s, int fd) {
        const std::size_t batch = std::min(korvane::laz::kMaxBytesPerCall, chunk_bytes());
        const bool straight = encode_ && s.transform == nullptr;
        const std::uint16_t in_length = job_.inputs[s.input].record_length;
        // Records read here must come after those still being decoded.
        if (straight && !drain()) return false;
        for (std::uint64_t done = 0; done < s.from.length;) {
            const std::uint64_t left = s.from.length - done;
            if (straight) {
                while (pipeline_->full())
                    if (!take()) return false;
                const std::size_t at = gathered_.size();
                const auto n =
                    static_cast<std::size_t>(std::min<std::uint64_t>(chunk_bytes() - at, left));
                gathered_.resize(at + n);
                if (auto problem = read_input(s.input, fd, std::span(gathered_).subspan(at),
                                              s.from.offset + done))
                    return fail_after(*problem);
                done += n;
                if (gathered_.size() == chunk_bytes()) encode_gathered();
                if (!advance(n / in_length)) return false;
                continue;
            }
            ChunkWork work;
            work.kind = ChunkWork::Kind::Transform;
            work.transform = s.transform;
            work.bytes = buffer();
            // Whole input records, at most a batch's worth.
            const std::uint64_t most = std::max<std::uint64_t>(1, batch / in_length) * in_length;
            work.bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(most, left)));
            if (auto problem = read_input(s.input, fd, work.bytes, s.from.offset + done))
                return fail_after(*problem);
            const Pending pending{Pending::Kind::Records, s.input, nullptr, 0, done / in_length};
            done += work.bytes.size();
            if (!give(std::move(work), pending)) return false;
        }
        return true;
    }

    // A LAZ input's chunks copied, each with the raw X, Y and Z of its first point moved by the
    // shift's steps: 12 bytes written here, the rest of the chunk copied as it is.
    bool shift(std::size_t k, const ShiftPiece& p) {
        show_progress(p.input);
        Result<korvane::UniqueFd> fd = open_for(p.input, {k, 0});
        if (!fd) return fail(fd.problem());
        std::uint64_t offset = p.from.offset;
        for (std::size_t c = 0; c < p.chunks.size(); ++c) {
            const korvane::LazChunk& chunk = p.chunks[c];
            std::array<std::byte, korvane::laz::kChunkHeadBytes> head;
            if (!fail(read_input(p.input, fd->get(), head, offset))) return false;
            korvane::laz::shift_chunk_head(head, p.shift);
            if (!write(head)) return false;
            const CopyOutcome outcome =
                copy_bytes(fs_, fd->get(), static_cast<off_t>(offset + head.size()), fd_,
                           static_cast<off_t>(at_), chunk.bytes - head.size(), 1, buffer_);
            if (!fail(copy_failure(outcome, job_.inputs[p.input].name, job_.outputName, 1)))
                return false;
            at_ += chunk.bytes - head.size();
            offset += chunk.bytes;
            chunks_.push_back(chunk);
            if (!advance(chunk.points)) return false;
        }
        return fail(done_with(p.input, {k, 0}, fd->get()));
    }

    // A run: the sources' records in order, LAZ chunks decoded; encoded in chunks of
    // kEncodedChunkPoints across the sources' boundaries when the output is LAZ.
    bool run(std::size_t k, const RunPiece& p) {
        if (!pipeline_) pipeline_.emplace(threads_);
        encode_ = p.encode;
        keep_chunks_ = p.keep_chunks;
        gathered_.clear();
        for (std::size_t j = 0; j < p.sources.size(); ++j) {
            const Source& s = p.sources[j];
            show_progress(s.input);
            Result<korvane::UniqueFd> fd = open_for(s.input, {k, j});
            if (!fd) return fail_after(fd.problem());
            const bool ok = s.chunks.empty() ? run_records(s, fd->get()) : run_chunks(s, fd->get());
            if (!ok) return false;
            // Every byte of it has been read: it must still be the input that was checked.
            if (auto changed = done_with(s.input, {k, j}, fd->get())) return fail_after(*changed);
        }
        // Every record delivered, the last chunk holds what is left.
        if (!drain()) return false;
        if (encode_) encode_gathered();
        return drain();
    }

    const MergeJob& job_;
    const OutputLayout& layout_;
    unsigned threads_;
    int fd_;
    const MergeEvents& events_;
    korvane::FileSystem& fs_;
    Problem failure_;
    std::uint64_t total_ = 0;  // the output's points
    std::uint64_t done_ = 0;   // of them, written or on their way in output order
    std::uint64_t reports_ = 0;
    CopyBuffer buffer_;
    std::vector<std::byte> compressed_;   // the chunk being decoded
    std::vector<std::byte> records_;      // records decoded or to encode
    std::vector<std::byte> transformed_;  // records decoded here, transformed
    std::uint64_t at_ = 0;
    int progress_ = 0;
    std::vector<std::uint64_t> offsets_;  // where each piece was written
    std::map<Mark, std::uint64_t> marked_;
    std::map<std::size_t, Use> first_, last_;         // by input: its first and last use
    std::vector<korvane::LazChunk> chunks_;           // every chunk written, for the chunk table
    std::optional<ChunkPipeline> pipeline_;           // made for the first run
    std::deque<Pending> pending_;                     // what each result in the pipeline is
    bool encode_ = false;                             // of the run being written
    bool keep_chunks_ = false;                        // of the run being written
    std::map<std::size_t, ConvertedExtent> extents_;  // by input: of its converted points
    std::size_t record_length_ = 0;                   // of the output's records
    std::vector<std::byte> gathered_;                 // records of the next chunk to encode
    std::vector<std::vector<std::byte>> spare_;       // buffers given back, for the next work
};

}  // namespace

Problem write_merged_file(const MergeJob& job, const OutputLayout& layout, unsigned threads,
                          const MergeEvents& events, korvane::FileSystem& fs) {
    const std::string& output = job.outputName;
    // A file-size limit must show up as a failed write, reported, not as a killed process.
    const FileSizeSignalBlocked blocked;
    std::optional<TemporaryOutput> temp = TemporaryOutput::create(output, fs, events.temporary);
    if (!temp) return io_error(say("\nCannot open binary file %s for writing\n", output.c_str()));

    Writer writer(job, layout, threads, temp->fd(), events, fs);
    if (!writer.write_pieces() || !writer.write_patches() || !writer.finish())
        return writer.failure();
    if (!temp->commit())
        return io_error(say("\nCannot write %s: %s\n", output.c_str(), std::strerror(errno)));
    return std::nullopt;
}

}  // namespace quillet
