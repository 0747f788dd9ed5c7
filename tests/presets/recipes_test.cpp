#include "presets/recipes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "library/file_id.h"
#include "library/library.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

std::string CurveText(const char* point) {
    std::string text = "[";
    for (int i = 0; i < kCurvePoints; ++i) {
        if (i > 0) text += ',';
        text += point;
    }
    return text + "]";
}

EventPreset FlatPreset(EventKind kind) {
    EventPreset preset;
    preset.shape = KindValue(kind);
    preset.weight.fill(0.5f);
    preset.intensity.fill(0.25f);
    return preset;
}

std::string Head(const char* name, int shape) {
    return std::string("{\n  \"format\": \"KorvelRecipe\",\n  \"formatVersion\": 1,\n  \"createdBy\": \"") +
           AppVersion + "\",\n  \"name\": \"" + name + "\",\n  \"keywords\": \"\",\n  \"shape\": " +
           std::to_string(shape) + ",\n";
}

std::string Tail() {
    return ",\n  \"weight\": " + CurveText("0.5") + ",\n  \"intensity\": " + CurveText("0.25") + "\n}";
}

EventPreset ReadText(const test::TempDir& dir, const std::string& text, const char* file = "r.kvrecipe") {
    test::WriteBytes(dir.file(file), text);
    return ReadRecipeFile(dir.file(file));
}

// [SECTION] Writer layout and round trip

TEST(RecipeFile, BloomWritesEighteenMembersAndReadsBack) {
    test::TempDir dir;
    EventPreset bloom = FlatPreset(EventKind::Bloom);
    CopyText(bloom.name, "Soft \"Rise\"\t");
    bloom.duration = 4.0f;
    bloom.syncOffset = 1.25f;
    bloom.pitchVariation = 0.0005f;  // below the threshold: not written
    CopyText(bloom.pinnedFile, "/sounds/ignored.wav");  // no Clip: not written

    const std::string expected = Head("Soft \\\"Rise\\\"\\t", 1) +
                                 "  \"intensityMode\": 0,\n  \"duration\": 4,\n  \"syncOffset\": 1.25,\n"
                                 "  \"spread\": 0.3,\n  \"weightCenter\": 0.5,\n  \"intensityScale\": 1,\n"
                                 "  \"weightOffset\": 0,\n  \"alloyMorph\": 1,\n  \"reverbSend\": -1,\n"
                                 "  \"fillLayers\": 0,\n  \"groupOverride\": -1,\n  \"stereo\": false" +
                                 Tail();
    const std::string text = FormatRecipe(bloom);
    EXPECT_EQ(text, expected);

    const EventPreset back = ReadText(dir, text);
    EXPECT_EQ(back.sourcePath, dir.file("r.kvrecipe"));
    EXPECT_EQ(back.gain, 1.0f);
    EXPECT_STREQ(back.pinnedFile, "");
    EXPECT_EQ(back.pitchVariation, 0.0f);
    bloom.pinnedFile[0] = '\0';
    bloom.pitchVariation = 0.0f;
    EXPECT_EQ(FormatRecipe(back), FormatRecipe(bloom));
}

