#pragma once
// The reverb bus of an export: every voice's send summed and run through a
// private reverb over the exported range, and the stereo return spread over
// a multichannel or AmbiX layout through short allpass chains. Export
// thread (or whoever exports); the live engine's own reverb is not touched.
#include <array>
#include <cstdint>
#include <vector>

#include "playback/output_layout.h"

namespace korvel {

struct PlaybackEngine;
struct ReverbSettings;

// Four allpass stages in series (gain 0.6) whose lengths come from a seed,
// so that copies made with different seeds are decorrelated.
class AllpassDiffuser {
public:
    static constexpr int kStages = 4;

    explicit AllpassDiffuser(std::uint32_t seed);

    float Process(float x) {
        for (Stage& stage : stages_) {
            const float v = stage.line[stage.pos];
            const float y = v - kGain * x;
            stage.line[stage.pos] = x + kGain * y;
            if (++stage.pos == stage.line.size()) stage.pos = 0;
            x = y;
        }
        return x;
    }

    std::size_t StageLength(int stage) const { return stages_[static_cast<std::size_t>(stage)].line.size(); }

private:
    static constexpr float kGain = 0.6f;
    struct Stage {
        std::vector<float> line;
        std::size_t pos = 0;
    };
    std::array<Stage, kStages> stages_;
};

// Renders the return of the range [startSeconds, startSeconds + seconds) into
// outL and outR, each resized to the range's frames. False, both untouched,
// when the engine is not ready, the range is shorter than a frame, or it is
// longer than the hour a writer accepts (its stem would be refused anyway,
// and the buffers would be sized first). Reads the voices without the lock.
// Keeps the reverb's 1.4 MiB state on the calling thread's stack.
// Each voice's send carries its group's gain from `groupGain`, the faders an
// export took as it started; the first form reads the engine's own (for a
// caller that owns the faders).
bool RenderReverbBusOffline(const PlaybackEngine& engine, const ReverbSettings& settings,
                            const std::array<float, 3>& groupGain, int sampleRate, double seconds,
                            double startSeconds, std::vector<float>& outL, std::vector<float>& outR);
bool RenderReverbBusOffline(const PlaybackEngine& engine, const ReverbSettings& settings, int sampleRate,
                            double seconds, double startSeconds, std::vector<float>& outL,
                            std::vector<float>& outR);

// Adds decorrelated copies of the return to the first `frames` frames of the
// layout's channels (speakers by side and weight, LFE silent; AmbiX as four
// virtual sources). The dry return itself is added to no channel.
void SpreadReverbToLayout(const std::vector<float>& returnL, const std::vector<float>& returnR,
                          std::int64_t frames, const OutputLayout& layout,
                          std::vector<std::vector<float>>& channels);

}  // namespace korvel
