#include "plan/output_layout.hpp"

#include <algorithm>
#include <limits>
#include <span>
#include <string_view>

#include "las/public_header.hpp"
#include "las/variable_length_records.hpp"
#include "las_header.hpp"
#include "laz/chunk_table.hpp"
#include "plan/header_box.hpp"

namespace quillet {
namespace {

namespace header = korvane::header;
namespace laz = korvane::laz;
using korvane::write_field;

// The counts of the merged file's records, known once its VLRs are laid out.
struct MergedCounts {
    std::uint16_t header_size = 0;
    std::uint8_t format_byte = 0;  // the format with the compression bits of the output's form
    std::uint32_t offset_to_data = 0;
    std::uint32_t vlr_count = 0;
    std::uint32_t evlr_count = 0;
};

// The bits of the global encoding that the output has: the first file's, with the GPS time type
// of the schema; in a header of a new version no waveform data (bits 1 and 2 cleared); and when
// the first file's format is converted to one of 6-10, the coordinate system as WKT (bit 4), as
// LAS 1.4 asks of those formats, unless the first file's GeoTIFF keys had to be kept.
std::uint16_t global_encoding(const InputDescription& first, const OutputSchema& schema) {
    constexpr std::uint16_t kWaveformBits = 0x0006;
    auto bits =
        static_cast<std::uint16_t>(first.base.GlobalEncoding & ~korvane::kGpsTimeIsStandard);
    if (schema.minor != first.minor) bits &= static_cast<std::uint16_t>(~kWaveformBits);
    if (schema.adjusted_gps_time) bits |= korvane::kGpsTimeIsStandard;
    if (schema.format >= 6 && first.format < 6 && !schema.crs.keys_kept) bits |= korvane::kCrsIsWkt;
    return bits;
}

// The merged header: the first file's whole header block with the schema's counts, format and
// grid, the box enclosing every input that holds points, and the offsets and record counts of the
// new file. The start of the EVLRs (LAS 1.4) is patched in once they are written.
// The box of the inputs whose points keep their real coordinates' box (all of them unless some
// are moved), as the merged header states it, and in `kept` when any input keeps its box.
std::vector<std::byte> merged_header(std::span<const InputDescription> inputs,
                                     const CodingPlan& plan, const MergedCounts& counts,
                                     std::optional<std::array<double, 6>>& kept) {
    const OutputSchema& schema = plan.schema;
    const InputDescription& first = inputs.front();
    const std::uint64_t total = schema.point_count;
    const std::array<std::uint64_t, korvane::kExtendedReturns>& by_return = schema.points_by_return;
    LAS12Header h = first.base;
    bool boxed = false;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const InputDescription& d = inputs[i];
        // A file without points often states a box of zeros: it encloses nothing. A moved
        // input's box comes from its moved points, once they are written.
        if (d.point_count == 0 || !plan.inputs[i].keeps_box()) continue;
        if (!boxed) {
            h.MaxX = d.base.MaxX, h.MinX = d.base.MinX, h.MaxY = d.base.MaxY;
            h.MinY = d.base.MinY, h.MaxZ = d.base.MaxZ, h.MinZ = d.base.MinZ;
            boxed = true;
        } else {
            enclose_box(h, d.base);
        }
    }
    if (boxed) kept = std::array{h.MaxX, h.MinX, h.MaxY, h.MinY, h.MaxZ, h.MinZ};
    h.VersionMinor = schema.minor;
    h.HeaderSize = counts.header_size;
    h.GlobalEncoding = global_encoding(first, schema);
    h.PointDataFormatID = counts.format_byte;
    h.PointDataRecordLength = schema.record_length;
    h.XScaleFactor = schema.scale[0], h.YScaleFactor = schema.scale[1];
    h.ZScaleFactor = schema.scale[2];
    h.XOffset = schema.offset[0], h.YOffset = schema.offset[1], h.ZOffset = schema.offset[2];
    h.OffsetToData = counts.offset_to_data;
    h.NumberOfVariableLengthRecords = counts.vlr_count;

    // Before LAS 1.4 the 32-bit fields are the counts. In LAS 1.4 they are kept for older
    // readers: 0 with formats 6 and up, and for formats 0 to 5 the counts while they fit.
    constexpr std::uint64_t kMost32 = std::numeric_limits<std::uint32_t>::max();
    const bool legacy = schema.minor < 4 || (schema.format <= 5 && total <= kMost32);
    h.NumberOfPointReturns = legacy ? static_cast<std::uint32_t>(total) : 0;
    for (std::size_t r = 0; r < korvane::kLegacyReturns; ++r)
        h.NumberOfPointsByReturn[r] =
            legacy && by_return[r] <= kMost32 ? static_cast<std::uint32_t>(by_return[r]) : 0;

