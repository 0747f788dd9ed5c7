#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "build_fixture.h"
#include "engine/build_events.h"
#include "engine/build_kinds.h"
#include "engine/source_region.h"
#include "library/library.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

using test::MakeEvent;
using test::MakeFile;
using test::MakePalette;

constexpr std::uint32_t kSeed = 404;

class AlloyTest : public ::testing::Test {
protected:
    Project project;
    std::vector<Palette> palettes;
    std::uint32_t stateAfter = 0;

    void SetUp() override {
        ClearSourceRegionCaches();
        std::vector<LibraryFile> files;
        for (int i = 0; i < 40; ++i) {
            std::string name = "src";
            name += std::to_string(i);
            files.push_back(MakeFile(name, 1.0f + 0.1f * static_cast<float>(i), "/nowhere"));
            files.back().spectralWeight = 0.1f + 0.02f * static_cast<float>(i);
        }
        palettes = {MakePalette("All", files)};
        project.alloyAlgorithm = 1;
        project.alloyFilterBands = 7;
    }
    void TearDown() override { ClearSourceRegionCaches(); }

    std::vector<LayerResult> Build(const Event& event, bool emptyPool = false) {
        stateAfter = test::BuildOneEvent(project, palettes, kSeed, event, emptyPool, BuildAlloyLayers);
        return project.results;
    }
};

Event AlloyEvent(EventKind kind, float duration, float intensity, float w0, float w1) {
    Event event = MakeEvent(kind, 1.0f, duration, intensity);
    for (int i = 0; i < kCurvePoints; ++i) event.weight[i] = w0 + (w1 - w0) * static_cast<float>(i) / 255.0f;
    event.alloy = true;
    event.alloyMorph = 0.6f;
    return event;
}

TEST_F(AlloyTest, MainLayersByWeightRange) {
    struct Case {
        const char* name;
        float w0, w1;
        std::vector<float> tones;
    };
    const std::vector<Case> cases = {
        {"flat: one layer at the weight", 0.4f, 0.4f, {0.4f}},
        {"a range of 0.2: two", 0.3f, 0.5f, {0.3f, 0.5f}},
        {"a range of 0.5: three", 0.2f, 0.7f, {0.2f, 0.45f, 0.7f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Calm: no extra layers; no pool: sketches, and no draws.
        const std::vector<LayerResult> layers = Build(AlloyEvent(EventKind::Bloom, 2.0f, 0.1f, c.w0, c.w1), true);
        ASSERT_EQ(layers.size(), c.tones.size());
        EXPECT_EQ(stateAfter, kSeed);
        for (std::size_t k = 0; k < layers.size(); ++k) {
            EXPECT_NEAR(layers[k].weight, c.tones[k], 1e-5f);
            EXPECT_EQ(layers[k].name, "[Sketch] Alloy");
            EXPECT_TRUE(layers[k].isSketch);
            EXPECT_EQ(layers[k].procMode, 3);
            EXPECT_EQ(layers[k].track, static_cast<std::int32_t>(k));
            EXPECT_TRUE(layers[k].hasAlloyCurves);
            EXPECT_EQ(layers[k].alloyAlgo, 1);
            EXPECT_EQ(layers[k].alloyFilterBands, 7);
            EXPECT_FLOAT_EQ(layers[k].alloyMorph, 0.6f);
            EXPECT_FLOAT_EQ(layers[k].alloyToneCurve[0], c.w0);
            EXPECT_NEAR(layers[k].alloyToneCurve[31], c.w1, 1e-5f);
        }
    }
}

TEST_F(AlloyTest, SourcesNamesAndShortFiles) {
    // Every file is shorter than the 6 s event: each is used whole.
    const std::vector<LayerResult> layers = Build(AlloyEvent(EventKind::Spot, 6.0f, 0.1f, 0.4f, 0.4f));
    ASSERT_EQ(layers.size(), 1u);
    const LayerResult& layer = layers[0];
    EXPECT_EQ(layer.name.rfind("DSGNMisc_src", 0), 0u) << layer.name;
    EXPECT_NE(layer.name.find("Designed_01"), std::string::npos) << layer.name;
    EXPECT_FLOAT_EQ(layer.sourceOffset, 0.0f);
    EXPECT_FLOAT_EQ(layer.sourceDuration, 6.0f);
    for (const LayerSourceRef* source : {&layer.alloyMid, &layer.alloyHigh, &layer.alloyEnv}) {
        EXPECT_FALSE(source->filepath.empty());
        EXPECT_NE(source->filepath, layer.filepath);
        EXPECT_FLOAT_EQ(source->offset, 0.0f);
        EXPECT_LT(source->duration, 6.0f);
    }
    EXPECT_EQ(layer.pitchVarShift, 0.0f);
}

TEST_F(AlloyTest, ALongerFileIsPlacedWhereItsShapeFitsTheEvent) {
    test::TempDir dir;
    constexpr int kRate = 48000;
    std::vector<float> samples(5 * kRate, 0.0f);
    for (int i = 3 * kRate; i < 3 * kRate + kRate / 5; ++i)
        samples[static_cast<std::size_t>(i)] = 0.8f * static_cast<float>(std::sin(0.05 * i));
    LibraryFile file = MakeFile("burst", 5.0f);
    file.path = dir.file("burst.wav");
    ASSERT_TRUE(test::WriteSoundFile(file.path, samples, 1, kRate));
    palettes = {MakePalette("One", {file})};

    // A 2 s event peaking in its middle: the burst at 3 s lands there.
    Event event = AlloyEvent(EventKind::Bloom, 2.0f, 0.0f, 0.45f, 0.45f);
    for (int i = 0; i < kCurvePoints; ++i)
        event.intensity[i] = 0.12f * (1.0f - std::fabs(static_cast<float>(i) / 255.0f - 0.5f) * 2.0f);
    const std::vector<LayerResult> layers = Build(event);
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0].filepath, file.path);
    EXPECT_NEAR(layers[0].sourceOffset, 2.1f, 0.15f);
    EXPECT_TRUE(layers[0].alloyMid.filepath.empty());  // one file, already used
}

