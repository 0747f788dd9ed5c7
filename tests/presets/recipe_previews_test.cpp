#include "presets/recipe_previews.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/background_job.h"
#include "library/audio_file.h"
#include "library/library.h"
#include "playback/playback_engine.h"
#include "presets_fixture.h"
#include "project/fixed_text.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

EventPreset ClipRecipe(const std::string& file) {
    EventPreset recipe;
    recipe.shape = KindValue(EventKind::Clip);
    CopyText(recipe.pinnedFile, file);
    recipe.weight.fill(0.5f);
    recipe.intensity.fill(0.5f);
    return recipe;
}

std::set<std::string> FilesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// [SECTION] Paths and pruning

TEST(RecipePreviewPaths, FollowTheRecipesOwnFile) {
    test::TempDir dir;
    test::ScopedDocuments documents(dir.path().string());
    const std::string recipes = dir.path().string() + "/Korvel/Recipes";
    struct Case {
        const char* name;
        const char* recipeName;
        std::string sourcePath;
        std::string preview;
    };
    const Case cases[] = {
        {"read from an older stem", "Rain", recipes + "/old stem.kvrecipe", recipes + "/old stem_preview.wav"},
        {"a suffixed stem", "Door Slam 2", recipes + "/Door Slam 2 2.kvrecipe",
         recipes + "/Door Slam 2 2_preview.wav"},
        {"a json recipe", "x", "/elsewhere/x.json", "/elsewhere/x_preview.wav"},
        {"not yet saved: the name's stem", "Rain & Thunder", "", recipes + "/Rain  Thunder_preview.wav"},
        {"only punctuation", "???", "", recipes + "/recipe_preview.wav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EventPreset recipe;
        CopyText(recipe.name, c.recipeName);
        recipe.sourcePath = c.sourcePath;
        EXPECT_EQ(RecipePreviewPath(recipe), c.preview);
    }

    EventPreset rain;
    rain.sourcePath = recipes + "/Rain.kvrecipe";
    EXPECT_FALSE(RecipePreviewExists(rain));
    test::WriteBytes(recipes + "/Rain_preview.wav", "RIFF");
    EXPECT_TRUE(RecipePreviewExists(rain));
    DeleteRecipePreview(rain);
    EXPECT_FALSE(RecipePreviewExists(rain));
    DeleteRecipePreview(rain);  // nothing there: ignored
}

TEST(RecipePreviewPruning, TouchesOnlyPreviewsAndTheirTemporaries) {
    test::TempDir dir;
    const std::string folder = dir.path().string();
    const char* files[] = {"kept_preview.wav", "stale_preview.wav", "old_preview.wav.tmp", "Ambience.wav",
                           "take.tmp",         "notes.txt",         "LOUD_PREVIEW.WAV",    "kept.kvrecipe"};
    for (const char* name : files) test::WriteBytes(dir.file(name), "x");

    RecipePreviewBusy.store(true);
    DeleteStalePreviews({"kept_preview"}, folder);
    EXPECT_EQ(FilesIn(dir.path()), (std::set<std::string>{"kept_preview.wav", "old_preview.wav.tmp", "Ambience.wav",
                                                          "take.tmp", "notes.txt", "LOUD_PREVIEW.WAV",
                                                          "kept.kvrecipe"}))
        << "a running bake's temporary stays";
    RecipePreviewBusy.store(false);
    DeleteStalePreviews({"kept_preview"}, folder);
    EXPECT_EQ(FilesIn(dir.path()), (std::set<std::string>{"kept_preview.wav", "Ambience.wav", "take.tmp",
                                                          "notes.txt", "LOUD_PREVIEW.WAV", "kept.kvrecipe"}))
        << "the designer's own sounds and temporaries stay";
    DeleteStalePreviews({}, dir.file("absent"));
    DeleteStalePreviews({}, "");
}

TEST(RecipePreviewPruning, ReloadKeepsThePreviewOfEachRecipesFile) {
    test::TempDir dir;
    test::ScopedDocuments documents(dir.path().string());
    const std::string recipes = dir.path().string() + "/Korvel/Recipes";
    test::WriteBytes(recipes + "/old stem.kvrecipe", R"({"name": "Rain"})");
    test::WriteBytes(recipes + "/old stem_preview.wav", "RIFF");
    test::WriteBytes(recipes + "/Rain_preview.wav", "RIFF");  // the name's stem, no file of it
    test::WriteBytes(recipes + "/Ambience.wav", "RIFF");

    ReloadRecipes();
    EXPECT_EQ(FilesIn(recipes), (std::set<std::string>{"old stem.kvrecipe", "old stem_preview.wav", "Ambience.wav"}));

    // While a bake runs nothing is pruned.
    test::WriteBytes(recipes + "/gone_preview.wav", "RIFF");
    RecipePreviewBusy.store(true);
    ReloadRecipes();
    RecipePreviewBusy.store(false);
    EXPECT_TRUE(fs::exists(recipes + "/gone_preview.wav"));
    RecipeList.clear();
}

// [SECTION] The preview event

TEST(RecipePreviewBake, EventTakesTheRecipeWithinLimits) {
    struct Case {
        const char* name;
        std::function<void(EventPreset&)> edit;
        std::function<void(const Event&)> check;
    };
    const Case cases[] = {
        {"a long recipe bakes 30 s", [](EventPreset& r) { r.duration = 60.0f; },
         [](const Event& e) { EXPECT_EQ(e.duration, 30.0f); }},
        {"a short recipe bakes 0.3 s", [](EventPreset& r) { r.duration = 0.1f; },
         [](const Event& e) { EXPECT_EQ(e.duration, 0.3f); }},
        {"starts at the sync offset", [](EventPreset& r) { r.syncOffset = 1.5f; },
         [](const Event& e) {
             EXPECT_EQ(e.time, 1.5f);
             EXPECT_EQ(e.syncOffset, 0.0f);
         }},
        {"gain and settings", [](EventPreset& r) { r.gain = 0.25f; r.fillLayers = 3; CopyText(r.name, "Hum"); },
         [](const Event& e) {
             EXPECT_EQ(e.gain, 0.25f);
             EXPECT_EQ(e.fillLayers, 3);
             EXPECT_STREQ(e.presetName, "Hum");
             EXPECT_EQ(e.weight[7], 0.5f);
         }},
        {"a clip with its settings but not its id or weight",
         [](EventPreset& r) {
             r.clipSourceOffset = 0.2f;
             r.clipReverse = true;
             r.clipPitchRate = 0.5f;
             r.pinnedFileId = "00000000000000c1";
             r.clipWeight = 0.9f;
         },
         [](const Event& e) {
             EXPECT_STREQ(e.pinnedFile, "/s/door.wav");
             EXPECT_TRUE(e.usePinnedFile);
             EXPECT_EQ(e.clipSourceOffset, 0.2f);
             EXPECT_TRUE(e.clipReverse);
             EXPECT_EQ(e.clipPitchRate, 0.5f);
             EXPECT_TRUE(e.pinnedFileId.empty());
             EXPECT_EQ(e.clipWeight, -1.0f);
         }},
        {"another kind carries no clip file",
         [](EventPreset& r) { r.shape = KindValue(EventKind::Spot); r.clipReverse = true; },
         [](const Event& e) {
             EXPECT_STREQ(e.pinnedFile, "");
             EXPECT_FALSE(e.clipReverse);
         }},
        {"a bed's lists stay behind",
         [](EventPreset& r) {
             r.shape = KindValue(EventKind::Bed);
             r.pinnedFiles = {"/s/rain.wav"};
             r.bedLayerWeight = {0.3f};
         },
         [](const Event& e) {
             EXPECT_TRUE(e.pinnedFiles.empty());
             EXPECT_TRUE(e.bedLayerWeight.empty());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EventPreset recipe = ClipRecipe("/s/door.wav");
        c.edit(recipe);
        c.check(MakePreviewEvent(recipe));
    }
}

// [SECTION] Mixing and finishing

TEST(RecipePreviewBake, MixPlacesEachUnmutedVoiceWithItsLevel) {
    auto engine = std::make_unique<PlaybackEngine>();
    Voice voice;
    voice.samplesL.assign(48000, 1.0f);
    voice.frameCount = 48000;
    voice.startTime = 0.5f;
    voice.duration = 1.0f;
    voice.gain = 0.5f;
    voice.normGain = 0.5f;
    Voice muted = voice;
    muted.muted = true;
    muted.startTime = 0.0f;
    engine->voices = {voice, muted};
    engine->voiceFadeIns = {0.1f};  // the second voice takes the default fades

    // The mix ends at the last voice end, and at the event's length + 1 s.
    EXPECT_EQ(MixPreviewVoices(*engine, 5.0f).size(), 72000u);
    EXPECT_EQ(MixPreviewVoices(*engine, 0.2f).size(), 57600u);
    const std::vector<float> mix = MixPreviewVoices(*engine, 5.0f);
    EXPECT_EQ(mix[23999], 0.0f) << "the muted voice adds nothing";
    EXPECT_EQ(mix[24000], 0.0f) << "fade-in starts from silence";
    EXPECT_FLOAT_EQ(mix[48000], 0.25f) << "gain x norm gain, between the fades";
    // Halfway through the 0.1 s fade-in: u = 0.5, w = 0.25.
    const float g = 0.5f + 0.25f + 1.4196f * 0.0625f;
    EXPECT_NEAR(mix[24000 + 2400], 0.25f * g * g, 1e-4f);
    // Halfway through the default 0.05 s fade-out: (0.025 / 0.05)^4.
    EXPECT_NEAR(mix[24000 + 48000 - 1200], 0.25f * 0.0625f, 1e-4f);

    engine->voices.clear();
    EXPECT_TRUE(MixPreviewVoices(*engine, 5.0f).empty());
}

TEST(RecipePreviewBake, NormalisingAndTheTrimsFadeOut) {
    struct Case {
        const char* name;
        std::vector<float> samples;
        std::size_t length;
        float peak;
    };
    std::vector<float> tail(2000, 0.0f);
    for (std::size_t i = 0; i < 1000; ++i) tail[i] = i == 100 ? -2.0f : 0.5f;
    std::vector<float> full(600, 0.25f);
    std::vector<float> quiet(700, 0.0f);
    std::fill(quiet.begin(), quiet.begin() + 500, 0.001f);
    const Case cases[] = {
        {"loud with a silent tail", tail, 1000, 0.708f},
        {"no silence: no fade", full, 600, 0.708f},
        {"peak at 0.001 stays unscaled", quiet, 500, 0.001f},
        {"all silent trims to nothing", std::vector<float>(300, 0.0f), 0, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> samples = c.samples;
        FinishPreviewSamples(samples);
        ASSERT_EQ(samples.size(), c.length);
        float peak = 0.0f;
        for (float s : samples) peak = std::max(peak, std::fabs(s));
        EXPECT_FLOAT_EQ(peak, c.peak);
    }
    std::vector<float> samples = tail;
    FinishPreviewSamples(samples);
    const float level = 0.5f * 0.708f / 2.0f;
    EXPECT_FLOAT_EQ(samples[999], level / 480.0f) << "the last sample keeps 1/480";
    EXPECT_FLOAT_EQ(samples[1000 - 240], level * 240.0f / 480.0f);
    EXPECT_FLOAT_EQ(samples[1000 - 480], level);
    EXPECT_FLOAT_EQ(samples[1000 - 481], level);
    samples = full;
    FinishPreviewSamples(samples);
    EXPECT_FLOAT_EQ(samples.back(), 0.708f);
}

// [SECTION] Writing and baking

class PreviewBakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(test::WriteSoundFile(door_, test::MakeSine(440.0, 0.5, 48000, 1, 0.3), 1, 48000));
        recipe_ = ClipRecipe(door_);
        recipe_.sourcePath = dir_.file("Recipes/Door.kvrecipe");
        preview_ = dir_.file("Recipes/Door_preview.wav");
    }
    void TearDown() override { SoundLibrary.scanning.store(false); }

    test::TempDir dir_;
    std::string door_ = dir_.file("door.wav");
    EventPreset recipe_;
    std::string preview_;
};

TEST_F(PreviewBakeTest, AClipRecipeBakesFromItsFile) {
    test::WriteBytes(preview_, "an earlier preview");
    ASSERT_TRUE(BakeRecipePreview(recipe_, {}));
    EXPECT_FALSE(fs::exists(preview_ + ".tmp")) << "the temporary became the preview";

    SF_INFO info{};
    ASSERT_TRUE(OpenSoundFile(preview_, info));
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
    const std::vector<float> samples = test::ReadSoundFile(preview_);
    ASSERT_FALSE(samples.empty());
    EXPECT_LE(samples.size(), 48000u * 6 / 10) << "about the file's 0.5 s";
    float peak = 0.0f;
    for (float s : samples) peak = std::max(peak, std::fabs(s));
    EXPECT_NEAR(peak, 0.708f, 0.002f);

    auto engine = std::make_unique<PlaybackEngine>();
    ASSERT_TRUE(PlayRecipePreview(recipe_, *engine));
    EXPECT_TRUE(IsPreviewRunning(*engine));
    EXPECT_EQ(engine->preview.load()->samples.size(), samples.size());
}

TEST_F(PreviewBakeTest, NothingIsWrittenWhenTheBakeCannotRun) {
    test::WriteBytes(preview_, "an earlier preview");
    SoundLibrary.scanning.store(true);
    EXPECT_FALSE(BakeRecipePreview(recipe_, {})) << "a scan is running";
    SoundLibrary.scanning.store(false);

    EventPreset bed = recipe_;
    bed.shape = KindValue(EventKind::Bed);
    bed.pinnedFiles = {door_};
    EXPECT_FALSE(BakeRecipePreview(bed, {})) << "a bed's files are not baked";
    EventPreset nowhere = recipe_;
    nowhere.sourcePath.clear();
    {
        test::ScopedDocuments none("");
        const char* home = std::getenv("HOME");
        const std::string savedHome = home ? home : "";
        unsetenv("HOME");
        EXPECT_FALSE(BakeRecipePreview(nowhere, {})) << "no recipes folder";
        if (home) setenv("HOME", savedHome.c_str(), 1);
    }
    EXPECT_EQ(test::ReadBytes(preview_), "an earlier preview");
    EXPECT_FALSE(fs::exists(preview_ + ".tmp"));

    EXPECT_FALSE(WritePreviewWav(dir_.file("missing/folder/x_preview.wav"), {0.5f}));
    EXPECT_FALSE(fs::exists(dir_.file("missing/folder")));
}

TEST_F(PreviewBakeTest, SavingBakesOnAThreadThatStopWorkersJoins) {
    test::ScopedDocuments documents(dir_.path().string());
    CopyText(recipe_.name, "Door?");
    recipe_.sourcePath.clear();
    std::error_code error;
    ASSERT_TRUE(SaveRecipe(recipe_, error));
    EXPECT_TRUE(RecipePreviewWorker.joinable());
    StopWorkers();
    EXPECT_FALSE(RecipePreviewWorker.joinable());
    EXPECT_FALSE(RecipePreviewBusy.load());
    const std::string recipes = dir_.path().string() + "/Korvel/Recipes";
    EXPECT_TRUE(fs::exists(recipes + "/Door.kvrecipe"));
    EXPECT_TRUE(fs::exists(recipes + "/Door_preview.wav"));

    // A failed save starts no bake.
    test::TempDir other;
    test::WriteBytes(other.file("Korvel"), "a file where the folder should be");
    test::ScopedDocuments blocked(other.path().string());
    EXPECT_FALSE(SaveRecipe(recipe_, error));
    EXPECT_TRUE(error);
    EXPECT_FALSE(RecipePreviewWorker.joinable());
}

}  // namespace
}  // namespace korvel