TEST(RecipeFile, ClipWritesOnlyTheClipKeysThatCarryAValue) {
    test::TempDir dir;
    EventPreset clip = FlatPreset(EventKind::Clip);
    CopyText(clip.name, "Door");
    clip.syncOffset = 1.0f;
    CopyText(clip.pinnedFile, dir.file("missing.wav").c_str());
    clip.clipPitchRate = 1.0005f;
    clip.clipSourceOffset = 0.5f;

    const std::string expected = Head("Door", 5) +
                                 "  \"intensityMode\": 0,\n  \"duration\": 2,\n  \"syncOffset\": 1,\n"
                                 "  \"spread\": 0.3,\n  \"weightCenter\": 0.5,\n  \"intensityScale\": 1,\n"
                                 "  \"weightOffset\": 0,\n  \"alloyMorph\": 1,\n  \"reverbSend\": -1,\n"
                                 "  \"fillLayers\": 0,\n  \"groupOverride\": -1,\n  \"stereo\": false,\n"
                                 "  \"pinnedFile\": \"" +
                                 dir.file("missing.wav") +
                                 "\",\n  \"clipSourceOffset\": 0.5,\n  \"clipSourceDuration\": 0,\n"
                                 "  \"clipFadeIn\": -1,\n  \"clipFadeOut\": -1" +
                                 Tail();
    const std::string text = FormatRecipe(clip);
    EXPECT_EQ(text, expected);
    const EventPreset back = ReadText(dir, text);
    EXPECT_TRUE(back.pinnedFileId.empty());  // the file cannot be read
    clip.clipPitchRate = 1.0f;
    EXPECT_EQ(FormatRecipe(back), FormatRecipe(clip));

    // Every optional clip key, and the lists with the registry's identities.
    clip.clipPitchRate = 0.5f;
    clip.clipReverse = true;
    clip.clipWeight = 0.0f;
    clip.pinnedFileId = "00000000000000c1";
    CopyText(clip.libFilter, "Doors");
    clip.pinnedFiles = {"/a.wav", "/b.wav"};
    clip.pinnedFileIds = {"00000000000000a1", ""};
    clip.bedLayerLoop = {1, 0};
    clip.bedLayerWeight = {0.25f, -1.0f};
    RegisterFileId({"00000000000000a1", "/a.wav", 0xabcdefull, 1234});
    const std::string full = FormatRecipe(clip);
    const std::size_t lists = full.find("  \"clipPitchRate\"");
    ASSERT_NE(lists, std::string::npos);
    EXPECT_EQ(full.substr(lists, full.find(",\n  \"weight\"") - lists),
              "  \"clipPitchRate\": 0.5,\n  \"clipReverse\": true,\n  \"clipWeight\": 0,\n"
              "  \"libFilter\": \"Doors\",\n"
              "  \"pinnedFiles\": \n  [\n    \"/a.wav\",\n    \"/b.wav\"\n  ],\n"
              "  \"pinnedFileIds\": \n  [\n    \"00000000000000a1\",\n    \"\"\n  ],\n"
              "  \"pinnedFileHashes\": \n  [\n    \"0000000000abcdef\",\n    \"0000000000000000\"\n  ],\n"
              "  \"pinnedFileSizes\": \n  [\n    \"1234\",\n    \"0\"\n  ],\n"
              "  \"bedLayerLoop\": \n  [\n    1,\n    0\n  ],\n"
              "  \"bedLayerWeight\": \n  [\n    0.25,\n    -1\n  ]");
    const EventPreset fullBack = ReadText(dir, full);
    EXPECT_EQ(FormatRecipe(fullBack), full);
}

// [SECTION] Reader defaults, clamps and older keys

