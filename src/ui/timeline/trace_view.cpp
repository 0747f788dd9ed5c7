// The trace view of the timeline.
//
// [SECTION] Helpers
// [SECTION] Provisional reading
// [SECTION] Analysis curves and the threshold line
// [SECTION] Suggestion and marker markers
// [SECTION] Box selection
// [SECTION] Context menu
// [SECTION] The step
#include "ui/timeline/trace_view.h"

#include <imgui.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <vector>

#include "app/frame/icon_glyphs.h"
#include "app/frame/style.h"
#include "app/theme.h"
#include "picture/markers.h"
#include "picture/trace_analysis.h"
#include "picture/video_player.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "ui/panels/trace_import.h"
#include "ui/timeline/event_kind_icons.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {

bool IsDetectionSelected(const AppState& state, std::int32_t index) {
    return std::find(state.selectedDetections.begin(), state.selectedDetections.end(), index) !=
           state.selectedDetections.end();
}

bool IsMarkerSelected(const AppState& state, std::int32_t index) {
    return std::find(state.selectedMarkers.begin(), state.selectedMarkers.end(), index) != state.selectedMarkers.end();
}

bool IsDetectionSelected(std::int32_t index) { return IsDetectionSelected(GlobalAppState, index); }
bool IsMarkerSelected(std::int32_t index) { return IsMarkerSelected(GlobalAppState, index); }

namespace {

template <typename OnDetection, typename OnMarker>
void ForEachTarget(AppState& state, OnDetection&& onDetection, OnMarker&& onMarker) {
    auto& events = state.traceAnalysis.events;
    for (std::int32_t i : state.traceMenuDetections) {
        if (i >= 0 && static_cast<std::size_t>(i) < events.size()) onDetection(events[static_cast<std::size_t>(i)]);
    }
    for (std::int32_t i : state.traceMenuMarkers) {
        if (i >= 0 && static_cast<std::size_t>(i) < state.markerEvents.size())
            onMarker(state.markerEvents[static_cast<std::size_t>(i)]);
    }
}

}  // namespace

void SetTraceMenuTargetsOn(AppState& state, bool on) {
    ForEachTarget(state, [&](TraceDetection& d) { d.accepted = on; }, [&](MarkerEvent& m) { m.enabled = on; });
    state.unsavedChanges = true;
}

void SetTraceMenuTargetsRecipe(AppState& state, const char* name) {
    const std::string_view text = name != nullptr ? std::string_view(name) : std::string_view();
    ForEachTarget(state, [&](TraceDetection& d) { CopyText(d.presetName, text); },
                  [&](MarkerEvent& m) { CopyText(m.recipeName, text); });
    state.unsavedChanges = true;
}

bool TraceMenuImportEnabled(AppState& state) {
    bool anyOn = false;
    ForEachTarget(state, [&](TraceDetection& d) { anyOn |= d.accepted; }, [&](MarkerEvent& m) { anyOn |= m.enabled; });
    return anyOn;
}

namespace {

// ---------------------------------------------------------------------------
// [SECTION] Helpers
// ---------------------------------------------------------------------------

constexpr const char* kMenuId = "##traceMarkerCtx";

std::uint32_t Alpha(std::uint32_t colour, int alpha) { return ColorWithAlpha(colour, std::clamp(alpha, 0, 255)); }

// The area this frame draws into and the pointer as the gestures read it.
struct View {
    float left = 0.0f;
    float right = 0.0f;
    float top = 0.0f;
    float bottom = 0.0f;
    float height = 0.0f;
    float offset = 0.0f;  // the video's start on the timeline
    ImVec2 mouse;
    bool here = false;  // the pointer reaches this window (no popup or other window over it)
    bool clicked = false;
    bool doubleClicked = false;
    bool rightClicked = false;
    bool down = false;
    bool shift = false;
    bool menuOpen = false;

