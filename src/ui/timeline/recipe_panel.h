#pragma once
// Recipes in the inspector: the one-event panel that applies, saves and
// deletes recipes, and the batch panel that applies one to the selection.
// The edits are apart from their widgets so that each rule holds whatever
// draws it. UI thread only.
#include <cstdint>
#include <vector>

struct ImVec2;

namespace korvel {

struct AppState;
struct Project;

// Clips (ascending indices) placed afresh from their files and heard at
// once: the old layers go first, so each clip gets a new layer and voice. A
// clip that cannot be placed keeps the duration it has. The caller has
// taken the undo snapshot and checked the edit guard.
void PlaceClipsAgain(AppState& state, Project& project, const std::vector<std::int32_t>& clips);

// Applies RecipeList entry `recipe` to event `index` after an undo snapshot,
// keeping its time. A Bed is locked and its layers laid out again; a Clip
// with a file is placed and rendered at once (it keeps its duration when it
// cannot be placed); other kinds keep their layers until the next build.
// False with nothing changed for an index out of range, and with the busy
// status while a job or an export reads the project.
bool ApplyRecipeToEvent(AppState& state, Project& project, std::int32_t index, std::int32_t recipe);

// Applies RecipeList entry `recipe` to every valid selected event after one
// undo snapshot, keeping their times. Clips with a file are placed and
// rendered at once; the other events are asked to build as a list. Refused
// as ApplyRecipeToEvent.
bool ApplyRecipeToSelection(AppState& state, Project& project, std::int32_t recipe);

// Saves event `index` as a recipe named `name` into the recipes folder and
// reloads the list; the event takes the name. False with nothing written
// for an empty name, an index out of range or a failed write.
bool SaveEventAsRecipe(AppState& state, Project& project, std::int32_t index, const char* name);

// Removes RecipeList entry `recipe`: its preview, its file, then the list is
// read again (a file that cannot be removed stays listed). False for an
// index out of range.
bool DeleteRecipeAt(std::int32_t recipe);

// The one-event recipe button at `buttonPos` (in the inspector's scroll
// child) and its panel "##presetpanel", `contentLeft` being the child's
// content left edge in the child's coordinates.
void DrawRecipePanel(AppState& state, Project& project, std::int32_t index, const ImVec2& buttonPos,
                     float contentLeft, float frameHeight);

// The batch recipe button at `buttonPos` and its panel "##batchpresetpanel",
// placed against the inspector's right edge `inspectorRight` (screen).
void DrawBatchRecipePanel(AppState& state, Project& project, const ImVec2& buttonPos, float inspectorRight,
                          float fontSize, float frameHeight);

}  // namespace korvel
