#pragma once
// Fixed-size, NUL-terminated UTF-8 text fields of the project records.
#include <cstddef>
#include <cstring>
#include <string_view>

namespace korvel {

// Copies `text` into `buffer`, cutting it to the buffer's size less one so
// that the field always stays terminated.
template <std::size_t N>
void CopyText(char (&buffer)[N], std::string_view text) {
    static_assert(N > 0);
    const std::size_t count = text.size() < N - 1 ? text.size() : N - 1;
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
