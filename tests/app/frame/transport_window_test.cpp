// The Build button and the busy overlay in a real window on the virtual
// display, read back from the frame the window presents: the button's face
// enabled and at the disabled opacity, and a frozen job's copy of the frame
// dimmed by the overlay in the right place.
#include <gtest/gtest.h>
#include <imgui.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/background_job.h"
#include "app/frame/transport_bar.h"
#include "app/theme.h"
#include "library/library.h"
#include "platform/window/host.h"
#include "project/app_state.h"
#include "project/project.h"
#include "support/ui/window_frame.h"

namespace korvel {
namespace {

using test::Blend;
using test::Distance;
using test::Rgb;
using test::Unpack;

class TransportWindowTest : public test::WindowFrameTest {
protected:
    void TearDown() override {
        release_.store(true);
        BackgroundJob& job = GlobalAppState.backgroundJob;
        for (int i = 0; i < 2000 && job.active.load(); ++i) {
            RunLoopPass();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        SoundLibrary.palettes.clear();
        CurrentProject.events.clear();
        WindowFrameTest::TearDown();
    }
    std::atomic<bool> release_{false};
};

TEST_F(TransportWindowTest, BuildButtonFaceEnabledAndDisabled) {
    GlobalAppState.launcherOpen = false;
    SoundLibrary.palettes.emplace_back();
    const Rgb bar = Unpack(ThemePalette.transportBg);
    const Rgb accent = Unpack(ThemePalette.accent);
    struct Case {
        const char* name;
        bool events;
        Rgb face;
    };
    const Case cases[] = {
        {"enabled", true, accent},
        {"no events: disabled at a fifth", false, Blend(bar, accent, 51)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CurrentProject.events.clear();
        if (c.events) CurrentProject.AddEvent(1.0f, 0, 0.5f);
        Draw();
        const TransportRect r = LastTransportBarRects.build;
        // Left of the caption, clear of the rounded corners.
        const Rgb seen = At(r.x0 + 4.0f, r.CentreY());
        EXPECT_LE(Distance(seen, c.face), 12) << seen.r << "," << seen.g << "," << seen.b;
    }
}

TEST_F(TransportWindowTest, BusyOverlayDimsTheFrozenPictureInPlace) {
    AppState& s = GlobalAppState;
    s.launcherOpen = false;
    Draw();
    // The bar's empty left end, clear of the overlay's rings and texts.
    const float y = LastTransportBarRects.play.CentreY();
    const Rgb before = At(5.0f, y);
    ASSERT_LE(Distance(before, Unpack(ThemePalette.transportBg)), 6);

    StartBackgroundJob(
        "Updating audio...",
        [this] {
            BackgroundJob& job = GlobalAppState.backgroundJob;
            while (!release_.load()) std::this_thread::yield();
            job.done.store(true, std::memory_order_release);
        },
        false, 0.5f);
    RunLoopPass();  // the frame the job's picture is copied from
    ASSERT_FALSE(s.backgroundJob.snapshotRequested);
    ASSERT_NE(s.backgroundJob.snapshotView, nullptr) << "the host copied the frame";
    s.backgroundJob.startTime -= 1.0;  // past the fade-in
    Draw();
    const Rgb during = At(5.0f, y);
    const Rgb expected = Blend(before, Unpack(ThemePalette.busyBg), 140);
    EXPECT_LE(Distance(during, expected), 9) << during.r << "," << during.g << "," << during.b;
    // Upside down, the copy would show the title bar's colour here instead.
    const Rgb top = At(5.0f, 2.0f);
    EXPECT_LE(Distance(top, Blend(Unpack(ThemePalette.barBg), Unpack(ThemePalette.busyBg), 140)), 9);
}

}  // namespace
}  // namespace korvel
