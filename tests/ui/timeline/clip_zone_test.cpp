// The clip editing zone: trims and fades of Clip layers as plain edits, the
// handle zones, then the whole gesture set in headless frames over a small
// built project whose sound files the tests write.
#include "ui/timeline/clip_zone.h"

#include <gtest/gtest.h>
#include <imgui_internal.h>

#include <cmath>
#include <mutex>
#include <string>

#include "app/background_job.h"
#include "app/frame_work.h"
#include "engine/clip_event.h"
#include "engine/voice_sync.h"
#include "library/library.h"
#include "library/waveform.h"
#include "playback/audio_output.h"
#include "playback/mixer_publishing.h"
#include "playback/playback_engine.h"
#include "project/fixed_text.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"
#include "support/ui/ui_harness.h"
#include "timeline_fixture.h"
#include "ui/timeline/scene_lane.h"
#include "ui/timeline/track_lanes.h"

namespace korvel {
namespace {

// [SECTION] Plain edits

class ClipEditTest : public ::testing::Test {
protected:
    void SetUp() override { test::ResetTimelineState(); }
    // A Clip whose sync point sits 2 s into a 4 s block at 10 s, playing
    // 1 s to 5 s of its source; automatic fades.
    void OneClip() {
        Event clip = test::MakeEvent(10.0f, 4.0f, 2.0f, EventKind::Clip);
        clip.clipSourceOffset = 1.0f;
        clip.clipSourceDuration = 4.0f;
        clip.clipFadeIn = clip.clipFadeOut = -1.0f;
        p.events = {clip};
        LayerResult layer;
        layer.eventIdx = 0;
        layer.startTime = 10.0f;
        layer.duration = layer.sourceDuration = 4.0f;
        layer.sourceOffset = 1.0f;
        p.results = {layer};
    }
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

TEST_F(ClipEditTest, Trims) {
    struct Case {
        const char* name;
        int edge;
        float pointer;
        float source;  // -1: not known
        float projectEnd;
        float start, length, offset, sync;
    };
    // The source (8 s) starts at 9 s on the timeline and ends at 17 s.
    const Case cases[] = {
        {"left edge in: the sync sample stays", 1, 11.0f, 8.0f, 60.0f, 11.0f, 3.0f, 2.0f, 1.0f},
        {"left edge out to the source's first sample", 1, 5.0f, 8.0f, 60.0f, 9.0f, 5.0f, 0.0f, 3.0f},
        {"left edge out, length not known", 1, 0.0f, -1.0f, 60.0f, 9.0f, 5.0f, 0.0f, 3.0f},
        {"left edge past the other end", 1, 20.0f, 8.0f, 60.0f, 13.99f, 0.01f, 4.99f, 0.0f},
        {"left edge past the sync point: clamped into the clip", 1, 13.0f, 8.0f, 60.0f, 13.0f, 1.0f, 4.0f, 0.0f},
        {"right edge out", 2, 16.0f, 8.0f, 60.0f, 10.0f, 6.0f, 1.0f, 2.0f},
        {"right edge stops at the source's end", 2, 30.0f, 8.0f, 60.0f, 10.0f, 7.0f, 1.0f, 2.0f},
        {"right edge stops at the project's end", 2, 30.0f, 8.0f, 15.0f, 10.0f, 5.0f, 1.0f, 2.0f},
        {"right edge, length not known: 300 s", 2, 500.0f, -1.0f, 1000.0f, 10.0f, 300.0f, 1.0f, 2.0f},
        {"right edge before the sync point", 2, 11.0f, 8.0f, 60.0f, 10.0f, 1.0f, 1.0f, 1.0f},
        {"right edge stops 0.01 s after the start", 2, 0.0f, 8.0f, 60.0f, 10.0f, 0.01f, 1.0f, 0.01f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneClip();
        p.totalDuration = c.projectEnd;
        ASSERT_TRUE(TrimClipLayer(p, 0, c.edge, c.pointer, c.source));
        const LayerResult& l = p.results[0];
        const Event& e = p.events[0];
        EXPECT_NEAR(l.startTime, c.start, 1e-4f);
        EXPECT_NEAR(l.duration, c.length, 1e-4f);
        EXPECT_NEAR(l.sourceDuration, c.length, 1e-4f);
        EXPECT_NEAR(l.sourceOffset, c.offset, 1e-4f);
        EXPECT_NEAR(e.clipSourceOffset, c.offset, 1e-4f);
        EXPECT_NEAR(e.duration, c.length, 1e-4f);
        EXPECT_NEAR(e.clipSourceDuration, std::max(c.length, 0.01f), 1e-4f);
        EXPECT_NEAR(e.syncOffset, c.sync, 1e-4f);
        EXPECT_NEAR(e.time - e.syncOffset, c.start, 1e-4f) << "the event's block is the layer";
        if (c.edge == 1) {
            EXPECT_NEAR(l.startTime + l.duration, 14.0f, 1e-4f) << "the right end stays";
        }
        EXPECT_NEAR(l.fadeIn, std::min(0.02f * c.length, 0.01f), 1e-6f) << "automatic fades follow";
        EXPECT_NEAR(l.fadeOut, std::min(0.05f * c.length, 0.05f), 1e-6f);
    }
}

TEST_F(ClipEditTest, FixedFadesStayThroughATrim) {
    OneClip();
    p.events[0].clipFadeIn = 0.3f;
    p.events[0].clipFadeOut = 0.0f;
    ASSERT_TRUE(TrimClipLayer(p, 0, 2, 16.0f, 8.0f));
    EXPECT_EQ(p.results[0].fadeIn, 0.3f);
    EXPECT_EQ(p.results[0].fadeOut, 0.0f);
}

TEST_F(ClipEditTest, FadeDragsHeldAt45Percent) {
    struct Case {
        const char* name;
        int side;
        float pointer;
        float fade;
    };
    const Case cases[] = {
        {"fade-in", 1, 11.0f, 1.0f},
        {"fade-in at most 45 %", 1, 20.0f, 1.8f},
        {"fade-in before the clip", 1, 5.0f, 0.0f},
        {"fade-out", 2, 13.0f, 1.0f},
        {"fade-out at most 45 %", 2, 0.0f, 1.8f},
        {"fade-out after the clip", 2, 20.0f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneClip();
        ASSERT_TRUE(DragClipFade(p, 0, c.side, c.pointer));
        const float layerFade = c.side == 1 ? p.results[0].fadeIn : p.results[0].fadeOut;
        const float eventFade = c.side == 1 ? p.events[0].clipFadeIn : p.events[0].clipFadeOut;
        EXPECT_NEAR(layerFade, c.fade, 1e-5f);
        EXPECT_NEAR(eventFade, c.fade, 1e-5f);
    }
}

// A drag on a layer that is gone, or whose event is gone or no Clip, writes
// nothing.
TEST_F(ClipEditTest, NothingWrittenWithoutALayerAndItsClip) {
    struct Case {
        const char* name;
        std::int32_t layer;
        std::int32_t eventIdx;
        EventKind kind;
    };
    const Case cases[] = {
        {"layer beyond the list", 1, 0, EventKind::Clip},
        {"no layer", -1, 0, EventKind::Clip},
        {"event gone", 0, 3, EventKind::Clip},
        {"not a Clip", 0, 0, EventKind::Spot},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneClip();
        p.results[0].eventIdx = c.eventIdx;
        p.events[0].shape = KindValue(c.kind);
        EXPECT_FALSE(TrimClipLayer(p, c.layer, 1, 11.0f, 8.0f));
        EXPECT_FALSE(DragClipFade(p, c.layer, 1, 11.0f));
        EXPECT_EQ(p.results[0].startTime, 10.0f);
        EXPECT_EQ(p.events[0].duration, 4.0f);
        EXPECT_EQ(p.events[0].clipFadeIn, -1.0f);
    }
}

// Lanes from x = 100 at 10 px a second; the FX A group's first lane row is
// y 202..242, its corner band down to y 220.
TEST_F(ClipEditTest, HandleZones) {
    test::SetLaneView(0.0f, 80.0f);
    GroupAreaGeometry area;
    area.areaTop = 200.0f;
    area.areaHeight = 200.0f;
    area.laneHeight = 40.0f;
    struct Case {
        const char* name;
        float duration, fadeIn, fadeOut;
        float x, y;
        ClipHandle handle;
        bool corner;
        EventKind kind = EventKind::Clip;
        bool visible = true;
    };
    // The clip starts at x = 200.
    const Case cases[] = {
        {"12 px wide: no handles", 1.2f, 0, 0, 201, 230, ClipHandle::None, false},
        {"13 px wide: an edge", 1.3f, 0, 0, 201, 230, ClipHandle::LeftEdge, false},
        {"a wide fade-in at its end", 10, 2, 0, 223, 230, ClipHandle::FadeIn, false},
        {"5 px from that end: nothing", 10, 2, 0, 225, 230, ClipHandle::None, false},
        {"a small fade-in at the top corner", 10, 0.5f, 0, 208, 210, ClipHandle::FadeIn, true},
        {"a small fade below the band: the edge", 10, 0.5f, 0, 203, 230, ClipHandle::LeftEdge, false},
        {"no fade: the corner still grabs one", 10, 0, 0, 209, 205, ClipHandle::FadeIn, true},
        {"a small fade-out at the top corner", 10, 0, 0.5f, 295, 205, ClipHandle::FadeOut, true},
        {"a wide fade-out at its start", 10, 0, 3, 268, 230, ClipHandle::FadeOut, false},
        {"the right edge, just outside", 10, 0, 0, 304, 230, ClipHandle::RightEdge, false},
        {"5 px outside: nothing", 10, 0, 0, 305, 230, ClipHandle::None, false},
        {"the next lane row: nothing", 10, 0, 0, 201, 245, ClipHandle::None, false},
        {"a Spot's layer offers nothing", 10, 0, 0, 201, 230, ClipHandle::None, false, EventKind::Spot},
        {"a hidden group offers nothing", 10, 0, 0, 201, 230, ClipHandle::None, false, EventKind::Clip, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.events = {test::MakeEvent(10.0f, c.duration, 0.0f, c.kind)};
        LayerResult layer;
        layer.eventIdx = 0;
        layer.groupTrack = 0;
        layer.startTime = 10.0f;
        layer.duration = c.duration;
        layer.fadeIn = c.fadeIn;
        layer.fadeOut = c.fadeOut;
        p.results = {layer};
        s.groupVisible = {true, c.visible, true};
        const ClipHandleHit hit = FindClipHandle(s, p, area, p.results, c.x, c.y);
        EXPECT_EQ(hit.handle, c.handle);
        EXPECT_EQ(hit.layer, c.handle == ClipHandle::None ? -1 : 0);
        EXPECT_EQ(hit.corner, c.corner);
        if (c.corner) {
            EXPECT_EQ(hit.cornerY, 202.0f);
            EXPECT_EQ(hit.cornerSide, c.handle == ClipHandle::FadeIn ? 9.0f : -9.0f) << "min(9, 45 % of the lane)";
        }
    }
    s.groupVisible = {true, true, true};
}

TEST_F(ClipEditTest, EmptyStates) {
    struct Case {
        const char* name;
        int events;
        bool palette;
        TimelineEmptyState state;
    };
    const Case cases[] = {
        {"no events", 0, true, TimelineEmptyState::NoEvents},
        {"events, no palette", 1, false, TimelineEmptyState::NoPalette},
        {"ready", 1, true, TimelineEmptyState::Ready},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Library library;
        if (c.palette) library.palettes.emplace_back();
        p.events.assign(static_cast<std::size_t>(c.events), test::MakeEvent(1, 1));
        EXPECT_EQ(ChooseEmptyState(p, library), c.state);
    }
}

// [SECTION] The zone in whole frames

class ClipZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetTimelineState();
        FrameWork = FrameWorkState{};
        FrameWork.firstFrameDone = true;
        FrameWork.launcherChecked = true;
        SetUiClockSeconds(0.0);
        Clean();
        ui.RunDrawUI();  // lays the strip out
        ASSERT_GT(Timeline.laneWidth, 100.0f);
    }
    void TearDown() override {
        Clean();
        ui.SetCtrl(false);
        ui.SetShift(false);
        ui.io().KeyAlt = false;
    }
    void Clean() {
        s.dropState = DropState{};
        s.soloLayer = s.lastSoloLayer = s.scrollToLayer = -1;
        s.expandedEvent = -1;
        s.trimLayer = s.fadeDragLayer = -1;
        s.playing = false;
        s.backgroundJob.active.store(false);
        s.backgroundJob.revealBuildProgress = s.backgroundJob.revealByBuiltLayers = false;
        s.exportRunning.store(false);
        s.audioUpdateRequested.store(false);
        SceneLane = SceneLaneState{};
        SoundLibrary.palettes.clear();
        PlaybackEngine& engine = LivePlaybackEngine;
        {
            std::lock_guard<std::mutex> lock(engine.voiceMutex);
            engine.voices.clear();
        }
        engine.ready.store(false);
        engine.voiceCount.store(0);
        engine.soloVoice.store(-1);
        engine.playing.store(false);
        TimelineLayerVoices = LayerVoiceLookup{};
    }
    std::string Wav(const char* name, double seconds) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(test::WriteSoundFile(path, test::MakeSine(440.0, seconds, 48000, 1, 0.5), 1, 48000));
        LoadWaveformOverview(path.c_str());
        return path;
    }
    // A Clip at `start` placed from its file (the whole file), locked.
    std::int32_t AddClip(const std::string& path, float start) {
        Event e = test::MakeEvent(start, 1.0f, 0.0f, EventKind::Clip);
        e.locked = true;
        e.clipFadeIn = e.clipFadeOut = -1.0f;
        CopyText(e.pinnedFile, path);
        p.events.push_back(e);
        const auto index = static_cast<std::int32_t>(p.events.size() - 1);
        EXPECT_TRUE(BuildClipEvent(p, index));
        p.events.back().duration = p.results.back().duration;
        return index;
    }
    // Voices for every event, as a finished build leaves them.
    void Render() {
        for (std::size_t i = 0; i < p.events.size(); ++i) RenderEvent(static_cast<std::int32_t>(i));
        ASSERT_TRUE(LivePlaybackEngine.ready.load());
        Idle();
    }
    // Three Clips out of time order: index 0 at 20 s, 1 at 5 s, 2 at 12 s;
    // 2 s long each, on one lane.
    void ThreeClips() {
        const std::string a = Wav("a.wav", 2.0);
        AddClip(a, 20.0f);
        AddClip(a, 5.0f);
        AddClip(a, 12.0f);
        Render();
    }
    void Frame(float x, float y, bool down, int button = 0) {
        ui.MoveMouse(x, y);
        ui.SetMouseButton(button, down);
        ui.RunDrawUI();
    }
    void Click(float x, float y, int button = 0) {
        Frame(x, y, false);  // the pointer arrives first
        Frame(x, y, true, button);
        Frame(x, y, false, button);
    }
    void Idle() { Frame(5.0f, 5.0f, false); }
    ClipRect RectOf(std::int32_t layer) const {
        return LayerClipRect(s, p, Timeline.groupArea, p.results[static_cast<std::size_t>(layer)]);
    }
    float MidY(std::int32_t layer) const {
        const ClipRect r = RectOf(layer);
        return (r.y0 + r.y1) / 2.0f + 0.25f * (r.y1 - r.y0);  // below the corner band
    }
    std::int32_t VoiceOf(std::int32_t layer) {
        for (std::size_t v = 0; v < LivePlaybackEngine.voices.size(); ++v) {
            if (LivePlaybackEngine.voices[v].resultIndex == layer) return static_cast<std::int32_t>(v);
        }
        return -1;
    }
    float VoiceDuration(std::int32_t layer) {
        const std::int32_t v = VoiceOf(layer);
        return v < 0 ? -1.0f : LivePlaybackEngine.voices[static_cast<std::size_t>(v)].duration;
    }
    static bool MenuOpen() { return !ImGui::GetCurrentContext()->OpenPopupStack.empty(); }

    test::UiHarness ui;
    test::TempDir dir_;
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

// A right-edge trim through the frames: live edits while held, one rebuild
// and re-render at the release.
TEST_F(ClipZoneTest, TrimRebuildsOnceAtTheRelease) {
    AddClip(Wav("door.wav", 6.0), 10.0f);
    p.events[0].clipSourceDuration = 3.0f;
    BuildClipEvent(p, 0);
    p.events[0].duration = 3.0f;
    Render();
    ASSERT_NEAR(VoiceDuration(0), 3.0f, 1e-3f);
    const ClipRect r = RectOf(0);
    const float y = MidY(0);
    Frame(r.x1 - 2.0f, y, false);
    Frame(r.x1 - 2.0f, y, true);
    EXPECT_EQ(s.trimLayer, 0);
    EXPECT_EQ(s.trimEdge, 2);
    EXPECT_EQ(UndoStack.size(), 1u) << "one snapshot at the press";
    EXPECT_EQ(s.selectedEvents, std::set<std::int32_t>{0});
    Frame(TimeToX(14.0f), y, true);
    Frame(TimeToX(15.0f), y, true);
    EXPECT_NEAR(p.results[0].duration, 5.0f, 0.05f) << "follows the pointer";
    EXPECT_NEAR(VoiceDuration(0), 3.0f, 1e-3f) << "no rebuild while held";
    Frame(TimeToX(30.0f), y, true);
    EXPECT_NEAR(p.results[0].duration, 6.0f, 1e-3f) << "held at the source's end";
    Frame(TimeToX(30.0f), y, false);
    EXPECT_EQ(s.trimLayer, -1);
    EXPECT_NEAR(p.events[0].duration, 6.0f, 1e-3f);
    EXPECT_NEAR(VoiceDuration(0), 6.0f, 1e-3f) << "rendered again at the release";
    EXPECT_EQ(UndoStack.size(), 1u);
}

TEST_F(ClipZoneTest, SmallFadeGrabbedAtTheCornerHeldAt45Percent) {
    AddClip(Wav("door.wav", 4.0), 10.0f);
    Render();
    const ClipRect r = RectOf(0);
    Frame(r.x0 + 3.0f, r.y0 + 3.0f, false);
    Frame(r.x0 + 3.0f, r.y0 + 3.0f, true);
    ASSERT_EQ(s.fadeDragLayer, 0);
    EXPECT_EQ(s.fadeDragSide, 1);
    EXPECT_NEAR(s.fadeDragStartValue, 0.01f, 1e-6f) << "the automatic fade before the drag";
    Frame(TimeToX(11.0f), r.y0 + 3.0f, true);
    EXPECT_NEAR(p.events[0].clipFadeIn, 1.0f, 0.05f);
    Frame(TimeToX(13.9f), r.y0 + 3.0f, true);
    EXPECT_NEAR(p.results[0].fadeIn, 1.8f, 1e-4f);
    Frame(TimeToX(13.9f), r.y0 + 3.0f, false);
    EXPECT_EQ(s.fadeDragLayer, -1);
    EXPECT_NEAR(p.events[0].clipFadeIn, 1.8f, 1e-4f);
    EXPECT_NEAR(p.results[0].fadeIn, 1.8f, 1e-4f) << "kept by the rebuild";
}

// A drag ends, with no closing rebuild, as soon as any job is active or an
// export runs: it follows the held button, not the zone, and would go on
// rewriting layers they read.
TEST_F(ClipZoneTest, AJobOrAnExportEndsADrag) {
    struct Case {
        const char* name;
        bool job;
    };
    const Case cases[] = {{"a job", true}, {"an export", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.events.clear();
        p.results.clear();
        AddClip(Wav("door.wav", 6.0), 10.0f);
        Render();
        const ClipRect r = RectOf(0);
        const float y = MidY(0);
        Frame(r.x1 - 2.0f, y, false);
        Frame(r.x1 - 2.0f, y, true);
        Frame(TimeToX(11.0f), y, true);
        ASSERT_EQ(s.trimLayer, 0);
        const float held = p.results[0].duration;
        // A live job: the timeline goes on drawing while it runs.
        s.backgroundJob.revealBuildProgress = true;
        (c.job ? s.backgroundJob.active : s.exportRunning).store(true);
        Frame(TimeToX(13.0f), y, true);
        EXPECT_EQ(s.trimLayer, -1);
        EXPECT_EQ(p.results[0].duration, held) << "no writes once it reads the layers";
        (c.job ? s.backgroundJob.active : s.exportRunning).store(false);
        Frame(TimeToX(14.0f), y, true);
        Frame(TimeToX(14.0f), y, false);
        EXPECT_EQ(p.results[0].duration, held);
        EXPECT_NEAR(VoiceDuration(0), 6.0f, 1e-3f) << "no closing rebuild";
        ClearUndoHistory();
    }
}

// A job whose frozen overlay hides the timeline still drops the drag when it
// starts, so the drag cannot resume once the job ends.
TEST_F(ClipZoneTest, EveryJobStartDropsTheDrags) {
    s.trimLayer = 0;
    s.fadeDragLayer = 0;
    StartBackgroundJob("Updating audio...", [] {}, false, -1.0f);
    EXPECT_EQ(s.trimLayer, -1);
    EXPECT_EQ(s.fadeDragLayer, -1);
    BackgroundJob& job = s.backgroundJob;
    job.active.store(false);
    job.work = nullptr;
}

TEST_F(ClipZoneTest, ARemovedLayerIsDroppedWithoutARebuild) {
    AddClip(Wav("door.wav", 6.0), 10.0f);
    Render();
    const ClipRect r = RectOf(0);
    const float y = MidY(0);
    Frame(r.x0 + 2.0f, y, false);
    Frame(r.x0 + 2.0f, y, true);
    ASSERT_EQ(s.trimLayer, 0);
    EXPECT_EQ(s.trimEdge, 1);
    p.results.clear();
    const std::size_t voices = LivePlaybackEngine.voices.size();
    Frame(TimeToX(11.0f), y, true);
    Frame(TimeToX(11.0f), y, false);
    EXPECT_EQ(s.trimLayer, -1);
    EXPECT_TRUE(p.results.empty()) << "no layer placed again";
    EXPECT_EQ(LivePlaybackEngine.voices.size(), voices);
}

// Trims and fades start only while the edit guard is open; the press then
// selects as any other.
TEST_F(ClipZoneTest, NoTrimStartsWhileAJobRuns) {
    AddClip(Wav("door.wav", 6.0), 10.0f);
    Render();
    const ClipRect r = RectOf(0);
    // A live list render: the lanes stay drawn and take clicks.
    p.builtResultCount.store(1);
    s.backgroundJob.revealBuildProgress = s.backgroundJob.revealByBuiltLayers = true;
    s.backgroundJob.active.store(true);
    Frame(r.x1 - 2.0f, MidY(0), false);
    Frame(r.x1 - 2.0f, MidY(0), true);
    EXPECT_EQ(s.trimLayer, -1);
    EXPECT_TRUE(UndoStack.empty());
    EXPECT_EQ(s.selectedEvents, std::set<std::int32_t>{0});
    Frame(r.x1 - 2.0f, MidY(0), false);
}

TEST_F(ClipZoneTest, CtrlClickAuditionsAndStopsWithoutMovingThePlayhead) {
    ThreeClips();
    PlaybackEngine& engine = LivePlaybackEngine;
    // As with a running stream: the playhead follows the engine's clock,
    // which the test moves itself.
    struct StreamOpen {
        StreamOpen() { LiveAudioOutput.open = true; }
        ~StreamOpen() { LiveAudioOutput.open = false; }
    } streamOpen;
    ui.SetCtrl(true);
    s.playhead = 40.0f;
    Click(TimeToX(13.0f), MidY(2));
    const std::int32_t voice = VoiceOf(2);
    ASSERT_GE(voice, 0);
    EXPECT_EQ(s.soloLayer, 2);
    EXPECT_EQ(s.lastSoloLayer, 2);
    EXPECT_EQ(engine.soloVoice.load(), voice);
    ApplyPendingMixerChanges(engine);
    EXPECT_EQ(engine.mix.soloVoice, voice) << "handed to the mixer";
    EXPECT_TRUE(s.playing);
    EXPECT_TRUE(engine.playing.load());
    EXPECT_NEAR(s.playhead, p.results[2].startTime, 1e-4f);
    EXPECT_EQ(s.selectedEvents, std::set<std::int32_t>{2});
    EXPECT_EQ(s.expandedEvent, 2);
    EXPECT_EQ(s.scrollToLayer, 2);

    LocatePlayback(engine, 12.5);  // the audition has played on
    Click(TimeToX(13.0f), MidY(2));
    EXPECT_EQ(s.soloLayer, -1);
    EXPECT_EQ(s.lastSoloLayer, 2);
    EXPECT_EQ(engine.soloVoice.load(), -1);
    EXPECT_NEAR(s.playhead, 12.5f, 1e-3f) << "stopping does not move the playhead";
}

TEST_F(ClipZoneTest, Clicks) {
    ThreeClips();
    s.linkedGroups = {"Doors"};
    CopyText(p.events[0].folder, "Doors");
    CopyText(p.events[1].folder, "Doors");
    struct Case {
        const char* name;
        std::int32_t first;  // a plain click first, -1 none
        std::int32_t layer;
        bool ctrl, shift, alt, ready;
        std::set<std::int32_t> selected;
        std::int32_t primary;
    };
    const Case cases[] = {
        {"a linked group comes along", -1, 0, false, false, false, true, {0, 1}, 1},
        {"Alt: only the clicked event", -1, 0, false, false, true, true, {0}, 0},
        {"Shift by time order, not index", 1, 0, false, true, false, true, {0, 1, 2}, 1},
        {"Ctrl while the engine is not ready: a plain click", -1, 2, true, false, false, false, {2}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.selectedEvents.clear();
        s.selectedEvent = -1;
        ui.io().KeyAlt = true;  // the first click selects only its event
        if (c.first >= 0) Click(TimeToX(p.results[c.first].startTime + 1.0f), MidY(c.first));
        ui.io().KeyAlt = c.alt;
        ui.SetCtrl(c.ctrl);
        ui.SetShift(c.shift);
        LivePlaybackEngine.ready.store(c.ready);
        Click(TimeToX(p.results[c.layer].startTime + 1.0f), MidY(c.layer));
        ui.io().KeyAlt = false;
        ui.SetCtrl(false);
        ui.SetShift(false);
        LivePlaybackEngine.ready.store(true);
        EXPECT_EQ(s.selectedEvents, c.selected);
        EXPECT_EQ(s.selectedEvent, c.primary);
        EXPECT_EQ(s.soloLayer, -1);
    }
}

TEST_F(ClipZoneTest, BoxSelection) {
    ThreeClips();
    LayerResult orphan = p.results[2];
    orphan.eventIdx = 9;  // its event is gone: drawn in the BG group's row
    orphan.startTime = 26.0f;
    p.results.push_back(orphan);
    p.builtResultCount.store(4);
    Idle();
    const float rows[2] = {MidY(0), MidY(3)};  // the clips' row, the orphan's row
    struct Case {
        const char* name;
        float t1;
        int row1;
        float t2;
        int row2;
        float dx;  // px added to the end
        std::set<std::int32_t> selected;
        std::int32_t primary;
    };
    const Case cases[] = {
        {"over two clips", 10.0f, 0, 21.0f, 0, 0.0f, {0, 2}, 0},
        {"only taller than 5 px: the clip it crosses", 13.0f, 1, 13.0f, 0, 0.0f, {2}, 2},
        {"5 px: a click clears", 9.0f, 0, 9.0f, 0, 5.0f, {}, -1},
        {"over nothing but a clip whose event is gone", 26.5f, 1, 27.5f, 1, 0.0f, {}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.selectedEvents = {1};
        s.selectedEvent = 1;
        s.activeTab = 3;
        const float x1 = TimeToX(c.t1);
        Frame(x1, rows[c.row1], false);
        Frame(x1, rows[c.row1], true);
        EXPECT_TRUE(Timeline.marqueeActive && Timeline.marqueeInClipZone) << "a box starts";
        Frame(TimeToX(c.t2) + c.dx, rows[c.row2], true);
        Frame(TimeToX(c.t2) + c.dx, rows[c.row2], false);
        EXPECT_FALSE(Timeline.marqueeActive);
        EXPECT_EQ(s.selectedEvents, c.selected);
        EXPECT_EQ(s.selectedEvent, c.primary);
        EXPECT_EQ(s.activeTab, c.selected.empty() ? 3 : 0);
    }
}

TEST_F(ClipZoneTest, RightClickOpensTheMenuOnlyOnAClip) {
    ThreeClips();
    s.linkedGroups = {"Doors"};
    CopyText(p.events[1].folder, "Doors");
    CopyText(p.events[2].folder, "Doors");
    Click(TimeToX(8.0f), MidY(1), 1);  // the gap between 7 s and 12 s
    EXPECT_FALSE(MenuOpen()) << "empty space opens nothing";
    EXPECT_TRUE(s.selectedEvents.empty());

    Click(TimeToX(13.0f), MidY(2), 1);
    EXPECT_TRUE(MenuOpen());
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{1, 2})) << "selected with its links";
    Click(TimeToX(8.0f), MidY(1));  // a click outside closes it
    ASSERT_FALSE(MenuOpen());

    s.selectedEvents = {0, 2};
    s.selectedEvent = 0;
    Click(TimeToX(13.0f), MidY(2), 1);
    EXPECT_TRUE(MenuOpen());
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{0, 2})) << "a selected event keeps the selection";
    EXPECT_EQ(s.selectedEvent, 0);
}

TEST_F(ClipZoneTest, SeekSnapsToFramesOnlyWhileStopped) {
    const float y = Timeline.y0 + 2.0f;  // above the ruler
    // The pointer lands on whole pixels, so each press is near its time and
    // then exactly on the 25 fps grid.
    for (float t : {10.013f, 12.03f, 0.0f}) {
        Frame(TimeToX(t), y, t != 10.013f);
        Frame(TimeToX(t), y, true);
        EXPECT_NEAR(s.playhead, t, 0.04f) << t;
        EXPECT_NEAR(s.playhead * 25.0f, std::round(s.playhead * 25.0f), 1e-3f) << t;
    }
    Frame(TimeToX(-3.0f), y, true);
    EXPECT_EQ(s.playhead, 0.0f) << "never before the start";
    Frame(TimeToX(0.0f), y, false);
    s.playing = true;
    s.playhead = 3.0f;
    Frame(TimeToX(20.0f), y, true);
    s.playing = false;
    EXPECT_LT(s.playhead, 3.5f) << "no seek while playing";
    Frame(TimeToX(20.0f), y, false);
}

TEST_F(ClipZoneTest, LibraryLinkOpensTheLibraryTab) {
    p.events = {test::MakeEvent(1, 1)};
    ImFont& heading = *ImGui::GetFont();
    Idle();
    ImFont* medium = s.fonts.mediumFont != nullptr ? s.fonts.mediumFont : &heading;
    ImFont* small = s.fonts.smallFont != nullptr ? s.fonts.smallFont : &heading;
    const EmptyStateLayout e = LayOutEmptyState(p, SoundLibrary, *medium, *small);
    ASSERT_EQ(e.kind, TimelineEmptyState::NoPalette);
    EXPECT_STREQ(e.link, "Library");
    EXPECT_GT(e.linkX, e.lineX);
    EXPECT_NEAR(e.afterX, e.linkX + e.linkWidth, 1e-3f) << "three pieces on one line";
    const GroupAreaGeometry& area = Timeline.groupArea;
    EXPECT_NEAR((e.headingY + e.lineY + e.linkHeight) / 2.0f, area.areaTop + area.areaHeight / 2.0f, 1.0f)
        << "the pair is centred in the group area";
    Click(e.linkX + e.linkWidth / 2.0f, e.lineY + e.linkHeight / 2.0f);
    EXPECT_EQ(s.activeTab, 2);
    s.activeTab = 0;
}

TEST_F(ClipZoneTest, SceneEdgeGrabStartsTheSceneTrim) {
    ThreeClips();
    Scene scene;
    scene.inTime = 8.0f;
    scene.outTime = 18.0f;
    p.scenes = {scene};
    s.workAreaScene = 0;
    s.workAreaIn = 8.0f;
    s.workAreaOut = 18.0f;
    const float y = Timeline.groupArea.AreaBottom() - 3.0f;  // below the lanes' clips
    Frame(TimeToX(18.0f) + 4.0f, y, false);
    Frame(TimeToX(18.0f) + 4.0f, y, true);
    EXPECT_EQ(SceneLane.trimScene, 0);
    EXPECT_EQ(SceneLane.trimEdge, 1);
    EXPECT_EQ(UndoStack.size(), 1u);
    EXPECT_FALSE(Timeline.marqueeActive) << "the zone leaves the press to the trim";
    Frame(TimeToX(22.0f), y, true);
    EXPECT_NEAR(p.scenes[0].outTime, 22.0f, 0.05f);
    Frame(TimeToX(22.0f), y, false);
    EXPECT_EQ(SceneLane.trimScene, -1);
}

}  // namespace
}  // namespace korvel
