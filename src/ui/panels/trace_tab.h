#pragma once
// The trace tab: where the picture is read and its suggestions, with the
// markers imported from a Pro Tools session text, become events. Its four
// states (intro, reading, nothing found, review), the source pills, the
// count, the recipe the imported events should sound like with its preview,
// and the import button. The decisions and the imports themselves are in
// trace_import.h; the suggestions are reviewed on the timeline
// (ui/timeline/trace_view.h). UI thread only.

struct ImDrawList;

namespace korvel {

struct UILayout;

// Where the intro's title, button (centred, one frame high) and link line
// (centred) sit in the tab's child window.
struct TraceIntroGeometry {
    float titleY = 0.0f;
    float buttonY = 0.0f;
    float buttonWidth = 0.0f;
    float linkY = 0.0f;
};
TraceIntroGeometry LayOutTraceIntro(float width, float height, float lineSpacing, float frameHeight);

// Where the review state's rows sit in the tab's child window (its top-left
// at 0, 0) for a panel `width` × `height` and the current font's metrics.
struct TraceReviewGeometry {
    float margin = 16.0f;
    float pillsY = 34.0f;
    float pillWidth = 0.0f;
    float pillHeight = 0.0f;
    float countY = 0.0f;
    float countHeight = 0.0f;
    float recipeLabelY = 0.0f;
    float comboY = 0.0f;
    float comboWidth = 200.0f;
    float previewX = 0.0f;  // the square preview button, one frame high
    float separatorY = 0.0f;
    float importY = 0.0f;
    float frameHeight = 0.0f;
};
TraceReviewGeometry LayOutTraceReview(float width, float height, float lineHeight, float lineSpacing,
                                      float frameHeight);

// Runs the tab's per-frame steps, then draws it into a child window of the
// panel's size.
void DrawTraceTab(ImDrawList* drawList, const UILayout& layout);

}  // namespace korvel
