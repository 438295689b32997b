// The Extra Bytes descriptors: the record of real samples read into the fields their record
// length implies and written back unchanged; the union of inputs' fields by name, its conflicts
// and its enclosing bounds; where each output field's bytes come from, and the fill of a field
// an input lacks; and the payloads refused. Descriptors are built here byte by byte at their
// documented offsets, not through the library.
#include "las/extra_bytes.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "byte_fields.hpp"
#include "las/variable_length_records.hpp"

namespace {

using korvane::ExtraBytesField;
using Slots = std::array<std::uint64_t, 3>;
using testing_support::get;
using testing_support::put;

constexpr std::uint8_t kNoData = 1, kMin = 2, kMax = 4, kScale = 8, kOffset = 16;

// The 8-byte slot of a signed or a float value.
constexpr auto s64 = [](std::int64_t v) { return std::bit_cast<std::uint64_t>(v); };
constexpr auto f64 = [](double v) { return std::bit_cast<std::uint64_t>(v); };

struct Desc {
    std::string name;
    std::uint8_t data_type = 0;
    std::uint8_t options = 0;
    Slots no_data{}, min{}, max{};
    std::array<double, 3> scale{}, offset{};
};

std::vector<std::byte> payload_of(const std::vector<Desc>& descs) {
    std::vector<std::byte> p(descs.size() * 192);
    for (std::size_t i = 0; i < descs.size(); ++i) {
        const Desc& d = descs[i];
        const std::size_t at = i * 192;
        put(p, at + 2, d.data_type);
        put(p, at + 3, d.options);
        std::memcpy(p.data() + at + 4, d.name.data(), d.name.size());
        for (std::size_t k = 0; k < 3; ++k) {
            put(p, at + 40 + 8 * k, d.no_data[k]);
            put(p, at + 64 + 8 * k, d.min[k]);
            put(p, at + 88 + 8 * k, d.max[k]);
            put(p, at + 112 + 8 * k, d.scale[k]);
            put(p, at + 136 + 8 * k, d.offset[k]);
        }
    }
    return p;
}

std::vector<ExtraBytesField> fields_of(const std::vector<Desc>& descs) {
    korvane::ExtraBytesParsing parsed = korvane::parse_extra_bytes(payload_of(descs));
    auto* fields = std::get_if<std::vector<ExtraBytesField>>(&parsed);
    if (fields == nullptr) ADD_FAILURE() << "a test descriptor was refused";
    return fields ? *fields : std::vector<ExtraBytesField>{};
}

korvane::FieldUnion union_of(const std::vector<std::vector<Desc>>& inputs) {
    std::vector<std::vector<ExtraBytesField>> per_input;
    for (const std::vector<Desc>& descs : inputs) per_input.push_back(fields_of(descs));
    return korvane::union_of_fields(per_input);
}

std::vector<std::byte> file_bytes(const std::string& name) {
    std::ifstream f(std::string(SAMPLES_DIR) + "/" + name, std::ios::binary);
    std::vector<char> chars{std::istreambuf_iterator<char>(f), {}};
    std::vector<std::byte> bytes(chars.size());
    std::memcpy(bytes.data(), chars.data(), chars.size());
    return bytes;
}

// A field "f" of `type` with these options and the first element of its scale and offset.
Desc def(std::uint8_t type, std::uint8_t options, double scale = 0, double offset = 0) {
    return {"f", type, options, {}, {}, {}, {scale}, {offset}};
}

// A field "f" of `type` stating these options and bounds.
Desc bounded(std::uint8_t type, std::uint8_t options, Slots min, Slots max) {
    return {"f", type, options, {}, min, max};
}

// The extra bytes sample files: the fields their Extra Bytes record describes, which take the
// bytes of each record after those of its point format 3 (34 bytes).
struct SampleField {
    std::string name;
    int data_type;
    std::size_t size, offset;
};

TEST(ExtraBytes, RealSamplesDescribeTheirRecordsExtraBytes) {
    const SampleField expected[] = {{"Colors", 23, 6, 0},
                                    {"Reserved", 0, 7, 6},
                                    {"Flags", 12, 2, 13},
                                    {"Intensity", 5, 4, 15},
                                    {"Time", 7, 8, 19}};
    for (const std::string name : {"extrabytes.las", "extra.laz"}) {
        SCOPED_TRACE(name);
        const std::vector<std::byte> file = file_bytes(name);
        ASSERT_GE(file.size(), 375u);
        std::size_t at = get<std::uint16_t>(file, 94);
        std::optional<std::vector<std::byte>> payload;
        for (std::uint32_t v = 0; v < get<std::uint32_t>(file, 100) && !payload; ++v) {
            ASSERT_LE(at + korvane::kVlrHeaderBytes, file.size());
            const korvane::RecordHeader h = korvane::parse_vlr_header(
                std::span(file).subspan(at).first<korvane::kVlrHeaderBytes>());
            at += korvane::kVlrHeaderBytes;
            ASSERT_LE(at + h.payload_length, file.size());
            if (korvane::is_extra_bytes_record(h.user_id, h.record_id))
                payload.emplace(file.begin() + at, file.begin() + at + h.payload_length);
            at += h.payload_length;
        }
        ASSERT_TRUE(payload) << "no Extra Bytes record";
        const korvane::ExtraBytesParsing parsed = korvane::parse_extra_bytes(*payload);
        const auto* fields = std::get_if<std::vector<ExtraBytesField>>(&parsed);
        ASSERT_NE(fields, nullptr);
        ASSERT_EQ(fields->size(), std::size(expected));
        const std::vector<std::size_t> offsets = korvane::extra_bytes_offsets(*fields);
        for (std::size_t i = 0; i < fields->size(); ++i) {
            EXPECT_EQ((*fields)[i].name, expected[i].name);
            EXPECT_EQ((*fields)[i].data_type, expected[i].data_type);
            EXPECT_EQ((*fields)[i].size(), expected[i].size);
            EXPECT_EQ(offsets[i], expected[i].offset);
        }
        EXPECT_EQ(korvane::extra_bytes_size(*fields), get<std::uint16_t>(file, 105) - 34u);
        EXPECT_EQ(korvane::build_extra_bytes(*fields), *payload);
    }
}

struct FaultCase {
    std::string what;
    std::vector<std::byte> payload;
    korvane::ExtraBytesFault expected;
};

TEST(ExtraBytes, MalformedPayloadsAreRefusedWithTheirFault) {
    namespace fault = korvane::extra_bytes_fault;
    const FaultCase cases[] = {
        {"short of a descriptor", std::vector<std::byte>(191), fault::PayloadLength{191}},
        {"a byte over", std::vector<std::byte>(193), fault::PayloadLength{193}},
        {"type 31", payload_of({def(1, 0), def(31, 0)}), fault::UnknownDataType{1, 31}},
        {"type 255", payload_of({def(255, 0)}), fault::UnknownDataType{0, 255}},
        {"no undocumented bytes", payload_of({def(1, 0), def(0, 0)}), fault::EmptyUndocumented{1}},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.what);
        const korvane::ExtraBytesParsing parsed = korvane::parse_extra_bytes(c.payload);
        const auto* got = std::get_if<korvane::ExtraBytesFault>(&parsed);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(*got, c.expected);
    }
}

