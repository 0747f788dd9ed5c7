// Splice lists as they come from project files: any count of any values,
// replayed over a small generated source, and the loop fill itself on a
// small generated source with lengths, lanes and modes taken from the
// input. Nothing may read or write outside a buffer, hang, or size a buffer
// beyond its cap.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/loop_fill.h"
#include "playback/playback_engine.h"
#include "playback/source_region.h"

namespace {

constexpr int kRate = 8000;

const std::vector<float>& Source(int channel) {
    static const std::vector<float> sources[2] = {
        [] {
            std::vector<float> v(3000);
            for (std::size_t i = 0; i < v.size(); ++i) v[i] = std::sin(0.05f * i) * (0.3f + 0.7f * (i % 700) / 700.0f);
            return v;
        }(),
        std::vector<float>(3000, 0.25f),
    };
    return sources[channel];
}

template <typename T>
T Take(const uint8_t*& data, size_t& size) {
    T value{};
    if (size >= sizeof(T)) {
        std::memcpy(&value, data, sizeof(T));
        data += sizeof(T);
        size -= sizeof(T);
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvel;
    // Header: the replay's length in milliseconds (at most 4 s), stereo, then
    // the fill's length, lane and loop flag; the rest is the chunk list.
    const float seconds = static_cast<float>(Take<uint16_t>(data, size) % 4000) / 1000.0f;
    bool stereo = Take<uint8_t>(data, size) & 1;
    const float fillSeconds = static_cast<float>(Take<uint16_t>(data, size) % 3000) / 1000.0f;
    const int lane = Take<int8_t>(data, size);
    const bool loop = Take<uint8_t>(data, size) & 1;
    const auto sourceFrames = static_cast<std::size_t>(Take<uint16_t>(data, size) % 3001);

    LayerResult layer;
    layer.duration = 0.5f;
    while (size >= sizeof(FillChunk)) {
        FillChunk chunk;
        chunk.s = Take<int32_t>(data, size);
        chunk.l = Take<int32_t>(data, size);
        chunk.x = Take<int32_t>(data, size);
        layer.fillChunks.push_back(chunk);
    }

    auto voice = std::make_unique<Voice>();
    (void)RenderSpliceVoice(layer, kRate, *voice, &Source(0), &Source(1), stereo, seconds);
    (void)SpliceListFrames(layer.fillChunks, kRate);

    const std::vector<float> left(Source(0).begin(), Source(0).begin() + static_cast<std::ptrdiff_t>(sourceFrames));
    const std::vector<float> right = stereo ? std::vector<float>(sourceFrames, 0.1f) : std::vector<float>{};
    std::vector<FillChunk> chunks;
    RenderLoopFillFromSource(left, right, "fuzz.wav", 0.0f, fillSeconds, kRate, *voice, lane, loop, &chunks);
    // The fill's own list replays inside its buffers too.
    layer.fillChunks = chunks;
    (void)RenderSpliceVoice(layer, kRate, *voice, &left, &right, stereo, fillSeconds);
    return 0;
}
