#include "engine/fill_layers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "build_fixture.h"
#include "engine/build_events.h"
#include "engine/build_kinds.h"
#include "library/library.h"

namespace korvel {
namespace {

using test::MakeEvent;
using test::MakeFile;
using test::MakePalette;

constexpr std::uint32_t kSeed = 31;

class FillTest : public ::testing::Test {
protected:
    Project project;
    std::vector<Palette> palettes;
    std::uint32_t stateAfter = 0;

    void SetUp() override {
        std::vector<LibraryFile> files;
        for (int i = 0; i < 20; ++i) {
            std::string name = "amb";
            name += std::to_string(i);
            files.push_back(MakeFile(name, 30.0f, "/nowhere"));
            files.back().brightness = 0.05f * static_cast<float>(19 - i);
        }
        palettes = {MakePalette("Big", files)};
        std::vector<LibraryFile> small(files.begin(), files.begin() + 4);
        palettes.push_back(MakePalette("Small", small));
    }

    std::vector<LayerResult> Build(const Event& event, bool emptyPool = false) {
        stateAfter = test::BuildOneEvent(project, palettes, kSeed, event, emptyPool, BuildFillLayers,
                                         /*anyPoolIsGroupPool=*/true);
        return project.results;
    }

    static std::vector<float> Tones(const std::vector<LayerResult>& layers) {
        std::vector<float> tones;
        for (const LayerResult& layer : layers) tones.push_back(layer.weight);
        return tones;
    }
};

void ExpectTones(const std::vector<float>& got, const std::vector<float>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-5f) << i;
}

TEST_F(FillTest, LayerCountsAndTones) {
    Event flat = MakeEvent(EventKind::Fill, 0.0f, 8.0f, 0.5f, 0.5f);
    flat.spread = 0.1f;
    ExpectTones(Tones(Build(flat)), {0.45f, 0.5f, 0.55f});

    Event full = MakeEvent(EventKind::Fill, 0.0f, 8.0f, 0.9f);
    for (int i = 0; i < kCurvePoints; ++i) full.weight[i] = static_cast<float>(i) / 255.0f;
    full.spread = 1.0f;
    full.hero = true;  // a plan of 8
    const std::vector<LayerResult> eight = Build(full);
    ASSERT_EQ(eight.size(), 8u);
    EXPECT_NEAR(eight.front().weight, 0.0f, 1e-6f);
    EXPECT_NEAR(eight.back().weight, 1.0f, 1e-6f);

    Event five = flat;
    five.fillLayers = 5;
    ExpectTones(Tones(Build(five)), {0.0f, 0.25f, 0.5f, 0.75f, 1.0f});
    for (const LayerResult& layer : project.results) {
        EXPECT_EQ(layer.procMode, 1);
        EXPECT_FALSE(layer.hasIntGain);
        EXPECT_TRUE(layer.hasFillGain);
    }
    EXPECT_FALSE(project.results[2].filepath.empty());  // the middle tone suits the files
}

TEST_F(FillTest, ACuratedPaletteIsUsedDarkestToBrightestWithoutADraw) {
    Event event = MakeEvent(EventKind::Fill, 0.0f, 8.0f, 0.5f, 0.5f);
    event.spread = 1.0f;  // a plan of 6
    std::snprintf(event.libFilter, sizeof event.libFilter, "%s", "Small");
    const std::int32_t counter = project.drawCounter;
    const std::vector<LayerResult> layers = Build(event);
    ASSERT_EQ(layers.size(), 4u);
    // Brightness falls with the index, so the darkest is amb3.
    EXPECT_EQ(layers[0].name, "amb3");
    EXPECT_EQ(layers[3].name, "amb0");
    ExpectTones(Tones(layers), {0.0f, 1.0f / 3.0f, 2.0f / 3.0f, 1.0f});
    EXPECT_FLOAT_EQ(layers[0].sourceDuration, 30.0f);
    EXPECT_EQ(project.drawCounter, counter);
    EXPECT_EQ(stateAfter, kSeed);
}

TEST_F(FillTest, TheFillDrawLeavesTheBuildGeneratorAlone) {
    Event event = MakeEvent(EventKind::Fill, 0.0f, 8.0f, 0.5f, 0.5f);
    const std::int32_t counter = project.drawCounter;
    const std::vector<LayerResult> layers = Build(event);
    ASSERT_EQ(layers.size(), 3u);
    EXPECT_EQ(stateAfter, kSeed);
    EXPECT_EQ(project.drawCounter, counter + 3);
    // Pitch variation still draws from the build's generator.
    event.pitchVariation = 0.5f;
    Build(event);
    BuildRandom expected{kSeed};
    for (int i = 0; i < 3; ++i) expected.Next();
    EXPECT_EQ(stateAfter, expected.state);
}

TEST_F(FillTest, SceneCrossfadeAndPlaceholders) {
    Event event = MakeEvent(EventKind::Fill, 2.0f, 8.0f, 0.5f, 0.5f);
    event.sceneLink = 0;
    event.sceneCrossfade = 12;
    project.fps = 24.0f;
    for (const LayerResult& layer : Build(event)) {
        EXPECT_FLOAT_EQ(layer.startTime, 2.0f);
        EXPECT_FLOAT_EQ(layer.duration, 8.5f);
        EXPECT_FLOAT_EQ(layer.fadeIn, 0.5f);
        EXPECT_FLOAT_EQ(layer.fadeOut, 0.5f);
    }
    project.fps = 0.0f;  // read as one frame a second
    EXPECT_FLOAT_EQ(Build(event)[0].duration, 20.0f);

    const std::vector<LayerResult> sketches = Build(MakeEvent(EventKind::Fill, 0.0f, 8.0f, 0.5f, 0.5f), true);
    ASSERT_EQ(sketches.size(), 3u);
    EXPECT_EQ(sketches[1].name, "[Sketch] Fill");
    EXPECT_TRUE(sketches[1].isSketch);
    EXPECT_FLOAT_EQ(sketches[1].sourceDuration, 8.0f);
}

TEST(BuildFillGain, NearTheCurveOneFarFromItZeroOuterTonesLifted) {
    const Event event = MakeEvent(EventKind::Fill, 0.0f, 8.0f, 0.5f, 0.1f);
    LayerResult on, off, middle;
    BuildFillGain(event, 0.1f, 0.05f, on);
    BuildFillGain(event, 0.9f, 0.05f, off);
    const Event mid = MakeEvent(EventKind::Fill, 0.0f, 8.0f, 0.5f, 0.5f);
    BuildFillGain(mid, 0.5f, 0.05f, middle);
    EXPECT_TRUE(on.hasFillGain);
    for (int h = 0; h < kFillGainPoints; ++h) {
        EXPECT_NEAR(on.fillGain[h], 1.3f, 1e-5f);
        EXPECT_NEAR(off.fillGain[h], 0.0f, 1e-6f);
        EXPECT_NEAR(middle.fillGain[h], 1.0f, 1e-5f);
    }
}

}  // namespace
}  // namespace korvel
