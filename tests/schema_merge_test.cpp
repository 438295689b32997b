// Tiles that differ in point format, version and extra bytes merged by `Quillet --extended`: the
// output's format, version and fields come from every input, and every point keeps every field
// it has. The oracle reads each record's fields here, field by field (LAZ outputs decoded by
// laz-perf), and converts the inputs' fields by the LAS 1.4 rules independently of the merge.
// Then the refusals.
#include <gtest/gtest.h>
#include <proj.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "byte_fields.hpp"
#include "laz_merge_fixture.hpp"
#include "point_records.hpp"

namespace {

using Bytes = std::vector<std::byte>;
using testing_support::get;
using testing_support::put;
using testing_support::records_of;

// A point's fields, whatever its format.
struct Fields {
    std::int32_t x = 0, y = 0, z = 0;
    std::uint16_t intensity = 0;
    int return_number = 0, returns = 0, scan_direction = 0, edge = 0;
    int classification = 0, synthetic = 0, key_point = 0, withheld = 0, overlap = 0;
    double scan_angle = 0;  // degrees
    int user_data = 0, source = 0;
    double gps_time = 0;
    std::array<std::uint16_t, 3> rgb{};
    std::uint16_t nir = 0;
    Bytes extra;
};

bool has_gps(int format) {
    return format == 1 || format == 3 || format >= 6;
}
bool has_rgb(int format) {
    return format == 2 || format == 3 || format == 7 || format == 8;
}
std::size_t base_length(int format) {
    constexpr std::size_t lengths[] = {20, 28, 26, 34, 57, 63, 30, 36, 38};
    return lengths[format];
}

Fields fields_of(const Bytes& r, std::size_t at, int format, std::size_t length) {
    Fields f;
    f.x = get<std::int32_t>(r, at);
    f.y = get<std::int32_t>(r, at + 4);
    f.z = get<std::int32_t>(r, at + 8);
    f.intensity = get<std::uint16_t>(r, at + 12);
    const auto b14 = get<std::uint8_t>(r, at + 14), b15 = get<std::uint8_t>(r, at + 15);
    if (format <= 3) {
        f.return_number = b14 & 7, f.returns = (b14 >> 3) & 7;
        f.scan_direction = (b14 >> 6) & 1, f.edge = b14 >> 7;
        f.classification = b15 & 31, f.synthetic = (b15 >> 5) & 1;
        f.key_point = (b15 >> 6) & 1, f.withheld = b15 >> 7;
        f.scan_angle = get<std::int8_t>(r, at + 16);
        f.user_data = get<std::uint8_t>(r, at + 17);
        f.source = get<std::uint16_t>(r, at + 18);
        if (has_gps(format)) f.gps_time = get<double>(r, at + 20);
        if (has_rgb(format))
            for (std::size_t c = 0; c < 3; ++c)
                f.rgb[c] = get<std::uint16_t>(r, at + (format == 2 ? 20 : 28) + 2 * c);
    } else {
        f.return_number = b14 & 15, f.returns = b14 >> 4;
        f.synthetic = b15 & 1, f.key_point = (b15 >> 1) & 1, f.withheld = (b15 >> 2) & 1;
        f.overlap = (b15 >> 3) & 1, f.scan_direction = (b15 >> 6) & 1, f.edge = b15 >> 7;
        f.classification = get<std::uint8_t>(r, at + 16);
        f.user_data = get<std::uint8_t>(r, at + 17);
        f.scan_angle = get<std::int16_t>(r, at + 18) * 0.006;
        f.source = get<std::uint16_t>(r, at + 20);
        f.gps_time = get<double>(r, at + 22);
        if (has_rgb(format))
            for (std::size_t c = 0; c < 3; ++c) f.rgb[c] = get<std::uint16_t>(r, at + 30 + 2 * c);
        if (format == 8) f.nir = get<std::uint16_t>(r, at + 36);
    }
    f.extra.assign(r.begin() + static_cast<long>(at + base_length(format)),
                   r.begin() + static_cast<long>(at + length));
    return f;
}

// What a point of `in_format` is in `out_format`: formats 0-5 mark overlap points with class 12,
// formats 6 and up with a flag.
Fields converted(Fields f, int in_format, int out_format) {
    if (in_format <= 3 && out_format >= 6 && f.classification == 12) {
        f.classification = 0;
        f.overlap = 1;
    }
    return f;
}

// One extra bytes descriptor: `name`, data type `type`, no-data value `no_data` when given.
Bytes descriptor(const std::string& name, std::uint8_t type, std::optional<std::int64_t> no_data) {
    Bytes d(192, std::byte{0});
    d[2] = std::byte{type};
    d[3] = std::byte{static_cast<std::uint8_t>(no_data ? 1 : 0)};
    std::memcpy(d.data() + 4, name.data(), name.size());
    if (no_data) put<std::int64_t>(d, 40, *no_data);
    return d;
}

struct ExtraField {
    std::string name;
    std::uint8_t type;  // 1 u8, 3 u16, 6 i32
    std::optional<std::int64_t> no_data = std::nullopt;
};
std::size_t size_of(const ExtraField& f) {
    return f.type == 1 ? 1 : f.type == 3 ? 2 : 4;
}

// A tile of LAS 1.`minor`, format `format`, `count` points; its classes cycle through 2-5 and
// 12 (overlap), some synthetic or withheld; with `fields`, an Extra Bytes record describing the
// extra bytes (which keep the writer's pattern).
Bytes tile(std::uint8_t minor, std::uint8_t format, std::size_t count, std::uint32_t seed,
           std::vector<ExtraField> fields = {}, std::uint16_t global_encoding = 1) {
    std::vector<lassynth::Point> points = lassynth::random_points(count, seed);
    std::size_t extra = 0;
    for (const ExtraField& f : fields) extra += size_of(f);
    lassynth::LasFile f = minor >= 3
                              ? lassynth::make_las_extended(
                                    minor, format, points, static_cast<std::uint16_t>(extra), false)
                              : lassynth::make_las(minor, format, points, false);
    f.header.GlobalEncoding = global_encoding;
    if (format <= 3)
        for (std::size_t i = 0; i < count; i += 5) {
            const std::size_t at = i * f.header.PointDataRecordLength;
            put<std::uint8_t>(f.points, at + 15, static_cast<std::uint8_t>(12 | (i % 3) << 5));
        }
    if (!fields.empty()) {
        Bytes payload;
        for (const ExtraField& x : fields) {
            const Bytes d = descriptor(x.name, x.type, x.no_data);
            payload.insert(payload.end(), d.begin(), d.end());
        }
        const Bytes record = lassynth::vlr("LASF_Spec", 4, payload);
        f.between.insert(f.between.end(), record.begin(), record.end());
        f.header.NumberOfVariableLengthRecords += 1;
        f.lay_out();
    }
    return f.bytes();
}

// The names of the fields that a file's Extra Bytes record describes.
std::vector<std::string> field_names(const Bytes& file) {
    const auto header_size = get<std::uint16_t>(file, 94);
    const auto count = get<std::uint32_t>(file, 100);
    std::vector<std::string> names;
    std::size_t at = header_size;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string user(reinterpret_cast<const char*>(file.data() + at + 2));
        const auto id = get<std::uint16_t>(file, at + 18);
        const auto length = get<std::uint16_t>(file, at + 20);
        if (user == "LASF_Spec" && id == 4)
            for (std::size_t d = 0; d + 192 <= length; d += 192)
                names.emplace_back(reinterpret_cast<const char*>(file.data() + at + 54 + d + 4));
        at += 54 + length;
    }
    return names;
}

