#include "engine/wash_layers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "build_fixture.h"
#include "engine/build_events.h"
#include "engine/build_kinds.h"
#include "engine/curve_routines.h"
#include "library/library.h"

namespace korvel {
namespace {

using test::MakeEvent;
using test::MakeFile;
using test::MakePalette;

constexpr std::uint32_t kSeed = 77;

class WashTest : public ::testing::Test {
protected:
    Project project;
    std::vector<Palette> palettes;
    std::uint32_t stateAfter = 0;

    void SetUp() override {
        std::vector<LibraryFile> files;
        for (int i = 0; i < 12; ++i) {
            std::string name = "w";
            name += std::to_string(i);
            files.push_back(MakeFile(name, 10.0f, "/nowhere"));
            files.back().spectralWeight = 0.1f + 0.07f * static_cast<float>(i);
        }
        palettes = {MakePalette("All", files)};
    }

    std::vector<LayerResult> Build(const Event& event, bool emptyPool) {
        stateAfter = test::BuildOneEvent(project, palettes, kSeed, event, emptyPool, BuildWashLayers);
        return project.results;
    }
};

Event Ramp(EventKind kind, float duration, float intensity, float w0, float w1) {
    Event event = MakeEvent(kind, 2.0f, duration, intensity);
    for (int i = 0; i < kCurvePoints; ++i) event.weight[i] = w0 + (w1 - w0) * static_cast<float>(i) / 255.0f;
    return event;
}

TEST(MarkOccupancy, BinsCoveredBySpans) {
    struct Case {
        const char* name;
        float from, to;
        int first, last;  // -1: nothing marked
    };
    const std::vector<Case> cases = {
        {"whole event", 0.0f, 1.0f, 0, 127}, {"a span ending on a bin edge", 0.25f, 0.5f, 32, 63},
        {"empty span", 0.5f, 0.5f, -1, -1}, {"outside both ends", -0.5f, 2.0f, 0, 127},
        {"reversed", 0.7f, 0.2f, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WashOccupancy occupancy = {};
        MarkOccupancy(occupancy, c.from, c.to);
        for (int k = 0; k < kWashBins; ++k)
            EXPECT_EQ(occupancy[static_cast<std::size_t>(k)], c.first >= 0 && k >= c.first && k <= c.last ? 1 : 0) << k;
    }
}

TEST_F(WashTest, ACalmEventGetsOneBaseLayerOverTheWholeEvent) {
    const std::vector<LayerResult> layers = Build(MakeEvent(EventKind::Bloom, 2.0f, 4.0f, 0.2f), true);
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0].name, "[Sketch] Wash");
    EXPECT_TRUE(layers[0].isSketch);
    EXPECT_FLOAT_EQ(layers[0].startTime, 2.0f);
    EXPECT_FLOAT_EQ(layers[0].duration, 4.0f);
    EXPECT_EQ(layers[0].procMode, 0);
    // The two edge draws are taken even for a placeholder.
    BuildRandom expected{kSeed};
    expected.Next();
    expected.Next();
    EXPECT_EQ(stateAfter, expected.state);
}

TEST_F(WashTest, FlatCurvesAreCappedAtTheBudgetPlusToneSplitCopies) {
    // Spread 1 and a flat 0.8: a plan of 6, level 4, so four layers over the
    // whole event; a weight ramp adds one copy of each.
    Event flat = Ramp(EventKind::Contour, 4.0f, 0.8f, 0.5f, 0.5f);
    flat.spread = 1.0f;
    std::vector<LayerResult> layers = Build(flat, true);
    ASSERT_EQ(layers.size(), 4u);
    for (const LayerResult& layer : layers) {
        EXPECT_FLOAT_EQ(layer.startTime, 2.0f);
        EXPECT_FLOAT_EQ(layer.duration, 4.0f);
    }
    Event ramp = Ramp(EventKind::Contour, 4.0f, 0.8f, 0.0f, 1.0f);
    ramp.spread = 1.0f;
    layers = Build(ramp, true);
    EXPECT_EQ(layers.size(), 8u);
    for (std::size_t i = 0; i < layers.size(); ++i) {
        EXPECT_EQ(layers[i].procMode, i < 2 ? 0 : 2) << i;
        EXPECT_EQ(layers[i].track, static_cast<std::int32_t>(i));
    }
}

TEST_F(WashTest, AMovingToneGetsLayersAtBothExtremesAndGainsWeightedByFit) {
    const std::vector<LayerResult> layers = Build(Ramp(EventKind::Bloom, 2.0f, 0.2f, 0.2f, 0.8f), true);
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_NEAR(layers[0].weight, 0.2f, 1e-5f);
    EXPECT_NEAR(layers[1].weight, 0.8f, 1e-5f);

    // Half the event at the layer's tone, half 0.5 away: the gain is the
    // event's intensity there, and exp(−1.25) of it where the weight moved.
    Event step = MakeEvent(EventKind::Bloom, 2.0f, 2.0f, 0.2f, 0.5f);
    for (int i = 128; i < kCurvePoints; ++i) step.weight[i] = 1.0f;
    const std::vector<LayerResult> stepped = Build(step, true);
    ASSERT_FALSE(stepped.empty());
    const LayerResult& first = stepped[0];
    ASSERT_NEAR(first.weight, 0.5f, 1e-5f);
    EXPECT_NEAR(first.intGain[0], 0.2f, 1e-4f);
    EXPECT_NEAR(first.intGain[255], 0.2f * std::exp(-1.25f), 1e-3f);
}

TEST_F(WashTest, LayersStayWithinTheEventAndDrawFiles) {
    Event event = MakeEvent(EventKind::Bloom, 2.0f, 6.0f, 0.0f, 0.5f);
    for (int i = 0; i < kCurvePoints; ++i)
        event.intensity[i] = 0.5f + 0.5f * std::sin(static_cast<float>(i) / 255.0f * 12.0f);
    event.spread = 1.0f;
    event.pitchVariation = 0.3f;
    const std::vector<LayerResult> layers = Build(event, false);
    ASSERT_GE(layers.size(), 3u);
    for (const LayerResult& layer : layers) {
        SCOPED_TRACE(layer.track);
        EXPECT_FALSE(layer.filepath.empty());
        EXPECT_LE(layer.startTime, 2.0f + 0.95f * 6.0f + 1e-4f);
        EXPECT_GE(layer.startTime, 2.0f - 1e-4f);
        EXPECT_GE(layer.duration, 0.08f - 1e-6f);
        EXPECT_LE(layer.fadeIn + layer.fadeOut, (0.12f * layer.sustainAmount + 0.8f) * layer.duration + 1e-4f);
        for (float g : layer.intGain) EXPECT_GE(g, 0.03f - 1e-6f);
    }
}

// A silent intensity curve makes every threshold 0; the run scan stops at
// the curve's end instead of running past it.
TEST_F(WashTest, ASilentCurveEndsItsRunAtTheCurvesEnd) {
    const std::vector<LayerResult> layers = Build(MakeEvent(EventKind::Bloom, 2.0f, 4.0f, 0.0f), true);
    for (const LayerResult& layer : layers) {
        EXPECT_GE(layer.startTime, 2.0f - 1e-4f);
        EXPECT_LE(layer.startTime + layer.duration, 6.0f + 1e-4f);
    }
}

TEST_F(WashTest, NoBudgetNoLayers) {
    Event event = MakeEvent(EventKind::Bloom, 2.0f, 4.0f, 0.2f);
    project.events = {event};
    BuildContext build(project, palettes);
    build.anyGroupPool = GatherCandidateFiles(palettes, -1, nullptr);
    EventPlan plan = PlanEvent(build, 0);
    plan.pinnedLayers = 1;  // the budget of 1 is taken by a pinned layer
    BuildWashLayers(build, plan);
    EXPECT_TRUE(project.results.empty());
}

}  // namespace
}  // namespace korvel
