#pragma once
// Files and folders dropped on the window: sorting the dropped names, the
// frame in which the panels find what lies under the pointer, and what the
// frame does with dropped sound files.
//
// The window layer feeds a drop in three calls (BeginDrop, AddDroppedName
// for each file, CompleteDrop with the pointer and Alt at the drop). The
// frame calls HandleDroppedAudio at its dropped-sounds step and
// EndDropHoverFrame near its end, after every panel has drawn.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/shell_state.h"

namespace korvel {

struct AppState;
struct Project;
struct Library;
struct PlaybackEngine;

// What a dropped name is taken for.
enum class DroppedKind { Ignored, Folder, Video, Sound };

// The text after the name's last '.', lower case, when that dot comes after
// the last '/' or '\\'; empty otherwise.
std::string DroppedNameExtension(std::string_view name);

bool IsVideoExtension(std::string_view lowerExtension);
bool IsSoundExtension(std::string_view lowerExtension);

// An existing folder is a folder whatever its name ends in; then the video
// and sound extensions; everything else is ignored.
DroppedKind ClassifyDroppedName(const std::string& name);

// [SECTION] Receiving a drop (UI thread, from the window's events)

void BeginDrop(DropState& drop);
void AddDroppedName(DropState& drop, std::string name);
// Sorts the received names: the last video into droppedVideo, folders into
// droppedFolderPaths, sound files into arrivingAudio (with altAtDrop); sets
// the pointer position (UI units) and the hover flags of what was taken, for
// this one frame. Returns whether anything was taken.
bool CompleteDrop(DropState& drop, float x, float y, bool altHeld);

// End of the frame: the hover flags go down; a drop's sound files move to
// droppedAudio with the targets the panels found in this frame.
void EndDropHoverFrame(DropState& drop);

// [SECTION] Dropped sound files

// Which of the five rules a drop of sound files follows; Idle when there is
// nothing to do yet (no sounds, or the drop is held).
enum class DropRule { Idle, NewPalette, SceneBed, InspectorBed, AltBed, Clips };

DropRule ChooseDropRule(const AppState& state, const Project& project);

// The project operations the rules call, each the operation of the same
// name (Project::AddEvent, Project::AddSceneBed, AddBedLayerFiles); tests
// hand in their own. A missing one is skipped.
struct DropOperations {
    std::function<std::int32_t(Project&, float time, std::int32_t kind, float weightCenter)> addEvent;
    std::function<std::int32_t(Project&, std::int32_t scene)> addSceneBed;
    std::function<std::int32_t(Project&, std::int32_t event, const std::vector<std::string>& paths, Library*)>
        addBedLayerFiles;
};

// The operations the frame's dropped-sounds step hands in: the project's
// own. UI thread only.
extern DropOperations FrameDropOperations;

// The frame's dropped-sounds step. Nothing happens while droppedAudio is
// empty, and the drop is held (with its targets) while a background job or
// an export runs. Otherwise the rule's edits are made after one undo
// snapshot (none for a new palette), then droppedAudio, altAtDrop and the
// targets are cleared. Returns the rule that ran.
DropRule HandleDroppedAudio(AppState& state, Project& project, Library& library, PlaybackEngine& engine,
                            const DropOperations& operations);

}  // namespace korvel
