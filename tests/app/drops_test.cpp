// Dropped names sorted into videos, folders and sounds; the hover frame that
// fixes a drop's targets; and the five things dropped sounds become.
#include "app/drops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

namespace fs = std::filesystem;

TEST(DropSorting, NamesByFolderTestAndExtension) {
    test::TempDir dir;
    fs::create_directories(dir.path() / "takes.wav");
    fs::create_directories(dir.path() / "cut.MOV");
    fs::create_directories(dir.path() / "Folder.v2");
    struct Case {
        const char* name;
        std::string path;
        DroppedKind kind;
    };
    const Case cases[] = {
        {"capitalised video", "/media/Shot.MP4", DroppedKind::Video},
        {"mixed-case sound", "/media/hit.WaV", DroppedKind::Sound},
        {"every video extension", "/m/a.mov", DroppedKind::Video},
        {"m4v", "/m/a.m4v", DroppedKind::Video},
        {"avi", "/m/a.avi", DroppedKind::Video},
        {"mkv", "/m/a.mkv", DroppedKind::Video},
        {"webm", "/m/a.webm", DroppedKind::Video},
        {"mxf", "/m/a.MXF", DroppedKind::Video},
        {"aif", "/m/a.aif", DroppedKind::Sound},
        {"aiff", "/m/a.AIFF", DroppedKind::Sound},
        {"flac", "/m/a.flac", DroppedKind::Sound},
        {"ogg", "/m/a.ogg", DroppedKind::Sound},
        {"mp3", "/m/a.mp3", DroppedKind::Sound},
        {"w64", "/m/a.w64", DroppedKind::Sound},
        {"caf", "/m/a.caf", DroppedKind::Sound},
        {"folder named like a sound", (dir.path() / "takes.wav").string(), DroppedKind::Folder},
        {"folder named like a video", (dir.path() / "cut.MOV").string(), DroppedKind::Folder},
        {"archive", "/m/sounds.zip", DroppedKind::Ignored},
        {"compressed tar", "/m/sounds.tar.gz", DroppedKind::Ignored},
        {"no extension inside a dotted folder", (dir.path() / "Folder.v2" / "readme").string(),
         DroppedKind::Ignored},
        {"dotted folder before a backslash", "C:\\Takes.wav\\readme", DroppedKind::Ignored},
        {"a sound that does not exist yet still counts", "/nowhere/x.wav", DroppedKind::Sound},
        {"empty", "", DroppedKind::Ignored},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ClassifyDroppedName(c.path), c.kind);
    }
}

TEST(DropSorting, ADropKeepsTheLastVideoAndSoundsInOrder) {
    test::TempDir dir;
    fs::create_directories(dir.path() / "Rain");
    DropState drop;
    BeginDrop(drop);
    for (const char* name : {"/m/first.mp4", "/m/b.wav", "/m/notes.txt", "/m/second.MOV", "/m/a.flac"}) {
        AddDroppedName(drop, name);
    }
    AddDroppedName(drop, (dir.path() / "Rain").string());
    EXPECT_TRUE(CompleteDrop(drop, 120.0f, 40.0f, true));
    EXPECT_EQ(drop.droppedVideo, "/m/second.MOV");
    EXPECT_EQ(drop.droppedFolderPaths, std::vector<std::string>{(dir.path() / "Rain").string()});
    EXPECT_EQ(drop.arrivingAudio, (std::vector<std::string>{"/m/b.wav", "/m/a.flac"}));
    EXPECT_TRUE(drop.droppedAudio.empty());  // not before the panels have seen the pointer
    EXPECT_TRUE(drop.hoverAudio && drop.hoverFolder && drop.hoverVideo);
    EXPECT_TRUE(drop.altAtDrop);
    EXPECT_FLOAT_EQ(drop.dropX, 120.0f);
    EXPECT_FLOAT_EQ(drop.dropY, 40.0f);

    // Alt counts only when sounds were taken; a drop of other names takes nothing.
    DropState other;
    BeginDrop(other);
    AddDroppedName(other, "/m/clip.mov");
    AddDroppedName(other, "/m/archive.zip");
    EXPECT_TRUE(CompleteDrop(other, 0.0f, 0.0f, true));
    EXPECT_FALSE(other.altAtDrop);
    BeginDrop(other);
    AddDroppedName(other, "/m/archive.zip");
    EXPECT_FALSE(CompleteDrop(other, 0.0f, 0.0f, false));
}

