#pragma once
// The events tab of the right-hand panel: the inspector column (one event's
// form, the placeholder) beside the events list. UI thread only.
#include <functional>

struct ImDrawList;

namespace korvel {

struct UILayout;

// The whole tab, every frame while tab 0 is active.
void DrawEventsTab(ImDrawList* drawList, const UILayout& layout);

// Layout of the inspector in its child, logical pixels.
struct InspectorMetrics {
    float width = 0.0f;    // W
    float height = 0.0f;   // H
    float padding = 0.0f;  // p
    float gap = 0.0f;      // g
    float contentWidth = 0.0f;
    float fontSize = 0.0f;  // the layout's F
};
InspectorMetrics ComputeInspectorMetrics(const UILayout& layout);

// The pitch-variation drags' format for a field whose text may be
// `textWidth` wide: "±%.0f semitones" while its widest value fits, else
// "±%.0f st", else "±%.0f". Widths come from `measure`.
const char* PitchVariationFormat(float textWidth, const std::function<float(const char*)>& measure);
// The same for a drag of `fieldWidth` in the current font and frame padding.
const char* PitchVariationFormat(float fieldWidth);

}  // namespace korvel
