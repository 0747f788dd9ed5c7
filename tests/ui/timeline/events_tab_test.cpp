// The events tab's inspector headless: which form shows for a selection,
// the header's mute, lock and rebuild, the keyword, palette-filter and pin
// rows, and which edits mark the project changed.
#include "ui/timeline/events_tab.h"

#include <gtest/gtest.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "engine/render_job.h"
#include "inspector_fixture.h"
#include "picture/trace_analysis.h"
#include "playback/playback_engine.h"
#include "ui/timeline/inspector_edits.h"

namespace korvel {
namespace {

class EventsTabTest : public test::InspectorFixture {};

// Only a single selection with a valid primary shows the form; two or more
// show the batch form. The first control of both mutes: the single form's
// kind button its event, the batch form's button the whole selection.
TEST_F(EventsTabTest, FormShowsOnlyForOneValidPrimary) {
    struct Case {
        const char* name;
        std::set<std::int32_t> selected;
        std::int32_t primary;
        bool mutes0, mutes1;
    };
    const Case cases[] = {
        {"nothing selected", {}, -1, false, false},
        {"one entry, primary out of range", {0}, 7, false, false},
        {"one entry, primary -1", {0}, -1, false, false},
        {"one valid entry", {1}, 1, false, true},
        {"two entries show the batch form", {0, 1}, 1, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.events = {test::MakeEvent(1, 2, 0, EventKind::Bloom), test::MakeEvent(5, 2, 0, EventKind::Bloom)};
        s.selectedEvents = c.selected;
        s.selectedEvent = c.primary;
        ClickKindButton();
        EXPECT_EQ(p.events[0].muted, c.mutes0);
        EXPECT_EQ(p.events[1].muted, c.mutes1);
        EXPECT_EQ(s.unsavedChanges, c.mutes0 || c.mutes1);
        s.unsavedChanges = false;
    }
}

TEST_F(EventsTabTest, MuteReachesTheLiveVoicesOfTheEventOnly) {
    p.events = {test::MakeEvent(1, 2), test::MakeEvent(5, 2)};
    p.results.resize(3);
    p.results[0].eventIdx = 0;
    p.results[1].eventIdx = 0;
    p.results[1].muted = true;  // a layer muted on its own stays muted
    p.results[2].eventIdx = 1;
    {
        std::lock_guard<std::mutex> lock(LivePlaybackEngine.voiceMutex);
        LivePlaybackEngine.voices.resize(4);
        const std::int32_t events[] = {0, 0, 1, 0};
        const std::int32_t layers[] = {0, 1, 2, -1};  // the last lost its layer
        for (std::size_t i = 0; i < 4; ++i) {
            LivePlaybackEngine.voices[i].eventIndex = events[i];
            LivePlaybackEngine.voices[i].resultIndex = layers[i];
        }
    }
    const std::int32_t revision = p.revision;
    ToggleEventMute(s, p, LivePlaybackEngine, 0);
    EXPECT_TRUE(p.events[0].muted);
    EXPECT_EQ(p.revision, revision + 1);
    EXPECT_TRUE(s.unsavedChanges);
    auto mutedVoices = [] {
        std::vector<bool> out;
        for (const Voice& v : LivePlaybackEngine.voices) out.push_back(v.muted);
        return out;
    };
    EXPECT_EQ(mutedVoices(), (std::vector<bool>{true, true, false, false}));
    ToggleEventMute(s, p, LivePlaybackEngine, 0);
    EXPECT_EQ(mutedVoices(), (std::vector<bool>{false, true, false, false}));
    ToggleEventMute(s, p, LivePlaybackEngine, 9);  // out of range: nothing
    EXPECT_EQ(p.revision, revision + 2);
}

// Unmuting an event leaves the voice of a layer track allocation dropped
// silent, as every voice sync does.
TEST_F(EventsTabTest, UnmuteKeepsADroppedLayerSilent) {
    p.events = {test::MakeEvent(1, 2)};
    p.events[0].muted = true;
    p.results.resize(2);
    p.results[0].eventIdx = p.results[1].eventIdx = 0;
    p.results[1].groupTrack = -1;
    {
        std::lock_guard<std::mutex> lock(LivePlaybackEngine.voiceMutex);
        LivePlaybackEngine.voices.resize(2);
        for (std::int32_t i = 0; i < 2; ++i) {
            LivePlaybackEngine.voices[static_cast<std::size_t>(i)].eventIndex = 0;
            LivePlaybackEngine.voices[static_cast<std::size_t>(i)].resultIndex = i;
            LivePlaybackEngine.voices[static_cast<std::size_t>(i)].muted = true;
        }
    }
    ToggleEventMute(s, p, LivePlaybackEngine, 0);
    EXPECT_FALSE(LivePlaybackEngine.voices[0].muted);
    EXPECT_TRUE(LivePlaybackEngine.voices[1].muted);
}

// A muted event's controls wait for it to be unmuted; Clip and Bed cannot
// be unlocked at all.
TEST_F(EventsTabTest, LockFollowsKindAndMute) {
    struct Case {
        const char* name;
        EventKind kind;
        bool muted;
        bool flips;
    };
    const Case cases[] = {
        {"Bloom", EventKind::Bloom, false, true},
        {"Spot", EventKind::Spot, false, true},
        {"muted Bloom", EventKind::Bloom, true, false},
        {"Clip", EventKind::Clip, false, false},
        {"Bed", EventKind::Bed, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.events = {test::MakeEvent(1, 2, 0, c.kind)};
        p.events[0].muted = c.muted;
        SelectOne(0);
        s.unsavedChanges = false;
        ClickLock();
        EXPECT_EQ(p.events[0].locked, c.flips);
        EXPECT_EQ(s.unsavedChanges, c.flips);
        EXPECT_TRUE(UndoStack.empty()) << "a light edit";
    }
}

TEST_F(EventsTabTest, RebuildNeedsABuiltProjectAndNoJob) {
    p.events = {test::MakeEvent(1, 2), test::MakeEvent(5, 2)};
    p.events[1].locked = true;
    EXPECT_FALSE(RequestEventRebuild(s, p, 1)) << "never built";
    p.built = true;
    s.backgroundJob.active.store(true);
    EXPECT_FALSE(RequestEventRebuild(s, p, 1)) << "a job runs";
    EXPECT_EQ(s.pendingRenderMode, 0);
    EXPECT_TRUE(UndoStack.empty());
    s.backgroundJob.active.store(false);
    EXPECT_FALSE(RequestEventRebuild(s, p, 4)) << "out of range";
    ASSERT_TRUE(RequestEventRebuild(s, p, 1));
    EXPECT_FALSE(p.events[1].locked);
    EXPECT_EQ(s.pendingRenderMode, kRenderRebuildEvent);
    EXPECT_EQ(s.pendingRenderEvents, std::vector<std::int32_t>{1});
    EXPECT_EQ(UndoStack.size(), 1u);
}

TEST_F(EventsTabTest, PaletteFilterClearReachesEverySelectedEvent) {
    p.events = {test::MakeEvent(1, 2), test::MakeEvent(5, 2), test::MakeEvent(9, 2)};
    for (Event& e : p.events) std::snprintf(e.libFilter, sizeof(e.libFilter), "%s", "Rain");
    s.selectedEvents = {0, 2, 11};
    ClearSelectionPaletteFilter(s, p);
    EXPECT_STREQ(p.events[0].libFilter, "");
    EXPECT_STREQ(p.events[1].libFilter, "Rain") << "not selected";
    EXPECT_STREQ(p.events[2].libFilter, "");
    EXPECT_TRUE(s.unsavedChanges);
    s.unsavedChanges = false;
    ClearSelectionPaletteFilter(s, p);
    EXPECT_FALSE(s.unsavedChanges) << "nothing left to clear";
}

// The line under the keywords is the filter's when one is set, else the
// pins'; a click on either clears it.
TEST_F(EventsTabTest, FilterAndPinLinesClearOnClick) {
    p.events = {test::MakeEvent(1, 2, 0, EventKind::Bloom)};
    SelectOne(0);
    p.events[0].AddPinnedFile("/sounds/a.wav", "0000000000000001");
    std::snprintf(p.events[0].libFilter, sizeof(p.events[0].libFilter), "%s", "~none~");
    const float fh = Fh();
    const float thirdRow = SecondRowY() + fh + m_.gap;
    ClickAt(m_.padding + 10.0f, thirdRow + 4.0f);
    EXPECT_STREQ(p.events[0].libFilter, "");
    EXPECT_EQ(p.events[0].pinnedFiles.size(), 1u);
    EXPECT_TRUE(s.unsavedChanges);
    s.unsavedChanges = false;
    ClickAt(m_.padding + 10.0f, thirdRow + 4.0f);  // now the pin line
    EXPECT_TRUE(p.events[0].pinnedFiles.empty());
    EXPECT_TRUE(p.events[0].pinnedFileIds.empty());
    EXPECT_TRUE(s.unsavedChanges);
    EXPECT_TRUE(UndoStack.empty());
}

TEST_F(EventsTabTest, TypingKeywordsMarksChangesAndIdleFramesDoNot) {
    p.events = {test::MakeEvent(1, 2, 0, EventKind::Scatter)};
    std::snprintf(p.events[0].libFilter, sizeof(p.events[0].libFilter), "%s", "Rain");
    p.events[0].AddPinnedFile("/sounds/a.wav", "0000000000000001");
    SelectOne(0);
    for (int i = 0; i < 3; ++i) IdleFrame();
    EXPECT_FALSE(s.unsavedChanges) << "drawing the form changes nothing";

    ClickAt(m_.padding + 20.0f, SecondRowY() + Fh() * 0.5f);
    EXPECT_FALSE(s.unsavedChanges) << "focusing the field is no edit";
    harness_.io().AddInputCharacter('r');
    Frame();
    EXPECT_STREQ(p.events[0].keywords, "r");
    EXPECT_TRUE(s.unsavedChanges);
    EXPECT_TRUE(UndoStack.empty());
}

// What each kind's editors take: painting (Alt held), the vertical drags,
// and the sync marker.
TEST_F(EventsTabTest, EditorsByKind) {
    struct Case {
        const char* name;
        EventKind kind;
        bool muted;
        bool paintsWeight, paintsIntensity, dragsWeight, dragsIntensity, syncMarker;
    };
    const Case cases[] = {
        {"Spot", EventKind::Spot, false, false, false, true, true, true},
        {"Bloom", EventKind::Bloom, false, true, false, true, true, true},
        {"Contour", EventKind::Contour, false, true, false, true, true, true},
        {"Fill", EventKind::Fill, false, true, true, true, false, false},
        {"Scatter", EventKind::Scatter, false, true, true, true, true, true},
        {"muted Scatter", EventKind::Scatter, true, false, false, false, false, false},
    };
    auto peak = [](const CurvePoints& c) { return *std::max_element(c.begin(), c.end()); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.events = {test::MakeEvent(1, 4, 0, c.kind)};
        Event& e = p.events[0];
        e.muted = c.muted;
        e.syncOffset = 2.0f;  // the marker in the middle
        SelectOne(0);
        const Editors ed = Place();
        const float x = ed.left + ed.width * 0.25f;

        harness_.io().KeyAlt = true;
        Drag(x, ed.weightTop + ed.height * 0.5f, 0.0f, 0.0f);
        Drag(x, ed.intensityTop + ed.height * 0.5f, 0.0f, 0.0f);
        harness_.io().KeyAlt = false;
        IdleFrame();
        EXPECT_EQ(peak(e.weight) > 0.2f, c.paintsWeight);
        EXPECT_EQ(peak(e.intensity) > 0.2f, c.paintsIntensity);

        e.locked = true;
        Drag(x, ed.weightTop + ed.height * 0.5f, 0.0f, -ed.height * 0.25f);
        EXPECT_EQ(e.weightOffset > 0.2f, c.dragsWeight) << e.weightOffset;
        EXPECT_EQ(e.locked, !c.dragsWeight) << "a drag unlocks";
        Drag(x, ed.intensityTop + ed.height * 0.5f, 0.0f, -ed.height * 0.25f);
        EXPECT_EQ(e.intensityScale > 1.4f, c.dragsIntensity) << e.intensityScale;

        const std::size_t undos = UndoStack.size();
        Drag(ed.left + ed.width * 0.5f, ed.intensityTop + ed.height * 0.5f, ed.width * 0.25f, 0.0f);
        EXPECT_EQ(std::fabs(e.syncOffset - 3.0f) < 0.1f, c.syncMarker) << e.syncOffset;
        EXPECT_EQ(UndoStack.size(), undos + (c.syncMarker ? 1u : 0u)) << "the drag starts with a snapshot";
        EXPECT_EQ(e.intensityMode, c.kind == EventKind::Fill ? 2 : 0);
        ClearUndoHistory();
    }
}

// A press that arrives in the same frame as the pointer's way onto the
// editor: the first active frame's delta is that way, not the drag. The
// value follows only what the pointer moved while held.
TEST_F(EventsTabTest, VerticalDragsCountFromThePress) {
    struct Case {
        const char* name;
        bool weight;
        float wantChange;  // per pixel dragged up, in units of 1 / editor height
    };
    const Case cases[] = {{"weight offset", true, 1.0f}, {"intensity scale", false, 2.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.events = {test::MakeEvent(1, 4, 0, EventKind::Spot)};
        SelectOne(0);
        const Editors ed = Place();
        IdleFrame();
        ImGuiWindow* w = Scroll();
        ASSERT_NE(w, nullptr);
        const float x = w->Pos.x + ed.left + ed.width * 0.5f;
        const float y = w->Pos.y + (c.weight ? ed.weightTop : ed.intensityTop) + ed.height * 0.5f;
        harness_.MoveMouse(x, y - 300.0f);
        Frame();
        harness_.MoveMouse(x, y);  // a long way down, then pressed at once
        harness_.SetMouseButton(0, true);
        Frame();
        for (int step = 1; step <= 3; ++step) {
            harness_.MoveMouse(x, y - 10.0f * static_cast<float>(step));
            Frame();
        }
        harness_.SetMouseButton(0, false);
        Frame();
        const float moved = c.weight ? p.events[0].weightOffset : p.events[0].intensityScale - 1.0f;
        EXPECT_NEAR(moved, c.wantChange * 30.0f / ed.height, 1e-3f);
    }
}

// The marker moves the sync point; the default curve follows it except for
// Spot; the playhead follows only while stopped.
TEST_F(EventsTabTest, SyncDragReshapesAndMovesThePlayheadWhenStopped) {
    struct Case {
        const char* name;
        EventKind kind;
        bool playing;
        bool reshaped;
        float playhead;
    };
    const Case cases[] = {
        {"Bloom stopped", EventKind::Bloom, false, true, 6.0f},
        {"Bloom playing", EventKind::Bloom, true, true, 0.5f},
        {"Spot stopped", EventKind::Spot, false, false, 6.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.events = {test::MakeEvent(4, 4, 2, c.kind)};  // sync at 6, block 4..8
        p.events[0].EnsureDefaultIntensityCurve();
        const CurvePoints before = p.events[0].intensity;
        s.playing = c.playing;
        s.playhead = 0.5f;
        SelectOne(0);
        const Editors ed = Place();
        Drag(ed.left + ed.width * 0.5f, ed.intensityTop + 4.0f, -ed.width * 0.25f, 0.0f);
        EXPECT_NEAR(p.events[0].syncOffset, 1.0f, 0.05f);
        EXPECT_EQ(p.events[0].intensity != before, c.reshaped);
        EXPECT_FLOAT_EQ(s.playhead, c.playhead);
        EXPECT_EQ(p.events[0].time, 6.0f) << "the sync point stays on the picture";
    }
    s.playing = false;
}

TEST_F(EventsTabTest, DoubleClicksResetOffsetAndScale) {
    p.events = {test::MakeEvent(1, 4, 0, EventKind::Bloom)};
    p.events[0].weightOffset = 0.5f;
    p.events[0].intensityScale = 1.7f;
    SelectOne(0);
    const Editors ed = Place();
    const float x = ed.left + ed.width * 0.25f;
    for (float y : {ed.weightTop + 5.0f, ed.intensityTop + 5.0f}) {
        ClickAt(x, y);
        frames_.Click(Scroll()->Pos.x + x, Scroll()->Pos.y + y, body());
    }
    EXPECT_EQ(p.events[0].weightOffset, 0.0f);
    EXPECT_EQ(p.events[0].intensityScale, 1.0f);
    EXPECT_TRUE(s.unsavedChanges);
    s.unsavedChanges = false;
    ResetWeightOffset(s, p.events[0]);
    ResetIntensityScale(s, p.events[0]);
    EXPECT_FALSE(s.unsavedChanges) << "resetting a reset value is no edit";
}

// The field shows silence at its floor; the floor is stored as a level, not
// 0; live voices take the new gain at once.
TEST_F(EventsTabTest, GainAndPitchMappings) {
    const struct {
        float gain, db;
    } shown[] = {{0.0f, -24.0f}, {0.001f, -24.0f}, {1.0f, 0.0f}, {0.5f, -6.0206f}, {0.1f, -20.0f}};
    for (const auto& c : shown) EXPECT_NEAR(GainToDb(c.gain), c.db, 1e-3f) << c.gain;

    p.events = {test::MakeEvent(1, 4), test::MakeEvent(6, 4)};
    {
        std::lock_guard<std::mutex> lock(LivePlaybackEngine.voiceMutex);
        LivePlaybackEngine.voices.resize(2);
        LivePlaybackEngine.voices[0].eventIndex = 0;
        LivePlaybackEngine.voices[1].eventIndex = 1;
    }
    SetEventGainDb(s, p, LivePlaybackEngine, 0, -24.0f);
    EXPECT_NEAR(p.events[0].gain, 0.0631f, 1e-4f);
    EXPECT_NEAR(LivePlaybackEngine.voices[0].eventGain, 0.0631f, 1e-4f);
    EXPECT_EQ(LivePlaybackEngine.voices[1].eventGain, 1.0f);
    EXPECT_TRUE(s.unsavedChanges);
    s.unsavedChanges = false;
    SetEventGainDb(s, p, LivePlaybackEngine, 0, -30.0f);
    EXPECT_FALSE(s.unsavedChanges) << "clamped to the same level";

    p.events[0].locked = true;
    SetPitchVariation(s, p.events[0], 12.0f);
    EXPECT_FLOAT_EQ(p.events[0].pitchVariation, 0.5f);
    EXPECT_FALSE(p.events[0].locked);
    SetPitchVariation(s, p.events[0], 40.0f);
    EXPECT_FLOAT_EQ(p.events[0].pitchVariation, 1.0f);
}

// A gain drag in the form reaches the event; the stereo copy and Fill's
// forced mode, redone every frame, mark nothing.
TEST_F(EventsTabTest, BottomRowDragsAndPerFrameCopies) {
    p.events = {test::MakeEvent(1, 4, 0, EventKind::Fill)};
    p.events[0].stereo = !p.trackLayout.groups[static_cast<std::size_t>(EffectiveGroup(p.events[0]))].stereo;
    p.events[0].intensityMode = 0;
    SelectOne(0);
    for (int i = 0; i < 3; ++i) IdleFrame();
    EXPECT_EQ(p.events[0].intensityMode, 2);
    EXPECT_EQ(p.events[0].stereo, p.trackLayout.groups[static_cast<std::size_t>(EffectiveGroup(p.events[0]))].stereo);
    EXPECT_FALSE(s.unsavedChanges);

    const float yb = m_.height - m_.padding - Fh();
    Drag(m_.padding + 20.0f, yb + Fh() * 0.5f, -60.0f, 0.0f);
    EXPECT_LT(p.events[0].gain, 0.9f);
    EXPECT_GT(p.events[0].gain, 0.06f);
    EXPECT_TRUE(s.unsavedChanges);
    EXPECT_TRUE(UndoStack.empty());
}

// The picture's measures are on the video's axis: a video placed 5 s into
// the timeline and an event whose span starts 2 s before its sync point.
TEST_F(EventsTabTest, TraceSamplesTheEventSpanOnTheVideoAxis) {
    TraceAnalysis analysis;
    analysis.frames.resize(21);
    for (int i = 0; i <= 20; ++i) {
        analysis.frames[static_cast<std::size_t>(i)].time = static_cast<float>(i);
        analysis.frames[static_cast<std::size_t>(i)].luma = static_cast<float>(i) / 20.0f;
        analysis.frames[static_cast<std::size_t>(i)].composite = static_cast<float>(i) / 40.0f;
    }
    analysis.numFrames = 21;
    analysis.framesDone.store(21);
    analysis.fps = 1.0f;
    analysis.valid = true;
    Event e = test::MakeEvent(10, 4, 2);  // span 10..14 on the timeline: 5..9 on the video
    e.locked = true;
    TraceCurvesFromPicture(s, e, analysis, 5.0f);
    EXPECT_NEAR(e.weight[0], 0.5f * 0.25f + 0.3f, 1e-4f);
    EXPECT_NEAR(e.weight[255], 0.5f * 0.45f + 0.3f, 1e-4f);
    EXPECT_NEAR(e.intensity[0], 0.25f, 1e-4f);
    EXPECT_NEAR(e.intensity[255], 0.45f, 1e-4f);
    EXPECT_FALSE(e.locked);
    EXPECT_TRUE(s.unsavedChanges);
    // Clamps at both ends of each curve.
    TraceCurvesFromPicture(s, e, analysis, -30.0f);
    EXPECT_FLOAT_EQ(e.intensity[0], 1.0f);
    EXPECT_FLOAT_EQ(e.weight[0], 0.8f);
    TraceCurvesFromPicture(s, e, analysis, 30.0f);
    EXPECT_FLOAT_EQ(e.intensity[0], 0.05f);
}

// The bus names the other FX group; an override is kept only where the kind
// would not go there by itself, and layers follow their events.
TEST_F(EventsTabTest, BusToggleOverridesOnlyAgainstTheKindsDefault) {
    for (EventKind kind : {EventKind::Spot, EventKind::Bloom, EventKind::Scatter}) {
        SCOPED_TRACE(EventKindNames[static_cast<std::size_t>(KindValue(kind))]);
        p.events = {test::MakeEvent(1, 2, 0, kind), test::MakeEvent(4, 2, 0, kind)};
        p.results.assign(2, LayerResult{});
        p.results[0].eventIdx = 0;
        p.results[1].eventIdx = 1;
        for (int round = 0; round < 2; ++round) {
            const std::int32_t before = EffectiveGroup(p.events[0]);
            ToggleEventBus(p, 0);
            const std::int32_t now = EffectiveGroup(p.events[0]);
            EXPECT_EQ(now, before == 2 ? 1 : 2);
            EXPECT_EQ(p.events[0].groupOverride, now == DefaultGroupForKind(KindValue(kind)) ? -1 : now);
            EXPECT_EQ(p.events[0].stereo, p.trackLayout.groups[static_cast<std::size_t>(now)].stereo);
            EXPECT_EQ(p.results[0].group, now);
            EXPECT_EQ(p.results[1].group, EffectiveGroup(p.events[1]));
        }
        EXPECT_EQ(UndoStack.size(), 2u);
        ClearUndoHistory();
    }
}

TEST_F(EventsTabTest, ScaleTuningReachesTheSelectionAndDefersItsRebuild) {
    p.events = {test::MakeEvent(1, 2), test::MakeEvent(4, 2), test::MakeEvent(8, 2)};
    s.selectedEvents = {0, 1, 9};
    s.selectedEvent = 0;
    s.audioUpdateRequested.store(false);
    ToggleScaleTuning(s, p, 0);
    EXPECT_EQ(p.events[0].scaleTuneOverride, 2);
    EXPECT_EQ(p.events[1].scaleTuneOverride, 2);
    EXPECT_EQ(p.events[2].scaleTuneOverride, 0) << "not selected";
    EXPECT_FALSE(s.audioUpdateRequested.load()) << "no layers, nothing to rebuild";
    p.results.assign(1, LayerResult{});
    s.backgroundJob.active.store(true);
    ToggleScaleTuning(s, p, 0);
    EXPECT_EQ(p.events[1].scaleTuneOverride, 0);
    EXPECT_TRUE(s.audioUpdateRequested.load()) << "left to the frame while a job runs";
    EXPECT_EQ(UndoStack.size(), 2u);
    s.audioUpdateRequested.store(false);
}

TEST_F(EventsTabTest, SceneLinkLocksOnlyBedsAndLayerCountsClamp) {
    Event bed = test::MakeEvent(1, 8, 0, EventKind::Bed);
    Event fill = test::MakeEvent(1, 8, 0, EventKind::Fill);
    fill.locked = true;
    LinkEventScene(s, bed, 2);
    LinkEventScene(s, fill, 2);
    EXPECT_TRUE(bed.locked);
    EXPECT_FALSE(fill.locked);
    EXPECT_EQ(fill.sceneLink, 2);
    LinkEventScene(s, fill, -1);
    EXPECT_EQ(fill.sceneLink, -1);
    for (const auto& c : {std::pair{0, 1}, std::pair{7, 7}, std::pair{40, 24}}) {
        SetFillLayers(s, fill, c.first);
        EXPECT_EQ(fill.fillLayers, c.second);
    }
}

// Fill and Bed linked to a scene show its name and crossfade above the
// bottom row; a link to a removed scene shows no row but is kept.
TEST_F(EventsTabTest, SceneRowOnlyForAValidLink) {
    Scene scene;
    std::snprintf(scene.name, sizeof(scene.name), "%s", "Intro");
    struct Case {
        const char* name;
        EventKind kind;
        std::int32_t link;
        bool row;
    };
    const Case cases[] = {
        {"Fill linked", EventKind::Fill, 0, true},
        {"Fill linked to a removed scene", EventKind::Fill, 3, false},
        {"Scatter linked", EventKind::Scatter, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.scenes = {scene};
        p.events = {test::MakeEvent(1, 4, 0, c.kind)};
        p.events[0].sceneLink = c.link;
        p.events[0].sceneCrossfade = 10;
        SelectOne(0);
        s.unsavedChanges = false;
        const float y = m_.height - m_.padding - 2.0f * Fh() - m_.gap + Fh() * 0.5f;
        const float x = m_.padding + ImGui::CalcTextSize("\xee\x84\xb1  Intro").x + m_.gap + 10.0f;
        Drag(x, y, 30.0f, 0.0f);
        EXPECT_EQ(p.events[0].sceneCrossfade > 10, c.row) << p.events[0].sceneCrossfade;
        if (c.row) {
            EXPECT_TRUE(s.unsavedChanges);  // elsewhere the drag paints the curve
        }
        EXPECT_EQ(p.events[0].sceneLink, c.link);
        EXPECT_TRUE(UndoStack.empty());
    }
    Event fill = test::MakeEvent(1, 4);
    for (const auto& c : {std::pair{-5, 0}, std::pair{60, 60}, std::pair{400, 120}}) {
        SetSceneCrossfade(s, fill, c.first);
        EXPECT_EQ(fill.sceneCrossfade, c.second);
    }
}

// "Auto" layers show as 3, so a small drag to the right stores 4 or 5, not
// 1 or 2; the stored count unlocks the event and marks the project changed.
TEST_F(EventsTabTest, FillLayersDragFromTheAutomaticValue) {
    p.events = {test::MakeEvent(1, 4, 0, EventKind::Fill)};
    p.events[0].fillLayers = 0;
    p.events[0].locked = true;
    SelectOne(0);
    const Editors ed = Place();
    const float x = ed.left + ed.width + m_.gap + Fh() * 0.5f;
    Drag(x, m_.height - m_.padding - Fh() * 0.5f, 10.0f, 0.0f);
    EXPECT_GE(p.events[0].fillLayers, 4);
    EXPECT_LE(p.events[0].fillLayers, 5);
    EXPECT_FALSE(p.events[0].locked);
    EXPECT_TRUE(s.unsavedChanges);
    EXPECT_TRUE(UndoStack.empty());
}

// The right column in the form: draw mode refused for Spot, the bus toggle
// only where there is no Fill.
TEST_F(EventsTabTest, RightColumnByKind) {
    struct Case {
        const char* name;
        EventKind kind;
        bool drawMode, bus;
    };
    const Case cases[] = {
        {"Spot", EventKind::Spot, false, true},
        {"Bloom", EventKind::Bloom, true, true},
        {"Fill", EventKind::Fill, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.events = {test::MakeEvent(1, 4, 0, c.kind)};
        SelectOne(0);
        s.curveDrawMode = false;
        s.drawSavedViewValid = false;
        const Editors ed = Place();
        const float x = ed.left + ed.width + m_.gap + Fh() * 0.5f;
        ClickAt(x, ed.weightTop + Fh() + m_.gap + Fh() * 0.5f);
        EXPECT_EQ(s.curveDrawMode, c.drawMode);
        const std::int32_t group = EffectiveGroup(p.events[0]);
        ClickAt(x, m_.height - m_.padding - Fh() * 0.5f);
        EXPECT_EQ(EffectiveGroup(p.events[0]) != group, c.bus);
        ClearUndoHistory();
    }
    s.curveDrawMode = false;
}

}  // namespace
}  // namespace korvel
