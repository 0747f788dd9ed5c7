#include "engine/render_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "build_fixture.h"
#include "engine/voice_sync.h"
#include "library/library.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

using test::MakeEvent;
using test::MakeFile;
using test::MakePalette;
using test::ScopedBuildSeed;

class ScopedEnv {
public:
    explicit ScopedEnv(const char* name) : name_(name) { setenv(name, "1", 1); }
    ~ScopedEnv() { unsetenv(name_); }

private:
    const char* name_;
};

RenderRequest FullRequest(std::int32_t mode = kRenderBuild, float rangeStart = -1.0f, float rangeEnd = -1.0f) {
    RenderRequest request;
    request.mode = mode;
    request.full = true;
    request.rangeStart = rangeStart;
    request.rangeEnd = rangeEnd;
    return request;
}

RenderRequest ListRequest(std::vector<std::int32_t> events, float rangeStart = -1.0f, float rangeEnd = -1.0f) {
    RenderRequest request;
    request.mode = kRenderEventList;
    request.eventList = std::move(events);
    request.rangeStart = rangeStart;
    request.rangeEnd = rangeEnd;
    return request;
}

RenderRequest EventRequest(std::int32_t event) {
    RenderRequest request;
    request.mode = kRenderRebuildEvent;
    request.eventIndex = event;
    return request;
}

class RenderJobTest : public ::testing::Test {
protected:
    ScopedBuildSeed seed;

    void SetUp() override {
        CurrentProject = Project{};
        SoundLibrary.palettes = {MakePalette("All", {MakeFile("a"), MakeFile("b"), MakeFile("c")})};
        BackgroundJob& job = GlobalAppState.backgroundJob;
        job.done.store(false);
        job.cancel.store(false);
        job.jobEventsDone.store(0);
        job.jobEventTotal = 0;
        LivePlaybackEngine.voicesRendered.store(0);
        GlobalAppState.playhead = 0.0f;
        unsetenv("KV_SINGLE_PASS");
        unsetenv("KV_RENDER_TIMING");
    }
    void TearDown() override {
        CurrentProject = Project{};
        SoundLibrary.palettes.clear();
    }

    // An event whose one pinned file gives it exactly one layer per build.
    static Event PinnedEvent(float time, float duration, const char* path, bool locked = false) {
        Event event = MakeEvent(EventKind::Spot, time, duration, 0.2f);
        event.pinnedFiles = {path};
        event.locked = locked;
        return event;
    }
    static LayerResult OldLayer(std::int32_t event) {
        LayerResult layer;
        layer.eventIdx = event;
        layer.name = "old";
        return layer;
    }
    static std::vector<std::string> Names(std::int32_t event) {
        std::vector<std::string> names;
        for (const LayerResult& layer : CurrentProject.results)
            if (layer.eventIdx == event) names.push_back(layer.name);
        return names;
    }
    static bool Done() { return GlobalAppState.backgroundJob.done.load(); }
};

TEST_F(RenderJobTest, FullBuildWithAWorkAreaKeepsLockedAndOutsideEvents) {
    CurrentProject.events = {PinnedEvent(8.0f, 4.0f, "/lib/a.wav"), PinnedEvent(20.0f, 1.0f, "/lib/b.wav"),
                             PinnedEvent(12.0f, 1.0f, "/lib/c.wav", true), PinnedEvent(15.0f, 1.0f, "/lib/c.wav")};
    CurrentProject.results = {OldLayer(0), OldLayer(1), OldLayer(2), OldLayer(3), OldLayer(7)};
    RunRenderJob(FullRequest(kRenderBuild, 10.0f, 20.0f));

    EXPECT_TRUE(Done());
    EXPECT_EQ(Names(0), std::vector<std::string>{"a"});
    EXPECT_EQ(Names(1), std::vector<std::string>{"old"});
    EXPECT_EQ(Names(2), std::vector<std::string>{"old"});
    EXPECT_EQ(Names(3), std::vector<std::string>{"c"});
    EXPECT_TRUE(Names(7).empty());  // its event does not exist
    EXPECT_EQ(GlobalAppState.backgroundJob.jobEventTotal, 2);
    EXPECT_EQ(GlobalAppState.backgroundJob.jobEventsDone.load(), 2);
    // Kept layers and new ones are all rendered while the build grows.
    EXPECT_EQ(LivePlaybackEngine.voicesRendered.load(), 4);
    EXPECT_EQ(CurrentProject.builtResultCount.load(), 4);
}

