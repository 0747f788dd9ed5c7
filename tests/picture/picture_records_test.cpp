#include <gtest/gtest.h>

#include "picture/markers.h"
#include "picture/trace_analysis.h"
#include "picture/video_player.h"
#include "project/fixed_text.h"

namespace korvel {
namespace {

// The detector and the preferences read these before anything fills them.
TEST(PictureRecords, Defaults) {
    TraceModel model;
    EXPECT_FALSE(model.valid);
    EXPECT_FLOAT_EQ(model.w[0], 0.6f);
    EXPECT_FLOAT_EQ(model.w[1], 0.4f);
    EXPECT_FLOAT_EQ(model.w[4], 0.0f);
    EXPECT_FLOAT_EQ(model.thresholdScale, 1.0f);
    EXPECT_FLOAT_EQ(model.subtleScale, 0.45f);
    EXPECT_FLOAT_EQ(model.gainA, 0.85f);
    EXPECT_FLOAT_EQ(model.minGap, 0.5f);

    TraceSettings settings;
    EXPECT_FLOAT_EQ(settings.sensitivity, 0.7f);
    EXPECT_FLOAT_EQ(settings.minGap, 0.25f);
    EXPECT_FLOAT_EQ(settings.window, 4.0f);

    // New and opened projects read these before any video is loaded.
    const VideoPlayer player;
    EXPECT_FALSE(player.loaded);
    EXPECT_FLOAT_EQ(player.timelineOffset, 0.0f);
    EXPECT_EQ(player.frameView, nullptr);

    TraceAnalysis analysis;
    EXPECT_FALSE(analysis.valid);
    EXPECT_EQ(analysis.framesDone.load(), 0);
    EXPECT_TRUE(analysis.frames.empty());
    TraceAnalysis copy = analysis;  // saved and restored by value
    EXPECT_FALSE(copy.valid);

    MarkerEvent marker;
    EXPECT_FLOAT_EQ(marker.duration, 3.0f);
    EXPECT_FLOAT_EQ(marker.weightCenter, 0.3f);
    EXPECT_FLOAT_EQ(marker.spread, -1.0f);
    EXPECT_FLOAT_EQ(marker.gain, -1.0f);
    EXPECT_FLOAT_EQ(marker.syncFraction, -1.0f);
    EXPECT_TRUE(marker.enabled);
    EXPECT_EQ(TextOf(marker.name), "");
}

}  // namespace
}  // namespace korvel
