#pragma once
// What each command does, and the frame's two command steps. UI thread;
// they reach the timeline's view and event-menu operations, so they live in
// the window half.
#include <cstdint>

namespace korvel {

struct AppState;
struct Project;

// Performs one command on GlobalAppState and CurrentProject. Commands that
// need a selection, a clipboard, a work area or history do nothing without.
void PerformCommand(std::int32_t command);

// The clipboard and the nudge on their own.
void CopySelection(bool cut);
void PasteClipboard();
void StepOrNudge(std::int32_t direction);

// Audio focus follows the selection every frame.
void FollowAudioFocus(AppState& state, const Project& project);

// The frame's two command steps (installed into the frame's work by
// InstallFrameCommandSteps). The window half stores the frame's key command
// first; the first step takes the command, performs it when it belongs to
// the first group, and has audio focus follow the selection; the second,
// after the close request, performs the second group.
void SetFrameKeyCommand(std::int32_t command);
void FrameCommands();
void FrameCommandsSecondGroup();
void InstallFrameCommandSteps();

// True once after a command that ends with the UI forgetting its active
// widget and held keys (the save dialogs take the keyboard away).
bool TakeCommandInputRelease();

// The nudge's clock: the UI time of the last nudge (nudges within 0.5 s of
// it join its undo step). UI thread.
extern double LastNudgeTime;

}  // namespace korvel
