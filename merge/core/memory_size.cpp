#include "core/memory_size.hpp"

#include <cctype>
#include <limits>

namespace quillet {

std::optional<std::uint64_t> memory_size_of(std::string_view text) {
    int shift = 0;
    if (!text.empty()) {
        switch (std::toupper(static_cast<unsigned char>(text.back()))) {
            case 'K':
                shift = 10;
                break;
            case 'M':
                shift = 20;
                break;
            case 'G':
                shift = 30;
                break;
            default:
                break;
        }
        if (shift != 0) text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::uint64_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (n > std::numeric_limits<std::uint64_t>::max() >> shift) return std::nullopt;
    n <<= shift;
    if (n < kLeastMemory) return std::nullopt;
    return n;
}

std::string memory_size_refusal(std::string_view text) {
    std::string line = "The memory must be at least 64M, in bytes or with K, M or G, not ";
    line += text;
    return line;
}

}  // namespace quillet
