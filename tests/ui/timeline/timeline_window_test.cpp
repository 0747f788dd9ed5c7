// The timeline drawn in a real window on the virtual display (Mesa's
// software OpenGL), read back from the frame the window presents.
#include <gtest/gtest.h>
#include <imgui.h>

#include <cstdlib>
#include <string>

#include "app/theme.h"
#include "platform/window/gl_host.h"
#include "platform/window/host.h"
#include "project/thumbnail.h"
#include "support/temp_dir.h"
#include "timeline_fixture.h"
#include "ui/timeline/timeline_edit.h"

namespace korvel {
namespace {

struct Rgb {
    int r, g, b;
};

int Distance(Rgb a, Rgb b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b); }

class TimelineWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", runtime_.file("config").c_str(), 1);
        setenv("XDG_DATA_HOME", runtime_.file("data").c_str(), 1);
        int exitCode = -1;
        ASSERT_TRUE(StartUp("", exitCode));
        // Keep the whole frame the window draws, not only the thumbnail.
        GlobalAppState.platformHooks.readBackBuffer = [this](ThumbnailFrame& frame) {
            const bool read = ReadBackBuffer(frame);
            if (read) frame_ = frame;
            return read;
        };
        RunLoopPass();
    }
    void TearDown() override { ShutDown(); }

    // Draws two frames and keeps the second.
    void Draw() {
        RunLoopPass();
        GlobalAppState.pendingThumbnailPath = runtime_.file("frame.png");
        RunLoopPass();
        ASSERT_GT(frame_.width, 0);
    }
    // The pixel at (x, y) in UI units (the display's scale is 1 at 96 dpi).
    Rgb At(float x, float y) const {
        const float scale = static_cast<float>(frame_.width) / ImGui::GetIO().DisplaySize.x;
        const auto px = static_cast<std::size_t>(x * scale);
        const auto py = static_cast<std::size_t>(y * scale);
        const std::uint8_t* p = frame_.pixels.data() + py * frame_.rowPitch + px * 4;
        return {p[0], p[1], p[2]};
    }

    test::TempDir runtime_;
    ThumbnailFrame frame_;
};

TEST_F(TimelineWindowTest, WorkAreaBandAndSelectedBlockReadBack) {
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
    p.totalDuration = 60.0f;
    p.events = {test::MakeEvent(10.0f, 4.0f)};
    s.viewStart = 0.0f;
    s.viewEnd = 40.0f;
    s.workAreaIn = 20.0f;
    s.workAreaOut = 30.0f;
    s.selectedEvents.clear();
    s.selectedEvent = -1;
    Draw();

    // Between minor ticks, below the labels: the band against the ruler
    // outside it.
    const float minor = RulerTickStep(Timeline.laneWidth, Timeline.viewSpan) / 4.0f;
    const float rulerY = Timeline.y0 + 4.0f + 18.0f;
    const Rgb inside = At(TimeToX(25.0f + minor / 2.0f), rulerY);
    const Rgb outside = At(TimeToX(35.0f + minor / 2.0f), rulerY);
    const std::uint32_t band = ThemePalette.timelineShade1;
    if ((band >> 24) == 0xFF) {
        EXPECT_LE(Distance(inside, {int(band & 0xFF), int(band >> 8 & 0xFF), int(band >> 16 & 0xFF)}), 3);
    }
    EXPECT_GT(Distance(inside, outside), 3) << "the work area shows on the ruler";

    // A block's fill, away from its marker and label: stronger selected.
    const float blockY = Timeline.markerTop + Timeline.markerHeight - 3.0f;
    const Rgb lane = At(TimeToX(20.0f), blockY);
    const Rgb plain = At(TimeToX(13.5f), blockY);
    s.selectedEvents = {0};
    s.selectedEvent = 0;
    Draw();
    const Rgb selected = At(TimeToX(13.5f), blockY);
    EXPECT_EQ(Distance(At(TimeToX(20.0f), blockY), lane), 0) << "the lane itself is unchanged";
    EXPECT_GT(Distance(selected, lane), Distance(plain, lane) + 10) << "the selected block stands out";
}

}  // namespace
}  // namespace korvel