struct OrderCase {
    std::string what;
    std::vector<std::vector<Desc>> inputs;
    std::vector<std::string> names;
};

TEST(ExtraBytes, UnionKeepsTheFirstInputsOrderThenNewNames) {
    const Desc a{"a", 1}, b{"b", 6}, c{"c", 10}, w{"w", 2}, x{"x", 3}, y{"y", 4}, z{"z", 5};
    const OrderCase cases[] = {
        {"same fields", {{a, b}, {a, b}}, {"a", "b"}},
        {"other order", {{a, b}, {b, a}}, {"a", "b"}},
        {"a new field appended", {{a}, {a, c}}, {"a", "c"}},
        {"first appearance", {{x, y}, {z, x}, {w, z, y}}, {"x", "y", "z", "w"}},
        {"first input without fields", {{}, {b, a}}, {"b", "a"}},
        {"the last data type", {{def(30, 0)}, {def(30, 0)}}, {"f"}},
        // Values the options do not state, and elements a scalar lacks, are not compared.
        {"unstated scales", {{def(4, 0, 0.5)}, {def(4, 0, 2)}}, {"f"}},
        {"unused scale slot", {{def(1, kScale, 2)}, {{"f", 1, kScale, {}, {}, {}, {2, 7}}}}, {"f"}},
    };
    for (const OrderCase& c : cases) {
        SCOPED_TRACE(c.what);
        const korvane::FieldUnion u = union_of(c.inputs);
        const auto* fields = std::get_if<std::vector<ExtraBytesField>>(&u);
        ASSERT_NE(fields, nullptr);
        std::vector<std::string> names;
        for (const ExtraBytesField& f : *fields) names.push_back(f.name);
        EXPECT_EQ(names, c.names);
    }
}

