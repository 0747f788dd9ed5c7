// Curve strips, the curve editor widget and the timeline's curve lanes.
//
// [SECTION] Strip and editor
// [SECTION] Lane strokes
// [SECTION] Lanes
#include "ui/timeline/curve_lanes.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>

#include "app/frame_work.h"
#include "app/theme.h"
#include "engine/build_routines.h"
#include "picture/video_player.h"
#include "project/app_state.h"
#include "project/project.h"
#include "ui/timeline/curve_brush.h"
#include "ui/timeline/timeline_edit.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {

namespace {

std::uint32_t WithAlpha(std::uint32_t colour, int alpha) {
    return (colour & 0x00FFFFFFu) | (static_cast<std::uint32_t>(std::clamp(alpha, 0, 255)) << 24);
}

float Displayed(const CurvePoints& curve, float t, float scale, float offset) {
    return std::clamp(SampleCurve256(curve, t) * scale + offset, 0.0f, 1.0f);
}

void BandGuides(ImDrawList* dl, ImVec2 a, ImVec2 b, ImFont* font, float size, float inset, int lineAlpha,
                int nameAlpha, int markAlpha, float thickness) {
    static constexpr const char* kNames[5] = {"Air", "High", "Mid", "Low", "Sub"};
    static constexpr const char* kMarks[5] = {"6k", "2k", "750", "150", "20"};
    const float height = b.y - a.y;
    dl->PushClipRect(a, b, true);
    for (float f : {0.8f, 0.6f, 0.4f, 0.2f}) {
        const float y = a.y + f * height;
        dl->AddLine(ImVec2(a.x + 1.0f, y), ImVec2(b.x - 1.0f, y), WithAlpha(ThemePalette.textMuted, lineAlpha),
                    thickness);
    }
    // A short area would stack the names over each other.
    const BandLabelFit fit = FitBandLabels(height, size);
    for (int i = 0; fit.every > 0 && i < 5; i += fit.every) {
        const float y = a.y + (1.0f - (0.9f - 0.2f * static_cast<float>(i))) * height - fit.size / 2.0f;
        dl->AddText(font, fit.size, ImVec2(a.x + inset, y), WithAlpha(ThemePalette.textMuted, nameAlpha), kNames[i]);
        const float w = font->CalcTextSizeA(fit.size, 1e9f, 0.0f, kMarks[i]).x;
        dl->AddText(font, fit.size, ImVec2(b.x - inset - w, y), WithAlpha(ThemePalette.textMuted, markAlpha),
                    kMarks[i]);
    }
    dl->PopClipRect();
}

}  // namespace

BandLabelFit FitBandLabels(float height, float textSize) {
    constexpr float kMinScale = 0.75f;
    const float spacing = 0.2f * height;
    if (!(textSize > 0.0f) || !(spacing > 0.0f)) return {};
    if (spacing >= kMinScale * textSize) return {std::min(textSize, spacing), 1};
    if (2.0f * spacing >= kMinScale * textSize) return {std::min(textSize, 2.0f * spacing), 2};
    return {};
}

// [SECTION] Strip and editor

void DrawCurveStrip(ImDrawList* dl, const CurvePoints& curve, float x1, float x2, float top, float height,
                    float clipLeft, float clipRight, std::uint32_t colour, bool highlight, float scale, float offset,
                    bool colourByValue, float opacity) {
    if (!(x2 - x1 >= 2.0f)) return;
    const float left = std::max(clipLeft, x1);
    const float right = std::min(clipRight, x2);
    if (!(right > left)) return;
    const float visible = right - left;
    const float step = std::max(2.0f, std::floor(visible / 120.0f));
    const int n = static_cast<int>(visible / step);
    const float bottom = top + height;
    auto valueAt = [&](float x) { return Displayed(curve, (x - x1) / (x2 - x1), scale, offset); };
    float xa = left;
    float va = valueAt(xa);
    for (int i = 0; i < n; ++i) {
        const float xb = xa + step;
        const float vb = valueAt(xb);
        const float ya = top + (1.0f - va) * height;
        const float yb = top + (1.0f - vb) * height;
        std::uint32_t fill = 0;
        std::uint32_t line = 0;
        if (colourByValue) {
            const std::uint32_t ramp = GetWeightColor((va + vb) / 2.0f);
            fill = WithAlpha(ramp, static_cast<int>((highlight ? 80.0f : 50.0f) * opacity));
            line = WithAlpha(ramp, static_cast<int>((highlight ? 240.0f : 160.0f) * opacity));
        } else {
            fill = WithAlpha(colour, static_cast<int>((highlight ? 55.0f : 30.0f) * opacity));
            line = WithAlpha(colour, static_cast<int>((highlight ? 220.0f : 140.0f) * opacity));
        }
        dl->AddQuadFilled(ImVec2(xa, ya), ImVec2(xb, yb), ImVec2(xb, bottom), ImVec2(xa, bottom), fill);
        dl->AddLine(ImVec2(xa, ya), ImVec2(xb, yb), line, highlight ? 1.8f : 1.2f);
        xa = xb;
        va = vb;
    }
}

