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
#include "support/ui/window_frame.h"
#include "support/video_fixture.h"

namespace korvel {
namespace {

using test::Distance;
using test::Rgb;

class VideoAreaWindowTest : public test::WindowFrameTest {
protected:
    void TearDown() override {
        GlobalAppState.playhead = 0.0f;
        GlobalVideoPlayer.timelineOffset = 0.0f;
        WindowFrameTest::TearDown();
    }
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
