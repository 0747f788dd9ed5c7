#include "app/ui_layout.h"

#include <gtest/gtest.h>

namespace korvel {
namespace {

TEST(UILayout, RegionsOverDisplaySizesAndFonts) {
    struct Case {
        const char* name;
        float w, h, font;
        bool caption;
        float title, top, transport, footer, timeline, video;
    };
    const Case cases[] = {
        // 1280 × 720 at F 18: video min(2.4 × 273.6 + 16, 768) = 672.64.
        {"medium font", 1280, 720, 18, true, 40.4f, 273.6f, 41.4f, 25.2f, 339.4f, 672.64f},
        {"small font uses the minimums", 1280, 720, 13, true, 40.0f, 273.6f, 40.0f, 24.0f, 342.4f, 672.64f},
        {"no caption buttons", 1280, 720, 13, false, 32.0f, 273.6f, 40.0f, 24.0f, 350.4f, 672.64f},
        {"narrow window: 0.6 W", 960, 720, 18, true, 40.4f, 273.6f, 41.4f, 25.2f, 339.4f, 576.0f},
        {"large font", 1920, 1080, 24, true, 51.2f, 410.4f, 55.2f, 33.6f, 529.6f, 1000.96f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UILayoutInputs in;
        in.displayWidth = c.w;
        in.displayHeight = c.h;
        in.fontSize = c.font;
        in.captionButtons = c.caption;
        const UILayout l = ComputeUILayout(in);
        EXPECT_NEAR(l.titleBarHeight, c.title, 1e-3f);
        EXPECT_NEAR(l.topAreaHeight, c.top, 1e-3f);
        EXPECT_NEAR(l.transportHeight, c.transport, 1e-3f);
        EXPECT_NEAR(l.footerHeight, c.footer, 1e-3f);
        EXPECT_NEAR(l.timelineHeight, c.timeline, 1e-3f);
        EXPECT_NEAR(l.videoWidth, c.video, 1e-2f);
        EXPECT_NEAR(l.panelWidth, c.w - c.video, 1e-2f);
        EXPECT_NEAR(l.panelHalfWidth + l.panelOtherWidth, l.panelWidth, 1e-3f);
    }
}

TEST(UILayout, VideoAreaFollowsThePicture) {
    struct Case {
        const char* name;
        float pw, ph;
        float video;
    };
    // Top area 273.6, start width 672.64 (aspect room 2.4585).
    const Case cases[] = {
        {"16:9 shrinks to the picture", 1920, 1080, 273.6f * 1920.0f / 1080.0f},
        {"4:3 is pillar-boxed in the start width", 1440, 1080, 672.64f},
        {"2.39:1 still fits the room", 2390, 1000, 273.6f * 2.39f},
        {"2.76:1 is wider than the room: letter-boxed", 2760, 1000, 672.64f},
        {"no frame size", 0, 0, 672.64f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UILayoutInputs in;
        in.displayWidth = 1280;
        in.displayHeight = 720;
        in.hasVideo = true;
        in.videoPixelWidth = c.pw;
        in.videoPixelHeight = c.ph;
        EXPECT_NEAR(ComputeUILayout(in).videoWidth, c.video, 1e-2f);
    }
    UILayoutInputs none;
    none.displayWidth = 1280;
    none.displayHeight = 720;
    none.videoPixelWidth = 1920;
    none.videoPixelHeight = 1080;
    EXPECT_NEAR(ComputeUILayout(none).videoWidth, 672.64f, 1e-2f) << "without a loaded video";
}

}  // namespace
}  // namespace korvel
