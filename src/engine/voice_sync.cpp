#include "engine/voice_sync.h"

namespace korvel {

// Not built yet: voices are left as they are.
void RenderEvent(std::int32_t /*eventIndex*/) {}
void RenderEventVoices(PlaybackEngine& /*engine*/, std::int32_t /*eventIndex*/, std::vector<LayerResult>& /*layers*/,
                       std::int32_t /*sampleRate*/, const float* /*eventGains*/, std::int32_t /*eventCount*/,
                       const Event* /*events*/, std::int32_t /*scaleType*/, std::int32_t /*scaleRoot*/) {}
bool CheckRenderCacheIntegrity() { return true; }
void SyncVoiceTimes() {}

}  // namespace korvel
