#include "merged_file_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>
#include <optional>

#include "byte_copy.hpp"
#include "full_io.hpp"
#include "input_file.hpp"
#include "input_reader.hpp"
#include "las/byte_order.hpp"
#include "laz/chunk_codec.hpp"
#include "laz/chunk_table.hpp"
#include "message.hpp"
#include "temporary_output.hpp"
#include "unique_fd.hpp"

namespace quillet {
namespace {

using Kind = CopyOutcome::Kind;
using ull = unsigned long long;

// The message for a copy that did not complete; nothing when it did.
std::optional<Message> problem_of(const CopyOutcome& outcome, const std::string& input,
                                  const std::string& output, std::uint16_t unit) {
    const char* in = input.c_str();
    const char* to = output.c_str();
    switch (outcome.kind) {
        case Kind::Done:
            return std::nullopt;
        case Kind::ShortInput:
            return say("\n%s is shorter than its header states\n", in);
        case Kind::CopyFailed:
            return say("\nCannot copy the points of %s into %s: %s\n", in, to,
                       std::strerror(outcome.error));
        case Kind::ReadFailed:
            return say("\nCannot read %s: %s\n", in, std::strerror(outcome.error));
        case Kind::WriteFailed:
            return say("\nCannot write %s: %s\n", to, std::strerror(outcome.error));
        case Kind::NoBuffer:
            return say("\nCannot allocate a copy buffer of one record (%u bytes)\n",
                       unsigned{unit});
    }
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
    Writer(const MergeJob& job, const OutputLayout& layout, int fd, std::FILE* out,
           korvane::FileSystem& fs)
        : job_(job), layout_(layout), fd_(fd), out_(out), fs_(fs) {
        for (std::size_t k = 0; k < layout.pieces.size(); ++k) {
            const Piece& p = layout.pieces[k];
            if (p.kind == Piece::Kind::Copy || p.kind == Piece::Kind::Decode)
                note_use(p.input, {k, 0});
            for (std::size_t j = 0; j < p.segments.size(); ++j)
                note_use(p.segments[j].input, {k, j});
        }
    }

    bool write_pieces() {
        for (std::size_t k = 0; k < layout_.pieces.size(); ++k) {
            const Piece& p = layout_.pieces[k];
            offsets_.push_back(at_);
            if (p.mark != Mark::None) marked_[p.mark] = at_;
            bool ok = false;
            switch (p.kind) {
                case Piece::Kind::Bytes:
                    ok = write(p.bytes);
                    break;
                case Piece::Kind::Copy:
                    ok = copy(k, p);
                    break;
                case Piece::Kind::Decode:
                    ok = decode(k, p);
                    break;
                case Piece::Kind::Encode:
                    ok = encode(k, p);
                    break;
                case Piece::Kind::ChunkTable:
                    ok = write(korvane::laz::build_chunk_table(chunks_, p.variable_chunks));
                    break;
            }
            if (!ok) return false;
        }
        return true;
    }

    // Fills in what only the written file tells: the offsets that patches name.
    bool write_patches() {
        for (std::size_t k = 0; k < layout_.pieces.size(); ++k) {
            for (const Patch& patch : layout_.pieces[k].patches) {
                const auto it = marked_.find(patch.offset_of);
                std::array<std::byte, 8> value;
                korvane::put_le<std::uint64_t>(value, 0, it == marked_.end() ? 0 : it->second);
                if (!write_at(value, offsets_[k] + patch.at)) return false;
            }
        }
        return true;
    }

  private:
    void note_use(std::size_t input, Use use) {
        first_.try_emplace(input, use);
        last_[input] = use;
    }

    bool write_at(std::span<const std::byte> bytes, std::uint64_t at) {
        if (korvane::write_full(fs_, fd_, bytes, static_cast<off_t>(at))) return true;
        print(out_, say("\nCannot write %s: %s\n", job_.outputName.c_str(), std::strerror(errno)));
        return false;
    }

    bool write(std::span<const std::byte> bytes) {
        if (!write_at(bytes, at_)) return false;
        at_ += bytes.size();
        return true;
    }

    void show_progress(std::size_t input) {
        std::fprintf(out_, "\r%s (%d / %d)%20s", job_.names[input].c_str(), ++progress_,
                     job_.LASCount, " ");
        std::fflush(out_);
    }

    // Opens an input for one use, and describes it again when the use is its first: it must be
    // the input that was checked. An invalid descriptor after a message.
    korvane::UniqueFd open_for(std::size_t input, Use use) {
        const std::string& name = job_.names[input];
        korvane::UniqueFd fd = open_input(name, fs_);
        if (!fd.valid()) {
            print(out_, say("Failed to open file %s\n", name.c_str()));
            return fd;
        }
        if (first_.at(input) == use && !still_as_checked(input, fd.get())) return {};
        return fd;
    }

    // After a use: when it was the input's last, the input must still be the one checked.
    bool done_with(std::size_t input, Use use, int fd) {
        return last_.at(input) != use || still_as_checked(input, fd);
    }

    // Describes the input again through `fd`: it must be the input that was checked.
    bool still_as_checked(std::size_t input, int fd) {
        const std::string& name = job_.names[input];
        const InputDescription& checked = job_.inputs[input];
        const ReadResult now = read_again(checked, fd, name, fs_);
        if (now.problem) {
            print(out_, *now.problem);
            return false;
        }
        switch (change_between(checked, now.description)) {
            case Change::None:
                return true;
            case Change::PointCount:
                print(out_, say("\nThe inputs changed while they were being merged; %s not "
                                "written\n",
                                job_.outputName.c_str()));
                return false;
            case Change::Other:
                print(out_, say("\n%s changed while it was being merged\n", name.c_str()));
                return false;
        }
        return false;
    }

    bool copy(std::size_t k, const Piece& p) {
        const std::string& name = job_.names[p.input];
        if (p.points) show_progress(p.input);
        const korvane::UniqueFd fd = open_for(p.input, {k, 0});
        if (!fd.valid()) return false;
        const std::uint16_t unit = p.points ? job_.inputs[p.input].copy_unit() : 1;
        const CopyOutcome outcome =
            copy_bytes(fs_, fd.get(), static_cast<off_t>(p.from.offset), fd_,
                       static_cast<off_t>(at_), p.from.length, unit, buffer_);
        if (std::optional<Message> problem = problem_of(outcome, name, job_.outputName, unit)) {
            print(out_, *problem);
            return false;
        }
        at_ += p.from.length;
        chunks_.insert(chunks_.end(), p.chunks.begin(), p.chunks.end());
        return done_with(p.input, {k, 0}, fd.get());
    }

    // Reads `into.size()` bytes of an input at `offset`, which its description says are there.
    bool read_input(std::size_t input, int fd, std::span<std::byte> into, std::uint64_t offset) {
        const ssize_t got = korvane::read_full(fs_, fd, into, static_cast<off_t>(offset));
        if (got == static_cast<ssize_t>(into.size())) return true;
        print(out_, say("\nCannot read %s: %s\n", job_.names[input].c_str(),
                        got < 0 ? std::strerror(errno) : "the file ended early"));
        return false;
    }

    // The records of every chunk of a LAZ input, decoded one chunk at a time and in pieces.
    bool decode(std::size_t k, const Piece& p) {
        show_progress(p.input);
        const korvane::UniqueFd fd = open_for(p.input, {k, 0});
        if (!fd.valid()) return false;
        korvane::laz::ChunkDecoder decoder(job_.inputs[p.input].laszip->record);
        std::uint64_t offset = p.from.offset;
        for (std::size_t c = 0; c < p.chunks.size(); ++c) {
            const korvane::LazChunk& chunk = p.chunks[c];
            compressed_.resize(chunk.bytes);
            if (!read_input(p.input, fd.get(), compressed_, offset)) return false;
            offset += chunk.bytes;
            auto damaged = [&] {
                print(out_, say("\nChunk %llu of %s is damaged: it does not decode to the %u "
                                "points its chunk table states\n",
                                ull{c + 1}, job_.names[p.input].c_str(), chunk.points));
                return false;
            };
            if (!decoder.begin(compressed_, chunk.points)) return damaged();
            records_.resize(korvane::laz::kMaxBytesPerCall);
            while (decoder.remaining() > 0) {
                const std::optional<std::size_t> n = decoder.decode(records_);
                if (!n || *n == 0) return damaged();
                if (!write(std::span(records_).first(*n * decoder.record_length()))) return false;
            }
        }
        return done_with(p.input, {k, 0}, fd.get());
    }

    // Writes the chunk the encoder holds and lists it for the chunk table.
    bool end_chunk(korvane::laz::ChunkEncoder& encoder) {
        const std::uint32_t points = encoder.points();
        if (points == 0) return true;
        const std::span<const std::byte> bytes = encoder.finish();
        if (!write(bytes)) return false;
        chunks_.push_back({points, static_cast<std::uint32_t>(bytes.size())});
        encoder.begin();
        return true;
    }

    // The records of a run of LAS inputs, in chunks of kEncodedChunkPoints across their
    // boundaries.
    bool encode(std::size_t k, const Piece& p) {
        korvane::laz::ChunkEncoder encoder(layout_.encoding);
        encoder.begin();
        const std::size_t length = encoder.record_length();
        const std::size_t batch = korvane::laz::kMaxBytesPerCall / length;
        records_.resize(batch * length);
        for (std::size_t j = 0; j < p.segments.size(); ++j) {
            const Segment& s = p.segments[j];
            show_progress(s.input);
            const korvane::UniqueFd fd = open_for(s.input, {k, j});
            if (!fd.valid()) return false;
            for (std::uint64_t done = 0; done < s.from.length;) {
                const std::uint64_t room = kEncodedChunkPoints - encoder.points();
                const auto n = static_cast<std::size_t>(
                    std::min<std::uint64_t>({batch, room, (s.from.length - done) / length}));
                const std::span<std::byte> records = std::span(records_).first(n * length);
                if (!read_input(s.input, fd.get(), records, s.from.offset + done)) return false;
                encoder.encode(records);
                done += records.size();
                if (encoder.points() == kEncodedChunkPoints && !end_chunk(encoder)) return false;
            }
            if (!done_with(s.input, {k, j}, fd.get())) return false;
        }
        return end_chunk(encoder);
    }

    const MergeJob& job_;
    const OutputLayout& layout_;
    int fd_;
    std::FILE* out_;
    korvane::FileSystem& fs_;
    CopyBuffer buffer_;
    std::vector<std::byte> compressed_;  // the chunk being decoded
    std::vector<std::byte> records_;     // records decoded or to encode
    std::uint64_t at_ = 0;
    int progress_ = 0;
    std::vector<std::uint64_t> offsets_;  // where each piece was written
    std::map<Mark, std::uint64_t> marked_;
    std::map<std::size_t, Use> first_, last_;  // by input: its first and last use
    std::vector<korvane::LazChunk> chunks_;    // every chunk written, for the chunk table
};

}  // namespace

bool write_merged_file(const MergeJob& job, const OutputLayout& layout, std::FILE* out,
                       korvane::FileSystem& fs) {
    const std::string& output = job.outputName;
    std::optional<TemporaryOutput> temp = TemporaryOutput::create(output, fs);
    if (!temp) {
        print(out, say("\nCannot open binary file %s for writing\n", output.c_str()));
        return false;
    }
    // A file-size limit must show up as a failed write, reported, not as a killed process.
    std::signal(SIGXFSZ, SIG_IGN);

    Writer writer(job, layout, temp->fd(), out, fs);
    if (!writer.write_pieces() || !writer.write_patches()) return false;
    if (!temp->commit()) {
        print(out, say("\nCannot write %s: %s\n", output.c_str(), std::strerror(errno)));
        return false;
    }
    return true;
}

}  // namespace quillet
