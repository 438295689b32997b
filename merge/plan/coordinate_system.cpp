#include "plan/coordinate_system.hpp"

#include <proj.h>
#include <proj_experimental.h>

#include <algorithm>
#include <limits>

#include "las/public_header.hpp"
#include "las/variable_length_records.hpp"
#include "plan/input_differences.hpp"

namespace quillet {
namespace {

// The kept payload of a file's first coordinate system record of `id`, VLRs before EVLRs.
const RecordInfo* crs_record(const InputDescription& d, std::uint16_t id) {
    for (const auto* list : {&d.vlrs, &d.evlrs})
        for (const RecordInfo& r : *list)
            if (r.user_id == korvane::kProjectionUserId && r.record_id == id && !r.kept.empty())
                return &r;
    return nullptr;
}

bool has_record(const InputDescription& d, std::uint16_t id) {
    for (const auto* list : {&d.vlrs, &d.evlrs})
        for (const RecordInfo& r : *list)
            if (r.user_id == korvane::kProjectionUserId && r.record_id == id) return true;
    return false;
}

bool has_crs_records(const InputDescription& d) {
    for (const auto* list : {&d.vlrs, &d.evlrs})
        for (const RecordInfo& r : *list)
            if (korvane::is_crs_record(r.user_id, r.record_id)) return true;
    return false;
}

// A WKT record's text: up to its first zero byte, without the blanks around it.
std::string wkt_text(const RecordInfo& r) {
    std::string text;
    for (const std::byte b : r.kept) {
        if (b == std::byte{0}) break;
        text += static_cast<char>(b);
    }
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.back())) text.pop_back();
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
    return text;
}

std::optional<korvane::EpsgCodes> codes_of(const InputDescription& d) {
    const RecordInfo* keys = crs_record(d, korvane::kGeoKeyDirectoryId);
    if (keys == nullptr) return std::nullopt;
    const std::optional<std::vector<korvane::GeoKey>> read = korvane::read_geo_keys(keys->kept);
    if (!read) return std::nullopt;
    return korvane::epsg_codes(*read);
}

std::string code_text(std::uint16_t code) {
    std::string text = "EPSG:";
    text += std::to_string(code);
    return text;
}

// What the plan says a WKT comes from.
std::string record_source(const InputDescription& d) {
    std::string text = "the WKT record of ";
    text += d.name;
    return text;
}
std::string codes_source(const korvane::EpsgCodes& codes) {
    std::string text = "the WKT that PROJ gives ";
    text += code_text(codes.horizontal);
    if (codes.vertical != 0) {
        text += " + ";
        text += code_text(codes.vertical);
    }
    return text;
}

void silent(void* /*data*/, int /*level*/, const char* /*text*/) {}

// A WKT record's payload: the text and the zero byte that ends it.
std::vector<std::byte> wkt_payload(const std::string& text) {
    std::vector<std::byte> payload(text.size() + 1);
    std::transform(text.begin(), text.end(), payload.begin(),
                   [](char c) { return static_cast<std::byte>(c); });
    return payload;
}

}  // namespace

StatedSystem stated_system(const InputDescription& d) {
    if (!has_crs_records(d)) return NoSystem{};
    std::string wkt;
    if (const RecordInfo* r = crs_record(d, korvane::kWktRecordId)) wkt = wkt_text(*r);
    if (!wkt.empty() && (d.base.GlobalEncoding & korvane::kCrsIsWkt) != 0) return WktSystem{wkt};
    if (const std::optional<korvane::EpsgCodes> codes = codes_of(d)) return KeysSystem{*codes};
    if (!wkt.empty()) return WktSystem{wkt};
    return OnlyBytes{};
}

void ProjSession::Deleter::operator()(PJconsts* pj) const {
    proj_destroy(pj);
}

void ProjSession::ContextDeleter::operator()(pj_ctx* c) const {
    proj_context_destroy(c);
}

ProjSession::ProjSession() = default;
ProjSession::~ProjSession() = default;

pj_ctx* ProjSession::context() {
    if (!context_) {
        context_.reset(proj_context_create());
        proj_log_func(context_.get(), nullptr, silent);
    }
    return context_.get();
}

ProjSession::Object ProjSession::from_database(std::uint16_t code) {
    const std::string text = std::to_string(code);
    return Object(
        proj_create_from_database(context(), "EPSG", text.c_str(), PJ_CATEGORY_CRS, 0, nullptr));
}

