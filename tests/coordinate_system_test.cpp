// Coordinate systems read as systems: which EPSG codes GeoTIFF keys name, when two files state
// one system (keys, WKT and records compared as bytes), and the WKT that a merged file of point
// format 6-8 carries for a first file's GeoTIFF keys. Pure, on in-memory descriptions; the WKT
// texts of other writers come from the real samples, and what PROJ makes is checked by PROJ's
// own reading of it against the EPSG database, not against our text.
#include "plan/coordinate_system.hpp"

#include <gtest/gtest.h>
#include <proj.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "las/geotiff_keys.hpp"
#include "las/public_header.hpp"
#include "read/content_digest.hpp"

namespace {

using Bytes = std::vector<std::byte>;
using quillet::InputDescription;
using quillet::RecordInfo;
using Keys = std::vector<std::pair<std::uint16_t, std::uint16_t>>;

// A GeoTIFF key directory of short keys (id, value), in the order given.
Bytes directory(const Keys& keys) {
    Bytes b(8 + 8 * keys.size());
    auto put = [&b](std::size_t at, std::uint16_t v) {
        b[at] = std::byte(v & 0xFF);
        b[at + 1] = std::byte(v >> 8);
    };
    put(0, 1), put(2, 1), put(4, 0), put(6, static_cast<std::uint16_t>(keys.size()));
    for (std::size_t k = 0; k < keys.size(); ++k) {
        put(8 + 8 * k, keys[k].first);
        put(8 + 8 * k + 4, 1);
        put(8 + 8 * k + 6, keys[k].second);
    }
    return b;
}

Bytes text_bytes(const std::string& text) {
    Bytes b;
    for (const char c : text) b.push_back(static_cast<std::byte>(c));
    b.push_back(std::byte{0});
    return b;
}

// The payload of the first WKT record among a real sample's VLRs.
std::string sample_wkt(const std::string& file) {
    std::ifstream in(std::string(SAMPLES_DIR) + "/" + file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u16 = [&](std::size_t at) {
        return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(at)) |
                                          static_cast<unsigned char>(bytes.at(at + 1)) << 8);
    };
    std::size_t at = u16(94);
    const std::size_t count = u16(100);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t length = u16(at + 20);
        if (u16(at + 18) == 2112) return std::string(bytes.c_str() + at + 54);
        at += 54 + length;
    }
    ADD_FAILURE() << file << " holds no WKT record";
    return {};
}

// A description of a file of `format` with these coordinate system records.
struct Record {
    std::uint16_t id;
    Bytes payload;
};
InputDescription described(const std::string& name, std::uint8_t format,
                           const std::vector<Record>& records, bool wkt_bit = false) {
    InputDescription d;
    d.name = name;
    d.format = format;
    d.base.GlobalEncoding = wkt_bit ? korvane::kCrsIsWkt : 0;
    std::uint64_t at = 375;
    for (const Record& r : records) {
        quillet::ContentDigest digest;
        digest.add(r.payload);
        RecordInfo info{"LASF_Projection",           r.id,           {at, 54 + r.payload.size()},
                        {at + 54, r.payload.size()}, digest.value(), r.payload};
        at += 54 + r.payload.size();
        d.vlrs.push_back(std::move(info));
    }
    return d;
}
InputDescription keys_file(const std::string& name, const Keys& keys, std::uint8_t format = 1) {
    return described(name, format, {{34735, directory(keys)}});
}
InputDescription wkt_file(const std::string& name, const std::string& wkt,
                          std::uint8_t format = 6) {
    return described(name, format, {{2112, text_bytes(wkt)}}, true);
}

const Keys utm15 = {{1024, 1}, {1025, 1}, {3072, 26915}, {3076, 9001}};
const Keys utm42 = {{1024, 1}, {3072, 32642}};
const Keys user_defined = {{1024, 1}, {2048, 32767}, {3072, 32767}, {3076, 9002}};

// What PROJ reads from a WKT text, compared with what the EPSG database says a code is.
bool proj_reads_as(const std::string& wkt, const std::string& code) {
    PJ_CONTEXT* c = proj_context_create();
    PJ* a = proj_create(c, wkt.c_str());
    PJ* b = proj_create(c, code.c_str());
    const bool same = a != nullptr && b != nullptr &&
                      proj_is_equivalent_to_with_ctx(c, a, b, PJ_COMP_EQUIVALENT) != 0;
    proj_destroy(a);
    proj_destroy(b);
    proj_context_destroy(c);
    return same;
}

