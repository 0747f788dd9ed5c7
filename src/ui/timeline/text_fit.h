#pragma once
// Texts cut to fit a width in the events tab: file names shortened in the
// middle or at the end, and a description cut to a few lines. Every cut
// falls between UTF-8 characters, so a non-ASCII name never shows half a
// character. The measure is passed in, so the rules hold apart from the
// font. Any thread; no UI library calls.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace korvel {

inline constexpr const char* kEllipsis = "\xe2\x80\xa6";  // U+2026

// The width a text takes when drawn (pixels).
using TextWidthFn = std::function<float(std::string_view)>;

// The byte index of the character boundary at or after `at` (text size at
// most), and the one before `at` (0 at least).
std::size_t NextCharBoundary(std::string_view text, std::size_t at);
std::size_t PreviousCharBoundary(std::string_view text, std::size_t at);

// `text` when it fits `maxWidth`; otherwise its end (at most its last 12
// bytes, at most half of it) kept behind an ellipsis, with the longest head
// in front that still fits ("…tail" when none does, or when fewer than two
// bytes stand before the tail).
std::string ShortenMiddle(std::string_view text, float maxWidth, const TextWidthFn& width);

// Drops one character at a time from the end, followed by an ellipsis,
// while the text is wider than `maxWidth` and at least `minBytes` long.
std::string ShortenEnd(std::string_view text, float maxWidth, std::size_t minBytes, const TextWidthFn& width);

// `text` when fits(text); otherwise the longest prefix of whole characters
// (one at least) that fits with an ellipsis behind it.
std::string FitPrefix(std::string_view text, const std::function<bool(std::string_view)>& fits);

}  // namespace korvel
