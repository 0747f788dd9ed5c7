#include "platform/window/gl_host.h"

#include <GL/gl.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/image_file.h"
#include "project/app_state.h"
#include "project/thumbnail.h"

namespace korvel {

BackBufferSnapshotTexture BackBufferSnapshot;

namespace {

void* TextureId(GLuint name) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(name)); }
GLuint TextureName(void* id) { return static_cast<GLuint>(reinterpret_cast<std::uintptr_t>(id)); }

}  // namespace

void* CreateTextureFromRGBA(const std::uint8_t* pixels, int width, int height) {
    if (pixels == nullptr || width <= 0 || height <= 0) return nullptr;
    GLuint name = 0;
    glGenTextures(1, &name);
    if (name == 0) return nullptr;
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    const bool failed = glGetError() != GL_NO_ERROR;
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    if (failed) {
        glDeleteTextures(1, &name);
        return nullptr;
    }
    return TextureId(name);
}

void DestroyTexture(void* texture) {
    const GLuint name = TextureName(texture);
    if (name != 0) glDeleteTextures(1, &name);
}

void* LoadTextureFromFile(const std::string& path, int& width, int& height) {
    std::vector<std::uint8_t> pixels;
    int w = 0;
    int h = 0;
    if (!LoadImageRGBA(path, pixels, w, h)) return nullptr;
    void* texture = CreateTextureFromRGBA(pixels.data(), w, h);
    if (texture != nullptr) {
        width = w;
        height = h;
    }
    return texture;
}

bool CaptureBackBufferSnapshot(int width, int height) {
    if (width <= 0 || height <= 0) return false;
    BackBufferSnapshotTexture& snapshot = BackBufferSnapshot;
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    while (glGetError() != GL_NO_ERROR) {
    }
    if (snapshot.texture == 0) glGenTextures(1, &snapshot.texture);
    glBindTexture(GL_TEXTURE_2D, snapshot.texture);
    if (snapshot.width != width || snapshot.height != height) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        snapshot.width = width;
        snapshot.height = height;
        ++snapshot.allocations;
    }
    glReadBuffer(GL_BACK);
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, width, height);
    const bool failed = glGetError() != GL_NO_ERROR;
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    if (failed) {
        // The size is forgotten so the next try makes its storage again.
        snapshot.width = snapshot.height = 0;
        return false;
    }
    BackgroundJob& job = GlobalAppState.backgroundJob;
    job.snapshotView = TextureId(snapshot.texture);
    job.snapshotRequested = false;
    return true;
}

void ReleaseBackBufferSnapshot() {
    BackBufferSnapshotTexture& snapshot = BackBufferSnapshot;
    if (snapshot.texture != 0) glDeleteTextures(1, &snapshot.texture);
    if (GlobalAppState.backgroundJob.snapshotView == TextureId(snapshot.texture)) {
        GlobalAppState.backgroundJob.snapshotView = nullptr;
    }
    snapshot = BackBufferSnapshotTexture{};
}

bool ReadBackBuffer(ThumbnailFrame& frame) {
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int width = viewport[2];
    const int height = viewport[3];
    if (width <= 0 || height <= 0) return false;

    const std::size_t pitch = static_cast<std::size_t>(width) * 4;
    std::vector<std::uint8_t> bottomUp(pitch * static_cast<std::size_t>(height));
    while (glGetError() != GL_NO_ERROR) {
    }
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    if (glGetError() != GL_NO_ERROR) return false;

    // OpenGL's first row is the bottom one.
    frame.pixels.resize(bottomUp.size());
    for (int y = 0; y < height; ++y) {
        std::memcpy(frame.pixels.data() + pitch * static_cast<std::size_t>(y),
                    bottomUp.data() + pitch * static_cast<std::size_t>(height - 1 - y), pitch);
    }
    frame.width = width;
    frame.height = height;
    frame.rowPitch = pitch;
    return true;
}

}  // namespace korvel