struct ConflictCase {
    std::string what;
    std::vector<std::vector<Desc>> inputs;
    std::tuple<korvane::FieldDifference, std::size_t, std::size_t> differs_between;
    std::array<std::string, 2> definitions;
};

TEST(ExtraBytes, UnionRefusesANameDefinedOtherwise) {
    using enum korvane::FieldDifference;
    const std::uint8_t so = kScale | kOffset;
    const ConflictCase cases[] = {
        {"type",
         {{def(6, so, 0.01)}, {}, {def(5, so, 0.01)}},
         {DataType, 0, 2},
         {"int32, scale 0.01, offset 0", "uint32, scale 0.01, offset 0"}},
        {"undocumented size",
         {{def(0, 7)}, {def(0, 8)}},
         {Size, 0, 1},
         {"7 undocumented bytes", "8 undocumented bytes"}},
        {"scale",
         {{def(4, kScale, 0.01)}, {def(4, kScale, 0.1)}},
         {Scale, 0, 1},
         {"int16, scale 0.01", "int16, scale 0.1"}},
        {"scale stated once",
         {{def(4, kScale, 1)}, {def(4, 0, 1)}},
         {Scale, 0, 1},
         {"int16, scale 1", "int16"}},
        {"array scale",
         {{{"f", 24, kScale, {}, {}, {}, {1, 1, 0.5}}}, {{"f", 24, kScale, {}, {}, {}, {1, 1, 2}}}},
         {Scale, 0, 1},
         {"int16[3], scale (1, 1, 0.5)", "int16[3], scale (1, 1, 2)"}},
        {"offset",
         {{{"g", 1}}, {def(10, kOffset, 0, 100)}, {def(10, kOffset)}},
         {Offset, 1, 2},
         {"float64, offset 100", "float64, offset 0"}},
    };
    for (const ConflictCase& c : cases) {
        SCOPED_TRACE(c.what);
        const korvane::FieldUnion u = union_of(c.inputs);
        const auto* fault = std::get_if<korvane::FieldUnionFault>(&u);
        ASSERT_NE(fault, nullptr);
        const auto* conflict = std::get_if<korvane::FieldConflict>(fault);
        ASSERT_NE(conflict, nullptr);
        EXPECT_EQ(std::tie(conflict->differs, conflict->first_input, conflict->other_input),
                  c.differs_between);
        EXPECT_EQ(conflict->name, "f");
        EXPECT_EQ(korvane::describe_definition(conflict->first), c.definitions[0]);
        EXPECT_EQ(korvane::describe_definition(conflict->other), c.definitions[1]);
    }
}

TEST(ExtraBytes, UnionRefusesTwoFieldsOfOneNameInAnInput) {
    const korvane::FieldUnion dup = union_of({{{"a", 1}}, {{"a", 1}, {"b", 1}, {"a", 1}}});
    const auto* fault = std::get_if<korvane::FieldUnionFault>(&dup);
    ASSERT_NE(fault, nullptr);
    EXPECT_EQ(*fault, korvane::FieldUnionFault(korvane::DuplicateFieldName{1, "a", 0, 2}));
}

struct BoundsCase {
    std::string what;
    std::vector<std::optional<Desc>> inputs;  // nothing: the input lacks the field
    Desc output;  // the output descriptor's options, min and max (its type is not compared)
};