bool DrawCurveEditor(const char* id, CurvePoints& curve, const ImVec2& position, const ImVec2& size,
                     std::uint32_t colour, ImDrawList* dl, float offset, float scale, bool paintingDisabled,
                     bool bandGuides, float* verticalDragOut, bool paintWithoutAlt, float opacity) {
    // The running stroke: one editor's curve at a time. UI thread only.
    static bool strokeActive = false;
    static CurvePoints* strokeCurve = nullptr;
    static std::int32_t strokeMin = 256;
    static std::int32_t strokeMax = -1;
    static float prevX = -1.0f;
    static float prevValue = -1.0f;

    const ImVec2 end(position.x + size.x, position.y + size.y);
    dl->AddRectFilled(position, end, ThemePalette.laneBg, 2.0f);
    if (bandGuides) {
        BandGuides(dl, position, end, ImGui::GetFont(), ImGui::GetFontSize(), 3.0f, 36, 72, 55, 1.2f);
    }
    if (size.x >= 2.0f && size.y > 0.0f) {
        const float step = std::max(2.0f, std::floor(size.x / 120.0f));
        const int n = static_cast<int>(size.x / step);
        for (int i = 0; i < n; ++i) {
            const float xa = position.x + step * static_cast<float>(i);
            const float va = Displayed(curve, (xa - position.x) / size.x, scale, offset);
            const float vb = Displayed(curve, (xa + step - position.x) / size.x, scale, offset);
            const float ya = position.y + (1.0f - va) * size.y;
            const float yb = position.y + (1.0f - vb) * size.y;
            const std::uint32_t base = bandGuides ? GetWeightColor((va + vb) / 2.0f) : colour;
            const int fillAlpha = static_cast<int>(opacity * (bandGuides ? 65.0f : 25.0f));
            const int lineAlpha = static_cast<int>(opacity * (bandGuides ? 220.0f : 140.0f));
            dl->AddQuadFilled(ImVec2(xa, ya), ImVec2(xa + step, yb), ImVec2(xa + step, end.y), ImVec2(xa, end.y),
                              WithAlpha(base, fillAlpha));
            dl->AddLine(ImVec2(xa, ya), ImVec2(xa + step, yb), WithAlpha(base, lineAlpha), 1.2f);
        }
    }
    dl->AddRect(position, end, IM_COL32(0, 0, 0, 100));
    const float mid = position.y + size.y / 2.0f;
    dl->AddLine(ImVec2(position.x + 1.0f, mid), ImVec2(end.x - 1.0f, mid), WithAlpha(ThemePalette.textMuted, 18));

    ImGui::SetCursorScreenPos(position);
    ImGui::InvisibleButton(id, ImVec2(std::max(1.0f, size.x), std::max(1.0f, size.y)));
    const bool active = ImGui::IsItemActive();
    const bool hovered = ImGui::IsItemHovered();
    const ImGuiIO& io = ImGui::GetIO();
    bool painted = false;
    if (!paintingDisabled) {
        const bool allowed = io.KeyAlt || paintWithoutAlt;
        if (active && allowed) {
            if (!strokeActive || strokeCurve != &curve) {
                strokeActive = true;
                strokeCurve = &curve;
                strokeMin = 256;
                strokeMax = -1;
                prevX = prevValue = -1.0f;
            }
            const float x = size.x > 0.0f ? std::clamp((io.MousePos.x - position.x) / size.x, 0.0f, 1.0f) : 0.0f;
            const float v = size.y > 0.0f ? std::clamp(1.0f - (io.MousePos.y - position.y) / size.y, 0.0f, 1.0f) : 0.0f;
            PaintCurveStroke(curve, x, v, prevX, prevValue, strokeMin, strokeMax);
            prevX = x;
            prevValue = v;
            painted = true;
        } else {
            // The first frame without painting ends the stroke, also while
            // the pointer rests on the editor: the next press starts afresh.
            if (strokeActive && strokeCurve == &curve) {
                if (strokeMin <= strokeMax) SmoothCurveRange(curve, strokeMin, strokeMax);
                strokeActive = false;
                strokeCurve = nullptr;
                // Curves are saved with the project and strokes take no undo
                // snapshot, so nothing else would mark it changed.
                GlobalAppState.unsavedChanges = true;
            }
            if (hovered && !active && allowed) {
                dl->AddText(ImVec2(end.x - 70.0f, end.y - 14.0f), WithAlpha(ThemePalette.textMuted, 50),
                            paintWithoutAlt ? "Draw" : "Alt+draw");
            }
        }
    }
    if (verticalDragOut != nullptr) {
        if (hovered && !io.KeyAlt) ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeNS);
        // The press frame's delta is the pointer's way to the press, not
        // part of the drag.
        if (active && !io.KeyAlt) *verticalDragOut = ImGui::IsItemActivated() ? 0.0f : io.MouseDelta.y;
    }
    return painted;
}

