// The inputs' coordinate systems read as systems, not as record bytes: GeoTIFF keys through the
// EPSG codes they name, WKT through PROJ, so that a file stating its system as GeoTIFF keys and
// one stating the same system as WKT agree. And the WKT that a merged file of point format 6-10
// carries when its first file states its system as GeoTIFF keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "las/geotiff_keys.hpp"
#include "read/input_description.hpp"

struct pj_ctx;
struct PJconsts;

namespace quillet {

// What a file's coordinate system records state, as the merge reads them:
struct NoSystem {};  // no coordinate system records at all
struct KeysSystem {  // GeoTIFF keys that name EPSG codes
    korvane::EpsgCodes codes;
};
struct WktSystem {  // an OGC WKT record (the one LAS 1.4 reads when the WKT bit is set)
    std::string text;
};
struct OnlyBytes {};  // records that name no EPSG code and hold no WKT: compared as bytes
using StatedSystem = std::variant<NoSystem, KeysSystem, WktSystem, OnlyBytes>;

// The system a file states: its WKT when the global encoding says WKT and it has a WKT record;
// otherwise its GeoTIFF keys when they name EPSG codes; otherwise a WKT record it holds beside
// keys that name none; otherwise its records as bytes.
StatedSystem stated_system(const InputDescription& d);

// A PROJ context of its own, made when first needed and silent (PROJ's complaints about a WKT it
// cannot read become "not a system it knows").
class ProjSession {
  public:
    ProjSession();
    ~ProjSession();  // NOLINT(performance-trivially-destructible): PROJ's types are opaque here
    ProjSession(const ProjSession&) = delete;
    ProjSession& operator=(const ProjSession&) = delete;

    // Whether two files state one coordinate system: both without records; GeoTIFF keys that
    // name the same codes; WKT and keys or WKT that PROJ finds equivalent; else (records PROJ
    // cannot read, keys that name no code) the same records byte for byte.
    bool same_system(const InputDescription& a, const InputDescription& b);

    // OGC WKT 1 (as GDAL writes it, one line) of the system that `codes` name: a projected or
    // geographic system, compound with the vertical one when there is one, its heights in the
    // vertical unit the keys state. Nothing when PROJ does not know a code.
    std::optional<std::string> wkt_of(const korvane::EpsgCodes& codes);

    // Whether a WKT text states the system that `codes` name.
    bool wkt_states(const std::string& wkt, const korvane::EpsgCodes& codes);

  private:
    struct Deleter {
        void operator()(PJconsts* pj) const;
    };
    using Object = std::unique_ptr<PJconsts, Deleter>;
    struct ContextDeleter {
        void operator()(pj_ctx* c) const;
    };

    pj_ctx* context();
    Object from_codes(const korvane::EpsgCodes& codes);
    Object from_database(std::uint16_t code);
    // The system of a WKT text, parsed once per text; null when PROJ cannot read it.
    const PJconsts* from_wkt(const std::string& wkt);
    bool equivalent(const PJconsts* a, const PJconsts* b);

    std::unique_ptr<pj_ctx, ContextDeleter> context_;
    std::map<std::string, Object> parsed_;
};

// How the merged file states its coordinate system.
struct OutputCrs {
    // The payload of the WKT record (text and a closing zero byte) that takes the place of the
    // first file's GeoTIFF records; empty when the first file's records stay as they are.
    std::vector<std::byte> wkt;
    std::string source;  // where that WKT comes from, for the plan's line
    // The first file's GeoTIFF keys name no system PROJ knows: kept, though LAS 1.4 asks WKT.
    bool keys_kept = false;
};

// The coordinate system of a merge of `inputs` into point format `format`: the first file's,
// and when the format is 6-10 but the first file's is 0-5 and it states its system as GeoTIFF
// keys, WKT instead: the WKT record of the first input that states the same system, else the WKT
// that PROJ makes of the keys' EPSG codes, else (no code PROJ knows) the keys kept.
OutputCrs decide_output_crs(std::span<const InputDescription> inputs, std::uint8_t format);

}  // namespace quillet
