#pragma once
// Undo and redo by whole snapshots of the editable part of the project.
// Settings, the track layout and the application state are not part of it.
#include <deque>
#include <string>
#include <vector>

#include "project/event.h"
#include "project/layer.h"
#include "project/project.h"

namespace korvel {

struct UndoSnapshot {
    std::vector<Event> events;
    std::vector<LayerResult> results;
    std::vector<UserShape> userShapes;
    std::vector<std::string> bannedFiles;
    std::vector<std::string> bannedFileIds;
    std::vector<Scene> scenes;
    bool built = false;
};

inline constexpr std::size_t kMaxUndoSteps = 50;

// Newest entry at the back of each. UI thread only: PushUndo, Undo, Redo and
// the new and open operations change them.
extern std::deque<UndoSnapshot> UndoStack;  // at most kMaxUndoSteps after a push
extern std::deque<UndoSnapshot> RedoStack;  // emptied by every push

UndoSnapshot CaptureUndoSnapshot();
// Writes the snapshot into CurrentProject. The events are replaced under the
// live engine's voice lock, and every voice's curve reference is dropped
// until the voices are synchronised again.
void RestoreUndoSnapshot(const UndoSnapshot& snapshot);

// Call before every edit: records the project as it is and marks it changed.
void PushUndo();
// Each does nothing when its stack is empty; neither marks the project changed.
void Undo();
void Redo();
// A new or opened project starts without history.
void ClearUndoHistory();

}  // namespace korvel
