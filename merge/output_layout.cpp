#include "output_layout.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "laz/chunk_table_coder.hpp"
#include "las_extended_layout.hpp"
#include "las_header.hpp"
#include "merged_header.hpp"

namespace quillet {
namespace {

using korvane::put_le;
namespace at = korvane::header_at;
namespace lz = korvane::laszip_at;

bool is_copc(const RecordInfo& r) {
    return r.user_id == korvane::kCopcUserId;
}

std::vector<std::byte> le_bytes(std::uint64_t value) {
    std::vector<std::byte> bytes(sizeof value);
    put_le(std::span(bytes), 0, value);
    return bytes;
}

// Whether the merged LAZ can keep the inputs' fixed chunk size: every input has that size and
// every input but the last ends with a full chunk, so that every chunk of the merged file but
// its last holds exactly that many points.
bool keeps_fixed_chunks(const std::vector<InputDescription>& inputs) {
    const std::uint32_t size = inputs.front().laszip->chunk_size;
    if (size == korvane::kVariableChunkSize) return false;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (inputs[i].laszip->chunk_size != size) return false;
        if (i + 1 < inputs.size() && inputs[i].point_count % size != 0) return false;
    }
    return true;
}

// The first file's LASzip record, for the merged chunks: the chunk size variable unless the
// fixed one is kept, and no special EVLRs.
std::vector<std::byte> merged_laszip_payload(const LaszipInfo& first, bool fixed) {
    std::vector<std::byte> payload = first.payload;
    if (!fixed) put_le<std::uint32_t>(payload, lz::kChunkSize, korvane::kVariableChunkSize);
    put_le<std::int64_t>(payload, lz::kSpecialEvlrCount, -1);
    put_le<std::int64_t>(payload, lz::kSpecialEvlrOffset, -1);
    return payload;
}

// The chunk table of the merged LAZ: every input's chunks, in list order.
std::vector<std::byte> merged_chunk_table(const std::vector<InputDescription>& inputs, bool fixed) {
    std::vector<korvane::LazChunk> chunks;
    for (const InputDescription& d : inputs)
        chunks.insert(chunks.end(), d.chunks.begin(), d.chunks.end());
    const std::vector<std::byte> coded = korvane::encode_chunk_table(chunks, !fixed);
    std::vector<std::byte> table(korvane::kChunkTableHeaderBytes);
    put_le<std::uint32_t>(table, 0, 0);  // version
    put_le<std::uint32_t>(table, 4, static_cast<std::uint32_t>(chunks.size()));
    table.insert(table.end(), coded.begin(), coded.end());
    return table;
}

// The merged header: the first file's whole header block with the counts summed, the box
// enclosing every input that holds points, and the offsets and record counts of the new file.
struct MergedCounts {
    std::uint32_t offset_to_data = 0;
    std::uint32_t vlr_count = 0;
    std::uint64_t evlr_start = 0;
    std::uint32_t evlr_count = 0;
};

std::vector<std::byte> merged_header(const std::vector<InputDescription>& inputs,
                                     const MergedCounts& counts) {
    const InputDescription& first = inputs.front();
    std::uint64_t total = 0;
    std::array<std::uint64_t, korvane::kExtendedReturns> by_return{};
    LAS12Header h = first.base;
    bool boxed = false;
    for (const InputDescription& d : inputs) {
        total += d.point_count;
        for (std::size_t r = 0; r < by_return.size(); ++r) by_return[r] += d.points_by_return[r];
        // A file without points often states a box of zeros: it encloses nothing.
        if (d.point_count == 0) continue;
        if (!boxed) {
            h.MaxX = d.base.MaxX, h.MinX = d.base.MinX, h.MaxY = d.base.MaxY;
            h.MinY = d.base.MinY, h.MaxZ = d.base.MaxZ, h.MinZ = d.base.MinZ;
            boxed = true;
        } else {
            enclose_box(h, d.base);
        }
    }
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

    std::vector<std::byte> header = first.header;
    const korvane::HeaderBytes base = korvane::header_to_bytes(h);
    std::copy(base.begin(), base.end(), header.begin());
    if (first.minor >= 3) put_le<std::uint64_t>(header, at::kWaveformStart, 0);
    if (first.minor >= 4) {
        put_le<std::uint64_t>(header, at::kEvlrStart, counts.evlr_start);
        put_le<std::uint32_t>(header, at::kEvlrCount, counts.evlr_count);
        put_le<std::uint64_t>(header, at::kPointCount, total);
        for (std::size_t r = 0; r < korvane::kExtendedReturns; ++r)
            put_le<std::uint64_t>(header, at::kPointsByReturn + 8 * r, by_return[r]);
    }
    return header;
}

}  // namespace