TEST_F(RenderJobTest, AllLockedBuildsNothingButStillFinishes) {
    CurrentProject.events = {PinnedEvent(0.0f, 1.0f, "/lib/a.wav", true), PinnedEvent(2.0f, 1.0f, "/lib/b.wav", true)};
    CurrentProject.results = {OldLayer(0), OldLayer(1)};
    GlobalAppState.playhead = 1.5f;
    LivePlaybackEngine.sampleRate = 48000;
    RunRenderJob(FullRequest());
    EXPECT_TRUE(Done());
    EXPECT_EQ(GlobalAppState.backgroundJob.jobEventTotal, 0);
    EXPECT_EQ(Names(0), std::vector<std::string>{"old"});
    EXPECT_EQ(Names(1), std::vector<std::string>{"old"});
    EXPECT_EQ(LivePlaybackEngine.position.load(), 72000);
}

TEST_F(RenderJobTest, ListRenderUnlocksListedEventsOnly) {
    CurrentProject.events = {PinnedEvent(0.0f, 1.0f, "/lib/a.wav", true), PinnedEvent(2.0f, 1.0f, "/lib/b.wav", true),
                             PinnedEvent(4.0f, 1.0f, "/lib/c.wav")};
    CurrentProject.results = {OldLayer(0), OldLayer(1), OldLayer(2)};
    RunRenderJob(ListRequest({1, 9, -1}));
    EXPECT_TRUE(Done());
    EXPECT_FALSE(CurrentProject.events[1].locked);
    EXPECT_TRUE(CurrentProject.events[0].locked);
    EXPECT_EQ(Names(0), std::vector<std::string>{"old"});
    EXPECT_EQ(Names(1), std::vector<std::string>{"b"});
    EXPECT_EQ(Names(2), std::vector<std::string>{"old"});
    EXPECT_EQ(GlobalAppState.backgroundJob.jobEventsDone.load(), 1);  // the bad indices are skipped
}

TEST_F(RenderJobTest, EmptyListAndOneEventRequests) {
    CurrentProject.events = {PinnedEvent(0.0f, 1.0f, "/lib/a.wav", true), PinnedEvent(2.0f, 1.0f, "/lib/b.wav"),
                             PinnedEvent(30.0f, 1.0f, "/lib/c.wav")};
    CurrentProject.results = {OldLayer(0), OldLayer(1), OldLayer(2)};
    // An empty list builds every unlocked event in the range.
    RunRenderJob(ListRequest({}, 0.0f, 10.0f));
    EXPECT_TRUE(Done());
    EXPECT_EQ(Names(0), std::vector<std::string>{"old"});
    EXPECT_EQ(Names(1), std::vector<std::string>{"b"});
    EXPECT_EQ(Names(2), std::vector<std::string>{"old"});

    GlobalAppState.backgroundJob.done.store(false);
    RunRenderJob(EventRequest(0));
    EXPECT_TRUE(Done());
    EXPECT_EQ(Names(0), std::vector<std::string>{"a"});  // one event is rebuilt even when locked
    EXPECT_EQ(Names(2), std::vector<std::string>{"old"});
}

