// The timeline drawn in a real window on the virtual display (Mesa's
// software OpenGL), read back from the frame the window presents.
#include <gtest/gtest.h>
#include <imgui.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/theme.h"
#include "platform/window/gl_host.h"
#include "platform/window/host.h"
#include "project/thumbnail.h"
#include "support/temp_dir.h"
#include "support/ui/window_frame.h"
#include "timeline_fixture.h"
#include "ui/timeline/timeline_edit.h"
#include "ui/timeline/track_lanes.h"

namespace korvel {
namespace {

using test::Blend;
using test::Distance;
using test::Rgb;
using test::Unpack;

class TimelineWindowTest : public test::WindowFrameTest {};

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

// A small built project: a Clip whose file has no overview, a muted layer,
// and a soloed one.
TEST_F(TimelineWindowTest, LayersReadBack) {
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
    p.totalDuration = 60.0f;
    Event clip = test::MakeEvent(5.0f, 8.0f, 0.0f, EventKind::Clip);
    std::snprintf(clip.pinnedFile, sizeof clip.pinnedFile, "%s", runtime_.file("never-scanned.wav").c_str());
    Event muted = test::MakeEvent(15.0f, 8.0f, 0.0f, EventKind::Spot);
    muted.muted = true;
    p.events = {clip, muted, test::MakeEvent(25.0f, 8.0f, 0.0f, EventKind::Bloom)};
    p.results.clear();
    for (int i = 0; i < 3; ++i) {
        LayerResult layer;
        layer.eventIdx = i;
        layer.groupTrack = i == 1 ? 1 : 0;  // Clip and Spot share FX A, the Bloom is FX B
        layer.startTime = 5.0f + 10.0f * static_cast<float>(i);
        layer.duration = 8.0f;
        layer.sourceDuration = 8.0f;
        layer.fadeIn = layer.fadeOut = 0.0f;
        layer.weight = 0.5f;
        p.results.push_back(layer);
    }
    p.trackLayout.groups[0].usedLanes = 0;
    p.trackLayout.groups[1].usedLanes = 2;
    p.trackLayout.groups[2].usedLanes = 1;
    p.builtResultCount.store(3);
    p.built = true;
    s.groupVisible = {true, true, true};
    s.colorByWeight = true;
    s.soloLayer = -1;
    s.viewStart = 0.0f;
    s.viewEnd = 40.0f;
    s.workAreaIn = s.workAreaOut = -1.0f;
    s.selectedEvents.clear();
    s.selectedEvent = -1;
    Draw();

    const GroupAreaGeometry& area = Timeline.groupArea;
    ASSERT_GE(area.laneHeight, 16.0f);
    const float h = area.laneHeight;
    const Rgb lane = At(TimeToX(38.0f), area.LaneTop(1, 0) + h / 4.0f);

    // The Clip: its block, and only a thin bar across the middle.
    const float clipTop = area.LaneTop(1, 0);
    const Rgb block = At(TimeToX(9.0f), clipTop + h / 4.0f);
    EXPECT_LE(Distance(block, Blend(lane, Unpack(kClipLayerRgb), 230)), 6) << "the Clip's block colour";
    EXPECT_LE(Distance(At(TimeToX(9.0f), clipTop + 3.0f * h / 4.0f), block), 2) << "no waveform";
    const Rgb bar = At(TimeToX(9.0f), clipTop + h / 2.0f - 0.5f);
    EXPECT_LE(Distance(bar, Blend(block, Unpack(kClipLayerRgb), 180)), 6);
    EXPECT_GT(Distance(bar, block), 4) << "the flat bar shows";

    // The muted layer: a faint block in the neutral colour.
    const Rgb dim = At(TimeToX(19.0f), area.LaneTop(1, 1) + h / 4.0f);
    EXPECT_LE(Distance(dim, Blend(lane, Unpack(ThemePalette.neutralMark), 40)), 6);

    // The soloed layer gets a yellow outline; its inside stays.
    const float soloTop = area.LaneTop(2, 0);
    const float edgeX = std::floor(TimeToX(25.0f)) + 0.5f;
    const Rgb edge = At(edgeX, soloTop + h / 2.0f);
    const Rgb inside = At(TimeToX(29.0f), soloTop + h / 4.0f);
    // An audition plays: the frame ends one as soon as playback stops.
    s.soloLayer = 2;
    s.playing = true;
    Draw();
    s.playing = false;
    const Rgb soloEdge = At(edgeX, soloTop + h / 2.0f);
    const Rgb yellow = Unpack(ThemePalette.yellowMark);
    EXPECT_LT(Distance(soloEdge, yellow) + 20, Distance(edge, yellow)) << "the outline is drawn in yellow";
    EXPECT_LE(Distance(At(TimeToX(29.0f), soloTop + h / 4.0f), inside), 2);
    s.soloLayer = -1;
    p.built = false;
    p.results.clear();
    for (auto& group : p.trackLayout.groups) group.usedLanes = 0;
}

}  // namespace
}  // namespace korvel
