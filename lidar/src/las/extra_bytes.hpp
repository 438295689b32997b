// The Extra Bytes record (is_extra_bytes_record): an array of 192-byte descriptors,
// one per field that a point record carries after its format's own bytes, in record order.
// Parsed into data and built back; the union of several inputs' fields, matched by name, with
// enclosing bounds; and where each output field's bytes come from in one input's record. Pure
// functions over bytes; reading the record and moving point bytes are the caller's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace korvane {

inline constexpr std::size_t kExtraBytesDescriptorBytes = 192;

// A descriptor: u8[2] reserved, u8 data type, u8 options, char[32] name, u8[4] unused, then the
// no-data, min and max values as three 8-byte slots each, f64[3] scale, f64[3] offset and
// char[32] description.
namespace descriptor_at {
inline constexpr std::size_t kDataType = 2;
inline constexpr std::size_t kOptions = 3;
inline constexpr std::size_t kName = 4;
inline constexpr std::size_t kNoData = 40;
inline constexpr std::size_t kMin = 64;
inline constexpr std::size_t kMax = 88;
inline constexpr std::size_t kScale = 112;
inline constexpr std::size_t kOffset = 136;
inline constexpr std::size_t kDescription = 160;
inline constexpr std::size_t kTextBytes = 32;  // the name and the description
inline constexpr std::size_t kSlotBytes = 8;
}  // namespace descriptor_at

// The options bits that say which values of a descriptor hold. A field of data type 0 has none:
// its options byte is its byte count.
namespace extra_bytes_option {
inline constexpr std::uint8_t kNoData = 1 << 0;
inline constexpr std::uint8_t kMin = 1 << 1;
inline constexpr std::uint8_t kMax = 1 << 2;
inline constexpr std::uint8_t kScale = 1 << 3;
inline constexpr std::uint8_t kOffset = 1 << 4;
}  // namespace extra_bytes_option

// How a field's elements are stored, and the type its no-data, min and max slots are read as:
// u64 for unsigned elements, i64 for signed ones, f64 for floats. Undocumented bytes (data type
// 0) have no values.
enum class ElementKind : std::uint8_t { Undocumented, Unsigned, Signed, Float };

struct ExtraBytesType {
    ElementKind kind = ElementKind::Undocumented;
    std::size_t element_size = 0;   // bytes of one element; all the field's bytes for type 0
    std::size_t element_count = 1;  // 1, or 2 or 3 for the array types 11-30
    bool operator==(const ExtraBytesType&) const = default;
};

// The last data type with a meaning; those above it are reserved.
inline constexpr std::uint8_t kLastExtraBytesDataType = 30;

// What data type `data_type` stores (types 1-10 scalars, 11-20 and 21-30 the same ten as arrays
// of 2 and 3; type 0 `options` bytes); nothing for a reserved type.
std::optional<ExtraBytesType> extra_bytes_type(std::uint8_t data_type, std::uint8_t options);

// Three 8-byte slots, each element's value as its kind's 8-byte type, as bits.
using ValueSlots = std::array<std::uint64_t, 3>;

// One descriptor. `raw` is the descriptor as read and is written back unchanged, except for the
// options byte and the min and max slots, which a union may change and which are written from
// the members of the same name.
struct ExtraBytesField {
    std::array<std::byte, kExtraBytesDescriptorBytes> raw{};
    std::uint8_t data_type = 0;
    std::uint8_t options = 0;
    ExtraBytesType type;
    std::string name;  // up to the first zero byte of the 32
    ValueSlots no_data{};
    ValueSlots min{};
    ValueSlots max{};
    std::array<double, 3> scale{};
    std::array<double, 3> offset{};

    // The bytes the field takes in each point record.
    std::size_t size() const { return type.element_size * type.element_count; }
    // Whether the options say this value holds (never for data type 0).
    bool states(std::uint8_t option_bit) const {
        return type.kind != ElementKind::Undocumented && (options & option_bit) != 0;
    }
    bool no_data_valid() const { return states(extra_bytes_option::kNoData); }
    bool min_valid() const { return states(extra_bytes_option::kMin); }
    bool max_valid() const { return states(extra_bytes_option::kMax); }
    bool scale_valid() const { return states(extra_bytes_option::kScale); }
    bool offset_valid() const { return states(extra_bytes_option::kOffset); }

    bool operator==(const ExtraBytesField&) const = default;
};

