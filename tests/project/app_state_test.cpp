#include "project/app_state.h"

#include <gtest/gtest.h>

#include <memory>

namespace korvel {
namespace {

// What a fresh process shows, and the defaults other parts of the program
// read before any preference or project has been loaded. A new record, since
// other tests in this binary may have edited the global one.
TEST(AppState, FreshProcessDefaults) {
    const auto fresh = std::make_unique<AppState>();
    const AppState& state = *fresh;
    EXPECT_FLOAT_EQ(state.playhead, 0.0f);
    EXPECT_FALSE(state.playing);
    EXPECT_FLOAT_EQ(state.viewStart, 0.0f);
    EXPECT_FLOAT_EQ(state.viewEnd, 30.0f);
    EXPECT_EQ(state.selectedEvent, -1);
    EXPECT_TRUE(state.selectedEvents.empty());
    EXPECT_EQ(state.expandedEvent, -1);
    EXPECT_EQ(state.activeTab, 0);
    for (bool visible : state.groupVisible) EXPECT_TRUE(visible);
    EXPECT_EQ(state.projectSampleRate, 48000);
    EXPECT_TRUE(state.autoSaveEnabled);
    EXPECT_FLOAT_EQ(state.autoSaveInterval, 300.0f);
    EXPECT_EQ(state.maxBackups, 5);
    EXPECT_TRUE(state.updateCheckEnabled);
    EXPECT_TRUE(state.showLauncherOnStartup);
    EXPECT_FALSE(state.HasWorkArea());

    // Build passes and export settings that jobs read while they run.
    EXPECT_TRUE(state.protectSilence);
    EXPECT_FALSE(state.destructiveEQ);
    EXPECT_FLOAT_EQ(state.exportSettings.handleDuration, 1.0f);
    EXPECT_FLOAT_EQ(state.exportSettings.fadeInDuration, 0.01f);
    EXPECT_FLOAT_EQ(state.exportSettings.fadeOutDuration, 0.05f);
    EXPECT_TRUE(state.exportSettings.exportFormatAAF);
    EXPECT_TRUE(state.exportSettings.exportFormatWAV);
    EXPECT_TRUE(state.exportSettings.exportWavMixdown);
    EXPECT_TRUE(state.exportSettings.exportReverbStem);
    EXPECT_FLOAT_EQ(state.opticalDetail, 0.35f);

    // Job, export and picture-analysis state start idle.
    EXPECT_FALSE(state.backgroundJob.active.load());
    EXPECT_FLOAT_EQ(state.backgroundJob.progress.load(), -1.0f);
    EXPECT_FALSE(state.traceRunning.load());
    EXPECT_FALSE(state.traceAnalysis.valid);
    EXPECT_FLOAT_EQ(state.exportProgress.load(), -1.0f);
    EXPECT_EQ(state.PendingMenuCommand.load(), 0);
    EXPECT_FALSE(state.unsavedChanges);
    EXPECT_TRUE(state.PresetMenusDirty);

    // Shell records.
    EXPECT_FLOAT_EQ(state.windowChrome.titleLeftPad, 12.0f);
    EXPECT_FLOAT_EQ(state.windowChrome.captionButtonsWidth, 142.0f);
    EXPECT_TRUE(state.windowChrome.customTitleBar);
    EXPECT_EQ(state.dropState.dropTargetScene, -1);
    EXPECT_EQ(state.pendingDeleteEvent, -1);
    EXPECT_FALSE(state.platformHooks.openFileDialog) << "hooks are absent until the shell installs them";
    EXPECT_EQ(state.fontSizePreset, 1);
    EXPECT_TRUE(state.fontSizeAuto);
    EXPECT_TRUE(state.boldFonts);
}

TEST(AppState, ResetTraceStateForgetsMarkersButKeepsTheAnalysis) {
    const auto state = std::make_unique<AppState>();
    state->markerSourcePath = "/session.txt";
    state->markerEvents.resize(3);
    state->markerScenes.resize(2);
    state->traceAnalysis.valid = true;
    state->traceAnalysis.frames.resize(4);
    state->ResetTraceState();
    EXPECT_TRUE(state->markerSourcePath.empty());
    EXPECT_TRUE(state->markerEvents.empty());
    EXPECT_TRUE(state->markerScenes.empty());
    EXPECT_TRUE(state->traceAnalysis.valid) << "cancelling the analysis is a separate step";
    EXPECT_EQ(state->traceAnalysis.frames.size(), 4u);
}

TEST(AppState, HasWorkAreaNeedsBothEndsInOrder) {
    struct Case {
        const char* name;
        float in;
        float out;
        bool has;
    };
    const Case cases[] = {
        {"both unset", -1.0f, -1.0f, false},
        {"start unset", -1.0f, 5.0f, false},
        {"end unset", 2.0f, -1.0f, false},
        {"equal ends", 3.0f, 3.0f, false},
        {"reversed", 5.0f, 2.0f, false},
        {"from zero", 0.0f, 2.0f, true},
        {"ordinary", 1.5f, 4.0f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppState state;
        state.workAreaIn = c.in;
        state.workAreaOut = c.out;
        EXPECT_EQ(state.HasWorkArea(), c.has);
    }
}

}  // namespace
}  // namespace korvel