    float Y(float v) const { return top + (1.0f - std::clamp(v, 0.0f, 1.0f)) * height; }
    bool InLane(float x) const { return x >= left && x <= right; }
    bool InArea() const { return here && !menuOpen && InLane(mouse.x) && mouse.y >= top && mouse.y <= bottom; }
};

void DashedLine(ImDrawList* dl, float x, float y0, float y1, float dash, float every, std::uint32_t colour,
                float thickness) {
    for (float y = y0; y < y1; y += every) dl->AddLine(ImVec2(x, y), ImVec2(x, std::min(y + dash, y1)), colour, thickness);
}

// The area between a polyline and the area's bottom, then its outline.
void FilledCurve(ImDrawList* dl, const std::vector<ImVec2>& points, float bottom, std::uint32_t fill,
                 std::uint32_t line) {
    if (points.size() < 2) return;
    for (std::size_t i = 1; i < points.size(); ++i) {
        const ImVec2 a = points[i - 1];
        const ImVec2 b = points[i];
        dl->AddQuadFilled(a, b, ImVec2(b.x, bottom), ImVec2(a.x, bottom), fill);
    }
    dl->AddPolyline(points.data(), static_cast<int>(points.size()), line, 0, 1.5f);
}

void MovePlayheadTo(AppState& state, float time) {
    if (state.playing) return;
    state.playhead = time;
    if (GlobalVideoPlayer.loaded) GlobalVideoPlayer.Seek(time);
}

void ClearReviewSelection(AppState& state) {
    state.selectedDetections.clear();
    state.selectedMarkers.clear();
}

// ---------------------------------------------------------------------------
// [SECTION] Provisional reading
// ---------------------------------------------------------------------------

void DrawProvisional(ImDrawList* dl, const AppState& state, const View& v) {
    const TraceAnalysis& a = state.traceAnalysis;
    // The analysis thread completes each record before it publishes the
    // count; only the records below it are read, through the storage
    // pointer (the detector may shrink the vector's size meanwhile).
    const std::int32_t n = a.framesDone.load(std::memory_order_acquire);
    if (n < 5) return;
    const FrameMeasures* frames = a.frames.data();
    if (frames == nullptr) return;
    const float fps = std::max(1.0f, a.fps);
    const int k = std::max(2, static_cast<int>(fps * 0.25f));
    float maxA = 0.001f;
    float maxB = 0.001f;
    for (std::int32_t i = 1; i < n; ++i) {
        maxA = std::max(maxA, std::fabs(frames[i].lumaDelta) + 2.0f * frames[i].motion);
        maxB = std::max(maxB, frames[i].motion);
    }
    std::vector<ImVec2> curveA;
    std::vector<ImVec2> curveB;
    for (float x = v.left; x <= v.right; x += 2.0f) {
        const float t = XToTime(x) - v.offset;
        if (t < 0.0f) continue;
        const float f = std::min(t * fps, 1.0e9f);
        const std::int32_t i = std::max(1, static_cast<std::int32_t>(f));
        if (i >= n) break;
        float sumA = 0.0f;
        float sumB = 0.0f;
        const std::int32_t lo = std::max(1, i - k);
        const std::int32_t hi = std::min(n - 1, i + k);
        for (std::int32_t j = lo; j <= hi; ++j) {
            sumA += std::fabs(frames[j].lumaDelta) + 2.0f * frames[j].motion;
            sumB += frames[j].motion;
        }
        const float count = static_cast<float>(hi - lo + 1);
        curveA.emplace_back(x, v.Y(sumA / count / maxA));
        curveB.emplace_back(x, v.Y(sumB / count / maxB));
    }
    FilledCurve(dl, curveA, v.bottom, Alpha(ThemePalette.attention, 50), Alpha(ThemePalette.attention, 160));
    FilledCurve(dl, curveB, v.bottom, Alpha(ThemePalette.amberMark, 40), Alpha(ThemePalette.amberMark, 140));
}

// ---------------------------------------------------------------------------
// [SECTION] Analysis curves and the threshold line
// ---------------------------------------------------------------------------

void DrawAnalysisCurves(ImDrawList* dl, const TraceAnalysis& a, const View& v) {
    const float scale = a.maxCompositeEnergy > 0.001f ? 1.0f / a.maxCompositeEnergy : 1.0f;
    const float duration = GlobalVideoPlayer.loaded ? GlobalVideoPlayer.duration : a.duration;
    const std::uint32_t compositeFill = Alpha(ThemePalette.attention, 60);
    const std::uint32_t compositeLine = Alpha(ThemePalette.attention, 180);
    const std::uint32_t motionFill = Alpha(ThemePalette.amberMark, 50);
    const std::uint32_t motionLine = Alpha(ThemePalette.amberMark, 160);
    const std::uint32_t thresholdLine = Alpha(ThemePalette.redMark, 70);
    bool previous = false;
    ImVec2 pc, pm, pt;
    for (float x = v.left; x <= v.right; x += 2.0f) {
        const float t = XToTime(x) - v.offset;
        if (t < 0.0f || t > duration) {
            previous = false;  // outside the video: the lines break
            continue;
        }
        const ImVec2 c(x, v.Y(a.CompositeAt(t) * scale));
        const ImVec2 m(x, v.Y(a.MotionAt(t) * scale));
        const ImVec2 th(x, v.Y(a.ThresholdAt(t) * scale));
        dl->AddRectFilled(ImVec2(x, c.y), ImVec2(x + 2.0f, v.bottom), compositeFill);
        dl->AddRectFilled(ImVec2(x, m.y), ImVec2(x + 2.0f, v.bottom), motionFill);
        if (previous) {
            dl->AddLine(pc, c, compositeLine, 1.5f);
            dl->AddLine(pm, m, motionLine, 1.5f);
            dl->AddLine(pt, th, thresholdLine, 1.5f);
        }
        pc = c;
        pm = m;
        pt = th;
        previous = true;
    }
}

void ThresholdLine(ImDrawList* dl, AppState& state, const View& v) {
    float minIntensity = TraceCountThreshold(state.opticalDetail);
    const float y = v.Y(minIntensity);
    const bool hovered = v.here && !v.menuOpen && v.InLane(v.mouse.x) && std::fabs(v.mouse.y - y) <= 5.0f;
    if (hovered && v.doubleClicked) {
        state.opticalDetail = 0.35f;
        state.thresholdDragging = false;
        state.unsavedChanges = true;
    } else if (hovered && v.clicked) {
        state.thresholdDragging = true;
    }
    if (state.thresholdDragging) {
        if (v.down) {
            const float level = v.height > 0.0f ? 1.0f - (v.mouse.y - v.top) / v.height : 0.0f;
            state.opticalDetail = OpticalDetailForLevel(level);
            state.unsavedChanges = true;
        } else {
            state.thresholdDragging = false;
        }
    }
    minIntensity = TraceCountThreshold(state.opticalDetail);
    const float lineY = v.Y(minIntensity);
    const bool strong = hovered || state.thresholdDragging;
    if (strong) ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeNS);
    if (hovered && !state.thresholdDragging) {
        ShowTooltip("Threshold: %d%%\nDrag to adjust, double-click to reset",
                    static_cast<int>(minIntensity * 100.0f + 0.5f));
    }
    if (minIntensity > 0.01f) {
        dl->AddRectFilled(ImVec2(v.left, lineY), ImVec2(v.right, v.bottom), Alpha(ThemePalette.timelineShade4, 80));
    }
    dl->AddLine(ImVec2(v.left, lineY), ImVec2(v.right, lineY), Alpha(ThemePalette.amberMark, strong ? 200 : 100),
                strong ? 2.0f : 1.0f);
}

