#include "las/extra_bytes.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "las/byte_order.hpp"

namespace korvane {
namespace {

namespace at = descriptor_at;

// Data types 1-10; 11-20 and 21-30 are the same ten as arrays.
constexpr std::size_t kScalarTypeCount = 10;
constexpr std::array<ExtraBytesType, kScalarTypeCount> kScalarTypes = {{
    {ElementKind::Unsigned, 1, 1},
    {ElementKind::Signed, 1, 1},
    {ElementKind::Unsigned, 2, 1},
    {ElementKind::Signed, 2, 1},
    {ElementKind::Unsigned, 4, 1},
    {ElementKind::Signed, 4, 1},
    {ElementKind::Unsigned, 8, 1},
    {ElementKind::Signed, 8, 1},
    {ElementKind::Float, 4, 1},
    {ElementKind::Float, 8, 1},
}};
constexpr std::array<std::string_view, kScalarTypeCount> kScalarNames = {
    "uint8", "int8", "uint16", "int16", "uint32", "int32", "uint64", "int64", "float32", "float64"};

using Descriptor = std::span<const std::byte, kExtraBytesDescriptorBytes>;

std::string text_at(Descriptor d, std::size_t from) {
    const std::span<const std::byte> text = d.subspan(from, at::kTextBytes);
    const auto end = std::ranges::find(text, std::byte{0});
    std::string s(static_cast<std::size_t>(end - text.begin()), '\0');
    std::memcpy(s.data(), text.data(), s.size());
    return s;
}

ValueSlots slots_at(Descriptor d, std::size_t from) {
    ValueSlots s{};
    for (std::size_t k = 0; k < s.size(); ++k)
        s[k] = get_le<std::uint64_t>(d, from + k * at::kSlotBytes);
    return s;
}

std::array<double, 3> doubles_at(Descriptor d, std::size_t from) {
    std::array<double, 3> v{};
    for (std::size_t k = 0; k < v.size(); ++k) v[k] = get_le<double>(d, from + k * sizeof(double));
    return v;
}

// The stated value of a scale or offset matches when both state it and their elements are equal;
// the slots of elements the type does not have do not belong to the definition.
bool same_transform(const ExtraBytesField& a, const ExtraBytesField& b, std::uint8_t option_bit,
                    const std::array<double, 3>& a_values, const std::array<double, 3>& b_values) {
    if (a.states(option_bit) != b.states(option_bit)) return false;
    if (!a.states(option_bit)) return true;
    for (std::size_t k = 0; k < a.type.element_count; ++k)
        if (a_values[k] != b_values[k]) return false;
    return true;
}

std::optional<FieldDifference> difference(const ExtraBytesField& a, const ExtraBytesField& b) {
    if (a.data_type != b.data_type) return FieldDifference::DataType;
    if (a.size() != b.size()) return FieldDifference::Size;
    if (!same_transform(a, b, extra_bytes_option::kScale, a.scale, b.scale))
        return FieldDifference::Scale;
    if (!same_transform(a, b, extra_bytes_option::kOffset, a.offset, b.offset))
        return FieldDifference::Offset;
    return std::nullopt;
}

// Whether slot value `a` lies below `b` in the order of the field's kind.
bool below(ElementKind kind, std::uint64_t a, std::uint64_t b) {
    switch (kind) {
        case ElementKind::Signed:
            return std::bit_cast<std::int64_t>(a) < std::bit_cast<std::int64_t>(b);
        case ElementKind::Float:
            return std::bit_cast<double>(a) < std::bit_cast<double>(b);
        case ElementKind::Unsigned:
        case ElementKind::Undocumented:
            break;
    }
    return a < b;
}

// A NaN bound encloses nothing, so it counts as not stated.
bool holds_nan(const ExtraBytesField& f, const ValueSlots& slots) {
    if (f.type.kind != ElementKind::Float) return false;
    for (std::size_t k = 0; k < f.type.element_count; ++k)
        if (std::isnan(std::bit_cast<double>(slots[k]))) return true;
    return false;
}

struct BoundRule {
    std::uint8_t option_bit;
    ValueSlots ExtraBytesField::*slots;
    bool lower;
};

// The rule for an output's min (and likewise max): it is stated only when every input that has
// the field states it, since a bound missing from one input leaves that input's values unknown;
// it is then the lowest of the stated ones, element by element in the data type's own order
// (unsigned, signed or float). When some input lacks the field and the field states no no-data
// value, that input's records get zeros (fill_bytes), and the bound encloses zero too; a no-data
// fill is not a value and is not enclosed. A bound not stated is cleared to zeros.
void settle_bound(ExtraBytesField& out, std::span<const ExtraBytesField* const> holders,
                  bool zero_filled, const BoundRule& rule) {
    const bool stated = std::ranges::all_of(holders, [&](const ExtraBytesField* h) {
        return h->states(rule.option_bit) && !holds_nan(*h, h->*rule.slots);
    });
    if (!stated) {
        out.options = static_cast<std::uint8_t>(out.options & ~rule.option_bit);
        out.*rule.slots = {};
        return;
    }
    ValueSlots bound = holders.front()->*rule.slots;
    auto take = [&](std::size_t k, std::uint64_t v) {
        if (rule.lower ? below(out.type.kind, v, bound[k]) : below(out.type.kind, bound[k], v))
            bound[k] = v;
    };
    for (std::size_t k = 0; k < out.type.element_count; ++k) {
        for (const ExtraBytesField* h : holders) take(k, (h->*rule.slots)[k]);
        if (zero_filled) take(k, 0);  // zero bits are zero in every kind
    }
    out.*rule.slots = bound;
}

std::string number(double v) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v);
    return {buffer.data(), result.ptr};
}