    // The first file's block when the version stays; a block of the output's version (its
    // fields beyond the first 227 bytes written below) when it grows.
    std::vector<std::byte> block = first.header;
    if (schema.minor != first.minor) block.assign(counts.header_size, std::byte{0});
    const korvane::HeaderBytes base = korvane::header_to_bytes(h);
    std::copy(base.begin(), base.end(), block.begin());
    if (schema.minor >= 3) write_field<std::uint64_t>(block, header::kWaveformStart, 0);
    if (schema.minor >= 4) {
        write_field<std::uint64_t>(block, header::kEvlrStart, 0);
        write_field(block, header::kEvlrCount, counts.evlr_count);
        write_field(block, header::kPointCount, total);
        for (std::size_t r = 0; r < korvane::kExtendedReturns; ++r)
            write_field(block, header::kPointsByReturn, by_return[r], r);
    }
    return block;
}

// A VLR: its header and `payload` (at most 65,535 bytes, as the callers ensure).
std::vector<std::byte> vlr_record(std::string_view user_id, std::uint16_t record_id,
                                  std::span<const std::byte> payload,
                                  std::string_view description) {
    const auto head = korvane::build_vlr_header(
        user_id, record_id, static_cast<std::uint16_t>(payload.size()), description);
    // Sized once and filled: GCC 12 at -O3 misreads an insert after the header as out of bounds.
    std::vector<std::byte> record(head.size() + payload.size());
    std::copy(head.begin(), head.end(), record.begin());
    std::copy(payload.begin(), payload.end(),
              record.begin() + static_cast<std::ptrdiff_t>(head.size()));
    return record;
}

// The Extra Bytes record of the output's fields.
std::vector<std::byte> extra_bytes_record(const OutputSchema& schema) {
    return vlr_record(korvane::kSpecUserId, korvane::kExtraBytesRecordId,
                      korvane::build_extra_bytes(schema.extra_fields), "Extra Bytes");
}

// The WKT record that takes the place of the first file's coordinate system records.
std::vector<std::byte> wkt_record(const OutputSchema& schema) {
    return vlr_record(korvane::kProjectionUserId, korvane::kWktRecordId, schema.crs.wkt, "OGC WKT");
}

// Whether a record of the first file gives way to the schema's WKT record.
bool replaced_by_wkt(const OutputSchema& schema, const RecordInfo& r) {
    return !schema.crs.wkt.empty() && korvane::is_crs_record(r.user_id, r.record_id);
}

}  // namespace

Mark mark_of(const Piece& piece) {
    if (const auto* copy = std::get_if<CopyPiece>(&piece)) return copy->mark;
    if (std::holds_alternative<ChunkTablePiece>(piece)) return Mark::ChunkTable;
    return Mark::None;
}

void OutputLayout::add_bytes(std::vector<std::byte> bytes, std::vector<Patch> patches) {
    pieces.emplace_back(BytesPiece{std::move(bytes), std::move(patches)});
}

void OutputLayout::add_copy(std::size_t input, Region from, Mark mark) {
    if (from.length == 0 && mark == Mark::None) return;
    if (!pieces.empty() && mark == Mark::None) {
        auto* last = std::get_if<CopyPiece>(&pieces.back());
        if (last != nullptr && last->input == input && last->from.end() == from.offset) {
            last->from.length += from.length;
            return;
        }
    }
    pieces.emplace_back(CopyPiece{input, from, mark});
}

void OutputLayout::add_points(std::size_t input, const InputDescription& d) {
    pieces.emplace_back(PointsPiece{input, d.points, d.chunks});
}

void OutputLayout::add_to_run(std::size_t input, const InputDescription& d, bool encode,
                              const RecordTransform* transform, bool keep_chunks) {
    auto* last = pieces.empty() ? nullptr : std::get_if<RunPiece>(&pieces.back());
    if (last == nullptr || last->encode != encode || last->keep_chunks || keep_chunks)
        last = &std::get<RunPiece>(pieces.emplace_back(RunPiece{{}, encode, keep_chunks}));
    last->sources.push_back({input, d.points, d.chunks, transform});
}

void OutputLayout::add_shifted(std::size_t input, const InputDescription& d,
                               const std::array<std::int64_t, kAxes>& shift) {
    pieces.emplace_back(ShiftPiece{input, d.points, d.chunks, shift});
}

void OutputLayout::add_chunk_table(bool variable) {
    pieces.emplace_back(ChunkTablePiece{variable});
}

OutputLayout classic_layout(const MergeJob& job, const ClassicState& state) {
    OutputLayout layout;
    layout.record_length = state.ph12global.PointDataRecordLength;
    const korvane::HeaderBytes header = korvane::header_to_bytes(state.ph12global);
    layout.add_bytes({header.begin(), header.end()});
    const std::uint64_t start = state.ph12global.OffsetToData;
    // Bytes from the end of the header up to the point data: the first file's variable length
    // records (projection among them) and, in LAS 1.0, the point data start signature.
    layout.add_copy(0, {korvane::kHeaderBytes, start - korvane::kHeaderBytes});
    for (std::size_t i = 0; i < job.inputs.size(); ++i) layout.add_points(i, job.inputs[i]);
    return layout;
}

