// The reference video in the video area of a real window on the virtual
// display: the picture drawn from its texture, and black where the playhead
// lies outside the video's span. Read back from the frame the window presents.
#include <gtest/gtest.h>
#include <imgui.h>

#include <cstdlib>
#include <string>

#include "picture/video_player.h"
#include "platform/window/gl_host.h"
#include "platform/window/host.h"
#include "project/app_state.h"
#include "project/thumbnail.h"
#include "support/temp_dir.h"
#include "support/video_fixture.h"

namespace korvel {
namespace {

struct Rgb {
    int r, g, b;
};
int Distance(Rgb a, Rgb b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b); }

class VideoAreaWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", runtime_.file("config").c_str(), 1);
        setenv("XDG_DATA_HOME", runtime_.file("data").c_str(), 1);
        int exitCode = -1;
        ASSERT_TRUE(StartUp("", exitCode));
        GlobalAppState.platformHooks.readBackBuffer = [this](ThumbnailFrame& frame) {
            const bool read = ReadBackBuffer(frame);
            if (read) frame_ = frame;
            return read;
        };
        RunLoopPass();
    }
    void TearDown() override {
        GlobalAppState.playhead = 0.0f;
        GlobalVideoPlayer.timelineOffset = 0.0f;
        ShutDown();
    }
    void Draw() {
        RunLoopPass();
        GlobalAppState.pendingThumbnailPath = runtime_.file("frame.png");
        RunLoopPass();
        ASSERT_GT(frame_.width, 0);
    }
    Rgb At(float x, float y) const {
        const float scale = static_cast<float>(frame_.width) / ImGui::GetIO().DisplaySize.x;
        const auto px = static_cast<std::size_t>(x * scale);
        const auto py = static_cast<std::size_t>(y * scale);
        const std::uint8_t* p = frame_.pixels.data() + py * frame_.rowPitch + px * 4;
        return {p[0], p[1], p[2]};
    }

    test::TempDir runtime_;
    ThumbnailFrame frame_;
};

TEST_F(VideoAreaWindowTest, PictureInsideTheSpanBlackOutside) {
    test::TestVideoSpec spec;  // 64 × 32, 3 s
    spec.solidColour = true;
    const std::string path = runtime_.file("red.mkv");
    ASSERT_TRUE(test::WriteTestVideo(path, spec));
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(GlobalVideoPlayer.Load(path.c_str()));
    ::testing::internal::GetCapturedStdout();

    AppState& s = GlobalAppState;
    s.playing = false;
    struct Case {
        const char* name;
        float offset, playhead;
        bool picture;
    } cases[] = {
        {"inside the span", 0.0f, 1.5f, true},
        {"after its end", 0.0f, 10.0f, false},
        {"before its start", 2.0f, 1.0f, false},
        {"on its start", 2.0f, 2.0f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GlobalVideoPlayer.timelineOffset = c.offset;
        s.playhead = c.playhead;
        Draw();
        // A 2:1 picture fills the area's height; its middle is inside it.
        const float top = 0.38f * ImGui::GetIO().DisplaySize.y;
        const float y = s.windowChrome.titleHeight + top * 0.5f;
        const Rgb seen = At(top * 0.5f, y);
        if (c.picture) {
            EXPECT_LE(Distance(seen, {200, 40, 40}), 30) << seen.r << "," << seen.g << "," << seen.b;
        } else {
            EXPECT_LE(Distance(seen, {0, 0, 0}), 3) << seen.r << "," << seen.g << "," << seen.b;
        }
    }
    GlobalVideoPlayer.Close();
}

}  // namespace
}  // namespace korvel
