// A message of the merge as a value: readers and checks return it, one printer writes it. Texts
// are formatted where they arise, from printf formats the compiler checks.
#pragma once

#include <cstdio>
#include <string>

namespace quillet {

struct Message {
    std::string text;
};

// The message that `format` gives with `args`.
Message say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes a message where the merge's output goes. The only place that prints one.
void print(std::FILE* out, const Message& message);

}  // namespace quillet