TEST(ExtraBytes, UnionBoundsEncloseEveryInputInTheTypesOwnOrder) {
    const std::uint8_t mm = kMin | kMax, ms = kMax | kScale;
    const std::uint64_t big = (1ull << 63) + 5, m5 = s64(-5);
    const BoundsCase cases[] = {
        {"uint8", {bounded(1, mm, {3}, {10}), bounded(1, mm, {1}, {7})}, bounded(0, mm, {1}, {10})},
        {"int16", {bounded(4, mm, {m5}, {3}), bounded(4, mm, {2}, {9})}, bounded(0, mm, {m5}, {9})},
        {"uint64 above the int64 range",
         {bounded(7, mm, {big - 4}, {big}), bounded(7, mm, {5}, {6})},
         bounded(0, mm, {5}, {big})},
        {"float64",
         {bounded(10, mm, {f64(-1.5)}, {f64(2)}), bounded(10, mm, {f64(0.25)}, {f64(3.5)})},
         bounded(0, mm, {f64(-1.5)}, {f64(3.5)})},
        {"int16[3] element by element",
         {bounded(24, mm, {1, s64(-4), 0}, {5, 2, 9}), bounded(24, mm, {0, 4, m5}, {6, 8, 1})},
         bounded(0, mm, {0, s64(-4), m5}, {6, 8, 9})},
        {"one input without a min",
         {bounded(1, mm | kScale, {3}, {10}), bounded(1, ms, {}, {12})},
         bounded(0, ms, {}, {12})},
        {"a NaN min",
         {bounded(10, mm, {f64(NAN)}, {f64(1)}), bounded(10, mm, {0}, {f64(2)})},
         bounded(0, kMax, {}, {f64(2)})},
        {"zero fill of an input without it",
         {bounded(2, mm, {m5}, {s64(-1)}), {}},
         bounded(0, mm, {m5}, {0})},
        {"no-data fill of an input without it",
         {Desc{"f", 1, mm | kNoData, {255}, {3}, {10}}, {}},
         bounded(0, mm | kNoData, {3}, {10})},
        {"undocumented bytes keep their count", {def(0, 7), {}}, def(0, 7)},
    };
    for (const BoundsCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::vector<Desc>> inputs;
        for (const std::optional<Desc>& d : c.inputs)
            inputs.push_back(d ? std::vector<Desc>{*d} : std::vector<Desc>{});
        const korvane::FieldUnion u = union_of(inputs);
        const auto* fields = std::get_if<std::vector<ExtraBytesField>>(&u);
        ASSERT_NE(fields, nullptr);
        const std::vector<std::byte> built = korvane::build_extra_bytes(*fields);
        ASSERT_EQ(built.size(), 192u);
        EXPECT_EQ(get<std::uint8_t>(built, 3), c.output.options);
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(get<std::uint64_t>(built, 64 + 8 * k), c.output.min[k]) << "min " << k;
            EXPECT_EQ(get<std::uint64_t>(built, 88 + 8 * k), c.output.max[k]) << "max " << k;
        }
    }
}

struct PlacementCase {
    std::string what;
    std::vector<Desc> input, output;
    std::vector<korvane::FieldPlacement> expected;
};

std::vector<std::byte> bytes(std::initializer_list<int> values) {
    std::vector<std::byte> b;
    for (int v : values) b.push_back(static_cast<std::byte>(v));
    return b;
}

Desc no_data(std::uint8_t type, Slots value) {
    return {"f", type, kNoData, value};
}

TEST(ExtraBytes, PlacementsTakeAnInputsBytesOrFillWhatItLacks) {
    const Desc a{"a", 1}, b{"b", 4}, c{"c", 5};
    const PlacementCase cases[] = {
        {"other order", {c, a, b}, {a, b, c}, {{0, 1, 4, {}}, {1, 2, 5, {}}, {3, 4, 0, {}}}},
        {"lacked, no no-data", {a}, {a, b}, {{0, 1, 0, {}}, {1, 2, {}, bytes({0, 0})}}},
        {"int16 no-data -1", {}, {no_data(4, {s64(-1)})}, {{0, 2, {}, bytes({255, 255})}}},
        {"no-data not stated", {}, {{"f", 4, 0, {s64(-1)}}}, {{0, 2, {}, bytes({0, 0})}}},
        {"uint8[3]", {a}, {no_data(21, {1, 2, 3})}, {{0, 3, {}, bytes({1, 2, 3})}}},
        {"uint32", {}, {no_data(5, {0x12345678})}, {{0, 4, {}, bytes({0x78, 0x56, 0x34, 0x12})}}},
        {"float32", {}, {no_data(9, {f64(1.5)})}, {{0, 4, {}, bytes({0, 0, 0xc0, 0x3f})}}},
        {"undocumented", {}, {def(0, 3)}, {{0, 3, {}, bytes({0, 0, 0})}}},
    };
    for (const PlacementCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<ExtraBytesField> input = fields_of(c.input), output = fields_of(c.output);
        const korvane::FieldPlacing placing = korvane::place_fields(input, output);
        const auto* placements = std::get_if<std::vector<korvane::FieldPlacement>>(&placing);
        ASSERT_NE(placements, nullptr);
        EXPECT_EQ(*placements, c.expected);
    }
    // A same-named input field of another type cannot be moved as the output's.
    const std::vector<ExtraBytesField> other = fields_of({a, {"b", 3}}), output = fields_of({b});
    EXPECT_EQ(korvane::place_fields(other, output),
              korvane::FieldPlacing(korvane::PlacementMismatch{0, 1, "b"}));
}

}  // namespace
