#include "merged_file_writer.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>

#include "byte_copy.hpp"
#include "full_io.hpp"
#include "input_file.hpp"
#include "las_header.hpp"
#include "temporary_output.hpp"
#include "unique_fd.hpp"

namespace quillet {
namespace {

using Kind = CopyOutcome::Kind;

// Prints the message for a copy that did not complete and returns false; true when it did.
bool report(const CopyOutcome& outcome, const std::string& input, const std::string& output,
            std::uint16_t record_length, std::FILE* out) {
    const char* in = input.c_str();
    const char* to = output.c_str();
    switch (outcome.kind) {
        case Kind::Done:
            return true;
        case Kind::ShortInput:
            std::fprintf(out, "\n%s is shorter than its header states\n", in);
            break;
        case Kind::CopyFailed:
            std::fprintf(out, "\nCannot copy the points of %s into %s: %s\n", in, to,
                         std::strerror(outcome.error));
            break;
        case Kind::ReadFailed:
            std::fprintf(out, "\nCannot read %s: %s\n", in, std::strerror(outcome.error));
            break;
        case Kind::WriteFailed:
            std::fprintf(out, "\nCannot write %s: %s\n", to, std::strerror(outcome.error));
            break;
        case Kind::NoBuffer:
            std::fprintf(out, "\nCannot allocate a copy buffer of one record (%u bytes)\n",
                         unsigned{record_length});
            break;
    }
    return false;
}

// Describes the input again, checks that it still is the input that was checked, and copies
// its point region to `out_at`. Returns the number of bytes copied, or nothing after a message.
std::optional<std::uint64_t> copy_points(std::size_t input, int output_fd, off_t out_at,
                                         const MergeJob& job, DescribeInput describe,
                                         CopyBuffer& buffer, std::FILE* out,
                                         korvane::FileSystem& fs) {
    const std::string& name = job.names[input];
    const korvane::UniqueFd fd = open_input(name, fs);
    if (!fd.valid()) {
        std::fprintf(out, "Failed to open file %s\n", name.c_str());
        return std::nullopt;
    }
    const std::optional<InputDescription> now = describe(fd.get(), name, out, fs);
    if (!now) return std::nullopt;
    if (!same_layout(job.inputs[input], *now)) {
        std::fprintf(out, "\n%s changed while it was being merged\n", name.c_str());
        return std::nullopt;
    }
    const Region points = now->points;
    const CopyOutcome outcome =
        copy_bytes(fs, fd.get(), static_cast<off_t>(points.offset), output_fd, out_at,
                   points.length, now->copy_unit(), buffer);
    if (!report(outcome, name, job.outputName, now->copy_unit(), out)) return std::nullopt;
    return points.length;
}

// Copies a stretch of an input as it is.
bool copy_input_bytes(const Piece& piece, int output_fd, off_t out_at, const MergeJob& job,
                      CopyBuffer& buffer, std::FILE* out, korvane::FileSystem& fs) {
    const std::string& name = job.names[piece.input];
    const korvane::UniqueFd fd = open_input(name, fs);
    if (!fd.valid()) {
        std::fprintf(out, "Failed to open file %s\n", name.c_str());
        return false;
    }
    const CopyOutcome outcome = copy_bytes(fs, fd.get(), static_cast<off_t>(piece.from.offset),
                                           output_fd, out_at, piece.from.length, 1, buffer);
    return report(outcome, name, job.outputName, 1, out);
}

}  // namespace

bool write_merged_file(const MergeJob& job, const OutputLayout& layout, DescribeInput describe,
                       std::FILE* out, korvane::FileSystem& fs) {
    const std::string& output = job.outputName;
    std::optional<TemporaryOutput> temp = TemporaryOutput::create(output, fs);
    if (!temp) {
        std::fprintf(out, "\nCannot open binary file %s for writing\n", output.c_str());
        return false;
    }
    // A file-size limit must show up as a failed write, reported, not as a killed process.
    std::signal(SIGXFSZ, SIG_IGN);

    CopyBuffer buffer;
    off_t out_at = 0;
    int progress = 0;
    for (const Piece& piece : layout.pieces) {
        switch (piece.kind) {
            case Piece::Kind::Bytes:
                if (!korvane::write_full(fs, temp->fd(), piece.bytes, out_at)) {
                    std::fprintf(out, "\nCannot write %s: %s\n", output.c_str(),
                                 std::strerror(errno));
                    return false;
                }
                out_at += static_cast<off_t>(piece.bytes.size());
                break;
            case Piece::Kind::InputBytes:
                if (!copy_input_bytes(piece, temp->fd(), out_at, job, buffer, out, fs))
                    return false;
                out_at += static_cast<off_t>(piece.from.length);
                break;
            case Piece::Kind::InputPoints: {
                std::fprintf(out, "\r%s (%d / %d)%20s", job.names[piece.input].c_str(), ++progress,
                             job.LASCount, " ");
                std::fflush(out);
                const std::optional<std::uint64_t> copied =
                    copy_points(piece.input, temp->fd(), out_at, job, describe, buffer, out, fs);
                if (!copied) return false;
                out_at += static_cast<off_t>(*copied);
                break;
            }
        }
    }

    if (static_cast<std::uint64_t>(out_at) != layout.size) {
        // The inputs changed between the checks and the copy.
        std::fprintf(out, "\nThe inputs changed while they were being merged; %s not written\n",
                     output.c_str());
        return false;
    }
    if (!temp->commit()) {
        std::fprintf(out, "\nCannot write %s: %s\n", output.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace quillet
