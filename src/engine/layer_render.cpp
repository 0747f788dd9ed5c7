#include "engine/layer_render.h"

namespace korvel {

// Not built yet: no voice is made.
void RenderLayerVoice(PlaybackEngine& /*engine*/, LayerResult& /*layer*/, std::int32_t /*resultIndex*/,
                      std::int32_t /*sampleRate*/, const float* /*eventGains*/, std::int32_t /*eventCount*/,
                      const Event* /*events*/, std::int32_t /*scaleType*/, std::int32_t /*scaleRoot*/,
                      bool /*keepPlaceholders*/) {}

}  // namespace korvel