TEST(RecipeFile, ReaderDefaultsClampsAndOlderKeys) {
    test::TempDir dir;
    struct Case {
        const char* name;
        std::string text;
        std::function<void(const EventPreset&)> check;
    };
    const Case cases[] = {
        {"only a name", R"({"name": "x"})",
         [](const EventPreset& p) {
             EXPECT_STREQ(p.name, "x");
             EXPECT_EQ(p.shape, 1);
             EXPECT_EQ(p.duration, 2.0f);
             EXPECT_EQ(p.syncOffset, 1.0f);
             EXPECT_EQ(p.alloyMorph, 0.35f);
             EXPECT_EQ(p.spread, 0.3f);
             EXPECT_EQ(p.reverbSend, -1.0f);
             EXPECT_EQ(p.groupOverride, -1);
             EXPECT_EQ(p.weight[0], 0.5f);
             EXPECT_EQ(p.intensity[255], 0.5f);
         }},
        {"empty file", "", [](const EventPreset& p) { EXPECT_STREQ(p.name, ""); EXPECT_EQ(p.alloyMorph, 0.35f); }},
        {"not json", "garbage{", [](const EventPreset& p) { EXPECT_EQ(p.shape, 1); }},
        {"sync offset follows the duration read", R"({"duration": 6})",
         [](const EventPreset& p) { EXPECT_EQ(p.syncOffset, 3.0f); }},
        {"clamps", R"({"shape": 9, "fillLayers": 30, "pitchVariation": 1.5, "intensityMode": -4})",
         [](const EventPreset& p) {
             EXPECT_EQ(p.shape, 6);
             EXPECT_EQ(p.fillLayers, 24);
             EXPECT_EQ(p.pitchVariation, 1.0f);
             EXPECT_EQ(p.intensityMode, 0);
         }},
        {"huge integers land on the bound", R"({"shape": 1e300, "fillLayers": -1e300})",
         [](const EventPreset& p) { EXPECT_EQ(p.shape, 6); EXPECT_EQ(p.fillLayers, 0); }},
        {"truncation", R"({"shape": 2.9})", [](const EventPreset& p) { EXPECT_EQ(p.shape, 2); }},
        {"wrong types", R"({"stereo": 1, "name": 5, "duration": "3", "spread": null})",
         [](const EventPreset& p) {
             EXPECT_FALSE(p.stereo);
             EXPECT_STREQ(p.name, "");
             EXPECT_EQ(p.duration, 2.0f);
             EXPECT_EQ(p.spread, 0.3f);
         }},
        {"gain is read though never written", R"({"gain": 0.5})",
         [](const EventPreset& p) { EXPECT_EQ(p.gain, 0.5f); }},
        {"long name cut to 63 bytes", R"({"name": ")" + std::string(100, 'n') + "\"}",
         [](const EventPreset& p) { EXPECT_EQ(TextOf(p.name).size(), 63u); }},
        {"clip keys of another kind are ignored", R"({"shape": 1, "pinnedFile": "/x.wav", "clipFadeIn": 2})",
         [](const EventPreset& p) { EXPECT_STREQ(p.pinnedFile, ""); EXPECT_EQ(p.clipFadeIn, -1.0f); }},
        {"older clip keys", R"({"shape": 5, "placeSourceOffset": 1.5, "placeFadeOut": 0.2,
                               "clipFadeOut": "x", "clipSourceDuration": 3, "placeSourceDuration": 9})",
         [](const EventPreset& p) {
             EXPECT_EQ(p.clipSourceOffset, 1.5f);
             EXPECT_EQ(p.clipFadeOut, 0.2f);
             EXPECT_EQ(p.clipSourceDuration, 3.0f);
             EXPECT_EQ(p.clipFadeIn, -1.0f);
         }},
        {"bed weights", R"({"pinnedFiles": ["/1", "/2", "/3", "/4"], "bedLayerWeight": [0.5, 0.7, 2, -3, 0.9],
                           "bedLayerLoop": [1, 0.5, 2.7]})",
         [](const EventPreset& p) {
             EXPECT_EQ(p.bedLayerWeight, (std::vector<float>{-1.0f, 0.7f, 1.0f, -1.0f}));
             EXPECT_EQ(p.bedLayerLoop, (std::vector<std::uint8_t>{1, 0, 1}));
         }},
        {"short curve", R"({"weight": [0.1, "x"], "intensity": 3})",
         [](const EventPreset& p) {
             EXPECT_FLOAT_EQ(p.weight[0], 0.1f);
             EXPECT_EQ(p.weight[1], 0.5f);
             EXPECT_EQ(p.weight[2], 0.5f);
             EXPECT_EQ(p.intensity[0], 0.5f);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.check(ReadText(dir, c.text));
    }
    // No file at all still gives a recipe that names its path.
    const EventPreset missing = ReadRecipeFile(dir.file("none.kvrecipe"));
    EXPECT_EQ(missing.sourcePath, dir.file("none.kvrecipe"));
    EXPECT_EQ(missing.alloyMorph, 1.0f);
}

TEST(RecipeFile, NewerFormatWarnsAndReadsOn) {
    test::TempDir dir;
    testing::internal::CaptureStderr();
    const EventPreset newer = ReadText(dir, R"({"formatVersion": 3, "name": "n"})");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Recipe '" + dir.file("r.kvrecipe") +
                  "' was saved by a newer version (format 3, this build supports 1). Loading what we can.\n");
    EXPECT_STREQ(newer.name, "n");

    testing::internal::CaptureStderr();
    ReadText(dir, R"({"version": 2, "formatVersion": 1})");
    ReadText(dir, R"({"version": 1})");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    testing::internal::CaptureStderr();
    ReadText(dir, R"({"version": 2, "formatVersion": "1"})");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("format 2,"), std::string::npos);
}

