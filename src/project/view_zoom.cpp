// Zooming the timeline's view about a fixed point.
#include <algorithm>

#include "project/app_state.h"

namespace korvel {

namespace {
constexpr float kMinViewSpan = 0.5f;  // seconds
}

void AppState::ZoomViewAbout(float factor, float anchor, float duration) {
    // In curve draw mode the view stays about the drawn event.
    const bool drawBounds = curveDrawMode && drawSavedViewValid;
    const float range = drawRangeEnd - drawRangeStart;
    float largest = std::max(duration, kMinViewSpan);
    if (drawBounds && range > kMinViewSpan) largest = std::min(1.1f * range, largest);

    const float span = ViewSpan();
    const float wanted = span * factor;
    const float newSpan = wanted < kMinViewSpan ? kMinViewSpan : std::min(std::max(kMinViewSpan, largest), wanted);
    const float fraction = span > 0.0f ? (anchor - viewStart) / span : 0.5f;

    float start = anchor - newSpan * fraction;
    start = start < 0.0f ? 0.0f : std::min(start, std::max(0.0f, duration - newSpan));
    if (drawBounds) {
        const float margin = range * 0.05f;
        const float lo = std::max(0.0f, drawRangeStart - margin);
        const float hi = std::max(0.0f, drawRangeEnd - newSpan + margin);
        start = start < lo ? lo : std::min(start, std::max(lo, hi));
    }
    viewStart = start;
    viewEnd = start + newSpan;
}

}  // namespace korvel
