#pragma once
// A UI context without a window, set up as the real window's (fonts built, a
// 1080p display, vertex lists split past 65,536 as the OpenGL back end does),
// and one frame drawn inside a full-display window: the frame benchmarks'
// shared fixture. Main thread only.
#include <imgui.h>

#include <cstddef>

#include "app/ui_layout.h"

namespace korvel::bench {

class HeadlessUi {
public:
    HeadlessUi() : context_(ImGui::CreateContext()) {
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DisplaySize = ImVec2(1920.0f, 1080.0f);
        io.BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
        unsigned char* pixels = nullptr;
        int w = 0;
        int h = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
        UILayoutInputs in;
        in.displayWidth = io.DisplaySize.x;
        in.displayHeight = io.DisplaySize.y;
        layout = ComputeUILayout(in);
    }
    ~HeadlessUi() { ImGui::DestroyContext(context_); }
    HeadlessUi(const HeadlessUi&) = delete;
    HeadlessUi& operator=(const HeadlessUi&) = delete;

    // NewFrame to Render with `draw` inside "##main"; the frame's vertex count.
    template <typename Draw>
    std::size_t Frame(Draw&& draw) {
        ImGuiIO& io = ImGui::GetIO();
        io.DeltaTime = 1.0f / 60.0f;
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
        ImGui::SetNextWindowSize(io.DisplaySize);
        ImGui::Begin("##main", nullptr, ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoSavedSettings);
        draw();
        ImGui::End();
        ImGui::Render();
        return static_cast<std::size_t>(ImGui::GetDrawData()->TotalVtxCount);
    }

    UILayout layout;

private:
    ImGuiContext* context_ = nullptr;
};

}  // namespace korvel::bench
