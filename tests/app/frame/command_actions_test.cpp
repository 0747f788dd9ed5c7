// What the commands do, on a small project of events with layers and
// voices made directly (no build): the clipboard, the nudge, the work area,
// scenes, groups, mute and lock, stepping through events, audio focus, draw
// mode, new events, and opening over unsaved work.
#include "app/frame/command_actions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/background_job.h"
#include "app/commands.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"
#include "support/temp_dir.h"
#include "ui/timeline/timeline_fixture.h"

namespace korvel {
namespace {

class CommandActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetTimelineState();
        ClearVoices();
        s.clipboardEvents.clear();
        s.clipboardEventIndices.clear();
        s.clipboardLayers.clear();
        s.clipboardVoices.clear();
        s.audioUpdateRequested.store(false);
        s.audioFocusActive = false;
        s.audioFocusEvents.clear();
        s.audioFocusLatched = false;
        s.unsavedPromptState = 0;
        s.parkedOpenPath.clear();
        s.openThroughDialog = false;
        s.quitAfterPrompt = false;
        s.sceneKeywordTemplate[0] = '\0';
        s.sceneDrawArmed = false;
        s.lastIntensityMode = 0;
        s.expandedEvent = -1;
        LastNudgeTime = -1.0e9;
        SetUiClockSeconds(100.0);
    }
    void TearDown() override {
        ClearVoices();
        s.platformHooks.openFileDialog = nullptr;
        s.recentProjects.clear();
    }
    static void ClearVoices() {
        PlaybackEngine& e = LivePlaybackEngine;
        e.voices.clear();
        e.voiceFadeIns.clear();
        e.voiceFadeOuts.clear();
        e.voiceCount.store(0);
    }
    // Events at `times`, each 1 s long with one layer and one voice.
    void MakeProject(std::initializer_list<float> times) {
        for (float t : times) {
            const auto index = static_cast<std::int32_t>(p.events.size());
            Event event = test::MakeEvent(t, 1.0f);
            event.shape = KindValue(EventKind::Bloom);
            event.gain = 0.5f + 0.1f * static_cast<float>(index);
            p.events.push_back(event);
            LayerResult layer;
            layer.eventIdx = index;
            layer.startTime = t;
            layer.duration = 1.0f;
            layer.filepath = "/sounds/hit.wav";
            layer.fadeIn = 0.005f;
            layer.fadeOut = 0.07f;
            p.results.push_back(layer);
            Voice voice;
            voice.resultId = layer.id;
            voice.resultIndex = static_cast<std::int32_t>(p.results.size()) - 1;
            voice.eventIndex = index;
            voice.startTime = t;
            voice.duration = 1.0f;
            voice.eventCurve = std::make_shared<const CurvePoints>(event.intensity);
            LivePlaybackEngine.voices.push_back(voice);
            LivePlaybackEngine.voiceFadeIns.push_back(layer.fadeIn);
            LivePlaybackEngine.voiceFadeOuts.push_back(layer.fadeOut);
        }
        LivePlaybackEngine.voiceCount.store(static_cast<std::int32_t>(LivePlaybackEngine.voices.size()));
        p.built = true;
    }
    const Voice* VoiceOfLayer(std::int32_t id) const {
        for (const Voice& v : LivePlaybackEngine.voices)
            if (v.resultId == id) return &v;
        return nullptr;
    }
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

// [SECTION] Clipboard

TEST_F(CommandActionsTest, PasteElsewhereKeepsSpacingLocksAndReusesVoices) {
    MakeProject({2.0f, 4.0f, 6.0f});
    p.events[2].sceneLink = 0;
    p.scenes.resize(1);
    s.selectedEvents = {0, 2};
    PerformCommand(CmdCopy);
    EXPECT_EQ(s.clipboardBaseTime, 2.0f);
    ASSERT_EQ(s.clipboardVoices.size(), 2u);

    s.playhead = 10.0f;
    PerformCommand(CmdPaste);
    ASSERT_EQ(p.events.size(), 5u);
    EXPECT_EQ(p.events[3].time, 10.0f) << "the earliest lands at the playhead";
    EXPECT_EQ(p.events[4].time, 14.0f) << "the spacing is kept";
    for (int i : {3, 4}) {
        EXPECT_TRUE(p.events[static_cast<std::size_t>(i)].locked);
        EXPECT_EQ(p.events[static_cast<std::size_t>(i)].sceneLink, -1) << "never scene-linked";
    }
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{3, 4}));
    EXPECT_EQ(s.selectedEvent, 3);
    EXPECT_EQ(UndoStack.size(), 1u);

    ASSERT_EQ(p.results.size(), 5u);
    ASSERT_EQ(LivePlaybackEngine.voices.size(), 5u);
    EXPECT_EQ(LivePlaybackEngine.voiceFadeIns.size(), 5u);
    for (std::size_t i = 3; i < 5; ++i) {
        const LayerResult& layer = p.results[i];
        EXPECT_EQ(layer.eventIdx, static_cast<std::int32_t>(i));
        EXPECT_EQ(layer.startTime, p.events[i].time);
        EXPECT_NE(layer.id, p.results[i == 3 ? 0 : 2].id) << "a fresh id";
        const Voice* voice = VoiceOfLayer(layer.id);
        ASSERT_NE(voice, nullptr) << "the rendered voice is reused";
        EXPECT_EQ(voice->startTime, layer.startTime);
        EXPECT_EQ(voice->eventIndex, static_cast<std::int32_t>(i));
        EXPECT_EQ(voice->resultIndex, static_cast<std::int32_t>(i));
        EXPECT_EQ(voice->eventGain, p.events[i].gain);
        ASSERT_TRUE(voice->eventCurve);
        EXPECT_NE(voice->eventCurve, LivePlaybackEngine.voices[i == 3 ? 0 : 2].eventCurve) << "its own curve copy";
    }
    EXPECT_EQ(LivePlaybackEngine.voiceFadeIns[3], 0.005f);
    EXPECT_EQ(LivePlaybackEngine.voiceFadeOuts[4], 0.07f);
    EXPECT_FALSE(s.audioUpdateRequested.load()) << "plays at once: nothing asks for a rebuild";
}