std::string numbers(const std::array<double, 3>& v, std::size_t count) {
    if (count == 1) return number(v[0]);
    std::string text = "(";
    for (std::size_t k = 0; k < count; ++k) text += (k == 0 ? "" : ", ") + number(v[k]);
    return text + ")";
}

// A no-data double made a float: one beyond the float range becomes an infinity rather than a
// conversion without a defined result.
float narrow_to_float(double v) {
    constexpr double kLargest = std::numeric_limits<float>::max();
    if (std::isfinite(v) && std::fabs(v) > kLargest)
        return v > 0 ? std::numeric_limits<float>::infinity()
                     : -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

const ExtraBytesField* find_by_name(std::span<const ExtraBytesField> fields,
                                    const std::string& name) {
    const auto it = std::ranges::find(fields, name, &ExtraBytesField::name);
    return it == fields.end() ? nullptr : &*it;
}

}  // namespace

std::optional<ExtraBytesType> extra_bytes_type(std::uint8_t data_type, std::uint8_t options) {
    if (data_type == 0) return ExtraBytesType{ElementKind::Undocumented, options, 1};
    if (data_type > kLastExtraBytesDataType) return std::nullopt;
    const std::size_t index = data_type - 1u;
    ExtraBytesType type = kScalarTypes[index % kScalarTypeCount];
    type.element_count = index / kScalarTypeCount + 1;
    return type;
}

ExtraBytesParsing parse_extra_bytes(std::span<const std::byte> payload) {
    if (payload.size() % kExtraBytesDescriptorBytes != 0)
        return ExtraBytesFault{extra_bytes_fault::PayloadLength{payload.size()}};
    std::vector<ExtraBytesField> fields;
    fields.reserve(payload.size() / kExtraBytesDescriptorBytes);
    for (std::size_t i = 0; i < payload.size() / kExtraBytesDescriptorBytes; ++i) {
        const Descriptor d =
            payload.subspan(i * kExtraBytesDescriptorBytes).first<kExtraBytesDescriptorBytes>();
        ExtraBytesField f;
        std::ranges::copy(d, f.raw.begin());
        f.data_type = get_le<std::uint8_t>(d, at::kDataType);
        f.options = get_le<std::uint8_t>(d, at::kOptions);
        const std::optional<ExtraBytesType> type = extra_bytes_type(f.data_type, f.options);
        if (!type) return ExtraBytesFault{extra_bytes_fault::UnknownDataType{i, f.data_type}};
        if (type->element_size == 0)
            return ExtraBytesFault{extra_bytes_fault::EmptyUndocumented{i}};
        f.type = *type;
        f.name = text_at(d, at::kName);
        f.no_data = slots_at(d, at::kNoData);
        f.min = slots_at(d, at::kMin);
        f.max = slots_at(d, at::kMax);
        f.scale = doubles_at(d, at::kScale);
        f.offset = doubles_at(d, at::kOffset);
        fields.push_back(std::move(f));
    }
    return fields;
}

std::vector<std::byte> build_extra_bytes(std::span<const ExtraBytesField> fields) {
    std::vector<std::byte> payload(fields.size() * kExtraBytesDescriptorBytes);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const ExtraBytesField& f = fields[i];
        const std::span<std::byte> d =
            std::span(payload).subspan(i * kExtraBytesDescriptorBytes, kExtraBytesDescriptorBytes);
        std::ranges::copy(f.raw, d.begin());
        put_le(d, at::kOptions, f.options);
        for (std::size_t k = 0; k < f.min.size(); ++k) {
            put_le(d, at::kMin + k * at::kSlotBytes, f.min[k]);
            put_le(d, at::kMax + k * at::kSlotBytes, f.max[k]);
        }
    }
    return payload;
}

std::size_t extra_bytes_size(std::span<const ExtraBytesField> fields) {
    std::size_t total = 0;
    for (const ExtraBytesField& f : fields) total += f.size();
    return total;
}

