#pragma once
// What the project launcher does, apart from drawing it: each recent
// project's date and description (read once per path for the session) and
// the actions: New, Open and a double-clicked row go
// the way the menu's New and Open go (the unsaved-changes prompt, a parked
// path) and are refused while a job or an export reads the project. No UI
// library calls: tested headless.
//
// [SECTION] Rows
// [SECTION] Actions
#include <cstddef>
#include <string>
#include <string_view>

#include "project/app_state.h"

namespace korvel {

// [SECTION] Rows

// The file's last write in local time, "%b %d, %Y  %H:%M"; empty when it
// cannot be examined. Cached per path for the session.
std::string GetProjectModifiedDate(const std::string& path);

// The root object's string member "projectDescription"; empty when the file
// cannot be read, is not an object or has no such string. Cached per path
// for the session.
std::string GetProjectDescription(const std::string& path);

// Uncached: reads only as far as the member when the file starts as the
// program writes it (a large project's events follow the description), and
// the whole file otherwise.
std::string ReadProjectDescription(const std::string& path);

// The description found in `prefix`, the first bytes of a project file, or
// false when the prefix alone cannot settle it (the caller then parses the
// whole text). Exposed for the fuzz target, which compares both answers.
bool ProjectDescriptionFromPrefix(std::string_view prefix, std::string& description);
// The answer from the whole text, as the project reader parses it.
std::string ProjectDescriptionFromText(const std::string& text);

// Forgets both session caches (tests).
void ClearLauncherCaches();

// [SECTION] Actions

// Shown on the launcher's disabled actions.
inline constexpr const char* kLauncherBusyTooltip = "Wait for the running job or export to finish";

// New, Open and the rows act only while the edit guard allows.
bool LauncherActionsEnabled(const AppState& state);

// Closing always dismisses it until the menu command opens it again.
void CloseLauncher(AppState& state);

// As the menu's New: the unsaved-changes prompt when the project has
// unsaved events, else a new project at once; the launcher closes.
void LauncherNewProject(AppState& state);

// As the menu's Open: the open-file dialog; a chosen file waits in
// PendingOpenPath (the frame asks about unsaved changes first and parks it)
// and the launcher closes; a cancelled dialog keeps it open.
void LauncherOpenFile(AppState& state);

// A double click on recent project `index`: an unreadable file is dropped
// from the list with a message (false: the list stops drawing this frame);
// a readable one is opened as the menu opens a recent project.
bool LauncherOpenRecent(AppState& state, std::size_t index);

}  // namespace korvel
