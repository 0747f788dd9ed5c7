// The transport bar's decisions without drawing: the timecode at fractional
// rates, frame steps at both ends and at 0 fps, Build's state over palettes,
// locks, jobs and the picture read, what a Build asks for, the volume and
// the meters, and the edits of the left group and unlock all.
#include "app/transport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "picture/video_player.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"

namespace korvel {
namespace {

TEST(TransportTimecode, CountsAtTheProjectRateThroughTheSharedFormatter) {
    struct Case {
        const char* name;
        float startTC, playhead, fps;
        const char* text;
    };
    const Case cases[] = {
        {"whole rate", 0.0f, 1.5f, 24.0f, "00:00:01:12"},
        {"start timecode added", 3600.0f, 61.0f, 25.0f, "01:01:01:00"},
        // Split by trunc(29.97) = 29 this read 00:00:10:10.
        {"29.97 rolls over at its nominal rate", 0.0f, 10.0f, 29.97f, "00:00:10:00"},
        {"23.976 one second", 0.0f, 1.0f, 23.976f, "00:00:01:00"},
        {"before zero reads zero", 0.0f, -2.0f, 24.0f, "00:00:00:00"},
        {"no rate counts 25 frames", 0.0f, 1.2f, 0.0f, "00:00:01:05"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TransportTimecodeText(c.startTC, c.playhead, c.fps), c.text);
    }
}

TEST(TransportFrameStep, StaysInsideTheProjectAndTreatsNoRateAs25) {
    struct Case {
        const char* name;
        float playhead, fps, duration;
        int direction;
        float expected;
    };
    const Case cases[] = {
        {"back at zero stays", 0.0f, 24.0f, 10.0f, -1, 0.0f},
        {"forward at the end stays", 10.0f, 24.0f, 10.0f, 1, 10.0f},
        {"forward one frame at 25", 1.0f, 25.0f, 10.0f, 1, 1.04f},
        {"back one frame at 30", 1.0f, 30.0f, 10.0f, -1, 1.0f - 1.0f / 30.0f},
        // At 0 fps a step divided by zero and jumped to the end.
        {"0 fps steps a 25th forward", 2.0f, 0.0f, 10.0f, 1, 2.04f},
        {"0 fps steps a 25th back", 2.0f, 0.0f, 10.0f, -1, 1.96f},
        {"negative fps reads as 25", 2.0f, -5.0f, 10.0f, 1, 2.04f},
        {"NaN fps reads as 25", 2.0f, NAN, 10.0f, 1, 2.04f},
        {"negative duration pins to 0", 3.0f, 24.0f, -1.0f, 1, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppState& state = GlobalAppState;
        Project project;
        project.fps = c.fps;
        project.totalDuration = c.duration;
        state.playhead = c.playhead;
        TransportFrameStep(state, project, c.direction);
        EXPECT_NEAR(state.playhead, c.expected, 1e-5f);
    }
    GlobalAppState.playhead = 0.0f;
}

TEST(TransportBuildButton, StateCaptionAndTooltip) {
    struct Case {
        const char* name;
        int events, locked;
        bool palettes, job, reading;
        bool enabled;
        const char* caption;
        const char* tooltip;  // null: none shows
    };
    const char* const noSounds = "No sounds loaded \xe2\x80\x94 scan a folder in Library";
    const char* const reading = "Reading the picture\xe2\x80\xa6 \xe2\x80\x94 Build is available once the picture is read";
    const char* const allLocked = "All events are locked \xe2\x80\x94 unlock to build";
    const Case cases[] = {
        {"ready", 3, 0, true, false, false, true, "Build", "Build all events"},
        {"some locked", 3, 1, true, false, false, true, "Build", "Build all unlocked events"},
        {"all locked", 3, 3, true, false, false, false, "Build", allLocked},
        {"no events", 0, 0, true, false, false, false, "Build", nullptr},
        {"job running", 3, 0, true, true, false, false, "Build", nullptr},
        {"job running, all locked", 3, 3, true, true, false, false, "Build", allLocked},
        {"reading the picture", 3, 0, true, false, true, false, "Build", reading},
        {"no palettes", 3, 0, false, false, false, false, "Add Sounds", nullptr},
        {"no palettes, all locked", 3, 3, false, false, false, false, "Add Sounds", noSounds},
        {"no palettes, reading", 3, 0, false, false, true, false, "Add Sounds", noSounds},
        {"no palettes, no events", 0, 0, false, false, false, false, "Add Sounds", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BuildButtonView view = GetBuildButtonView(c.events, c.locked, c.palettes, c.job, c.reading);
        EXPECT_EQ(view.enabled, c.enabled);
        EXPECT_STREQ(view.caption, c.caption);
        if (c.tooltip == nullptr) EXPECT_EQ(view.tooltip, nullptr) << view.tooltip;
        else EXPECT_STREQ(view.tooltip, c.tooltip);
    }
}

class TransportEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        CurrentProject.events.clear();
        UndoStack.clear();
        RedoStack.clear();
        GlobalAppState.unsavedChanges = false;
        GlobalAppState.pendingRenderMode = 0;
        GlobalAppState.pendingRenderEvents.clear();
        GlobalAppState.playhead = 0.0f;
        GlobalAppState.sceneKeywordTemplate[0] = '\0';
    }
    void TearDown() override { SetUp(); }
    void AddEvents(std::initializer_list<bool> locks) {
        for (bool locked : locks) {
            const std::int32_t i = CurrentProject.AddEvent(1.0f, 0, 0.5f);
            CurrentProject.events[static_cast<std::size_t>(i)].locked = locked;
        }
    }
};

TEST_F(TransportEditTest, BuildListsExactlyTheUnlockedEvents) {
    struct Case {
        const char* name;
        std::initializer_list<bool> locks;
        int mode;
        std::vector<std::int32_t> list;
    };
    const Case cases[] = {
        {"none locked builds everything", {false, false, false}, 1, {}},
        {"the middle one locked", {false, true, false}, 4, {0, 2}},
        {"only the last unlocked", {true, true, false}, 4, {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        AddEvents(c.locks);
        GlobalAppState.pendingRenderEvents = {7, 8};  // left from before: replaced
        RequestBuild(GlobalAppState, CurrentProject);
        EXPECT_EQ(GlobalAppState.pendingRenderMode, c.mode);
        EXPECT_EQ(GlobalAppState.pendingRenderEvents, c.list);
        EXPECT_EQ(UndoStack.size(), 1u) << "a build can be undone";
    }
}

TEST_F(TransportEditTest, ShapeButtonsMarkTheProjectChangedWithoutAnUndoStep) {
    AppState& state = GlobalAppState;
    state.playhead = 4.0f;
    std::snprintf(state.sceneKeywordTemplate, sizeof state.sceneKeywordTemplate, "%s", "rain, night");
    const std::int32_t index = AddShapeEventAtPlayhead(state, CurrentProject, 2);
    ASSERT_EQ(index, 0);
    const Event& event = CurrentProject.events[0];
    EXPECT_EQ(event.shape, 2);
    EXPECT_FLOAT_EQ(event.time, 4.0f);
    EXPECT_FLOAT_EQ(event.weightCenter, 0.3f);
    EXPECT_STREQ(event.keywords, "rain, night");
    EXPECT_EQ(state.selectedEvent, 0);
    EXPECT_TRUE(state.unsavedChanges) << "the prompt and the auto-save must see the new event";
    EXPECT_TRUE(UndoStack.empty());

    state.sceneKeywordTemplate[0] = '\0';
    const std::int32_t second = AddShapeEventAtPlayhead(state, CurrentProject, 0);
    EXPECT_STREQ(CurrentProject.events[static_cast<std::size_t>(second)].keywords, "");
}

TEST_F(TransportEditTest, UnlockAllTakesOneUndoStepOnlyWhenSomethingIsLocked) {
    AddEvents({false, false});
    UnlockAllEvents(CurrentProject);
    EXPECT_TRUE(UndoStack.empty());
    CurrentProject.events[1].locked = true;
    EXPECT_EQ(CountLockedEvents(CurrentProject), 1);
    UnlockAllEvents(CurrentProject);
    EXPECT_EQ(CountLockedEvents(CurrentProject), 0);
    EXPECT_EQ(UndoStack.size(), 1u);
}

TEST(TransportLeftGroup, DisabledOnTheTraceTabWithReadsAndUnderTheEditGuard) {
    AppState& state = GlobalAppState;
    struct Case {
        const char* name;
        int tab;
        bool markers, job, exporting;
        bool disabled;
    };
    const Case cases[] = {
        {"events tab", 0, false, false, false, false},
        {"events tab with markers", 0, true, false, false, false},
        {"trace tab, nothing read", 1, false, false, false, false},
        {"trace tab with markers", 1, true, false, false, true},
        {"a job reads the project", 0, false, true, false, true},
        {"an export reads the project", 0, false, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        state.activeTab = c.tab;
        state.markerEvents.clear();
        if (c.markers) state.markerEvents.emplace_back();
        state.backgroundJob.active.store(c.job);
        state.exportRunning.store(c.exporting);
        EXPECT_EQ(TransportLeftGroupDisabled(state), c.disabled);
    }
    state.activeTab = 0;
    state.markerEvents.clear();
    state.backgroundJob.active.store(false);
    state.exportRunning.store(false);
}

TEST(TransportLeftGroup, LabelsFitOnlyWhenTheFourLabelsFitLeftOfTheTransport) {
    // bw 90, F 18, s 26: needed = 360 + 13.5 + 18 + 52 + 36 = 479.5.
    EXPECT_TRUE(TransportLabelsFit(1600.0f, 18.0f, 90.0f, 26.0f, 300.0f));   // room 650
    EXPECT_TRUE(TransportLabelsFit(1259.0f, 18.0f, 90.0f, 26.0f, 300.0f));   // room 479.5
    EXPECT_FALSE(TransportLabelsFit(1258.0f, 18.0f, 90.0f, 26.0f, 300.0f));  // room 479
    EXPECT_FALSE(TransportLabelsFit(700.0f, 18.0f, 90.0f, 26.0f, 300.0f));
}

TEST(TransportVolume, DragClampsAndReadsInDecibels) {
    struct Case {
        const char* name;
        float gain, dx, expected;
    };
    const Case cases[] = {
        {"right by 25 units", 1.0f, 25.0f, 1.2f},
        {"past the top", 1.4f, 100.0f, 1.5f},
        {"past the bottom", 0.1f, -100.0f, 0.0f},
        {"no movement", 0.7f, 0.0f, 0.7f},
        {"a NaN movement keeps the gain", 0.7f, NAN, 0.7f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(DragMasterGain(c.gain, c.dx), c.expected, 1e-6f);
    }
    EXPECT_NEAR(MasterGainDb(1.0f), 0.0f, 1e-6f);
    EXPECT_NEAR(MasterGainDb(1.5f), 3.5218f, 1e-3f);
    EXPECT_EQ(MasterGainDb(0.001f), -60.0f);
    EXPECT_EQ(MasterGainDb(0.0f), -60.0f);
}

TEST(TransportMeters, BallisticsFillAndZones) {
    // One time constant: 63 % of the way up in 15 ms, down to 37 % in 180 ms.
    EXPECT_NEAR(FollowTransportMeter(0.0f, 1.0f, 0.015f), 1.0f - std::exp(-1.0f), 1e-5f);
    EXPECT_NEAR(FollowTransportMeter(1.0f, 0.0f, 0.18f), std::exp(-1.0f), 1e-5f);
    EXPECT_EQ(FollowTransportMeter(0.5f, 1.0f, 0.0f), 0.5f);
    EXPECT_NEAR(FollowTransportMeter(0.5f, INFINITY, 0.18f), 0.5f * std::exp(-1.0f), 1e-5f);

    EXPECT_FLOAT_EQ(TransportMeterFill(1.0f, 60.0f), 60.0f);
    EXPECT_FLOAT_EQ(TransportMeterFill(2.0f, 60.0f), 60.0f);
    EXPECT_NEAR(TransportMeterFill(std::pow(10.0f, -24.0f / 20.0f), 60.0f), 30.0f, 1e-3f);
    EXPECT_EQ(TransportMeterFill(0.0039f, 60.0f), 0.0f);
    EXPECT_EQ(TransportMeterFill(NAN, 60.0f), 0.0f);
    EXPECT_EQ(TransportMeterZone(0.95f), 2);
    EXPECT_EQ(TransportMeterZone(0.9f), 1);
    EXPECT_EQ(TransportMeterZone(0.75f), 1);
    EXPECT_EQ(TransportMeterZone(0.7f), 0);

    auto engine = std::make_unique<PlaybackEngine>();
    engine->peakL.store(0.8f);
    engine->peakR.store(-0.4f);  // a negative peak reads by its size
    engine->playing.store(true);
    transportMeterLevel[0] = transportMeterLevel[1] = 0.0f;
    for (int i = 0; i < 30; ++i) UpdateTransportMeters(*engine, 0.01f);
    EXPECT_NEAR(transportMeterLevel[0], 0.8f, 1e-3f);
    EXPECT_NEAR(transportMeterLevel[1], 0.4f, 1e-3f);
    engine->playing.store(false);  // stopped: the meters fall though the peaks stay
    for (int i = 0; i < 300; ++i) UpdateTransportMeters(*engine, 0.01f);
    EXPECT_LT(transportMeterLevel[0], 1e-6f);
    transportMeterLevel[0] = transportMeterLevel[1] = 0.0f;
}

TEST(TransportPlayback, PlayStopAndTheEngine) {
    auto engine = std::make_unique<PlaybackEngine>();
    SetPlaybackSampleRate(*engine, 48000);
    AppState& state = GlobalAppState;
    VideoPlayer& video = GlobalVideoPlayer;  // none loaded
    state.playing = false;
    state.playhead = 2.0f;

    engine->ready.store(false);
    TransportPlayPause(state, *engine, video);
    EXPECT_TRUE(state.playing);
    EXPECT_FALSE(engine->playing.load()) << "an engine that is not ready is left alone";
    TransportPlayPause(state, *engine, video);

    engine->ready.store(true);
    TransportPlayPause(state, *engine, video);
    EXPECT_TRUE(state.playing);
    EXPECT_TRUE(engine->playing.load());
    EXPECT_NEAR(GetPlaybackTime(*engine), 2.0, 1e-4);
    TransportPlayPause(state, *engine, video);
    EXPECT_FALSE(state.playing);
    EXPECT_FALSE(engine->playing.load());

    TransportPlayPause(state, *engine, video);
    TransportStop(state, *engine, video);
    EXPECT_FALSE(state.playing);
    EXPECT_FALSE(engine->playing.load());
    EXPECT_EQ(state.playhead, 0.0f);
    EXPECT_EQ(GetPlaybackTime(*engine), 0.0);
}

}  // namespace
}  // namespace korvel
