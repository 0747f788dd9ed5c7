#pragma once
// Shared set-up of the inspector tests: the events tab drawn headless in a
// host window at a fixed layout, with clicks and drags placed in the
// inspector's scroll child.
#include <gtest/gtest.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>

#include "../panels/panels_fixture.h"
#include "app/ui_layout.h"
#include "playback/playback_engine.h"
#include "timeline_fixture.h"
#include "ui/timeline/events_tab.h"

namespace korvel::test {

class InspectorFixture : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetTimelineState();
        s.dropState = DropState{};
        layout_.fontSize = 18.0f;
        layout_.panelHalfWidth = 360.0f;
        layout_.panelOtherWidth = 300.0f;
        layout_.topAreaHeight = 420.0f;
        m_ = ComputeInspectorMetrics(layout_);
        {
            std::lock_guard<std::mutex> lock(LivePlaybackEngine.voiceMutex);
            LivePlaybackEngine.voices.clear();
        }
        Frame();  // sizes are known from the first frame on
    }
    void TearDown() override {
        s.backgroundJob.active.store(false);
        std::lock_guard<std::mutex> lock(LivePlaybackEngine.voiceMutex);
        LivePlaybackEngine.voices.clear();
    }
    std::function<void()> body() {
        return [this] {
            ImGui::SetCursorPos(ImVec2(0.0f, 0.0f));
            DrawEventsTab(ImGui::GetWindowDrawList(), layout_);
        };
    }
    void Frame() { frames_.Run(body()); }
    // Selects event `index` alone.
    void SelectOne(std::int32_t index) {
        s.selectedEvents = {index};
        s.selectedEvent = index;
    }
    ImGuiWindow* Scroll() {
        return test::FindActiveWindow("##inspscroll");
    }
    // A point in the form, from the scroll child's top left.
    void ClickAt(float x, float y) {
        Frame();
        ImGuiWindow* w = Scroll();
        ASSERT_NE(w, nullptr);
        harness_.MoveMouse(w->Pos.x + x, w->Pos.y + y);
        Frame();  // the pointer arrives before it presses
        frames_.Click(w->Pos.x + x, w->Pos.y + y, body());
    }
    float Fh() const { return ImGui::GetFrameHeight(); }
    void ClickKindButton() { ClickAt(m_.padding + Fh() * 0.5f, m_.padding + Fh() * 0.5f); }
    // The lock button follows the square kind button.
    void ClickLock() { ClickAt(m_.padding + Fh() + m_.gap + 4.0f, m_.padding + Fh() * 0.5f); }
    float SecondRowY() const { return m_.padding + Fh() + m_.gap; }
    // Moves the pointer away from every control and runs a frame.
    void IdleFrame() {
        harness_.MoveMouse(2000.0f, 2000.0f);
        Frame();
    }
    // The editors of a form without filter or pin lines, in the child.
    struct Editors {
        float left, width, height, weightTop, intensityTop;
    };
    Editors Place() const {
        const float fh = Fh();
        const float y0 = m_.padding + 2.0f * fh + 2.0f * m_.gap;
        const float yb = m_.height - m_.padding - fh;
        const float eh = std::max(2.0f * fh + m_.gap, (yb - m_.gap - y0 - m_.gap) / 2.0f);
        return {m_.padding, m_.contentWidth - fh - m_.gap, eh, y0, y0 + eh + m_.gap};
    }
    // Press at (x, y) of the child, move by dy while held, release.
    void Drag(float x, float y, float dx, float dy) {
        Frame();
        ImGuiWindow* w = Scroll();
        ASSERT_NE(w, nullptr);
        harness_.MoveMouse(w->Pos.x + x, w->Pos.y + y);
        Frame();
        harness_.SetMouseButton(0, true);
        Frame();
        harness_.MoveMouse(w->Pos.x + x + dx, w->Pos.y + y + dy);
        Frame();
        harness_.SetMouseButton(0, false);
        Frame();
    }

    test::UiHarness harness_;
    test::PanelFrames frames_{harness_};
    UILayout layout_;
    InspectorMetrics m_;
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

}  // namespace korvel::test
