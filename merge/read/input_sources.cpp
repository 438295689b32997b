#include "read/input_sources.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "read/virtual_point_cloud.hpp"

namespace quillet {
namespace {

namespace fs = std::filesystem;

bool is_point_cloud_name(std::string_view name) {
    return has_extension(name, ".las") || has_extension(name, ".laz");
}

// A file's whole text, or nothing with errno set.
std::optional<std::string> text_of(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return text.str();
}

std::string text_of(std::FILE* f) {
    std::string text;
    char piece[65536];
    for (std::size_t n; (n = std::fread(piece, 1, sizeof piece, f)) > 0;) text.append(piece, n);
    return text;
}

// The LAS and LAZ files directly in a directory, in byte order of their names.
Result<std::vector<std::string>> directory_files(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code ignored;
        // status() follows symbolic links: a link to a file counts as the file.
        if (is_point_cloud_name(name) && fs::is_regular_file(it->status(ignored)))
            names.push_back(name);
    }
    if (error)
        return bad_input(
            say("\nCannot read the directory %s: %s\n", dir.c_str(), error.message().c_str()));
    if (names.empty())
        return invalid_request(
            say("\nThe directory %s holds no .las or .laz files\n", dir.c_str()));
    std::sort(names.begin(), names.end());
    const std::string prefix = dir.ends_with('/') ? dir : dir + "/";
    for (std::string& n : names) n.insert(0, prefix);
    return names;
}

// The files one INPUT names.
Result<std::vector<std::string>> files_of(const std::string& input) {
    std::error_code error;
    if (fs::is_directory(input, error)) return directory_files(input);
    if (is_virtual_point_cloud(input) && fs::is_regular_file(input, error)) {
        const std::optional<std::string> text = text_of(input);
        if (!text)
            return bad_input(say("\nCannot read %s: %s\n", input.c_str(), std::strerror(errno)));
        return virtual_point_cloud_files(input, *text);
    }
    return std::vector<std::string>{input};
}

// The refusal when two names reach one file (device and inode); names that do not exist are the
// merge's to judge.
Problem same_file_twice(const std::vector<std::string>& files) {
    struct Seen {
        dev_t device;
        ino_t inode;
        std::size_t at;
    };
    std::vector<Seen> seen;
    for (std::size_t i = 0; i < files.size(); ++i) {
        struct stat st {};
        if (::stat(files[i].c_str(), &st) != 0) continue;
        for (const Seen& s : seen)
            if (s.device == st.st_dev && s.inode == st.st_ino)
                return invalid_request(
                    say("\n%s and %s are the same file\n", files[s.at].c_str(), files[i].c_str()));
        seen.push_back({st.st_dev, st.st_ino, i});
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::string> input_list_names(std::string_view text) {
    std::vector<std::string> names;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos || line.starts_with('#'))
            continue;
        names.emplace_back(line);
    }
    return names;
}

Result<std::vector<std::string>> resolve_inputs(std::span<const InputArgument> arguments,
                                                std::FILE* standard_input) {
    std::vector<std::string> files;
    auto add = [&files](const std::string& input) -> Problem {
        Result<std::vector<std::string>> found = files_of(input);
        if (!found) return found.problem();
        files.insert(files.end(), found->begin(), found->end());
        return std::nullopt;
    };
    for (const InputArgument& a : arguments) {
        if (a.kind == InputArgument::Kind::Path) {
            if (Problem p = add(a.text)) return *p;
            continue;
        }
        std::optional<std::string> text;
        if (a.text == "-")
            text = text_of(standard_input);
        else
            text = text_of(a.text);
        if (!text)
            return bad_input(
                say("\nCannot read the input list %s: %s\n", a.text.c_str(), std::strerror(errno)));
        for (const std::string& name : input_list_names(*text))
            if (Problem p = add(name)) return *p;
    }
    if (Problem p = same_file_twice(files)) return *p;
    return files;
}

}  // namespace quillet
