#pragma once
// The video player's frame sink on the window's OpenGL context: one GL_RGBA8
// texture of the video's decoded size, rewritten in place with
// glTexSubImage2D for every frame shown. UI thread, context current.
#include "picture/video_decoder.h"

namespace korvel {

struct GlVideoTexture : VideoFrameSink {
    unsigned texture = 0;  // GL name; 0 when none
    int width = 0;
    int height = 0;

    unsigned long CreateTarget(int width, int height) override;
    void ReleaseTarget() override;
    void Upload(const std::uint8_t* rgba, int width, int height) override;
    void* View() override;
};

// The one sink, handed to GlobalVideoPlayer at start-up. UI thread only.
extern GlVideoTexture VideoTexture;

}  // namespace korvel
