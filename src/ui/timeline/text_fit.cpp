#include "ui/timeline/text_fit.h"

#include <algorithm>

namespace korvel {
namespace {

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::string Joined(std::string_view head, std::string_view tail) {
    std::string out;
    out.reserve(head.size() + 3 + tail.size());
    out.append(head);
    out.append(kEllipsis);
    out.append(tail);
    return out;
}

}  // namespace

std::size_t NextCharBoundary(std::string_view text, std::size_t at) {
    at = std::min(at, text.size());
    while (at < text.size() && IsContinuation(text[at])) ++at;
    return at;
}

std::size_t PreviousCharBoundary(std::string_view text, std::size_t at) {
    at = std::min(at, text.size());
    if (at == 0) return 0;
    --at;
    while (at > 0 && IsContinuation(text[at])) --at;
    return at;
}

std::string ShortenMiddle(std::string_view text, float maxWidth, const TextWidthFn& width) {
    if (width(text) <= maxWidth) return std::string(text);
    const std::size_t length = text.size();
    const std::size_t limit = std::min<std::size_t>(length / 2, 12);
    // The tail begins on a character; when its only character is longer
    // than the limit, that one character is kept whole.
    std::size_t tailStart = NextCharBoundary(text, length - limit);
    if (tailStart == length && length > 0) tailStart = PreviousCharBoundary(text, length);
    const std::string_view tail = text.substr(tailStart);
    if (tailStart < 2) return Joined({}, tail);
    std::size_t best = 0;
    for (std::size_t head = NextCharBoundary(text, 1); head < tailStart; head = NextCharBoundary(text, head + 1)) {
        if (width(Joined(text.substr(0, head), tail)) > maxWidth) break;
        best = head;
    }
    return Joined(text.substr(0, best), tail);
}

std::string ShortenEnd(std::string_view text, float maxWidth, std::size_t minBytes, const TextWidthFn& width) {
    std::string shown(text);
    std::size_t kept = text.size();  // bytes of `text` in front of the ellipsis
    while (width(shown) > maxWidth && shown.size() >= minBytes && kept > 0) {
        kept = PreviousCharBoundary(text, kept);
        shown = Joined(text.substr(0, kept), {});
    }
    return shown;
}

std::string FitPrefix(std::string_view text, const std::function<bool(std::string_view)>& fits) {
    if (text.empty() || fits(text)) return std::string(text);
    for (std::size_t n = PreviousCharBoundary(text, text.size()); n > 0; n = PreviousCharBoundary(text, n)) {
        std::string shown = Joined(text.substr(0, n), {});
        if (fits(shown)) return shown;
    }
    return Joined(text.substr(0, NextCharBoundary(text, 1)), {});
}

}  // namespace korvel