// [SECTION] Lane strokes

std::int32_t CurveLaneTarget(const AppState& state, const Project& project, float t, bool intensity) {
    const auto count = static_cast<std::int32_t>(project.events.size());
    for (std::int32_t index : state.selectedEvents) {
        if (index < 0 || index >= count) continue;
        const Event& event = project.events[static_cast<std::size_t>(index)];
        if (IsKind(event.shape, EventKind::Clip)) continue;
        if (!intensity && IsKind(event.shape, EventKind::Bed)) continue;
        if (intensity && event.intensityMode != kIntensityDrawn) continue;
        if (t >= EventBlockStart(event) && t <= EventBlockEnd(event)) return index;
    }
    return -1;
}

bool PaintCurveLane(AppState& state, Project& project, bool intensity, float mouseX, float mouseY, float laneTop,
                    float laneHeight) {
    TimelineState& tl = Timeline;
    bool& active = intensity ? tl.intensityStrokeActive : tl.weightStrokeActive;
    if (!active) {
        active = true;
        tl.strokePrevPos = tl.strokePrevValue = -1.0f;
        tl.strokeMinIndex = 256;
        tl.strokeMaxIndex = -1;
        tl.strokeEvent = -1;
    }
    const float t = XToTime(mouseX);
    const std::int32_t target = CurveLaneTarget(state, project, t, intensity);
    if (target < 0 || !(laneHeight > 0.0f)) return false;
    Event& event = project.events[static_cast<std::size_t>(target)];
    const float x1 = TimeToX(EventBlockStart(event));
    const float x2 = TimeToX(EventBlockEnd(event));
    if (!(x2 - x1 >= 2.0f)) return false;
    if (tl.strokeEvent >= 0 && tl.strokeEvent != target) {
        // Another event under the brush: its curve starts a fresh sample run.
        tl.strokePrevPos = tl.strokePrevValue = -1.0f;
    }
    const float u = std::clamp((mouseX - x1) / (x2 - x1), 0.0f, 1.0f);
    const float v = std::clamp(1.0f - (mouseY - laneTop) / laneHeight, 0.0f, 1.0f);
    float w = 0.0f;
    if (intensity) {
        w = event.intensityScale > 0.001f ? std::clamp(v / event.intensityScale, 0.0f, 1.0f) : v;
    } else {
        w = std::clamp(v - event.weightOffset, 0.0f, 1.0f);
    }
    CurvePoints& curve = intensity ? event.intensity : event.weight;
    PaintCurveStroke(curve, u, w, tl.strokePrevPos, tl.strokePrevValue, tl.strokeMinIndex, tl.strokeMaxIndex);
    tl.strokePrevPos = u;
    tl.strokePrevValue = w;
    tl.strokeEvent = target;
    if (GlobalVideoPlayer.loaded) GlobalVideoPlayer.Seek(t);
    return true;
}

