#include "read/virtual_point_cloud.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <nlohmann/json.hpp>

namespace quillet {
namespace {

using nlohmann::json;

// Whether an href is a URL: a scheme of two or more letters, digits, '+', '-' or '.' that starts
// with a letter, then ':'. Local names (relative or absolute) have none.
bool is_url(std::string_view href) {
    const std::size_t colon = href.find(':');
    if (colon == std::string_view::npos || colon < 2) return false;
    if (std::isalpha(static_cast<unsigned char>(href[0])) == 0) return false;
    return std::all_of(href.begin(), href.begin() + static_cast<long>(colon), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
    });
}

// The parser's message without its exception's label ("[json.exception.parse_error.101] ").
std::string parser_message(const json::parse_error& e) {
    std::string text = e.what();
    const std::size_t label = text.find("] ");
    if (text.starts_with("[json.exception") && label != std::string::npos) text.erase(0, label + 2);
    return text;
}

}  // namespace

bool has_extension(std::string_view name, std::string_view extension) {
    if (name.size() < extension.size()) return false;
    const std::string_view end = name.substr(name.size() - extension.size());
    return std::equal(end.begin(), end.end(), extension.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

Result<std::vector<std::string>> virtual_point_cloud_files(const std::string& name,
                                                           const std::string& text) {
    json document;
    try {
        document = json::parse(text);
    } catch (const json::parse_error& e) {
        const std::string why = parser_message(e);
        return bad_input(say("\n%s is not valid JSON: %s\n", name.c_str(), why.c_str()));
    }
    const auto not_a_cloud = [&name](const std::string& why) {
        return bad_input(say("\n%s is not a virtual point cloud: %s\n", name.c_str(), why.c_str()));
    };
    if (!document.is_object() || document.value("type", json()) != "FeatureCollection")
        return not_a_cloud("it is not a STAC FeatureCollection");
    const json features = document.value("features", json());
    if (!features.is_array()) return not_a_cloud("it has no features");

    const std::filesystem::path folder = std::filesystem::path(name).parent_path();
    std::vector<std::string> files;
    for (std::size_t i = 0; i < features.size(); ++i) {
        const json* href = nullptr;
        const json& f = features[i];
        if (f.is_object() && f.contains("assets") && f["assets"].is_object() &&
            f["assets"].contains("data") && f["assets"]["data"].is_object() &&
            f["assets"]["data"].contains("href") && f["assets"]["data"]["href"].is_string())
            href = &f["assets"]["data"]["href"];
        if (href == nullptr) {
            std::string why = "feature ";
            why += std::to_string(i + 1);
            why += " has no assets.data.href";
            return not_a_cloud(why);
        }
        const std::string& path = href->get_ref<const std::string&>();
        if (is_url(path))
            return invalid_request(
                say("\n%s names %s, a remote file: Quillet reads only local "
                    "files\n",
                    name.c_str(), path.c_str()));
        const std::filesystem::path p(path);
        files.push_back(p.is_absolute() || folder.empty()
                            ? p.lexically_normal().string()
                            : (folder / p).lexically_normal().string());
    }
    if (files.empty()) return bad_input(say("\n%s lists no point cloud files\n", name.c_str()));
    return files;
}

}  // namespace quillet
