// The window under a window manager (openbox) on the virtual display, driven
// by real X pointer and key events (XTest): the pointer after the window's
// own maximise button and after a move, a vertical drag in the inspector
// from its first frame, and Escape on the open menu.
#include <SDL.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>

#include "app/shell.h"
#include "app/theme.h"
#include "app/ui_layout.h"
#include "platform/window/host.h"
#include "project/app_state.h"
#include "project/project.h"
#include "support/ui/ui_harness.h"
#include "support/ui/window_frame.h"
#include "support/ui/x_input.h"
#include "ui/timeline/events_tab.h"

namespace korvel {
namespace {

using test::Distance;
using test::Rgb;
using test::Unpack;

class RealInputTest : public test::WindowFrameTest {
protected:
    void SetUp() override {
        if (!wm_.running()) GTEST_SKIP() << "openbox could not be started (scripts/deps.sh installs it)";
        WindowFrameTest::SetUp();
        input_ = std::make_unique<test::XInput>(MainWindowHandle);
        ASSERT_TRUE(input_->ready()) << "the display has no XTest";
        PumpFor(0.3);  // the window manager maps and places the window
    }
    void TearDown() override {
        input_.reset();
        CurrentProject = Project{};
        GlobalAppState.selectedEvents.clear();
        GlobalAppState.selectedEvent = -1;
        WindowFrameTest::TearDown();
    }

    // Runs the loop for `seconds` (idle passes wait up to 50 ms for input).
    void PumpFor(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) RunLoopPass();
    }
    bool PumpUntil(const std::function<bool()>& done, double seconds = 5.0) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            RunLoopPass();
        }
        return true;
    }
    void MoveTo(float x, float y) {
        input_->MoveTo(x, y);
        PumpFor(0.15);
    }
    void Press(bool down) {
        input_->Button(1, down);
        PumpFor(0.15);
    }
    void ClickAt(float x, float y) {
        MoveTo(x, y);
        Press(true);
        Press(false);
    }

    // The active tab's underline along the title bar's bottom, in UI units
    // (UI scale 1 on the virtual display: window pixels).
    bool ActiveTabSpan(float& left, float& right) {
        const float th = GlobalAppState.windowChrome.titleHeight;
        const Rgb accent = Unpack(ThemePalette.accent);
        left = right = -1.0f;
        for (float x = GlobalAppState.windowChrome.dragRight; x < ImGui::GetIO().DisplaySize.x; x += 1.0f) {
            const bool on = Distance(At(x, th - 1.5f), accent) <= 3;
            if (on && left < 0.0f) left = x;
            if (!on && left >= 0.0f) {
                right = x;
                break;
            }
        }
        return left >= 0.0f && right > left;
    }

    // With another tab active, a click on the events tab's drawn centre
    // selects it; the frame shows its underline.
    void ClickEventsTabAtItsCentre(const char* when) {
        SCOPED_TRACE(when);
        AppState& s = GlobalAppState;
        s.activeTab = 0;
        Draw();
        float left = 0.0f;
        float right = 0.0f;
        ASSERT_TRUE(ActiveTabSpan(left, right));
        const float centre = (left + right) / 2.0f;
        const float th = s.windowChrome.titleHeight;
        s.activeTab = 4;
        Draw();
        ClickAt(centre, th / 2.0f);
        EXPECT_EQ(s.activeTab, 0) << "the click landed on the events tab";
        Draw();
        EXPECT_LE(Distance(At(centre, th - 1.5f), Unpack(ThemePalette.accent)), 3);
    }

    bool Maximised() const { return (SDL_GetWindowFlags(MainWindowHandle) & SDL_WINDOW_MAXIMIZED) != 0; }
    void ClickMaximiseButton() {
        const PixelRect r = CaptionButtonRects[1];
        ClickAt(static_cast<float>(r.left + r.right) / 2.0f, static_cast<float>(r.top + r.bottom) / 2.0f);
    }

    test::WindowManager wm_;
    std::unique_ptr<test::XInput> input_;
};

