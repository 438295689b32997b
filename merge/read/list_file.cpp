#include "read/list_file.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "core/status.hpp"
#include "unique_fd.hpp"

namespace quillet {
namespace {

// A name and its terminating zero byte must fit the system's path limit.
constexpr std::size_t kLongestName = PATH_MAX - 1;

bool is_blank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

Result<std::vector<std::string>> read_list(const std::string& listName, korvane::FileSystem& fs) {
    auto cannot_open = [&] {
        return bad_input(say("\nCannot open input ASCII file %s for reading\n", listName.c_str()));
    };
    korvane::UniqueFd owned;
    int fd = STDIN_FILENO;  // not ours to close
    if (!is_standard_input(listName)) {
        owned = korvane::UniqueFd(fs, fs.open(listName.c_str(), O_RDONLY | O_CLOEXEC, 0));
        if (!owned.valid()) return cannot_open();
        struct stat st {};
        if (fs.fstat(owned.get(), &st) != 0 || S_ISDIR(st.st_mode)) return cannot_open();
        fd = owned.get();
    }

    std::vector<std::string> names;
    std::string name;
    std::array<char, 65536> chunk;
    for (;;) {
        const ssize_t got = fs.read(fd, chunk.data(), chunk.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return io_error(say("\nCannot read input ASCII file %s: %s\n", listName.c_str(),
                                std::strerror(errno)));
        }
        if (got == 0) break;
        for (const char c : std::string_view(chunk.data(), static_cast<std::size_t>(got))) {
            if (c == '\0') {
                return bad_input(say("\n%s holds zero bytes: it is not a text list of names\n",
                                     listName.c_str()));
            }
            if (!is_blank(c)) {
                if (name.size() == kLongestName) {
                    return bad_input(
                        say("\nA name listed in %s is longer than %zu characters: "
                            "%.60s...\n",
                            listName.c_str(), kLongestName, name.c_str()));
                }
                name.push_back(c);
            } else if (!name.empty()) {
                names.push_back(std::move(name));
                name.clear();
            }
        }
    }
    if (!name.empty()) names.push_back(std::move(name));
    return names;
}

}  // namespace quillet
