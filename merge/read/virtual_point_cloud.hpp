// A virtual point cloud (*.vpc, as QGIS and its point cloud tools write it): a STAC
// FeatureCollection in JSON whose features' assets.data.href name the point cloud files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/status.hpp"

namespace quillet {

// Whether `name` ends in `extension` (".vpc"), in any case.
bool has_extension(std::string_view name, std::string_view extension);

// Whether a name is that of a virtual point cloud: it ends in ".vpc", in any case.
inline bool is_virtual_point_cloud(std::string_view name) {
    return has_extension(name, ".vpc");
}

// The files of the virtual point cloud `name` whose text is `text`, in its features' order: each
// href relative to the directory of `name` unless it is absolute. The refusal when the text is
// not JSON (with the parser's position), when it is not a FeatureCollection whose features each
// have an href, when it lists no file, or when an href is a URL (remote files are not read).
Result<std::vector<std::string>> virtual_point_cloud_files(const std::string& name,
                                                           const std::string& text);

}  // namespace quillet
