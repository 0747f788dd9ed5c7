#include "presets/chains.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "library/file_id.h"
#include "playback/playback_engine.h"
#include "presets_fixture.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

std::string CurveText(const char* point) {
    std::string text = "[";
    for (int i = 0; i < kCurvePoints; ++i) {
        if (i > 0) text += ',';
        text += point;
    }
    return text + "]";
}

Event FlatEvent(EventKind kind, float time) {
    Event event;
    event.shape = KindValue(kind);
    event.time = time;
    event.duration = 2.0f;
    event.spread = 0.3f;
    event.weightCenter = 0.5f;
    event.weight.fill(0.5f);
    event.intensity.fill(0.25f);
    return event;
}

Chain ReadText(const test::TempDir& dir, const std::string& text) {
    test::WriteBytes(dir.file("c.kvchain"), text);
    return ReadChainFile(dir.file("c.kvchain"));
}

// The members every event writes, from "shape" to "alloy".
std::string Common(int shape, const char* duration, const char* gain, bool hero) {
    return std::string("      \"shape\": ") + std::to_string(shape) +
           ",\n      \"intensityMode\": 0,\n      \"duration\": " + duration +
           ",\n      \"spread\": 0.3,\n      \"weightCenter\": 0.5,\n      \"intensityScale\": 1,\n"
           "      \"weightOffset\": 0,\n      \"alloyMorph\": 1,\n      \"reverbSend\": -1,\n"
           "      \"gain\": " +
           gain + ",\n      \"fillLayers\": 0,\n      \"groupOverride\": -1,\n      \"stereo\": false,\n"
                  "      \"hero\": " +
           (hero ? "true" : "false") + ",\n      \"alloy\": false";
}

std::string Curves() {
    return ",\n      \"weight\": " + CurveText("0.5") + ",\n      \"intensity\": " + CurveText("0.25") +
           "\n    }";
}

// [SECTION] Writer layout and round trip

