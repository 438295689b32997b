#include "plan/extended_checks.hpp"

#include <cerrno>
#include <cstring>
#include <limits>

#include "classic/input_checks.hpp"
#include "file_checks.hpp"
#include "full_io.hpp"
#include "las/byte_order.hpp"
#include "las/point_formats.hpp"
#include "laz/chunk_head.hpp"
#include "plan/coordinate_system.hpp"
#include "plan/input_differences.hpp"
#include "read/input_file.hpp"
#include "read/list_file.hpp"
#include "unique_fd.hpp"

namespace quillet {
namespace {

using ull = unsigned long long;
namespace laz = korvane::laz;

// Opens and reads one listed file; the missing-file messages are those of the classic checks.
Result<InputDescription> describe_listed(const std::string& name, korvane::FileSystem& fs) {
    if (const std::string cannot = korvane::access_problem(name.c_str(), fs); !cannot.empty())
        return bad_input({cannot + korvane::error_text(1, name.c_str())});
    const korvane::UniqueFd fd = open_input(name, fs);
    if (!fd.valid())
        return bad_input(say("\nCannot read %s: %s\n", name.c_str(), std::strerror(errno)));
    ReadResult read = read_extended(fd.get(), name, fs);
    if (Problem refusal = extended_refusal(read, name)) return *refusal;
    if (read.problem) return *read.problem;
    return std::move(read.description);
}

}  // namespace

Problem extended_refusal(const ReadResult& read, const std::string& name) {
    const InputDescription& d = read.description;
    if (read.format_read && korvane::has_waveform_packets(d.format))
        return refused(
            say("\n%s holds point format %u, whose waveform packets point into its own waveform "
                "data: it cannot be merged\n",
                name.c_str(), unsigned{d.format}));
    if (!d.laszip) return std::nullopt;
    const laz::LaszipRecord& z = d.laszip->record;
    if (z.compressor == laz::kPointwiseCompressor)
        return refused(
            say("\n%s is LAZ compressed point by point, not in chunks: it cannot be merged without "
                "decompressing it\n",
                name.c_str()));
    if (!z.in_known_chunks())
        return refused(
            say("\n%s uses LASzip compressor %u with coder %u, which Quillet cannot merge\n",
                name.c_str(), unsigned{z.compressor}, unsigned{z.coder}));
    return std::nullopt;
}

Problem check_extended_inputs(MergeJob& job, const MergeEvents& events, korvane::FileSystem& fs) {
    job.inputs.clear();
    job.LASCount = 0;
    ProjSession systems;  // compares coordinate systems as systems, not as record bytes

    for (const std::string& name : job.names) {
        Result<InputDescription> d = describe_listed(name, fs);
        if (!d) return d.problem();
        if (!job.inputs.empty()) {
            const InputDescription& first = job.inputs.front();
            // LAS and LAZ inputs mix; whether LAZ inputs can share one file is the coding
            // plan's to say, once the output's form is known.
            std::vector<Difference> found = differences(first, *d);
            // Inputs whose extra bytes are all described (or that have none) are converted to
            // the output's schema, which the schema's decision refuses or makes.
            const bool convertible = first.extra_bytes_described() && d->extra_bytes_described();
            // Scale factors and offsets are the grid plan's to reconcile.
            std::erase_if(found, [convertible](const Difference& x) {
                switch (x.field) {
                    case Field::Version:
                    case Field::PointFormat:
                    case Field::RecordLength:
                    case Field::GpsTime:
                    case Field::ExtraBytes:
                        return convertible;
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
                return refused(say("\n%s of %s is %s; the first file, %s, has %s\n",
                                   name_of(x.field), name.c_str(), x.value.c_str(),
                                   first.name.c_str(), x.first_value.c_str()));
            }
            if (!systems.same_system(first, *d))
                events.warn(say("\nWARNING: The coordinate reference system records of %s differ "
                                "from those of the first file, %s; the merged file keeps the "
                                "first file's\n",
                                name.c_str(), first.name.c_str())
                                .text);
        }
        job.inputs.push_back(std::move(*d));
        ++job.LASCount;
    }
    // A list's words for a list; one input is enough for any other request.
    if (!job.listName.empty()) return too_few_files(job);
    if (job.LASCount == 0) return invalid_request(say("\nNo files to merge\n"));
    return std::nullopt;
}

Problem too_few_files(const MergeJob& job) {
    const char* list = job.listName.c_str();
    if (job.LASCount == 0)
        return invalid_request(say("\nFile %s contains no valid .las files\n", list));
    if (job.LASCount == 1)
        return invalid_request(say("\nAt least two .las files required in %s\n", list));
    return std::nullopt;
}

Result<Total> check_extended_total(std::span<const InputDescription> inputs,
                                   const CodingPlan& plan) {
    const OutputSchema& schema = plan.schema;
    const std::uint64_t limit = schema.minor < 4 ? std::numeric_limits<std::uint32_t>::max()
                                                 : std::numeric_limits<std::uint64_t>::max();
    std::uint64_t total = 0;
    for (const InputDescription& d : inputs) {
        if (d.point_count > limit - total)
            return refused(
                say("\nERROR: The inputs hold more points than a LAS 1.%u header can "
                    "state (%llu)\n",
                    unsigned{schema.minor}, ull{limit}));
        total += d.point_count;
    }
    // One chunk table lists every chunk of a LAZ output, and counts them in 32 bits.
    if (schema.form == OutputForm::Laz &&
        plan.chunk_count > std::numeric_limits<std::uint32_t>::max())
        return refused(
            say("\nERROR: The inputs hold %llu chunks, more than one chunk table can "
                "list (4294967295)\n",
                ull{plan.chunk_count}));
    return Total{total, say("%llu points in all input .%s files\n", ull{total},
                            inputs.front().compressed ? "laz" : "las")};
}

Result<std::vector<std::optional<ChunkHeads>>> read_chunk_heads(
    std::span<const InputDescription> inputs, const std::vector<bool>& candidates,
    korvane::FileSystem& fs) {
    std::vector<std::optional<ChunkHeads>> heads(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!candidates[i]) continue;
        const std::string& name = inputs[i].name;
        const korvane::UniqueFd fd = open_input(name, fs);
        if (!fd.valid())
            return bad_input(say("\nCannot read %s: %s\n", name.c_str(), std::strerror(errno)));
        ChunkHeads found;
        std::uint64_t offset = inputs[i].points.offset;
        bool whole = true;
        for (const korvane::LazChunk& c : inputs[i].chunks) {
            std::array<std::byte, laz::kChunkHeadBytes> head;
            whole = whole && c.bytes >= head.size();
            if (!whole) break;
            const ssize_t got = korvane::read_full(fs, fd.get(), head, static_cast<off_t>(offset));
            if (got != static_cast<ssize_t>(head.size())) return read_failure(name, got);
            found.push_back(laz::read_chunk_head(head));
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