std::string text_of(const Bytes& payload) {
    if (payload.empty() || payload.back() != std::byte{0}) return "(not ended by a zero byte)";
    return {reinterpret_cast<const char*>(payload.data()), payload.size() - 1};
}

TEST(GeoKeys, EpsgCodesTheKeysName) {
    struct Row {
        const char* what;
        Bytes payload;
        std::optional<korvane::EpsgCodes> codes;
    };
    const Row rows[] = {
        {"projected", directory(utm15), korvane::EpsgCodes{26915}},
        {"projected, its geographic base named too",
         directory({{1024, 1}, {2048, 4152}, {3072, 2994}}), korvane::EpsgCodes{2994}},
        {"geographic", directory({{1024, 2}, {2048, 4326}}), korvane::EpsgCodes{4326}},
        {"no model type, a projected key", directory({{3072, 2154}}), korvane::EpsgCodes{2154}},
        {"with a vertical system and its unit",
         directory({{1024, 1}, {3072, 2903}, {4096, 5703}, {4099, 9003}}),
         korvane::EpsgCodes{2903, 5703, 9003}},
        {"vertical units without a vertical system",
         directory({{1024, 1}, {3072, 26995}, {4099, 9003}}), korvane::EpsgCodes{26995}},
        {"user-defined", directory(user_defined), std::nullopt},
        {"a user-defined vertical system", directory({{1024, 1}, {3072, 2903}, {4096, 32767}}),
         std::nullopt},
        {"geocentric", directory({{1024, 3}, {2048, 4326}}), std::nullopt},
        {"no system key", directory({{1024, 1}, {3076, 9001}}), std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto keys = korvane::read_geo_keys(row.payload);
        ASSERT_TRUE(keys);
        EXPECT_EQ(korvane::epsg_codes(*keys), row.codes);
    }
    // A directory that states more keys than it holds is not one.
    Bytes cut = directory(utm15);
    cut.resize(cut.size() - 1);
    EXPECT_FALSE(korvane::read_geo_keys(cut));
    EXPECT_FALSE(korvane::read_geo_keys(Bytes(7)));
}

TEST(CoordinateSystems, ComparedAsSystems) {
    const std::string utm42_wkt = sample_wkt("hexbin-crop.las");  // WGS 84 / UTM zone 42N
    const std::string nm_wkt = sample_wkt("test1_4.las");         // New Mexico Central (ftUS)
    struct Row {
        const char* what;
        InputDescription a, b;
        bool same;
    };
    const Row rows[] = {
        {"no records either side", described("a", 1, {}), described("b", 1, {}), true},
        {"one code, other keys beside it", keys_file("a", utm15),
         keys_file("b", {{3072, 26915}, {1024, 1}, {3076, 9001}, {4099, 9001}}), true},
        {"two codes", keys_file("a", utm15), keys_file("b", {{1024, 1}, {3072, 26916}}), false},
        {"keys and another writer's WKT of that system", keys_file("a", utm42),
         wkt_file("b", utm42_wkt), true},
        {"WKT and keys of that system", wkt_file("a", utm42_wkt), keys_file("b", utm42), true},
        {"keys and WKT of another system", keys_file("a", utm15), wkt_file("b", nm_wkt), false},
        {"one WKT spelt twice", wkt_file("a", nm_wkt), wkt_file("b", "  " + nm_wkt + "\n"), true},
        {"two WKT systems", wkt_file("a", nm_wkt), wkt_file("b", utm42_wkt), false},
        {"heights in feet and in metres",
         keys_file("a", {{3072, 2903}, {4096, 5703}, {4099, 9003}}),
         keys_file("b", {{3072, 2903}, {4096, 5703}, {4099, 9001}}), false},
        {"user-defined keys, the same bytes", keys_file("a", user_defined),
         keys_file("b", user_defined), true},
        {"user-defined keys, other bytes", keys_file("a", user_defined),
         keys_file("b", {{1024, 1}, {3072, 32767}}), false},
        {"WKT PROJ cannot read, the same bytes", wkt_file("a", "LOCAL_CS[oops"),
         wkt_file("b", "LOCAL_CS[oops"), true},
        {"WKT PROJ cannot read beside keys", wkt_file("a", "not a system"), keys_file("b", utm42),
         false},
        {"keys and no records", keys_file("a", utm15), described("b", 1, {}), false},
    };
    quillet::ProjSession proj;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(proj.same_system(row.a, row.b), row.same);
        EXPECT_EQ(proj.same_system(row.b, row.a), row.same);
    }
}

