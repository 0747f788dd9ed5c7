// Adding events by kind and as scene backgrounds, deleting events with their
// layers, renaming scenes, files added to beds, and the two commands at the
// playhead.
#include "project/event_editing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "library/library.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

bool AllEqual(const CurvePoints& curve, float value) {
    return std::all_of(curve.begin(), curve.end(), [value](float v) { return v == value; });
}

TEST(AddEvent, EachKindGetsItsDefaults) {
    Project project;
    // Distinct per-group flags show which group's flag each kind took.
    project.trackLayout.groups[0].stereo = false;
    project.trackLayout.groups[1].stereo = true;
    project.trackLayout.groups[2].stereo = false;
    struct Case {
        EventKind kind;
        float duration, spread, syncOffset;
        std::int32_t intensityMode;
        bool stereo;
    };
    const Case cases[] = {
        {EventKind::Spot, 1.5f, 0.0f, 0.0f, 0, true},     {EventKind::Bloom, 4.0f, 0.3f, 2.0f, 0, false},
        {EventKind::Contour, 4.0f, 0.3f, 0.0f, 2, false}, {EventKind::Fill, 8.0f, 0.1f, 0.0f, 2, false},
        {EventKind::Scatter, 4.0f, 0.5f, 0.0f, 0, true},  {EventKind::Clip, 2.0f, 0.0f, 0.0f, 0, true},
        {EventKind::Bed, 8.0f, 0.0f, 0.0f, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(EventKindNames[static_cast<std::size_t>(KindValue(c.kind))]);
        const std::int32_t index = project.AddEvent(10.0f, KindValue(c.kind), 0.4f);
        ASSERT_EQ(index, static_cast<std::int32_t>(project.events.size()) - 1);
        const Event& event = project.events.back();
        EXPECT_EQ(event.shape, KindValue(c.kind));
        EXPECT_EQ(event.userShapeIdx, -1);
        EXPECT_FLOAT_EQ(event.time, 10.0f);
        EXPECT_FLOAT_EQ(event.weightCenter, 0.4f);
        EXPECT_FLOAT_EQ(event.duration, c.duration);
        EXPECT_FLOAT_EQ(event.spread, c.spread);
        EXPECT_FLOAT_EQ(event.syncOffset, c.syncOffset);
        EXPECT_EQ(event.intensityMode, c.intensityMode);
        EXPECT_EQ(event.stereo, c.stereo);
        EXPECT_FALSE(AllEqual(event.intensity, 0.0f)) << "curves were filled";
    }
    // The Bloom's intensity peaks at its sync point, the middle.
    const CurvePoints& bloom = project.events[1].intensity;
    const auto peak = std::max_element(bloom.begin(), bloom.end()) - bloom.begin();
    EXPECT_NEAR(static_cast<double>(peak), 127.5, 2.0);
    EXPECT_LT(bloom.front(), bloom[static_cast<std::size_t>(peak)]);
    EXPECT_LT(bloom.back(), bloom[static_cast<std::size_t>(peak)]);
}

TEST(AddEvent, KindOutsideTheTablesAddsNothing) {
    Project project;
    for (std::int32_t kind : {-1, kEventKindCount, 1000}) EXPECT_EQ(project.AddEvent(1.0f, kind, 0.5f), -1);
    EXPECT_TRUE(project.events.empty());
}

Project ProjectWithScenes() {
    Project project;
    project.trackLayout.groups[0].stereo = false;
    Scene rain;
    CopyText(rain.name, "Rain");
    rain.inTime = 5.0f;
    rain.outTime = 17.5f;
    CopyText(rain.keywords, "rain roof");
    Scene quiet;
    CopyText(quiet.name, "Quiet");
    quiet.inTime = 20.0f;
    quiet.outTime = 30.0f;
    project.scenes = {rain, quiet};
    return project;
}

TEST(SceneBackgrounds, FillAndBedSpanTheScene) {
    Project project = ProjectWithScenes();
    const std::int32_t fill = project.AddSceneFill(0);
    const std::int32_t quietFill = project.AddSceneFill(1);
    const std::int32_t bed = project.AddSceneBed(0);
    ASSERT_EQ(fill, 0);
    ASSERT_EQ(quietFill, 1);
    ASSERT_EQ(bed, 2);

    for (std::int32_t index : {fill, bed}) {
        const Event& event = project.events[static_cast<std::size_t>(index)];
        EXPECT_FLOAT_EQ(event.time, 5.0f);
        EXPECT_FLOAT_EQ(event.duration, 12.5f);
        EXPECT_FLOAT_EQ(event.syncOffset, 0.0f);
        EXPECT_EQ(event.sceneLink, 0);
        EXPECT_TRUE(event.sceneFill);
        EXPECT_EQ(event.sceneCrossfade, 1);
        EXPECT_EQ(TextOf(event.folder), "Rain");
        EXPECT_FALSE(event.stereo);
        EXPECT_TRUE(AllEqual(event.intensity, 1.0f));
    }
    const Event& rainFill = project.events[0];
    EXPECT_TRUE(IsKind(rainFill.shape, EventKind::Fill));
    EXPECT_EQ(rainFill.intensityMode, 1);
    EXPECT_EQ(TextOf(rainFill.keywords), "rain roof");
    EXPECT_FALSE(rainFill.locked);
    EXPECT_EQ(TextOf(project.events[1].keywords), "") << "empty scene keywords stay empty";

    const Event& rainBed = project.events[2];
    EXPECT_TRUE(IsKind(rainBed.shape, EventKind::Bed));
    EXPECT_EQ(rainBed.intensityMode, 2);
    EXPECT_TRUE(rainBed.locked);
    EXPECT_EQ(TextOf(rainBed.keywords), "") << "a bed never takes the scene's keywords";
    EXPECT_TRUE(AllEqual(rainBed.weight, 0.5f));
}

TEST(SceneBackgrounds, InvalidSceneAddsNothing) {
    Project project = ProjectWithScenes();
    for (std::int32_t scene : {-1, 2, 99}) {
        EXPECT_EQ(project.AddSceneFill(scene), -1);
        EXPECT_EQ(project.AddSceneBed(scene), -1);
    }
    EXPECT_TRUE(project.events.empty());
}

TEST(RenameScene, RenamesOnlyTheScenesBackgrounds) {
    Project project = ProjectWithScenes();
    project.AddSceneFill(0);                            // 0: renamed
    project.AddSceneBed(0);                             // 1: renamed
    project.AddSceneFill(1);                            // 2: another scene
    const std::int32_t linked = project.AddEvent(6.0f, KindValue(EventKind::Spot), 0.5f);
    project.events[static_cast<std::size_t>(linked)].sceneLink = 0;  // follows, not a background
    CopyText(project.events[static_cast<std::size_t>(linked)].folder, "Hits");

    project.RenameScene(0, "Storm");
    EXPECT_EQ(TextOf(project.scenes[0].name), "Storm");
    EXPECT_EQ(TextOf(project.events[0].folder), "Storm");
    EXPECT_EQ(TextOf(project.events[1].folder), "Storm");
    EXPECT_EQ(TextOf(project.events[2].folder), "Quiet");
    EXPECT_EQ(TextOf(project.events[3].folder), "Hits");

    project.RenameScene(0, nullptr);
    project.RenameScene(2, "Nowhere");
    project.RenameScene(-1, "Nowhere");
    EXPECT_EQ(TextOf(project.scenes[0].name), "Storm");
    EXPECT_EQ(TextOf(project.scenes[1].name), "Quiet");

    const std::string longName(100, 'n');
    project.RenameScene(0, longName.c_str());
    EXPECT_EQ(TextOf(project.scenes[0].name), longName.substr(0, 63));
    EXPECT_EQ(TextOf(project.events[0].folder), longName.substr(0, 63));
}

TEST(DeleteEvent, RemovesItsLayersAndRenumbersTheRest) {
    Project project;
    for (int i = 0; i < 5; ++i) project.AddEvent(static_cast<float>(i), KindValue(EventKind::Spot), 0.5f);
    // Two layers per event, interleaved, each named by its event.
    for (int round = 0; round < 2; ++round) {
        for (std::int32_t e = 0; e < 5; ++e) {
            LayerResult layer;
            layer.eventIdx = e;
            layer.filepath = "e" + std::to_string(e) + "_" + std::to_string(round);
            project.results.push_back(layer);
        }
    }
    project.DeleteEvent(2);
    ASSERT_EQ(project.events.size(), 4u);
    EXPECT_FLOAT_EQ(project.events[2].time, 3.0f);
    std::vector<std::string> names;
    for (const LayerResult& layer : project.results) {
        names.push_back(layer.filepath + "->" + std::to_string(layer.eventIdx));
    }
    const std::vector<std::string> expected = {"e0_0->0", "e1_0->1", "e3_0->2", "e4_0->3",
                                               "e0_1->0", "e1_1->1", "e3_1->2", "e4_1->3"};
    EXPECT_EQ(names, expected);

    for (std::int32_t invalid : {-1, 4, 100}) project.DeleteEvent(invalid);
    EXPECT_EQ(project.events.size(), 4u);
    EXPECT_EQ(project.results.size(), 8u);
}

class BedFiles : public ::testing::Test {
protected:
    void SetUp() override {
        rain_ = dir_.file("rain.wav");
        copy_ = dir_.file("copies/rain again.wav");
        wind_ = dir_.file("wind.wav");
        ASSERT_TRUE(test::WriteSoundFile(rain_, test::MakeSine(220.0, 0.2, 48000), 1, 48000));
        std::filesystem::create_directories(dir_.path() / "copies");
        std::filesystem::copy_file(rain_, copy_);
        ASSERT_TRUE(test::WriteSoundFile(wind_, test::MakeSine(330.0, 0.3, 48000), 1, 48000));
        project_.events.emplace_back();
        bed_ = project_.AddEvent(0.0f, KindValue(EventKind::Bed), 0.5f);
    }

    test::TempDir dir_;
    std::string rain_, copy_, wind_;
    Project project_;
    std::int32_t bed_ = -1;
};

TEST_F(BedFiles, AddsEachFileOnceByPathOrIdentity) {
    Palette palette;
    LibraryFile known;
    known.path = rain_;
    known.brightness = 1.7f;  // clamped
    palette.files.push_back(known);
    const std::vector<Palette> palettes = {palette};
    const std::string missing = dir_.file("missing.wav");

    const std::vector<std::string> paths = {rain_, rain_, copy_, "", wind_, missing, missing};
    EXPECT_EQ(AddBedLayerFiles(project_, bed_, paths, &palettes), 3);
    const Event& bed = project_.events[static_cast<std::size_t>(bed_)];
    EXPECT_EQ(bed.pinnedFiles, (std::vector<std::string>{rain_, wind_, missing}));
    ASSERT_EQ(bed.pinnedFileIds.size(), 3u);
    EXPECT_FALSE(bed.pinnedFileIds[0].empty());
    EXPECT_TRUE(bed.pinnedFileIds[2].empty()) << "an unreadable file has no identity";
    EXPECT_EQ(bed.bedLayerLoop, (std::vector<std::uint8_t>{0, 0, 0}));
    EXPECT_EQ(bed.bedLayerWeight, (std::vector<float>{1.0f, -1.0f, -1.0f}));
    EXPECT_TRUE(std::any_of(project_.results.begin(), project_.results.end(),
                            [this](const LayerResult& layer) { return layer.eventIdx == bed_; }))
        << "the bed's layers were laid out";

    // The library finds a file by identity too; no palettes leaves it unmeasured.
    Palette byId;
    LibraryFile same;
    same.path = "/elsewhere/rain.wav";
    same.fileId = bed.pinnedFileIds[0];
    same.brightness = 0.25f;
    byId.files.push_back(same);
    const std::vector<Palette> idPalettes = {byId};
    Project other;
    const std::int32_t otherBed = other.AddEvent(0.0f, KindValue(EventKind::Bed), 0.5f);
    EXPECT_EQ(AddBedLayerFiles(other, otherBed, {copy_}, &idPalettes), 1);
    EXPECT_EQ(AddBedLayerFiles(other, otherBed, {wind_}, nullptr), 1);
    EXPECT_EQ(other.events[0].bedLayerWeight, (std::vector<float>{0.25f, -1.0f}));
}

TEST_F(BedFiles, ShortParallelListsAreFilledBeforeAdding) {
    Event& bed = project_.events[static_cast<std::size_t>(bed_)];
    bed.pinnedFiles = {"/old/a.wav", "/old/b.wav"};  // from an older file: no ids, loops or weights
    bed.bedLayerWeight = {0.5f, 0.6f, 0.7f};           // longer than the files
    EXPECT_EQ(AddBedLayerFiles(project_, bed_, {wind_}, nullptr), 1);
    EXPECT_EQ(bed.pinnedFileIds.size(), 3u);
    EXPECT_EQ(bed.bedLayerLoop, (std::vector<std::uint8_t>{0, 0, 0}));
    EXPECT_EQ(bed.bedLayerWeight, (std::vector<float>{0.5f, 0.6f, -1.0f}));
}

TEST_F(BedFiles, OnlyABedTakesFiles) {
    for (std::int32_t index : {0, -1, 5}) {  // event 0 is a Spot
        EXPECT_EQ(AddBedLayerFiles(project_, index, {rain_}, nullptr), 0);
    }
    EXPECT_TRUE(project_.events[0].pinnedFiles.empty());
    EXPECT_TRUE(project_.results.empty());
}

class PlayheadCommands : public ::testing::Test {
protected:
    void SetUp() override {
        CurrentProject = Project{};
        ClearUndoHistory();
        AppState& state = GlobalAppState;
        state.selectedEvents = {0};
        state.selectedEvent = 0;
        state.activeTab = 3;
        state.scrollToSelection = false;
        state.unsavedChanges = false;
        state.statusMessage.clear();
        state.audioUpdateRequested.store(false);
        state.platformHooks.openFileDialog = nullptr;
        state.playhead = 4.0f;
        CurrentProject.AddEvent(0.0f, KindValue(EventKind::Spot), 0.5f);
    }
    void TearDown() override {
        GlobalAppState.platformHooks.openFileDialog = nullptr;
        CurrentProject = Project{};
        ClearUndoHistory();
    }

    void ExpectSelectedAlone(std::int32_t index) {
        const AppState& state = GlobalAppState;
        EXPECT_EQ(state.selectedEvents, (std::set<std::int32_t>{index}));
        EXPECT_EQ(state.selectedEvent, index);
        EXPECT_TRUE(state.scrollToSelection);
        EXPECT_EQ(state.activeTab, 0);
        EXPECT_TRUE(state.unsavedChanges);
    }

    test::TempDir dir_;
};

TEST_F(PlayheadCommands, InsertBedAtPlayhead) {
    InsertBedAtPlayhead();
    ASSERT_EQ(CurrentProject.events.size(), 2u);
    const Event& bed = CurrentProject.events[1];
    EXPECT_TRUE(IsKind(bed.shape, EventKind::Bed));
    EXPECT_FLOAT_EQ(bed.time, 4.0f);
    EXPECT_FLOAT_EQ(bed.duration, 8.0f);
    EXPECT_FLOAT_EQ(bed.weightCenter, 0.3f);
    EXPECT_TRUE(bed.locked);
    EXPECT_TRUE(bed.pinnedFiles.empty());
    EXPECT_EQ(UndoStack.size(), 1u);
    EXPECT_EQ(UndoStack.back().events.size(), 1u) << "the snapshot is taken before the edit";
    ExpectSelectedAlone(1);
}

TEST_F(PlayheadCommands, PlaceAudioFileAtPlayhead) {
    const std::string door = dir_.file("door.wav");
    ASSERT_TRUE(test::WriteSoundFile(door, test::MakeSine(440.0, 0.5, 48000), 1, 48000));
    PlaceAudioFileAtPlayhead();  // no hook: nothing happens
    GlobalAppState.platformHooks.openFileDialog = [](const std::string&, const std::string&) {
        return std::string();
    };
    PlaceAudioFileAtPlayhead();  // cancelled
    EXPECT_EQ(CurrentProject.events.size(), 1u);
    EXPECT_TRUE(UndoStack.empty());

    std::string askedTitle, askedExtension;
    GlobalAppState.platformHooks.openFileDialog = [&](const std::string& title, const std::string& extension) {
        askedTitle = title;
        askedExtension = extension;
        return door;
    };
    PlaceAudioFileAtPlayhead();
    EXPECT_EQ(askedTitle, "Place Audio File");
    EXPECT_EQ(askedExtension, "wav");
    ASSERT_EQ(CurrentProject.events.size(), 2u);
    const Event& clip = CurrentProject.events[1];
    EXPECT_TRUE(IsKind(clip.shape, EventKind::Clip));
    EXPECT_FLOAT_EQ(clip.time, 4.0f);
    EXPECT_EQ(TextOf(clip.pinnedFile), door);
    EXPECT_FALSE(clip.pinnedFileId.empty());
    EXPECT_TRUE(clip.usePinnedFile);
    EXPECT_TRUE(clip.locked);
    EXPECT_NEAR(clip.duration, 0.5f, 0.01f) << "the clip takes its layer's length";
    EXPECT_EQ(UndoStack.size(), 1u);
    EXPECT_TRUE(GlobalAppState.audioUpdateRequested.load());
    ExpectSelectedAlone(1);
}

TEST_F(PlayheadCommands, AnUnreadableFileStillBecomesAClip) {
    EXPECT_EQ(PlaceAudioFileAt(dir_.file("missing.wav")), PlaceFileResult::Placed);
    ASSERT_EQ(CurrentProject.events.size(), 2u);
    EXPECT_TRUE(CurrentProject.events[1].pinnedFileId.empty());
    EXPECT_GE(CurrentProject.events[1].duration, 0.1f);
}

TEST_F(PlayheadCommands, APathTooLongForTheEventIsRefused) {
    const std::string longPath = "/" + std::string(600, 'p') + "/door.wav";
    EXPECT_EQ(PlaceAudioFileAt(longPath), PlaceFileResult::PathTooLong);
    EXPECT_EQ(CurrentProject.events.size(), 1u);
    EXPECT_TRUE(UndoStack.empty());
    EXPECT_FALSE(GlobalAppState.audioUpdateRequested.load());
    EXPECT_NE(GlobalAppState.statusMessage.find("door.wav"), std::string::npos);
}

}  // namespace
}  // namespace korvel
