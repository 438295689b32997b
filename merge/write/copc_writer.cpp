#include "write/copc_writer.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <set>

#include "full_io.hpp"
#include "las/byte_order.hpp"
#include "las/point_formats.hpp"
#include "las/public_header.hpp"
#include "las/variable_length_records.hpp"
#include "laz/chunk_table.hpp"
#include "laz/chunk_table_coder.hpp"
#include "laz/copc.hpp"
#include "laz/laszip_record.hpp"
#include "read/input_file.hpp"
#include "write/octree_coder.hpp"
#include "write/ordered_tasks.hpp"
#include "write/temporary_output.hpp"

namespace quillet {
namespace {

namespace header = korvane::header;
namespace laz = korvane::laz;
using korvane::read_field;
using korvane::write_field;
using laz::CopcEntry;
using laz::VoxelKey;

constexpr int kPageLevels = 3;          // levels below a page's first node that the page holds
constexpr std::size_t kGpsTimeAt = 22;  // in a record of point format 6-8

}  // namespace

Result<StagedPoints> open_staged_points(const std::string& name, korvane::FileSystem& fs) {
    korvane::UniqueFd fd = open_input(name, fs);
    const auto failed = [&name] {
        return io_error(say("\nCannot read the staged points %s: %s\n", name.c_str(),
                            std::strerror(errno != 0 ? errno : EIO)));
    };
    if (!fd.valid()) return failed();
    StagedPoints s;
    const auto read = [&](std::vector<std::byte>& into, std::uint64_t offset,
                          std::uint64_t length) {
        into.resize(static_cast<std::size_t>(length));
        return korvane::read_full(fs, fd.get(), into, static_cast<off_t>(offset)) ==
               static_cast<ssize_t>(length);
    };
    s.head.resize(korvane::standard_header_size(4));
    if (!read(s.head, 0, s.head.size())) return failed();
    // A header block longer than LAS 1.4's (a first file's own extra bytes) is left behind: the
    // info VLR must follow the 375 bytes.
    const std::uint16_t header_size = read_field(s.head, header::kHeaderSize);
    const std::uint32_t data = read_field(s.head, header::kOffsetToData);
    s.record_length = read_field(s.head, header::kRecordLength);
    const std::uint64_t points = read_field(s.head, header::kPointCount);
    const std::uint64_t evlr_start = read_field(s.head, header::kEvlrStart);
    struct stat st {};
    if (fs.fstat(fd.get(), &st) != 0) return failed();
    const auto size = static_cast<std::uint64_t>(st.st_size);
    // The file is the first pass's, but its fields still size nothing it does not hold.
    const bool fits = s.record_length != 0 && points <= (size - data) / s.record_length;
    if (header_size < s.head.size() || data < header_size || data > size || !fits) {
        errno = EIO;
        return failed();
    }
    if (!read(s.vlrs, header_size, data - header_size)) return failed();
    if (evlr_start != 0 && evlr_start < size && !read(s.evlrs, evlr_start, size - evlr_start))
        return failed();
    s.records = {std::move(fd), data, points};
    return s;
}

namespace {

// Lays out the hierarchy's pages: each page holds the nodes from its head down to kPageLevels
// levels below it, then one child page entry for each subtree that goes deeper, whose page
// follows (depth first).
class PageWriter {
  public:
    explicit PageWriter(std::span<const CopcEntry> nodes) : nodes_(nodes) {
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            index_[nodes[i].key] = i;
            // The node and its ancestors: the keys under which some node lies.
            for (VoxelKey k = nodes[i].key; occupied_.insert(k).second && k.depth > 0;)
                k = {k.depth - 1, k.x >> 1, k.y >> 1, k.z >> 1};
        }
    }

    // Lays out the page headed by `head` at file offset `at`, and its child pages after it,
    // appending their bytes to `out`. The page's own size.
    std::uint64_t lay_out(const VoxelKey& head, std::uint64_t at, std::vector<std::byte>& out) {
        std::vector<CopcEntry> entries;
        std::vector<VoxelKey> deeper;  // heads of child pages
        collect(head, head.depth, entries, deeper);
        const std::uint64_t size = (entries.size() + deeper.size()) * laz::kCopcEntryBytes;
        const std::size_t page_at = out.size();
        out.resize(out.size() + size);
        std::uint64_t next = at + size;
        for (const VoxelKey& k : deeper) {
            const std::uint64_t child = lay_out(k, next, out);
            entries.push_back({k, next, static_cast<std::int32_t>(child), -1});
            next += child;
        }
        const std::vector<std::byte> bytes = laz::build_copc_page(entries);
        std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(page_at));
        return size;
    }

