#include "project/thumbnail.h"

#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "project/app_state.h"

namespace korvel {
namespace {

struct PngSink {
    std::FILE* file = nullptr;
    bool failed = false;
};

void WriteToSink(void* context, void* data, int size) {
    auto* sink = static_cast<PngSink*>(context);
    if (sink->failed || size <= 0) return;
    if (std::fwrite(data, 1, static_cast<std::size_t>(size), sink->file) != static_cast<std::size_t>(size)) {
        sink->failed = true;
    }
}

// Source position of an output pixel centre, as the first index, the next
// one and the weight of the next one.
struct Tap {
    int first = 0;
    int second = 0;
    float weight = 0.0f;
};

Tap SourceTap(int outIndex, int sourceSize, int outSize) {
    const float s = (static_cast<float>(outIndex) + 0.5f) * static_cast<float>(sourceSize) /
                        static_cast<float>(outSize) -
                    0.5f;
    Tap tap;
    tap.first = std::clamp(static_cast<int>(s), 0, sourceSize - 1);
    tap.weight = std::max(0.0f, s - static_cast<float>(tap.first));
    tap.second = std::min(sourceSize - 1, tap.first + 1);
    return tap;
}

}  // namespace

std::string ThumbnailPathFor(const std::string& projectPath) {
    static constexpr char kExtension[] = ".kvproj";
    static constexpr std::size_t kLength = sizeof(kExtension) - 1;
    std::string path = projectPath;
    const std::size_t at = path.rfind(kExtension);
    if (at == std::string::npos) return path + ".thumb.png";
    return path.replace(at, kLength, ".thumb.png");
}

int ThumbnailHeight(int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    const int64_t scaled = static_cast<int64_t>(height) * kThumbnailWidth / width;
    return static_cast<int>(std::max<int64_t>(1, scaled));
}

std::vector<uint8_t> ScaleThumbnail(const ThumbnailFrame& frame) {
    const int w = frame.width;
    const int h = frame.height;
    const int outHeight = ThumbnailHeight(w, h);
    if (outHeight == 0) return {};
    const std::size_t pitch = frame.rowPitch;
    if (pitch < static_cast<std::size_t>(w) * 4 ||
        frame.pixels.size() < pitch * static_cast<std::size_t>(h - 1) + static_cast<std::size_t>(w) * 4) {
        return {};
    }

    std::vector<Tap> columns(kThumbnailWidth);
    for (int j = 0; j < kThumbnailWidth; ++j) columns[j] = SourceTap(j, w, kThumbnailWidth);

    std::vector<uint8_t> out(static_cast<std::size_t>(kThumbnailWidth) * 4 * outHeight);
    uint8_t* dst = out.data();
    for (int i = 0; i < outHeight; ++i) {
        const Tap row = SourceTap(i, h, outHeight);
        const uint8_t* top = frame.pixels.data() + pitch * static_cast<std::size_t>(row.first);
        const uint8_t* bottom = frame.pixels.data() + pitch * static_cast<std::size_t>(row.second);
        const float fy = row.weight;
        const float gy = 1.0f - fy;
        for (const Tap& column : columns) {
            const float fx = column.weight;
            const float gx = 1.0f - fx;
            const uint8_t* p00 = top + column.first * 4;
            const uint8_t* p01 = top + column.second * 4;
            const uint8_t* p10 = bottom + column.first * 4;
            const uint8_t* p11 = bottom + column.second * 4;
            for (int c = 0; c < 3; ++c) {
                // Sample × x weight × y weight, in that order and in single
                // precision: the rounding decides the values that land on .5.
                const float v = p00[c] * gx * gy + p01[c] * fx * gy + p10[c] * gx * fy + p11[c] * fx * fy + 0.5f;
                dst[c] = static_cast<uint8_t>(std::min(255.0f, std::floor(v)));
            }
            // The window's alpha carries no meaning in a picture of it.
            dst[3] = 255;
            dst += 4;
        }
    }
    return out;
}

bool WritePngFile(const std::string& path, const uint8_t* pixels, uint32_t width, uint32_t height) {
    if (path.empty() || pixels == nullptr || width == 0 || height == 0) return false;
    PngSink sink;
    sink.file = std::fopen(path.c_str(), "wb");
    if (sink.file == nullptr) return false;
    const int encoded = stbi_write_png_to_func(WriteToSink, &sink, static_cast<int>(width),
                                               static_cast<int>(height), 4, pixels,
                                               static_cast<int>(width * 4));
    const bool closed = std::fclose(sink.file) == 0;
    return encoded != 0 && !sink.failed && closed;
}

void CaptureProjectThumbnail(std::string& pendingPath, const ThumbnailFrameReader& readFrame) {
    const std::string path = std::exchange(pendingPath, std::string());
    if (path.empty() || !readFrame) return;
    ThumbnailFrame frame;
    if (!readFrame(frame)) return;
    const std::vector<uint8_t> pixels = ScaleThumbnail(frame);
    if (pixels.empty()) return;
    const uint32_t height = static_cast<uint32_t>(pixels.size() / (kThumbnailWidth * 4));
    WritePngFile(path, pixels.data(), kThumbnailWidth, height);
}

void CaptureProjectThumbnail() {
    AppState& state = GlobalAppState;
    CaptureProjectThumbnail(state.pendingThumbnailPath, state.platformHooks.readBackBuffer);
}

}  // namespace korvel