void OutputLayout::add_bytes(std::vector<std::byte> bytes) {
    size += bytes.size();
    pieces.push_back({Piece::Kind::Bytes, std::move(bytes), 0, {}});
}

void OutputLayout::add_input_bytes(std::size_t input, Region from) {
    if (from.length == 0) return;
    size += from.length;
    if (!pieces.empty()) {
        Piece& last = pieces.back();
        if (last.kind == Piece::Kind::InputBytes && last.input == input &&
            last.from.end() == from.offset) {
            last.from.length += from.length;
            return;
        }
    }
    pieces.push_back({Piece::Kind::InputBytes, {}, input, from});
}

void OutputLayout::add_points(std::size_t input, std::uint64_t length) {
    size += length;
    pieces.push_back({Piece::Kind::InputPoints, {}, input, {}});
}

OutputLayout classic_layout(const MergeJob& job) {
    OutputLayout layout;
    const korvane::HeaderBytes header = korvane::header_to_bytes(job.ph12global);
    layout.add_bytes({header.begin(), header.end()});
    const std::uint64_t start = job.ph12global.OffsetToData;
    // Bytes from the end of the header up to the point data: the first file's variable length
    // records (projection among them) and, in LAS 1.0, the point data start signature.
    layout.add_input_bytes(0, {korvane::kHeaderBytes, start - korvane::kHeaderBytes});
    for (std::size_t i = 0; i < job.inputs.size(); ++i)
        layout.add_points(i, job.inputs[i].points.length);
    return layout;
}

OutputLayout extended_layout(const MergeJob& job) {
    const std::vector<InputDescription>& inputs = job.inputs;
    const InputDescription& first = inputs.front();
    const bool laz = first.compressed;
    const bool fixed = laz && keeps_fixed_chunks(inputs);

    OutputLayout layout;
    // The header's place; its bytes are filled in once the offsets below are known.
    layout.add_bytes(std::vector<std::byte>(first.header.size()));
    MergedCounts counts;
    std::uint32_t removed = 0;
    std::uint64_t vlrs_end = first.header.size();
    for (std::size_t k = 0; k < first.vlrs.size(); ++k) {
        const RecordInfo& r = first.vlrs[k];
        vlrs_end = r.whole.end();
        // Cloud optimised LAZ indexes its own chunks: the merged file is a plain LAZ file.
        if (is_copc(r)) {
            ++removed;
            continue;
        }
        if (laz && k == first.laszip->vlr) {
            layout.add_input_bytes(0, {r.whole.offset, korvane::kVlrHeaderBytes});
            layout.add_bytes(merged_laszip_payload(*first.laszip, fixed));
        } else {
            layout.add_input_bytes(0, r.whole);
        }
    }
    // Whatever lies between the last record and the point data. The header keeps stating the
    // records that the first file states, less those left out.
    layout.add_input_bytes(0, {vlrs_end, first.base.OffsetToData - vlrs_end});
    counts.vlr_count = first.base.NumberOfVariableLengthRecords - removed;
    counts.offset_to_data = static_cast<std::uint32_t>(layout.size);

    if (laz) {
        std::uint64_t chunk_bytes = 0;
        for (const InputDescription& d : inputs) chunk_bytes += d.points.length;
        layout.add_bytes(le_bytes(counts.offset_to_data + sizeof(std::uint64_t) + chunk_bytes));
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) layout.add_points(i, inputs[i].points.length);
    if (laz) layout.add_bytes(merged_chunk_table(inputs, fixed));

    counts.evlr_start = layout.size;
    for (const RecordInfo& r : first.evlrs) {
        if (is_copc(r)) continue;
        ++counts.evlr_count;
        layout.add_input_bytes(0, r.whole);
    }
    if (counts.evlr_count == 0) counts.evlr_start = 0;

    layout.pieces.front().bytes = merged_header(inputs, counts);
    return layout;
}

}  // namespace quillet