// ---------------------------------------------------------------------------
// [SECTION] Suggestion and marker markers
// ---------------------------------------------------------------------------

struct MarkerPass {
    bool anyHover = false;
    bool clickTaken = false;  // one click toggles or picks one marker
};

// Where a marker takes the pointer: its stem, px either side, and its head,
// px either side and its lowest y below the area's top.
struct MarkerReach {
    float stem = 0.0f;
    float head = 0.0f;
    float headBottom = 0.0f;
};

// One marker's pointer: a click on its head toggles `on`, on its stem makes
// it the active marker of `kind` and moves the playhead to `time`; hovered,
// it sets `hovered`. True while the head is hovered.
bool MarkerPointer(AppState& state, const View& v, MarkerPass& pass, const MarkerReach& reach, float x, float time,
                   std::int32_t kind, std::int32_t index, bool& on, std::int32_t& hovered) {
    const float dx = std::fabs(v.mouse.x - x);
    const bool stem = v.here && !v.menuOpen && dx <= reach.stem && v.mouse.y >= v.top && v.mouse.y <= v.bottom;
    const bool head = v.here && !v.menuOpen && dx <= reach.head && v.mouse.y >= v.top - 2.0f &&
                      v.mouse.y <= v.top + reach.headBottom;
    if (v.clicked && !state.traceMarqueeActive && !pass.clickTaken && (head || stem)) {
        pass.clickTaken = true;
        ClearReviewSelection(state);
        if (head) {
            on = !on;
            state.unsavedChanges = true;
        } else {
            state.activeTraceMarkerKind = kind;
            state.activeTraceMarkerIndex = index;
            MovePlayheadTo(state, time);
        }
    }
    if (head || stem) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
        hovered = index;
        pass.anyHover = true;
    }
    return head;
}