TEST_F(CommandActionsTest, PasteIntoAShorterProjectKeepsLayersOnTheirEvents) {
    MakeProject({2.0f, 6.0f});
    s.selectedEvents = {0, 1};
    PerformCommand(CmdCopy);
    p.totalDuration = 5.0f;
    s.playhead = 4.0f;  // offset +2: 4 and 8, the second clamped to 5
    PerformCommand(CmdPaste);
    ASSERT_EQ(p.events.size(), 4u);
    EXPECT_EQ(p.events[2].time, 4.0f);
    EXPECT_EQ(p.events[3].time, 5.0f);
    for (std::size_t i = 2; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(p.results[i].startTime, p.events[i].time) << "each layer moves with its own event";
        const Voice* voice = VoiceOfLayer(p.results[i].id);
        ASSERT_NE(voice, nullptr);
        EXPECT_EQ(voice->startTime, p.events[i].time);
    }
}

TEST_F(CommandActionsTest, CutIsOneUndoStepAndEmptyClipboardPastesNothing) {
    MakeProject({1.0f, 3.0f, 5.0f});
    PerformCommand(CmdPaste);
    EXPECT_EQ(p.events.size(), 3u);
    EXPECT_TRUE(UndoStack.empty()) << "an empty clipboard pastes nothing";
    PerformCommand(CmdCut);
    EXPECT_EQ(p.events.size(), 3u) << "nothing selected, nothing cut";

    s.selectedEvents = {1, 7};
    s.selectedEvent = 1;
    PerformCommand(CmdCut);
    EXPECT_EQ(p.events.size(), 2u);
    EXPECT_EQ(UndoStack.size(), 1u);
    EXPECT_EQ(s.clipboardEvents.size(), 1u) << "the index out of range is skipped";
    EXPECT_EQ(LivePlaybackEngine.voices.size(), 2u);
    EXPECT_EQ(LivePlaybackEngine.voices[1].eventIndex, 1) << "the later voices are renumbered";
    EXPECT_FALSE(s.audioUpdateRequested.load());
}

