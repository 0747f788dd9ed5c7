#pragma once
// The frame's work, in its fixed order, before anything is drawn: first-frame
// start-up, drops and dialogs' results, pending rebuilds and renders (started
// as background jobs), the running job and a finished export, idle upkeep,
// transport, a request to close and a project waiting to be opened. Each
// step is its own function so the parts of the program that own a step fill
// it in place; the window half calls RunFrameWork from DrawUI. No UI library
// calls: everything here is tested headless.
//
// [SECTION] Edit guard and frame state
// [SECTION] The steps
// [SECTION] Status line
#include <cstdint>
#include <string>

#include "project/app_state.h"

namespace korvel {

// [SECTION] Edit guard and frame state

// Whether the UI may edit the project now: no background job reads it and no
// export does (the WAV export reads the live project and its voices). The
// timeline, the panels and the frame's held steps all ask here.
bool UiMayEditProject(const AppState& state = GlobalAppState);

// The first frames' progress. UI thread.
struct FrameWorkState {
    bool firstFrameDone = false;
    bool launcherChecked = false;
    std::int32_t frameCounter = 0;  // stops at 2
    // Input the window half reads before the work: Escape pressed this frame
    // (repeats count).
    bool escapePressed = false;
    // Set when a job ended in this frame's work: the window half then tells
    // the UI library that nothing is held, since the keys and buttons
    // released under the overlay never reached the widgets.
    bool jobEnded = false;
};
extern FrameWorkState FrameWork;

// [SECTION] The steps

// The command steps: taking and performing the first group after the
// transport, the second group after the close request. The window half
// installs them (the commands reach the timeline); without them no command
// is taken.
struct FrameCommandStepHooks {
    void (*first)() = nullptr;
    void (*second)() = nullptr;
};
extern FrameCommandStepHooks FrameCommandSteps;  // UI thread

// Every step up to the drawing, in order, with the frame's time in seconds
// (already added to the UI clock by the caller) and whether the left mouse
// button is held (bed layers are re-laid only once it is up).
// False when a job with the frozen picture runs: the frame draws only its
// overlay.
bool RunFrameWork(double frameSeconds, bool mouseButtonDown);

void FrameFirstFrameWork();
void FrameLauncherDecision();
void FrameLibraryFolders();
void FrameVideoReset();
void FrameProjectVideo();
void FrameDroppedVideo();
void FrameDroppedSounds();
void FrameSceneLinks();
void FrameBedLayers(bool mouseButtonDown);
void FramePendingDelete();
void FrameCacheRebuild();
void FrameBedLoading();
void FrameRenderRequest();
// The job runner: Escape, completion (a frozen job holds its full bar for
// 0.8 s), the placeholder report, lock after build, and starting the
// worker (a frozen job's once its picture is copied). False when a job
// with the frozen picture runs: the frame ends there.
bool FrameRunningJob();
// The host's copy of the frame for a frozen job: on success the job shows
// it; after one failed copy the job runs without a picture rather than
// waiting for a copy that may never come.
void SnapshotCopyFinished(BackgroundJob& job, bool copied, void* view);
// "No palette — N placeholder clips" and the like for the layers a build
// could not fill, or empty when there are none.
std::string PlaceholderMessage(int placeholders, bool libraryHasPalettes);
void FrameJoinIdleWorker();
void FrameExportFinished();
void FrameIdleUpkeep();
void FrameTransport(double frameSeconds);
void FrameCloseRequest();
void FrameProjectToOpen();
// Near the end of the frame, after every panel has drawn.
void FrameEndOfFrame();

// [SECTION] Status line

// Posting a message: the text and its seconds, replacing any other.
void PostStatus(const std::string& text, float seconds);

// Once per frame: counts the message down and moves the audio output's own
// text in for 5 s.
void TickStatusLine(double frameSeconds);

// RGB of a message by what it says (red for errors and failures, amber for
// missing or unreadable files, green otherwise), packed with alpha 255.
std::uint32_t StatusTextColor(const std::string& text);

// 0..200: holds at 200 and fades out over the last half second.
int StatusTextAlpha(float secondsLeft);

}  // namespace korvel