TEST_F(RenderJobTest, CancelStopsBetweenEventsAndTheJobStillEnds) {
    // The first build cancels the job, as the user's Cancel would while it runs.
    const ScopedBuildSeed cancelling([] {
        GlobalAppState.backgroundJob.cancel.store(true);
        return std::uint32_t{5};
    });
    CurrentProject.events = {PinnedEvent(0.0f, 1.0f, "/lib/a.wav"), PinnedEvent(2.0f, 1.0f, "/lib/b.wav"),
                             PinnedEvent(4.0f, 1.0f, "/lib/c.wav")};
    CurrentProject.results = {OldLayer(0), OldLayer(1), OldLayer(2)};
    RunRenderJob(FullRequest());
    EXPECT_TRUE(Done());
    EXPECT_EQ(Names(0), std::vector<std::string>{"a"});
    EXPECT_TRUE(Names(1).empty());
    EXPECT_TRUE(Names(2).empty());
    EXPECT_EQ(GlobalAppState.backgroundJob.jobEventsDone.load(), 1);
    EXPECT_FALSE(GlobalAppState.backgroundJob.cancel.load());  // cleared before the cache rebuild
}

TEST_F(RenderJobTest, SinglePassRendersNoVoicesWhileBuilding) {
    CurrentProject.events = {PinnedEvent(0.0f, 1.0f, "/lib/a.wav"), PinnedEvent(2.0f, 1.0f, "/lib/b.wav", true)};
    CurrentProject.results = {OldLayer(1)};
    const ScopedEnv singlePass("KV_SINGLE_PASS");
    RunRenderJob(FullRequest(kRenderRebuildAll));
    EXPECT_TRUE(Done());
    EXPECT_EQ(CurrentProject.results.size(), 2u);
    // Only the final cache rebuild renders: it counts each layer once.
    EXPECT_EQ(LivePlaybackEngine.voicesRendered.load(), 2);
}

