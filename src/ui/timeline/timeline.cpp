// DrawTimeline: the strip's frame and the lanes this file owns (ruler and
// work area, marker lane, bottom strip).
//
// [SECTION] Helpers
// [SECTION] Ruler and work area
// [SECTION] Marker lane
// [SECTION] Bottom strip
// [SECTION] The frame
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/frame/icon_glyphs.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "picture/video_player.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/timeline/clip_zone.h"
#include "ui/timeline/curve_lanes.h"
#include "ui/timeline/event_kind_icons.h"
#include "ui/timeline/event_menu.h"
#include "ui/timeline/scene_lane.h"
#include "ui/timeline/timeline_edit.h"
#include "ui/timeline/timeline_view.h"
#include "ui/timeline/trace_view.h"
#include "ui/timeline/track_lanes.h"

namespace korvel {

namespace {

// [SECTION] Helpers


std::uint32_t WithAlpha(std::uint32_t colour, int alpha) {
    return (colour & 0x00FFFFFFu) | (static_cast<std::uint32_t>(std::clamp(alpha, 0, 255)) << 24);
}

ImFont* SmallFont() {
    ImFont* font = GlobalAppState.fonts.smallFont;
    return font != nullptr ? font : ImGui::GetFont();
}

void Tooltip(const char* text) {
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) ImGui::SetTooltip("%s", text);
}

// Whether the trace tab shows a picture analysis or imported markers: the
// lanes then take no pointer input.
bool TraceViewShown(const AppState& state) {
    return state.activeTab == 1 && (TraceReadValid(state) || !state.markerEvents.empty());
}

void SeekPicture(float time) {
    if (GlobalVideoPlayer.loaded) GlobalVideoPlayer.Seek(time);
}

// [SECTION] Ruler and work area

void DrawRuler(ImDrawList* dl, AppState& state, Project& project, bool traceView) {
    TimelineState& tl = Timeline;
    const float top = tl.y0 + 4.0f;
    const float bottom = top + kRulerHeight;
    const float right = tl.LaneRight();
    ImFont* font = SmallFont();
    const float fontSize = font->FontSize;

    auto span = [&](float t1, float t2, float y1, float y2, std::uint32_t colour) {
        const float x1 = std::clamp(TimeToX(t1), tl.laneLeft, right);
        const float x2 = std::clamp(TimeToX(t2), tl.laneLeft, right);
        if (x2 > x1) dl->AddRectFilled(ImVec2(x1, y1), ImVec2(x2, y2), colour);
    };
    if (state.HasWorkArea()) span(state.workAreaIn, state.workAreaOut, top, bottom, ThemePalette.timelineShade1);
    if (GlobalVideoPlayer.loaded) {
        span(GlobalVideoPlayer.timelineOffset, GlobalVideoPlayer.timelineOffset + GlobalVideoPlayer.duration,
             bottom - 3.0f, bottom, ThemePalette.selectionFill);
    }

    const float step = RulerTickStep(tl.laneWidth, tl.viewSpan);
    auto walk = [&](float s, auto&& draw) {
        const float end = tl.viewStart + tl.viewSpan;
        for (double t = std::floor(tl.viewStart / s) * s; t <= end; t += s) {
            if (t < 0.0) continue;
            const float x = TimeToX(static_cast<float>(t));
            if (x < tl.laneLeft || x > right) continue;
            draw(static_cast<float>(t), x);
        }
    };
    char label[32];
    walk(step, [&](float t, float x) {
        dl->AddLine(ImVec2(x, top + 8.0f), ImVec2(x, bottom), WithAlpha(ThemePalette.textPrimary, 100));
        RulerLabel(project, t, label, sizeof(label));
        dl->AddText(font, fontSize, ImVec2(x + 2.0f, top), WithAlpha(ThemePalette.textPrimary, 130), label);
    });
    walk(step / 4.0f, [&](float, float x) {
        dl->AddLine(ImVec2(x, top + 15.0f), ImVec2(x, bottom), WithAlpha(ThemePalette.textPrimary, 35));
    });

    const bool mayEdit = UiMayEditProject(state);
    if (!traceView) {
        auto pointButton = [&](const char* id, float x, const char* glyph, bool set, const char* clearTip,
                               const char* setTip, void (*toggle)(AppState&)) {
            ImGui::SetCursorScreenPos(ImVec2(x, top + 1.0f));
            ImGui::BeginDisabled(!mayEdit);
            const bool clicked = ImGui::InvisibleButton(id, ImVec2(16.0f, 18.0f));
            ImGui::EndDisabled();
            const bool hovered = ImGui::IsItemHovered();
            const std::uint32_t colour = hovered ? ThemePalette.textPrimary
                                         : set   ? ThemePalette.textSecondary
                                                 : WithAlpha(ThemePalette.textMuted, 120);
            dl->AddText(ImVec2(x + 3.0f, top + 2.0f), colour, glyph);
            if (clicked && mayEdit) toggle(state);
            Tooltip(set ? clearTip : setTip);
        };
        pointButton("##gIn", tl.headerLeft + 2.0f, "[", state.workAreaIn >= 0.0f, "Clear In point",
                    "Set In point at playhead (I)", ToggleWorkAreaIn);
        pointButton("##gOut", tl.headerLeft + 18.0f, "]", state.workAreaOut >= 0.0f, "Clear Out point",
                    "Set Out point at playhead (O)", ToggleWorkAreaOut);
    }

    const std::uint32_t accent = ThemePalette.accent;
    if (state.workAreaIn >= 0.0f) {
        const float x = std::floor(TimeToX(state.workAreaIn));
        if (x >= tl.laneLeft && x <= right) {
            dl->AddRectFilled(ImVec2(x, top), ImVec2(x + 2.0f, bottom), WithAlpha(accent, 200));
            dl->AddRectFilled(ImVec2(x, top), ImVec2(x + 7.0f, top + 2.0f), WithAlpha(accent, 230));
            dl->AddRectFilled(ImVec2(x, top), ImVec2(x + 2.0f, top + 7.0f), WithAlpha(accent, 230));
        }
    }
    if (state.workAreaOut >= 0.0f) {
        const float x = std::floor(TimeToX(state.workAreaOut));
        if (x >= tl.laneLeft && x <= right) {
            dl->AddRectFilled(ImVec2(x - 2.0f, top), ImVec2(x, bottom), WithAlpha(accent, 200));
            dl->AddRectFilled(ImVec2(x - 7.0f, top), ImVec2(x, top + 2.0f), WithAlpha(accent, 230));
            dl->AddRectFilled(ImVec2(x - 2.0f, top), ImVec2(x, top + 7.0f), WithAlpha(accent, 230));
        }
    }

    ImGui::SetCursorScreenPos(ImVec2(tl.laneLeft, top));
    ImGui::InvisibleButton("##ruler", ImVec2(std::max(1.0f, tl.laneWidth), kRulerHeight));
    const ImGuiIO& io = ImGui::GetIO();
    const float p = SnapToFrame(PointerTime(io.MousePos.x, project.totalDuration), project.fps);
    const bool hovered = ImGui::IsItemHovered();
    if (tl.workAreaDrag != 0) {
        // A drag still held when the edit guard closes ends without writing.
        if (io.MouseDown[0] && mayEdit) DragWorkAreaEdge(state, project, tl.workAreaDrag, p);
        if (!io.MouseDown[0] || !mayEdit) tl.workAreaDrag = 0;
    } else if (hovered && ImGui::IsMouseClicked(0)) {
        const int edge = mayEdit ? WorkAreaEdgeAt(state, io.MousePos.x) : 0;
        if (edge != 0) {
            tl.workAreaDrag = edge;
        } else {
            state.selectedEvents.clear();
            state.selectedEvent = -1;
        }
    }
    if (ImGui::IsItemActive() && tl.workAreaDrag == 0 && !state.playing) {
        state.playhead = p;
        SeekPicture(p);
    }
    if (hovered && WorkAreaEdgeAt(state, io.MousePos.x) != 0) ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
    dl->AddLine(ImVec2(tl.headerLeft, tl.y0 + 24.0f), ImVec2(right, tl.y0 + 24.0f), ThemePalette.border);
}

// [SECTION] Marker lane

void DrawEventBlocks(ImDrawList* dl, const AppState& state, const Project& project, const EventRows* rows,
                     float rowHeight) {
    const TimelineState& tl = Timeline;
    const float right = tl.LaneRight();
    const bool expanded = rows != nullptr;
    ImFont* font = SmallFont();
    const float fontSize = font->FontSize;
    const float lockSize = fontSize * 0.6f;
    const float lockWidth = font->CalcTextSizeA(lockSize, 1e9f, 0.0f, icon::kLocked).x;
    const float gap = 7.0f - lockWidth / 2.0f;
    const std::vector<std::int32_t> order = EventsByTime(project.events);

    for (int pass = 0; pass < 2; ++pass) {
        float labelEnd = -1e30f;
        bool firstLabel = true;
        for (std::int32_t index : order) {
            const bool selected = state.selectedEvents.count(index) != 0;
            if (selected != (pass == 1)) continue;
            const Event& event = project.events[static_cast<std::size_t>(index)];
            const std::uint32_t c = GetEventKindColor(event.shape, 255);
            float x1 = TimeToX(EventBlockStart(event));
            float x2 = TimeToX(EventBlockEnd(event));
            const float xs = TimeToX(event.time);
            if (x2 < tl.laneLeft || x1 > right) continue;
            x1 = std::max(x1, tl.laneLeft);
            x2 = std::min(x2, right);
            float top = tl.markerTop;
            float bottom = tl.markerTop + tl.markerHeight;
            if (expanded) {
                top = tl.markerTop + static_cast<float>(rows->row[static_cast<std::size_t>(index)]) * rowHeight;
                bottom = top + std::max(2.0f, rowHeight - 1.0f);
            }
            const std::uint32_t blockColour = event.muted ? ThemePalette.neutralMark : c;
            const int blockAlpha = expanded ? (event.muted ? 30 : selected ? 150 : 60)
                                            : (event.muted ? 15 : selected ? 70 : 15);
            dl->AddRectFilled(ImVec2(x1, top), ImVec2(x2, bottom), WithAlpha(blockColour, blockAlpha));
            if (expanded && selected && !event.muted) {
                dl->AddRect(ImVec2(x1, top), ImVec2(x2, bottom), WithAlpha(c, 235), 2.0f, 0, 1.5f);
            }
            if (event.syncOffset > 0.0f && xs > x1) {
                dl->AddRectFilled(ImVec2(x1, top), ImVec2(std::min(xs, x2), bottom), WithAlpha(c, 8));
            }
            if (!event.muted) dl->AddLine(ImVec2(x2, top), ImVec2(x2, bottom), WithAlpha(c, selected ? 100 : 20), 2.0f);
            if (xs < tl.laneLeft || xs > right) continue;

            const std::uint32_t marker = event.muted ? IM_COL32(100, 100, 100, 100)
                                         : selected  ? WithAlpha(c, 255)
                                                     : WithAlpha(c, expanded ? 210 : 100);
            dl->AddLine(ImVec2(xs, top), ImVec2(xs, bottom), marker, 2.0f);
            dl->AddTriangleFilled(ImVec2(xs - 5.0f, top), ImVec2(xs + 5.0f, top), ImVec2(xs, top + 6.0f), marker);
            const char* lock = event.locked ? icon::kLocked : icon::kUnlocked;
            const ImVec2 lockExtent = font->CalcTextSizeA(lockSize, 1e9f, 0.0f, lock);
            dl->AddText(font, lockSize, ImVec2(xs + 8.0f - lockExtent.x / 2.0f, top + 9.0f - lockExtent.y / 2.0f),
                        event.locked ? WithAlpha(ThemePalette.accent, 140) : WithAlpha(ThemePalette.textMuted, 50),
                        lock);

            float x = xs + 15.0f;
            if (!expanded && !firstLabel && x < labelEnd) continue;
            firstLabel = false;
            const std::uint32_t textColour = event.muted ? WithAlpha(ThemePalette.textMuted, 60)
                                             : selected  ? (expanded ? IM_COL32_WHITE : WithAlpha(c, 220))
                                                         : WithAlpha(c, expanded ? 200 : 80);
            const float y = top + 3.0f;
            const float labelStart = x;
            const char* icon = EventKindIcon(event.shape);
            dl->AddText(font, fontSize, ImVec2(x, y), textColour, icon);
            x += font->CalcTextSizeA(fontSize, 1e9f, 0.0f, icon).x + gap;
            if (event.sceneLink >= 0) {
                const ImVec2 size = font->CalcTextSizeA(lockSize, 1e9f, 0.0f, icon::kLink);
                dl->AddText(font, lockSize, ImVec2(x, y + (fontSize - size.y) / 2.0f),
                            WithAlpha(ThemePalette.accentMuted, 160), icon::kLink);
                x += size.x + gap;
            }
            if (event.keywords[0] != '\0') {
                const char* title = project.EventTitle(event);
                dl->AddText(font, fontSize, ImVec2(x, y), textColour, title);
                x += font->CalcTextSizeA(fontSize, 1e9f, 0.0f, title).x;
            }
            if (event.muted) {
                const float mid = y + fontSize / 2.0f;
                dl->AddLine(ImVec2(labelStart, mid), ImVec2(x, mid), WithAlpha(ThemePalette.textMuted, 50));
            }
            labelEnd = x + 6.0f;
        }
    }
}

// Returns true when the context menu changed the event list.
bool MarkerLane(ImDrawList* dl, AppState& state, Project& project, bool traceView) {
    TimelineState& tl = Timeline;
    const float right = tl.LaneRight();
    const float top = tl.markerTop;
    dl->AddLine(ImVec2(tl.headerLeft, top - 1.0f), ImVec2(right, top - 1.0f), ThemePalette.border);
    const bool expanded = state.eventLaneExpanded && !traceView && !project.events.empty();
    tl.markerHeight = expanded ? std::max(kCollapsedMarkerLaneHeight, tl.height - 24.0f - (top - tl.y0))
                               : kCollapsedMarkerLaneHeight;
    const float height = tl.markerHeight;
    EventRows rowLayout;
    if (expanded) rowLayout = LayOutEventRows(project.events);
    const EventRows* rows = expanded ? &rowLayout : nullptr;
    const float rowHeight = expanded && rowLayout.count > 0 ? height / static_cast<float>(rowLayout.count) : height;

    dl->AddRectFilled(ImVec2(tl.laneLeft, top), ImVec2(right, top + height),
                      expanded ? ThemePalette.timelineShade2 : ThemePalette.timelineShade4);
    DrawEventBlocks(dl, state, project, rows, rowHeight);

    bool listChanged = false;
    if (!traceView) {
        const ImGuiIO& io = ImGui::GetIO();
        const bool mayEdit = UiMayEditProject(state);
        ImGui::SetCursorScreenPos(ImVec2(tl.laneLeft, top));
        ImGui::InvisibleButton("##markerlane", ImVec2(std::max(1.0f, tl.laneWidth), height),
                               ImGuiButtonFlags_MouseButtonLeft | ImGuiButtonFlags_MouseButtonRight);
        const bool hovered = ImGui::IsItemHovered();
        const bool active = ImGui::IsItemActive();
        const std::int32_t pointerRow = expanded ? static_cast<std::int32_t>((io.MousePos.y - top) / rowHeight) : 0;
        const auto count = static_cast<std::int32_t>(project.events.size());
        const float pointer = PointerTime(io.MousePos.x, project.totalDuration);

        if (hovered && tl.resizeEvent < 0 && !tl.movingEvents && mayEdit &&
            ResizeCandidateAt(state, project.events, rows, pointerRow, io.MousePos.x) >= 0) {
            ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
        }
        if (hovered && ImGui::IsMouseClicked(0)) {
            tl.pressTime = pointer;
            const std::int32_t resize =
                mayEdit ? ResizeCandidateAt(state, project.events, rows, pointerRow, io.MousePos.x) : -1;
            if (resize >= 0) {
                PushUndo();
                tl.resizeEvent = resize;
                tl.movingEvents = false;
                state.SelectEvent(resize);
            } else {
                tl.resizeEvent = -1;
                const std::int32_t hit =
                    HitEventAt(project.events, rows, pointerRow, io.MousePos.x, state.selectedEvent, true);
                const bool wasSelected = hit >= 0 && state.selectedEvents.count(hit) != 0;
                if (hit < 0) {
                    tl.marqueeActive = true;
                    tl.marqueeStartX = tl.marqueeEndX = io.MousePos.x;
                    tl.marqueeStartY = tl.marqueeEndY = io.MousePos.y;
                    tl.marqueeInClipZone = false;
                    tl.movingEvents = false;
                } else if (io.KeyShift) {
                    state.SelectEventRange(hit, EventsByTime(project.events));
                } else if (io.KeyCtrl) {
                    state.ToggleEventSelection(hit);
                } else if (!wasSelected) {
                    state.SelectEventWithLinks(hit, project.events, io.KeyAlt);
                } else if (mayEdit && state.selectedEvent >= 0 && state.selectedEvent < count) {
                    tl.grabOffset = tl.pressTime - project.events[static_cast<std::size_t>(state.selectedEvent)].time;
                    tl.movingEvents = true;
                    tl.moveStarted = false;
                    PushUndo();
                }
            }
        }
        if (hovered && ImGui::IsMouseClicked(1)) {
            const std::int32_t hit = HitEventAt(project.events, rows, pointerRow, io.MousePos.x, -1, false);
            if (hit >= 0) {
                if (state.selectedEvents.count(hit) == 0) state.SelectEventWithLinks(hit, project.events, io.KeyAlt);
                ImGui::OpenPopup("##tlEventCtx");
            }
        }
        listChanged = ShowEventContextMenu("##tlEventCtx");

        // A gesture still held when the edit guard closes writes no more.
        if (!mayEdit) {
            tl.resizeEvent = -1;
            tl.movingEvents = false;
        }
        if (active && !listChanged) {
            if (tl.marqueeActive) {
                tl.marqueeEndX = io.MousePos.x;
                tl.marqueeEndY = io.MousePos.y;
            }
            if (tl.resizeEvent >= 0 && tl.resizeEvent < count) {
                const float end = ResizeEventTo(project, tl.resizeEvent, pointer);
                if (end < 0.0f) {
                    ImGui::SetMouseCursor(ImGuiMouseCursor_NotAllowed);
                    ImGui::SetTooltip("%s", "Linked to scene \xe2\x80\x94 unlink to resize");
                } else {
                    ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
                    if (!state.playing) {
                        state.playhead = end;
                        SeekPicture(end);
                    }
                }
            } else if (tl.movingEvents && state.selectedEvent >= 0 && state.selectedEvent < count) {
                const bool linked = std::any_of(state.selectedEvents.begin(), state.selectedEvents.end(), [&](auto i) {
                    return i >= 0 && i < count && project.events[static_cast<std::size_t>(i)].sceneLink >= 0;
                });
                if (linked) {
                    ImGui::SetMouseCursor(ImGuiMouseCursor_NotAllowed);
                    ImGui::SetTooltip("%s", "Linked to scene \xe2\x80\x94 unlink to move");
                } else {
                    if (std::fabs(io.MousePos.x - TimeToX(tl.pressTime)) > 3.0f) tl.moveStarted = true;
                    if (tl.moveStarted) {
                        const float target = SnapToFrame(pointer - tl.grabOffset, project.fps);
                        const float delta =
                            target - project.events[static_cast<std::size_t>(state.selectedEvent)].time;
                        MoveSelectedEvents(state, project, LivePlaybackEngine, delta);
                        if (!state.playing) {
                            state.playhead = std::clamp(target, 0.0f, std::max(0.0f, project.totalDuration));
                            SeekPicture(state.playhead);
                        }
                    }
                }
            }
        } else if (!active) {
            if (tl.marqueeActive && !tl.marqueeInClipZone) {
                if (std::fabs(tl.marqueeEndX - tl.marqueeStartX) > 5.0f) {
                    const float t1 = XToTime(std::min(tl.marqueeStartX, tl.marqueeEndX));
                    const float t2 = XToTime(std::max(tl.marqueeStartX, tl.marqueeEndX));
                    SelectMarquee(state, project, t1, t2, io.KeyAlt);
                } else {
                    state.selectedEvents.clear();
                    state.selectedEvent = -1;
                }
                tl.marqueeActive = false;
            }
            tl.resizeEvent = -1;
            tl.movingEvents = false;
            tl.moveStarted = false;
        }
    }

    if (tl.marqueeActive && std::fabs(tl.marqueeEndX - tl.marqueeStartX) > 3.0f) {
        const float x1 = std::clamp(std::min(tl.marqueeStartX, tl.marqueeEndX), tl.laneLeft, right);
        const float x2 = std::clamp(std::max(tl.marqueeStartX, tl.marqueeEndX), tl.laneLeft, right);
        dl->AddRectFilled(ImVec2(x1, top), ImVec2(x2, top + height), WithAlpha(ThemePalette.eventAccent, 20));
        dl->AddRect(ImVec2(x1, top), ImVec2(x2, top + height), WithAlpha(ThemePalette.eventAccent, 80));
    }
    dl->AddLine(ImVec2(tl.headerLeft, top + height + 1.0f), ImVec2(right, top + height + 1.0f), ThemePalette.border);
    return listChanged;
}

// [SECTION] Bottom strip

void WheelAndPan(AppState& state, const Project& project, float zoneTop, float zoneBottom) {
    const TimelineState& tl = Timeline;
    const ImGuiIO& io = ImGui::GetIO();
    if (zoneBottom <= zoneTop || ImGui::IsAnyItemActive()) return;
    if (!ImGui::IsWindowHovered() ||
        !ImGui::IsMouseHoveringRect(ImVec2(tl.laneLeft, zoneTop), ImVec2(tl.LaneRight(), zoneBottom))) {
        return;
    }
    if (std::fabs(io.MouseWheel) > 0.01f) {
        state.ZoomViewAbout(io.MouseWheel > 0.0f ? 0.85f : 1.18f, XToTime(io.MousePos.x), project.totalDuration);
    }
    if (ImGui::IsMouseDragging(ImGuiMouseButton_Middle) && tl.laneWidth > 0.0f) {
        const float span = state.ViewSpan();
        float lo = 0.0f;
        float hi = std::max(0.0f, project.totalDuration - span);
        if (state.curveDrawMode && state.drawSavedViewValid) {
            const float m = 0.05f * (state.drawRangeEnd - state.drawRangeStart);
            lo = std::max(0.0f, state.drawRangeStart - m);
            hi = std::max(lo, state.drawRangeEnd - span + m);
        }
        PanView(state, -io.MouseDelta.x / tl.laneWidth * span, lo, hi);
    }
}

void BottomStrip(ImDrawList* dl, AppState& state, const Project& project, bool traceView) {
    const TimelineState& tl = Timeline;
    const float strip = tl.y0 + tl.height - kBottomStripHeight;
    ImFont* font = SmallFont();
    ImGui::PushFont(font);
    const float fs = ImGui::GetFontSize();
    const float bh = std::max(18.0f, 1.3f * fs);
    const float pad = 1.2f * fs;
    auto w = [](const char* text) { return ImGui::CalcTextSize(text).x; };
    const float wd = pad + w("\xef\x8c\x83");
    const float wv = pad + w("Curves+");
    const float wz = pad + w("\xef\x80\x8e");
    const float wf = pad + w("\xef\x81\xa5");
    const float wb = wd + 4.0f + wv + 4.0f + 2.0f * wz + 2.0f + 2.0f;
    const float ws = std::max(0.0f, tl.laneWidth - (wb + wf) - 6.0f);
    const float duration = project.totalDuration;
    const float span = state.ViewSpan();

    dl->AddRectFilled(ImVec2(tl.laneLeft, strip + 2.0f), ImVec2(tl.laneLeft + ws, strip + 16.0f),
                      WithAlpha(ThemePalette.surfaceHover, 80), 4.0f);
    if (duration > 0.0f && span < duration && ws > 0.0f) {
        const float thumb = std::max(20.0f, span / duration * ws);
        const float x = std::min(tl.laneLeft + ws - thumb, tl.laneLeft + state.viewStart / duration * ws);
        const bool inside = ImGui::IsMouseHoveringRect(ImVec2(x, strip + 2.0f), ImVec2(x + thumb, strip + 16.0f));
        dl->AddRectFilled(ImVec2(x, strip + 3.0f), ImVec2(x + thumb, strip + 15.0f),
                          inside ? WithAlpha(ThemePalette.textSecondary, 160) : WithAlpha(ThemePalette.textMuted, 120),
                          4.0f);
    }
    ImGui::SetCursorScreenPos(ImVec2(tl.laneLeft, strip + 2.0f));
    ImGui::InvisibleButton("##hscroll", ImVec2(std::max(1.0f, ws), 14.0f));
    if (ImGui::IsItemActive() && ws > 0.0f && duration > 0.0f) {
        PanView(state, ImGui::GetIO().MouseDelta.x / ws * duration, 0.0f, std::max(0.0f, duration - span));
    }

    ImGui::PushStyleColor(ImGuiCol_Button, ThemePalette.frameBg);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.10f, 0.12f, 0.16f, 1.0f));
    const float y = strip + (kBottomStripHeight - bh) / 2.0f;
    float x = traceView ? tl.LaneRight() - (2.0f * wz + 2.0f + 2.0f + wf) : tl.laneLeft + ws + 6.0f;
    if (!traceView) {
        const auto count = static_cast<std::int32_t>(project.events.size());
        const std::int32_t primary = state.selectedEvent;
        const std::int32_t kind =
            primary >= 0 && primary < count ? project.events[static_cast<std::size_t>(primary)].shape : -1;
        const bool single = state.selectedEvents.size() == 1;
        const bool allowed = single && kind >= 0 && !IsKind(kind, EventKind::Spot) && !IsKind(kind, EventKind::Clip);
        ImGui::SetCursorScreenPos(ImVec2(x, y));
        const bool drawing = state.curveDrawMode;
        if (drawing) ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.18f, 0.25f, 0.35f, 1.0f));
        ImGui::BeginDisabled(!allowed && !drawing);
        if (ImGui::Button("\xef\x8c\x83##draw", ImVec2(wd, bh))) ToggleCurveDrawMode(state, project);
        ImGui::EndDisabled();
        if (drawing) ImGui::PopStyleColor();
        Tooltip(!single                                   ? "Select a single event to draw"
                : IsKind(kind, EventKind::Spot)           ? "Draw mode not available for Spot"
                : IsKind(kind, EventKind::Clip)           ? "Draw mode not available for Clips"
                                                          : "Toggle curve draw mode (or hold Alt)");
        x += wd + 4.0f;
        static constexpr const char* kViews[3] = {"Tracks", "Curves", "Curves+"};
        ImGui::SetCursorScreenPos(ImVec2(x, y));
        char label[32];
        std::snprintf(label, sizeof(label), "%s##laneview", kViews[std::clamp(state.timelineView, 0, 2)]);
        if (ImGui::Button(label, ImVec2(wv, bh))) state.timelineView = (std::clamp(state.timelineView, 0, 2) + 1) % 3;
        x += wv + 4.0f;
    }
    const float centre = state.viewStart + span / 2.0f;
    ImGui::SetCursorScreenPos(ImVec2(x, y));
    if (ImGui::Button("\xef\x80\x90##zout", ImVec2(wz, bh))) state.ZoomViewAbout(1.4f, centre, duration);
    x += wz + 2.0f;
    ImGui::SetCursorScreenPos(ImVec2(x, y));
    if (ImGui::Button("\xef\x80\x8e##zin", ImVec2(wz, bh))) state.ZoomViewAbout(0.7f, centre, duration);
    x += wz + 2.0f;
    ImGui::SetCursorScreenPos(ImVec2(x, y));
    if (ImGui::Button("\xef\x81\xa5##fit", ImVec2(wf, bh))) {
        if (state.curveDrawMode && state.drawSavedViewValid) {
            const float range = state.drawRangeEnd - state.drawRangeStart;
            const float m = 0.05f * range;
            state.viewStart = std::max(0.0f, state.drawRangeStart - m);
            state.viewEnd = state.viewStart + std::clamp(range + 2.0f * m, 0.5f, std::max(0.5f, duration));
        } else {
            state.PendingMenuCommand.store(16);
        }
    }
    Tooltip(state.audioFocusActive ? "Exit Audio Focus (A)" : "Audio Focus \xe2\x80\x94 zoom to selected event (A)");
    ImGui::PopStyleColor(2);
    ImGui::PopFont();
}

}  // namespace