TEST(RecipeFile, PinnedFilesTakeAndRegisterIdentities) {
    test::TempDir dir;
    const std::string readable = dir.file("b.wav");
    test::WriteBytes(readable, "some bytes of a sound");
    const std::string text = R"({"pinnedFiles": ["/recipes-test/a.wav", "", ")" + readable +
                             R"(", "/recipes-test/none.wav"],
        "pinnedFileIds": ["0000000000000a01"],
        "pinnedFileHashes": ["00000000000000ff"], "pinnedFileSizes": ["77"]})";
    const EventPreset preset = ReadText(dir, text);
    ASSERT_EQ(preset.pinnedFiles.size(), 3u);
    ASSERT_EQ(preset.pinnedFileIds.size(), 3u);
    EXPECT_EQ(preset.pinnedFileIds[0], "0000000000000a01");
    EXPECT_EQ(preset.pinnedFileIds[1].size(), 16u);  // computed from the readable file
    EXPECT_TRUE(preset.pinnedFileIds[2].empty());    // unreadable: stays empty

    FileIdResult registered;
    ASSERT_TRUE(LookupFileId("0000000000000a01", registered));
    EXPECT_EQ(registered.path, "/recipes-test/a.wav");
    EXPECT_EQ(registered.fingerprint, 0xffu);
    EXPECT_EQ(registered.size, 77u);
    ASSERT_TRUE(LookupFileId(preset.pinnedFileIds[1], registered));
    EXPECT_EQ(registered.path, readable);

    // A Clip file without an id gets one when it can be read.
    const EventPreset clip = ReadText(dir, R"({"shape": 5, "pinnedFile": ")" + readable + "\"}");
    EXPECT_EQ(clip.pinnedFileId, preset.pinnedFileIds[1]);
}

// [SECTION] Stems, saving and the list

TEST(RecipeFiles, StemsAndSavePaths) {
    const std::pair<const char*, const char*> stems[] = {
        {"Door Slam #2", "Door Slam 2"}, {"a/b\\c:d", "abcd"},          {"???", "recipe"},
        {"", "recipe"},                  {"Low_Hum-3", "Low_Hum-3"},     {"Gewitter Über", "Gewitter Über"},
        {"雷鳴", "雷鳴"},                {"bad\xff\xc3 tail", "bad tail"},
    };
    for (const auto& [name, stem] : stems) EXPECT_EQ(RecipeFileStem(name), stem) << name;

    test::TempDir dir;
    const std::string folder = dir.path().string();
    auto save = [&](const char* name, float duration) {
        EventPreset preset = FlatPreset(EventKind::Spot);
        CopyText(preset.name, name);
        preset.duration = duration;
        std::error_code error;
        EXPECT_TRUE(SaveRecipeTo(folder, preset, error)) << name;
        EXPECT_FALSE(error);
    };
    save("Door Slam #2", 1.0f);
    save("Door Slam 2", 2.0f);       // same stem, other name: its own file
    save("Door Slam #2", 3.0f);      // same name: replaces the first file
    // A file under an older stem keeps holding its recipe.
    test::WriteBytes(dir.file("old stem.kvrecipe"), R"({"name": "Rain"})");
    save("Rain", 4.0f);

    const std::vector<EventPreset> list = LoadRecipesFrom(folder);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_STREQ(list[0].name, "Door Slam #2");
    EXPECT_EQ(list[0].duration, 3.0f);
    EXPECT_EQ(list[0].sourcePath, folder + "/Door Slam 2.kvrecipe");
    EXPECT_STREQ(list[1].name, "Door Slam 2");
    EXPECT_EQ(list[1].sourcePath, folder + "/Door Slam 2 2.kvrecipe");
    EXPECT_EQ(list[2].duration, 4.0f);
    EXPECT_EQ(list[2].sourcePath, folder + "/old stem.kvrecipe");
}

TEST(RecipeFiles, SaveFailsWhenTheFolderCannotBeMade) {
    test::TempDir dir;
    test::WriteBytes(dir.file("plain"), "x");
    std::error_code error;
    EXPECT_FALSE(SaveRecipeTo(dir.file("plain") + "/Recipes", FlatPreset(EventKind::Spot), error));
    EXPECT_TRUE(error);
    EXPECT_FALSE(std::filesystem::exists(dir.file("plain") + "/Recipes"));
}