class SchemaMerge : public testing_support::LazMergeFixture {};

TEST_F(SchemaMerge, EveryFieldOfEveryInputIsKept) {
    struct Input {
        std::string name;
        std::function<Bytes()> make;
        std::vector<ExtraField> fields = {};
    };
    struct Row {
        const char* what;
        std::vector<Input> inputs;
        std::string output;
        int minor, format;
        std::vector<std::string> fields = {};  // the output's extra bytes fields, in order
        bool wkt = false;  // the global encoding gets the WKT bit (the first file's lacks it)
    };
    const ExtraField a{"Alpha", 3}, b{"Beta", 6}, c{"Gamma", 1, 7};
    // A LAS tile made LAZ by a merge with an empty tile of its format.
    auto as_laz = [&](const Bytes& las) {
        lassynth::write_bytes(dir_ / "x.las", las);
        lassynth::write_bytes(dir_ / "y.las", tile(2, 1, 0, 0));
        EXPECT_EQ(merge(dir_, {"x.las", "y.las"}, "x.laz").exit_status, 0);
        return lassynth::read_bytes(dir_ / "x.laz");
    };
    const Row rows[] = {
        {"formats 1 and 2 give 3",
         {{"a.las", [] { return tile(2, 1, 700, 1); }},
          {"b.las", [] { return tile(2, 2, 500, 2); }}},
         "m.las",
         2,
         3},
        {"LAZ of format 1 and LAS of format 2 give 3, into LAZ",
         {{"a.laz", [&] { return as_laz(tile(2, 1, 700, 3)); }},
          {"b.las", [] { return tile(2, 2, 60000, 4); }}},
         "m.laz",
         2,
         3},
        {"LAS 1.2 format 1 with LAS 1.4 format 6 gives 1.4 format 6, its system as WKT",
         {{"a.las", [] { return tile(2, 1, 900, 5); }},
          {"b.las", [] { return tile(4, 6, 400, 6); }}},
         "m.laz",
         4,
         6,
         {},
         true},
        {"formats 7 and 8 give 8",
         {{"a.las", [] { return tile(4, 7, 300, 7); }},
          {"b.las", [] { return tile(4, 8, 300, 8); }}},
         "m.las",
         4,
         8},
        {"a format 0 file without GPS time beside format 1",
         {{"a.las", [] { return tile(2, 0, 300, 9, {}, 0); }},
          {"b.las", [] { return tile(2, 1, 300, 10, {}, 1); }}},
         "m.las",
         2,
         1},
        {"2 and 3 extra bytes fields give their union",
         {{"a.las",
           [&] {
               return tile(3, 1, 500, 11, {a, b});
           },
           {a, b}},
          {"b.las",
           [&] {
               return tile(3, 1, 400, 12, {b, c});
           },
           {b, c}}},
         "m.laz",
         3,
         1,
         {"Alpha", "Beta", "Gamma"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> names;
        for (const Input& in : row.inputs) {
            lassynth::write_bytes(dir_ / in.name, in.make());
            names.push_back(in.name);
        }
        const testing_support::ChildResult r = merge(dir_, names, row.output);
        ASSERT_EQ(r.exit_status, 0) << r.out;
        const Bytes out = lassynth::read_bytes(dir_ / row.output);
        const int out_format = get<std::uint8_t>(out, 104) & 0x3F;
        const auto out_length = get<std::uint16_t>(out, 105);
        EXPECT_EQ(get<std::uint8_t>(out, 25), row.minor);
        EXPECT_EQ(out_format, row.format);
        EXPECT_EQ(field_names(out), row.fields);
        EXPECT_EQ((get<std::uint16_t>(out, 6) & 0x10) != 0, row.wkt);
        const Bytes records = records_of(dir_ / row.output);
        std::size_t at = 0;
        for (const Input& in : row.inputs) {
            SCOPED_TRACE(in.name);
            const Bytes file = lassynth::read_bytes(dir_ / in.name);
            const int in_format = get<std::uint8_t>(file, 104) & 0x3F;
            const auto in_length = get<std::uint16_t>(file, 105);
            const Bytes in_records = records_of(dir_ / in.name);
            // Where each output field's bytes lie in this input's extra bytes, or its fill.
            std::vector<std::pair<std::optional<std::size_t>, Bytes>> places;
            for (const std::string& name : row.fields) {
                std::size_t offset = 0;
                std::optional<std::size_t> found;
                for (const ExtraField& f : in.fields) {
                    if (f.name == name) found = offset;
                    offset += size_of(f);
                }
                const ExtraField& def = name == "Alpha" ? a : name == "Beta" ? b : c;
                Bytes fill(size_of(def), std::byte{0});
                if (def.no_data) fill[0] = std::byte(*def.no_data);
                places.push_back({found, fill});
            }
            int reported = 0;
            for (std::size_t p = 0; p + in_length <= in_records.size() && reported < 3;
                 p += in_length, at += out_length) {
                ASSERT_LE(at + out_length, records.size());
                Fields want = converted(fields_of(in_records, p, in_format, in_length), in_format,
                                        out_format);
                const Fields got = fields_of(records, at, out_format, out_length);
                if (!row.fields.empty()) {
                    Bytes extra;
                    for (const auto& [offset, fill] : places) {
                        const std::size_t n = fill.size();
                        if (offset)
                            extra.insert(extra.end(),
                                         want.extra.begin() + static_cast<long>(*offset),
                                         want.extra.begin() + static_cast<long>(*offset + n));
                        else
                            extra.insert(extra.end(), fill.begin(), fill.end());
                    }
                    want.extra = extra;
                }
                const bool same =
                    got.x == want.x && got.y == want.y && got.z == want.z &&
                    got.intensity == want.intensity && got.return_number == want.return_number &&
                    got.returns == want.returns && got.scan_direction == want.scan_direction &&
                    got.edge == want.edge && got.classification == want.classification &&
                    got.synthetic == want.synthetic && got.key_point == want.key_point &&
                    got.withheld == want.withheld && got.overlap == want.overlap &&
                    std::fabs(got.scan_angle - want.scan_angle) <= 0.003 &&
                    got.user_data == want.user_data && got.source == want.source &&
                    got.gps_time == want.gps_time && got.rgb == want.rgb && got.nir == want.nir &&
                    got.extra == want.extra;
                if (!same) {
                    ADD_FAILURE() << "point " << p / in_length << " differs (class "
                                  << got.classification << " vs " << want.classification << ", gps "
                                  << got.gps_time << " vs " << want.gps_time << ")";
                    ++reported;
                }
            }
        }
        EXPECT_EQ(at, records.size()) << "the output holds other records than the inputs'";
        for (const std::string& n : names) std::filesystem::remove(dir_ / n);
        std::filesystem::remove(dir_ / row.output);
    }
}

// A GeoTIFF key directory of short keys (id, value).
Bytes geo_keys(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& keys) {
    Bytes b(8 + 8 * keys.size(), std::byte{0});
    put<std::uint16_t>(b, 0, 1);
    put<std::uint16_t>(b, 2, 1);
    put<std::uint16_t>(b, 6, static_cast<std::uint16_t>(keys.size()));
    for (std::size_t k = 0; k < keys.size(); ++k) {
        put<std::uint16_t>(b, 8 + 8 * k, keys[k].first);
        put<std::uint16_t>(b, 8 + 8 * k + 4, 1);
        put<std::uint16_t>(b, 8 + 8 * k + 6, keys[k].second);
    }
    return b;
}

// A tile of `format` whose VLRs are `records` (LASF_Projection id and payload), the WKT bit set
// in LAS 1.4.
Bytes tile_in(std::uint8_t format, std::uint32_t seed,
              const std::vector<std::pair<std::uint16_t, Bytes>>& records) {
    std::vector<lassynth::Point> points = lassynth::random_points(200, seed);
    lassynth::LasFile f = format >= 6 ? lassynth::make_las_extended(4, format, points, 0, false)
                                      : lassynth::make_las(2, format, points, false);
    f.header.GlobalEncoding = format >= 6 ? 0x11 : 1;
    for (const auto& [id, payload] : records) {
        const Bytes r = lassynth::vlr("LASF_Projection", id, payload);
        f.between.insert(f.between.end(), r.begin(), r.end());
        f.header.NumberOfVariableLengthRecords += 1;
    }
    f.lay_out();
    return f.bytes();
}

// The LASF_Projection records of a file's VLRs: id and payload.
std::vector<std::pair<std::uint16_t, Bytes>> projection_records(const Bytes& file) {
    std::vector<std::pair<std::uint16_t, Bytes>> found;
    std::size_t at = get<std::uint16_t>(file, 94);
    for (std::uint32_t i = 0; i < get<std::uint32_t>(file, 100); ++i) {
        const auto id = get<std::uint16_t>(file, at + 18);
        const auto length = get<std::uint16_t>(file, at + 20);
        if (std::string(reinterpret_cast<const char*>(file.data() + at + 2)) == "LASF_Projection")
            found.emplace_back(id, Bytes(file.begin() + static_cast<long>(at + 54),
                                         file.begin() + static_cast<long>(at + 54 + length)));
        at += 54 + length;
    }
    return found;
}

// A first file's GeoTIFF keys in a merged file of format 6-8: replaced by one WKT record (which
// PROJ, reading it on its own, finds to be the keys' EPSG system), or kept with a warning when
// they name no code; systems compared as systems for the warning. The points are decoded by
// laz-perf: the records moved by the new VLR are still the inputs' count.
TEST_F(SchemaMerge, CoordinateSystemOfTheOutput) {
    const Bytes utm15 = geo_keys({{1024, 1}, {3072, 26915}, {3076, 9001}});
    const Bytes user_defined = geo_keys({{1024, 1}, {3072, 32767}, {3076, 9001}});
    const Bytes ascii(12, std::byte{'x'});
    std::string utm15_wkt;
    {
        PJ_CONTEXT* c = proj_context_create();
        PJ* pj = proj_create(c, "EPSG:26915");
        const char* const options[] = {"MULTILINE=NO", nullptr};
        utm15_wkt = proj_as_wkt(c, pj, PJ_WKT2_2019, options);
        proj_destroy(pj);
        proj_context_destroy(c);
    }
    Bytes utm15_wkt_bytes(utm15_wkt.size() + 1, std::byte{0});
    std::memcpy(utm15_wkt_bytes.data(), utm15_wkt.data(), utm15_wkt.size());
    struct Row {
        const char* what;
        Bytes a, b;
        std::optional<Bytes> wkt;  // the WKT record's payload, when it must be this one
        bool as_wkt;               // one WKT record, read by PROJ as EPSG:26915, and the bit
        std::string messages;      // warnings, in order
    };
    const Row rows[] = {
        {"keys into format 6, a WKT of the same system in the second file",
         tile_in(1, 1, {{34735, utm15}, {34737, ascii}}), tile_in(6, 2, {{2112, utm15_wkt_bytes}}),
         utm15_wkt_bytes, true, ""},
        {"keys into format 7, WKT made by PROJ", tile_in(1, 3, {{34735, utm15}}), tile_in(7, 4, {}),
         std::nullopt, true,
         "\nWARNING: The coordinate reference system records of b.las differ from those of the "
         "first file, a.las; the merged file keeps the first file's\n"},
        {"user-defined keys kept", tile_in(3, 5, {{34735, user_defined}}),
         tile_in(6, 6, {{34735, user_defined}}), std::nullopt, false,
         "\nWARNING: The GeoTIFF keys of the first file, a.las, name no coordinate system that "
         "PROJ knows by its EPSG codes: the merged file of point format 7 keeps them, not WKT as "
         "LAS 1.4 asks\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        lassynth::write_bytes(dir_ / "a.las", row.a);
        lassynth::write_bytes(dir_ / "b.las", row.b);
        const testing_support::ChildResult r = merge(dir_, {"a.las", "b.las"}, "m.laz");
        ASSERT_EQ(r.exit_status, 0) << r.out;
        std::string warnings;  // the warnings among the lines it prints, as the rows state them
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("WARNING:", 0) == 0) warnings += "\n" + line + "\n";
        EXPECT_EQ(warnings, row.messages);
        const Bytes out = lassynth::read_bytes(dir_ / "m.laz");
        const auto records = projection_records(out);
        EXPECT_EQ((get<std::uint16_t>(out, 6) & 0x10) != 0, row.as_wkt);
        if (row.as_wkt) {
            ASSERT_EQ(records.size(), 1u);
            EXPECT_EQ(records[0].first, 2112);
            if (row.wkt) {
                EXPECT_EQ(records[0].second, *row.wkt);
            }
            const std::string text(reinterpret_cast<const char*>(records[0].second.data()));
            PJ_CONTEXT* c = proj_context_create();
            PJ* got = proj_create(c, text.c_str());
            PJ* want = proj_create(c, "EPSG:26915");
            EXPECT_TRUE(got != nullptr &&
                        proj_is_equivalent_to_with_ctx(c, got, want, PJ_COMP_EQUIVALENT))
                << text;
            proj_destroy(got);
            proj_destroy(want);
            proj_context_destroy(c);
        } else {
            ASSERT_EQ(records.size(), 1u);
            EXPECT_EQ(records[0].second, user_defined);
        }
        const std::size_t in_records =
            records_of(dir_ / "a.las").size() / get<std::uint16_t>(row.a, 105) +
            records_of(dir_ / "b.las").size() / get<std::uint16_t>(row.b, 105);
        EXPECT_EQ(records_of(dir_ / "m.laz").size(), in_records * get<std::uint16_t>(out, 105));
    }
}

TEST_F(SchemaMerge, Refusals) {
    struct Row {
        const char* what;
        std::vector<std::function<Bytes()>> files;  // a.las, b.las, ...
        std::string message;
    };
    const auto undescribed = [](std::uint8_t format, std::uint32_t seed) {
        std::vector<lassynth::Point> points = lassynth::random_points(10, seed);
        return lassynth::make_las_extended(3, format, points, 4, false).bytes();
    };
    const Row rows[] = {
        {"GPS time of two types",
         {[] { return tile(2, 1, 10, 1, {}, 0); }, [] { return tile(2, 3, 10, 2, {}, 1); }},
         "\nGPS time of b.las is adjusted standard time; the first file, a.las, has GPS week "
         "time\n"},
        {"undescribed extra bytes beside the first file's other format",
         {[] { return tile(3, 1, 10, 3); }, [&] { return undescribed(3, 4); }},
         "\nPoint format of b.las is 3; the first file, a.las, has 1\n"},
        {"one field name of two types",
         {[] {
              return tile(3, 1, 10, 5, {{"Alpha", 3}});
          },
          [] {
              return tile(3, 1, 10, 6, {{"Alpha", 6}});
          }},
         "\nThe extra bytes field Alpha of b.las is int32; a.las has it as uint16\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string list;
        for (std::size_t i = 0; i < row.files.size(); ++i) {
            const std::string name = std::string(1, static_cast<char>('a' + i)) + ".las";
            lassynth::write_bytes(dir_ / name, row.files[i]());
            list += name + "\n";
        }
        const Bytes old{std::byte{'o'}, std::byte{'l'}, std::byte{'d'}};
        lassynth::write_bytes(dir_ / "m.las", old);
        dir_.write_text("list.txt", list);
        // One message, nothing written, nothing left behind.
        testing_support::expect_refused(dir_, {"--extended", "list.txt", "m.las"}, row.message);
        EXPECT_EQ(lassynth::read_bytes(dir_ / "m.las"), old) << "the old output was not kept";
    }
}

}  // namespace
