// The detector on synthetic measure curves (no video): each case builds a
// read of n frames at 10 per second and checks what the detector makes of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "picture/trace_analysis.h"

namespace korvel {
namespace {

TraceAnalysis Still(int n, float luma = 0.5f) {
    TraceAnalysis a;
    a.fps = 10.0f;
    a.duration = static_cast<float>(n) / 10.0f;
    a.frames.assign(static_cast<std::size_t>(n), FrameMeasures{});
    for (int i = 0; i < n; ++i) {
        a.frames[i].time = static_cast<float>(i) / 10.0f;
        a.frames[i].luma = luma;
    }
    a.framesDone.store(n);
    return a;
}

// A model that makes the composite the 3-tap mean of |lumaDelta|, so the
// curve the passes see is set exactly by the case.
void DeltaOnly(TraceAnalysis& a, float minGap) {
    a.model.valid = true;
    a.model.w = {0.0f, 0.0f, 1.0f, 0.0f, 0.0f};
    a.model.defaultCompositeMean = 0.0f;
    a.model.minGap = minGap;
}

void ColourCut(TraceAnalysis& a, int at, float lumaAfter) {
    a.frames[at].histogramChange = 0.9f;
    for (std::size_t i = at; i < a.frames.size(); ++i) a.frames[i].luma = lumaAfter;
}

std::vector<TraceDetection> OfType(const TraceAnalysis& a, int type) {
    std::vector<TraceDetection> out;
    for (const TraceDetection& d : a.events) {
        if (d.type == type) out.push_back(d);
    }
    return out;
}

bool CurveWithin(const TraceDetection& d, float lo, float hi) {
    return d.hasIntensityCurve && std::all_of(d.intensityCurve.begin(), d.intensityCurve.end(),
                                              [&](float v) { return v >= lo - 1e-6f && v <= hi + 1e-6f; });
}

TEST(TraceDetection, EdgeCases) {
    struct Case {
        const char* name;
        std::function<TraceAnalysis()> build;
        std::function<void(const TraceAnalysis&)> check;
    } cases[] = {
        {"five identical frames", [] { return Still(5); },
         [](const TraceAnalysis& a) {
             EXPECT_TRUE(a.events.empty());
             EXPECT_FLOAT_EQ(a.maxCompositeEnergy, 1.0f);
             for (const FrameMeasures& m : a.frames) {
                 EXPECT_EQ(m.energy + m.composite + m.smoothedMotion, 0.0f);
             }
         }},
        {"fewer than five frames: no detector fields", [] {
             TraceAnalysis a = Still(4);
             a.frames[2].motion = 1.0f;
             return a;
         },
         [](const TraceAnalysis& a) {
             EXPECT_TRUE(a.events.empty());
             EXPECT_EQ(a.numFrames, 4);
             EXPECT_EQ(a.frames[0].threshold, 0.0f);
             EXPECT_EQ(a.frames[2].smoothedMotion, 0.0f);
         }},
        {"records beyond the frames delivered are dropped", [] {
             TraceAnalysis a = Still(32);
             a.framesDone.store(30);
             return a;
         },
         [](const TraceAnalysis& a) {
             EXPECT_EQ(a.frames.size(), 30u);
             EXPECT_EQ(a.numFrames, 30);
         }},
        {"a single flash is a pass-0 spot", [] {
             TraceAnalysis a = Still(60, 0.1f);
             a.frames[30].luma = 0.9f;
             a.frames[30].lumaDelta = 0.8f;
             a.frames[31].lumaDelta = -0.8f;
             a.frames[30].motion = a.frames[31].motion = 1.0f;
             a.frames[30].histogramChange = a.frames[31].histogramChange = 0.8f;
             return a;
         },
         [](const TraceAnalysis& a) {
             std::vector<TraceDetection> first;
             for (const TraceDetection& d : a.events) {
                 if (d.peelLayer == 0 && d.type == 0) first.push_back(d);
             }
             ASSERT_EQ(first.size(), 1u);
             const TraceDetection& spot = first[0];
             EXPECT_NEAR(spot.time, 3.0f, 0.1f + 1e-5f);
             EXPECT_EQ(spot.suggestedShape, KindValue(EventKind::Spot));
             EXPECT_EQ(spot.tier, 0);
             EXPECT_FLOAT_EQ(spot.suggestedSyncOffset, 0.0f);
             EXPECT_FLOAT_EQ(spot.intensity, 1.0f);
             EXPECT_FLOAT_EQ(spot.confidence, 1.0f);
             EXPECT_TRUE(spot.accepted);
             EXPECT_TRUE(CurveWithin(spot, 0.0f, 1.0f));
             for (const TraceDetection& d : a.events) EXPECT_LE(d.peelLayer, 3);
             EXPECT_TRUE(std::is_sorted(a.events.begin(), a.events.end(),
                                        [](const TraceDetection& x, const TraceDetection& y) { return x.time < y.time; }));
         }},
        // |lumaDelta| 1 at 2.9 s, 0.5 at 3.1 s and 0.7 at 3.3 s: composite
        // peaks at 3.0 s (prominence 0.5) and 3.2 s (0.23), 0.2 s apart.
        {"close spikes: only the more prominent in pass 0", [] {
             TraceAnalysis a = Still(60);
             DeltaOnly(a, 0.25f);
             a.frames[29].lumaDelta = 1.0f;
             a.frames[31].lumaDelta = 0.5f;
             a.frames[33].lumaDelta = -0.7f;
             return a;
         },
         [](const TraceAnalysis& a) {
             std::vector<float> passZero;
             for (const TraceDetection& d : a.events) {
                 if (d.peelLayer == 0 && d.type == 0) passZero.push_back(d.time);
             }
             ASSERT_EQ(passZero.size(), 1u);
             EXPECT_NEAR(passZero[0], 3.0f, 1e-5f);
         }},
        {"a wide swell is a sustained pass-0 detection", [] {
             TraceAnalysis a = Still(100);
             for (int i = 0; i < 100; ++i) a.frames[i].motion = std::exp(-0.5f * std::pow((i - 50) / 8.0f, 2.0f));
             return a;
         },
         [](const TraceAnalysis& a) {
             bool found = false;
             for (const TraceDetection& d : a.events) {
                 if (d.type != 1 || d.peelLayer != 0 || std::fabs(d.time - 5.0f) > 0.5f) continue;
                 found = true;
                 EXPECT_EQ(d.suggestedShape, KindValue(EventKind::Bloom));
                 EXPECT_FLOAT_EQ(d.suggestedSyncOffset, d.suggestedDuration / 2.0f);
                 EXPECT_GE(d.suggestedDuration, 0.6f);
             }
             EXPECT_TRUE(found);
         }},
        {"a colour cut between unlike shots", [] {
             TraceAnalysis a = Still(100, 0.2f);
             ColourCut(a, 50, 0.8f);
             return a;
         },
         [](const TraceAnalysis& a) {
             const std::vector<TraceDetection> shots = OfType(a, 2);
             ASSERT_EQ(shots.size(), 2u);
             EXPECT_NEAR(shots[0].time, 0.0f, 1e-5f);
             EXPECT_NEAR(shots[0].suggestedDuration, 5.0f, 1e-5f);
             EXPECT_NEAR(shots[1].time, 5.0f, 1e-5f);
             EXPECT_NEAR(shots[1].suggestedDuration, 4.9f, 1e-5f);
             for (const TraceDetection& s : shots) {
                 EXPECT_EQ(s.tier, 2);
                 EXPECT_EQ(s.suggestedShape, KindValue(EventKind::Fill));
                 EXPECT_FALSE(s.accepted);
                 EXPECT_FLOAT_EQ(s.intensity, 0.4f);
                 EXPECT_TRUE(CurveWithin(s, 0.2f, 0.6f));
             }
         }},
        {"a colour cut between like shots merges them", [] {
             TraceAnalysis a = Still(100, 0.5f);
             ColourCut(a, 50, 0.55f);
             return a;
         },
         [](const TraceAnalysis& a) {
             const std::vector<TraceDetection> shots = OfType(a, 2);
             ASSERT_EQ(shots.size(), 1u);
             EXPECT_NEAR(shots[0].suggestedDuration, 9.9f, 1e-5f);
             // Means weighted by length: frames 0..50, then 50..99.
             const float first = (0.5f * 50.0f + 0.55f) / 51.0f;
             const float luma = (first * 50.0f + 0.55f * 49.0f) / 99.0f;
             EXPECT_NEAR(shots[0].suggestedWeightCenter, 0.7f * luma + 0.15f, 2e-3f);
         }},
        {"a cut on the last frame adds no shot", [] {
             TraceAnalysis a = Still(40, 0.2f);
             a.frames[39].histogramChange = 0.9f;
             return a;
         },
         [](const TraceAnalysis& a) {
             const std::vector<TraceDetection> shots = OfType(a, 2);
             ASSERT_EQ(shots.size(), 1u);
             EXPECT_NEAR(shots[0].suggestedDuration, 3.9f, 1e-5f);
         }},
        {"a cut one frame before the end: too short to be a shot", [] {
             TraceAnalysis a = Still(40, 0.2f);
             ColourCut(a, 38, 0.9f);
             return a;
         },
         [](const TraceAnalysis& a) {
             const std::vector<TraceDetection> shots = OfType(a, 2);
             ASSERT_EQ(shots.size(), 1u);
             EXPECT_NEAR(shots[0].suggestedDuration, 3.8f, 1e-5f);
         }},
        // |lumaDelta| 0.6 from frame 2: composite 0, 0.2, 0.4, 0.6 over
        // frames 0..3, so frame 4's window has median 0.4 and MAD 0.2.
        {"thresholds: frame 0, the median and the MAD", [] {
             TraceAnalysis a = Still(20);
             DeltaOnly(a, 0.25f);
             for (int i = 2; i < 20; ++i) a.frames[i].lumaDelta = 0.6f;
             return a;
         },
         [](const TraceAnalysis& a) {
             EXPECT_FLOAT_EQ(a.frames[0].threshold, 0.05f);
             EXPECT_FLOAT_EQ(a.frames[1].threshold, 0.02f) << "c0 = 0 is below the floor";
             EXPECT_NEAR(a.frames[4].threshold, 0.4f + 1.5f * 1.4826f * 0.2f, 1e-5f);
             EXPECT_NEAR(a.frames[3].composite, 0.6f, 1e-6f) << "the saved composite is restored";
         }},
        {"thresholds: frame 1 takes frame 0's composite", [] {
             TraceAnalysis a = Still(20);
             DeltaOnly(a, 0.25f);
             a.frames[0].lumaDelta = a.frames[1].lumaDelta = 0.6f;
             return a;
         },
         [](const TraceAnalysis& a) { EXPECT_NEAR(a.frames[1].threshold, 0.6f, 1e-6f); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TraceAnalysis a = c.build();
        DetectTraceEvents(a, TraceSettings{});
        EXPECT_TRUE(a.valid);
        EXPECT_EQ(a.numFrames, static_cast<int>(a.frames.size()));
        c.check(a);
    }
}

// Every record and detection, compared exactly.
void ExpectSameResult(const TraceAnalysis& x, const TraceAnalysis& y) {
    ASSERT_EQ(x.events.size(), y.events.size());
    for (std::size_t i = 0; i < x.events.size(); ++i) {
        EXPECT_EQ(x.events[i].time, y.events[i].time) << i;
        EXPECT_EQ(x.events[i].suggestedDuration, y.events[i].suggestedDuration) << i;
        EXPECT_EQ(x.events[i].suggestedWeightCenter, y.events[i].suggestedWeightCenter) << i;
        EXPECT_EQ(x.events[i].intensityCurve, y.events[i].intensityCurve) << i;
    }
    for (std::size_t i = 0; i < x.frames.size(); ++i) {
        EXPECT_EQ(x.frames[i].composite, y.frames[i].composite) << i;
        EXPECT_EQ(x.frames[i].threshold, y.frames[i].threshold) << i;
    }
}

TraceAnalysis Busy() {
    TraceAnalysis a = Still(200);
    for (int i = 0; i < 200; ++i) {
        a.frames[i].motion = 0.5f + 0.5f * std::sin(i * 0.37f) * std::sin(i * 0.05f);
        a.frames[i].lumaDelta = (i % 23 == 0) ? 0.4f : 0.0f;
        a.frames[i].histogramChange = (i % 61 == 0) ? 0.5f : 0.02f;
        a.frames[i].luma = 0.3f + 0.2f * std::sin(i * 0.01f);
        a.frames[i].warmth = 0.1f;
    }
    return a;
}

TEST(TraceDetection, AnInvalidModelChangesNothing) {
    TraceAnalysis plain = Busy();
    TraceAnalysis tuned = Busy();
    tuned.model.w = {0.0f, 0.0f, 1.0f, 0.0f, 1.0f};
    tuned.model.defaultCompositeMean = 3.0f;
    tuned.model.weightBias = 0.4f;
    tuned.model.spotDurScale = tuned.model.sweepDurScale = 3.0f;
    tuned.model.minGap = 2.0f;
    DetectTraceEvents(plain, TraceSettings{});
    DetectTraceEvents(tuned, TraceSettings{});
    EXPECT_FALSE(plain.events.empty());
    ExpectSameResult(plain, tuned);

    // And a valid one does change it.
    TraceAnalysis valid = Busy();
    valid.model = tuned.model;
    valid.model.valid = true;
    DetectTraceEvents(valid, TraceSettings{});
    EXPECT_NE(valid.frames[50].composite, plain.frames[50].composite);
}

// A second run starts from an empty list and gives the same result.
TEST(TraceDetection, RunningAgainReplacesTheEvents) {
    TraceAnalysis once = Busy();
    DetectTraceEvents(once, TraceSettings{});
    TraceAnalysis twice = Busy();
    DetectTraceEvents(twice, TraceSettings{});
    DetectTraceEvents(twice, TraceSettings{});
    ExpectSameResult(once, twice);
}

// Within a later pass no two detections stand closer than its gap (pass 0
// shares its layer with the shots and long regions added after it).
TEST(TraceDetection, LaterPassesKeepTheirGap) {
    TraceAnalysis a = Busy();
    DetectTraceEvents(a, TraceSettings{});
    for (int p = 1; p < 4; ++p) {
        SCOPED_TRACE(p);
        std::vector<float> times;
        for (const TraceDetection& d : a.events) {
            if (d.peelLayer == p) times.push_back(d.time);
        }
        std::sort(times.begin(), times.end());
        for (std::size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 0.2f - 1e-5f);
    }
}

TEST(SampleCompositeCurve, ScalesToTheStretchsRange) {
    TraceAnalysis a = Still(10);
    for (int i = 0; i < 10; ++i) a.frames[i].composite = 0.1f * i;
    std::vector<float> out(256);
    SampleCompositeCurve(a, 0.2f, 0.6f, out.data(), 256);
    EXPECT_NEAR(out.front(), 0.0f, 1e-5f);
    EXPECT_NEAR(out.back(), 1.0f, 1e-5f);
    EXPECT_NEAR(out[128], 128.0f / 255.0f, 1e-4f) << "linear between frames";

    for (int i = 0; i < 10; ++i) a.frames[i].composite = 0.3f;
    SampleCompositeCurve(a, 0.0f, 0.9f, out.data(), 256);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.5f; })) << "flat: the middle";

    // Past the end the last frame's value holds.
    for (int i = 0; i < 10; ++i) a.frames[i].composite = 0.1f * i;
    SampleCompositeCurve(a, 0.8f, 2.0f, out.data(), 256);
    EXPECT_NEAR(out.back(), 1.0f, 1e-5f);
    EXPECT_NEAR(out[200], 1.0f, 1e-5f);
}

}  // namespace
}  // namespace korvel
