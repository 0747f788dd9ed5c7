// The title bar and the video area in a real window on the virtual display,
// read back from the frame the window presents.
#include <SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <string>

#include "app/background_job.h"
#include "app/frame/title_bar.h"
#include "app/theme.h"
#include "platform/window/gl_host.h"
#include "platform/window/host.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/thumbnail.h"
#include "support/temp_dir.h"
#include "support/ui/window_frame.h"

namespace korvel {
namespace {

using test::Distance;
using test::Rgb;
using test::Unpack;

class TitleBarWindowTest : public test::WindowFrameTest {
protected:
    void TearDown() override {
        GlobalAppState.projectPath.clear();
        WindowFrameTest::TearDown();
    }
};

TEST_F(TitleBarWindowTest, BarTabUnderlineAndVideoAreaReadBack) {
    AppState& s = GlobalAppState;
    s.projectPath = runtime_.file("Reel 3.kvproj");
    s.activeTab = 0;
    Draw();
    const WindowChrome& chrome = s.windowChrome;
    const float th = chrome.titleHeight;
    ASSERT_GT(th, 0.0f);

    // The empty caption between the name and the tabs.
    EXPECT_LE(Distance(At((chrome.dragLeft + chrome.dragRight) / 2.0f + 40.0f, 3.0f), Unpack(ThemePalette.barBg)), 3);
    // The events tab is the leftmost: its underline runs along the bottom.
    EXPECT_LE(Distance(At(chrome.dragRight + 3.0f, th - 1.5f), Unpack(ThemePalette.accent)), 3);
    EXPECT_GT(Distance(At(chrome.dragRight + 3.0f, th - 5.0f), Unpack(ThemePalette.accent)), 20) << "2 units high";
    // The video area without a video, away from its load button.
    EXPECT_LE(Distance(At(20.0f, th + 20.0f), Unpack(ThemePalette.videoBg)), 3);

    s.activeTab = 4;
    Draw();
    EXPECT_GT(Distance(At(chrome.dragRight + 3.0f, th - 1.5f), Unpack(ThemePalette.accent)), 20)
        << "the underline moved to the active tab";
}

TEST_F(TitleBarWindowTest, CaptionButtonHoverFills) {
    Draw();
    const float th = GlobalAppState.windowChrome.titleHeight;
    const float width = ImGui::GetIO().DisplaySize.x;
    const float minimiseX = width - 3.0f * 46.0f + 6.0f;
    const Rgb plain = At(minimiseX, 4.0f);
    SDL_WarpMouseInWindow(MainWindowHandle, static_cast<int>(minimiseX + 10.0f), static_cast<int>(th / 2.0f));
    Draw();
    Draw();
    if (HoveredCaptionButton != 1) GTEST_SKIP() << "the virtual display did not move the pointer";
    EXPECT_GT(Distance(At(minimiseX, 4.0f), plain), 3) << "the hovered button is filled";
}

TEST_F(TitleBarWindowTest, BusyOverlayDimsTheFrozenPicture) {
    Draw();
    const float th = GlobalAppState.windowChrome.titleHeight;
    const Rgb before = At(20.0f, th + 20.0f);
    std::atomic<bool> release{false};
    BackgroundJob& job = GlobalAppState.backgroundJob;
    StartBackgroundJob("Updating audio...", [&] {
        while (!release.load()) std::this_thread::yield();
        GlobalAppState.backgroundJob.done.store(true, std::memory_order_release);
    }, false, -1.0f);
    job.startTime -= 1.0;  // past the fade-in
    Draw();
    Draw();
    ASSERT_NE(job.snapshotView, nullptr) << "the frame was copied";
    const Rgb after = At(20.0f, th + 20.0f);
    const Rgb bg = Unpack(ThemePalette.busyBg);
    const float k = 140.0f / 255.0f;
    const Rgb expected{int(before.r + (bg.r - before.r) * k), int(before.g + (bg.g - before.g) * k),
                       int(before.b + (bg.b - before.b) * k)};
    EXPECT_LE(Distance(after, expected), 9) << "the copied picture, upright, under the busy colour at alpha 140";
    release.store(true);
    for (int i = 0; i < 400 && job.active.load(); ++i) RunLoopPass();
    EXPECT_FALSE(job.active.load());
}

}  // namespace
}  // namespace korvel
