#include "picture/frame_sampler.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "picture/video_decoder.h"
#include "picture/video_player.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace korvel {

namespace {

// Steps further ahead than this reposition instead of decoding forward, as
// the player's seeks do.
constexpr double kForwardWindow = 5.0;
// Frames decoded per step before the step is given up.
constexpr int kStepDecodes = 2000;

}  // namespace

int SampleVideoFrames(FfmpegVideo& video, float duration, int width, int height, float rate, int outWidth,
                      SampledFrameFn onFrame, void* user, SampleProgressFn onProgress, void* progressUser) {
    if (onFrame == nullptr || width < 1 || height < 1) return 0;
    const double period = 1.0 / std::max(1.0f, rate);
    const long steps = static_cast<long>(static_cast<double>(duration) / period);
    if (steps <= 0) return 0;

    int w = width;
    int h = height;
    if (outWidth > 0 && outWidth < width) {
        w = outWidth;
        h = static_cast<int>(static_cast<float>(height) / static_cast<float>(width) * static_cast<float>(outWidth));
    }
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(w) * static_cast<std::size_t>(h > 0 ? h : 0) * 4, 0);
    SwsContext* scaler = nullptr;
    const double tol = video.fps > 0.0f ? 0.5 / video.fps : 0.02;

    // Step k's frame is the first decoded at or after k × period − tol,
    // counting from the key frame before it. Decoding on from the last
    // frame reaches the same one while the step lies ahead, so the decoder
    // repositions only when it lost its place or the step is far ahead.
    bool placeKnown = true;  // a fresh decoder stands at the start
    bool haveFrame = false;
    double frameTime = 0.0;
    int delivered = 0;
    for (long k = 0; k < steps; ++k) {
        const double target = static_cast<double>(k) * period;
        bool found = haveFrame && frameTime >= target - tol;  // a slow video repeats its frame
        if (!found) {
            const double from = haveFrame ? frameTime : 0.0;
            if (!placeKnown || target - from >= kForwardWindow) {
                RepositionFfmpegVideo(video, target);
                haveFrame = false;
            }
            placeKnown = true;
            for (int decodes = 0; decodes < kStepDecodes; ++decodes) {
                double time = 0.0;
                if (!DecodeNextFfmpegFrame(video, time)) {
                    // The end, or a damaged stretch: the next step starts
                    // again from its own key frame.
                    placeKnown = false;
                    haveFrame = false;
                    break;
                }
                haveFrame = true;
                frameTime = time;
                if (time >= target - tol) {
                    found = true;
                    break;
                }
            }
            if (!found) placeKnown = false;
        }
        if (found) {
            // A frame too small to scale is still delivered, at its size.
            if (!rgba.empty()) ScaleFfmpegFrame(video, scaler, rgba.data(), w, h);
            onFrame(static_cast<int>(k), static_cast<float>(target), rgba.data(), w, h, user);
            ++delivered;
        }
        // Also after a step without a frame, so a long damaged stretch can
        // still be stopped.
        if (onProgress != nullptr &&
            onProgress(static_cast<float>(k + 1) / static_cast<float>(steps), progressUser) < 0.0f) {
            break;
        }
    }
    if (scaler != nullptr) sws_freeContext(scaler);
    return delivered;
}

int VideoPlayer::SampleFrames(float rate, int outWidth, SampledFrameFn onFrame, void* user,
                              SampleProgressFn onProgress, void* progressUser) {
    if (!loaded || decoder == nullptr || onFrame == nullptr) return 0;
    const std::string path = decoder->path;
    FfmpegVideo own;
    if (!OpenFfmpegVideo(own, path.c_str())) return 0;
    const int delivered =
        SampleVideoFrames(own, duration, width, height, rate, outWidth, onFrame, user, onProgress, progressUser);
    CloseFfmpegVideo(own);
    return delivered;
}

}  // namespace korvel
