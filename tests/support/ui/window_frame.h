#pragma once
// A fixture for tests that draw in the real window on the virtual display
// (Mesa's software OpenGL) and read back the frame the window presents.
#include <gtest/gtest.h>
#include <imgui.h>

#include <cstdint>
#include <cstdlib>

#include "platform/window/gl_host.h"
#include "platform/window/host.h"
#include "project/app_state.h"
#include "project/thumbnail.h"
#include "support/temp_dir.h"

namespace korvel::test {

struct Rgb {
    int r, g, b;
};

inline int Distance(Rgb a, Rgb b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b); }

// A theme colour packed as ImGui packs it (red in the low byte).
inline Rgb Unpack(std::uint32_t c) { return {int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF)}; }

// `over` at `alpha` (0..255) laid on `under`.
inline Rgb Blend(Rgb under, Rgb over, int alpha) {
    auto mix = [&](int u, int o) { return u + (o - u) * alpha / 255; };
    return {mix(under.r, over.r), mix(under.g, over.g), mix(under.b, over.b)};
}

class WindowFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", runtime_.file("config").c_str(), 1);
        setenv("XDG_DATA_HOME", runtime_.file("data").c_str(), 1);
        int exitCode = -1;
        ASSERT_TRUE(StartUp("", exitCode));
        // Keep the whole frame the window draws, not only the thumbnail.
        GlobalAppState.platformHooks.readBackBuffer = [this](ThumbnailFrame& frame) {
            const bool read = ReadBackBuffer(frame);
            if (read) frame_ = frame;
            return read;
        };
        RunLoopPass();
        // The first frame opens the launcher over everything; the tests read
        // the window under it.
        GlobalAppState.launcherOpen = false;
    }
    void TearDown() override { ShutDown(); }

    // Draws two frames and keeps the second.
    void Draw() {
        RunLoopPass();
        GlobalAppState.pendingThumbnailPath = runtime_.file("frame.png");
        RunLoopPass();
        ASSERT_GT(frame_.width, 0);
    }
    // The pixel at (x, y) in UI units.
    Rgb At(float x, float y) const {
        const float scale = static_cast<float>(frame_.width) / ImGui::GetIO().DisplaySize.x;
        const auto px = static_cast<std::size_t>(x * scale);
        const auto py = static_cast<std::size_t>(y * scale);
        const std::uint8_t* p = frame_.pixels.data() + py * frame_.rowPitch + px * 4;
        return {p[0], p[1], p[2]};
    }

    TempDir runtime_;
    ThumbnailFrame frame_;
};

}  // namespace korvel::test
