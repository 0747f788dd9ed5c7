#include "engine/render_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "build_fixture.h"
#include "library/library.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"

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