void EndCurveLaneStroke(AppState& state, bool intensity) {
    TimelineState& tl = Timeline;
    bool& active = intensity ? tl.intensityStrokeActive : tl.weightStrokeActive;
    if (!active) return;
    Project& project = CurrentProject;
    if (tl.strokeEvent >= 0 && tl.strokeEvent < static_cast<std::int32_t>(project.events.size()) &&
        tl.strokeMaxIndex >= tl.strokeMinIndex) {
        Event& event = project.events[static_cast<std::size_t>(tl.strokeEvent)];
        SmoothCurveRange(intensity ? event.intensity : event.weight, tl.strokeMinIndex, tl.strokeMaxIndex);
        state.unsavedChanges = true;
    }
    active = false;
    tl.strokeEvent = -1;
    if (GlobalVideoPlayer.loaded) GlobalVideoPlayer.Seek(state.playhead);
}

// [SECTION] Lanes

namespace {

ImFont* FontOr(ImFont* font) { return font != nullptr ? font : ImGui::GetFont(); }

void CurveLane(ImDrawList* dl, AppState& state, Project& project, bool intensity, float top, float height,
               bool traceView) {
    const TimelineState& tl = Timeline;
    const float right = tl.LaneRight();
    dl->AddRectFilled(ImVec2(tl.laneLeft, top), ImVec2(right, top + height), ThemePalette.laneBg);
    const auto count = static_cast<std::int32_t>(project.events.size());
    for (int pass = 0; pass < 2; ++pass) {
        for (std::int32_t i = 0; i < count; ++i) {
            const bool selected = state.selectedEvents.count(i) != 0;
            if (selected != (pass == 1)) continue;
            const Event& event = project.events[static_cast<std::size_t>(i)];
            if (IsKind(event.shape, EventKind::Clip) || (!intensity && IsKind(event.shape, EventKind::Bed))) continue;
            const float x1 = TimeToX(EventBlockStart(event));
            const float x2 = TimeToX(EventBlockEnd(event));
            if (x2 < tl.laneLeft || x1 > right) continue;
            const float opacity = event.muted ? 0.2f : 1.0f;
            if (intensity) {
                DrawCurveStrip(dl, event.intensity, x1, x2, top, height, tl.laneLeft, right, ThemePalette.curveLine,
                               selected, event.intensityScale, 0.0f, false, opacity);
            } else {
                DrawCurveStrip(dl, event.weight, x1, x2, top, height, tl.laneLeft, right, WeightColorMid, selected,
                               1.0f, event.weightOffset, true, opacity);
            }
        }
    }
    const bool singleBed = state.selectedEvents.size() == 1 && *state.selectedEvents.begin() >= 0 &&
                           *state.selectedEvents.begin() < count &&
                           IsKind(project.events[static_cast<std::size_t>(*state.selectedEvents.begin())].shape,
                                  EventKind::Bed);
    ImFont* medium = FontOr(state.fonts.mediumFont);
    if (!intensity && state.curveDrawMode && height >= 40.0f && !singleBed) {
        BandGuides(dl, ImVec2(tl.laneLeft, top), ImVec2(right, top + height), medium, medium->FontSize * 0.85f, 4.0f,
                   60, 150, 110, 1.0f);
    } else {
        const float size = medium->FontSize * 0.9f;
        dl->AddText(medium, size, ImVec2(tl.x0 + 12.0f, top + (height - size) / 2.0f), ThemePalette.textSecondary,
                    intensity ? "Intensity" : "Weight");
    }
    if (traceView) return;

    const ImGuiIO& io = ImGui::GetIO();
    ImGui::SetCursorScreenPos(ImVec2(tl.laneLeft, top));
    ImGui::InvisibleButton(intensity ? "##ilane" : "##wlane", ImVec2(std::max(1.0f, tl.laneWidth), height));
    const std::int32_t primary = state.selectedEvent;
    const bool primaryBloom = primary >= 0 && primary < count &&
                              IsKind(project.events[static_cast<std::size_t>(primary)].shape, EventKind::Bloom);
    const bool mayEdit = UiMayEditProject(state);
    const bool allowed =
        mayEdit && (io.KeyAlt || (state.curveDrawMode && (!intensity || !primaryBloom)));
    if (ImGui::IsItemHovered() && allowed) ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
    if (ImGui::IsItemActive() && allowed) {
        PaintCurveLane(state, project, intensity, io.MousePos.x, io.MousePos.y, top, height);
    } else {
        EndCurveLaneStroke(state, intensity);
        if (!allowed && ImGui::IsItemClicked(ImGuiMouseButton_Left)) {
            const float t = XToTime(io.MousePos.x);
            for (std::int32_t i = 0; i < count; ++i) {
                const Event& event = project.events[static_cast<std::size_t>(i)];
                if (t >= EventBlockStart(event) && t <= EventBlockEnd(event)) {
                    state.SelectEventWithLinks(i, project.events, false);
                    break;
                }
            }
        }
    }
}

}  // namespace

