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
#include <vector>

#include "core/status.hpp"
#include "las/extra_bytes.hpp"
#include "plan/coordinate_system.hpp"
#include "plan/grid_plan.hpp"
#include "read/input_description.hpp"

namespace quillet {

// LAS, LAZ, or cloud optimised LAZ (COPC: its points staged as LAS, then made an octree).
enum class OutputForm { Las, Laz, Copc };

// The form an output name asks for: `*.las`, `*.laz` or `*.copc.laz`, lower case. For any other
// name, the failure that says so: the library's line against .las and one more line.
Result<OutputForm> output_form(const std::string& name);

struct OutputSchema {
    OutputForm form = OutputForm::Las;
    std::uint8_t minor = 0;   // LAS 1.minor
    std::uint8_t format = 0;  // the point format, without compression bits
    std::uint16_t record_length = 0;
    std::uint16_t extra_bytes = 0;  // after the format's own fields
    // The fields that the output's Extra Bytes record describes, when every input's extra bytes
    // are described: the union of the inputs' fields by name. Empty otherwise (no extra bytes, or
    // undescribed ones, which then are the first file's and every input's alike).
    std::vector<korvane::ExtraBytesField> extra_fields;
    // Whether the output's Extra Bytes record differs from the first file's (new fields, wider
    // bounds, or the first file has none): it is then written from `extra_fields`.
    bool extra_record_changed = false;
    // Bit 0 of the global encoding: GPS time is adjusted standard time, not the time of week.
    bool adjusted_gps_time = false;
    std::array<double, kAxes> scale{}, offset{};
    // The coordinate system: the first file's, as WKT when the format asks for it.
    OutputCrs crs;
    // The totals; a sum past 2^64 - 1 saturates there (the merge refuses it before it writes).
    std::uint64_t point_count = 0;
    std::array<std::uint64_t, 15> points_by_return{};
};

// The schema of a merge of `inputs` into the `form` on `grid`:
// - the point format is the least that holds every input's fields: formats 0-3 as a lattice
//   (GPS time in 1 and 3, colour in 2 and 3), and with any input of 6-8 the least of 6 < 7 < 8
//   that holds colour and near infrared (never a waveform format, never one that drops a field);
// - the version is the highest input's, 1.4 with formats 6-8 or more than 2^32 - 1 points;
// - the extra bytes fields are the union of the inputs' by name (inputs whose extra bytes are
//   not all described went through the checks only beside inputs of their format and length);
// - GPS time is of the one type of every input that has it;
// - the coordinate system is the first file's, as WKT in formats 6-10 (decide_output_crs);
// - cloud optimised LAZ holds formats 6-8 only: 0 and 1 become 6, 2 and 3 become 7, in LAS 1.4.
// The refusal, naming the files, when two inputs define one extra bytes field differently or
// hold GPS time of different types.
Result<OutputSchema> decide_schema(std::span<const InputDescription> inputs, OutputForm form,
                                   const GridPlan& grid);

}  // namespace quillet