TEST_F(RenderJobTest, TimingLinesOnePerJob) {
    CurrentProject.events = {PinnedEvent(0.0f, 1.0f, "/lib/a.wav")};
    const ScopedEnv timing("KV_RENDER_TIMING");
    struct Case {
        const char* name;
        RenderRequest request;
        bool singlePass;
        std::string prefix;
    };
    const std::vector<Case> cases = {
        {"double pass", FullRequest(), false, "[RenderTiming] double-pass | stream(render+cache)="},
        {"single pass", FullRequest(), true, "[RenderTiming] SINGLE-PASS | stream(render)="},
        {"list", ListRequest({0}), false,
         "[RenderTiming] INCREMENTAL | 1 event(s) re-rendered, 1 total blocks, TOTAL="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.singlePass) setenv("KV_SINGLE_PASS", "", 1);
        testing::internal::CaptureStderr();
        RunRenderJob(c.request);
        const std::string err = testing::internal::GetCapturedStderr();
        unsetenv("KV_SINGLE_PASS");
        EXPECT_EQ(err.rfind(c.prefix, 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    }
    unsetenv("KV_RENDER_TIMING");
    testing::internal::CaptureStderr();
    RunRenderJob(FullRequest());
    EXPECT_TRUE(testing::internal::GetCapturedStderr().empty());
}

// A Bed reaches a crossfade past its event and a Clip may run past its
// event, so silence protection cuts both where a gap follows. Every build
// re-syncs them: the Bed saw another length, dropped its loop and reported a
// change; the Clip saw other fades and took a new id, which failed the list
// render's cache check and ran the full rebuild with playback silent.
TEST_F(RenderJobTest, BedsAndClipsCutAtAGapStayPutWhileAnotherEventRenders) {
    test::TempDir dir;
    const std::string room = dir.file("room.wav");
    std::vector<float> noise(48000);
    std::uint32_t x = 1;
    for (float& v : noise) {
        x = x * 1103515245u + 12345u;
        v = 0.2f * (static_cast<float>(x >> 16) / 65535.0f - 0.5f);
    }
    ASSERT_TRUE(test::WriteSoundFile(room, noise, 1, 48000));
    const std::string door = dir.file("door.wav");
    ASSERT_TRUE(test::WriteSoundFile(door, std::vector<float>(4 * 48000, 0.1f), 1, 48000));

    struct Case {
        const char* name;
        Event event;  // 0 to 2 s, before the gap up to the Spot at 4 s
        float cutTo;
    };
    Event bed = MakeEvent(EventKind::Bed, 0.0f, 2.0f);
    bed.pinnedFiles = {room};
    bed.bedLayerLoop = {1};
    Event sceneBed = bed;
    sceneBed.sceneLink = 0;
    sceneBed.sceneCrossfade = 12;  // half a second at 24 fps
    Event clip = MakeEvent(EventKind::Clip, 0.0f, 2.0f);
    CopyText(clip.pinnedFile, door);
    clip.clipSourceDuration = 3.0f;  // shorter than its file, longer than its event
    clip.clipFadeOut = 1.2f;         // capped at 0.45 × 2 s by the cut
    const Case cases[] = {
        {"Bed, one frame past its event", bed, 2.0f},
        {"Bed linked to a scene, half a second past", sceneBed, 2.0f},
        {"Clip with the designer's fade-out", clip, 2.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        CurrentProject.fps = 24.0f;
        CurrentProject.totalDuration = 30.0f;
        CurrentProject.events = {c.event, PinnedEvent(4.0f, 1.0f, "/lib/a.wav")};
        RunRenderJob(FullRequest());
        const auto layerOf = [](std::int32_t event) -> const LayerResult& {
            for (const LayerResult& layer : CurrentProject.results)
                if (layer.eventIdx == event) return layer;
            return CurrentProject.results.front();
        };
        const LayerResult first = layerOf(0);
        ASSERT_EQ(first.eventIdx, 0);
        ASSERT_NEAR(first.duration, c.cutTo, 1e-5f) << "cut at the gap";
        const bool isBed = IsKind(c.event.shape, EventKind::Bed);
        if (isBed) {
            ASSERT_FALSE(first.fillChunks.empty()) << "the loop is stored";
        }
        GlobalAppState.audioUpdateRequested.store(false);

        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            const int revision = CurrentProject.revision;
            RunRenderJob(ListRequest({1}));
            const LayerResult& now = layerOf(0);
            EXPECT_EQ(now.id, first.id);
            EXPECT_FLOAT_EQ(now.duration, first.duration);
            EXPECT_FLOAT_EQ(now.fadeOut, first.fadeOut);
            EXPECT_EQ(now.fillChunks.size(), first.fillChunks.size());
            EXPECT_TRUE(std::equal(now.fillChunks.begin(), now.fillChunks.end(), first.fillChunks.begin(),
                                   first.fillChunks.end(), [](const FillChunk& a, const FillChunk& b) {
                                       return a.s == b.s && a.l == b.l && a.x == b.x;
                                   }));
            EXPECT_FALSE(GlobalAppState.audioUpdateRequested.load()) << "no full rebuild asked";
            // One build's finish, nothing more: a changed bed adds its own
            // (a clip counts every re-sync).
            if (isBed) {
                EXPECT_EQ(CurrentProject.revision, revision + 1);
            }
        }
        // Nor does the upkeep after new analysis results, which would ask for
        // the full rebuild.
        EXPECT_FALSE(RefreshBedAndClipLayers()) << "an untouched bed reports no change";
        EXPECT_EQ(layerOf(0).id, first.id);
    }
}

TEST(IsResultInRebuildRange, ExistingUnlockedEventsInTheRange) {
    std::vector<Event> events = {MakeEvent(EventKind::Spot, 8.0f, 4.0f), MakeEvent(EventKind::Spot, 20.0f, 1.0f),
                                 MakeEvent(EventKind::Spot, 12.0f, 1.0f)};
    events[2].locked = true;
    struct Case {
        const char* name;
        std::int32_t event;
        bool active;
        bool in;
    };
    const std::vector<Case> cases = {
        {"overlaps the range", 0, true, true},  {"starts at the range's end", 1, true, false},
        {"locked", 2, true, false},             {"no range: every unlocked event", 1, false, true},
        {"no such event", 3, false, false},     {"negative index", -1, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LayerResult layer;
        layer.eventIdx = c.event;
        EXPECT_EQ(IsResultInRebuildRange(layer, {&events, c.active, 10.0f, 20.0f}), c.in);
    }
}

}  // namespace
}  // namespace korvel