TEST_F(AlloyTest, ExtraLayersOverTheLoudStretches) {
    // Peak 1, spread 0.8 (a plan of 6), two main layers: four extra layers
    // at thresholds 0.08, 0.363, 0.647 and 0.93 of a triangle, each shorter.
    Event event = AlloyEvent(EventKind::Contour, 4.0f, 0.0f, 0.3f, 0.5f);
    for (int i = 0; i < kCurvePoints; ++i)
        event.intensity[i] = 1.0f - std::fabs(static_cast<float>(i) / 255.0f - 0.5f) * 2.0f;
    event.spread = 0.8f;
    const std::vector<LayerResult> layers = Build(event);
    ASSERT_EQ(layers.size(), 6u);
    const float thresholds[4] = {0.08f, 0.3633f, 0.6467f, 0.93f};
    for (int f = 0; f < 4; ++f) {
        SCOPED_TRACE(f);
        const LayerResult& extra = layers[static_cast<std::size_t>(2 + f)];
        EXPECT_EQ(extra.track, 2 + f);
        EXPECT_EQ(extra.procMode, 3);
        EXPECT_FALSE(extra.hasIntGain);
        EXPECT_NE(extra.name.find("Designed_0" + std::to_string(f + 2)), std::string::npos) << extra.name;
        // The span where the triangle reaches the threshold, ±3 % jitter.
        EXPECT_NEAR(extra.duration, (1.0f - thresholds[f]) * 4.0f, 0.3f);
        EXPECT_FALSE(extra.alloyMid.filepath.empty());
    }
    event.intensity.fill(0.1f);
    EXPECT_EQ(Build(event).size(), 2u);  // a peak of 0.1: none
}

TEST_F(AlloyTest, PinnedLayersOfAnAlloyEventAreDetunedTheAlloyLayersNot) {
    Event event = AlloyEvent(EventKind::Spot, 2.0f, 0.5f, 0.4f, 0.4f);
    event.pitchVariation = 1.0f;
    event.pinnedFiles = {"/nowhere/src5.wav"};
    project.events = {event};
    const test::ScopedBuildSeed seed;
    BuildEvents(project, palettes, 0, -1.0f, -1.0f, false, false);
    int pinned = 0, alloys = 0;
    for (const LayerResult& layer : project.results) {
        if (layer.procMode == 3) {
            ++alloys;
            EXPECT_EQ(layer.pitchVarShift, 0.0f);
        } else {
            ++pinned;
            EXPECT_NE(layer.pitchVarShift, 0.0f);
        }
    }
    EXPECT_EQ(pinned, 1);
    EXPECT_GE(alloys, 1);
}

}  // namespace
}  // namespace korvel