float DrawCurveLanes(ImDrawList* dl, AppState& state, Project& project, bool traceView) {
    TimelineState& tl = Timeline;
    const float right = tl.LaneRight();
    // The event row's header: its label and the expand toggle.
    ImFont* small = FontOr(state.fonts.smallFont);
    const float size = small->FontSize * 0.9f;
    const float rowTop = tl.markerTop;
    const float labelY = state.eventLaneExpanded ? rowTop + 4.0f : rowTop + (tl.markerHeight - size) / 2.0f;
    const float labelX = tl.x0 + 12.0f;
    dl->AddText(small, size, ImVec2(labelX, labelY), ThemePalette.textSecondary, "Events");
    const float glyphX = labelX + small->CalcTextSizeA(size, 1e9f, 0.0f, "Events").x + 6.0f;
    const char* glyph = state.eventLaneExpanded ? "\xef\x81\xb7" : "\xef\x81\xb8";  // U+F077 / U+F078
    const float glyphWidth = ImGui::CalcTextSize(glyph).x;
    const ImVec2 boxMin(glyphX - 2.0f, labelY - 2.0f);
    const ImVec2 boxSize(glyphWidth + 6.0f, size + 4.0f);
    ImGui::SetCursorScreenPos(boxMin);
    if (ImGui::InvisibleButton("##evExpand", boxSize)) state.eventLaneExpanded = !state.eventLaneExpanded;
    const bool hovered = ImGui::IsItemHovered();
    dl->AddText(ImVec2(glyphX, labelY),
                hovered ? WithAlpha(ThemePalette.textSecondary, 200) : WithAlpha(ThemePalette.textMuted, 100), glyph);
    if (hovered) ImGui::SetTooltip("%s", state.eventLaneExpanded ? "Collapse event lane (E)" : "Expand event lane (E)");

    const float lineY = tl.markerTop + tl.markerHeight + 1.0f;
    if (state.eventLaneExpanded && !traceView && !project.events.empty()) return lineY + 2.0f;
    const float height = CurveLaneHeight(state.timelineView);
    const float weightTop = lineY + 1.0f;
    CurveLane(dl, state, project, false, weightTop, height, traceView);
    dl->AddLine(ImVec2(tl.x0 + 8.0f, weightTop + height + 1.0f), ImVec2(right, weightTop + height + 1.0f),
                WithAlpha(ThemePalette.border, 80));
    const float intensityTop = CurveLaneTop(weightTop, height, true);
    CurveLane(dl, state, project, true, intensityTop, height, traceView);
    const float endLine = intensityTop + height + 1.0f;
    dl->AddLine(ImVec2(tl.x0 + 8.0f, endLine), ImVec2(right, endLine), ThemePalette.border);
    return endLine + 2.0f;
}

}  // namespace korvel
