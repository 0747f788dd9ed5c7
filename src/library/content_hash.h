#pragma once
// The 64-bit content hash shared by file fingerprints and multi-mono group
// ids: FNV-1a with its own starting value, so these hashes never collide by
// construction with plain FNV-1a values computed elsewhere.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvel {

inline constexpr std::uint64_t kContentHashStart = 0x14650FB0739D0383ull;
inline constexpr std::uint64_t kContentHashPrime = 0x100000001B3ull;

// Folds `count` bytes into a running hash `h` (start with kContentHashStart).
inline std::uint64_t ContentHashFold(std::uint64_t h, const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < count; ++i) h = (h ^ bytes[i]) * kContentHashPrime;
    return h;
}

// 0 means "no hash" to every reader, so a real result of 0 is moved to 1.
inline constexpr std::uint64_t ContentHashFinish(std::uint64_t h) { return h == 0 ? 1 : h; }

// The finished hash of one byte string.
inline std::uint64_t ContentHash(std::string_view bytes) {
    return ContentHashFinish(ContentHashFold(kContentHashStart, bytes.data(), bytes.size()));
}

}  // namespace korvel
