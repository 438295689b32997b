#include "plan/output_layout.hpp"

#include <algorithm>
#include <limits>

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
    std::uint8_t format_byte = 0;  // the format with the compression bits of the output's form
    std::array<double, kAxes> scale{}, offset{};  // the output's grid
    std::uint32_t offset_to_data = 0;
    std::uint32_t vlr_count = 0;
    std::uint32_t evlr_count = 0;
};

// The merged header: the first file's whole header block with the counts summed, the box
// enclosing every input that holds points, and the offsets and record counts of the new file.
// The start of the EVLRs (LAS 1.4) is patched in once they are written.
// The box of the inputs whose points keep their real coordinates' box (all of them unless some
// are converted), as the merged header states it, and in `kept` when any input keeps its box.
std::vector<std::byte> merged_header(const std::vector<InputDescription>& inputs,
                                     const CodingPlan& plan, const MergedCounts& counts,
                                     std::optional<std::array<double, 6>>& kept) {
    const InputDescription& first = inputs.front();
    std::uint64_t total = 0;
    std::array<std::uint64_t, korvane::kExtendedReturns> by_return{};
    LAS12Header h = first.base;
    bool boxed = false;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const InputDescription& d = inputs[i];
        total += d.point_count;
        for (std::size_t r = 0; r < by_return.size(); ++r) by_return[r] += d.points_by_return[r];
        // A file without points often states a box of zeros: it encloses nothing. A converted
        // input's box comes from its converted points, once they are written.
        if (d.point_count == 0 || !plan.keeps_box(i)) continue;
        if (!boxed) {
            h.MaxX = d.base.MaxX, h.MinX = d.base.MinX, h.MaxY = d.base.MaxY;
            h.MinY = d.base.MinY, h.MaxZ = d.base.MaxZ, h.MinZ = d.base.MinZ;
            boxed = true;
        } else {
            enclose_box(h, d.base);
        }
    }
    if (boxed) kept = std::array{h.MaxX, h.MinX, h.MaxY, h.MinY, h.MaxZ, h.MinZ};
    h.PointDataFormatID = counts.format_byte;
    h.XScaleFactor = counts.scale[0], h.YScaleFactor = counts.scale[1];
    h.ZScaleFactor = counts.scale[2];
    h.XOffset = counts.offset[0], h.YOffset = counts.offset[1], h.ZOffset = counts.offset[2];
    h.OffsetToData = counts.offset_to_data;
    h.NumberOfVariableLengthRecords = counts.vlr_count;

    // Before LAS 1.4 the 32-bit fields are the counts. In LAS 1.4 they are kept for older
    // readers: 0 with formats 6 and up, and for formats 0 to 5 the counts while they fit.
    constexpr std::uint64_t kMost32 = std::numeric_limits<std::uint32_t>::max();
    const bool legacy = first.minor < 4 || (first.format <= 5 && total <= kMost32);
    h.NumberOfPointReturns = legacy ? static_cast<std::uint32_t>(total) : 0;
    for (std::size_t r = 0; r < korvane::kLegacyReturns; ++r)
        h.NumberOfPointsByReturn[r] =
            legacy && by_return[r] <= kMost32 ? static_cast<std::uint32_t>(by_return[r]) : 0;

    std::vector<std::byte> block = first.header;
    const korvane::HeaderBytes base = korvane::header_to_bytes(h);
    std::copy(base.begin(), base.end(), block.begin());
    if (first.minor >= 3) write_field<std::uint64_t>(block, header::kWaveformStart, 0);
    if (first.minor >= 4) {
        write_field<std::uint64_t>(block, header::kEvlrStart, 0);
        write_field(block, header::kEvlrCount, counts.evlr_count);
        write_field(block, header::kPointCount, total);
        for (std::size_t r = 0; r < korvane::kExtendedReturns; ++r)
            write_field(block, header::kPointsByReturn, by_return[r], r);
    }
    return block;
}

}  // namespace

void OutputLayout::add_bytes(std::vector<std::byte> bytes, std::vector<Patch> patches) {
    Piece p;
    p.bytes = std::move(bytes);
    p.patches = std::move(patches);
    pieces.push_back(std::move(p));
}

void OutputLayout::add_copy(std::size_t input, Region from, Mark mark) {
    if (from.length == 0 && mark == Mark::None) return;
    if (!pieces.empty() && mark == Mark::None) {
        Piece& last = pieces.back();
        if (last.kind == Piece::Kind::Copy && last.input == input && !last.points &&
            last.from.end() == from.offset) {
            last.from.length += from.length;
            return;
        }
    }
    Piece p;
    p.kind = Piece::Kind::Copy;
    p.input = input;
    p.from = from;
    p.mark = mark;
    pieces.push_back(std::move(p));
}

void OutputLayout::add_points(std::size_t input, const InputDescription& d) {
    Piece p;
    p.kind = Piece::Kind::Copy;
    p.input = input;
    p.from = d.points;
    p.points = true;
    p.chunks = d.chunks;
    pieces.push_back(std::move(p));
}

void OutputLayout::add_to_run(std::size_t input, const InputDescription& d, bool encode,
                              const Conversion* convert, bool keep_chunks) {
    const bool joins = !pieces.empty() && pieces.back().kind == Piece::Kind::Run &&
                       pieces.back().encode == encode && !pieces.back().keep_chunks && !keep_chunks;
    if (!joins) {
        Piece p;
        p.kind = Piece::Kind::Run;
        p.encode = encode;
        p.keep_chunks = keep_chunks;
        pieces.push_back(std::move(p));
    }
    pieces.back().sources.push_back({input, d.points, d.chunks, convert});
}

