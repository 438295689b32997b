// A 64-bit digest of bytes (FNV-1a), by which a description remembers records and stretches of a
// file without holding them: two stretches with the same digest hold the same bytes (but for a
// chance of 2^-64), and a stretch rewritten between the checks and the copy is noticed.
#pragma once

#include <cstdint>
#include <span>

namespace quillet {

class ContentDigest {
  public:
    void add(std::span<const std::byte> bytes) {
        for (const std::byte b : bytes) {
            value_ ^= static_cast<std::uint64_t>(b);
            value_ *= 0x100000001b3ull;
        }
    }
    std::uint64_t value() const { return value_; }

  private:
    std::uint64_t value_ = 0xcbf29ce484222325ull;
};

}  // namespace quillet
