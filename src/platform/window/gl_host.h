#pragma once
// OpenGL resources of the host: textures from pixels and image files, the
// back-buffer snapshot the busy overlay shows and the read-back the project
// thumbnail takes. UI thread, with the window's context current.
#include <cstdint>
#include <string>

namespace korvel {

struct ThumbnailFrame;

// A copy of the drawn frame, kept between jobs and reallocated only when the
// window's size changed.
struct BackBufferSnapshotTexture {
    unsigned texture = 0;  // GL name, 0 none
    int width = 0;
    int height = 0;
    int allocations = 0;  // how often storage was made, for tests
};
extern BackBufferSnapshotTexture BackBufferSnapshot;

// A GL_RGBA8 texture of width × height RGBA pixels (rows top to bottom) as
// the UI library's texture id; null on failure.
void* CreateTextureFromRGBA(const std::uint8_t* pixels, int width, int height);
void DestroyTexture(void* texture);

// Image file to texture; null when the file is missing or unreadable.
void* LoadTextureFromFile(const std::string& path, int& width, int& height);

// Copies the current back buffer (width × height drawable pixels) into the
// snapshot texture and publishes it as the job's snapshot view. Its rows are
// bottom-up: draw it with flipped texture coordinates.
bool CaptureBackBufferSnapshot(int width, int height);
void ReleaseBackBufferSnapshot();

// Reads the current back buffer into `frame`, rows top to bottom.
bool ReadBackBuffer(ThumbnailFrame& frame);

}  // namespace korvel
