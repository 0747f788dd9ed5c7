#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "build_fixture.h"
#include "engine/bed_event.h"
#include "engine/build_events.h"
#include "engine/clip_event.h"
#include "engine/published_layers.h"
#include "engine/silence_protection.h"
#include "library/file_id.h"
#include "library/library.h"
#include "platform/thread_checks.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

using test::MakeEvent;

class ClipBedEvents : public testing::Test {
protected:
    void SetUp() override {
        mono = dir.file("Door_01.wav");
        ASSERT_TRUE(test::WriteSoundFile(mono, std::vector<float>(4 * 48000, 0.1f), 1, 48000));
        stereo = dir.file("rain.wav");
        ASSERT_TRUE(test::WriteSoundFile(stereo, std::vector<float>(2 * 2 * 48000, 0.1f), 2, 48000));
        project.totalDuration = 30.0f;
        project.fps = 25.0f;
    }

    Event& AddClip(const std::string& path, float time, float duration) {
        Event event = MakeEvent(EventKind::Clip, time, duration);
        CopyText(event.pinnedFile, path);
        project.events.push_back(event);
        return project.events.back();
    }

    test::TempDir dir;
    std::string mono, stereo;
    Project project;
};

TEST_F(ClipBedEvents, ClipLengthsFadesAndPlace) {
    struct Case {
        const char* name;
        float time, offset, sourceDuration, fadeIn, fadeOut;
        float length, expectFadeIn, expectFadeOut;
    };
    const Case cases[] = {
        {"whole file, automatic fades", 2.0f, 0.0f, 0.0f, -1.0f, -1.0f, 4.0f, 0.01f, 0.05f},
        {"part of the file", 2.0f, 1.0f, 2.0f, -1.0f, -1.0f, 2.0f, 0.01f, 0.05f},
        {"rest of the file", 2.0f, 3.0f, 0.0f, -1.0f, -1.0f, 1.0f, 0.01f, 0.05f},
        {"short: fades scale", 2.0f, 3.8f, 0.0f, -1.0f, -1.0f, 0.2f, 0.004f, 0.01f},
        {"offset past the end", 2.0f, 9.0f, 0.0f, -1.0f, -1.0f, 0.0f, 0.0f, 0.0f},
        {"fade 0 is a fade of 0", 2.0f, 0.0f, 0.0f, 0.0f, 0.0f, 4.0f, 0.0f, 0.0f},
        {"0.2 s before the project's end", 29.8f, 0.0f, 0.0f, -1.0f, -1.0f, 0.2f, 0.004f, 0.01f},
        {"past the project's end", 31.0f, 0.0f, 0.0f, -1.0f, -1.0f, 0.01f, 0.0002f, 0.0005f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        project.events.clear();
        project.results.clear();
        Event& event = AddClip(mono, c.time, 3.0f);
        event.clipSourceOffset = c.offset;
        event.clipSourceDuration = c.sourceDuration;
        event.clipFadeIn = c.fadeIn;
        event.clipFadeOut = c.fadeOut;
        event.syncOffset = 0.0f;
        ASSERT_TRUE(BuildClipEvent(project, 0));
        ASSERT_EQ(project.results.size(), 1u);
        const LayerResult& layer = project.results[0];
        EXPECT_NEAR(layer.duration, c.length, 1e-5);
        EXPECT_NEAR(layer.sourceDuration, c.length, 1e-5);
        EXPECT_FLOAT_EQ(layer.sourceOffset, c.offset);
        EXPECT_NEAR(layer.fadeIn, c.expectFadeIn, 1e-6);
        EXPECT_NEAR(layer.fadeOut, c.expectFadeOut, 1e-6);
        EXPECT_FLOAT_EQ(layer.startTime, c.time);
        EXPECT_EQ(layer.procMode, 2);
        EXPECT_EQ(layer.name, "Door_01.wav");
        EXPECT_FALSE(layer.isSketch);
        EXPECT_TRUE(project.built);
    }
}

TEST_F(ClipBedEvents, ClipRefusalsPlaceholderAndStereo) {
    project.events.push_back(MakeEvent(EventKind::Spot, 0, 1));
    AddClip("", 0, 1);
    EXPECT_FALSE(BuildClipEvent(project, 0)) << "not a Clip";
    EXPECT_FALSE(BuildClipEvent(project, 1)) << "no file";
    EXPECT_FALSE(BuildClipEvent(project, 2));
    EXPECT_FALSE(BuildClipEvent(project, -1));
    EXPECT_TRUE(project.results.empty());
    EXPECT_FALSE(project.built);

    Event& missing = AddClip(dir.file("gone/Door_01.wav"), 1.0f, 2.5f);
    missing.syncOffset = 0.25f;
    ASSERT_TRUE(BuildClipEvent(project, 2));
    ASSERT_EQ(project.results.size(), 1u);
    EXPECT_EQ(project.results[0].name, "[Missing] Door_01.wav");
    EXPECT_TRUE(project.results[0].isSketch);
    EXPECT_FLOAT_EQ(project.results[0].duration, 2.5f);
    EXPECT_FLOAT_EQ(project.results[0].startTime, 0.75f);

    Event& onStereo = AddClip(mono, 5, 1);
    onStereo.stereo = true;
    ASSERT_TRUE(BuildClipEvent(project, 3));
    EXPECT_TRUE(project.results.back().stereo) << "a mono file on a stereo event";
    AddClip(stereo, 6, 1);
    ASSERT_TRUE(BuildClipEvent(project, 4));
    EXPECT_TRUE(project.results.back().stereo);
}

// Every build calls it: an unchanged clip keeps its layer and id (so its
// voice still matches), a changed one takes a new id; the designer's mix
// settings carry over either way.
TEST_F(ClipBedEvents, ClipRebuildKeepsIdUnlessChangedAndKeepsTheMix) {
    AddClip(mono, 2, 3);
    ASSERT_TRUE(BuildClipEvent(project, 0));
    LayerResult& layer = project.results[0];
    const std::int32_t id = layer.id;
    layer.muted = true;
    layer.userVolume = 0.4f;
    layer.groupTrack = 3;  // what allocation and the passes rewrite is ignored
    ASSERT_TRUE(BuildClipEvent(project, 0));
    EXPECT_EQ(project.results[0].id, id);

    project.events[0].clipFadeOut = 0.3f;
    ASSERT_TRUE(BuildClipEvent(project, 0));
    EXPECT_NE(project.results[0].id, id);
    EXPECT_TRUE(project.results[0].muted);
    EXPECT_FLOAT_EQ(project.results[0].userVolume, 0.4f);
    EXPECT_FLOAT_EQ(project.results[0].fadeOut, 0.3f);
    EXPECT_EQ(project.results.size(), 1u);

    const std::int32_t second = project.results[0].id;
    project.events[0].intensity.fill(0.9f);
    ASSERT_TRUE(BuildClipEvent(project, 0));
    EXPECT_NE(project.results[0].id, second) << "its intensity gain changed";
    EXPECT_FLOAT_EQ(project.results[0].intGain[100], 0.9f);
}

Event& AddBed(Project& project, const std::vector<std::string>& files, float time, float duration) {
    Event event = MakeEvent(EventKind::Bed, time, duration);
    event.pinnedFiles = files;
    project.events.push_back(event);
    return project.events.back();
}

TEST_F(ClipBedEvents, BedLengthsAndFades) {
    struct Case {
        const char* name;
        float fps;
        std::int32_t sceneLink, sceneCrossfade;
        float duration, length, fade;
    };
    const Case cases[] = {
        {"25 fps, no scene", 25.0f, -1, 12, 10.0f, 10.04f, 0.04f},
        {"scene, 12 frames at 24", 24.0f, 0, 12, 10.0f, 10.5f, 0.5f},
        {"scene, negative crossfade", 24.0f, 0, -3, 10.0f, 10.0f, 0.0f},
        {"fps 0", 0.0f, -1, 1, 10.0f, 10.04f, 0.04f},
        {"very short", 25.0f, 0, 0, 0.01f, 0.05f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Project p;
        p.fps = c.fps;
        Event& bed = AddBed(p, {mono, stereo}, 3.0f, c.duration);
        bed.syncOffset = 0.5f;
        bed.sceneLink = c.sceneLink;
        bed.sceneCrossfade = c.sceneCrossfade;
        EXPECT_TRUE(SyncBedEventLayers(p, 0));
        ASSERT_EQ(p.results.size(), 2u);
        for (const LayerResult& layer : p.results) {
            EXPECT_NEAR(layer.duration, c.length, 1e-5);
            EXPECT_NEAR(layer.fadeIn, c.fade, 1e-6);
            EXPECT_NEAR(layer.fadeOut, c.fade, 1e-6);
            EXPECT_FLOAT_EQ(layer.startTime, 2.5f);
            EXPECT_EQ(layer.procMode, 1);
            EXPECT_FLOAT_EQ(layer.weight, 0.5f);
        }
        EXPECT_FALSE(p.results[0].stereo);
        EXPECT_TRUE(p.results[1].stereo);
        EXPECT_TRUE(p.events[0].usePinnedFile);
        EXPECT_EQ(p.events[0].bedLayerWeight.size(), 2u) << "parallel lists padded";
        EXPECT_FALSE(SyncBedEventLayers(p, 0)) << "nothing changed";
    }
}

// Silence protection's cut at the gap after the event is not a change of the
// Bed or the Clip; closing the gap is: the layer grows back to its length.
TEST_F(ClipBedEvents, TheCutAtAGapIsNoChangeUntilTheGapCloses) {
    struct Case {
        const char* name;
        bool bed;
    };
    for (const Case& c : {Case{"Bed", true}, Case{"Clip", false}}) {
        SCOPED_TRACE(c.name);
        project.events.clear();
        project.results.clear();
        if (c.bed) {
            Event& bed = AddBed(project, {mono}, 0.0f, 2.0f);
            bed.sceneLink = 0;
            bed.sceneCrossfade = 10;  // 0.4 s past the event at 25 fps
        } else {
            Event& clip = AddClip(mono, 0.0f, 2.0f);  // its 4 s file runs on
            clip.syncOffset = 0.0f;
            clip.clipFadeOut = 1.5f;
        }
        project.events.push_back(MakeEvent(EventKind::Spot, 3.0f, 1.0f));
        const auto sync = [&] { return c.bed ? SyncBedEventLayers(project, 0) : BuildClipEvent(project, 0); };
        ASSERT_TRUE(sync());
        ProtectSilence(project);
        LayerResult& cut = project.results[0];
        ASSERT_FLOAT_EQ(cut.duration, 2.0f);
        const std::int32_t id = cut.id;
        cut.fillChunks = {{0, 96000, 0}};  // a rendered loop

        const bool changed = sync();
        EXPECT_TRUE(!c.bed || !changed) << "the bed reports no change";
        EXPECT_EQ(project.results[0].id, id);
        EXPECT_FLOAT_EQ(project.results[0].duration, 2.0f);
        EXPECT_EQ(project.results[0].fillChunks.size(), 1u);

        project.events[1].time = 2.0f;  // no gap any more
        EXPECT_TRUE(sync());
        EXPECT_GT(project.results[0].duration, 2.3f);
        if (c.bed) {
            EXPECT_TRUE(project.results[0].fillChunks.empty()) << "the loop is rendered again";
        } else {
            EXPECT_NE(project.results[0].id, id);
        }
    }
}

TEST_F(ClipBedEvents, BedListEdits) {
    const std::string third = dir.file("wind.wav");
    ASSERT_TRUE(test::WriteSoundFile(third, std::vector<float>(48000, 0.1f), 1, 48000));
    project.events.push_back(MakeEvent(EventKind::Spot, 0, 1));  // layers of other events stay put
    project.results.push_back(LayerResult{});
    project.results[0].eventIdx = 0;
    Event& bed = AddBed(project, {mono, stereo, third}, 0, 5);
    bed.bedLayerLoop = {1, 0, 1};
    ASSERT_TRUE(SyncBedEventLayers(project, 1));
    ASSERT_EQ(project.results.size(), 4u);
    const std::int32_t idMono = project.results[1].id, idThird = project.results[3].id;
    project.results[1].fillChunks = {{0, 10, 0}};  // a rendered loop
    EXPECT_TRUE(project.results[1].fillLoop);

    // Only a weight: updated, no change reported.
    project.events[1].bedLayerWeight = {0.8f, -1.0f, -1.0f};
    EXPECT_FALSE(SyncBedEventLayers(project, 1));
    EXPECT_FLOAT_EQ(project.results[1].weight, 0.8f);

    // Removing the second file drops exactly its layer.
    Event& edited = project.events[1];
    edited.pinnedFiles = {mono, third};
    edited.pinnedFileIds.clear();
    edited.bedLayerLoop = {1, 1};
    edited.bedLayerWeight = {0.8f, -1.0f};
    EXPECT_TRUE(SyncBedEventLayers(project, 1));
    ASSERT_EQ(project.results.size(), 3u);
    EXPECT_EQ(project.results[1].id, idMono);
    EXPECT_EQ(project.results[2].id, idThird);
    EXPECT_EQ(project.results[1].fillChunks.size(), 1u) << "its rendered loop is kept";

    // Reordering rewrites the bed's slots in file order.
    std::swap(edited.pinnedFiles[0], edited.pinnedFiles[1]);
    EXPECT_TRUE(SyncBedEventLayers(project, 1));
    EXPECT_EQ(project.results[1].id, idThird);
    EXPECT_EQ(project.results[2].id, idMono);
    EXPECT_EQ(project.results[0].eventIdx, 0);

    // A loop flag change empties the stored loop.
    edited.bedLayerLoop = {1, 0};
    EXPECT_TRUE(SyncBedEventLayers(project, 1));
    EXPECT_TRUE(project.results[2].fillChunks.empty());

    // A file listed twice has one layer, set by the later entry, and stays settled.
    edited.pinnedFiles = {mono, third, mono};
    edited.bedLayerLoop = {1, 1, 0};
    edited.bedLayerWeight = {0.1f, -1.0f, 0.7f};
    SyncBedEventLayers(project, 1);
    ASSERT_EQ(project.results.size(), 3u);
    for (const LayerResult& layer : project.results) {
        if (layer.id == idMono) {
            EXPECT_FALSE(layer.fillLoop);
            EXPECT_FLOAT_EQ(layer.weight, 0.7f);
        }
    }
    EXPECT_FALSE(SyncBedEventLayers(project, 1)) << "the two entries do not undo each other";

    // Emptying the list removes every layer of the bed.
    edited.pinnedFiles.clear();
    EXPECT_TRUE(SyncBedEventLayers(project, 1));
    ASSERT_EQ(project.results.size(), 1u);
    EXPECT_EQ(project.results[0].eventIdx, 0);
    EXPECT_FALSE(project.events[1].usePinnedFile);
    EXPECT_FALSE(SyncBedEventLayers(project, 0)) << "not a Bed";
    EXPECT_FALSE(SyncBedEventLayers(project, 5));
}

TEST_F(ClipBedEvents, BedFollowsAMovedFileByItsId) {
    const FileIdResult identity = ComputeFileId(mono);
    ASSERT_FALSE(identity.id.empty());
    Event& bed = AddBed(project, {mono}, 0, 5);
    bed.pinnedFileIds = {identity.id};
    ASSERT_TRUE(SyncBedEventLayers(project, 0));
    const std::int32_t id = project.results[0].id;
    project.results[0].fileId = identity.id;

    const std::string moved = dir.file("moved.wav");
    std::filesystem::rename(mono, moved);
    RegisterFileId({identity.id, moved, identity.fingerprint, identity.size});
    SyncBedEventLayers(project, 0);
    EXPECT_EQ(project.events[0].pinnedFiles[0], moved);
    ASSERT_EQ(project.results.size(), 1u);
    EXPECT_EQ(project.results[0].id, id) << "matched by its id";
}

// The events tab walks every pinned path of the selected event each frame,
// also while a build runs. The build writes a relinked path only when it
// differs and appends the legacy pin, each under the storage lock the tab
// reads under (JobReadLock). CI runs this under ThreadSanitizer.
TEST_F(ClipBedEvents, ABuildRelinksPinnedFilesWhileTheEventsTabReadsThem) {
    const FileIdResult spotId = ComputeFileId(mono);
    const FileIdResult bedId = ComputeFileId(stereo);
    ASSERT_FALSE(spotId.id.empty());
    ASSERT_FALSE(bedId.id.empty());
    const std::string spotMoved = dir.file("moved_spot_file_with_a_long_name.wav");
    const std::string bedMoved = dir.file("moved_bed_file_with_a_long_name.wav");
    std::filesystem::rename(mono, spotMoved);
    std::filesystem::rename(stereo, bedMoved);
    RegisterFileId({spotId.id, spotMoved, spotId.fingerprint, spotId.size});
    RegisterFileId({bedId.id, bedMoved, bedId.fingerprint, bedId.size});

    const std::vector<Palette> palettes = {test::MakePalette("All", {test::MakeFile("x")})};
    Event pinned = MakeEvent(EventKind::Spot, 1.0f, 1.0f, 0.2f);
    pinned.pinnedFiles = {mono};
    pinned.pinnedFileIds = {spotId.id};
    Event legacy = MakeEvent(EventKind::Spot, 4.0f, 1.0f, 0.2f);
    legacy.usePinnedFile = true;
    CopyText(legacy.pinnedFile, spotMoved);
    project.events = {pinned, legacy};
    Event& bed = AddBed(project, {stereo}, 6.0f, 2.0f);
    bed.pinnedFileIds = {bedId.id};

    std::atomic<bool> done{false};
    std::thread build([&] {
        SetThreadRole(ThreadRole::Job);
        BuildEvents(project, palettes, -1, -1.0f, -1.0f, false, false);
        done.store(true, std::memory_order_release);
    });
    std::size_t read = 0;
    do {
        const auto lock = JobReadLock(true);
        for (const Event& event : project.events)
            for (const std::string& path : event.pinnedFiles) read += path.size();
    } while (!done.load(std::memory_order_acquire));
    build.join();
    EXPECT_GT(read, 0u);

    EXPECT_EQ(project.events[0].pinnedFiles, std::vector<std::string>{spotMoved}) << "relinked by its id";
    EXPECT_EQ(project.events[1].pinnedFiles, std::vector<std::string>{spotMoved}) << "the legacy pin was taken";
    EXPECT_EQ(project.events[2].pinnedFiles, std::vector<std::string>{bedMoved}) << "the Bed relinked by its id";
    ASSERT_EQ(project.results.size(), 3u);
}

}  // namespace
}  // namespace korvel
