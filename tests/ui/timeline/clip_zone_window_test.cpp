// The clip zone's overlays drawn in a real window on the virtual display,
// read back from the frame the window presents: the playhead, the dimming
// outside the work area, and the drop marker in a hover frame.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "app/background_job.h"
#include "app/theme.h"
#include "platform/window/host.h"
#include "support/ui/window_frame.h"
#include "timeline_fixture.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {
namespace {

using test::Blend;
using test::Distance;
using test::Rgb;
using test::Unpack;

class ClipZoneWindowTest : public test::WindowFrameTest {
protected:
    void TearDown() override {
        GlobalAppState.dropState = DropState{};
        GlobalAppState.workAreaIn = GlobalAppState.workAreaOut = -1.0f;
        CurrentProject.built = false;
        test::WindowFrameTest::TearDown();
    }
    // One frame with a desktop drag of sound files hovering (SDL reports it
    // only in the frame of the drop), kept as the read-back frame. The pulse
    // follows the UI clock, which the host advances by the real frame time:
    // the clock is set that much before the pulse's height (sin(4 t) = 1),
    // and the frame drawn again until it lands there.
    void DrawHoverFrame(bool alt) {
        const double peak = std::numbers::pi / 8.0;
        double lead = 0.0;
        for (int attempt = 0; attempt < 20; ++attempt) {
            DropState& drop = GlobalAppState.dropState;
            drop.hoverAudio = true;
            drop.dragAltHeld = alt;
            drop.dropX = TimeToX(5.0f);
            drop.dropY = Timeline.groupArea.areaTop + 10.0f;
            SetUiClockSeconds(peak - lead);
            GlobalAppState.pendingThumbnailPath = runtime_.file("hover.png");
            RunLoopPass();
            const double drawn = UiClockSeconds();
            if (std::sin(4.0 * drawn) > 0.95) return;
            lead = drawn - (peak - lead);
        }
        ADD_FAILURE() << "no frame drawn at the pulse's height";
    }
};

TEST_F(ClipZoneWindowTest, PlayheadDimmingAndDropMarkerReadBack) {
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
    p.totalDuration = 60.0f;
    p.events.clear();
    p.results.clear();
    p.built = true;  // no empty-state texts over the lanes
    s.viewStart = 0.0f;
    s.viewEnd = 40.0f;
    s.playhead = 30.0f;
    s.playing = false;
    s.activeTab = 0;
    s.workAreaIn = 10.0f;
    s.workAreaOut = 20.0f;
    s.dropState = DropState{};
    Draw();

    // Dimming: the empty marker lane outside the work area takes the lane
    // shade at half alpha; inside it stays.
    const float laneY = Timeline.markerTop + Timeline.markerHeight / 2.0f;
    const Rgb inside = At(TimeToX(15.0f), laneY);
    const Rgb before = At(TimeToX(5.0f), laneY);
    const Rgb after = At(TimeToX(25.0f), laneY);
    const Rgb shade = Unpack(ThemePalette.timelineShade2);
    EXPECT_LE(Distance(before, Blend(inside, shade, 128)), 4);
    EXPECT_LE(Distance(after, Blend(inside, shade, 128)), 4);
    EXPECT_GT(Distance(before, inside), 3) << "the dimming shows";

    // The playhead's triangle at the top, in the highlight colour.
    const float x = TimeToX(30.0f);
    const float top = Timeline.y0 + 2.0f;
    const Rgb highlight = Unpack(ThemePalette.highlight);
    const Rgb tip = At(x, top + 1.0f);
    const Rgb ground = At(x + 20.0f, top + 1.0f);
    EXPECT_LE(Distance(tip, Blend(ground, highlight, static_cast<int>(ThemePalette.highlight >> 24))), 45);
    const float midY = Timeline.groupArea.areaTop + Timeline.groupArea.areaHeight / 2.0f;
    const Rgb beside = At(x + 20.0f, midY);
    EXPECT_GT(Distance(At(x, midY), beside), 20) << "the line runs down the lanes";
    EXPECT_LE(Distance(At(x + 4.0f, midY), beside), 2) << "a narrow band only";
    const Rgb labelSpot = At(x + 8.0f, top + 8.0f);

    // The hover frame: the drop marker in the drag colour, with its label's
    // box in the popup colour.
    DrawHoverFrame(false);
    const Rgb pale = Unpack(ThemePalette.accentPale);
    const Rgb markerTip = At(x, top + 1.0f);
    EXPECT_LT(Distance(markerTip, pale) + 20, Distance(tip, pale)) << "the marker replaces the playhead";
    EXPECT_LE(Distance(At(x + 8.0f, top + 8.0f), Blend(labelSpot, Unpack(ThemePalette.popupBg), 220)), 8)
        << "the label's box";
    EXPECT_GT(Distance(At(x + 4.0f, midY), beside), 2) << "the wide band";

    // Alt held during the drag: a Bed drop, in the Bed colour.
    DrawHoverFrame(true);
    const Rgb bed = Unpack(GetEventKindColor(KindValue(EventKind::Bed), 255));
    const Rgb bedTip = At(x, top + 1.0f);
    EXPECT_LT(Distance(bedTip, bed) + 20, Distance(bedTip, pale));
    EXPECT_LT(Distance(markerTip, pale) + 20, Distance(markerTip, bed));

    // The frame after the drop draws the playhead again.
    Draw();
    EXPECT_LE(Distance(At(x, top + 1.0f), tip), 2);
}

}  // namespace
}  // namespace korvel