// The state of the window and project that each test starts from.
class DroppedSounds : public ::testing::Test {
protected:
    void SetUp() override {
        CurrentProject = Project{};
        AppState& s = GlobalAppState;
        s.dropState = DropState{};
        s.selectedEvents.clear();
        s.selectedEvent = -1;
        s.playhead = 12.5f;
        s.pendingBedLayout = -1;
        s.unsavedChanges = false;
        s.paletteRenameFocus = false;
        s.renamingPaletteIndex = -1;
        s.paletteRenameBuffer[0] = '\0';
        s.backgroundJob.active.store(false);
        s.exportRunning.store(false);
        UndoStack.clear();
        RedoStack.clear();
        fs::create_directories(dir.path() / "cache");
        library.cacheFolder = dir.file("cache");
        engine->ready.store(false);

        readable = dir.file("door.wav");
        ASSERT_TRUE(test::WriteSoundFile(readable, test::MakeSine(440.0, 0.5, 48000), 1, 48000));
        unreadable = dir.file("broken.wav");
        ASSERT_TRUE(test::WriteBytes(unreadable, "not a sound file"));

        operations.addEvent = [](Project& project, float time, std::int32_t kind, float weightCenter) {
            Event event;
            event.time = time;
            event.shape = kind;
            event.weightCenter = weightCenter;
            project.events.push_back(event);
            return static_cast<std::int32_t>(project.events.size()) - 1;
        };
        operations.addSceneBed = [](Project& project, std::int32_t scene) {
            if (scene < 0 || scene >= static_cast<std::int32_t>(project.scenes.size())) return -1;
            Event bed;
            bed.shape = KindValue(EventKind::Bed);
            bed.time = project.scenes[static_cast<std::size_t>(scene)].inTime;
            bed.locked = true;
            project.events.push_back(bed);
            return static_cast<std::int32_t>(project.events.size()) - 1;
        };
        operations.addBedLayerFiles = [](Project& project, std::int32_t event, const std::vector<std::string>& paths,
                                         Library*) {
            auto& files = project.events[static_cast<std::size_t>(event)].pinnedFiles;
            files.insert(files.end(), paths.begin(), paths.end());
            return static_cast<std::int32_t>(paths.size());
        };
    }

    // One drop: received, its hover frame (in which `panels` plays the
    // panels under the pointer), then the next frame's dropped-sounds step.
    DropRule Drop(const std::vector<std::string>& files, bool alt, const std::function<void(DropState&)>& panels) {
        DropState& drop = GlobalAppState.dropState;
        BeginDrop(drop);
        for (const std::string& file : files) AddDroppedName(drop, file);
        CompleteDrop(drop, 300.0f, 200.0f, alt);
        EXPECT_EQ(HandleDroppedAudio(GlobalAppState, CurrentProject, library, *engine, operations), DropRule::Idle);
        if (panels) panels(drop);
        EndDropHoverFrame(drop);
        return HandleDroppedAudio(GlobalAppState, CurrentProject, library, *engine, operations);
    }

    std::int32_t AddBed() {
        Event bed;
        bed.shape = KindValue(EventKind::Bed);
        CurrentProject.events.push_back(bed);
        return static_cast<std::int32_t>(CurrentProject.events.size()) - 1;
    }

    test::TempDir dir;
    Library library;
    std::unique_ptr<PlaybackEngine> engine = std::make_unique<PlaybackEngine>();
    DropOperations operations;
    std::string readable;
    std::string unreadable;
};

TEST_F(DroppedSounds, OverTheLibraryMakesAPaletteAndStartsRenamingIt) {
    const DropRule rule = Drop({readable}, false, [](DropState& d) { d.dropOverLibrary = true; });
    EXPECT_EQ(rule, DropRule::NewPalette);
    ASSERT_EQ(library.palettes.size(), 1u);
    EXPECT_EQ(GlobalAppState.renamingPaletteIndex, 0);
    EXPECT_EQ(TextOf(GlobalAppState.paletteRenameBuffer), library.palettes[0].name);
    EXPECT_TRUE(GlobalAppState.paletteRenameFocus);
    EXPECT_TRUE(UndoStack.empty());  // no event changed
    EXPECT_TRUE(CurrentProject.events.empty());
}

TEST_F(DroppedSounds, OverASceneMakesABedOfThatScene) {
    Scene scene;
    scene.inTime = 4.0f;
    scene.outTime = 9.0f;
    CurrentProject.scenes = {Scene{}, scene};
    const DropRule rule = Drop({readable, unreadable}, true, [](DropState& d) { d.dropTargetScene = 1; });
    EXPECT_EQ(rule, DropRule::SceneBed);
    ASSERT_EQ(CurrentProject.events.size(), 1u);
    EXPECT_FLOAT_EQ(CurrentProject.events[0].time, 4.0f);
    EXPECT_EQ(CurrentProject.events[0].pinnedFiles, (std::vector<std::string>{readable, unreadable}));
    EXPECT_EQ(GlobalAppState.selectedEvent, 0);
    EXPECT_EQ(GlobalAppState.pendingBedLayout, 0);
    EXPECT_TRUE(GlobalAppState.unsavedChanges);
    EXPECT_EQ(UndoStack.size(), 1u);
    EXPECT_EQ(GlobalAppState.dropState.dropTargetScene, -1);
}

