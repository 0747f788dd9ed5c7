#include "platform/display_scale.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

namespace korvel {

float ParseXftDpi(const std::string& resources) {
    std::string_view rest(resources);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);

        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view name = line.substr(0, colon);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
        while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
        if (name != "Xft.dpi") continue;

        // strtof stops at the line's end because the value is copied out.
        const std::string value(line.substr(colon + 1));
        char* parsed_end = nullptr;
        const float dpi = std::strtof(value.c_str(), &parsed_end);
        if (parsed_end == value.c_str()) return 0.0f;
        return std::isfinite(dpi) ? dpi : 0.0f;
    }
    return 0.0f;
}

float UiScaleFromDpi(float dpi) {
    if (!(dpi > 0.0f) || !std::isfinite(dpi)) return 1.0f;
    return dpi / 96.0f;
}

}  // namespace korvel