TEST(RecipeFiles, ListOrderExtensionsAndReload) {
    test::TempDir dir;
    const std::string folder = dir.path().string() + "/Korvel/Recipes";
    for (const char* name : {"beta", "Alpha", "alpha2"})
        test::WriteBytes(folder + "/" + name + ".kvrecipe", std::string(R"({"name": ")") + name + "\"}");
    test::WriteBytes(folder + "/broken.json", "{");
    test::WriteBytes(folder + "/upper.KVRECIPE", R"({"name": "upper"})");
    test::WriteBytes(folder + "/upper.JSON", R"({"name": "upper"})");
    test::WriteBytes(folder + "/sub/deep.kvrecipe", R"({"name": "deep"})");
    test::WriteBytes(folder + "/x_preview.wav", "RIFF");

    const char* saved = std::getenv("XDG_DOCUMENTS_DIR");
    const std::string savedValue = saved ? saved : "";
    setenv("XDG_DOCUMENTS_DIR", dir.path().c_str(), 1);
    AppState app;
    app.PresetMenusDirty = false;
    ReloadRecipes(app);
    if (saved) setenv("XDG_DOCUMENTS_DIR", savedValue.c_str(), 1); else unsetenv("XDG_DOCUMENTS_DIR");

    EXPECT_TRUE(app.PresetMenusDirty);
    std::vector<std::string> names;
    for (const EventPreset& recipe : RecipeList) names.emplace_back(TextOf(recipe.name));
    EXPECT_EQ(names, (std::vector<std::string>{"", "Alpha", "alpha2", "beta"}));  // the broken file too

    // The list is the default name check of automatic names.
    Event spot;
    spot.shape = KindValue(EventKind::Spot);
    CopyText(spot.presetName, "Alpha");
    char proposed[64];
    spot.AutoName(proposed, sizeof proposed, [](std::string_view) { return false; });
    const std::string free = proposed;
    RecipeList.back().name[0] = '\0';
    CopyText(RecipeList.back().name, free);
    spot.AutoName(proposed, sizeof proposed);
    EXPECT_EQ(std::string(proposed), free + " 2");
    RecipeList.clear();
    EXPECT_TRUE(LoadRecipesFrom(dir.file("absent")).empty());
}

// [SECTION] Capture and apply

