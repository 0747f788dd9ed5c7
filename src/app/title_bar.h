#pragma once
// What the title bar decides, apart from drawing it: the tab labels' blend,
// tab clicks, the project name cut to its room, the unsaved-changes prompt's
// buttons and the per-frame services (device check, auto-save). No UI
// library calls: tested headless.
#include <functional>
#include <string>
#include <string_view>

#include "project/app_state.h"

namespace korvel {

// The project life cycle's operations the shell calls. The life cycle
// installs them at start-up; an empty entry does nothing and a missing save
// counts as failed. UI thread.
struct ProjectLifeCycleCalls {
    // Writes the project to `path`; true when it was written. Reports its
    // own result on the status line.
    std::function<bool(const std::string& path)> saveProject;
    // Carries out what the unsaved-changes prompt held back (quit, open or
    // new) and lowers the prompt.
    std::function<void()> runPendingProjectAction;
    // Writes a backup of the project at `path`; true on success.
    std::function<bool(const std::string& path)> autoSaveProject;
    // Reopens the audio output when its device went away.
    std::function<void()> recoverAudioDevice;
};
extern ProjectLifeCycleCalls ProjectLifeCycle;

// Small animations: moves `value` toward `target` by min(rate × dt, 1) of the
// difference, dt counted at most 0.025 s, and snaps within 0.004. Returns
// true once it rests on the target.
bool StepBlend(float& value, float target, float rate, double frameSeconds);

// The room the tab strip's full labels need, and whether they get it from a
// strip whose left part ends at `x`.
struct TabStripFit {
    float displayWidth = 0.0f;
    float captionButtonsWidth = 0.0f;
    float x = 0.0f;          // after the title and the menu button
    float neededWidth = 0.0f;  // the six full labels with their padding
    bool promptShown = false;
};
bool TabLabelsFit(const TabStripFit& fit);

// The width of the strip while the labels blend: from six compact buttons
// of width `compact` (blend 0) to the full labels (blend 1).
float TabStripWidth(float neededWidth, float compact, float blend);

// The project file's name without folder and extension.
std::string ProjectNameFromPath(std::string_view path);

// `text` when it fits `available`; else its longest prefix, cut between
// UTF-8 characters, that fits with "..." after it, with "..." appended.
std::string FitTextWithEllipsis(std::string_view text, float available,
                                const std::function<float(std::string_view)>& width);

// A click on tab `tab`: another tab becomes active, the active one returns
// to the events tab, and entering the trace tab clears the selection.
void ClickMainTab(AppState& state, int tab);

// The prompt's three buttons. Save writes to the project's path or, without
// one, to a path the save dialog gives; only a save that succeeded runs the
// held-back action, so a failed one leaves the prompt up.
void UnsavedPromptSave(AppState& state);
void UnsavedPromptDiscard(AppState& state);
void UnsavedPromptCancel(AppState& state);

// Once per frame: the status countdown, the audio device check every 2.5 s
// and auto-save.
void RunTitleBarServices(AppState& state, double frameSeconds);

// Auto-save's part of the services.
void AutoSaveTick(AppState& state, double frameSeconds);

}  // namespace korvel