TEST(ChainFile, SpotClipAndBedWrittenAndReadBack) {
    test::TempDir dir;
    std::vector<Event> events = {FlatEvent(EventKind::Spot, 12.5f), FlatEvent(EventKind::Clip, 10.0f),
                                 FlatEvent(EventKind::Bed, 11.0f), FlatEvent(EventKind::Fill, 1.0f)};
    Event& spot = events[0];
    CopyText(spot.keywords, "door");
    spot.syncOffset = 0.2f;
    spot.gain = 0.5f;
    spot.hero = true;
    spot.pinnedFiles = {"/s/spot.wav"};  // only a Bed writes its list
    Event& clip = events[1];
    CopyText(clip.pinnedFile, "/chains-test/door.wav");
    clip.clipWeight = 0.4f;  // never written
    clip.clipSourceOffset = 0.25f;
    Event& bed = events[2];
    bed.duration = 8.0f;
    bed.pinnedFiles = {"/chains-test/rain.wav", "/chains-test/wind.wav"};
    bed.bedLayerLoop = {1, 0};
    CopyText(bed.libFilter, "Rain");

    const std::string expected =
        std::string("{\n  \"format\": \"KorvelChain\",\n  \"formatVersion\": 1,\n  \"createdBy\": \"") + AppVersion +
        "\",\n  \"name\": \"Door Hits / Set A\",\n  \"events\": [\n"
        "    {\n      \"relTime\": 2.5,\n      \"syncOffset\": 0.2,\n      \"keywords\": \"door\",\n" +
        Common(0, "2", "0.5", true) + Curves() +
        ",\n    {\n      \"relTime\": 0,\n      \"syncOffset\": 0,\n      \"keywords\": \"\",\n" +
        Common(5, "2", "1", false) +
        ",\n      \"pinnedFile\": \"/chains-test/door.wav\",\n      \"clipSourceOffset\": 0.25,\n"
        "      \"clipSourceDuration\": 0,\n      \"clipFadeIn\": -1,\n      \"clipFadeOut\": -1" +
        Curves() + ",\n    {\n      \"relTime\": 1,\n      \"syncOffset\": 0,\n      \"keywords\": \"\",\n" +
        Common(6, "8", "1", false) +
        ",\n      \"pinnedFiles\": \n      [\n        \"/chains-test/rain.wav\",\n"
        "        \"/chains-test/wind.wav\"\n      ],\n"
        "      \"pinnedFileIds\": \n      [\n      ],\n"
        "      \"pinnedFileHashes\": \n      [\n      ],\n"
        "      \"pinnedFileSizes\": \n      [\n      ],\n"
        "      \"bedLayerLoop\": \n      [\n        1,\n        0\n      ],\n"
        "      \"libFilter\": \"Rain\"" +
        Curves() + "\n  ]\n}";
    const std::string text = FormatChain("Door Hits / Set A", events, {0, 1, 2});
    EXPECT_EQ(text, expected);

    const Chain chain = ReadText(dir, text);
    EXPECT_STREQ(chain.name, "Door Hits / Set A");
    EXPECT_EQ(chain.sourcePath, dir.file("c.kvchain"));
    ASSERT_EQ(chain.entries.size(), 3u);
    const ChainEntry& s = chain.entries[0];
    EXPECT_EQ(s.relTime, 2.5f);
    EXPECT_EQ(s.syncOffset, 0.2f);
    EXPECT_EQ(s.preset.syncOffset, 0.0f) << "the entry's own sync offset is the one placed";
    EXPECT_STREQ(s.preset.name, "");
    EXPECT_STREQ(s.preset.keywords, "door");
    EXPECT_EQ(s.preset.gain, 0.5f);
    EXPECT_TRUE(s.hero);
    EXPECT_TRUE(s.preset.pinnedFiles.empty());
    EXPECT_EQ(s.preset.weight[3], 0.5f);
    EXPECT_EQ(s.preset.intensity[200], 0.25f);
    const ChainEntry& c = chain.entries[1];
    EXPECT_STREQ(c.preset.pinnedFile, "/chains-test/door.wav");
    EXPECT_EQ(c.preset.clipSourceOffset, 0.25f);
    EXPECT_EQ(c.preset.clipWeight, -1.0f);
    const ChainEntry& b = chain.entries[2];
    EXPECT_EQ(b.relTime, 1.0f);
    EXPECT_EQ(b.preset.pinnedFiles, bed.pinnedFiles);
    EXPECT_EQ(b.preset.pinnedFileIds, (std::vector<std::string>{"", ""})) << "a bed's missing ids stay missing";
    EXPECT_EQ(b.preset.bedLayerLoop, bed.bedLayerLoop);
    EXPECT_STREQ(b.preset.libFilter, "Rain");

    // A bed's ids go with the registry's fingerprint and size, and come back
    // into the registry.
    RegisterFileId({"00000000000000b7", "/chains-test/rain.wav", 0xfeedull, 99});
    bed.pinnedFileIds = {"00000000000000b7", ""};
    const std::string withIds = FormatChain("Bed", events, {2});
    EXPECT_NE(withIds.find("\"pinnedFileHashes\": \n      [\n        \"000000000000feed\",\n"
                           "        \"0000000000000000\"\n      ]"),
              std::string::npos);
    EXPECT_NE(withIds.find("\"pinnedFileSizes\": \n      [\n        \"99\",\n        \"0\"\n      ]"),
              std::string::npos);
    RegisterFileId({"00000000000000b7", "/elsewhere.wav", 0, 0});
    ReadText(dir, withIds);
    FileIdResult registered;
    ASSERT_TRUE(LookupFileId("00000000000000b7", registered));
    EXPECT_EQ(registered.path, "/chains-test/rain.wav");
    EXPECT_EQ(registered.fingerprint, 0xfeedu);
}

// [SECTION] Reader and writer edge cases

