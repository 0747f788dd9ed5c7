// [SECTION] Live output
// [SECTION] Stream rate
// [SECTION] Callback
#include "playback/audio_output.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace korvel {

// [SECTION] Live output

AudioOutput LiveAudioOutput;

// [SECTION] Stream rate

std::uint32_t ChooseStreamRate(const std::vector<std::uint32_t>& deviceRates, std::uint32_t preferredRate,
                               std::uint32_t rate) {
    if (std::find(deviceRates.begin(), deviceRates.end(), rate) != deviceRates.end()) return rate;
    if (preferredRate != 0) return preferredRate;
    if (!deviceRates.empty()) return deviceRates.back();
    return rate;
}

void PrepareOutputBuffers(AudioOutput& output, std::uint32_t requestedRate, std::uint32_t actualRate) {
    output.requestedRate = requestedRate;
    output.actualRate = actualRate;
    output.resamplePhase = 0.0;
    output.resampleFill = 0;
    // One piece of output needs ceil(piece × ratio) frames past the read
    // position, plus the three neighbours of the interpolation and the frame
    // before it.
    const double ratio = actualRate > 0 ? static_cast<double>(requestedRate) / actualRate : 1.0;
    const std::size_t frames =
        std::max<std::size_t>(kOutputPieceFrames, static_cast<std::size_t>(std::ceil(kOutputPieceFrames * ratio)) + 8);
    output.bufL.assign(frames, 0.0f);
    output.bufR.assign(frames, 0.0f);
}

// [SECTION] Callback

namespace {

inline float CatmullRom(const float* x, std::uint32_t i, float u) {
    const float xm1 = x[i > 0 ? i - 1 : 0];
    const float x0 = x[i];
    const float x1 = x[i + 1];
    const float x2 = x[i + 2];
    return x0 + 0.5f * u * ((x1 - xm1) + u * (2.0f * xm1 - 5.0f * x0 + 4.0f * x1 - x2 + u * (3.0f * (x0 - x1) + x2 - xm1)));
}

void RenderEqualRate(AudioOutput& output, float* out, std::uint32_t frames) {
    const std::uint32_t piece = static_cast<std::uint32_t>(std::min(output.bufL.size(), output.bufR.size()));
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t n = std::min(piece, frames - done);
        output.render(output.bufL.data(), output.bufR.data(), n);
        for (std::uint32_t k = 0; k < n; ++k) {
            out[2 * (done + k)] = output.bufL[k];
            out[2 * (done + k) + 1] = output.bufR[k];
        }
        done += n;
    }
}

// Converts one piece. The buffers hold resampleFill rendered frames; only the
// frames the piece still lacks are rendered, and the consumed ones (all but
// the one before the read position) are dropped after it.
void RenderPieceResampled(AudioOutput& output, float* out, std::uint32_t frames, double ratio) {
    float* bufL = output.bufL.data();
    float* bufR = output.bufR.data();
    double f = output.resamplePhase;
    const std::uint32_t needed = static_cast<std::uint32_t>(f + (frames - 1) * ratio) + 3;
    if (output.resampleFill < needed) {
        output.render(bufL + output.resampleFill, bufR + output.resampleFill, needed - output.resampleFill);
        output.resampleFill = needed;
    }
    for (std::uint32_t k = 0; k < frames; ++k) {
        const std::uint32_t i = static_cast<std::uint32_t>(f);
        const float u = static_cast<float>(f - i);
        out[2 * k] = CatmullRom(bufL, i, u);
        out[2 * k + 1] = CatmullRom(bufR, i, u);
        f += ratio;
    }
    const std::uint32_t whole = static_cast<std::uint32_t>(f);
    const std::uint32_t drop = std::min(whole > 0 ? whole - 1 : 0u, output.resampleFill);
    if (drop > 0) {
        const std::uint32_t keep = output.resampleFill - drop;
        std::memmove(bufL, bufL + drop, keep * sizeof(float));
        std::memmove(bufR, bufR + drop, keep * sizeof(float));
        output.resampleFill = keep;
        f -= drop;
    }
    output.resamplePhase = f;
}

}  // namespace

void RenderOutputFrames(AudioOutput& output, float* interleaved, std::uint32_t frames) {
    if (!output.render || output.streamFailed.load(std::memory_order_acquire) || output.bufL.empty() ||
        output.bufR.empty() || output.actualRate == 0 || output.requestedRate == 0) {
        std::fill(interleaved, interleaved + 2 * static_cast<std::size_t>(frames), 0.0f);
        return;
    }
    if (output.requestedRate == output.actualRate) {
        RenderEqualRate(output, interleaved, frames);
        return;
    }
    const double ratio = static_cast<double>(output.requestedRate) / output.actualRate;
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t n = std::min(kOutputPieceFrames, frames - done);
        RenderPieceResampled(output, interleaved + 2 * static_cast<std::size_t>(done), n, ratio);
        done += n;
    }
}

int OutputStreamCallback(void* outputBuffer, void*, unsigned int frames, double, unsigned int, void* userData) {
    RenderOutputFrames(*static_cast<AudioOutput*>(userData), static_cast<float*>(outputBuffer), frames);
    return 0;
}

}  // namespace korvel
