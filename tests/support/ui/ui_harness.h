#pragma once
// A UI context without a window or renderer, for testing frame logic and
// widgets headless: the font atlas is built, the display has a fixed size,
// and the test writes the mouse and keys into the UI library's input
// between frames and advances the UI clock itself (no test sleeps to pass
// time). One harness at a time; it owns the UI library's current context.
#include <imgui.h>

struct ImGuiWindow;

namespace korvel::test {

// The window active in the current frame whose name holds `part` (a child's
// name ends in its id, "##libscroll"), or null.
ImGuiWindow* FindActiveWindow(const char* part);

class UiHarness {
public:
    explicit UiHarness(float width = 1280.0f, float height = 720.0f);
    ~UiHarness();
    UiHarness(const UiHarness&) = delete;
    UiHarness& operator=(const UiHarness&) = delete;

    // Starts a frame `seconds` after the last one; the UI clock advances by
    // the same time when the frame runs DrawUI.
    void BeginFrame(float seconds = 1.0f / 60.0f);
    // Ends it: the draw data is made but drawn nowhere.
    void EndFrame();
    // BeginFrame, DrawUI, EndFrame.
    void RunDrawUI(float seconds = 1.0f / 60.0f);

    // Input for the next frame, in UI units.
    void MoveMouse(float x, float y);
    void SetMouseButton(int button, bool down);
    // `key` is an ImGuiKey: KeysDown is mapped one to one.
    void SetKey(int key, bool down);
    void SetCtrl(bool down);
    void SetShift(bool down);

    ImGuiIO& io() { return ImGui::GetIO(); }

private:
    ImGuiContext* context_ = nullptr;
    ImGuiContext* previous_ = nullptr;
    bool inFrame_ = false;
};

}  // namespace korvel::test