// [SECTION] The frame

void DrawTimeline(ImDrawList* drawList, const UILayout& layout) {
    (void)drawList;  // the child window draws into its own list
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    ImGui::SetCursorScreenPos(ImVec2(0.0f, layout.titleBarHeight + layout.topAreaHeight + layout.transportHeight));
    ImGui::BeginChild("##timeline", ImVec2(layout.displayWidth, layout.timelineHeight), false,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
    ImDrawList* dl = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();
    CurveDrawGuard(state);

    ImFont* small = SmallFont();
    const float smallSize = small->FontSize;
    const float scenesWidth = small->CalcTextSizeA(smallSize * 0.9f, 1e9f, 0.0f, "Scenes").x;
    const float linkWidth = ImGui::CalcTextSize(icon::kLink).x;
    const float headerWidth = std::max(56.0f, scenesWidth + 4.0f + 6.0f + linkWidth + 8.0f);
    TimelineState& tl = Timeline;
    SetTimelineGeometry(tl, state, origin.x, origin.y, layout.displayWidth, layout.timelineHeight, headerWidth,
                        smallSize);
    dl->AddRectFilled(origin, ImVec2(origin.x + tl.width, origin.y + tl.height), ThemePalette.windowBg);
    dl->AddRectFilled(ImVec2(tl.laneLeft, origin.y), ImVec2(tl.LaneRight(), origin.y + tl.height),
                      ThemePalette.timelineShade2);

    const bool traceView = TraceViewShown(state);
    DrawRuler(dl, state, project, traceView);
    DrawSceneLane(dl, traceView, layout.displayWidth, layout.displayHeight, layout.fontSize);
    MarkerLane(dl, state, project, traceView);

    const float markerBottom = tl.markerTop + tl.markerHeight + 2.0f;
    const float lanesBottom = traceView ? markerBottom : DrawCurveLanes(dl, state, project, traceView);
    if (state.eventLaneExpanded && !traceView && !project.events.empty()) {
        tl.groupArea = GroupAreaGeometry{};
    } else {
        DrawGroupArea(dl, state, project, lanesBottom, traceView);
    }
    DrawTraceView(dl, state, project, traceView);  // takes the group area's pointer in the trace view
    // The group area below takes the wheel zoom and the middle-button pan.
    const float zoneTop = lanesBottom + 2.0f;
    const float zoneBottom = origin.y + tl.height - kBottomStripHeight - 4.0f;
    if (!traceView && (!state.eventLaneExpanded || project.events.empty()))
        WheelAndPan(state, project, zoneTop, zoneBottom);
    DrawClipZone(dl, traceView);

    FollowPlayhead(state, project.totalDuration);
    BottomStrip(dl, state, project, traceView);

    if (state.curveDrawMode && !state.eventLaneExpanded) {
        const float laneHeight = CurveLaneHeight(state.timelineView);
        const auto count = static_cast<std::int32_t>(project.events.size());
        const bool bloom = state.selectedEvent >= 0 && state.selectedEvent < count &&
                           IsKind(project.events[static_cast<std::size_t>(state.selectedEvent)].shape, EventKind::Bloom);
        const float weightTop = markerBottom;
        const float bottom = CurveLaneTop(weightTop, laneHeight, !bloom) + laneHeight;
        dl->AddRect(ImVec2(tl.laneLeft - 1.0f, weightTop - 1.0f), ImVec2(tl.LaneRight() + 1.0f, bottom + 1.0f),
                    WithAlpha(ThemePalette.accent, 140), 3.0f, 0, 2.0f);
    }
    ImGui::SetCursorScreenPos(origin);
    ImGui::Dummy(ImVec2(layout.displayWidth, layout.timelineHeight));
    ImGui::EndChild();
}

}  // namespace korvel
