// `Quillet --extended` writes LAS or LAZ as the output's name says, from LAS and LAZ inputs
// mixed: LAZ inputs into a LAS output are decoded, LAS inputs into a LAZ output encoded, the
// rest copied. Every output is read back by laz-perf (which shares no code with us) and
// compared with the inputs' records as laz-perf and the LAS files themselves give them; the
// header fields are read here, independently of the writer. Chunks that Quillet encodes from the
// decoded points of a LASzip writer's file are that file's chunks, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "byte_fields.hpp"
#include "child_process.hpp"
#include "laz/chunk_table.hpp"
#include "laz_decoder.hpp"
#include "laz_merge_fixture.hpp"
#include "laz_sample.hpp"
#include "merge_fixture.hpp"
#include "point_records.hpp"

namespace {

using Bytes = std::vector<std::byte>;
using testing_support::ChildResult;
using testing_support::get;
using testing_support::put;
using testing_support::records_of;
using testing_support::ScratchDir;

const std::string kSamples = std::string(SAMPLES_DIR) + "/";

std::uint64_t point_count(const Bytes& b) {
    return b[25] == std::byte{4} ? get<std::uint64_t>(b, 247) : get<std::uint32_t>(b, 107);
}

// What the output's header and LASzip record say, read here field by field.
struct OutputFacts {
    std::uint8_t format_byte = 0;
    std::uint32_t vlr_count = 0;
    std::uint64_t points = 0;
    bool has_laszip = false;
    std::uint32_t chunk_size = 0;
    std::uint16_t compressor = 0;
};

OutputFacts facts_of(const Bytes& b) {
    OutputFacts f;
    f.format_byte = std::to_integer<std::uint8_t>(b[104]);
    f.vlr_count = get<std::uint32_t>(b, 100);
    f.points = point_count(b);
    std::size_t at = get<std::uint16_t>(b, 94);
    for (std::uint32_t i = 0; i < f.vlr_count; ++i) {
        const std::uint16_t length = get<std::uint16_t>(b, at + 20);
        if (std::strncmp(reinterpret_cast<const char*>(&b[at + 2]), "laszip encoded", 16) == 0) {
            f.has_laszip = true;
            f.compressor = get<std::uint16_t>(b, at + 54);
            f.chunk_size = get<std::uint32_t>(b, at + 54 + 12);
        }
        at += 54 + length;
    }
    EXPECT_EQ(at, get<std::uint32_t>(b, 96)) << "the VLRs the header counts end at the points";
    return f;
}

// A LAS file with the points of a LAZ file, as laz-perf decodes them: its header with the
// compression bits cleared and its VLRs without the LASzip record. With `points` false, the
// same file holding no points.
Bytes las_twin_of(const std::string& laz_path, bool points = true) {
    const Bytes z = lassynth::read_bytes(laz_path);
    const std::uint16_t header_size = get<std::uint16_t>(z, 94);
    Bytes out(z.begin(), z.begin() + header_size);
    std::uint32_t vlrs = 0;
    std::size_t at = header_size;
    for (std::uint32_t i = 0; i < get<std::uint32_t>(z, 100); ++i) {
        const std::size_t whole = 54 + get<std::uint16_t>(z, at + 20);
        if (std::strncmp(reinterpret_cast<const char*>(&z[at + 2]), "laszip encoded", 16) != 0) {
            out.insert(out.end(), z.begin() + static_cast<long>(at),
                       z.begin() + static_cast<long>(at + whole));
            ++vlrs;
        }
        at += whole;
    }
    put<std::uint32_t>(out, 96, static_cast<std::uint32_t>(out.size()));
    put<std::uint32_t>(out, 100, vlrs);
    out[104] = std::byte(std::to_integer<int>(z[104]) & 0x3F);
    if (z[25] == std::byte{4}) {  // no EVLRs: the twin has none of the LAZ file's
        put<std::uint64_t>(out, 235, 0);
        put<std::uint32_t>(out, 243, 0);
    }
    if (points) {
        const Bytes records = records_of(laz_path);
        out.insert(out.end(), records.begin(), records.end());
    } else {
        put<std::uint32_t>(out, 107, 0);
        for (int r = 0; r < 5; ++r) put<std::uint32_t>(out, 111 + 4 * r, 0);
        if (z[25] == std::byte{4})
            for (std::size_t at = 247; at < 375; at += 8) put<std::uint64_t>(out, at, 0);
    }
    return out;
}

// A LAZ file cut to its full chunks (every chunk but a partial last one).
Bytes whole_chunks_of(const std::string& path) {
    std::string error;
    const testing_support::LazSample s = testing_support::load_laz_sample(path, error).value();
    const std::size_t start = get<std::uint32_t>(s.bytes, 96);
    Bytes b(s.bytes.begin(), s.bytes.begin() + static_cast<long>(start + 8));
    std::vector<korvane::LazChunk> chunks;
    for (const testing_support::CodedChunk& c : s.chunks) {
        if (c.points != s.laszip.chunk_size) break;
        b.insert(b.end(), c.bytes.begin(), c.bytes.end());
        chunks.push_back({c.points, static_cast<std::uint32_t>(c.bytes.size())});
    }
    put<std::int64_t>(b, start, static_cast<std::int64_t>(b.size()));
    put<std::uint32_t>(b, 107, static_cast<std::uint32_t>(chunks.size() * s.laszip.chunk_size));
    const Bytes table = korvane::laz::build_chunk_table(chunks, false);
    b.insert(b.end(), table.begin(), table.end());
    return b;
}

Bytes las_tile(std::uint8_t minor, std::uint8_t format, std::size_t count, std::uint32_t seed,
               std::uint16_t extra = 0) {
    const std::vector<lassynth::Point> points = lassynth::random_points(count, seed);
    if (minor <= 2 && extra == 0) return lassynth::make_las(minor, format, points).bytes();
    return lassynth::make_las_extended(minor, format, points, extra).bytes();
}

// A LAS 1.4 file with a coordinate system EVLR after its points.
Bytes with_evlr(Bytes las) {
    const Bytes record = lassynth::evlr("LASF_Projection", 2112, Bytes(30, std::byte{'w'}));
    put<std::uint64_t>(las, 235, las.size());
    put<std::uint32_t>(las, 243, 1);
    las.insert(las.end(), record.begin(), record.end());
    return las;
}

class LazCoding : public testing_support::LazMergeFixture {};

TEST_F(LazCoding, MergesThatDecodeAndEncode) {
    struct Input {
        std::string name;
        std::function<Bytes()> bytes;
    };
    auto sample = [](const std::string& n) {
        return Input{n, [n] { return lassynth::read_bytes(kSamples + n); }};
    };
    auto twin = [](const std::string& name, const std::string& n, bool points = true) {
        return Input{name, [n, points] { return las_twin_of(kSamples + n, points); }};
    };
    auto whole = [](const std::string& name, const std::string& n) {
        return Input{name, [n] { return whole_chunks_of(kSamples + n); }};
    };
    auto tile = [](const std::string& name, std::uint8_t minor, std::uint8_t format,
                   std::size_t count, std::uint32_t seed, std::uint16_t extra = 0) {
        return Input{name, [=] { return las_tile(minor, format, count, seed, extra); }};
    };
    constexpr std::uint32_t kVariable = 0xFFFFFFFF;
    struct Row {
        const char* what;
        std::vector<Input> inputs;
        std::string output;
        std::vector<std::string> coded;  // the lines after the files-to-be-merged line
        std::uint32_t chunk_size;        // of a LAZ output
    };
    const Row rows[] = {
        {"LAS to LAZ, format 0, a run across both",
         {tile("a.las", 2, 0, 30000, 1), tile("b.las", 2, 0, 45000, 2)},
         "m.laz",
         {"a.las: encoded", "b.las: encoded"},
         50000},
        {"LAS to LAZ, format 1, a full chunk and one more point",
         {tile("a.las", 2, 1, 50001, 3), tile("b.las", 2, 1, 1, 4)},
         "m.laz",
         {"a.las: encoded", "b.las: encoded"},
         50000},
        {"LAS to LAZ, format 2, with an input of no points",
         {tile("a.las", 2, 2, 700, 5), tile("b.las", 2, 2, 0, 6), tile("c.las", 2, 2, 900, 7)},
         "m.laz",
         {"a.las: encoded", "b.las: encoded", "c.las: encoded"},
         50000},
        {"LAS 1.1 to LAZ, format 3",
         {tile("a.las", 1, 3, 100, 8), tile("b.las", 1, 3, 3, 9)},
         "m.laz",
         {"a.las: encoded", "b.las: encoded"},
         50000},
        {"LAS 1.4 to LAZ, format 3 with 5 extra bytes",
         {tile("a.las", 4, 3, 2000, 10, 5), tile("b.las", 4, 3, 10, 11, 5)},
         "m.laz",
         {"a.las: encoded", "b.las: encoded"},
         50000},
        {"LAS 1.4 to LAZ, format 6, a run across both",
         {tile("a.las", 4, 6, 40000, 12), tile("b.las", 4, 6, 30000, 13)},
         "m.laz",
         {"a.las: encoded", "b.las: encoded"},
         50000},
        {"LAS 1.4 to LAZ, format 7 with 2 extra bytes",
         {tile("a.las", 4, 7, 3000, 14, 2), tile("b.las", 4, 7, 17, 15, 2)},
         "m.laz",
         {"a.las: encoded", "b.las: encoded"},
         50000},
        {"LAS 1.4 to LAZ, format 8, one point",
         {tile("a.las", 4, 8, 1, 16), tile("b.las", 4, 8, 0, 17)},
         "m.laz",
         {"a.las: encoded", "b.las: encoded"},
         50000},
        {"LAZ of format 8 to LAS",
         {sample("append-bug.laz"), sample("append-bug.laz")},
         "m.las",
         {"append-bug.laz: decoded", "append-bug.laz: decoded"},
         0},
        {"cloud optimised LAZ, chunks of 16 points, to LAS",
         {sample("1.2-with-color.copc.laz"), sample("1.2-with-color.copc.laz")},
         "m.las",
         {"1.2-with-color.copc.laz: decoded", "1.2-with-color.copc.laz: decoded"},
         0},
        {"LAZ to LAS",
         {sample("lone-star-split-1.laz"), sample("lone-star-split-2.laz")},
         "m.las",
         {"lone-star-split-1.laz: decoded", "lone-star-split-2.laz: decoded"},
         0},
        {"LAZ 1.4 with extra bytes to LAS",
         {sample("extra.laz"), sample("extra.laz")},
         "m.las",
         {"extra.laz: decoded", "extra.laz: decoded"},
         0},
        {"LAS then LAZ into LAZ: encoded, then copied",
         {twin("a.las", "lone-star-split-3.laz"), sample("lone-star-split-4.laz")},
         "m.laz",
         {"a.las: encoded"},
         kVariable},
        {"LAZ then LAS into LAS: copied, then decoded",
         {twin("a.las", "lone-star-split-3.laz"), sample("lone-star-split-4.laz")},
         "m.las",
         {"lone-star-split-4.laz: decoded"},
         0},
        {"LAZ of whole chunks, then LAS: every chunk but the last is full, the table fixed",
         {whole("whole.laz", "lone-star-split-1.laz"),
          twin("a.las", "lone-star-split-1.laz", false), twin("b.las", "lone-star-split-2.laz")},
         "m.laz",
         {"a.las: encoded", "b.las: encoded"},
         50000},
        {"a partial chunk of a copied LAZ file makes the table variable",
         {sample("lone-star-split-1.laz"), twin("a.las", "lone-star-split-2.laz")},
         "m.laz",
         {"a.las: encoded"},
         kVariable},
        {"a LAZ input between runs",
         {twin("a.las", "autzen_trim.laz"), sample("autzen_trim.laz"),
          twin("b.las", "autzen_trim.laz")},
         "m.laz",
         {"a.las: encoded", "b.las: encoded"},
         kVariable},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> names;
        Bytes expected;
        for (const Input& in : row.inputs) {
            if (!std::filesystem::exists(dir_ / in.name))
                lassynth::write_bytes(dir_ / in.name, in.bytes());
            names.push_back(in.name);
        }
        for (const std::string& n : names) {
            const Bytes r = records_of(dir_ / n);
            expected.insert(expected.end(), r.begin(), r.end());
        }
        // The output's bytes do not depend on how many threads code the chunks.
        Bytes single;
        for (const char* threads : {"1", "5"}) {
            ASSERT_EQ(merge(dir_, names, row.output, {"--threads", threads}).exit_status, 0);
            const Bytes b = lassynth::read_bytes(dir_ / row.output);
            if (single.empty()) single = b;
            EXPECT_TRUE(b == single) << threads << " threads wrote other bytes than 1";
        }
        const ChildResult r = merge(dir_, names, row.output, {"--threads=2"});
        ASSERT_EQ(r.exit_status, 0) << r.out;
        EXPECT_TRUE(lassynth::read_bytes(dir_ / row.output) == single)
            << "2 threads wrote other bytes than 1";
        // Appended piece by piece: GCC 12 at -O3 misreads "literal" + std::string.
        std::string lines = "\n";
        lines += std::to_string(names.size());
        lines += " files to be merged into ";
        lines += row.output;
        lines += "\n";
        for (const std::string& l : row.coded) lines += l + "\n";
        EXPECT_NE(r.out.find(lines + "\r"), std::string::npos) << r.out;

        const Bytes out = lassynth::read_bytes(dir_ / row.output);
        const OutputFacts f = facts_of(out);
        const Bytes first = lassynth::read_bytes(dir_ / names.front());
        EXPECT_EQ(f.format_byte & 0x3F, std::to_integer<int>(first[104]) & 0x3F);
        EXPECT_EQ(f.points * get<std::uint16_t>(out, 105), expected.size());
        const bool laz = row.output.ends_with(".laz");
        EXPECT_EQ(f.has_laszip, laz);
        EXPECT_EQ((f.format_byte & 0xC0) != 0, laz);
        if (laz) {
            EXPECT_EQ(f.chunk_size, row.chunk_size);
        }
        EXPECT_TRUE(records_of(dir_ / row.output) == expected)
            << "the merged records differ from the inputs' records";
        for (const std::string& n : names) std::filesystem::remove(dir_ / n);
    }
}

TEST_F(LazCoding, EvlrsOfALas14OutputFollowTheChunkTable) {
    const Bytes a = with_evlr(las_tile(4, 1, 60000, 21));
    lassynth::write_bytes(dir_ / "a.las", a);
    lassynth::write_bytes(dir_ / "b.las", las_tile(4, 1, 5, 22));
    ASSERT_EQ(merge(dir_, {"a.las", "b.las"}, "m.laz").exit_status, 0);
    const Bytes out = lassynth::read_bytes(dir_ / "m.laz");
    // The EVLR start, patched after the chunk table, points at the first file's EVLR.
    const std::uint64_t evlr = get<std::uint64_t>(out, 235);
    const std::uint64_t table = get<std::uint64_t>(out, get<std::uint32_t>(out, 96));
    EXPECT_GT(evlr, table);
    EXPECT_EQ(get<std::uint32_t>(out, 243), 1u);
    const std::size_t record = a.size() - (54 + 6 + 30);
    ASSERT_EQ(out.size(), evlr + (a.size() - record));
    EXPECT_TRUE(std::equal(out.begin() + static_cast<long>(evlr), out.end(),
                           a.begin() + static_cast<long>(record)));
    Bytes expected = records_of(dir_ / "a.las");
    const Bytes b = records_of(dir_ / "b.las");
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_TRUE(records_of(dir_ / "m.laz") == expected);
}

// Decoded by Quillet into LAS, then encoded by Quillet into LAZ again, a LASzip writer's file
// gets its own chunks back, byte for byte: the runs of 50,000 points line up with its chunks.
TEST_F(LazCoding, ReencodedChunksAreTheWritersBytes) {
    for (const char* name :
         {"lone-star-split-1.laz", "lone-star-split-2.laz", "lone-star-split-3.laz",
          "lone-star-split-4.laz", "autzen_trim.laz", "laszip-generated.laz",
          "liblas-generated.laz", "simple.laz", "extra.laz", "append-bug.laz", "1_4_w_evlr.laz"}) {
        SCOPED_TRACE(name);
        std::string error;
        const std::optional<testing_support::LazSample> s =
            testing_support::load_laz_sample(kSamples + name, error);
        ASSERT_TRUE(s) << error;
        lassynth::write_bytes(dir_ / "empty.las", las_twin_of(kSamples + name, false));
        ASSERT_EQ(merge(dir_, {kSamples + name, "empty.las"}, "m.las").exit_status, 0);
        ASSERT_EQ(merge(dir_, {"m.las", "empty.las"}, "m.laz").exit_status, 0);
        const std::optional<testing_support::LazSample> again =
            testing_support::load_laz_sample(dir_ / "m.laz", error);
        ASSERT_TRUE(again) << error;
        ASSERT_EQ(again->chunks.size(), s->chunks.size());
        for (std::size_t i = 0; i < s->chunks.size(); ++i) {
            EXPECT_EQ(again->chunks[i].points, s->chunks[i].points) << "chunk " << i;
            EXPECT_TRUE(std::ranges::equal(again->chunks[i].bytes, s->chunks[i].bytes))
                << "chunk " << i << " is not the writer's";
        }
    }
}

// A LAZ file whose LASzip items all claim version `version`.
Bytes with_item_versions(Bytes z, std::uint16_t version) {
    const std::size_t at = 540;  // the lone-star files' LASzip payload
    for (std::uint16_t i = 0; i < get<std::uint16_t>(z, at + 32); ++i)
        put<std::uint16_t>(z, at + 34 + 6 * i + 4, version);
    return z;
}

// A LAZ file whose chunk `cut` holds only the first half of its bytes, the chunk table
// rebuilt so that the sizes still add up: its coded stream ends too soon.
Bytes with_chunk_cut_short(const testing_support::LazSample& s, std::size_t cut) {
    const std::size_t start = get<std::uint32_t>(s.bytes, 96);
    Bytes b(s.bytes.begin(), s.bytes.begin() + static_cast<long>(start + 8));
    std::vector<korvane::LazChunk> chunks;
    for (std::size_t i = 0; i < s.chunks.size(); ++i) {
        std::span<const std::byte> c = s.chunks[i].bytes;
        if (i == cut) c = c.first(c.size() / 2);
        b.insert(b.end(), c.begin(), c.end());
        chunks.push_back({s.chunks[i].points, static_cast<std::uint32_t>(c.size())});
    }
    put<std::int64_t>(b, start, static_cast<std::int64_t>(b.size()));
    const Bytes table = korvane::laz::build_chunk_table(chunks, s.laszip.variable_chunks());
    b.insert(b.end(), table.begin(), table.end());
    return b;
}

// A layered (format 6-8) LAZ file whose chunk `chunk` stores one point more than its table says,
// right after its first point.
Bytes with_layered_count_changed(const std::string& path, std::size_t chunk) {
    std::string error;
    const testing_support::LazSample s = testing_support::load_laz_sample(path, error).value();
    Bytes b = s.bytes;
    const std::size_t at =
        static_cast<std::size_t>(s.chunks[chunk].bytes.data() - s.bytes.data()) + s.record_length;
    put<std::uint32_t>(b, at, get<std::uint32_t>(b, at) + 1);
    return b;
}

TEST_F(LazCoding, Refusals) {
    const std::string lone = kSamples + "lone-star-split-1.laz";
    std::string error;
    const std::optional<testing_support::LazSample> s =
        testing_support::load_laz_sample(lone, error);
    ASSERT_TRUE(s) << error;
    const Bytes v1 = with_item_versions(s->bytes, 1);
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, Bytes>> files;
        std::string output;
        std::string message;
    };
    const Case cases[] = {
        {"a damaged chunk in a decoded input",
         {{"a.laz", s->bytes}, {"b.laz", with_chunk_cut_short(*s, 1)}},
         "m.las",
         "\nChunk 2 of b.laz is damaged: it does not decode to the 50000 points its chunk table "
         "states\n"},
        {"layered chunks whose stored point count is not the table's",
         {{"a.laz", lassynth::read_bytes(kSamples + "1.2-with-color.copc.laz")},
          {"b.laz", with_layered_count_changed(kSamples + "1.2-with-color.copc.laz", 2)}},
         "m.las",
         "\nChunk 3 of b.laz is damaged: it does not decode to the 14 points its chunk table "
         "states\n"},
        {"an item Quillet does not decode",
         {{"a.laz", s->bytes}, {"b.laz", v1}},
         "m.las",
         "\nb.laz holds LASzip item POINT10 version 1, which Quillet cannot decode\n"},
        {"LAS files to be encoded with the first LAZ file's items, which Quillet does not encode",
         {{"a.laz", v1}, {"b.las", las_twin_of(lone)}},
         "m.laz",
         "\nThe LAS inputs would be compressed with the LASzip items of a.laz, and Quillet "
         "cannot encode its item POINT10 version 1\n"},
        {"copied LAZ files whose items differ, after a LAS file",
         {{"a.las", las_twin_of(lone)}, {"b.laz", s->bytes}, {"c.laz", v1}},
         "m.laz",
         "\nLASzip items of c.laz is 2 items: 6/20/1 7/8/1; the first LAZ file, b.laz, has 2 "
         "items: 6/20/2 7/8/2\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        std::string list;
        for (const auto& [name, bytes] : c.files) {
            lassynth::write_bytes(dir / name, bytes);
            list += name + "\n";
        }
        dir.write_text("list.txt", list);
        dir.write_text(c.output, "the user's earlier merge");
        const auto before = testing_support::list_dir(dir.path());
        const ChildResult r =
            testing_support::run_quillet_in(dir, {"--extended", "list.txt", c.output});
        EXPECT_EQ(r.exit_status, 255);
        // One message, last, whether the checks or the writer found it.
        EXPECT_TRUE(r.out.ends_with(c.message)) << r.out;
        EXPECT_EQ(r.out.find(c.message), r.out.size() - c.message.size()) << r.out;
        EXPECT_EQ(testing_support::list_dir(dir.path()), before) << "no temporary file is left";
        EXPECT_EQ(lassynth::read_bytes(dir / c.output).size(), 24u) << "the old output is kept";
    }

    // Two damaged inputs, decoded on five threads: the failure reported is the first in the
    // output's order, whichever thread found it first.
    {
        ScratchDir dir;
        lassynth::write_bytes(dir / "a.laz", s->bytes);
        lassynth::write_bytes(dir / "b.laz", with_chunk_cut_short(*s, 2));
        lassynth::write_bytes(dir / "c.laz", with_chunk_cut_short(*s, 0));
        for (const char* threads : {"1", "2", "5"}) {
            SCOPED_TRACE(threads);
            const ChildResult r =
                merge(dir, {"a.laz", "b.laz", "c.laz"}, "m.las", {"--threads", threads});
            EXPECT_EQ(r.exit_status, 255);
            EXPECT_TRUE(
                r.out.ends_with("\nChunk 3 of b.laz is damaged: it does not decode to the "
                                "22893 points its chunk table states\n"))
                << r.out;
            EXPECT_FALSE(std::filesystem::exists(dir / "m.las"));
        }
    }

    // Items that Quillet does not decode merge all the same when their chunks are copied.
    lassynth::write_bytes(dir_ / "a.laz", v1);
    const ChildResult r = merge(dir_, {"a.laz", "a.laz"}, "m.laz");
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.out.find(": decoded"), std::string::npos);
    const std::optional<testing_support::LazSample> m =
        testing_support::load_laz_sample(dir_ / "m.laz", error);
    ASSERT_TRUE(m) << error;
    ASSERT_EQ(m->chunks.size(), 2 * s->chunks.size());
    for (std::size_t i = 0; i < m->chunks.size(); ++i)
        EXPECT_TRUE(std::ranges::equal(m->chunks[i].bytes, s->chunks[i % s->chunks.size()].bytes));
}