void OutputLayout::add_shifted(std::size_t input, const InputDescription& d,
                               const std::array<std::int64_t, kAxes>& shift) {
    Piece p;
    p.kind = Piece::Kind::Shift;
    p.input = input;
    p.from = d.points;
    p.chunks = d.chunks;
    p.shift = shift;
    pieces.push_back(std::move(p));
}

void OutputLayout::add_chunk_table(bool variable) {
    Piece p;
    p.kind = Piece::Kind::ChunkTable;
    p.variable_chunks = variable;
    p.mark = Mark::ChunkTable;
    pieces.push_back(std::move(p));
}

OutputLayout classic_layout(const MergeJob& job, const ClassicState& state) {
    OutputLayout layout;
    const korvane::HeaderBytes header = korvane::header_to_bytes(state.ph12global);
    layout.add_bytes({header.begin(), header.end()});
    const std::uint64_t start = state.ph12global.OffsetToData;
    // Bytes from the end of the header up to the point data: the first file's variable length
    // records (projection among them) and, in LAS 1.0, the point data start signature.
    layout.add_copy(0, {korvane::kHeaderBytes, start - korvane::kHeaderBytes});
    for (std::size_t i = 0; i < job.inputs.size(); ++i) layout.add_points(i, job.inputs[i]);
    return layout;
}

OutputLayout extended_layout(const MergeJob& job, const CodingPlan& plan) {
    const std::vector<InputDescription>& inputs = job.inputs;
    const InputDescription& first = inputs.front();
    const bool laz = plan.form == OutputForm::Laz;

    // The header's place; its bytes follow once the records before the points are laid out.
    OutputLayout layout;
    layout.encoding = plan.laszip;
    layout.add_bytes({});
    std::uint64_t size = first.header.size();
    MergedCounts counts;
    std::uint32_t removed = 0, added = 0;
    std::uint64_t vlrs_end = first.header.size();
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
        if (laszip) {
            copy({r.whole.offset, korvane::kVlrHeaderBytes});
            bytes(plan.laszip_payload);
        } else {
            copy(r.whole);
        }
    }
    // A LAZ output of a first file that is LAS gets the LASzip record after the first file's.
    if (laz && !first.laszip) {
        const auto head = korvane::build_vlr_header(
            laz::kLaszipUserId, laz::kLaszipRecordId,
            static_cast<std::uint16_t>(plan.laszip_payload.size()), "Quillet");
        std::vector<std::byte> record(head.begin(), head.end());
        record.insert(record.end(), plan.laszip_payload.begin(), plan.laszip_payload.end());
        bytes(std::move(record));
        ++added;
    }
    // Whatever lies between the last record and the point data. The header keeps stating the
    // records that the first file states, less those left out.
    copy({vlrs_end, first.base.OffsetToData - vlrs_end});
    counts.vlr_count = first.base.NumberOfVariableLengthRecords - removed + added;
    counts.offset_to_data = static_cast<std::uint32_t>(size);
    const std::uint8_t format = first.base.PointDataFormatID & korvane::kFormatBits;
    counts.format_byte = !laz               ? format
                         : first.compressed ? first.base.PointDataFormatID
                                            : static_cast<std::uint8_t>(format | 0x80);

    // Where the chunk table starts, patched in once the chunks before it are written.
    if (laz)
        layout.add_bytes(std::vector<std::byte>(laz::kTableOffsetBytes), {{0, Mark::ChunkTable}});
    layout.conversions = plan.conversions;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const Conversion* convert = layout.conversions[i] ? &*layout.conversions[i] : nullptr;
        switch (plan.coding[i]) {
            case Coding::Copy:
                layout.add_points(i, inputs[i]);
                break;
            case Coding::Decode:
            case Coding::Rewrite:
                layout.add_to_run(i, inputs[i], false, convert);
                break;
            case Coding::Encode:
                layout.add_to_run(i, inputs[i], true, convert);
                break;
            case Coding::Reencode:
                layout.add_to_run(i, inputs[i], true, convert, !plan.runs_across_inputs);
                break;
            case Coding::Shift:
                layout.add_shifted(i, inputs[i], plan.shifts[i]);
                break;
        }
    }
    if (laz) layout.add_chunk_table(!plan.fixed_chunks);

    bool first_evlr = true;
    for (const RecordInfo& r : first.evlrs) {
        if (korvane::is_copc_record(r.user_id)) continue;
        ++counts.evlr_count;
        layout.add_copy(0, r.whole, first_evlr ? Mark::FirstEvlr : Mark::None);
        first_evlr = false;
    }

    counts.scale = plan.grid.scale;
    counts.offset = plan.grid.offset;
    Piece& head = layout.pieces.front();
    head.bytes = merged_header(inputs, plan, counts, layout.kept_box);
    layout.scale = plan.grid.scale;
    layout.offset = plan.grid.offset;
    if (first.minor >= 4) head.patches.push_back({header::kEvlrStart.offset, Mark::FirstEvlr});
    bool converted = false;
    for (const std::optional<Conversion>& c : plan.conversions) converted |= c.has_value();
    if (converted) head.patches.push_back({header::kBox.offset, Mark::None, true});
    return layout;
}

}  // namespace quillet