namespace extra_bytes_fault {
// The payload is not a whole number of descriptors.
struct PayloadLength {
    std::size_t bytes = 0;
    bool operator==(const PayloadLength&) const = default;
};
// Descriptor `field` (0-based) has a reserved data type.
struct UnknownDataType {
    std::size_t field = 0;
    std::uint8_t data_type = 0;
    bool operator==(const UnknownDataType&) const = default;
};
// Descriptor `field` is undocumented bytes (data type 0) of which there are none.
struct EmptyUndocumented {
    std::size_t field = 0;
    bool operator==(const EmptyUndocumented&) const = default;
};
}  // namespace extra_bytes_fault

using ExtraBytesFault =
    std::variant<extra_bytes_fault::PayloadLength, extra_bytes_fault::UnknownDataType,
                 extra_bytes_fault::EmptyUndocumented>;
using ExtraBytesParsing = std::variant<std::vector<ExtraBytesField>, ExtraBytesFault>;

// The fields an Extra Bytes payload describes, in record order; the first fault ends it.
ExtraBytesParsing parse_extra_bytes(std::span<const std::byte> payload);

// The payload that describes `fields`: each one's raw descriptor with its options, min and max.
std::vector<std::byte> build_extra_bytes(std::span<const ExtraBytesField> fields);

// The bytes the fields take in each record, and where each one starts within them.
std::size_t extra_bytes_size(std::span<const ExtraBytesField> fields);
std::vector<std::size_t> extra_bytes_offsets(std::span<const ExtraBytesField> fields);

// A definition as short text, e.g. "int32, scale 0.01, offset 0", "uint16[3]" or
// "7 undocumented bytes"; a scale or offset appears when it is stated.
std::string describe_definition(const ExtraBytesField& field);

// What two definitions of one name differ in, first found in this order.
enum class FieldDifference : std::uint8_t { DataType, Size, Scale, Offset };

// Input `other_input` defines field `name` other than `first_input`, the first input that has
// it, whose definition the output takes.
struct FieldConflict {
    FieldDifference differs = FieldDifference::DataType;
    std::string name;
    std::size_t first_input = 0;
    std::size_t other_input = 0;
    ExtraBytesField first;
    ExtraBytesField other;
    bool operator==(const FieldConflict&) const = default;
};

// Input `input` has two fields of one name (at `first_field` and `second_field`): matching
// fields by name cannot tell them apart.
struct DuplicateFieldName {
    std::size_t input = 0;
    std::string name;
    std::size_t first_field = 0;
    std::size_t second_field = 0;
    bool operator==(const DuplicateFieldName&) const = default;
};

using FieldUnionFault = std::variant<FieldConflict, DuplicateFieldName>;
using FieldUnion = std::variant<std::vector<ExtraBytesField>, FieldUnionFault>;

// The fields of an output that holds the points of every input, matched by name: the first
// input's fields in its order, then each name no earlier input has, in order of first
// appearance, each with the definition of the first input that has it. A name defined with
// another data type, size, scale or offset (the stated bit, then the values of the field's
// elements) is a conflict. The output's min and max enclose those of every input (see the .cpp
// for the rule when an input does not state them).
FieldUnion union_of_fields(std::span<const std::vector<ExtraBytesField>> per_input);

// The bytes a record gets for a field its input lacks: the no-data value, when the descriptor
// states one, in each element's own size (an integer slot cut to its low bytes, a double slot
// made a float for a 4-byte float); zeros otherwise.
std::vector<std::byte> fill_bytes(const ExtraBytesField& field);

// Where one output field's bytes come from in one input's records: the input's extra bytes at
// `input_offset`, or `fill` when the input lacks the field.
struct FieldPlacement {
    std::size_t output_offset = 0;  // within the output record's extra bytes
    std::size_t size = 0;
    std::optional<std::size_t> input_offset;  // within the input record's extra bytes
    std::vector<std::byte> fill;              // empty when the input has the field
    bool operator==(const FieldPlacement&) const = default;
};

// The input has a field of the output's name stored in another type, so its bytes cannot be
// moved as the output's (an output not made by union_of_fields with this input).
struct PlacementMismatch {
    std::size_t output_field = 0;
    std::size_t input_field = 0;
    std::string name;
    bool operator==(const PlacementMismatch&) const = default;
};

using FieldPlacing = std::variant<std::vector<FieldPlacement>, PlacementMismatch>;

// For each of the output's fields in order, where its bytes come from in the input's records.
// Input fields the output lacks are left out.
FieldPlacing place_fields(std::span<const ExtraBytesField> input,
                          std::span<const ExtraBytesField> output);

}  // namespace korvane