// --fixed-chunks: every LAZ input decoded and every chunk encoded again, in runs of 50,000 points
// across the inputs, so the table is fixed; where a run lines up with an input's chunks, they
// come back as the input's writer wrote them.
TEST_F(LazCoding, FixedChunksForReadersThatKnowNoOther) {
    const std::string one = kSamples + "lone-star-split-1.laz";
    const std::string two = kSamples + "lone-star-split-2.laz";
    lassynth::write_bytes(dir_ / "between.las", las_twin_of(kSamples + "lone-star-split-3.laz"));
    const ChildResult r =
        merge(dir_, {one, two, "between.las", one}, "m.laz", {"--fixed-chunks", "--threads", "2"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find("\n" + one + ": re-encoded\n" + two +
                         ": re-encoded\nbetween.las: encoded\n" + one + ": re-encoded\n"),
              std::string::npos)
        << r.out;
    std::string error;
    const std::optional<testing_support::LazSample> out =
        testing_support::load_laz_sample(dir_ / "m.laz", error);
    ASSERT_TRUE(out) << error;
    EXPECT_EQ(out->laszip.chunk_size, 50000u);
    for (std::size_t i = 0; i + 1 < out->chunks.size(); ++i)
        EXPECT_EQ(out->chunks[i].points, 50000u);
    const std::optional<testing_support::LazSample> first =
        testing_support::load_laz_sample(one, error);
    ASSERT_TRUE(first) << error;
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_TRUE(std::ranges::equal(out->chunks[i].bytes, first->chunks[i].bytes))
            << "chunk " << i << " lines up with the first input's and is its writer's";
    Bytes expected;
    for (const std::string& n : {one, two, dir_ / "between.las", one}) {
        const Bytes part = records_of(n);
        expected.insert(expected.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(records_of(dir_ / "m.laz") == expected);
}

}  // namespace