TEST(RecipeEvents, CaptureAndApply) {
    Event clip;
    clip.shape = KindValue(EventKind::Clip);
    clip.time = 12.0f;
    clip.gain = 0.4f;
    clip.hero = true;
    clip.alloy = true;
    clip.sceneLink = 2;
    CopyText(clip.folder, "Doors");
    CopyText(clip.pinnedFile, "/recipes-test/door.wav");
    clip.pinnedFileId = "0000000000000d01";
    clip.clipFadeIn = 0.1f;
    clip.clipReverse = true;
    clip.duration = 3.0f;
    CopyText(clip.keywords, "wood");
    clip.weight.fill(0.2f);

    const EventPreset captured = CapturePresetFromEvent(clip);
    EXPECT_STREQ(captured.name, "");
    EXPECT_EQ(captured.gain, 1.0f);
    EXPECT_STREQ(captured.pinnedFile, "/recipes-test/door.wav");
    EXPECT_EQ(captured.clipFadeIn, 0.1f);
    EXPECT_TRUE(captured.clipReverse);

    Event noFile = clip;
    noFile.pinnedFile[0] = '\0';
    const EventPreset bare = CapturePresetFromEvent(noFile);
    EXPECT_EQ(bare.clipFadeIn, -1.0f);
    EXPECT_FALSE(bare.clipReverse);
    EXPECT_TRUE(bare.pinnedFileId.empty());

    struct Case {
        const char* name;
        EventPreset recipe;
        std::function<void(const Event&)> check;
    };
    EventPreset spot = FlatPreset(EventKind::Spot);
    CopyText(spot.name, "Hit");
    spot.pinnedFiles = {"/recipes-test/hit.wav"};
    spot.pinnedFileIds = {"0000000000000e01"};
    EventPreset emptyClip = FlatPreset(EventKind::Clip);
    emptyClip.clipFadeOut = 0.7f;
    EventPreset named = captured;
    CopyText(named.name, "Door");
    const Case cases[] = {
        {"spot onto a locked clip", spot,
         [](const Event& e) {
             EXPECT_EQ(e.shape, 0);
             EXPECT_FALSE(e.locked);
             EXPECT_TRUE(e.usePinnedFile);
             EXPECT_STREQ(e.presetName, "Hit");
             EXPECT_STREQ(e.pinnedFile, "/recipes-test/door.wav");  // clip settings stay
             EXPECT_TRUE(e.clipReverse);
             EXPECT_EQ(e.pinnedFileIds, (std::vector<std::string>{"0000000000000e01"}));
         }},
        {"clip without a file", emptyClip,
         [](const Event& e) {
             EXPECT_STREQ(e.pinnedFile, "/recipes-test/door.wav");
             EXPECT_TRUE(e.locked);
             EXPECT_TRUE(e.usePinnedFile);
             EXPECT_EQ(e.clipFadeOut, 0.7f);
             EXPECT_FALSE(e.clipReverse);
         }},
        {"capture then apply", named,
         [&](const Event& e) {
             EXPECT_STREQ(e.presetName, "Door");
             EXPECT_EQ(e.duration, 3.0f);
             EXPECT_STREQ(e.keywords, "wood");
             EXPECT_EQ(e.weight[100], 0.2f);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Event event = clip;
        event.locked = true;
        event.ApplyPreset(c.recipe);
        c.check(event);
        // Fields applying never touches.
        EXPECT_EQ(event.time, 12.0f);
        EXPECT_EQ(event.gain, 0.4f);
        EXPECT_TRUE(event.hero);
        EXPECT_TRUE(event.alloy);
        EXPECT_EQ(event.sceneLink, 2);
        EXPECT_STREQ(event.folder, "Doors");
    }
}

// [SECTION] Placing

class PlaceRecipe : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(test::WriteSoundFile(door_, test::MakeSine(440.0, 0.5, 48000), 1, 48000));
        double hz = 220.0;
        for (const std::string& bed : beds_) {
            // Different sounds: identical files would share one identity.
            ASSERT_TRUE(test::WriteSoundFile(bed, test::MakeSine(hz, 1.0, 48000), 1, 48000));
            hz += 110.0;
        }
        CurrentProject = Project{};
        ClearUndoHistory();
        PrepareVoices(LivePlaybackEngine, 48000, 0);
        AppState& state = GlobalAppState;
        state.selectedEvents.clear();
        state.selectedEvent = -1;
        state.activeTab = 3;
        state.playhead = 4.0f;
        state.pendingBedLayout = -1;
        state.statusMessage.clear();
        state.backgroundJob.active.store(false);
        state.exportRunning.store(false);
        Palette palette;
        palette.name = "Beds";
        LibraryFile known;
        known.path = beds_[0];
        known.brightness = 0.8f;
        palette.files = {known};
        SoundLibrary.palettes = {palette};
    }
    void TearDown() override {
        RecipeList.clear();
        SoundLibrary.palettes.clear();
        GlobalAppState.backgroundJob.active.store(false);
        GlobalAppState.exportRunning.store(false);
        GlobalAppState.pendingBedLayout = -1;
        CurrentProject = Project{};
        ClearUndoHistory();
        PrepareVoices(LivePlaybackEngine, 48000, 0);
    }

    std::size_t LayersOf(std::int32_t event) const {
        std::size_t count = 0;
        for (const LayerResult& layer : CurrentProject.results) count += layer.eventIdx == event ? 1 : 0;
        return count;
    }
    std::size_t VoicesOf(std::int32_t event) const {
        std::size_t count = 0;
        for (const Voice& voice : LivePlaybackEngine.voices) count += voice.eventIndex == event ? 1 : 0;
        return count;
    }

    test::TempDir dir_;
    std::string door_ = dir_.file("door.wav");
    std::vector<std::string> beds_ = {dir_.file("rain.wav"), dir_.file("wind.wav"), dir_.file("hum.wav")};
};