TEST(CoordinateSystems, WktOfTheOutput) {
    const std::string utm42_wkt = sample_wkt("hexbin-crop.las");
    const std::string nm_wkt = sample_wkt("test1_4.las");
    enum class Expect { FirstRecords, Record, Built, KeysKept };
    struct Row {
        const char* what;
        std::vector<InputDescription> inputs;
        std::uint8_t format;
        Expect expect;
        std::string wkt = {};  // Record: the text taken; Built: what PROJ must read it as
        std::string source = {};
    };
    const Row rows[] = {
        {"an output of format 3 keeps the keys", {keys_file("a", utm15)}, 3, Expect::FirstRecords},
        {"a first file of format 6 keeps its records",
         {keys_file("a", utm15, 6)},
         6,
         Expect::FirstRecords},
        {"a first file without GeoTIFF keys", {described("a", 1, {})}, 6, Expect::FirstRecords},
        {"keys become PROJ's WKT of their code",
         {keys_file("a", utm15), wkt_file("b", nm_wkt)},
         6,
         Expect::Built,
         "EPSG:26915",
         "the WKT that PROJ gives EPSG:26915"},
        {"a geographic system",
         {keys_file("a", {{1024, 2}, {2048, 4326}})},
         7,
         Expect::Built,
         "EPSG:4326",
         "the WKT that PROJ gives EPSG:4326"},
        {"the WKT record of a later input of the same system",
         {keys_file("a", utm42), wkt_file("b", nm_wkt), wkt_file("c", utm42_wkt)},
         6,
         Expect::Record,
         utm42_wkt,
         "the WKT record of c"},
        {"the first file's own WKT beside its user-defined keys",
         {described("a", 1, {{34735, directory(user_defined)}, {2112, text_bytes(nm_wkt)}})},
         6,
         Expect::Record,
         nm_wkt,
         "the WKT record of a"},
        {"user-defined keys are kept",
         {keys_file("a", user_defined), wkt_file("b", nm_wkt)},
         6,
         Expect::KeysKept},
        {"a code PROJ does not know",
         {keys_file("a", {{1024, 1}, {3072, 1}})},
         8,
         Expect::KeysKept},
        {"a vertical code that is no vertical system",
         {keys_file("a", {{1024, 1}, {3072, 2903}, {4096, 5103}})},
         6,
         Expect::KeysKept},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const quillet::OutputCrs crs = quillet::decide_output_crs(row.inputs, row.format);
        EXPECT_EQ(crs.keys_kept, row.expect == Expect::KeysKept);
        EXPECT_EQ(crs.wkt.empty(),
                  row.expect == Expect::FirstRecords || row.expect == Expect::KeysKept);
        if (row.expect == Expect::Record) {
            EXPECT_EQ(text_of(crs.wkt), row.wkt);
        } else if (row.expect == Expect::Built) {
            EXPECT_TRUE(proj_reads_as(text_of(crs.wkt), row.wkt)) << text_of(crs.wkt);
        }
        EXPECT_EQ(crs.source, row.source);
    }

    // Keys with a vertical system in feet: a compound system whose heights are in feet.
    const quillet::OutputCrs compound = quillet::decide_output_crs(
        std::vector{keys_file("a", {{1024, 1}, {3072, 2903}, {4096, 5703}, {4099, 9003}})}, 6);
    const std::string wkt = text_of(compound.wkt);
    EXPECT_EQ(compound.source, "the WKT that PROJ gives EPSG:2903 + EPSG:5703");
    EXPECT_EQ(wkt.rfind("COMPD_CS[", 0), 0u) << wkt;
    const std::size_t vertical = wkt.find("VERT_CS[");
    ASSERT_NE(vertical, std::string::npos) << wkt;
    EXPECT_NE(wkt.find("UNIT[\"US survey foot\"", vertical), std::string::npos) << wkt;
}

}  // namespace
