#pragma once
// Typed reads of project-file members: a missing or mistyped member gives
// the default, clamps replace a value outside the range with the nearer
// bound. A number that is not finite counts as mistyped, so no reader hands
// on a NaN or an infinity it was not given a bound for.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "project/json.h"

namespace korvel {

inline float ReadJsonFloat(const JsonValue& value, float fallback) {
    if (value.type != JsonType::Number) return fallback;
    const float number = static_cast<float>(value.number);
    return std::isfinite(number) ? number : fallback;
}

inline float ReadJsonFloat(const JsonValue& value, float fallback, float low, float high) {
    if (value.type != JsonType::Number || std::isnan(value.number)) return fallback;
    return std::clamp(static_cast<float>(value.number), low, high);
}

inline std::int32_t ReadJsonInt(const JsonValue& value, std::int32_t fallback) { return value.AsInt(fallback); }

inline std::int32_t ReadJsonInt(const JsonValue& value, std::int32_t fallback, std::int32_t low, std::int32_t high) {
    return std::clamp(value.AsInt(fallback), low, high);
}

inline bool ReadJsonBool(const JsonValue& value, bool fallback) { return value.AsBool(fallback); }

// Empty for a member that is not a string.
inline std::string_view ReadJsonText(const JsonValue& value) {
    return value.type == JsonType::String ? std::string_view(value.string) : std::string_view();
}

}  // namespace korvel