void DetectionMarkers(ImDrawList* dl, AppState& state, const View& v, MarkerPass& pass) {
    TraceAnalysis& a = state.traceAnalysis;
    const float threshold = TraceCountThreshold(state.opticalDetail);
    const std::uint32_t accent = ThemePalette.accent;
    for (std::size_t n = 0; n < a.events.size(); ++n) {
        TraceDetection& d = a.events[n];
        if (!DetectionCounts(d, threshold)) continue;
        const auto i = static_cast<std::int32_t>(n);
        const float t = v.offset + d.time;
        const float x = TimeToX(t);
        if (!v.InLane(x)) continue;
        const float f = 1.0f + 0.5f * static_cast<float>(std::max(0, d.peelLayer));
        const std::uint32_t base = ThemePalette.pictureSource;
        auto baseAlpha = [&](int alpha) { return Alpha(base, static_cast<int>(static_cast<float>(alpha) / f)); };
        const bool head = MarkerPointer(state, v, pass, {4.0f, 9.0f, 14.0f}, x, t, 0, i, d.accepted,
                                        state.hoveredDetection);
        const bool active = state.activeTraceMarkerKind == 0 && state.activeTraceMarkerIndex == i;
        const bool lit = active || IsDetectionSelected(state, i);
        if (lit) {
            dl->AddLine(ImVec2(x, v.top + 12.0f), ImVec2(x, v.bottom), Alpha(accent, 200), 2.0f);
        } else if (d.accepted) {
            DashedLine(dl, x, v.top + 12.0f, v.bottom, 3.5f, 6.0f, baseAlpha(180), 1.5f);
        } else {
            DashedLine(dl, x, v.top + 12.0f, v.bottom, 3.0f, 7.0f, baseAlpha(35), 1.0f);
        }
        if (active) {
            const float x1 = std::clamp(TimeToX(t - d.suggestedSyncOffset), v.left, v.right);
            const float x2 = std::clamp(TimeToX(t - d.suggestedSyncOffset + d.suggestedDuration), v.left, v.right);
            if (x2 > x1) {
                dl->AddRectFilled(ImVec2(x1, v.top), ImVec2(x2, v.bottom), Alpha(accent, 15));
                dl->AddLine(ImVec2(x1, v.bottom - 2.0f), ImVec2(x2, v.bottom - 2.0f), Alpha(accent, 80), 1.5f);
            }
        }
        const ImVec2 centre(x, v.top + 6.0f);
        if (d.accepted) {
            dl->AddCircleFilled(centre, 5.0f, lit ? Alpha(accent, 220) : baseAlpha(220), 12);
        } else {
            dl->AddCircle(centre, 5.0f, lit ? Alpha(accent, 140) : baseAlpha(100), 12, 1.5f);
        }
        if (d.presetName[0] != '\0') {
            dl->AddCircleFilled(centre, 2.0f, IM_COL32(255, 255, 255, d.accepted ? 200 : 100), 6);
            if (head) ShowTooltip("%s", d.presetName);
        }
    }
}