  private:
    void collect(const VoxelKey& k, int head_depth, std::vector<CopcEntry>& entries,
                 std::vector<VoxelKey>& deeper) const {
        if (occupied_.count(k) == 0) return;
        if (k.depth - head_depth > kPageLevels) {
            deeper.push_back(k);
            return;
        }
        if (const auto it = index_.find(k); it != index_.end())
            entries.push_back(nodes_[it->second]);
        for (int o = 0; o < 8; ++o) collect(k.child(o), head_depth, entries, deeper);
    }

    std::span<const CopcEntry> nodes_;
    std::map<VoxelKey, std::size_t> index_;
    std::set<VoxelKey> occupied_;
};

}  // namespace

CopcHierarchy copc_hierarchy(std::span<const CopcEntry> nodes, std::uint64_t at) {
    CopcHierarchy h;
    if (nodes.empty()) {
        // A file without points still has a root: an empty node (no chunk).
        const CopcEntry root{};
        h.bytes = laz::build_copc_page(std::span(&root, 1));
        h.root_size = h.bytes.size();
        return h;
    }
    PageWriter pages(nodes);
    h.root_size = pages.lay_out(VoxelKey{}, at, h.bytes);
    return h;
}

namespace {

// The staged header's grid and the cube around its points: the header's box (zeros, as merged
// headers state it) when it has none.
struct Placed {
    std::array<double, 3> scale{}, offset{};
    OctreeCube cube;
};
Result<Placed> place_points(StagedPoints& s, const std::string& dir, korvane::FileSystem& fs) {
    const Result<std::optional<std::array<std::int32_t, 6>>> extent =
        scan_extent(s.records, s.record_length, dir, fs);
    if (!extent) return extent.problem();
    Placed p;
    double min_half = 0;
    std::array<double, 6> box{};
    for (std::size_t a = 0; a < 3; ++a) {
        p.scale[a] = read_field(s.head, header::kScale, a);
        p.offset[a] = read_field(s.head, header::kOffset, a);
        min_half = std::max(min_half, p.scale[a]);
        box[a] = read_field(s.head, header::kBox, 2 * a + 1);
        box[a + 3] = read_field(s.head, header::kBox, 2 * a);
        if (!*extent) continue;
        // The real coordinates of the least and greatest stored values (either way round: a
        // scale may be negative).
        const double low = p.offset[a] + p.scale[a] * (**extent)[a];
        const double high = p.offset[a] + p.scale[a] * (**extent)[a + 3];
        box[a] = std::min(low, high);
        box[a + 3] = std::max(low, high);
    }
    p.cube = octree_cube(box, min_half);
    return p;
}

}  // namespace

