#include "platform/display_scale.h"

#include <gtest/gtest.h>

#include <limits>

namespace korvel {
namespace {

TEST(DisplayScale, XftDpiFromResources) {
    struct Case {
        const char* name;
        const char* resources;
        float dpi;
    };
    const Case cases[] = {
        {"empty", "", 0.0f},
        {"only dpi", "Xft.dpi:\t144\n", 144.0f},
        {"among others", "Xcursor.size:\t24\nXft.dpi:\t120\nXft.antialias:\t1\n", 120.0f},
        {"no newline at the end", "Xft.antialias:\t1\nXft.dpi:\t96", 96.0f},
        {"fraction", "Xft.dpi:\t110.5\n", 110.5f},
        {"spaces around", "  Xft.dpi :  192\n", 192.0f},
        {"other resource with the name inside", "*Xft.dpi.extra:\t300\n", 0.0f},
        {"not a number", "Xft.dpi:\tbig\n", 0.0f},
        {"absent", "Xft.hinting:\t1\n", 0.0f},
        {"negative passes through", "Xft.dpi:\t-5\n", -5.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FLOAT_EQ(ParseXftDpi(c.resources), c.dpi);
    }
}

TEST(DisplayScale, ScaleIsDpiOver96WithOneForNothingUsable) {
    EXPECT_FLOAT_EQ(UiScaleFromDpi(96.0f), 1.0f);
    EXPECT_FLOAT_EQ(UiScaleFromDpi(144.0f), 1.5f);
    EXPECT_FLOAT_EQ(UiScaleFromDpi(0.0f), 1.0f);
    EXPECT_FLOAT_EQ(UiScaleFromDpi(-96.0f), 1.0f);
    EXPECT_FLOAT_EQ(UiScaleFromDpi(std::numeric_limits<float>::quiet_NaN()), 1.0f);
    EXPECT_FLOAT_EQ(UiScaleFromDpi(std::numeric_limits<float>::infinity()), 1.0f);
}

}  // namespace
}  // namespace korvel
