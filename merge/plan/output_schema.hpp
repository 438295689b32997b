// The shape of the merged file's points, decided once from every input before anything is
// written: its LAS version, point format and record length, the extra bytes after the format's
// fields, the GPS time type, the grid and the totals. Everything downstream (the coding plan,
// the header, the writer) reads the output's shape from here, never from one input. Pure: no
// point is read for it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "core/status.hpp"
#include "plan/grid_plan.hpp"
#include "read/input_description.hpp"

namespace quillet {

enum class OutputForm { Las, Laz };

// The form an output name asks for: `*.las` or `*.laz`, lower case. For any other name, the
// failure that says so: the library's line against .las and one more line.
Result<OutputForm> output_form(const std::string& name);

struct OutputSchema {
    OutputForm form = OutputForm::Las;
    std::uint8_t minor = 0;   // LAS 1.minor
    std::uint8_t format = 0;  // the point format, without compression bits
    std::uint16_t record_length = 0;
    std::uint16_t extra_bytes = 0;  // after the format's own fields
    // Bit 0 of the global encoding: GPS time is adjusted standard time, not the time of week.
    bool adjusted_gps_time = false;
    std::array<double, kAxes> scale{}, offset{};
    // The totals; a sum past 2^64 - 1 saturates there (the merge refuses it before it writes).
    std::uint64_t point_count = 0;
    std::array<std::uint64_t, 15> points_by_return{};
};

// The schema of a merge of `inputs` (which agree in version, format, record length and GPS time
// type: the checks refused the others) into the `form` on `grid`.
OutputSchema decide_schema(std::span<const InputDescription> inputs, OutputForm form,
                           const GridPlan& grid);

}  // namespace quillet
