// A message of the merge as a value: stages return it, one printer writes it. Texts are
// formatted where they arise, from printf formats the compiler checks.
#pragma once

#include <cstdio>
#include <string>

namespace quillet {

struct Message {
    std::string text;
};

// The message that `format` gives with `args`.
Message say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes a message's text where the command line's output goes.
void print(std::FILE* out, const std::string& text);
inline void print(std::FILE* out, const Message& message) {
    print(out, message.text);
}

}  // namespace quillet
