#pragma once
// A 128-bit digest made of two unrelated 64-bit hashes (the standard library's
// and FNV-1a). Neither is cryptographic; together an accidental collision
// among the few million texts a cache ever holds is out of reach, which is
// all the tool runs need: a repository that forges a collision only fools its
// own verdict.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quarrix::probes::detail {

struct Digest128 {
  std::uint64_t first = 0;
  std::uint64_t second = 0;
  auto operator<=>(const Digest128&) const = default;

  // 16 bytes, first half first, each little-endian.
  std::string bytes() const {
    std::string out(16, '\0');
    for (int i = 0; i < 8; ++i) {
      out[i] = static_cast<char>(first >> (8 * i));
      out[8 + i] = static_cast<char>(second >> (8 * i));
    }
    return out;
  }
};

inline Digest128 digest128(std::string_view text) {
  std::uint64_t fnv = 14695981039346656037ull;
  for (unsigned char c : text) {
    fnv ^= c;
    fnv *= 1099511628211ull;
  }
  return {std::hash<std::string_view>()(text), fnv};
}

}  // namespace quarrix::probes::detail