TEST(ChainFile, ReaderEdgeCases) {
    test::TempDir dir;
    struct Case {
        const char* name;
        std::string text;
        std::function<void(const Chain&)> check;
    };
    const std::string entry = R"({"relTime": 1.5, "shape": 0, "keywords": "hit"})";
    const Case cases[] = {
        {"sync offset defaults to 0 whatever the duration", R"({"events": [{"duration": 6}]})",
         [](const Chain& c) {
             ASSERT_EQ(c.entries.size(), 1u);
             EXPECT_EQ(c.entries[0].syncOffset, 0.0f);
             EXPECT_EQ(c.entries[0].preset.duration, 6.0f);
             EXPECT_EQ(c.entries[0].preset.alloyMorph, 0.35f);
             EXPECT_EQ(c.entries[0].preset.shape, 1);
         }},
        {"a comma right after an event's brace", R"({"events": [{, "relTime": 1.5, "shape": 0, "keywords": "hit"}]})",
         [](const Chain& c) {
             ASSERT_EQ(c.entries.size(), 1u);
             EXPECT_EQ(c.entries[0].relTime, 1.5f);
             EXPECT_EQ(c.entries[0].preset.shape, 0);
             EXPECT_STREQ(c.entries[0].preset.keywords, "hit");
         }},
        {"events given as an object", R"({"name": "n", "events": {"a": )" + entry + "}}",
         [](const Chain& c) {
             EXPECT_STREQ(c.name, "n");
             EXPECT_TRUE(c.entries.empty());
         }},
        {"no events", R"({"name": "n"})", [](const Chain& c) { EXPECT_TRUE(c.entries.empty()); }},
        {"empty file", "", [](const Chain& c) { EXPECT_STREQ(c.name, ""); EXPECT_TRUE(c.entries.empty()); }},
        {"not json", "]]{", [](const Chain& c) { EXPECT_TRUE(c.entries.empty()); }},
        {"no clip weight, no older clip keys",
         R"({"events": [{"shape": 5, "clipWeight": 0.4, "placeSourceOffset": 2, "clipFadeIn": 0.1}]})",
         [](const Chain& c) {
             const EventPreset& p = c.entries.at(0).preset;
             EXPECT_EQ(p.clipWeight, -1.0f);
             EXPECT_EQ(p.clipSourceOffset, 0.0f);
             EXPECT_EQ(p.clipFadeIn, 0.1f);
         }},
        {"pinned lists only for a bed",
         R"({"events": [{"shape": 0, "pinnedFiles": ["/a"]},
                        {"shape": 6, "pinnedFiles": ["/a", "", "/b"], "bedLayerWeight": [0.5, 0.7, 3],
                         "bedLayerLoop": [2]}]})",
         [](const Chain& c) {
             ASSERT_EQ(c.entries.size(), 2u);
             EXPECT_TRUE(c.entries[0].preset.pinnedFiles.empty());
             const EventPreset& bed = c.entries[1].preset;
             EXPECT_EQ(bed.pinnedFiles, (std::vector<std::string>{"/a", "/b"}));
             EXPECT_EQ(bed.pinnedFileIds, (std::vector<std::string>{"", ""}));
             EXPECT_EQ(bed.bedLayerWeight, (std::vector<float>{-1.0f, 0.7f}));
             EXPECT_EQ(bed.bedLayerLoop, (std::vector<std::uint8_t>{1}));
         }},
        {"clamps and types",
         R"({"name": 4, "events": [{"shape": 9, "fillLayers": 30, "pitchVariation": 2, "hero": 1, "gain": "x"},
                                   7, "text"]})",
         [](const Chain& c) {
             EXPECT_STREQ(c.name, "");
             ASSERT_EQ(c.entries.size(), 3u) << "every element is an entry";
             EXPECT_EQ(c.entries[0].preset.shape, 6);
             EXPECT_EQ(c.entries[0].preset.fillLayers, 24);
             EXPECT_EQ(c.entries[0].preset.pitchVariation, 1.0f);
             EXPECT_FALSE(c.entries[0].hero);
             EXPECT_EQ(c.entries[0].preset.gain, 1.0f);
             EXPECT_EQ(c.entries[1].preset.shape, 1);
         }},
        {"a long name keeps 63 bytes", R"({"name": ")" + std::string(80, 'n') + "\"}",
         [](const Chain& c) { EXPECT_EQ(TextOf(c.name).size(), 63u); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.check(ReadText(dir, c.text));
    }
    const Chain missing = ReadChainFile(dir.file("none.kvchain"));
    EXPECT_EQ(missing.sourcePath, dir.file("none.kvchain"));
    EXPECT_TRUE(missing.entries.empty());

    testing::internal::CaptureStderr();
    ReadText(dir, R"({"formatVersion": 2, "name": "n"})");
    ReadText(dir, R"({"version": 2, "formatVersion": 1})");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Chain '" + dir.file("c.kvchain") +
                  "' was saved by a newer version (format 2, this build supports 1). Loading what we can.\n");
}