ProjSession::Object ProjSession::from_codes(const korvane::EpsgCodes& codes) {
    Object horizontal = from_database(codes.horizontal);
    if (!horizontal) return nullptr;
    const PJ_TYPE type = proj_get_type(horizontal.get());
    if (type != PJ_TYPE_PROJECTED_CRS && type != PJ_TYPE_GEOGRAPHIC_2D_CRS) return nullptr;
    if (codes.vertical == 0) return horizontal;

    Object vertical = from_database(codes.vertical);
    if (!vertical || proj_get_type(vertical.get()) != PJ_TYPE_VERTICAL_CRS) return nullptr;
    if (codes.vertical_unit != 0) {
        // Heights in another unit than the vertical system's own: the system with that unit.
        const std::string unit = std::to_string(codes.vertical_unit);
        const Object cs(proj_crs_get_coordinate_system(context(), vertical.get()));
        const char* own = nullptr;
        if (!cs || !proj_cs_get_axis_info(context(), cs.get(), 0, nullptr, nullptr, nullptr,
                                          nullptr, nullptr, nullptr, &own))
            return nullptr;
        if (own == nullptr || unit != own) {
            const char* name = nullptr;
            const char* category = nullptr;
            double factor = 0;
            if (!proj_uom_get_info_from_database(context(), "EPSG", unit.c_str(), &name, &factor,
                                                 &category) ||
                category == nullptr || std::string_view(category) != "linear")
                return nullptr;
            vertical.reset(proj_crs_alter_cs_linear_unit(context(), vertical.get(), name, factor,
                                                         "EPSG", unit.c_str()));
            if (!vertical) return nullptr;
        }
    }
    std::string name = proj_get_name(horizontal.get());
    name += " + ";
    name += proj_get_name(vertical.get());
    return Object(
        proj_create_compound_crs(context(), name.c_str(), horizontal.get(), vertical.get()));
}

const PJconsts* ProjSession::from_wkt(const std::string& wkt) {
    auto it = parsed_.find(wkt);
    if (it == parsed_.end()) {
        PROJ_STRING_LIST warnings = nullptr;
        PROJ_STRING_LIST errors = nullptr;
        Object pj(proj_create_from_wkt(context(), wkt.c_str(), nullptr, &warnings, &errors));
        proj_string_list_destroy(warnings);
        proj_string_list_destroy(errors);
        if (pj && !proj_is_crs(pj.get())) pj.reset();
        it = parsed_.emplace(wkt, std::move(pj)).first;
    }
    return it->second.get();
}

bool ProjSession::equivalent(const PJconsts* a, const PJconsts* b) {
    return a != nullptr && b != nullptr &&
           proj_is_equivalent_to_with_ctx(context(), a, b,
                                          PJ_COMP_EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS) != 0;
}

bool ProjSession::same_system(const InputDescription& a, const InputDescription& b) {
    if (same_crs_records(a, b)) return true;
    const StatedSystem sa = stated_system(a);
    const StatedSystem sb = stated_system(b);
    const auto* ka = std::get_if<KeysSystem>(&sa);
    const auto* kb = std::get_if<KeysSystem>(&sb);
    const auto* wa = std::get_if<WktSystem>(&sa);
    const auto* wb = std::get_if<WktSystem>(&sb);
    if (ka != nullptr && kb != nullptr) return ka->codes == kb->codes;
    if (wa != nullptr && wb != nullptr) return equivalent(from_wkt(wa->text), from_wkt(wb->text));
    if (wa != nullptr && kb != nullptr) return wkt_states(wa->text, kb->codes);
    if (ka != nullptr && wb != nullptr) return wkt_states(wb->text, ka->codes);
    return false;  // no records, or records that only compare as bytes, and these differ
}

std::optional<std::string> ProjSession::wkt_of(const korvane::EpsgCodes& codes) {
    const Object pj = from_codes(codes);
    if (!pj) return std::nullopt;
    const char* const options[] = {"MULTILINE=NO", nullptr};
    const char* wkt = proj_as_wkt(context(), pj.get(), PJ_WKT1_GDAL, options);
    if (wkt == nullptr) return std::nullopt;
    return std::string(wkt);
}

bool ProjSession::wkt_states(const std::string& wkt, const korvane::EpsgCodes& codes) {
    const Object pj = from_codes(codes);
    return equivalent(from_wkt(wkt), pj.get());
}

OutputCrs decide_output_crs(std::span<const InputDescription> inputs, std::uint8_t format) {
    OutputCrs out;
    if (inputs.empty() || format < 6) return out;
    // Only a first file of formats 0-5 that states its system as GeoTIFF keys changes.
    const InputDescription& first = inputs.front();
    if (first.format >= 6 || !has_record(first, korvane::kGeoKeyDirectoryId)) return out;
    // A WKT record that a VLR can hold: its text and a closing zero byte.
    const auto take = [&out](const std::string& text, const std::string& source) {
        if (text.empty() || text.size() >= std::numeric_limits<std::uint16_t>::max()) return false;
        out.wkt = wkt_payload(text);
        out.source = source;
        return true;
    };
    const StatedSystem stated = stated_system(first);
    if (const auto* wkt = std::get_if<WktSystem>(&stated)) {
        if (take(wkt->text, record_source(first))) return out;
    } else if (const auto* keys = std::get_if<KeysSystem>(&stated)) {
        ProjSession proj;
        for (const InputDescription& d : inputs) {
            const RecordInfo* r = crs_record(d, korvane::kWktRecordId);
            if (r == nullptr) continue;
            const std::string text = wkt_text(*r);
            if (proj.wkt_states(text, keys->codes) && take(text, record_source(d))) return out;
        }
        const std::optional<std::string> built = proj.wkt_of(keys->codes);
        if (built && take(*built, codes_source(keys->codes))) return out;
    }
    out.keys_kept = true;
    return out;
}

}  // namespace quillet
