#pragma once
// The picture of the window that every save leaves beside the project file.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace korvel {

inline constexpr int kThumbnailWidth = 400;

// The drawn frame as the window's back buffer holds it: 4 bytes per pixel
// (red, green, blue, alpha), rows top to bottom, each `rowPitch` bytes apart.
struct ThumbnailFrame {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
    std::size_t rowPitch = 0;
};

// Fills the frame from the back buffer; false when nothing could be read.
using ThumbnailFrameReader = std::function<bool(ThumbnailFrame&)>;

// The project path with its last ".kvproj" replaced by ".thumb.png", or
// followed by ".thumb.png" when it has none.
std::string ThumbnailPathFor(const std::string& projectPath);

// max(1, height × 400 / width) in integers; 0 for an empty frame.
int ThumbnailHeight(int width, int height);

// Bilinear scaling of `frame` to 400 × ThumbnailHeight pixels with rows of
// exactly 1600 bytes; alpha is set to 255. Empty for an empty frame.
std::vector<uint8_t> ScaleThumbnail(const ThumbnailFrame& frame);

// Encodes RGBA pixels (rows of width × 4 bytes) as a PNG file; true when the
// whole file was written.
bool WritePngFile(const std::string& path, const uint8_t* pixels, uint32_t width, uint32_t height);

// Takes the path out of `pendingPath` (leaving it empty, so a save is
// captured at most once), reads the frame and writes the thumbnail there.
// Every failure is quiet: the save itself has already succeeded.
void CaptureProjectThumbnail(std::string& pendingPath, const ThumbnailFrameReader& readFrame);

// The frame's call after drawing and before presenting: captures the path in
// GlobalAppState.pendingThumbnailPath through the shell's readBackBuffer
// hook (without the hook the request is still taken and nothing is written).
void CaptureProjectThumbnail();

}  // namespace korvel
