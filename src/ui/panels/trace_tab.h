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

// Runs the tab's per-frame steps, then draws it into a child window of the
// panel's size.
void DrawTraceTab(ImDrawList* drawList, const UILayout& layout);

}  // namespace korvel
