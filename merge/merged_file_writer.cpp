#include "merged_file_writer.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>

#include "byte_copy.hpp"
#include "input_file.hpp"
#include "las_header.hpp"
#include "temporary_output.hpp"

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

// Reads the input's header again, checks that the input still holds what the checks saw, and
// copies its point records to `out_at`. Returns the number of bytes copied, or nothing after a
// message.
std::optional<std::uint64_t> copy_points(const std::string& name, int output_fd, off_t out_at,
                                         const MergeJob& job, CopyBuffer& buffer, std::FILE* out,
                                         korvane::FileSystem& fs) {
    const korvane::UniqueFd fd = open_input(name, fs);
    if (!fd.valid()) {
        std::fprintf(out, "Failed to open file %s\n", name.c_str());
        return std::nullopt;
    }
    const std::optional<LAS12Header> h = read_checked_header(fd.get(), name, out, fs);
    if (!h) return std::nullopt;
    if (h->PointDataRecordLength != job.ph12global.PointDataRecordLength) {
        std::fprintf(out, "\n%s changed while it was being merged\n", name.c_str());
        return std::nullopt;
    }
    const std::uint64_t length = std::uint64_t{h->NumberOfPointReturns} * h->PointDataRecordLength;
    const CopyOutcome outcome = copy_bytes(fs, fd.get(), h->OffsetToData, output_fd, out_at, length,
                                           h->PointDataRecordLength, buffer);
    if (!report(outcome, name, job.outputName, h->PointDataRecordLength, out)) return std::nullopt;
    return length;
}

}  // namespace

bool write_merged_file(const MergeJob& job, std::FILE* out, korvane::FileSystem& fs) {
    const std::string& output = job.outputName;
    std::optional<TemporaryOutput> temp = TemporaryOutput::create(output, fs);
    if (!temp) {
        std::fprintf(out, "\nCannot open binary file %s for writing\n", output.c_str());
        return false;
    }
    // A file-size limit must show up as a failed write, reported, not as a killed process.
    std::signal(SIGXFSZ, SIG_IGN);

    if (!korvane::write_header(fs, temp->fd(), job.ph12global)) {
        std::fprintf(out, "\nCannot write %s: %s\n", output.c_str(), std::strerror(errno));
        return false;
    }

    CopyBuffer buffer;
    // The first file's bytes from the end of its header up to its point data: its variable
    // length records (projection among them) and, in LAS 1.0, the point data start signature.
    const std::string& first = job.names[0];
    {
        const korvane::UniqueFd fd = open_input(first, fs);
        if (!fd.valid()) {
            std::fprintf(out, "Failed to open file %s\n", first.c_str());
            return false;
        }
        const std::uint64_t gap = job.ph12global.OffsetToData - korvane::kHeaderBytes;
        const CopyOutcome outcome = copy_bytes(fs, fd.get(), korvane::kHeaderBytes, temp->fd(),
                                               korvane::kHeaderBytes, gap, 1, buffer);
        if (!report(outcome, first, output, 1, out)) return false;
    }

    off_t out_at = job.ph12global.OffsetToData;
    const auto total = static_cast<int>(job.names.size());
    for (int i = 1; i <= total; ++i) {
        const std::string& name = job.names[static_cast<std::size_t>(i - 1)];
        std::fprintf(out, "\r%s (%d / %d)%20s", name.c_str(), i, job.LASCount, " ");
        std::fflush(out);
        const std::optional<std::uint64_t> copied =
            copy_points(name, temp->fd(), out_at, job, buffer, out, fs);
        if (!copied) return false;
        out_at += static_cast<off_t>(*copied);
    }

    const std::uint64_t expected =
        job.ph12global.OffsetToData +
        std::uint64_t{job.ph12global.NumberOfPointReturns} * job.ph12global.PointDataRecordLength;
    if (static_cast<std::uint64_t>(out_at) != expected) {
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