void ImportedMarkers(ImDrawList* dl, AppState& state, const View& v, MarkerPass& pass) {
    const std::uint32_t accent = ThemePalette.accent;
    for (std::size_t n = 0; n < state.markerEvents.size(); ++n) {
        MarkerEvent& m = state.markerEvents[n];
        const auto i = static_cast<std::int32_t>(n);
        const float x = TimeToX(m.time);
        if (!v.InLane(x)) continue;
        const bool head = MarkerPointer(state, v, pass, {5.0f, 7.0f, 13.0f}, x, m.time, 1, i, m.enabled,
                                        state.hoveredMarker);
        const bool selected = IsMarkerSelected(state, i);
        const bool active = state.activeTraceMarkerKind == 1 && state.activeTraceMarkerIndex == i;
        const std::uint32_t colour = ThemePalette.markerSource;
        if (active || selected) {
            dl->AddLine(ImVec2(x, v.top + 13.0f), ImVec2(x, v.bottom), Alpha(accent, 200), 2.0f);
        } else if (m.enabled) {
            DashedLine(dl, x, v.top + 13.0f, v.bottom, 3.5f, 6.0f, Alpha(colour, 180), 1.5f);
        } else {
            DashedLine(dl, x, v.top + 13.0f, v.bottom, 3.0f, 7.0f, Alpha(colour, 35), 1.0f);
        }
        const float cy = v.top + 6.0f;
        const ImVec2 up(x, cy - 5.0f), right(x + 5.0f, cy), down(x, cy + 5.0f), left(x - 5.0f, cy);
        const std::uint32_t head_colour = Alpha(selected ? accent : colour, m.enabled ? 220 : 100);
        if (m.enabled) {
            dl->AddQuadFilled(up, right, down, left, head_colour);
        } else {
            dl->AddQuad(up, right, down, left, head_colour, 1.5f);
        }
        if (m.recipeName[0] != '\0') {
            dl->AddCircleFilled(ImVec2(x, cy), 2.0f, IM_COL32(255, 255, 255, m.enabled ? 200 : 100), 6);
            if (head) ShowTooltip("%s", m.recipeName);
        }
    }
}

// ---------------------------------------------------------------------------
// [SECTION] Box selection
// ---------------------------------------------------------------------------

