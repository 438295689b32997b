// The memory budget of a cloud optimised output: the memory its points may take, which the
// command line's --memory and the C interface's "memory" option state as bytes or with a K, M or
// G suffix (powers of 1024).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillet {

inline constexpr std::uint64_t kDefaultMemory = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kLeastMemory = std::uint64_t{64} << 20;

// The bytes that `text` states: decimal digits, then at most one of K, M, G (either case); at
// least kLeastMemory. Nothing when it states none.
std::optional<std::uint64_t> memory_size_of(std::string_view text);
// The line that refuses `text` as a memory size.
std::string memory_size_refusal(std::string_view text);

}  // namespace quillet
