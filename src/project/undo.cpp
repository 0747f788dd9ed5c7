#include "project/undo.h"

#include <mutex>
#include <utility>

#include "playback/playback_engine.h"
#include "project/app_state.h"

namespace korvel {

std::deque<UndoSnapshot> UndoStack;
std::deque<UndoSnapshot> RedoStack;

namespace {

// Moves the current state onto `to` and restores the newest entry of `from`.
void Step(std::deque<UndoSnapshot>& from, std::deque<UndoSnapshot>& to) {
    if (from.empty()) return;
    to.push_back(CaptureUndoSnapshot());
    RestoreUndoSnapshot(from.back());
    from.pop_back();
}

}  // namespace

UndoSnapshot CaptureUndoSnapshot() {
    const Project& project = CurrentProject;
    UndoSnapshot snapshot;
    snapshot.events = project.events;
    snapshot.results = project.results;
    snapshot.userShapes = project.userShapes;
    snapshot.bannedFiles = project.bannedFiles;
    snapshot.bannedFileIds = project.bannedFileIds;
    snapshot.scenes = project.scenes;
    snapshot.built = project.built;
    return snapshot;
}

void RestoreUndoSnapshot(const UndoSnapshot& snapshot) {
    Project& project = CurrentProject;
    {
        // The voices' curves are matched to events again by the voice
        // synchronisation that follows an undo; until then they play without.
        std::lock_guard guard(LivePlaybackEngine.voiceMutex);
        if (&project.events != &snapshot.events) project.events = snapshot.events;
        for (Voice& voice : LivePlaybackEngine.voices) {
            voice.eventCurve.reset();
            voice.eventCurveLength = 0;
        }
    }
    if (&project.results != &snapshot.results) project.results = snapshot.results;
    if (&project.userShapes != &snapshot.userShapes) project.userShapes = snapshot.userShapes;
    if (&project.bannedFiles != &snapshot.bannedFiles) project.bannedFiles = snapshot.bannedFiles;
    if (&project.bannedFileIds != &snapshot.bannedFileIds) project.bannedFileIds = snapshot.bannedFileIds;
    if (&project.scenes != &snapshot.scenes) project.scenes = snapshot.scenes;
    project.built = snapshot.built;
    // A restore is an edit of its own: caches keyed on the revision (the
    // events list's weight summaries) must not keep the undone state.
    ++project.revision;
}

void PushUndo() {
    UndoStack.push_back(CaptureUndoSnapshot());
    if (UndoStack.size() > kMaxUndoSteps) UndoStack.pop_front();
    RedoStack.clear();
    GlobalAppState.unsavedChanges = true;
}

void Undo() { Step(UndoStack, RedoStack); }

void Redo() { Step(RedoStack, UndoStack); }

void ClearUndoHistory() {
    UndoStack.clear();
    RedoStack.clear();
}

}  // namespace korvel