void BoxSelection(ImDrawList* dl, AppState& state, const View& v, const MarkerPass& pass, bool picture) {
    if (v.InArea() && !pass.anyHover && !state.thresholdDragging && v.clicked && !state.traceMarqueeActive) {
        state.traceMarqueeActive = true;
        state.traceMarqueeStartX = state.traceMarqueeEndX = v.mouse.x;
        state.traceMarqueeAdditive = v.shift;
        state.traceMarqueeBaseDetections = v.shift ? state.selectedDetections : std::vector<std::int32_t>{};
        state.traceMarqueeBaseMarkers = v.shift ? state.selectedMarkers : std::vector<std::int32_t>{};
    }
    if (!state.traceMarqueeActive) return;
    if (v.down) {
        state.traceMarqueeEndX = v.mouse.x;
        const float x1 = std::min(state.traceMarqueeStartX, state.traceMarqueeEndX);
        const float x2 = std::max(state.traceMarqueeStartX, state.traceMarqueeEndX);
        if (x2 - x1 > 3.0f) {
            state.activeTraceMarkerKind = state.activeTraceMarkerIndex = -1;
            state.selectedDetections = state.traceMarqueeBaseDetections;
            state.selectedMarkers = state.traceMarqueeBaseMarkers;
            const float t1 = XToTime(x1);
            const float t2 = XToTime(x2);
            auto inBase = [](const std::vector<std::int32_t>& base, std::int32_t i) {
                return std::find(base.begin(), base.end(), i) != base.end();
            };
            if (picture && state.traceSourceFilter != 1) {
                const float threshold = TraceCountThreshold(state.opticalDetail);
                const auto& events = state.traceAnalysis.events;
                for (std::size_t n = 0; n < events.size(); ++n) {
                    const float t = v.offset + events[n].time;
                    const auto i = static_cast<std::int32_t>(n);
                    if (DetectionCounts(events[n], threshold) && t >= t1 && t <= t2 &&
                        !inBase(state.traceMarqueeBaseDetections, i))
                        state.selectedDetections.push_back(i);
                }
            }
            if (state.traceSourceFilter != 0) {
                for (std::size_t n = 0; n < state.markerEvents.size(); ++n) {
                    const float t = state.markerEvents[n].time;
                    const auto i = static_cast<std::int32_t>(n);
                    if (t >= t1 && t <= t2 && !inBase(state.traceMarqueeBaseMarkers, i))
                        state.selectedMarkers.push_back(i);
                }
            }
            const float left = std::max(v.left, x1);
            const float right = std::min(v.right, x2);
            if (right > left) {
                dl->AddRectFilled(ImVec2(left, v.top), ImVec2(right, v.bottom), Alpha(ThemePalette.accent, 20));
                dl->AddRect(ImVec2(left, v.top), ImVec2(right, v.bottom), Alpha(ThemePalette.accent, 80));
            }
        }
        return;
    }
    // Released: a box no wider than 3 px was a click on empty space.
    if (std::fabs(state.traceMarqueeEndX - state.traceMarqueeStartX) <= 3.0f && !state.traceMarqueeAdditive) {
        state.activeTraceMarkerKind = state.activeTraceMarkerIndex = -1;
        ClearReviewSelection(state);
    }
    state.traceMarqueeActive = false;
}

// ---------------------------------------------------------------------------
// [SECTION] Context menu
// ---------------------------------------------------------------------------

void ContextMenu(AppState& state, const View& v, std::size_t selectionCount, bool picture) {
    if (v.InArea() && v.rightClicked && (selectionCount > 0 || state.hoveredDetection >= 0 || state.hoveredMarker >= 0)) {
        if (selectionCount > 0) {
            state.traceMenuDetections = state.selectedDetections;
            state.traceMenuMarkers = state.selectedMarkers;
        } else {
            state.traceMenuDetections.clear();
            state.traceMenuMarkers.clear();
            if (state.hoveredDetection >= 0) state.traceMenuDetections.push_back(state.hoveredDetection);
            if (state.hoveredMarker >= 0) state.traceMenuMarkers.push_back(state.hoveredMarker);
        }
        ImGui::OpenPopup(kMenuId);
    }
    // Suggestions are only touched while the read they index is finished.
    if (!picture) state.traceMenuDetections.clear();

    const bool pushedFont = PushPanelStyle();
    if (ImGui::BeginPopup(kMenuId)) {
        char label[64];
        std::snprintf(label, sizeof(label), "%s  On", icon::kToggleOn);
        if (ImGui::MenuItem(label)) SetTraceMenuTargetsOn(state, true);
        std::snprintf(label, sizeof(label), "%s  Off", icon::kToggleOff);
        if (ImGui::MenuItem(label)) SetTraceMenuTargetsOn(state, false);
        if (!RecipeList.empty()) {
            std::snprintf(label, sizeof(label), "%s  Recipe", icon::kAtom);
            if (ImGui::BeginMenu(label)) {
                if (ImGui::MenuItem("(none)")) SetTraceMenuTargetsRecipe(state, "");
                for (std::size_t r = 0; r < RecipeList.size(); ++r) {
                    const EventPreset& recipe = RecipeList[r];
                    if (IconMenuItem(EventKindIcon(recipe.shape), recipe.name, static_cast<int>(r)))
                        SetTraceMenuTargetsRecipe(state, recipe.name);
                }
                ImGui::EndMenu();
            }
        }
        ImGui::Separator();
        std::snprintf(label, sizeof(label), "%s  Import", icon::kCircleDown);
        if (ImGui::MenuItem(label, nullptr, false, TraceMenuImportEnabled(state))) state.traceImportRequested = true;
        ImGui::EndPopup();
    }
    PopPanelStyle(pushedFont);
}

