#pragma once
// The generated project the offline mix and export benchmarks share: ten
// minutes at 48 kHz with 500 layers, built once per run.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dsp/limiter.h"
#include "playback/playback_engine.h"
#include "project/layer.h"

namespace korvel::bench {

constexpr int kRate = 48000;
constexpr double kSeconds = 600.0;
constexpr std::int64_t kFrames = static_cast<std::int64_t>(kSeconds * kRate);
constexpr int kLayers = 500;

struct Fixture {
    std::unique_ptr<PlaybackEngine> engine = std::make_unique<PlaybackEngine>();
    std::vector<LayerResult> results;
};

// Voices of 1 to 3 s spread over the ten minutes, half of them stereo, in
// all three groups, each with a layer that has no file (the spatial mix then
// uses the voice's own samples, as for a layer whose source cannot be read).
inline Fixture& SharedFixture() {
    static Fixture* fixture = [] {
        auto* f = new Fixture;
        PrepareVoices(*f->engine, kRate, kLayers);
        std::uint32_t state = 12345;
        auto draw = [&] {
            state = state * 1103515245u + 12345u;
            return static_cast<float>((state >> 16) & 0x7FFF) / 32767.0f;
        };
        for (int k = 0; k < kLayers; ++k) {
            Voice voice;
            voice.duration = 1.0f + 2.0f * draw();
            voice.frameCount = static_cast<std::int32_t>(voice.duration * kRate);
            voice.startTime = draw() * static_cast<float>(kSeconds - voice.duration);
            voice.stereo = k % 2 == 0;
            voice.samplesL.resize(static_cast<std::size_t>(voice.frameCount));
            for (float& s : voice.samplesL) s = 0.2f * (draw() - 0.5f);
            if (voice.stereo) {
                voice.samplesR.resize(voice.samplesL.size());
                for (float& s : voice.samplesR) s = 0.2f * (draw() - 0.5f);
            }
            voice.group = k % 3;
            voice.azimuth = 6.2831855f * draw();
            voice.width = 0.3f;
            voice.resultIndex = k;
            voice.hasIntGain = true;
            voice.intGain.fill(0.8f);
            LayerResult layer;
            layer.weight = draw();
            layer.name = "Layer " + std::to_string(k);
            layer.startTime = voice.startTime;
            layer.duration = voice.duration;
            layer.group = voice.group;
            f->results.push_back(layer);
            AppendVoice(*f->engine, std::move(voice), 0.04f, 0.05f);
        }
        f->engine->ready.store(true);
        PrepareLimiterSettings(f->engine->limiter, kRate);
        return f;
    }();
    return *fixture;
}

}  // namespace korvel::bench
