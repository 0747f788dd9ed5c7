#include "support/ui/ui_harness.h"

#include <imgui_internal.h>

#include <cstring>

#include "app/background_job.h"
#include "app/frame/frame.h"
#include "app/frame_work.h"
#include "project/app_state.h"
#include "app/frame/theme_style.h"
#include "app/theme.h"

namespace korvel::test {

ImGuiWindow* FindActiveWindow(const char* part) {
    for (ImGuiWindow* w : ImGui::GetCurrentContext()->Windows)
        if (std::strstr(w->Name, part) != nullptr && w->Active) return w;
    return nullptr;
}

UiHarness::UiHarness(float width, float height) {
    previous_ = ImGui::GetCurrentContext();
    context_ = ImGui::CreateContext();
    ImGui::SetCurrentContext(context_);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    io.DisplaySize = ImVec2(width, height);
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    // Each named key reads KeysDown at its own index, so tests press keys by
    // their ImGuiKey name.
    for (int key = 0; key < ImGuiKey_COUNT; ++key) io.KeyMap[key] = key;
    // The atlas must exist before a frame starts; no renderer takes it.
    unsigned char* pixels = nullptr;
    int w = 0;
    int h = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
    io.Fonts->SetTexID(reinterpret_cast<ImTextureID>(static_cast<intptr_t>(1)));
    ShellThemeHooks.applyTheme = ApplyThemeToStyle;
}

UiHarness::~UiHarness() {
    if (inFrame_) EndFrame();
    ShellThemeHooks.applyTheme = nullptr;
    ImGui::DestroyContext(context_);
    ImGui::SetCurrentContext(previous_);
}

void UiHarness::BeginFrame(float seconds) {
    ImGuiIO& io = ImGui::GetIO();
    io.DeltaTime = seconds > 0.0f ? seconds : 1e-4f;
    ImGui::NewFrame();
    inFrame_ = true;
}

void UiHarness::EndFrame() {
    ImGui::Render();
    inFrame_ = false;
    // No renderer, so no copy of the frame for a frozen job: it runs
    // without its picture, as after a failed copy.
    BackgroundJob& job = GlobalAppState.backgroundJob;
    if (job.snapshotRequested) SnapshotCopyFinished(job, false, nullptr);
}

void UiHarness::RunDrawUI(float seconds) {
    BeginFrame(seconds);
    DrawUI();
    EndFrame();
}

void UiHarness::MoveMouse(float x, float y) { ImGui::GetIO().MousePos = ImVec2(x, y); }
void UiHarness::SetMouseButton(int button, bool down) { ImGui::GetIO().MouseDown[button] = down; }
void UiHarness::SetKey(int key, bool down) { ImGui::GetIO().KeysDown[key] = down; }
void UiHarness::SetCtrl(bool down) { ImGui::GetIO().KeyCtrl = down; }
void UiHarness::SetShift(bool down) { ImGui::GetIO().KeyShift = down; }

}  // namespace korvel::test
