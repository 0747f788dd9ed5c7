#pragma once
// The engine the mixer tests mix through.
#include <memory>

#include "playback/mixer_publishing.h"
#include "playback/playback_engine.h"

namespace korvel::test {

// An engine ready to mix at `rate`, playing at full ramp with the reverb off,
// so a block shows the voices' dry sum.
inline std::unique_ptr<PlaybackEngine> MakeMixEngine(int rate = 48000) {
    auto engine = std::make_unique<PlaybackEngine>();
    PrepareVoices(*engine, rate, 8);
    ResetReverb(engine->reverbState, rate);
    engine->reverb.enabled = false;
    PublishReverbSettings(*engine);
    engine->ready.store(true);
    engine->playing.store(true);
    engine->rampGain = 1.0f;
    return engine;
}

}  // namespace korvel::test
