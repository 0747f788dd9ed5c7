#pragma once
// Fixed-size, NUL-terminated UTF-8 text fields of the project records.
#include <cstddef>
#include <cstring>
#include <string_view>

namespace korvel {

// The longest prefix of `text` of at most `maxBytes` bytes that does not end
// inside a UTF-8 sequence: a cut field must never hold half a character.
inline std::size_t Utf8PrefixLength(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    std::size_t count = maxBytes;
    // Back up over continuation bytes to the start of the character that the
    // cut would split (at most three for a four-byte sequence).
    std::size_t backed = 0;
    while (count > 0 && backed < 3 && (static_cast<unsigned char>(text[count]) & 0xC0) == 0x80) {
        --count;
        ++backed;
    }
    // Not UTF-8 at all (a run of stray continuation bytes): cut by bytes.
    if ((static_cast<unsigned char>(text[count]) & 0xC0) == 0x80) return maxBytes;
    return count;
}

// Copies `text` into `buffer`, cut to the buffer's size less one (at a
// character boundary) so that the field always stays terminated.
template <std::size_t N>
void CopyText(char (&buffer)[N], std::string_view text) {
    static_assert(N > 0);
    const std::size_t count = Utf8PrefixLength(text, N - 1);
    if (count > 0) std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
}

// The text of a field, up to its terminator (or its full size if a writer
// left none).
template <std::size_t N>
std::string_view TextOf(const char (&buffer)[N]) {
    return std::string_view(buffer, strnlen(buffer, N));
}

}  // namespace korvel