std::vector<std::size_t> extra_bytes_offsets(std::span<const ExtraBytesField> fields) {
    std::vector<std::size_t> offsets;
    offsets.reserve(fields.size());
    std::size_t at = 0;
    for (const ExtraBytesField& f : fields) {
        offsets.push_back(at);
        at += f.size();
    }
    return offsets;
}

std::string describe_definition(const ExtraBytesField& field) {
    if (field.type.kind == ElementKind::Undocumented)
        return std::to_string(field.size()) + " undocumented bytes";
    // Appended piece by piece: GCC 12 at -O3 misreads "literal" + std::string as an overlap.
    std::string text(kScalarNames[(field.data_type - 1u) % kScalarTypeCount]);
    if (field.type.element_count > 1) {
        text += '[';
        text += std::to_string(field.type.element_count);
        text += ']';
    }
    if (field.scale_valid()) {
        text += ", scale ";
        text += numbers(field.scale, field.type.element_count);
    }
    if (field.offset_valid()) {
        text += ", offset ";
        text += numbers(field.offset, field.type.element_count);
    }
    return text;
}

FieldUnion union_of_fields(std::span<const std::vector<ExtraBytesField>> per_input) {
    std::vector<ExtraBytesField> out;
    std::vector<std::size_t> first_input;  // for each output field
    for (std::size_t i = 0; i < per_input.size(); ++i) {
        const std::vector<ExtraBytesField>& fields = per_input[i];
        for (std::size_t j = 0; j < fields.size(); ++j) {
            const ExtraBytesField& f = fields[j];
            const auto earlier = std::ranges::find(fields.begin(), fields.begin() + j, f.name,
                                                   &ExtraBytesField::name);
            if (earlier != fields.begin() + j)
                return FieldUnionFault{DuplicateFieldName{
                    i, f.name, static_cast<std::size_t>(earlier - fields.begin()), j}};
            const auto known = std::ranges::find(out, f.name, &ExtraBytesField::name);
            if (known == out.end()) {
                out.push_back(f);
                first_input.push_back(i);
                continue;
            }
            const std::size_t k = static_cast<std::size_t>(known - out.begin());
            // Still the first input's definition: bounds are settled once every name is known.
            if (const std::optional<FieldDifference> d = difference(out[k], f))
                return FieldUnionFault{FieldConflict{*d, f.name, first_input[k], i, out[k], f}};
        }
    }

    std::vector<const ExtraBytesField*> holders;
    for (ExtraBytesField& o : out) {
        if (o.type.kind == ElementKind::Undocumented) continue;  // no bounds; options is a size
        holders.clear();
        for (const std::vector<ExtraBytesField>& fields : per_input)
            if (const ExtraBytesField* h = find_by_name(fields, o.name)) holders.push_back(h);
        const bool zero_filled = holders.size() < per_input.size() && !o.no_data_valid();
        settle_bound(o, holders, zero_filled,
                     {extra_bytes_option::kMin, &ExtraBytesField::min, true});
        settle_bound(o, holders, zero_filled,
                     {extra_bytes_option::kMax, &ExtraBytesField::max, false});
    }
    return out;
}

std::vector<std::byte> fill_bytes(const ExtraBytesField& field) {
    std::vector<std::byte> fill(field.size());
    if (!field.no_data_valid()) return fill;
    const std::size_t size = field.type.element_size;
    for (std::size_t k = 0; k < field.type.element_count; ++k) {
        const std::span<std::byte> element = std::span(fill).subspan(k * size, size);
        const std::uint64_t slot = field.no_data[k];
        if (field.type.kind == ElementKind::Float && size == sizeof(float))
            put_le(element, 0, narrow_to_float(std::bit_cast<double>(slot)));
        else  // little-endian: an integer's low bytes come first
            std::memcpy(element.data(), &slot, size);
    }
    return fill;
}

FieldPlacing place_fields(std::span<const ExtraBytesField> input,
                          std::span<const ExtraBytesField> output) {
    const std::vector<std::size_t> input_offsets = extra_bytes_offsets(input);
    const std::vector<std::size_t> output_offsets = extra_bytes_offsets(output);
    std::vector<FieldPlacement> placements;
    placements.reserve(output.size());
    for (std::size_t j = 0; j < output.size(); ++j) {
        const ExtraBytesField& o = output[j];
        FieldPlacement p{output_offsets[j], o.size(), std::nullopt, {}};
        if (const ExtraBytesField* in = find_by_name(input, o.name)) {
            const std::size_t i = static_cast<std::size_t>(in - input.data());
            if (in->type != o.type) return PlacementMismatch{j, i, o.name};
            p.input_offset = input_offsets[i];
        } else {
            p.fill = fill_bytes(o);
        }
        placements.push_back(std::move(p));
    }
    return placements;
}

}  // namespace korvane
