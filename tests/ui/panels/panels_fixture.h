#pragma once
// Shared set-up of the panel tests: frames run as the window runs them
// (keyboard navigation off while a widget asked for it), a host window to
// draw into, and clicks and key presses spread over the frames the UI
// library needs to see them.
#include <imgui.h>
#include <imgui_internal.h>

#include <functional>

#include "app/frame/frame.h"
#include "support/ui/ui_harness.h"

namespace korvel::test {

class PanelFrames {
public:
    explicit PanelFrames(UiHarness& harness) : harness_(harness) {}

    // One frame drawing `body` inside a full-display host window.
    void Run(const std::function<void()>& body) {
        ImGuiIO& io = harness_.io();
        io.DeltaTime = 1.0f / 60.0f;
        NewUiFrame();
        SuppressKeyboardNav = false;
        ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
        ImGui::SetNextWindowSize(io.DisplaySize);
        ImGui::Begin("##host", nullptr,
                     ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                         ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
        body();
        ImGui::End();
        ImGui::Render();
    }

    // Press in one frame, release in the next.
    void Click(float x, float y, const std::function<void()>& body, int button = 0) {
        harness_.MoveMouse(x, y);
        harness_.SetMouseButton(button, true);
        Run(body);
        harness_.SetMouseButton(button, false);
        Run(body);
    }
    void Press(ImGuiKey key, const std::function<void()>& body) {
        harness_.SetKey(key, true);
        Run(body);
        harness_.SetKey(key, false);
        Run(body);
    }

private:
    UiHarness& harness_;
};

}  // namespace korvel::test
