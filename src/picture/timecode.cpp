#include "picture/timecode.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace korvel {
namespace {

constexpr long long kFieldLimit = 1000000000;  // clamp for a read number
constexpr std::int64_t kMaxHours = 999999;      // a formatted time stops here

// The rate the texts use: a rate not above 0 (or not a number) reads as 25,
// the project's rule; absurdly high rates are held where the frame count
// still fits its integer.
double UsableRate(float fps) {
    return std::min(static_cast<double>(ProjectFrameRate(fps)), 1000000.0);
}

// Frames per timecode second: the nominal rate, at least 1 so that rates
// below 1 fps never divide by zero.
std::int64_t NominalRate(double rate) {
    return std::max<std::int64_t>(1, std::llround(rate));
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

float ProjectFrameRate(float fps) { return fps > 0.0f && std::isfinite(fps) ? fps : 25.0f; }

int ReadColonIntegers(std::string_view text, long long* values, int maxCount) {
    std::size_t at = 0;
    int count = 0;
    while (count < maxCount) {
        if (count > 0) {
            if (at >= text.size() || text[at] != ':') break;
            ++at;
        }
        while (at < text.size() && IsBlank(text[at])) ++at;
        bool negative = false;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
            negative = text[at] == '-';
            ++at;
        }
        const std::size_t digitsStart = at;
        long long value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            value = std::min(kFieldLimit, value * 10 + (text[at] - '0'));
            ++at;
        }
        if (at == digitsStart) break;
        values[count++] = negative ? -value : value;
    }
    return count;
}

int FormatTimecode(float fps, float seconds, char* buffer, std::size_t size) {
    const double rate = UsableRate(fps);
    const std::int64_t nominal = NominalRate(rate);
    const std::int64_t maxCount = nominal * 3600 * (kMaxHours + 1) - 1;
    const double exact = std::floor(rate * static_cast<double>(seconds) + 0.5);
    std::int64_t count = 0;  // negative times and NaN print as zero
    if (exact >= static_cast<double>(maxCount)) {
        count = maxCount;
    } else if (exact >= 1.0) {
        count = static_cast<std::int64_t>(exact);
    }
    const auto frames = static_cast<int>(count % nominal);
    const auto secs = static_cast<int>((count / nominal) % 60);
    const auto minutes = static_cast<int>((count / (nominal * 60)) % 60);
    const auto hours = static_cast<int>(count / (nominal * 3600));
    if (buffer == nullptr) size = 0;
    return std::snprintf(buffer, size, "%02d:%02d:%02d:%02d", hours, minutes, secs, frames);
}

float ParseTimecode(float fps, std::string_view text) {
    long long fields[4] = {0, 0, 0, 0};
    if (ReadColonIntegers(text, fields, 4) < 3) return -1.0f;
    const double rate = UsableRate(fps);
    const std::int64_t nominal = NominalRate(rate);
    const std::int64_t hours = std::clamp<long long>(fields[0], 0, 23);
    const std::int64_t minutes = std::clamp<long long>(fields[1], 0, 59);
    const std::int64_t secs = std::clamp<long long>(fields[2], 0, 59);
    const std::int64_t frames = std::clamp<long long>(fields[3], 0, nominal - 1);
    const std::int64_t wholeSeconds = hours * 3600 + minutes * 60 + secs;
    // At a whole rate the count divided by the rate is exactly the seconds
    // plus the frame fraction; at 23.976 it is the real time of that frame.
    if (static_cast<double>(nominal) == rate) {
        return static_cast<float>(static_cast<double>(wholeSeconds) + static_cast<double>(frames) / rate);
    }
    return static_cast<float>(static_cast<double>(wholeSeconds * nominal + frames) / rate);
}

}  // namespace korvel
