#include "plan/output_schema.hpp"

#include <limits>

#include "file_checks.hpp"
#include "las/point_formats.hpp"
#include "las/public_header.hpp"

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
    if (korvane::extension_problem(name.c_str(), "las") == ExtensionProblem::None)
        return OutputForm::Las;
    if (korvane::extension_problem(name.c_str(), "laz") == ExtensionProblem::None)
        return OutputForm::Laz;
    return invalid_request({korvane::extension_message(name.c_str(), "las") +
                            say("\nOutput file should have .las or .laz extension\n").text});
}

OutputSchema decide_schema(std::span<const InputDescription> inputs, OutputForm form,
                           const GridPlan& grid) {
    OutputSchema s;
    s.form = form;
    s.scale = grid.scale;
    s.offset = grid.offset;
    if (inputs.empty()) return s;
    const InputDescription& first = inputs.front();
    s.minor = first.minor;
    s.format = first.format;
    s.record_length = first.record_length;
    s.extra_bytes =
        static_cast<std::uint16_t>(first.record_length - korvane::base_record_length(first.format));
    s.adjusted_gps_time =
        (korvane::read_field(first.header, korvane::header::kGlobalEncoding) & 1u) != 0;
    for (const InputDescription& d : inputs) {
        s.point_count = saturating_add(s.point_count, d.point_count);
        for (std::size_t r = 0; r < s.points_by_return.size(); ++r)
            s.points_by_return[r] = saturating_add(s.points_by_return[r], d.points_by_return[r]);
    }
    return s;
}

}  // namespace quillet
