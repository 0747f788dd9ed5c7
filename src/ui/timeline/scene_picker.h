#pragma once
// The scene background picker: a popup under a scene that lists the scene's
// background events (Fill and Bed events linked to it) with a remove button
// each, and adds an empty Fill, an empty Bed or one made from a recipe. It
// opens while GlobalAppState.sceneBackgroundRequest names a scene.
#include <cstdint>

namespace korvel {

struct EventPreset;

// The scene the picker was last opened for (-1 none). UI thread only.
extern std::int32_t ScenePickerOpenedFor;

// Runs right after the scene lane in DrawTimeline (the timeline's geometry
// is set). The display size and the body font size fix its width and its
// height limit.
void DrawSceneBackgroundPicker(float displayWidth, float displayHeight, float fontSize);

// Makes `recipe` a new background of `scene` (one undo step): a Bed recipe
// gives a locked Bed with its layers laid at once, any other a Fill. The
// event keeps the scene's range and link whatever the recipe's timing.
// Nothing but the undo snapshot for a scene out of range; nothing at all
// while the edit guard is closed.
void SetSceneBackgroundFromPreset(std::int32_t scene, const EventPreset& recipe);

}  // namespace korvel
