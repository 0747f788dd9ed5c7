// The curve brush and the smoothing at a stroke's end, against values
// worked out by hand.
#include "ui/timeline/curve_brush.h"

#include <gtest/gtest.h>

namespace korvel {
namespace {

TEST(CurveBrushTest, StrokesAgainstHandValues) {
    struct Point {
        int index;
        float value;
    };
    struct Case {
        const char* name;
        float x, value, prevX, prevValue;
        int wantMin, wantMax;
        std::vector<Point> points;
    };
    const Case cases[] = {
        {"a single sample", 0.5f, 1.0f, -1.0f, -1.0f, 125, 131,
         {{124, 0}, {125, 0}, {126, 5.0f / 9}, {127, 8.0f / 9}, {128, 1}, {129, 8.0f / 9}, {130, 5.0f / 9}, {131, 0}}},
        {"the right end", 1.0f, 1.0f, -1.0f, -1.0f, 253, 255, {{252, 0}, {253, 0}, {254, 5.0f / 9}, {255, 8.0f / 9}}},
        {"the left end", 0.0f, 1.0f, -1.0f, -1.0f, 0, 3, {{0, 1}, {1, 8.0f / 9}, {3, 0}}},
        {"a fast stroke over the whole curve", 1.0f, 1.0f, 0.0f, 1.0f, 0, 255, {{0, 1}, {77, 1}, {200, 1}, {255, 1}}},
        {"past the ends touches nothing", -0.5f, 1.0f, -1.0f, -1.0f, 256, -1, {{0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CurvePoints curve{};
        std::int32_t lo = 256;
        std::int32_t hi = -1;
        EXPECT_EQ(PaintCurveStroke(curve, c.x, c.value, c.prevX, c.prevValue, lo, hi), c.wantMax);
        EXPECT_EQ(lo, c.wantMin);
        EXPECT_EQ(hi, c.wantMax);
        for (const Point& p : c.points) EXPECT_NEAR(curve[static_cast<std::size_t>(p.index)], p.value, 1e-5f) << p.index;
    }
}

TEST(CurveBrushTest, SmoothingStaysInItsRangeAndRepeatsTheEnds) {
    CurvePoints curve{};
    std::int32_t lo = 256;
    std::int32_t hi = -1;
    PaintCurveStroke(curve, 0.5f, 1.0f, -1.0f, -1.0f, lo, hi);
    const CurvePoints painted = curve;
    SmoothCurveRange(curve, lo, hi);
    EXPECT_EQ(curve[124], 0.0f) << "outside the touched range";
    EXPECT_EQ(curve[132], 0.0f);
    EXPECT_LT(curve[128], painted[128]) << "the peak spreads";
    EXPECT_GT(curve[125], 0.0f);
    EXPECT_NEAR(curve[126], curve[130], 1e-6f) << "symmetric";

    CurvePoints flat;
    flat.fill(0.7f);
    SmoothCurveRange(flat, -20, 400);
    for (float v : flat) ASSERT_NEAR(v, 0.7f, 1e-5f) << "a constant curve, ends included, is unchanged";
    CurvePoints same = painted;
    SmoothCurveRange(same, 10, 5);
    EXPECT_EQ(same, painted) << "an empty range";
}

}  // namespace
}  // namespace korvel