TEST_F(DroppedSounds, OverTheInspectorOfABedAddsItsLayers) {
    AddBed();
    const std::int32_t bed = AddBed();
    GlobalAppState.selectedEvent = bed;
    GlobalAppState.selectedEvents = {bed};
    const DropRule rule = Drop({readable}, false, [](DropState& d) { d.dropOverInspector = true; });
    EXPECT_EQ(rule, DropRule::InspectorBed);
    EXPECT_EQ(CurrentProject.events[1].pinnedFiles, std::vector<std::string>{readable});
    EXPECT_EQ(GlobalAppState.pendingBedLayout, bed);
    EXPECT_EQ(UndoStack.size(), 1u);
}

TEST_F(DroppedSounds, WithAltLayersGoToTheSelectedBedOrANewOne) {
    const std::int32_t bed = AddBed();
    GlobalAppState.selectedEvent = bed;
    GlobalAppState.selectedEvents = {bed};
    EXPECT_EQ(Drop({readable, unreadable, readable}, true, nullptr), DropRule::AltBed);
    ASSERT_EQ(CurrentProject.events.size(), 1u);
    EXPECT_EQ(CurrentProject.events[0].pinnedFiles.size(), 3u);
    EXPECT_EQ(UndoStack.size(), 1u);

    // Two events selected: a new locked Bed at the playhead takes the files.
    const std::int32_t other = AddBed();
    GlobalAppState.selectedEvents = {bed, other};
    EXPECT_EQ(Drop({readable}, true, nullptr), DropRule::AltBed);
    ASSERT_EQ(CurrentProject.events.size(), 3u);
    const Event& made = CurrentProject.events[2];
    EXPECT_TRUE(IsKind(made.shape, EventKind::Bed));
    EXPECT_TRUE(made.locked);
    EXPECT_FLOAT_EQ(made.time, 12.5f);
    EXPECT_FLOAT_EQ(made.weightCenter, 0.3f);
    EXPECT_EQ(made.pinnedFiles, std::vector<std::string>{readable});
    EXPECT_EQ(GlobalAppState.selectedEvents, (std::set<std::int32_t>{2}));
    EXPECT_EQ(GlobalAppState.selectedEvent, 2);
    EXPECT_EQ(GlobalAppState.pendingBedLayout, 2);
    EXPECT_EQ(UndoStack.size(), 2u);
    EXPECT_FALSE(GlobalAppState.dropState.altAtDrop);
}

TEST_F(DroppedSounds, ElsewhereEachFileBecomesAClipAtThePlayhead) {
    AddBed();
    GlobalAppState.selectedEvents = {0};
    GlobalAppState.selectedEvent = 0;
    CurrentProject.trackLayout.groups[1].targetLUFS = -20.0f;
    CurrentProject.normalizeLUFS = false;
    EXPECT_EQ(Drop({readable, unreadable}, false, nullptr), DropRule::Clips);

    ASSERT_EQ(CurrentProject.events.size(), 3u);
    for (std::size_t i : {1u, 2u}) {
        SCOPED_TRACE(i);
        const Event& clip = CurrentProject.events[i];
        EXPECT_TRUE(IsKind(clip.shape, EventKind::Clip));
        EXPECT_FLOAT_EQ(clip.time, 12.5f);
        EXPECT_TRUE(clip.locked);
        EXPECT_TRUE(clip.usePinnedFile);
    }
    EXPECT_EQ(TextOf(CurrentProject.events[1].pinnedFile), readable);
    EXPECT_FALSE(CurrentProject.events[1].pinnedFileId.empty());
    // Each clip is at least 0.1 s (an unreadable file gets no layer) and as
    // long as the layer it got.
    for (std::size_t i : {1u, 2u}) {
        float expected = 0.1f;
        for (const LayerResult& layer : CurrentProject.results) {
            if (layer.eventIdx == static_cast<std::int32_t>(i)) expected = std::max(0.1f, layer.duration);
        }
        EXPECT_FLOAT_EQ(CurrentProject.events[i].duration, expected);
    }
    EXPECT_EQ(GlobalAppState.selectedEvents, (std::set<std::int32_t>{1, 2}));
    EXPECT_EQ(GlobalAppState.selectedEvent, 2);
    EXPECT_EQ(UndoStack.size(), 1u);
    EXPECT_TRUE(engine->ready.load());
    EXPECT_FALSE(engine->normalizeLUFS);
    EXPECT_FLOAT_EQ(engine->groupTargetLUFS[1], -20.0f);
    EXPECT_NEAR(static_cast<double>(engine->position.load()), 12.5 * engine->sampleRate, 1.0);
    EXPECT_TRUE(GlobalAppState.dropState.droppedAudio.empty());
}

