// The ruler's work area and the marker lane's gestures, apart from drawing:
// In/Out rules and edge drags, rows, hit order, moves, resizes, marquee.
#include "ui/timeline/timeline_edit.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "library/waveform.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"
#include "playback/playback_engine.h"
#include "timeline_fixture.h"

namespace korvel {
namespace {

class TimelineEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetTimelineState();
        test::SetLaneView(0.0f, 80.0f);  // 10 px a second
    }
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

TEST_F(TimelineEditTest, InAndOutButtons) {
    struct Case {
        const char* name;
        bool in;  // the In button, else Out
        float before[2], playhead, after[2];
    };
    const Case cases[] = {
        {"In sets at the playhead", true, {-1, 20}, 5, {5, 20}},
        {"In at or after Out clears Out", true, {-1, 20}, 20, {20, -1}},
        {"In clears a set In", true, {3, 20}, 5, {-1, 20}},
        {"Out sets at the playhead", false, {3, -1}, 9, {3, 9}},
        {"Out at or before In clears In", false, {9, -1}, 9, {-1, 9}},
        {"Out clears a set Out", false, {3, 8}, 9, {3, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.workAreaIn = c.before[0];
        s.workAreaOut = c.before[1];
        s.playhead = c.playhead;
        s.workAreaScene = 0;
        s.unsavedChanges = false;
        c.in ? ToggleWorkAreaIn(s) : ToggleWorkAreaOut(s);
        EXPECT_EQ(s.workAreaIn, c.after[0]);
        EXPECT_EQ(s.workAreaOut, c.after[1]);
        EXPECT_EQ(s.workAreaScene, -1) << "the work area leaves its scene";
        EXPECT_TRUE(s.unsavedChanges) << "saved with the project, so marked changed";
    }
}

TEST_F(TimelineEditTest, WorkAreaEdgeDrags) {
    Scene scene;
    scene.inTime = 2.0f;
    scene.outTime = 6.0f;
    p.scenes = {scene};
    struct Case {
        const char* name;
        int edge;
        float pointer;
        int ownerScene;
        float wantIn, wantOut;
    };
    const Case cases[] = {
        {"in edge", 1, 3.0f, -1, 3.0f, 6.0f},
        {"in past out stops 0.01 s before", 1, 9.0f, -1, 5.99f, 6.0f},
        {"out before in stops 0.01 s after", 2, 1.0f, -1, 2.0f, 2.01f},
        {"the owning scene follows", 2, 8.0f, 0, 2.0f, 8.0f},
        {"an invalid owner is skipped", 1, 1.0f, 4, 1.0f, 6.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.workAreaIn = 2.0f;
        s.workAreaOut = 6.0f;
        s.workAreaScene = c.ownerScene;
        p.scenes[0].inTime = 2.0f;
        p.scenes[0].outTime = 6.0f;
        s.unsavedChanges = false;
        DragWorkAreaEdge(s, p, c.edge, c.pointer);
        EXPECT_NEAR(s.workAreaIn, c.wantIn, 1e-5f);
        EXPECT_NEAR(s.workAreaOut, c.wantOut, 1e-5f);
        EXPECT_TRUE(s.unsavedChanges);
        const bool follows = c.ownerScene == 0;
        EXPECT_NEAR(p.scenes[0].inTime, follows ? c.wantIn : 2.0f, 1e-5f);
        EXPECT_NEAR(p.scenes[0].outTime, follows ? c.wantOut : 6.0f, 1e-5f);
    }
    // Grabbing: within 8 px of an edge (x = 120 and 160), else nothing.
    s.workAreaIn = 2.0f;
    s.workAreaOut = 6.0f;
    EXPECT_EQ(WorkAreaEdgeAt(s, 127.0f), 1);
    EXPECT_EQ(WorkAreaEdgeAt(s, 153.0f), 2);
    EXPECT_EQ(WorkAreaEdgeAt(s, 140.0f), 0);
    s.workAreaOut = -1.0f;
    EXPECT_EQ(WorkAreaEdgeAt(s, 120.0f), 0) << "no work area, no edge";
}

TEST_F(TimelineEditTest, RowsReuseTheFirstFreeRow) {
    p.events = {test::MakeEvent(0, 2), test::MakeEvent(1, 2), test::MakeEvent(2.5f, 1.5f), test::MakeEvent(2, 0)};
    const EventRows rows = LayOutEventRows(p.events);
    EXPECT_EQ(rows.count, 2);
    EXPECT_EQ(rows.row, (std::vector<std::int32_t>{0, 1, 0, 0}));
    EXPECT_EQ(LayOutEventRows({}).count, 0);
}

TEST_F(TimelineEditTest, HitOrder) {
    // Block A 10..30 s (x 200..400), sync at 12 s; B 18..22 s, sync at 20 s.
    p.events = {test::MakeEvent(10, 20, 2), test::MakeEvent(18, 4, 2)};
    struct Case {
        const char* name;
        float x;
        std::int32_t primary;
        std::int32_t want;
    };
    const Case cases[] = {
        {"a sync marker within 10 px wins over blocks", 309, 0, 1},
        {"the nearest marker", 218, -1, 0},
        {"the primary event's block next", 285, 0, 0},
        {"else the last block in index order", 285, -1, 1},
        {"a block alone", 380, -1, 0},
        {"nothing", 450, 0, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HitEventAt(p.events, nullptr, 0, c.x, c.primary, true), c.want) << c.name;
    }
    EventRows rows = LayOutEventRows(p.events);  // A row 0, B row 1
    EXPECT_EQ(HitEventAt(p.events, &rows, 0, 309, -1, true), 0) << "only the pointer's row counts";
    EXPECT_EQ(HitEventAt(p.events, &rows, 5, 309, -1, true), -1);
}

TEST_F(TimelineEditTest, ResizeCandidates) {
    p.events = {test::MakeEvent(10, 5), test::MakeEvent(10, 6), test::MakeEvent(10, 5)};
    std::snprintf(p.events[2].folder, sizeof(Event::folder), "%s", "Hits");
    s.linkedGroups = {"Hits"};
    s.selectedEvents = {0, 1, 2};
    EXPECT_EQ(ResizeCandidateAt(s, p.events, nullptr, 0, 254), 0) << "end at x 250, within 6 px";
    EXPECT_EQ(ResizeCandidateAt(s, p.events, nullptr, 0, 257), 1) << "the nearer end (x 260)";
    p.events[0].muted = true;
    EXPECT_EQ(ResizeCandidateAt(s, p.events, nullptr, 0, 250), -1) << "muted, and a linked group's member";
    s.selectedEvents = {1};
    EXPECT_EQ(ResizeCandidateAt(s, p.events, nullptr, 0, 250), -1) << "beyond 6 px of the selected end";
}

TEST_F(TimelineEditTest, MovesAreClampedAndCarryLayersAndVoices) {
    p.totalDuration = 10.0f;
    p.events = {test::MakeEvent(0.5f, 1), test::MakeEvent(3, 1), test::MakeEvent(6, 1)};
    p.results.resize(3);
    for (int i = 0; i < 3; ++i) {
        p.results[static_cast<std::size_t>(i)].eventIdx = i;
        p.results[static_cast<std::size_t>(i)].startTime = p.events[static_cast<std::size_t>(i)].time;
    }
    PlaybackEngine engine;
    engine.voices.resize(2);
    engine.voices[0].eventIndex = 1;
    engine.voices[0].startTime = 3.0f;
    engine.voices[1].eventIndex = 2;
    engine.voices[1].startTime = 6.0f;
    s.selectedEvents = {0, 1};

    struct Case {
        float delta, want;
    };
    for (const Case& c : {Case{-2.0f, -0.5f}, Case{9.0f, 7.0f}, Case{1.0f, 1.0f}}) {
        EXPECT_NEAR(ClampSelectionMove(s, p, c.delta), c.want, 1e-5f) << c.delta;
    }
    ASSERT_TRUE(MoveSelectedEvents(s, p, engine, -2.0f));
    EXPECT_NEAR(p.events[0].time, 0.0f, 1e-5f) << "the earliest sync point stops at 0";
    EXPECT_NEAR(p.events[1].time, 2.5f, 1e-5f);
    EXPECT_NEAR(p.events[2].time, 6.0f, 1e-5f) << "not selected";
    EXPECT_NEAR(p.results[1].startTime, 2.5f, 1e-5f);
    EXPECT_NEAR(p.results[2].startTime, 6.0f, 1e-5f);
    EXPECT_NEAR(engine.voices[0].startTime, 2.5f, 1e-5f);
    EXPECT_NEAR(engine.voices[1].startTime, 6.0f, 1e-5f);

    p.events[1].sceneLink = 0;
    EXPECT_FALSE(MoveSelectedEvents(s, p, engine, 1.0f)) << "a scene-linked event refuses the move";
    EXPECT_NEAR(p.events[0].time, 0.0f, 1e-5f);

    s.selectedEvents = {0, 7, -3};  // invalid indices are skipped
    EXPECT_TRUE(MoveSelectedEvents(s, p, engine, 1.0f));
    EXPECT_NEAR(p.events[0].time, 1.0f, 1e-5f);
}

TEST_F(TimelineEditTest, ResizeLimits) {
    p.totalDuration = 40.0f;
    p.fps = 25.0f;
    struct Case {
        const char* name;
        Event event;
        float pointer;
        float wantEnd, wantDuration, wantSync;
    };
    Event linked = test::MakeEvent(2, 2);
    linked.sceneLink = 0;
    const Case cases[] = {
        {"sync offset kept in proportion", test::MakeEvent(4, 4, 1), 12, 12, 8, 2},
        {"never shorter than a frame", test::MakeEvent(4, 4, 1), 1, 4.04f, 0.04f, 0.01f},
        {"never past the project", test::MakeEvent(4, 4), 55, 40, 36, 0},
        {"snapped to the frame grid", test::MakeEvent(4, 4), 9.01f, 9, 5, 0},
        {"a scene-linked event refuses", linked, 9, -1, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.events = {c.event};
        p.events[0].locked = true;
        EXPECT_NEAR(ResizeEventTo(p, 0, c.pointer), c.wantEnd, 1e-4f);
        EXPECT_NEAR(p.events[0].duration, c.wantDuration, 1e-4f);
        EXPECT_NEAR(p.events[0].syncOffset, c.wantSync, 1e-4f);
        EXPECT_EQ(p.events[0].locked, c.wantEnd < 0.0f) << "a resized event is built again";
    }
    EXPECT_EQ(ResizeEventTo(p, 3, 5.0f), -1.0f);
}

// A Clip cannot be stretched past the end of its source.
TEST_F(TimelineEditTest, ClipResizeStopsAtItsSourceEnd) {
    test::TempDir dir;
    const std::string wav = dir.file("ten.wav");
    ASSERT_TRUE(test::WriteSoundFile(wav, test::MakeSine(440.0, 10.0, 8000), 1, 8000));
    LoadWaveformOverview(wav.c_str());
    Event clip = test::MakeEvent(20, 5, 1, EventKind::Clip);
    std::snprintf(clip.pinnedFile, sizeof(clip.pinnedFile), "%s", wav.c_str());
    clip.clipSourceOffset = 3.0f;
    p.events = {clip};
    EXPECT_NEAR(ResizeEventTo(p, 0, 35.0f), 27.0f, 1e-3f);
    EXPECT_NEAR(p.events[0].clipSourceDuration, 7.0f, 1e-3f);
    EXPECT_NEAR(p.events[0].syncOffset, 1.0f, 1e-5f) << "a Clip's sync offset is only held inside it";
    ClearWaveformCache();
}

TEST_F(TimelineEditTest, MarqueeSelectsOverlapsAndLinkedGroups) {
    p.events = {test::MakeEvent(0, 2), test::MakeEvent(5, 2), test::MakeEvent(9, 2), test::MakeEvent(30, 1)};
    std::snprintf(p.events[1].folder, sizeof(Event::folder), "%s", "Hits");
    std::snprintf(p.events[3].folder, sizeof(Event::folder), "%s", "Hits");
    s.linkedGroups = {"Hits"};
    s.selectedEvents = {0};
    SelectMarquee(s, p, 6.5f, 9.0f, true);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{1, 2})) << "Alt: the group stays out";
    EXPECT_EQ(s.selectedEvent, 1);
    EXPECT_TRUE(s.scrollToSelection);
    SelectMarquee(s, p, 6.5f, 9.0f, false);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{1, 2, 3}));
    SelectMarquee(s, p, 20.0f, 25.0f, false);
    EXPECT_TRUE(s.selectedEvents.empty());
    EXPECT_EQ(s.selectedEvent, -1);
}

}  // namespace
}  // namespace korvel
