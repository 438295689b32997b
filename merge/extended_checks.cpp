#include "extended_checks.hpp"

#include <cerrno>
#include <cstring>
#include <limits>

#include "file_checks.hpp"
#include "full_io.hpp"
#include "input_checks.hpp"
#include "input_differences.hpp"
#include "input_file.hpp"
#include "las/byte_order.hpp"
#include "las/point_formats.hpp"
#include "list_file.hpp"
#include "unique_fd.hpp"

namespace quillet {
namespace {

using ull = unsigned long long;
namespace laz = korvane::laz;

// Opens and reads one listed file; the missing-file messages are those of the classic checks.
Result<InputDescription> describe_listed(const std::string& name, std::FILE* out,
                                         korvane::FileSystem& fs) {
    if (korvane::file_access(name.c_str(), out, fs) < 0) {
        // The library's checks print their own lines; nothing is left to say.
        korvane::error_msg(1, name.c_str(), out);
        return Message{};
    }
    const korvane::UniqueFd fd = open_input(name, fs);
    if (!fd.valid()) return say("\nCannot read %s: %s\n", name.c_str(), std::strerror(errno));
    ReadResult read = read_extended(fd.get(), name, fs);
    if (std::optional<Message> refusal = extended_refusal(read, name)) return *refusal;
    if (read.problem) return *read.problem;
    return std::move(read.description);
}

}  // namespace

std::optional<Message> extended_refusal(const ReadResult& read, const std::string& name) {
    const InputDescription& d = read.description;
    if (read.format_read && korvane::has_waveform_packets(d.format))
        return say(
            "\n%s holds point format %u, whose waveform packets point into its own waveform "
            "data: it cannot be merged\n",
            name.c_str(), unsigned{d.format});
    if (!d.laszip) return std::nullopt;
    const laz::LaszipRecord& z = d.laszip->record;
    if (z.compressor == laz::kPointwiseCompressor)
        return say(
            "\n%s is LAZ compressed point by point, not in chunks: it cannot be merged without "
            "decompressing it\n",
            name.c_str());
    if ((z.compressor != laz::kPointwiseChunkedCompressor &&
         z.compressor != laz::kLayeredChunkedCompressor) ||
        z.coder != 0)
        return say("\n%s uses LASzip compressor %u with coder %u, which Quillet cannot merge\n",
                   name.c_str(), unsigned{z.compressor}, unsigned{z.coder});
    return std::nullopt;
}

bool check_extended_inputs(MergeJob& job, std::FILE* out, korvane::FileSystem& fs) {
    std::optional<std::vector<std::string>> names = read_list(job.listName, out, fs);
    if (!names) return false;
    job.names = std::move(*names);
    job.inputs.clear();
    job.LASCount = 0;

    for (const std::string& name : job.names) {
        Result<InputDescription> d = describe_listed(name, out, fs);
        if (!d) {
            print(out, d.problem());
            return false;
        }
        if (!job.inputs.empty()) {
            const InputDescription& first = job.inputs.front();
            // LAS and LAZ inputs mix; whether LAZ inputs can share one file is the coding
            // plan's to say, once the output's form is known.
            std::vector<Difference> found = differences(first, *d);
            // Scale factors and offsets are the grid plan's to reconcile.
            std::erase_if(found, [](const Difference& x) {
                switch (x.field) {
                    case Field::Compression:
                    case Field::XScaleFactor:
                    case Field::YScaleFactor:
                    case Field::ZScaleFactor:
                    case Field::XOffset:
                    case Field::YOffset:
                    case Field::ZOffset:
                    case Field::LaszipCompressor:
                    case Field::LaszipCoder:
                    case Field::LaszipOptions:
                    case Field::LaszipItems:
                        return true;
                    default:
                        return false;
                }
            });
            if (!found.empty()) {
                const Difference& x = found.front();
                print(out, say("\n%s of %s is %s; the first file, %s, has %s\n", name_of(x.field),
                               name.c_str(), x.value.c_str(), job.names[0].c_str(),
                               x.first_value.c_str()));
                return false;
            }
            if (!same_crs_records(first, *d))
                print(out, say("\nWARNING: The coordinate reference system records of %s differ "
                               "from those of the first file, %s; the merged file keeps the "
                               "first file's\n",
                               name.c_str(), job.names[0].c_str()));
        }
        job.inputs.push_back(std::move(*d));
        ++job.LASCount;
    }
    return enough_files(job, out);
}

bool check_extended_total(const MergeJob& job, const CodingPlan& plan, std::FILE* out) {
    const InputDescription& first = job.inputs.front();
    const std::uint64_t limit = first.minor < 4 ? std::numeric_limits<std::uint32_t>::max()
                                                : std::numeric_limits<std::uint64_t>::max();
    std::uint64_t total = 0;
    for (const InputDescription& d : job.inputs) {
        if (d.point_count > limit - total) {
            print(out, say("\nERROR: The inputs hold more points than a LAS 1.%u header can "
                           "state (%llu)\n",
                           unsigned{first.minor}, ull{limit}));
            return false;
        }
        total += d.point_count;
    }
    // One chunk table lists every chunk of a LAZ output, and counts them in 32 bits.
    if (plan.form == OutputForm::Laz &&
        plan.chunk_count > std::numeric_limits<std::uint32_t>::max()) {
        print(out, say("\nERROR: The inputs hold %llu chunks, more than one chunk table can list "
                       "(4294967295)\n",
                       ull{plan.chunk_count}));
        return false;
    }
    print(out, say("%llu points in all input .%s files\n", ull{total},
                   first.compressed ? "laz" : "las"));
    return true;
}

Result<std::vector<std::optional<ChunkHeads>>> read_chunk_heads(const MergeJob& job,
                                                                const std::vector<bool>& candidates,
                                                                korvane::FileSystem& fs) {
    std::vector<std::optional<ChunkHeads>> heads(job.inputs.size());
    for (std::size_t i = 0; i < job.inputs.size(); ++i) {
        if (!candidates[i]) continue;
        const std::string& name = job.names[i];
        const korvane::UniqueFd fd = open_input(name, fs);
        if (!fd.valid()) return say("\nCannot read %s: %s\n", name.c_str(), std::strerror(errno));
        ChunkHeads found;
        std::uint64_t offset = job.inputs[i].points.offset;
        bool whole = true;
        for (const korvane::LazChunk& c : job.inputs[i].chunks) {
            std::array<std::byte, 12> head;
            whole = whole && c.bytes >= head.size();
            if (!whole) break;
            const ssize_t got = korvane::read_full(fs, fd.get(), head, static_cast<off_t>(offset));
            if (got != static_cast<ssize_t>(head.size()))
                return say("\nCannot read %s: %s\n", name.c_str(),
                           got < 0 ? std::strerror(errno) : "the file ended early");
            found.push_back({korvane::get_le<std::int32_t>(head, 0),
                             korvane::get_le<std::int32_t>(head, 4),
                             korvane::get_le<std::int32_t>(head, 8)});
            offset += c.bytes;
        }
        if (whole) heads[i] = std::move(found);
    }
    return heads;
}

void hint_extended(const std::string& name, std::FILE* hints, korvane::FileSystem& fs) {
    if (hints == nullptr) return;
    const korvane::UniqueFd fd = open_input(name, fs);
    if (!fd.valid()) return;
    const ReadResult read = read_extended(fd.get(), name, fs);
    if (read.problem || extended_refusal(read, name)) return;
    const InputDescription& d = read.description;
    print(hints,
          say("%s is LAS 1.%u%s with point format %u: Quillet --extended merges it\n", name.c_str(),
              unsigned{d.minor}, d.compressed ? " (LAZ)" : "", unsigned{d.format}));
}

}  // namespace quillet