TEST(ChainFiles, StemsSavingAndTheList) {
    test::TempDir dir;
    test::ScopedDocuments documents(dir.path().string());
    const std::string folder = dir.path().string() + "/Korvel/Chains";
    const std::vector<Event> events = {FlatEvent(EventKind::Spot, 3.0f)};
    struct Save {
        const char* name;
        const char* file;
    };
    const Save saves[] = {
        {"Door Hits / Set A", "Door Hits  Set A.kvchain"},
        {"???", "group.kvchain"},
        {"", "group 2.kvchain"},
        {"Hits!", "Hits.kvchain"},
        {"Hits?", "Hits 2.kvchain"},  // another chain holds the stem
        {"Hits!", "Hits.kvchain"},    // the same name replaces its own file
        {"Tür", "Tür.kvchain"},
    };
    for (const Save& save : saves) {
        SCOPED_TRACE(save.name);
        std::error_code error;
        ASSERT_TRUE(SaveChain(save.name, events, {0}, error));
        EXPECT_FALSE(error);
        EXPECT_EQ(ReadChainFile(folder + "/" + save.file).name, std::string_view(save.name));
    }
    std::error_code error;
    EXPECT_FALSE(SaveChain("none", events, {}, error));
    EXPECT_FALSE(SaveChain("none", events, {4}, error));
    EXPECT_FALSE(fs::exists(folder + "/none.kvchain"));

    test::WriteBytes(folder + "/upper.KVCHAIN", R"({"name": "upper"})");
    test::WriteBytes(folder + "/sub/deep.kvchain", R"({"name": "deep"})");
    test::WriteBytes(folder + "/old.json", R"({"name": "bravo"})");
    AppState app;
    app.PresetMenusDirty = false;
    ReloadChains(app);
    EXPECT_TRUE(app.PresetMenusDirty);
    std::vector<std::string> names;
    for (const Chain& chain : ChainList) names.emplace_back(TextOf(chain.name));
    EXPECT_EQ(names, (std::vector<std::string>{"", "???", "bravo", "Door Hits / Set A", "Hits!", "Hits?", "Tür"}));
    ChainList.clear();

    test::TempDir blocked;
    test::WriteBytes(blocked.file("plain"), "x");
    EXPECT_FALSE(SaveChainTo(blocked.file("plain") + "/Chains", "x", events, {0}, error));
    EXPECT_TRUE(error);
}

// [SECTION] Placing

class PlaceChain : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(test::WriteSoundFile(door_, test::MakeSine(440.0, 0.5, 48000), 1, 48000));
        ASSERT_TRUE(test::WriteSoundFile(rain_, test::MakeSine(220.0, 1.0, 48000), 1, 48000));
        CurrentProject = Project{};
        ClearUndoHistory();
        PrepareVoices(LivePlaybackEngine, 48000, 0);
        AppState& state = GlobalAppState;
        state.selectedEvents = {7};
        state.selectedEvent = 7;
        state.activeTab = 3;
        state.playhead = 10.0f;
        state.linkedGroups.clear();
        state.chainsImportAsGroup = true;
        state.statusMessage.clear();
    }
    void TearDown() override {
        ChainList.clear();
        GlobalAppState.linkedGroups.clear();
        GlobalAppState.chainsImportAsGroup = true;
        GlobalAppState.backgroundJob.active.store(false);
        GlobalAppState.exportRunning.store(false);
        CurrentProject = Project{};
        ClearUndoHistory();
        PrepareVoices(LivePlaybackEngine, 48000, 0);
    }

    static ChainEntry Entry(EventKind kind, float relTime) {
        ChainEntry entry;
        entry.preset.shape = KindValue(kind);
        entry.preset.weight.fill(0.5f);
        entry.preset.intensity.fill(0.5f);
        entry.relTime = relTime;
        return entry;
    }
    static Chain Named(const std::string& name, std::vector<ChainEntry> entries) {
        Chain chain;
        CopyText(chain.name, name);
        chain.entries = std::move(entries);
        return chain;
    }
    void UseFolders(const std::vector<std::string>& folders) {
        for (const std::string& folder : folders) {
            Event event;
            CopyText(event.folder, folder);
            CurrentProject.events.push_back(event);
        }
    }

    test::TempDir dir_;
    std::string door_ = dir_.file("door.wav");
    std::string rain_ = dir_.file("rain.wav");
};

