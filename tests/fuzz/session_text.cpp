// Session texts come from other machines and older Pro Tools versions, in
// UTF-8 or Mac Roman: no bytes may crash the marker reader, and nothing it
// stores may be invalid UTF-8 or unterminated. The first line is also typed
// into a timecode field.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "picture/markers.h"
#include "picture/timecode.h"
#include "project/fixed_text.h"

namespace {

template <std::size_t N>
void CheckField(const char (&field)[N]) {
    if (std::memchr(field, 0, N) == nullptr) std::abort();
    if (!korvel::IsValidUtf8(korvel::TextOf(field))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    static const std::vector<std::string> recipes = {"Whoosh Big", "Door"};
    std::vector<korvel::MarkerEvent> markers;
    std::vector<korvel::MarkerScene> scenes;
    korvel::ReadProToolsMarkerText(bytes, 24.0f, markers, &scenes, recipes);
    for (const korvel::MarkerEvent& marker : markers) {
        CheckField(marker.name);
        CheckField(marker.keywords);
        CheckField(marker.recipeName);
        if (marker.kind != 0 && marker.kind != 1) std::abort();
        if (!(marker.time >= 0.0f && marker.time <= 86400.0f)) std::abort();  // from the session start, within a day
    }
    for (const korvel::MarkerScene& scene : scenes) {
        CheckField(scene.name);
        CheckField(scene.text);
        if (!(scene.time >= 0.0f)) std::abort();
    }

    const std::string_view firstLine = bytes.substr(0, bytes.find('\n'));
    for (const float fps : {23.976f, 25.0f, 59.94f, 12.5f, 0.0f, 0.3f}) {
        const float seconds = korvel::ParseTimecode(fps, firstLine);
        if (seconds != -1.0f && !(seconds >= 0.0f && seconds < 1.0e6f)) std::abort();
        char text[32];
        const int length = korvel::FormatTimecode(fps, seconds, text, sizeof text);
        if (length < 11 || static_cast<std::size_t>(length) >= sizeof text) std::abort();
        // Below a day every formatted text reads back to itself.
        char again[32];
        korvel::FormatTimecode(fps, korvel::ParseTimecode(fps, text), again, sizeof again);
        if (seconds >= 0.0f && std::strcmp(text, again) != 0) std::abort();
    }
    return 0;
}
