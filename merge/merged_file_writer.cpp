#include "merged_file_writer.hpp"

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
#include "laz/chunk_table.hpp"
#include "message.hpp"
#include "temporary_output.hpp"
#include "unique_fd.hpp"

namespace quillet {
namespace {

using Kind = CopyOutcome::Kind;

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

// The state of one write: where each piece went and what was copied.
class Writer {
  public:
    Writer(const MergeJob& job, const OutputLayout& layout, int fd, std::FILE* out,
           korvane::FileSystem& fs)
        : job_(job), layout_(layout), fd_(fd), out_(out), fs_(fs) {
        for (std::size_t k = 0; k < layout.pieces.size(); ++k) {
            const Piece& p = layout.pieces[k];
            if (p.kind != Piece::Kind::Copy) continue;
            first_.try_emplace(p.input, k);
            last_[p.input] = k;
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
        if (p.points) {
            std::fprintf(out_, "\r%s (%d / %d)%20s", name.c_str(), ++progress_, job_.LASCount, " ");
            std::fflush(out_);
        }
        const korvane::UniqueFd fd = open_input(name, fs_);
        if (!fd.valid()) {
            print(out_, say("Failed to open file %s\n", name.c_str()));
            return false;
        }
        if (first_.at(p.input) == k && !still_as_checked(p.input, fd.get())) return false;
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
        return last_.at(p.input) != k || still_as_checked(p.input, fd.get());
    }

    const MergeJob& job_;
    const OutputLayout& layout_;
    int fd_;
    std::FILE* out_;
    korvane::FileSystem& fs_;
    CopyBuffer buffer_;
    std::uint64_t at_ = 0;
    int progress_ = 0;
    std::vector<std::uint64_t> offsets_;  // where each piece was written
    std::map<Mark, std::uint64_t> marked_;
    std::map<std::size_t, std::size_t> first_, last_;  // by input: its first and last piece
    std::vector<korvane::LazChunk> chunks_;
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