TEST_F(RealInputTest, ClicksLandWhereThePointerIsAfterMaximiseAndMove) {
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(MainWindowHandle, &width, &height);
    ClickEventsTabAtItsCentre("as opened");

    ClickMaximiseButton();
    ASSERT_TRUE(PumpUntil([&] {
        int w = 0;
        int h = 0;
        SDL_GetWindowSize(MainWindowHandle, &w, &h);
        return Maximised() && w > width;
    })) << "the window manager maximised the window";
    ClickEventsTabAtItsCentre("maximised by its own button");

    ClickMaximiseButton();  // now the restore button
    ASSERT_TRUE(PumpUntil([&] { return !Maximised(); }));
    PumpFor(0.3);
    ClickEventsTabAtItsCentre("restored");

    // A move by the title bar's empty part, as a user drags it.
    int beforeX = 0;
    int beforeY = 0;
    input_->WindowOrigin(beforeX, beforeY);
    const WindowChrome& chrome = GlobalAppState.windowChrome;
    const float grabX = (chrome.dragLeft + chrome.dragRight) / 2.0f;
    const float grabY = chrome.titleHeight / 2.0f;
    MoveTo(grabX, grabY);
    Press(true);
    int screenX = 0;
    int screenY = 0;
    input_->WindowOrigin(screenX, screenY);
    for (int step = 1; step <= 6; ++step) {
        // Screen positions: the window follows the pointer meanwhile.
        int x = 0;
        int y = 0;
        input_->WindowOrigin(x, y);
        input_->MoveTo(grabX + static_cast<float>(screenX - x + 30 * step),
                       grabY + static_cast<float>(screenY - y + 20 * step));
        PumpFor(0.1);
    }
    Press(false);
    int afterX = 0;
    int afterY = 0;
    ASSERT_TRUE(PumpUntil([&] {
        input_->WindowOrigin(afterX, afterY);
        return afterX != beforeX || afterY != beforeY;
    })) << "the window manager moved the window";
    PumpFor(0.3);
    ClickEventsTabAtItsCentre("moved");
}

// In the maximised window, a real press on the weight editor and a 30-pixel
// upward move, with no other clicks: the offset rises by 30 / the editor's
// height, not by the pointer's way onto the editor.
TEST_F(RealInputTest, WeightEditorDragCountsFromThePress) {
    ClickMaximiseButton();
    ASSERT_TRUE(PumpUntil([&] { return Maximised(); })) << "the window manager maximised the window";
    PumpFor(0.3);
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
    Event spot;
    spot.shape = KindValue(EventKind::Spot);
    spot.time = 2.0f;
    spot.duration = 2.0f;
    p.events = {spot};
    p.totalDuration = 30.0f;
    s.selectedEvents = {0};
    s.selectedEvent = 0;
    s.activeTab = 0;
    Draw();
    ImGuiWindow* scroll = test::FindActiveWindow("##inspscroll");
    if (scroll == nullptr) {
        RunLoopPass();
        scroll = test::FindActiveWindow("##inspscroll");
    }
    ASSERT_NE(scroll, nullptr);

    // The editors' places as the inspector lays them out.
    UILayoutInputs in;
    in.displayWidth = ImGui::GetIO().DisplaySize.x;
    in.displayHeight = ImGui::GetIO().DisplaySize.y;
    in.fontSize = s.fonts.bodyFont != nullptr ? s.fonts.bodyFont->FontSize * ImGui::GetIO().FontGlobalScale : 13.0f;
    const InspectorMetrics m = ComputeInspectorMetrics(ComputeUILayout(in));
    const float fh = m.fontSize + 2.0f * ImGui::GetStyle().FramePadding.y;
    const float y0 = m.padding + 2.0f * fh + 2.0f * m.gap;
    const float yb = m.height - m.padding - fh;
    const float eh = std::max(2.0f * fh + m.gap, (yb - m.gap - y0 - m.gap) / 2.0f);
    const float x = scroll->Pos.x + m.padding + 0.3f * (m.contentWidth - fh - m.gap);
    const float y = scroll->Pos.y + y0 + 0.6f * eh;

    // From far away straight onto the editor, pressed at once.
    input_->MoveTo(x, y + 250.0f);
    PumpFor(0.15);
    input_->MoveTo(x, y);
    input_->Button(1, true);
    for (int step = 1; step <= 3; ++step) MoveTo(x, y - 10.0f * static_cast<float>(step));
    Press(false);
    EXPECT_NEAR(p.events[0].weightOffset, 30.0f / eh, 0.1f * 30.0f / eh) << "editor height " << eh;
}

// The menu opened by the title bar's menu button closes on Escape, also
// while the pointer rests on a row whose submenu it opened.
TEST_F(RealInputTest, EscapeClosesTheMenu) {
    Draw();
    const WindowChrome& chrome = GlobalAppState.windowChrome;
    // The menu button sits just left of the caption's empty part.
    ClickAt(chrome.dragLeft - 10.0f, chrome.titleHeight / 2.0f);
    const auto menuOpen = [] { return !GImGui->OpenPopupStack.empty(); };
    ASSERT_TRUE(PumpUntil(menuOpen, 2.0)) << "the menu opened";
    const ImGuiWindow* menu = GImGui->OpenPopupStack[0].Window;
    ASSERT_NE(menu, nullptr);
    MoveTo(menu->Pos.x + menu->WindowPadding.x + 10.0f, menu->Pos.y + menu->WindowPadding.y + 6.0f);
    ASSERT_TRUE(PumpUntil([] { return GImGui->OpenPopupStack.Size == 2; }, 2.0)) << "the submenu opened on hover";
    input_->Key(XK_Escape, true);
    input_->Key(XK_Escape, false);
    EXPECT_TRUE(PumpUntil([&] { return !menuOpen(); }, 2.0)) << "Escape closed the menu";
}

}  // namespace
}  // namespace korvel
