// Per-frame measures on synthetic RGBA frames, the records of steps that
// delivered no frame, and the lookups.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "picture/trace_analysis.h"

namespace korvel {
namespace {

constexpr float kAny = std::numeric_limits<float>::quiet_NaN();

struct Picture {
    int width = 4;
    int height = 4;
    std::uint8_t r = 0, g = 0, b = 0;
    // One pixel painted another colour: index, then its r, g, b.
    int oddPixel = -1;
    std::uint8_t odd[3] = {0, 0, 0};

    std::vector<std::uint8_t> Pixels() const {
        std::vector<std::uint8_t> px(static_cast<std::size_t>(width * height) * 4);
        for (int p = 0; p < width * height; ++p) {
            const bool isOdd = p == oddPixel;
            px[p * 4 + 0] = isOdd ? odd[0] : r;
            px[p * 4 + 1] = isOdd ? odd[1] : g;
            px[p * 4 + 2] = isOdd ? odd[2] : b;
            px[p * 4 + 3] = 255;
        }
        return px;
    }
};

Picture Solid(std::uint8_t r, std::uint8_t g, std::uint8_t b, int w = 4, int h = 4) {
    Picture p;
    p.width = w;
    p.height = h;
    p.r = r;
    p.g = g;
    p.b = b;
    return p;
}

TraceAnalysis Sized(std::size_t records) {
    TraceAnalysis a;
    a.fps = 10.0f;
    a.frames.assign(records, FrameMeasures{});
    return a;
}

void Deliver(TraceAnalysis& a, int index, const Picture& p) {
    const std::vector<std::uint8_t> px = p.Pixels();
    a.AddFrame(index, static_cast<float>(index) / 10.0f, px.data(), p.width, p.height);
}

// The measures of the last of a few frames delivered in a row.
TEST(TraceMeasures, KnownFrames) {
    const float ln101 = std::log(101.0f);
    Picture fivePixels = Solid(0, 0, 0, 5, 1);
    Picture fivePixelsFirstWhite = fivePixels;
    fivePixelsFirstWhite.oddPixel = 0;
    fivePixelsFirstWhite.odd[0] = fivePixelsFirstWhite.odd[1] = fivePixelsFirstWhite.odd[2] = 255;
    Picture fivePixelsSecondWhite = fivePixelsFirstWhite;
    fivePixelsSecondWhite.oddPixel = 1;

    struct Case {
        const char* name;
        std::vector<Picture> frames;
        float luma, lumaDelta, motion, histogramChange, warmth, saturation;
    } cases[] = {
        {"first frame has no change measures", {Solid(255, 255, 255)}, 1.0f, 0.0f, 0.0f, 0.0f, kAny, 0.0f},
        {"grey is neither warm nor saturated", {Solid(128, 128, 128)}, 128.0f / 255.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},
        {"pure red: warmth clamped, full saturation", {Solid(255, 0, 0)}, 0.2126f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f},
        {"pure blue: coldest", {Solid(0, 0, 255)}, 0.0722f, 0.0f, 0.0f, 0.0f, -1.0f, 1.0f},
        {"black pixels count no saturation", {Solid(0, 0, 0)}, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},
        {"half-saturated orange", {Solid(200, 150, 100)}, kAny, 0.0f, 0.0f, 0.0f,
         (200.0f - 100.0f) / 255.0f / (0.5f * 150.0f / 255.0f + 0.3f), 0.5f},
        {"identical frames: no motion, no histogram change",
         {Solid(30, 90, 200), Solid(30, 90, 200)}, kAny, 0.0f, 0.0f, 0.0f, kAny, kAny},
        {"black to white: log-luma jump, every bin moves",
         {Solid(0, 0, 0), Solid(255, 255, 255)}, 1.0f, 1.0f, ln101 / 3.0f, 1.0f, 0.0f, 0.0f},
        {"red to green: luma and chroma both move",
         {Solid(255, 0, 0), Solid(0, 255, 0)}, 0.7152f, 0.7152f - 0.2126f,
         (std::log(0.7252f / 0.2226f) + 0.3f * (2.0f + 1.0f)) / 3.0f, 2.0f / 6.0f * 2.0f, kAny, 1.0f},
        {"another size: a histogram change but no motion",
         {Solid(0, 0, 0, 4, 4), Solid(255, 255, 255, 8, 2)}, 1.0f, 1.0f, 0.0f, 1.0f, kAny, kAny},
        // Five pixels: pixels 0 and 4 are read, so the sum is over two.
        {"motion reads every fourth pixel, counted up", {fivePixels, fivePixelsFirstWhite}, kAny, kAny,
         ln101 / (3.0f * 2.0f), kAny, kAny, kAny},
        {"a change between the read pixels is not motion", {fivePixels, fivePixelsSecondWhite}, kAny, kAny, 0.0f,
         2.0f * 3.0f / 5.0f / 6.0f, kAny, kAny},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TraceAnalysis a = Sized(4);
        for (std::size_t i = 0; i < c.frames.size(); ++i) Deliver(a, static_cast<int>(i), c.frames[i]);
        const int last = static_cast<int>(c.frames.size()) - 1;
        const FrameMeasures& m = a.frames[static_cast<std::size_t>(last)];
        EXPECT_EQ(a.framesDone.load(), last + 1);
        EXPECT_FLOAT_EQ(m.time, static_cast<float>(last) / 10.0f);
        const auto check = [](const char* what, float got, float want) {
            if (!std::isnan(want)) {
                EXPECT_NEAR(got, want, 1e-4f) << what;
            }
        };
        check("luma", m.luma, c.luma);
        check("lumaDelta", m.lumaDelta, c.lumaDelta);
        check("motion", m.motion, c.motion);
        check("histogramChange", m.histogramChange, c.histogramChange);
        check("warmth", m.warmth, c.warmth);
        check("saturation", m.saturation, c.saturation);
        EXPECT_EQ(m.energy + m.smoothedMotion + m.composite + m.threshold, 0.0f) << "the detector's fields";
    }
}

TEST(TraceMeasures, IndicesOutsideTheRecordsChangeNothing) {
    TraceAnalysis a = Sized(3);
    Deliver(a, 0, Solid(100, 100, 100));
    const std::vector<std::uint8_t> previous = a.previousPixels;
    for (const int index : {-1, 3, 1000}) {
        SCOPED_TRACE(index);
        const std::vector<std::uint8_t> px = Solid(255, 0, 0).Pixels();
        a.AddFrame(index, 9.0f, px.data(), 4, 4);
        EXPECT_EQ(a.framesDone.load(), 1);
        EXPECT_EQ(a.frames.size(), 3u);
        EXPECT_EQ(a.previousPixels, previous) << "the next frame still compares with the last measured one";
        EXPECT_FLOAT_EQ(a.frames[1].time, 0.0f);
        EXPECT_FLOAT_EQ(a.frames[2].time, 0.0f);
    }
}

// A frame of size 0 is recorded with its time only and leaves the previous
// picture as the one the next frame is compared with.
TEST(TraceMeasures, EmptyFrameKeepsOnlyItsTime) {
    TraceAnalysis a = Sized(4);
    Deliver(a, 0, Solid(0, 0, 0));
    a.AddFrame(1, 0.1f, nullptr, 160, 0);
    EXPECT_EQ(a.framesDone.load(), 2);
    EXPECT_FLOAT_EQ(a.frames[1].time, 0.1f);
    EXPECT_FLOAT_EQ(a.frames[1].luma, 0.0f);
    EXPECT_FLOAT_EQ(a.frames[1].histogramChange, 0.0f);
    Deliver(a, 2, Solid(255, 255, 255));
    EXPECT_NEAR(a.frames[2].motion, std::log(101.0f) / 3.0f, 1e-4f) << "compared with frame 0";
}

// Steps that delivered no frame must not read as black: their records hold
// the last picture's light and colour, and the next frame's luma change is
// taken against that picture.
TEST(TraceMeasures, StepsWithoutAFrameCarryTheLastPicture) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, Picture>> delivered;
        int checked;  // a record of a step without its frame
        float luma, warmth, lumaDeltaOfLast;
    } cases[] = {
        {"a gap between two frames", {{0, Solid(128, 128, 128)}, {3, Solid(140, 140, 140)}}, 2, 128.0f / 255.0f,
         0.0f, 12.0f / 255.0f},
        {"a warm picture before the gap", {{0, Solid(255, 0, 0)}, {2, Solid(255, 0, 0)}}, 1, 0.2126f, 1.0f, 0.0f},
        {"no frame before the first one", {{2, Solid(128, 128, 128)}}, 0, 128.0f / 255.0f, 0.0f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TraceAnalysis a = Sized(6);
        for (const auto& [index, picture] : c.delivered) Deliver(a, index, picture);
        const int last = c.delivered.back().first;
        const FrameMeasures& gap = a.frames[static_cast<std::size_t>(c.checked)];
        EXPECT_NEAR(gap.time, c.checked / 10.0f, 1e-6f) << "its own step's time";
        EXPECT_NEAR(gap.luma, c.luma, 1e-4f);
        EXPECT_NEAR(gap.warmth, c.warmth, 1e-4f);
        EXPECT_EQ(gap.lumaDelta + gap.motion + gap.histogramChange, 0.0f);
        EXPECT_NEAR(a.frames[static_cast<std::size_t>(last)].lumaDelta, c.lumaDeltaOfLast, 1e-4f);
        EXPECT_EQ(a.framesDone.load(), last + 1);
    }
}

TEST(TraceLookups, InterpolateClampAndExtend) {
    TraceAnalysis a = Sized(4);
    const float luma[] = {0.0f, 0.2f, 0.4f, 0.8f};
    for (int i = 0; i < 4; ++i) {
        a.frames[i].time = i / 10.0f;
        a.frames[i].luma = luma[i];
        a.frames[i].smoothedMotion = 10.0f * luma[i];
        a.frames[i].composite = 100.0f * luma[i];
        a.frames[i].threshold = 1000.0f * luma[i];
    }
    struct Case {
        const char* name;
        float t, luma;
    } cases[] = {
        {"halfway between frames 2 and 3", 0.25f, 0.6f},
        {"on a frame", 0.1f, 0.2f},
        {"past the end: the last frame", 5.0f, 0.8f},
        {"before the start: the line through frames 0 and 1", -0.1f, -0.2f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(a.LumaAt(c.t), c.luma, 1e-5f);
        EXPECT_NEAR(a.MotionAt(c.t), 10.0f * c.luma, 1e-4f);
        EXPECT_NEAR(a.CompositeAt(c.t), 100.0f * c.luma, 1e-3f);
        EXPECT_NEAR(a.ThresholdAt(c.t), 1000.0f * c.luma, 1e-2f);
    }

    TraceAnalysis single = Sized(1);
    single.frames[0].luma = 0.3f;
    EXPECT_FLOAT_EQ(single.LumaAt(7.0f), 0.3f);
    EXPECT_FLOAT_EQ(single.LumaAt(-7.0f), 0.3f);

    TraceAnalysis none = Sized(0);
    EXPECT_EQ(none.LumaAt(0.0f), 0.0f);
    a.fps = 0.0f;
    EXPECT_EQ(a.LumaAt(0.25f), 0.0f) << "no analysis rate";
}

}  // namespace
}  // namespace korvel
