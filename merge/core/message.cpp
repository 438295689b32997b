#include "core/message.hpp"

#include <cstdarg>
#include <vector>

namespace quillet {

Message say(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::vector<char> text(static_cast<std::size_t>(length < 0 ? 0 : length) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    return {std::string(text.data(), text.size() - 1)};
}

void print(std::FILE* out, const std::string& text) {
    std::fputs(text.c_str(), out);
}

}  // namespace quillet