// A drop that arrives while a job runs waits with the targets of the frame it
// arrived in; recomputed later they would fall through to Clip events.
TEST_F(DroppedSounds, AHeldDropKeepsItsTargets) {
    Scene scene;
    scene.outTime = 5.0f;
    CurrentProject.scenes = {scene};
    GlobalAppState.backgroundJob.active.store(true);
    EXPECT_EQ(Drop({readable}, false, [](DropState& d) { d.dropTargetScene = 0; }), DropRule::Idle);
    for (int frame = 0; frame < 3; ++frame) {
        EndDropHoverFrame(GlobalAppState.dropState);  // frames without a drop: the panels set nothing
        EXPECT_EQ(HandleDroppedAudio(GlobalAppState, CurrentProject, library, *engine, operations), DropRule::Idle);
    }
    EXPECT_TRUE(CurrentProject.events.empty());
    EXPECT_TRUE(UndoStack.empty());

    GlobalAppState.backgroundJob.active.store(false);
    GlobalAppState.exportRunning.store(true);
    EXPECT_EQ(HandleDroppedAudio(GlobalAppState, CurrentProject, library, *engine, operations), DropRule::Idle);
    GlobalAppState.exportRunning.store(false);
    EXPECT_EQ(HandleDroppedAudio(GlobalAppState, CurrentProject, library, *engine, operations), DropRule::SceneBed);
    EXPECT_EQ(CurrentProject.events.size(), 1u);
    EXPECT_EQ(UndoStack.size(), 1u);
}

// Until the project operations are handed in, a drop that needs one is
// dropped whole: no undo step, no unsaved change, nothing left waiting.
TEST_F(DroppedSounds, ARuleWithoutItsOperationMakesNoEdit) {
    operations = DropOperations{};
    Scene scene;
    scene.outTime = 5.0f;
    CurrentProject.scenes = {scene};
    EXPECT_EQ(Drop({readable}, false, [](DropState& d) { d.dropTargetScene = 0; }), DropRule::Idle);
    EXPECT_EQ(Drop({readable}, true, nullptr), DropRule::Idle);
    EXPECT_EQ(Drop({readable}, false, nullptr), DropRule::Idle);
    EXPECT_TRUE(UndoStack.empty());
    EXPECT_FALSE(GlobalAppState.unsavedChanges);
    EXPECT_TRUE(CurrentProject.events.empty());
    EXPECT_TRUE(GlobalAppState.dropState.droppedAudio.empty());
    EXPECT_EQ(Drop({readable}, false, [](DropState& d) { d.dropOverLibrary = true; }), DropRule::NewPalette);
}

TEST_F(DroppedSounds, RuleOrder) {
    struct Case {
        const char* name;
        bool overLibrary;
        std::int32_t scene;
        bool overInspector;
        bool bedSelected;
        bool alt;
        DropRule rule;
    };
    const Case cases[] = {
        {"library first", true, 0, true, true, true, DropRule::NewPalette},
        {"then a scene", false, 0, true, true, true, DropRule::SceneBed},
        {"a scene index past the list", false, 7, false, false, false, DropRule::Clips},
        {"then the inspector of a Bed", false, -1, true, true, true, DropRule::InspectorBed},
        {"inspector without a Bed selected", false, -1, true, false, false, DropRule::Clips},
        {"then Alt", false, -1, false, false, true, DropRule::AltBed},
        {"else clips", false, -1, false, true, false, DropRule::Clips},
    };
    CurrentProject.scenes.resize(1);
    AddBed();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DropState& drop = GlobalAppState.dropState;
        drop.droppedAudio = {readable};
        drop.heldOverLibrary = c.overLibrary;
        drop.heldTargetScene = c.scene;
        drop.heldOverInspector = c.overInspector;
        drop.altAtDrop = c.alt;
        GlobalAppState.selectedEvent = c.bedSelected ? 0 : -1;
        EXPECT_EQ(ChooseDropRule(GlobalAppState, CurrentProject), c.rule);
    }
}

}  // namespace
}  // namespace korvel