Problem write_copc(StagedPoints s, const std::string& output, const CopcSettings& settings,
                   const MergeEvents& events, korvane::FileSystem& fs) {
    const std::uint8_t format = read_field(s.head, header::kFormat) & korvane::kFormatBits;
    const auto extra =
        static_cast<std::uint16_t>(s.record_length - korvane::base_record_length(format));
    const Result<Placed> placed = place_points(s, settings.temp_dir, fs);
    if (!placed) return placed.problem();
    const OctreeCube& cube = placed->cube;

    // The layout: header, info VLR, LASzip VLR, the staged VLRs, the chunk table's offset, the
    // chunks, the chunk table, the hierarchy EVLR, the staged EVLRs. The chunks are written as
    // they are coded; what comes before them once their sizes are known.
    const laz::LaszipRecord laszip =
        laz::standard_laszip_record(format, extra, laz::kVariableChunkSize);
    const std::vector<std::byte> laszip_payload = laz::build_laszip_record(laszip);
    const std::uint64_t data = s.head.size() + korvane::kVlrHeaderBytes * 2 + laz::kCopcInfoBytes +
                               laszip_payload.size() + s.vlrs.size();

    std::optional<TemporaryOutput> out = TemporaryOutput::create(output, fs, events.temporary);
    if (!out) return io_error(say("\nCannot open binary file %s for writing\n", output.c_str()));
    const auto write_failed = [&output] {
        return io_error(say("\nCannot write %s: %s\n", output.c_str(), std::strerror(errno)));
    };
    std::uint64_t at = data + laz::kTableOffsetBytes;
    const auto write = [&](std::span<const std::byte> bytes) {
        const bool ok = korvane::write_full(fs, out->fd(), bytes, static_cast<off_t>(at));
        at += bytes.size();
        return ok;
    };

    // Every node one layered chunk, coded on every core, written in the order the nodes come.
    std::vector<CopcEntry> entries;
    std::vector<korvane::LazChunk> table;
    double gps_min = std::numeric_limits<double>::infinity(), gps_max = -gps_min;
    std::uint64_t done = 0;
    // The pieces in flight (their records, and what building a subtree takes beside them) are
    // held to a quarter of the budget; one is always let through.
    const std::uint64_t in_flight_limit = settings.memory / 4;
    {
        const CellMapper cells(cube, placed->scale, placed->offset, settings.rules.max_depth);
        OrderedTasks<CodedPiece> coders(settings.threads);
        std::deque<std::uint64_t> sizes;  // of the pieces in flight
        std::uint64_t in_flight = 0;
        const auto cancelled_now = [&]() -> Problem {
            if (events.go_on(settings.progress.first + done, settings.progress.total))
                return std::nullopt;
            return cancelled(say("\nThe merge was cancelled; %s not written\n", output.c_str()));
        };
        const auto take = [&]() -> Problem {
            const CodedPiece coded = coders.take();
            in_flight -= sizes.front();
            sizes.pop_front();
            std::size_t from = 0;
            for (const CodedPiece::Node& n : coded.nodes) {
                entries.push_back({n.key, at, static_cast<std::int32_t>(n.bytes),
                                   static_cast<std::int32_t>(n.points)});
                table.push_back({n.points, n.bytes});
                if (!write(std::span(coded.chunks).subspan(from, n.bytes))) return write_failed();
                from += n.bytes;
                done += n.points;
            }
            gps_min = std::min(gps_min, coded.gps_time[0]);
            gps_max = std::max(gps_max, coded.gps_time[1]);
            return cancelled_now();
        };
        const PieceSink sink = [&](OctreePiece piece) -> Problem {
            const std::uint64_t points = piece.records.size() / s.record_length;
            const std::uint64_t size =
                piece.records.size() + (piece.subtree ? points * kOctreeBytesPerPoint : 0);
            while (!coders.empty() && (coders.full() || in_flight + size > in_flight_limit))
                if (Problem p = take()) return p;
            sizes.push_back(size);
            in_flight += size;
            coders.give(
                [&rules = settings.rules, &cells, &laszip, piece = std::move(piece)](NoTaskState&) {
                    return code_piece(piece, rules, cells, laszip, kGpsTimeAt);
                });
            return std::nullopt;
        };
        const OctreeBuild build{settings.rules, cells, s.record_length,
                                subtree_memory(settings.memory), settings.temp_dir};
        if (Problem p = build_octree_pieces(std::move(s.records), build, sink, cancelled_now, fs))
            return p;
        while (!coders.empty())
            if (Problem p = take()) return p;
    }
    if (entries.empty()) gps_min = gps_max = 0;

    const std::uint64_t table_at = at;
    const std::vector<std::byte> coded_table = laz::build_chunk_table(table, true);
    const std::uint64_t evlr_at = table_at + coded_table.size();
    const CopcHierarchy hierarchy = copc_hierarchy(entries, evlr_at + korvane::kEvlrHeaderBytes);
    const auto evlr_head =
        korvane::build_evlr_header(korvane::kCopcUserId, laz::kCopcHierarchyRecordId,
                                   hierarchy.bytes.size(), "COPC hierarchy");
    if (!write(coded_table) || !write(evlr_head) || !write(hierarchy.bytes) || !write(s.evlrs))
        return write_failed();

    std::vector<std::byte> head = s.head;
    write_field(head, header::kHeaderSize, static_cast<std::uint16_t>(head.size()));
    write_field(head, header::kFormat, static_cast<std::uint8_t>(format | 0x80));
    write_field(head, header::kOffsetToData, static_cast<std::uint32_t>(data));
    write_field(head, header::kVlrCount, read_field(s.head, header::kVlrCount) + 2);
    write_field(head, header::kEvlrStart, evlr_at);
    write_field(head, header::kEvlrCount, read_field(s.head, header::kEvlrCount) + 1);
    laz::CopcInfo info;
    info.centre = cube.centre;
    info.half_size = cube.half_size;
    info.spacing = cube.spacing();
    info.root_page_offset = evlr_at + korvane::kEvlrHeaderBytes;
    info.root_page_size = hierarchy.root_size;
    info.gps_time_min = gps_min;
    info.gps_time_max = gps_max;
    const auto info_bytes = laz::build_copc_info(info);
    std::array<std::byte, laz::kTableOffsetBytes> table_offset{};
    korvane::put_le(table_offset, 0, table_at);

    at = 0;
    const auto vlr = [&](std::string_view user, std::uint16_t id, std::span<const std::byte> p,
                         std::string_view description) {
        const auto h =
            korvane::build_vlr_header(user, id, static_cast<std::uint16_t>(p.size()), description);
        return write(h) && write(p);
    };
    if (!write(head) ||
        !vlr(korvane::kCopcUserId, laz::kCopcInfoRecordId, info_bytes, "COPC info") ||
        !vlr(laz::kLaszipUserId, laz::kLaszipRecordId, laszip_payload, "Quillet") ||
        !write(s.vlrs) || !write(table_offset) || !out->commit())
        return write_failed();
    return std::nullopt;
}

}  // namespace quillet
