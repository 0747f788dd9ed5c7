#include "platform/window/video_texture.h"

#include <GL/gl.h>

#include <cstdint>

namespace korvel {

// UI thread only.
GlVideoTexture VideoTexture;

unsigned long GlVideoTexture::CreateTarget(int w, int h) {
    ReleaseTarget();
    while (glGetError() != GL_NO_ERROR) {
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    if (name == 0) return glGetError() != GL_NO_ERROR ? glGetError() : GL_OUT_OF_MEMORY;
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    const GLenum error = glGetError();
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    if (error != GL_NO_ERROR) {
        glDeleteTextures(1, &name);
        return error;
    }
    texture = name;
    width = w;
    height = h;
    return 0;
}

void GlVideoTexture::ReleaseTarget() {
    if (texture != 0) glDeleteTextures(1, &texture);
    texture = 0;
    width = height = 0;
}

void GlVideoTexture::Upload(const std::uint8_t* rgba, int w, int h) {
    // A frame of another size never reaches a texture made for this one.
    if (texture == 0 || w != width || h != height) return;
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
}

void* GlVideoTexture::View() {
    return texture == 0 ? nullptr : reinterpret_cast<void*>(static_cast<std::uintptr_t>(texture));
}

}  // namespace korvel
