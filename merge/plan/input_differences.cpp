#include "plan/input_differences.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "las/public_header.hpp"
#include "las/variable_length_records.hpp"

namespace quillet {
namespace {

namespace header = korvane::header;

std::string version_of(const InputDescription& d) {
    std::string text = "1.";
    text += std::to_string(d.minor);
    return text;
}

std::string gps_time_of(const InputDescription& d) {
    return (d.base.GlobalEncoding & korvane::kGpsTimeIsStandard) != 0 ? "adjusted standard time"
                                                                      : "GPS week time";
}

// The LASzip items as "type/size/version" triples.
std::string items_of(const korvane::laz::LaszipRecord& z) {
    std::string text = std::to_string(z.items.size());
    text += z.items.size() == 1 ? " item:" : " items:";
    for (const korvane::laz::LaszipItem& item : z.items) {
        // Appended piece by piece: GCC 12 at -O3 misreads "literal" + std::string.
        text += ' ';
        text += std::to_string(item.type);
        text += '/';
        text += std::to_string(item.size);
        text += '/';
        text += std::to_string(item.version);
    }
    return text;
}

// The records of a file that match `wanted`, VLRs first, then EVLRs.
template <typename Wanted>
std::vector<const RecordInfo*> records_of(const InputDescription& d, Wanted wanted) {
    std::vector<const RecordInfo*> found;
    for (const auto* list : {&d.vlrs, &d.evlrs})
        for (const RecordInfo& r : *list)
            if (wanted(r)) found.push_back(&r);
    return found;
}

bool is_extra_bytes(const RecordInfo& r) {
    return korvane::is_extra_bytes_record(r.user_id, r.record_id);
}

bool is_crs(const RecordInfo& r) {
    return korvane::is_crs_record(r.user_id, r.record_id);
}

// Whether two files hold the same records of a kind, record for record: the same record ids
// and the same payloads.
template <typename Wanted>
bool same_records(const InputDescription& a, const InputDescription& b, Wanted wanted) {
    const std::vector<const RecordInfo*> ra = records_of(a, wanted);
    const std::vector<const RecordInfo*> rb = records_of(b, wanted);
    if (ra.size() != rb.size()) return false;
    for (std::size_t i = 0; i < ra.size(); ++i)
        if (ra[i]->record_id != rb[i]->record_id ||
            ra[i]->payload.length != rb[i]->payload.length || ra[i]->digest != rb[i]->digest)
            return false;
    return true;
}

std::string extra_bytes_of(const InputDescription& d) {
    const std::vector<const RecordInfo*> found = records_of(d, is_extra_bytes);
    if (found.empty()) return "none";
    std::string text;
    for (const RecordInfo* r : found) {
        if (!text.empty()) text += " and ";
        text += std::to_string(r->payload.length);
        text += " bytes";
    }
    return text;
}

}  // namespace

const char* name_of(Field field) {
    switch (field) {
        case Field::Version:
            return "Version";
        case Field::Compression:
            return "Compression";
        case Field::PointFormat:
            return "Point format";
        case Field::RecordLength:
            return "Record length";
        case Field::XScaleFactor:
            return "XScaleFactor";
        case Field::YScaleFactor:
            return "YScaleFactor";
        case Field::ZScaleFactor:
            return "ZScaleFactor";
        case Field::XOffset:
            return "XOffset";
        case Field::YOffset:
            return "YOffset";
        case Field::ZOffset:
            return "ZOffset";
        case Field::GpsTime:
            return "GPS time";
        case Field::LaszipCompressor:
            return "LASzip compressor";
        case Field::LaszipCoder:
            return "LASzip coder";
        case Field::LaszipOptions:
            return "LASzip options";
        case Field::LaszipItems:
            return "LASzip items";
        case Field::ExtraBytes:
            return "Extra Bytes record";
    }
    return "";
}

std::string text_of(double value) {
    char buf[40];
    // At least as many digits as the whole part has, so that 500000 does not read 5e+05.
    int digits = 1;
    for (double whole = std::fabs(value); whole >= 10 && digits < 17; whole /= 10) ++digits;
    for (int precision = digits; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, value);
        if (std::strtod(buf, nullptr) == value) break;
    }
    return buf;
}

std::vector<Difference> differences(const InputDescription& a, const InputDescription& b) {
    std::vector<Difference> found;
    auto differ = [&](Field field, std::string value, std::string first_value) {
        found.push_back({field, std::move(value), std::move(first_value)});
    };
    auto number = [](auto v) { return std::to_string(v); };
    if (a.minor != b.minor) differ(Field::Version, version_of(b), version_of(a));
    if (a.compressed != b.compressed)
        differ(Field::Compression, b.compressed ? "LAZ" : "none", a.compressed ? "LAZ" : "none");
    if (a.format != b.format) differ(Field::PointFormat, number(b.format), number(a.format));
    if (a.record_length != b.record_length)
        differ(Field::RecordLength, number(b.record_length), number(a.record_length));
    // The fields are read from the header's bytes: the packed header holds them unaligned.
    constexpr Field kScales[] = {Field::XScaleFactor, Field::YScaleFactor, Field::ZScaleFactor};
    constexpr Field kOffsets[] = {Field::XOffset, Field::YOffset, Field::ZOffset};
    for (const auto& [fields, place] :
         {std::pair{kScales, header::kScale}, std::pair{kOffsets, header::kOffset}}) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const double va =
                korvane::read_field(std::span<const std::byte>(a.header), place, axis);
            const double vb =
                korvane::read_field(std::span<const std::byte>(b.header), place, axis);
            if (va != vb) differ(fields[axis], text_of(vb), text_of(va));
        }
    }
    if (gps_time_of(a) != gps_time_of(b)) differ(Field::GpsTime, gps_time_of(b), gps_time_of(a));
    if (a.laszip && b.laszip) {
        const korvane::laz::LaszipRecord& za = a.laszip->record;
        const korvane::laz::LaszipRecord& zb = b.laszip->record;
        if (za.compressor != zb.compressor)
            differ(Field::LaszipCompressor, number(zb.compressor), number(za.compressor));
        if (za.coder != zb.coder) differ(Field::LaszipCoder, number(zb.coder), number(za.coder));
        if (za.options != zb.options)
            differ(Field::LaszipOptions, number(zb.options), number(za.options));
        if (za.items != zb.items) differ(Field::LaszipItems, items_of(zb), items_of(za));
    }
    if (!same_records(a, b, is_extra_bytes)) {
        const std::string vb = extra_bytes_of(b), va = extra_bytes_of(a);
        std::string value = vb;
        if (vb == va) value += " of other content";
        differ(Field::ExtraBytes, value, va);
    }
    return found;
}

bool same_crs_records(const InputDescription& a, const InputDescription& b) {
    return same_records(a, b, is_crs);
}

}  // namespace quillet
