#include "platform/window_hit_test.h"

#include <gtest/gtest.h>

namespace korvel {
namespace {

// A 1280 × 720 window at scale 1 with a 40-unit title bar whose drag area
// runs from 200 to 900 and caption buttons at the right edge.
WindowHitGeometry Geometry(bool maximised, float scale) {
    WindowHitGeometry g;
    g.width = static_cast<int>(1280 * scale);
    g.height = static_cast<int>(720 * scale);
    g.maximised = maximised;
    g.uiScale = scale;
    g.titleHeight = 40.0f;
    g.dragLeft = 200.0f;
    g.dragRight = 900.0f;
    const int right = g.width;
    const int h = static_cast<int>(40 * scale);
    const int w = static_cast<int>(46 * scale);
    g.captionButtons = {PixelRect{right - 3 * w, 0, right - 2 * w, h}, PixelRect{right - 2 * w, 0, right - w, h},
                        PixelRect{right - w, 0, right, h}};
    return g;
}

TEST(WindowHitTest, BandsButtonsAndCaption) {
    using A = WindowHitArea;
    struct Case {
        const char* name;
        bool maximised;
        float scale;
        int x;
        int y;
        A expected;
    };
    const Case cases[] = {
        {"top band resizes", false, 1.0f, 500, 0, A::ResizeTop},
        {"top band last pixel", false, 1.0f, 500, 5, A::ResizeTop},
        {"below the band drags", false, 1.0f, 500, 6, A::Drag},
        {"top band is caption when maximised", true, 1.0f, 500, 0, A::Drag},
        {"top-left corner", false, 1.0f, 0, 0, A::ResizeTopLeft},
        {"top-right corner over the close button", false, 1.0f, 1279, 2, A::ResizeTopRight},
        {"left band", false, 1.0f, 2, 300, A::ResizeLeft},
        {"right band", false, 1.0f, 1277, 300, A::ResizeRight},
        {"bottom band", false, 1.0f, 600, 719, A::ResizeBottom},
        {"bottom-left corner", false, 1.0f, 1, 718, A::ResizeBottomLeft},
        {"bottom-right corner", false, 1.0f, 1279, 719, A::ResizeBottomRight},
        {"maximised: no side band", true, 1.0f, 0, 300, A::Client},
        {"maximised: no bottom band", true, 1.0f, 600, 719, A::Client},
        {"minimise button is client", false, 1.0f, 1280 - 138 + 10, 20, A::Client},
        {"close button is client", false, 1.0f, 1250, 20, A::Client},
        {"close button maximised at the top edge", true, 1.0f, 1279, 0, A::Client},
        {"drag area left edge included", false, 1.0f, 200, 20, A::Drag},
        {"drag area right edge excluded", false, 1.0f, 900, 20, A::Client},
        {"left of the drag area (menu)", false, 1.0f, 150, 20, A::Client},
        {"below the title bar", false, 1.0f, 500, 40, A::Client},
        {"last title row", false, 1.0f, 500, 39, A::Drag},
        {"scale 1.5: band is 9 pixels", false, 1.5f, 700, 8, A::ResizeTop},
        {"scale 1.5: below the band", false, 1.5f, 700, 9, A::Drag},
        {"scale 1.5: drag area in pixels", false, 1.5f, 1349, 30, A::Drag},
        {"scale 1.5: past the drag area", false, 1.5f, 1350, 30, A::Client},
        {"scale 1.5: title bottom", false, 1.5f, 700, 60, A::Client},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HitTestWindow(Geometry(c.maximised, c.scale), c.x, c.y), c.expected);
    }
}

TEST(WindowHitTest, NoTitleBarBeforeTheFirstFrame) {
    WindowHitGeometry g = Geometry(false, 1.0f);
    g.titleHeight = 0.0f;
    EXPECT_EQ(HitTestWindow(g, 500, 20), WindowHitArea::Client);
}

TEST(WindowHitTest, BandRounds) {
    EXPECT_EQ(ResizeBandPixels(1.0f), 6);
    EXPECT_EQ(ResizeBandPixels(1.25f), 8);  // 7.5 rounds up
    EXPECT_EQ(ResizeBandPixels(2.0f), 12);
}

}  // namespace
}  // namespace korvel