TEST_F(PlaceChain, TimesFolderAndSelection) {
    ChainEntry spot = Entry(EventKind::Spot, 0.0f);
    spot.preset.gain = 0.3f;
    spot.hero = true;
    spot.alloy = true;
    spot.syncOffset = 0.4f;
    ChainList = {Named("Hits", {spot, Entry(EventKind::Bloom, 0.5f), Entry(EventKind::Fill, 2.0f)})};
    UseFolders({"Hits", "Hits 2"});
    ASSERT_TRUE(PlaceChainAtPlayhead(0));

    const std::vector<Event>& events = CurrentProject.events;
    ASSERT_EQ(events.size(), 5u);
    const float times[] = {10.0f, 10.5f, 12.0f};
    for (int i = 0; i < 3; ++i) {
        const Event& e = events[static_cast<std::size_t>(2 + i)];
        EXPECT_EQ(e.time, times[i]);
        EXPECT_STREQ(e.folder, "Hits 3");
        EXPECT_FALSE(e.locked);
        EXPECT_TRUE(CurrentProject.results.empty()) << "nothing renders before the next build";
    }
    EXPECT_EQ(events[2].gain, 0.3f) << "an entry's gain, hero and alloy reach the event";
    EXPECT_TRUE(events[2].hero);
    EXPECT_TRUE(events[2].alloy);
    EXPECT_EQ(events[2].syncOffset, 0.4f);
    EXPECT_EQ(events[2].userShapeIdx, -1);
    EXPECT_STREQ(events[2].presetName, "");
    EXPECT_EQ(GlobalAppState.selectedEvents, (std::set<std::int32_t>{2, 3, 4}));
    EXPECT_EQ(GlobalAppState.selectedEvent, 2);
    EXPECT_EQ(GlobalAppState.activeTab, 3) << "the tab stays";
    EXPECT_EQ(GlobalAppState.linkedGroups, (std::set<std::string>{"Hits 3"}));
    ASSERT_EQ(UndoStack.size(), 1u);
    EXPECT_EQ(UndoStack.back().events.size(), 2u);
}