TEST_F(PlaceRecipe, EachKindAtThePlayhead) {
    struct Case {
        const char* name;
        EventPreset recipe;
        std::function<void(const Event&, std::int32_t index)> check;
    };
    EventPreset spot = FlatPreset(EventKind::Spot);
    CopyText(spot.name, "Hit");
    spot.duration = 3.0f;
    spot.gain = 0.2f;
    EventPreset clip = FlatPreset(EventKind::Clip);
    CopyText(clip.pinnedFile, door_);
    clip.duration = 3.0f;
    EventPreset emptyClip = FlatPreset(EventKind::Clip);
    EventPreset bed = FlatPreset(EventKind::Bed);
    bed.pinnedFiles = beds_;
    EventPreset weighedBed = bed;
    weighedBed.bedLayerWeight = {0.1f, 0.2f, 0.3f};
    EventPreset emptyBed = FlatPreset(EventKind::Bed);
    const Case cases[] = {
        {"a spot waits for the next build", spot,
         [&](const Event& e, std::int32_t i) {
             EXPECT_STREQ(e.presetName, "Hit");
             EXPECT_EQ(e.duration, 3.0f);
             EXPECT_EQ(e.gain, 1.0f) << "applying keeps the event's gain";
             EXPECT_FALSE(e.locked);
             EXPECT_EQ(LayersOf(i), 0u);
             EXPECT_EQ(GlobalAppState.pendingBedLayout, -1);
         }},
        {"a clip is built and heard at once", clip,
         [&](const Event& e, std::int32_t i) {
             EXPECT_TRUE(e.locked);
             EXPECT_NEAR(e.duration, 0.5f, 0.01f) << "the layer's length, not the recipe's";
             EXPECT_EQ(LayersOf(i), 1u);
             EXPECT_EQ(VoicesOf(i), 1u);
         }},
        {"a clip without a file stops after selecting", emptyClip,
         [&](const Event& e, std::int32_t i) {
             EXPECT_TRUE(e.locked);
             EXPECT_EQ(LayersOf(i), 0u);
         }},
        {"a bed is weighed from the library and handed to the loading job", bed,
         [&](const Event& e, std::int32_t i) {
             EXPECT_EQ(e.bedLayerWeight, (std::vector<float>{0.8f, -1.0f, -1.0f}));
             EXPECT_TRUE(e.locked);
             EXPECT_EQ(LayersOf(i), 3u);
             EXPECT_EQ(VoicesOf(i), 0u) << "the job renders it";
             EXPECT_EQ(GlobalAppState.pendingBedLayout, i);
         }},
        {"a bed's own weights stay", weighedBed,
         [&](const Event& e, std::int32_t) { EXPECT_EQ(e.bedLayerWeight, (std::vector<float>{0.1f, 0.2f, 0.3f})); }},
        {"a bed without files only selects", emptyBed,
         [&](const Event&, std::int32_t i) {
             EXPECT_EQ(LayersOf(i), 0u);
             EXPECT_EQ(GlobalAppState.pendingBedLayout, -1);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        CurrentProject.AddEvent(0.0f, KindValue(EventKind::Spot), 0.5f);
        RecipeList = {FlatPreset(EventKind::Fill), c.recipe};
        ASSERT_TRUE(PlaceRecipeAtPlayhead(1));
        ASSERT_EQ(CurrentProject.events.size(), 2u);
        const Event& placed = CurrentProject.events[1];
        EXPECT_EQ(placed.shape, c.recipe.shape);
        EXPECT_EQ(placed.time, 4.0f);
        EXPECT_EQ(UndoStack.size(), 1u);
        EXPECT_EQ(UndoStack.back().events.size(), 1u) << "the undo step comes before the event";
        EXPECT_EQ(GlobalAppState.selectedEvents, (std::set<std::int32_t>{1}));
        EXPECT_EQ(GlobalAppState.selectedEvent, 1);
        EXPECT_EQ(GlobalAppState.activeTab, 0);
        c.check(placed, 1);
    }
}

TEST_F(PlaceRecipe, NothingOutOfRangeOrWhileTheProjectIsBusy) {
    RecipeList = {FlatPreset(EventKind::Spot)};
    for (std::int32_t index : {-1, 1}) {
        EXPECT_FALSE(PlaceRecipeAtPlayhead(index)) << index;
        EXPECT_TRUE(GlobalAppState.statusMessage.empty()) << "ignored without a message";
    }
    struct Case {
        const char* name;
        std::atomic<bool>& flag;
    };
    const Case busy[] = {{"a background job", GlobalAppState.backgroundJob.active},
                         {"an export", GlobalAppState.exportRunning}};
    for (const Case& c : busy) {
        SCOPED_TRACE(c.name);
        c.flag.store(true);
        EXPECT_FALSE(PlaceRecipeAtPlayhead(0));
        c.flag.store(false);
        EXPECT_EQ(GlobalAppState.statusMessage, kBusyEditStatus);
        GlobalAppState.statusMessage.clear();
    }
    EXPECT_TRUE(CurrentProject.events.empty());
    EXPECT_TRUE(UndoStack.empty());
    EXPECT_TRUE(PlaceRecipeAtPlayhead(0));
    EXPECT_EQ(CurrentProject.events.size(), 1u);
}

}  // namespace
}  // namespace korvel