// "##traceBlock": takes the pointer over the lanes; while hovered the wheel
// zooms and a middle-button drag pans the whole project.
void TraceBlock(AppState& state, const Project& project) {
    const TimelineState& tl = Timeline;
    const float top = tl.y0;
    const float bottom = tl.y0 + tl.height - kBottomStripHeight;
    ImGui::SetCursorScreenPos(ImVec2(tl.laneLeft, top));
    ImGui::InvisibleButton("##traceBlock", ImVec2(std::max(1.0f, tl.laneWidth), std::max(1.0f, bottom - top)));
    if (!ImGui::IsItemHovered()) return;
    const ImGuiIO& io = ImGui::GetIO();
    if (std::fabs(io.MouseWheel) > 0.01f) {
        state.ZoomViewAbout(io.MouseWheel > 0.0f ? 0.85f : 1.18f, XToTime(io.MousePos.x), project.totalDuration);
    }
    if (ImGui::IsMouseDragging(ImGuiMouseButton_Middle) && tl.laneWidth > 0.0f) {
        const float span = state.ViewSpan();
        PanView(state, -io.MouseDelta.x / tl.laneWidth * span, 0.0f, std::max(0.0f, project.totalDuration - span));
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] The step
// ---------------------------------------------------------------------------

void DrawTraceView(ImDrawList* dl, AppState& state, const Project& project, bool traceView) {
    if (state.activeTab != 1) return;
    const TimelineState& tl = Timeline;
    const GroupAreaGeometry& area = tl.groupArea;
    View v;
    v.left = tl.laneLeft;
    v.right = tl.LaneRight();
    v.top = area.areaTop;
    v.height = area.areaHeight;
    v.bottom = area.AreaBottom();
    v.offset = GlobalVideoPlayer.timelineOffset;

    const bool running = state.traceRunning.load(std::memory_order_acquire);
    if (running && v.height > 0.0f) DrawProvisional(dl, state, v);
    if (!traceView) return;

    TraceBlock(state, project);
    const ImGuiIO& io = ImGui::GetIO();
    v.mouse = io.MousePos;
    v.here = ImGui::IsWindowHovered(ImGuiHoveredFlags_AllowWhenBlockedByActiveItem);
    v.clicked = ImGui::IsMouseClicked(ImGuiMouseButton_Left);
    v.doubleClicked = ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left);
    v.rightClicked = ImGui::IsMouseClicked(ImGuiMouseButton_Right);
    v.down = io.MouseDown[0];
    v.shift = io.KeyShift;
    v.menuOpen = ImGui::IsPopupOpen(kMenuId);

    const bool picture = TraceReadValid(state);
    const bool curves = picture && state.traceAnalysis.frames.size() >= 2;
    dl->PushClipRect(ImVec2(v.left, v.top - 4.0f), ImVec2(v.right, v.bottom), true);
    if (curves) {
        DrawAnalysisCurves(dl, state.traceAnalysis, v);
        ThresholdLine(dl, state, v);
    } else {
        state.thresholdDragging = false;
    }
    const std::size_t selectionCount = state.selectedDetections.size() + state.selectedMarkers.size();
    MarkerPass pass;
    if (curves && state.traceSourceFilter != 1) DetectionMarkers(dl, state, v, pass);
    if (!state.markerEvents.empty() && state.traceSourceFilter != 0) ImportedMarkers(dl, state, v, pass);
    BoxSelection(dl, state, v, pass, picture);
    dl->PopClipRect();
    ContextMenu(state, v, selectionCount, picture);
}

}  // namespace korvel
