#include "project/undo.h"

#include <gtest/gtest.h>

#include <memory>

#include "playback/playback_engine.h"
#include "project/app_state.h"

namespace korvel {
namespace {

class UndoTest : public ::testing::Test {
protected:
    void SetUp() override {
        CurrentProject = Project();
        ClearUndoHistory();
        GlobalAppState.unsavedChanges = false;
    }
    void TearDown() override {
        CurrentProject = Project();
        ClearUndoHistory();
        std::lock_guard guard(LivePlaybackEngine.voiceMutex);
        LivePlaybackEngine.voices.clear();
    }

    // One edit: push, then change the project so each state is recognisable.
    static void Edit(float time) {
        PushUndo();
        Event event;
        event.time = time;
        CurrentProject.events.push_back(event);
    }
};

TEST_F(UndoTest, FiftyOneEditsKeepFiftySteps) {
    for (int i = 1; i <= 51; ++i) Edit(static_cast<float>(i));
    EXPECT_EQ(UndoStack.size(), 50u);
    while (!UndoStack.empty()) Undo();
    // The state before the first edit (no events) is gone; the oldest
    // reachable one is after the first edit.
    ASSERT_EQ(CurrentProject.events.size(), 1u);
    EXPECT_EQ(CurrentProject.events[0].time, 1.0f);
    EXPECT_EQ(RedoStack.size(), 50u);
    Undo();
    EXPECT_EQ(CurrentProject.events.size(), 1u) << "undo on an empty stack changes nothing";
    EXPECT_EQ(RedoStack.size(), 50u) << "and pushes nothing";
}

// Undo keeps the event and layer counts of a mute: only the revision tells
// the events list that its weight summary is stale.
TEST_F(UndoTest, UndoingAMuteRefillsTheEventListSummary) {
    const auto state = std::make_unique<AppState>();
    CurrentProject.events.resize(1);
    LayerResult layer;
    layer.eventIdx = 0;
    layer.weight = 0.5f;
    CurrentProject.results = {layer};
    PushUndo();
    CurrentProject.results[0].muted = true;
    ++CurrentProject.revision;
    state->RefreshEventListCache(CurrentProject.events, CurrentProject.results, CurrentProject.revision);
    ASSERT_EQ(state->eventWeightSummaryCount[0], 0);

    Undo();
    state->RefreshEventListCache(CurrentProject.events, CurrentProject.results, CurrentProject.revision);
    EXPECT_EQ(state->eventWeightSummaryCount[0], 1);
}

TEST_F(UndoTest, NewEditClearsRedo) {
    Edit(1.0f);
    Undo();
    ASSERT_EQ(RedoStack.size(), 1u);
    Edit(2.0f);
    EXPECT_TRUE(RedoStack.empty());
    Redo();
    ASSERT_EQ(CurrentProject.events.size(), 1u);
    EXPECT_EQ(CurrentProject.events[0].time, 2.0f) << "redo has nothing to restore";
}

TEST_F(UndoTest, UndoThenRedoRestoresEverySnapshotMember) {
    Project& project = CurrentProject;
    project.totalDuration = 60.0f;
    PushUndo();
    project.events.emplace_back();
    project.results.emplace_back();
    project.userShapes.emplace_back();
    project.bannedFiles = {"/sfx/a.wav"};
    project.bannedFileIds = {"0123456789abcdef"};
    project.scenes.emplace_back();
    project.built = true;
    const std::int32_t layerId = project.results[0].id;

    Undo();
    EXPECT_TRUE(project.events.empty());
    EXPECT_TRUE(project.results.empty());
    EXPECT_TRUE(project.userShapes.empty());
    EXPECT_TRUE(project.bannedFiles.empty());
    EXPECT_TRUE(project.bannedFileIds.empty());
    EXPECT_TRUE(project.scenes.empty());
    EXPECT_FALSE(project.built);

    // Settings are outside the history: an undo leaves them as they are.
    project.totalDuration = 90.0f;
    project.fps = 25.0f;
    project.trackLayout.groups[0].trackCount = 4;
    Redo();
    EXPECT_EQ(project.events.size(), 1u);
    ASSERT_EQ(project.results.size(), 1u);
    EXPECT_EQ(project.results[0].id, layerId);
    EXPECT_EQ(project.userShapes.size(), 1u);
    EXPECT_EQ(project.bannedFiles, std::vector<std::string>{"/sfx/a.wav"});
    EXPECT_EQ(project.bannedFileIds, std::vector<std::string>{"0123456789abcdef"});
    EXPECT_EQ(project.scenes.size(), 1u);
    EXPECT_TRUE(project.built);
    EXPECT_EQ(project.totalDuration, 90.0f);
    EXPECT_EQ(project.fps, 25.0f);
    EXPECT_EQ(project.trackLayout.groups[0].trackCount, 4);
}

TEST_F(UndoTest, OnlyPushMarksTheProjectChanged) {
    Edit(1.0f);
    EXPECT_TRUE(GlobalAppState.unsavedChanges);
    GlobalAppState.unsavedChanges = false;
    Undo();
    Redo();
    EXPECT_FALSE(GlobalAppState.unsavedChanges);
}

// The audio thread follows each voice's curve handle; after the events are
// replaced the handles must be dropped until the voices are synchronised.
TEST_F(UndoTest, RestoreDropsTheVoicesCurveHandles) {
    {
        std::lock_guard guard(LivePlaybackEngine.voiceMutex);
        LivePlaybackEngine.voices.resize(2);
        for (Voice& voice : LivePlaybackEngine.voices) {
            voice.eventCurve = std::make_shared<const CurvePoints>();
            voice.eventCurveLength = kCurvePoints;
        }
    }
    Edit(1.0f);
    Undo();
    for (const Voice& voice : LivePlaybackEngine.voices) {
        EXPECT_EQ(voice.eventCurve, nullptr);
        EXPECT_EQ(voice.eventCurveLength, 0);
    }
}

}  // namespace
}  // namespace korvel
