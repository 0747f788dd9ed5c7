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
};
extern FrameWorkState FrameWork;

// [SECTION] The steps

// Every step up to the drawing, in order, with the frame's time in seconds
// (already added to the UI clock by the caller) and whether the left mouse
// button is held (bed layers are re-laid only once it is up).
void RunFrameWork(double frameSeconds, bool mouseButtonDown);

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
// False when a job with the frozen picture runs: the frame ends there.
bool FrameRunningJob();
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