// [SECTION] Nudge

TEST_F(CommandActionsTest, NudgeMovesLayersAndVoicesAndJoinsUndoSteps) {
    struct Case {
        const char* name;
        float time, fps;
        std::int32_t direction;
        float want;
    };
    const Case cases[] = {
        {"left at 0 stays", 0.0f, 25.0f, -1, 0.0f},
        {"right by a frame", 1.0f, 25.0f, 1, 1.04f},
        {"a rate of 0 reads as 25", 1.0f, 0.0f, 1, 1.04f},
        {"past the end is held at the end", 59.99f, 25.0f, 1, 60.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ResetTimelineState();
        ClearVoices();
        MakeProject({c.time});
        p.fps = c.fps;
        s.selectedEvents = {0};
        s.selectedEvent = 0;
        s.playing = true;
        LastNudgeTime = -1.0e9;
        PerformCommand(c.direction < 0 ? CmdStepBack : CmdStepForward);
        EXPECT_FALSE(s.playing);
        EXPECT_NEAR(p.events[0].time, c.want, 1e-5f);
        EXPECT_NEAR(p.results[0].startTime, c.want, 1e-5f);
        EXPECT_NEAR(LivePlaybackEngine.voices[0].startTime, c.want, 1e-5f);
        EXPECT_EQ(s.playhead, p.events[0].time);
    }

    test::ResetTimelineState();
    ClearVoices();
    MakeProject({5.0f});
    s.selectedEvents = {0};
    LastNudgeTime = -1.0e9;
    SetUiClockSeconds(200.0);
    PerformCommand(CmdStepForward);
    SetUiClockSeconds(200.3);
    PerformCommand(CmdStepForward);
    SetUiClockSeconds(200.7);
    PerformCommand(CmdStepForward);
    EXPECT_EQ(UndoStack.size(), 1u) << "presses within 0.5 s of each other make one step";
    SetUiClockSeconds(201.5);
    PerformCommand(CmdStepBack);
    EXPECT_EQ(UndoStack.size(), 2u);

    s.selectedEvents.clear();
    s.playhead = 1.0f;
    PerformCommand(CmdStepForward);
    EXPECT_NEAR(s.playhead, 1.04f, 1e-5f) << "without a selection the playhead steps";
}

// [SECTION] Work area and scenes

TEST_F(CommandActionsTest, WorkAreaInOutAndClear) {
    struct Case {
        const char* name;
        float in, out, playhead;
        std::int32_t command;
        float wantIn, wantOut;
        bool changed;
    };
    const Case cases[] = {
        {"In sets", -1, -1, 3, CmdSetInPoint, 3, -1, true},
        {"In at the In point clears it", 3, 8, 3.00005f, CmdSetInPoint, -1, 8, true},
        {"In after Out clears Out", 3, 8, 9, CmdSetInPoint, 9, -1, true},
        {"Out at the Out point clears it", 3, 8, 8, CmdSetOutPoint, 3, -1, true},
        {"Out before In clears In", 3, 8, 2, CmdSetOutPoint, -1, 2, true},
        {"Clear a valid area", 3, 8, 0, CmdClearWorkArea, -1, -1, true},
        {"Clear needs both ends", 3, -1, 0, CmdClearWorkArea, 3, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.workAreaIn = c.in;
        s.workAreaOut = c.out;
        s.workAreaScene = 2;
        s.playhead = c.playhead;
        s.unsavedChanges = false;
        PerformCommand(c.command);
        EXPECT_EQ(s.workAreaIn, c.wantIn);
        EXPECT_EQ(s.workAreaOut, c.wantOut);
        EXPECT_EQ(s.unsavedChanges, c.changed) << "the file keeps the work area";
        EXPECT_EQ(s.workAreaScene, c.changed ? -1 : 2);
        EXPECT_TRUE(UndoStack.empty());
    }
}

TEST_F(CommandActionsTest, SaveSceneNamesSortsAndRenumbersLinks) {
    MakeProject({10.0f, 1.0f});
    Scene late;
    std::snprintf(late.name, sizeof(late.name), "Late");
    late.inTime = 10.0f;
    late.outTime = 20.0f;
    p.scenes.push_back(late);
    p.events[0].sceneLink = 0;

    PerformCommand(CmdSaveScene);
    EXPECT_TRUE(s.sceneDrawArmed) << "without a work area it arms scene drawing";
    EXPECT_EQ(p.scenes.size(), 1u);
    PerformCommand(CmdSaveScene);
    EXPECT_FALSE(s.sceneDrawArmed);

    std::snprintf(s.sceneKeywordTemplate, sizeof(s.sceneKeywordTemplate), "rain");
    s.workAreaIn = 2.0f;
    s.workAreaOut = 5.0f;
    PerformCommand(CmdSaveScene);
    ASSERT_EQ(p.scenes.size(), 2u);
    EXPECT_STREQ(p.scenes[0].name, "Scene 2");
    EXPECT_STREQ(p.scenes[0].keywords, "rain");
    EXPECT_STREQ(p.scenes[1].name, "Late");
    EXPECT_EQ(p.events[0].sceneLink, 1) << "the link follows its scene";
    EXPECT_EQ(p.events[1].sceneLink, -1);
    EXPECT_EQ(s.workAreaScene, 0);
    EXPECT_EQ(s.renamingScene, 0);
    EXPECT_STREQ(s.sceneNameBuffer, "Scene 2");
    EXPECT_TRUE(s.sceneNameFocus);
    EXPECT_TRUE(s.backgroundAfterRename);
    EXPECT_TRUE(s.unsavedChanges);

    PerformCommand(CmdSaveScene);
    EXPECT_EQ(p.scenes.size(), 2u) << "a work area a scene owns makes no second one";
}

// [SECTION] Groups, mute and lock

TEST_F(CommandActionsTest, GroupNumbersAndReusesTheFirstFreeOne) {
    MakeProject({1.0f, 2.0f, 3.0f});
    PerformCommand(CmdGroup);
    EXPECT_TRUE(UndoStack.empty()) << "nothing selected, nothing grouped";
    s.selectedEvents = {0};
    PerformCommand(CmdGroup);
    s.selectedEvents = {1};
    PerformCommand(CmdGroup);
    EXPECT_STREQ(p.events[0].folder, "Group 1");
    EXPECT_STREQ(p.events[1].folder, "Group 2");
    EXPECT_EQ(s.renamingFolder, "Group 2");
    std::snprintf(p.events[0].folder, sizeof(p.events[0].folder), "Doors");
    s.selectedEvents = {2};
    PerformCommand(CmdGroup);
    EXPECT_STREQ(p.events[2].folder, "Group 1");
    PerformCommand(CmdUngroup);
    EXPECT_STREQ(p.events[2].folder, "");
}

TEST_F(CommandActionsTest, MuteAndLockOnMixedSelections) {
    struct Case {
        const char* name;
        std::int32_t command;
        bool first, second;
        bool want;
    };
    const Case cases[] = {
        {"mixed mutes all", CmdMuteToggle, true, false, true},
        {"all muted unmutes all", CmdMuteToggle, true, true, false},
        {"mixed locks all", CmdLockToggle, false, true, true},
        {"all locked unlocks all", CmdLockToggle, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ResetTimelineState();
        ClearVoices();
        MakeProject({1.0f, 2.0f, 3.0f});
        const bool mute = c.command == CmdMuteToggle;
        (mute ? p.events[0].muted : p.events[0].locked) = c.first;
        (mute ? p.events[1].muted : p.events[1].locked) = c.second;
        p.results[2].muted = true;
        s.selectedEvents = {0, 1, 9};
        PerformCommand(c.command);
        for (int i : {0, 1}) EXPECT_EQ(mute ? p.events[i].muted : p.events[i].locked, c.want);
        EXPECT_EQ(UndoStack.size(), 1u);
        if (mute) {
            const auto& v = LivePlaybackEngine.voices;
            EXPECT_EQ(v[0].muted, c.want);
            EXPECT_EQ(v[1].muted, c.want);
            EXPECT_TRUE(v[2].muted) << "a muted layer keeps its voice muted";
        }
    }
}

// [SECTION] Selection, view and draw mode

TEST_F(CommandActionsTest, PreviousAndNextGoByTime) {
    MakeProject({5.0f, 1.0f, 50.0f});
    struct Case {
        const char* name;
        std::int32_t primary, command, want;
    };
    const Case cases[] = {
        {"next without a primary takes the earliest", -1, CmdSelectNext, 1},
        {"previous without a primary takes the latest", -1, CmdSelectPrevious, 2},
        {"next goes by time, not by index", 1, CmdSelectNext, 0},
        {"next stops at the last", 2, CmdSelectNext, 2},
        {"previous stops at the first", 1, CmdSelectPrevious, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.selectedEvents.clear();
        s.selectedEvent = c.primary;
        s.viewStart = 0.0f;
        s.viewEnd = 20.0f;
        PerformCommand(c.command);
        EXPECT_EQ(s.selectedEvent, c.want);
        EXPECT_EQ(s.selectedEvents, std::set<std::int32_t>{c.want});
        EXPECT_EQ(s.playhead, p.events[static_cast<std::size_t>(c.want)].time);
        if (c.want == 2) {
            EXPECT_EQ(s.viewStart, 40.0f) << "an event out of view is centred";
            EXPECT_EQ(s.ViewSpan(), 20.0f);
        } else {
            EXPECT_EQ(s.viewStart, 0.0f);
        }
    }
}

TEST_F(CommandActionsTest, AudioFocusFollowsOrLeavesByLatching) {
    MakeProject({10.0f, 40.0f});
    for (bool latched : {true, false}) {
        SCOPED_TRACE(latched ? "latched" : "not latched");
        s.audioFocusActive = false;
        s.audioFocusLatched = latched;
        s.viewStart = 0.0f;
        s.viewEnd = 60.0f;
        s.selectedEvents = {0};
        PerformCommand(CmdAudioFocus);
        ASSERT_TRUE(s.audioFocusActive);
        EXPECT_LT(s.viewStart, 10.0f);
        EXPECT_LT(s.viewEnd, 12.0f);
        s.selectedEvents = {1};
        FollowAudioFocus(s, p);
        if (latched) {
            EXPECT_TRUE(s.audioFocusActive);
            EXPECT_EQ(s.audioFocusEvents, std::set<std::int32_t>{1});
            EXPECT_GT(s.viewStart, 38.0f) << "the view follows the new selection";
            PerformCommand(CmdAudioFocus);
            EXPECT_FALSE(s.audioFocusActive) << "pressed again on the same selection, it ends";
        } else {
            EXPECT_FALSE(s.audioFocusActive);
        }
        EXPECT_EQ(s.viewStart, 0.0f);
        EXPECT_EQ(s.viewEnd, 60.0f) << "the saved view comes back";
    }
}

TEST_F(CommandActionsTest, DrawModeRefusals) {
    struct Case {
        const char* name;
        EventKind kind;
        std::set<std::int32_t> selection;
        bool want;
    };
    const Case cases[] = {
        {"a Spot", EventKind::Spot, {0}, false},
        {"a Clip", EventKind::Clip, {0}, false},
        {"two events", EventKind::Fill, {0, 1}, false},
        {"one Fill", EventKind::Fill, {0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ResetTimelineState();
        ClearVoices();
        MakeProject({2.0f, 4.0f});
        p.events[0].shape = KindValue(c.kind);
        s.selectedEvents = c.selection;
        s.selectedEvent = 0;
        PerformCommand(CmdDrawMode);
        EXPECT_EQ(s.curveDrawMode, c.want);
        if (!c.want) continue;
        EXPECT_EQ(s.timelineView, 2);
        PerformCommand(CmdEscape);
        EXPECT_FALSE(s.curveDrawMode) << "Escape ends it";
        EXPECT_EQ(s.timelineView, 0);
        EXPECT_EQ(s.viewStart, 0.0f);
    }
}

TEST_F(CommandActionsTest, EscapeTakesTheFirstRuleThatApplies) {
    MakeProject({1.0f});
    s.selectedEvents = {0};
    s.workAreaScene = 0;
    s.workAreaIn = 1.0f;
    s.workAreaOut = 2.0f;
    s.unsavedPromptState = 1;
    s.eventLaneExpanded = true;
    PerformCommand(CmdEscape);
    EXPECT_FALSE(s.eventLaneExpanded);
    EXPECT_EQ(s.unsavedPromptState, 1);
    PerformCommand(CmdEscape);
    EXPECT_EQ(s.unsavedPromptState, 0);
    EXPECT_EQ(s.workAreaScene, 0);
    PerformCommand(CmdEscape);
    EXPECT_EQ(s.workAreaScene, -1);
    EXPECT_EQ(s.workAreaIn, -1.0f);
    EXPECT_EQ(s.selectedEvents.size(), 1u);
    PerformCommand(CmdEscape);
    EXPECT_TRUE(s.selectedEvents.empty());
}

// [SECTION] New events, history and files

TEST_F(CommandActionsTest, CreateAtThePlayhead) {
    s.playhead = 7.0f;
    std::snprintf(s.sceneKeywordTemplate, sizeof(s.sceneKeywordTemplate), "wind");
    s.lastIntensityMode = 1;
    PerformCommand(CmdCreateFill);
    ASSERT_EQ(p.events.size(), 1u);
    const Event& fill = p.events[0];
    EXPECT_TRUE(IsKind(fill.shape, EventKind::Fill));
    EXPECT_EQ(fill.time, 7.0f);
    EXPECT_STREQ(fill.keywords, "wind");
    EXPECT_EQ(fill.intensityMode, 1);
    for (float v : fill.intensity) ASSERT_EQ(v, 0.5f);
    EXPECT_EQ(s.selectedEvent, 0);
    EXPECT_TRUE(s.unsavedChanges) << "the new event is protected by the prompt and auto-save";
    EXPECT_TRUE(UndoStack.empty());

    PerformCommand(CmdCreateSpot);
    EXPECT_TRUE(IsKind(p.events[1].shape, EventKind::Spot));
    EXPECT_EQ(p.events[1].weightCenter, 0.3f);
}

TEST_F(CommandActionsTest, UndoClearsTheSelectionAndSaysSo) {
    MakeProject({1.0f, 2.0f});
    s.selectedEvents = {0};
    s.selectedEvent = 0;
    PerformCommand(CmdDelete);
    ASSERT_EQ(p.events.size(), 1u);
    s.selectedEvents = {0};
    s.selectedEvent = 0;
    s.expandedEvent = 0;
    PerformCommand(CmdUndo);
    EXPECT_EQ(p.events.size(), 2u);
    EXPECT_TRUE(s.selectedEvents.empty());
    EXPECT_EQ(s.selectedEvent, -1);
    EXPECT_EQ(s.expandedEvent, -1);
    EXPECT_EQ(s.statusMessage, "Undo");
    PerformCommand(CmdRedo);
    EXPECT_EQ(p.events.size(), 1u);
    EXPECT_EQ(s.statusMessage, "Redo");
    PerformCommand(CmdRedo);
    EXPECT_EQ(p.events.size(), 1u) << "an empty redo stack does nothing";
}

// Import Markers says when the chosen file is not a session text, and
// counts the rows it could not place.
TEST_F(CommandActionsTest, ImportMarkersSaysWhatItLeftOut) {
    test::TempDir dir;
    const std::string listing =
        "SESSION NAME:\tReel 2\nSAMPLE RATE:\t48000.000000\nSESSION START TIMECODE:\t00:59:55:00\n"
        "TIMECODE FORMAT:\t25 Frame\nM A R K E R S  L I S T I N G\n#\tLOCATION\tTIME REFERENCE\tUNITS\tNAME\n";
    struct Case {
        const char* name;
        std::string text;
        std::size_t markers;
        const char* status;
    };
    const Case cases[] = {
        {"a text of something else", "Dear diary,\ntoday the door slammed.\n", 0,
         "Error: not a Pro Tools session text: markers.txt"},
        {"a Bars|Beats row", listing + "1\t01:00:00:00\t3|3\tTicks\tDoor\n2\t58|4\t58|4\tTicks\tBars\n", 1,
         "Imported 1 marker; 1 row skipped (no usable time)"},
        {"every row placed", listing + "1\t01:00:00:00\t3|3\tTicks\tDoor\n", 1, ""},
    };
    const std::string path = dir.file("markers.txt");
    s.platformHooks.openFileDialog = [&](const std::string&, const std::string&) { return path; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::WriteBytes(path, c.text));
        s.statusMessage.clear();
        PerformCommand(CmdImportMarkers);
        ASSERT_EQ(s.markerEvents.size(), c.markers);
        if (c.markers > 0) EXPECT_FLOAT_EQ(s.markerEvents[0].time, 5.0f) << "from the session start";
        EXPECT_EQ(s.statusMessage, c.status);
    }
    s.markerEvents.clear();
    s.markerScenes.clear();
    s.activeTab = 0;
}

TEST_F(CommandActionsTest, OpeningOverUnsavedWorkRaisesThePrompt) {
    test::TempDir dir;
    int dialogs = 0;
    s.platformHooks.openFileDialog = [&](const std::string&, const std::string&) {
        ++dialogs;
        return std::string();
    };
    s.recentProjects = {dir.file("gone.kvproj")};
    struct Case {
        const char* name;
        std::int32_t command;
        bool parked, throughDialog;
    };
    const Case cases[] = {
        {"Open asks first", CmdOpenProject, false, true},
        {"Open Recent parks the path", CmdOpenRecent, true, false},
        {"New asks first", CmdNewProject, false, false},
        {"Close asks first", CmdCloseProject, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.events.clear();
        MakeProject({1.0f});
        s.unsavedChanges = true;
        s.unsavedPromptState = 0;
        s.parkedOpenPath.clear();
        s.openThroughDialog = false;
        PerformCommand(c.command);
        EXPECT_EQ(s.unsavedPromptState, 1);
        EXPECT_EQ(s.parkedOpenPath.empty(), !c.parked);
        EXPECT_EQ(s.openThroughDialog, c.throughDialog);
        EXPECT_EQ(p.events.size(), 1u) << "nothing is replaced before the answer";
    }
    EXPECT_EQ(dialogs, 0);

    s.unsavedChanges = false;
    s.unsavedPromptState = 0;
    PerformCommand(CmdOpenProject);
    EXPECT_EQ(dialogs, 1) << "without unsaved work the dialog shows at once";
    PerformCommand(CmdOpenRecent);
    EXPECT_EQ(s.statusMessage, "File not found") << "a stale entry only reports";
    PerformCommand(CmdOpenRecent + 5);
    EXPECT_EQ(s.unsavedPromptState, 0) << "a position past the list does nothing";
}

// The build typesets the user guide beside the program; the help command
// opens it from there, and does nothing where there is none.
TEST_F(CommandActionsTest, UserGuideOpensTheGuideTheBuildPutBesideTheProgram) {
    const std::string folder = std::filesystem::path(KORVEL_EXECUTABLE).parent_path().string();
    const std::string guide = folder + "/Korvel User Guide.pdf";
    std::ifstream file(guide, std::ios::binary);
    ASSERT_TRUE(file.good()) << guide << " was not built (groff, scripts/deps.sh)";
    char magic[5] = {};
    file.read(magic, 5);
    EXPECT_EQ(std::string(magic, 5), "%PDF-");

    std::vector<std::string> opened;
    s.platformHooks.openDocument = [&](const std::string& path) { opened.push_back(path); };
    s.executableFolder = folder;
    PerformCommand(CmdUserGuide);
    EXPECT_EQ(opened, std::vector<std::string>{guide});

    test::TempDir empty;
    s.executableFolder = empty.path().string();
    PerformCommand(CmdUserGuide);
    EXPECT_EQ(opened.size(), 1u);
    s.platformHooks.openDocument = nullptr;
    s.executableFolder.clear();
}

}  // namespace
}  // namespace korvel
