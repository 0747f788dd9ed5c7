#pragma once
// A layer's short history of earlier sounds, stepping back and forward
// through it, and the re-roll that draws another sound for one layer.
#include <cstdint>
#include <vector>

#include "project/layer.h"

namespace korvel {

struct Palette;
struct Project;

// Records the layer's current sound as the newest entry: entries from a
// browsed position on are cut first, the oldest goes beyond 20, and the
// layer plays its live sound (historyPos -1) again.
void PushSoundHistory(LayerResult& layer);
// Puts a recorded sound back into the layer, unmuted; its place on the
// timeline stays. A change of file drops the stored loop-fill splices,
// whose source positions belong to the earlier file.
void ApplySoundChoice(LayerResult& layer, const SoundChoice& choice);

// The history steps of the events tab. False, with nothing changed, past
// either end.
bool StepSoundHistoryBack(LayerResult& layer);
bool StepSoundHistoryForward(LayerResult& layer);

// Gives layer k another sound drawn from the candidates its event's build
// would consider; false when nothing was changed (no such layer or event,
// an alloy layer, no candidate), the current sound then already recorded.
// The layer is edited as a copy and swapped in under the storage lock
// (published_layers.h): the timeline may be reading it.
bool RerollLayer(Project& project, std::int32_t layerIndex, const std::vector<Palette>& palettes);

// Events-tab job bodies on CurrentProject and the sound library: previous
// sound, next sound from the history, next sound by re-roll. Each renders
// the layer's event again when the sound changed and ends the job; a
// re-roll that leaves the layer its file says so on the status line. Like
// the re-roll, a history step swaps in an edited copy of the layer.
void RunPreviousSoundJob(std::int32_t layerIndex);
void RunNextHistorySoundJob(std::int32_t layerIndex);
void RunRerollSoundJob(std::int32_t layerIndex);

}  // namespace korvel
