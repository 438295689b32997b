#include "plan/output_schema.hpp"

#include <algorithm>
#include <limits>
#include <variant>

#include "file_checks.hpp"
#include "las/point_formats.hpp"
#include "las/public_header.hpp"
#include "las/variable_length_records.hpp"

namespace quillet {
namespace {

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return b > std::numeric_limits<std::uint64_t>::max() - a
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

}  // namespace

Result<OutputForm> output_form(const std::string& name) {
    // The library's own rule for an extension; its message only when neither form matches.
    using korvane::ExtensionProblem;
    if (name.size() > 9 && name.ends_with(".copc.laz")) return OutputForm::Copc;
    if (korvane::extension_problem(name.c_str(), "las") == ExtensionProblem::None)
        return OutputForm::Las;
    if (korvane::extension_problem(name.c_str(), "laz") == ExtensionProblem::None)
        return OutputForm::Laz;
    return invalid_request({korvane::extension_message(name.c_str(), "las") +
                            say("\nOutput file should have .las or .laz extension\n").text});
}

namespace {

// The least LAS version of a point format: 1.4 for formats 6-10; any for 0-3.
std::uint8_t least_minor_of(std::uint8_t format) {
    return format >= 6 ? 4 : 0;
}

// The least format that holds the fields of every input's format.
std::uint8_t least_common_format(std::span<const InputDescription> inputs) {
    bool extended = false, gps_time = false, rgb = false, nir = false;
    for (const InputDescription& d : inputs) {
        const std::optional<korvane::PointFormat> f = korvane::point_format(d.format);
        if (!f) continue;
        extended |= f->extended;
        gps_time |= f->gps_time;
        rgb |= f->rgb;
        nir |= f->nir;
    }
    if (extended) return nir ? 8 : rgb ? 7 : 6;
    if (gps_time) return rgb ? 3 : 1;
    return rgb ? 2 : 0;
}

bool adjusted_gps_time(const InputDescription& d) {
    return (d.base.GlobalEncoding & korvane::kGpsTimeIsStandard) != 0;
}

const char* gps_time_name(bool adjusted) {
    return adjusted ? "adjusted standard time" : "GPS week time";
}

// The refusal of two inputs that define one extra bytes field differently, or of one input that
// defines a name twice.
Failure field_refusal(std::span<const InputDescription> inputs,
                      const korvane::FieldUnionFault& fault) {
    if (const auto* c = std::get_if<korvane::FieldConflict>(&fault))
        return refused(say(
            "\nThe extra bytes field %s of %s is %s; %s has it as %s\n", c->name.c_str(),
            inputs[c->other_input].name.c_str(), korvane::describe_definition(c->other).c_str(),
            inputs[c->first_input].name.c_str(), korvane::describe_definition(c->first).c_str()));
    const auto& d = std::get<korvane::DuplicateFieldName>(fault);
    return refused(say("\n%s describes two extra bytes fields named %s\n",
                       inputs[d.input].name.c_str(), d.name.c_str()));
}

}  // namespace

Result<OutputSchema> decide_schema(std::span<const InputDescription> inputs, OutputForm form,
                                   const GridPlan& grid) {
    OutputSchema s;
    s.form = form;
    s.scale = grid.scale;
    s.offset = grid.offset;
    if (inputs.empty()) return s;
    const InputDescription& first = inputs.front();
    for (const InputDescription& d : inputs) {
        s.point_count = saturating_add(s.point_count, d.point_count);
        for (std::size_t r = 0; r < s.points_by_return.size(); ++r)
            s.points_by_return[r] = saturating_add(s.points_by_return[r], d.points_by_return[r]);
    }

    // GPS time: one type for every input that has it; an input without it takes that type.
    const InputDescription* timed = nullptr;
    for (const InputDescription& d : inputs) {
        const std::optional<korvane::PointFormat> f = korvane::point_format(d.format);
        if (!f || !f->gps_time) continue;
        if (timed == nullptr) {
            timed = &d;
        } else if (adjusted_gps_time(d) != adjusted_gps_time(*timed)) {
            return refused(say("\nGPS time of %s is %s; the first file%s, %s, has %s\n",
                               d.name.c_str(), gps_time_name(adjusted_gps_time(d)),
                               timed == &first ? "" : " with GPS time", timed->name.c_str(),
                               gps_time_name(adjusted_gps_time(*timed))));
        }
    }
    s.adjusted_gps_time = adjusted_gps_time(timed != nullptr ? *timed : first);

    // The bytes after the format's fields, counted wide: a union can pass what 16 bits hold.
    std::size_t extra = 0;
    bool described = true;
    for (const InputDescription& d : inputs) described &= d.extra_bytes_described();
    if (!described && form == OutputForm::Copc && first.format < 6)
        return refused(
            say("\n%s holds extra bytes that no Extra Bytes record describes: its "
                "records cannot be converted to point format 6 or 7 for cloud "
                "optimised LAZ\n",
                first.name.c_str()));
    if (!described) {
        // Undescribed extra bytes move only as a whole: the checks let through only inputs of
        // the first file's format, record length and Extra Bytes record beside them.
        s.format = first.format;
        extra = first.extra_bytes();
    } else {
        s.format = least_common_format(inputs);
        // Cloud optimised LAZ: the least of formats 6-8 that holds the same fields.
        if (form == OutputForm::Copc && s.format < 6)
            s.format = korvane::point_format(s.format)->rgb ? 7 : 6;
        // One description for all stays the first file's as it is (even with names that repeat).
        s.extra_fields = first.extra_fields;
        if (!std::all_of(inputs.begin(), inputs.end(), [&](const InputDescription& d) {
                return d.extra_fields == first.extra_fields;
            })) {
            std::vector<std::vector<korvane::ExtraBytesField>> per_input;
            for (const InputDescription& d : inputs) per_input.push_back(d.extra_fields);
            korvane::FieldUnion fields = korvane::union_of_fields(per_input);
            if (const auto* fault = std::get_if<korvane::FieldUnionFault>(&fields))
                return field_refusal(inputs, *fault);
            s.extra_fields = std::move(std::get<std::vector<korvane::ExtraBytesField>>(fields));
        }
        extra = korvane::extra_bytes_size(s.extra_fields);
        s.extra_record_changed = s.extra_fields != first.extra_fields;
    }
    if (s.extra_fields.size() * korvane::kExtraBytesDescriptorBytes >
        std::numeric_limits<std::uint16_t>::max())
        return refused(
            say("\nThe inputs hold %zu extra bytes fields, more than one Extra Bytes "
                "record can describe (341)\n",
                s.extra_fields.size()));
    const std::size_t length = korvane::base_record_length(s.format) + extra;
    if (length > std::numeric_limits<std::uint16_t>::max())
        return refused(
            say("\nThe merged records would be %zu bytes long, more than a LAS header "
                "can state (65535)\n",
                length));
    s.record_length = static_cast<std::uint16_t>(length);
    s.extra_bytes = static_cast<std::uint16_t>(extra);

    for (const InputDescription& d : inputs) s.minor = std::max(s.minor, d.minor);
    s.minor = std::max(s.minor, least_minor_of(s.format));
    if (s.point_count > std::numeric_limits<std::uint32_t>::max()) s.minor = 4;
    s.crs = decide_output_crs(inputs, s.format);
    return s;
}

}  // namespace quillet
