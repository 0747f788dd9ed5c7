#pragma once
// Loop fills: a Fill or Bed layer's audio made as long as its event from a
// shorter source, by an excerpt, by tiling, or by splicing chunks where the
// material resembles itself. Deterministic per source, length and lane.
#include <cstdint>
#include <string>
#include <vector>

#include "project/layer.h"

namespace korvel {

struct Voice;

// Renders `targetDuration` seconds of `path`, decoded from `sourceOffset`
// (at most ten minutes of it) at `sampleRate`, into the voice's samples,
// stereo flag, frameCount, seams and its first 65 splices. `lane` varies the
// seed and the first chunk; `loop` asks for plain tiling. When `chunks` is
// given it receives the whole splice list, however long. A steady part no
// longer than its crossfade, or a source of fewer than two frames, renders
// silence with no splice. False only when the source cannot be decoded (or
// the rate is below 1); the voice is then untouched. Any thread.
bool RenderLoopFill(const std::string& path, float sourceOffset, float targetDuration, int sampleRate, bool stereo,
                    Voice& voice, int lane, bool loop, std::vector<FillChunk>* chunks = nullptr);

// The fill's rendering on an already decoded source (`right` empty or as
// long as `left` for stereo); what RenderLoopFill does after decoding.
// `sourceOffset` and `path` only seed the choices.
void RenderLoopFillFromSource(const std::vector<float>& left, const std::vector<float>& right,
                              const std::string& path, float sourceOffset, float targetDuration, int sampleRate,
                              Voice& voice, int lane, bool loop, std::vector<FillChunk>* chunks);

// The seed of a fill's choices: its offset, length, lane and path.
std::uint32_t LoopFillSeed(const std::string& path, float sourceOffset, float targetDuration, int lane);

}  // namespace korvel