TEST_F(PlaceChain, FolderNames) {
    const std::string long63(63, 'x');
    struct Case {
        const char* name;
        std::string chainName;
        std::vector<std::string> taken;
        bool linked;
        std::string folder;
    };
    const Case cases[] = {
        {"a free name", "Hits", {"Other"}, true, "Hits"},
        {"the next free number", "Hits", {"Hits", "Hits 2"}, true, "Hits 3"},
        {"not linked when the preference is off", "Hits", {}, false, "Hits"},
        {"a full name gives way to the suffix", long63, {long63}, true, std::string(61, 'x') + " 2"},
        {"and again", long63, {long63, std::string(61, 'x') + " 2"}, true, std::string(61, 'x') + " 3"},
        {"no name, no folder", "", {""}, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        GlobalAppState.chainsImportAsGroup = c.linked;
        UseFolders(c.taken);
        CurrentProject.InstantiateChain(GlobalAppState, Named(c.chainName, {Entry(EventKind::Spot, 0.0f)}), 1.0f);
        EXPECT_EQ(TextOf(CurrentProject.events.back().folder), c.folder);
        EXPECT_EQ(GlobalAppState.linkedGroups.count(c.folder), c.linked && !c.folder.empty() ? 1u : 0u);
    }
    // Multi-byte: a 61-byte name of two-byte letters cut for " 2" keeps whole letters.
    std::string umlauts;
    for (int i = 0; i < 31; ++i) umlauts += "\xc3\xbc";  // 62 bytes
    SetUp();
    UseFolders({umlauts});
    CurrentProject.InstantiateChain(GlobalAppState, Named(umlauts, {Entry(EventKind::Spot, 0.0f)}), 1.0f);
    std::string cut;
    for (int i = 0; i < 30; ++i) cut += "\xc3\xbc";
    EXPECT_EQ(TextOf(CurrentProject.events.back().folder), cut + " 2");
}

TEST_F(PlaceChain, ClipsAreHeardAtOnceAndBedsKeepTheirFiles) {
    ChainEntry clip = Entry(EventKind::Clip, 0.0f);
    CopyText(clip.preset.pinnedFile, door_);
    clip.preset.duration = 4.0f;
    clip.preset.clipSourceOffset = 0.1f;
    clip.preset.clipFadeOut = 0.05f;
    ChainEntry clipWithId = clip;
    clipWithId.preset.pinnedFileId = "00000000000000d9";  // moved file: found again by this id
    ChainEntry bed = Entry(EventKind::Bed, 1.0f);
    bed.preset.pinnedFiles = {rain_, "/chains-test/gone.wav"};
    bed.preset.pinnedFileIds = {"", "00000000000000e1"};
    bed.preset.bedLayerLoop = {1, 0};
    bed.preset.bedLayerWeight = {0.6f, -1.0f};
    ChainList = {Named("Mixed", {clip, clipWithId, bed})};
    ASSERT_TRUE(PlaceChainAtPlayhead(0));

    const std::vector<Event>& events = CurrentProject.events;
    ASSERT_EQ(events.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const Event& e = events[static_cast<std::size_t>(i)];
        EXPECT_TRUE(e.locked);
        EXPECT_TRUE(e.usePinnedFile);
        EXPECT_EQ(e.clipWeight, -1.0f);
        EXPECT_EQ(e.clipSourceOffset, 0.1f);
        EXPECT_NEAR(e.duration, 0.4f, 0.01f) << "the clip layer's length";
        std::size_t voices = 0;
        for (const Voice& voice : LivePlaybackEngine.voices) voices += voice.eventIndex == i ? 1 : 0;
        EXPECT_EQ(voices, 1u);
    }
    EXPECT_EQ(events[0].pinnedFileId, ComputeFileId(door_).id) << "a file without an id gets its identity";
    EXPECT_EQ(events[1].pinnedFileId, "00000000000000d9");
    EXPECT_TRUE(LivePlaybackEngine.ready.load());

    const Event& b = events[2];
    EXPECT_FALSE(b.locked);
    EXPECT_EQ(b.pinnedFiles, bed.preset.pinnedFiles);
    ASSERT_EQ(b.pinnedFileIds.size(), 2u);
    EXPECT_EQ(b.pinnedFileIds[0], ComputeFileId(rain_).id);
    EXPECT_EQ(b.pinnedFileIds[1], "00000000000000e1");
    EXPECT_EQ(b.bedLayerLoop, bed.preset.bedLayerLoop);
    EXPECT_EQ(b.bedLayerWeight, bed.preset.bedLayerWeight);
}

TEST_F(PlaceChain, EmptyChainsIndicesAndABusyProject) {
    ChainList = {Named("Empty", {}), Named("One", {Entry(EventKind::Spot, 0.0f)})};
    ASSERT_TRUE(PlaceChainAtPlayhead(0));
    EXPECT_TRUE(CurrentProject.events.empty());
    EXPECT_EQ(UndoStack.size(), 1u);
    EXPECT_TRUE(GlobalAppState.selectedEvents.empty());
    EXPECT_EQ(GlobalAppState.selectedEvent, -1);
    EXPECT_EQ(GlobalAppState.linkedGroups.count("Empty"), 1u);

    for (std::int32_t index : {-1, 2}) EXPECT_FALSE(PlaceChainAtPlayhead(index)) << index;
    EXPECT_EQ(UndoStack.size(), 1u);
    EXPECT_TRUE(GlobalAppState.statusMessage.empty());

    std::atomic<bool>* flags[] = {&GlobalAppState.backgroundJob.active, &GlobalAppState.exportRunning};
    for (std::atomic<bool>* flag : flags) {
        flag->store(true);
        EXPECT_FALSE(PlaceChainAtPlayhead(1));
        flag->store(false);
        EXPECT_EQ(GlobalAppState.statusMessage, kBusyEditStatus);
        GlobalAppState.statusMessage.clear();
    }
    EXPECT_TRUE(CurrentProject.events.empty());
    EXPECT_EQ(UndoStack.size(), 1u);
}

}  // namespace
}  // namespace korvel