OutputLayout extended_layout(std::span<const InputDescription> inputs, const CodingPlan& plan) {
    const OutputSchema& schema = plan.schema;
    const InputDescription& first = inputs.front();
    const bool laz = schema.form == OutputForm::Laz;

    // The header's place; its bytes follow once the records before the points are laid out.
    OutputLayout layout;
    layout.encoding = plan.laszip;
    layout.record_length = schema.record_length;
    layout.add_bytes({});
    MergedCounts counts;
    counts.header_size = schema.minor == first.minor
                             ? static_cast<std::uint16_t>(first.header.size())
                             : korvane::standard_header_size(schema.minor);
    std::uint64_t size = counts.header_size;
    std::uint32_t removed = 0, added = 0;
    std::uint64_t vlrs_end = first.header.size();
    bool extra_written = false;
    bool wkt_written = false;
    auto copy = [&](Region r) {
        layout.add_copy(0, r);
        size += r.length;
    };
    auto bytes = [&](std::vector<std::byte> b) {
        size += b.size();
        layout.add_bytes(std::move(b));
    };
    for (std::size_t k = 0; k < first.vlrs.size(); ++k) {
        const RecordInfo& r = first.vlrs[k];
        vlrs_end = r.whole.end();
        // Cloud optimised LAZ indexes its own chunks: the merged file is a plain LAZ file. A LAS
        // output has no LASzip record.
        const bool laszip = first.laszip && k == first.laszip->vlr;
        if (korvane::is_copc_record(r.user_id) || (laszip && !laz)) {
            ++removed;
            continue;
        }
        // The first file's GeoTIFF (and any WKT) records give way to one WKT record, in the
        // place of the first of them.
        if (replaced_by_wkt(schema, r)) {
            ++removed;
            if (!wkt_written) {
                bytes(wkt_record(schema));
                wkt_written = true;
                ++added;
            }
            continue;
        }
        if (laszip) {
            copy({r.whole.offset, korvane::kVlrHeaderBytes});
            bytes(plan.laszip_payload);
        } else if (schema.extra_record_changed &&
                   korvane::is_extra_bytes_record(r.user_id, r.record_id)) {
            bytes(extra_bytes_record(schema));
            extra_written = true;
        } else {
            copy(r.whole);
        }
    }
    // The union of the inputs' extra bytes fields, when the first file has no record of them.
    if (schema.extra_record_changed && !extra_written) {
        bytes(extra_bytes_record(schema));
        ++added;
    }
    // A LAZ output of a first file that is LAS gets the LASzip record after the first file's.
    if (laz && !first.laszip) {
        bytes(vlr_record(laz::kLaszipUserId, laz::kLaszipRecordId, plan.laszip_payload, "Quillet"));
        ++added;
    }
    // Whatever lies between the last record and the point data. The header keeps stating the
    // records that the first file states, less those left out.
    copy({vlrs_end, first.base.OffsetToData - vlrs_end});
    counts.vlr_count = first.base.NumberOfVariableLengthRecords - removed + added;
    counts.offset_to_data = static_cast<std::uint32_t>(size);
    // A LAZ output keeps the compression bits of a LAZ first file, else sets the usual one.
    counts.format_byte =
        !laz ? schema.format
        : first.compressed
            ? static_cast<std::uint8_t>(schema.format |
                                        (first.base.PointDataFormatID & ~korvane::kFormatBits))
            : static_cast<std::uint8_t>(schema.format | 0x80);

    // Where the chunk table starts, patched in once the chunks before it are written.
    if (laz)
        layout.add_bytes(std::vector<std::byte>(laz::kTableOffsetBytes), {{0, Mark::ChunkTable}});
    for (const InputPlan& p : plan.inputs) layout.transforms.push_back(p.transform);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const RecordTransform* t = layout.transforms[i] ? &*layout.transforms[i] : nullptr;
        switch (plan.inputs[i].coding) {
            case Coding::Copy:
                layout.add_points(i, inputs[i]);
                break;
            case Coding::Decode:
            case Coding::Rewrite:
                layout.add_to_run(i, inputs[i], false, t);
                break;
            case Coding::Encode:
                layout.add_to_run(i, inputs[i], true, t);
                break;
            case Coding::Reencode:
                layout.add_to_run(i, inputs[i], true, t, !plan.runs_across_inputs);
                break;
            case Coding::Shift:
                layout.add_shifted(i, inputs[i], plan.inputs[i].shift);
                break;
        }
    }
    if (laz) layout.add_chunk_table(!plan.fixed_chunks);

    bool first_evlr = true;
    for (const RecordInfo& r : first.evlrs) {
        if (korvane::is_copc_record(r.user_id) || replaced_by_wkt(schema, r)) continue;
        ++counts.evlr_count;
        layout.add_copy(0, r.whole, first_evlr ? Mark::FirstEvlr : Mark::None);
        first_evlr = false;
    }

    auto& head = std::get<BytesPiece>(layout.pieces.front());
    head.bytes = merged_header(inputs, plan, counts, layout.kept_box);
    layout.scale = schema.scale;
    layout.offset = schema.offset;
    if (schema.minor >= 4) head.patches.push_back({header::kEvlrStart.offset, Mark::FirstEvlr});
    bool moved = false;
    for (const InputPlan& p : plan.inputs) moved |= !p.keeps_box();
    if (moved) head.patches.push_back({header::kBox.offset, Mark::None, true});
    return layout;
}

}  // namespace quillet
