// How an input differs from the first file, as data: each field that differs with both values,
// in the order the checks name them. The checks decide which differences refuse a merge.
#pragma once

#include <string>
#include <vector>

#include "read/input_description.hpp"

namespace quillet {

enum class Field {
    Version,
    Compression,
    PointFormat,
    RecordLength,
    XScaleFactor,
    YScaleFactor,
    ZScaleFactor,
    XOffset,
    YOffset,
    ZOffset,
    GpsTime,
    LaszipCompressor,
    LaszipCoder,
    LaszipOptions,
    LaszipItems,
    ExtraBytes,
};

// The field's name as messages give it.
const char* name_of(Field field);

struct Difference {
    Field field;
    std::string value;        // the input's
    std::string first_value;  // the first file's
};

// Every field in which `input` differs from `first`, in the order of Field. Scale factors and
// offsets are compared by value: a NaN differs from everything, -0.0 equals +0.0.
std::vector<Difference> differences(const InputDescription& first, const InputDescription& input);

// Whether two inputs hold the same coordinate reference system records, record for record.
bool same_crs_records(const InputDescription& a, const InputDescription& b);

// The shortest text that reads back as the same double: 0.01 shows as 0.01, and two values that
// differ in their last bit show differently.
std::string text_of(double value);

}  // namespace quillet
