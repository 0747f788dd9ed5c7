#include "engine/sound_history.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "build_fixture.h"
#include "engine/layer_render.h"
#include "engine/published_layers.h"
#include "library/library.h"
#include "platform/thread_checks.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

using test::MakeEvent;
using test::MakeFile;
using test::MakePalette;

LayerResult Sounding(const std::string& path) {
    LayerResult layer;
    layer.name = path;
    layer.filepath = path;
    layer.sourceDuration = 1.0f;
    layer.duration = 1.0f;
    layer.weight = 0.45f;  // the fixture files' tone: every file scores well
    return layer;
}

std::vector<std::string> Paths(const LayerResult& layer) {
    std::vector<std::string> paths;
    for (const SoundChoice& choice : layer.history) paths.push_back(choice.filepath);
    return paths;
}

TEST(SoundHistory, StepsBackAndForwardAndAPushCutsTheBrowsedEntries) {
    LayerResult layer = Sounding("D");
    for (const char* path : {"A", "B", "C"}) layer.history.push_back({path, path, "", 0, 1, 0, 0, 0});
    layer.muted = true;
    EXPECT_FALSE(StepSoundHistoryForward(layer)) << "the live sound is the newest";

    // Two steps back show B; the live sound D was recorded first.
    ASSERT_TRUE(StepSoundHistoryBack(layer));
    ASSERT_TRUE(StepSoundHistoryBack(layer));
    EXPECT_EQ(layer.filepath, "B");
    EXPECT_FALSE(layer.muted);
    EXPECT_EQ(layer.historyPos, 1);
    EXPECT_EQ(Paths(layer), (std::vector<std::string>{"A", "B", "C", "D"}));
    ASSERT_TRUE(StepSoundHistoryForward(layer));
    EXPECT_EQ(layer.filepath, "C");
    ASSERT_TRUE(StepSoundHistoryBack(layer));

    // A new sound now cuts B and everything after it.
    PushSoundHistory(layer);
    EXPECT_EQ(Paths(layer), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(layer.historyPos, -1);

    // Past the oldest entry nothing happens.
    layer.historyPos = 0;
    EXPECT_FALSE(StepSoundHistoryBack(layer));
    LayerResult fresh = Sounding("X");
    EXPECT_FALSE(StepSoundHistoryBack(fresh)) << "no history";
    EXPECT_TRUE(fresh.history.empty());
}

TEST(SoundHistory, HoldsTwentyDroppingTheOldest) {
    LayerResult layer = Sounding("live");
    for (int i = 0; i < 20; ++i) layer.history.push_back({"", std::to_string(i), "", 0, 1, 0, 0, 0});
    // One step back makes room for the live sound and shows the entry before it.
    ASSERT_TRUE(StepSoundHistoryBack(layer));
    EXPECT_EQ(layer.history.size(), 20u);
    EXPECT_EQ(layer.history.front().filepath, "1");
    EXPECT_EQ(layer.history.back().filepath, "live");
    EXPECT_EQ(layer.filepath, "19");
}

TEST(SoundHistory, AChangeOfFileDropsTheStoredSplices) {
    LayerResult layer = Sounding("/a.wav");
    layer.fillChunks = {{0, 100, 10}};
    ApplySoundChoice(layer, {"a again", "/a.wav", "", 0.5f, 1, 0, 0, 0});
    EXPECT_EQ(layer.fillChunks.size(), 1u) << "same file: the splices still fit";
    ApplySoundChoice(layer, {"b", "/b.wav", "", 0, 1, 0, 0, 0});
    EXPECT_TRUE(layer.fillChunks.empty());
}

class RerollTest : public testing::Test {
protected:
    void SetUp() override { project = Project{}; }
    // One Spot event at 10 s with the given layers, all on event 0.
    void OneEvent(EventKind kind, std::vector<LayerResult> layers) {
        project.events = {MakeEvent(kind, 10.0f, 1.0f)};
        for (LayerResult& layer : layers) layer.eventIdx = 0;
        project.results = std::move(layers);
    }
    Project project;
};

TEST_F(RerollTest, RefusalsLeaveTheSoundButRecordIt) {
    const std::vector<Palette> palettes = {MakePalette("All", {MakeFile("a"), MakeFile("b")})};
    const std::vector<Palette> empty;
    LayerResult alloy = Sounding("/lib/a.wav");
    alloy.procMode = 3;
    LayerResult orphan = Sounding("/lib/a.wav");
    OneEvent(EventKind::Spot, {Sounding("/lib/a.wav"), alloy});
    orphan.eventIdx = 5;
    project.results.push_back(orphan);

    EXPECT_FALSE(RerollLayer(project, 7, palettes)) << "no such layer";
    EXPECT_FALSE(RerollLayer(project, 2, palettes)) << "no such event";
    EXPECT_FALSE(RerollLayer(project, 1, palettes)) << "alloy";
    EXPECT_TRUE(project.results[1].history.empty());
    EXPECT_FALSE(RerollLayer(project, 0, empty)) << "empty pool";
    EXPECT_EQ(project.results[0].filepath, "/lib/a.wav");
    EXPECT_EQ(project.results[0].history.size(), 1u) << "recorded before the pool was found empty";
    EXPECT_EQ(project.revision, 0);
}

TEST_F(RerollTest, OwnFileAloneIsDrawnAgainAndAFileOfAnotherLayerNever) {
    const std::vector<Palette> own = {MakePalette("All", {MakeFile("a")})};
    OneEvent(EventKind::Bloom, {Sounding("/lib/a.wav")});
    EXPECT_TRUE(RerollLayer(project, 0, own));
    EXPECT_EQ(project.results[0].filepath, "/lib/a.wav");
    EXPECT_EQ(project.revision, 1);

    // b is used by the other layer of the event and never wins; the own file
    // keeps a hundredth of its score, so c wins nearly every draw.
    const std::vector<Palette> three = {MakePalette("All", {MakeFile("a"), MakeFile("b"), MakeFile("c")})};
    OneEvent(EventKind::Bloom, {Sounding("/lib/a.wav"), Sounding("/lib/b.wav")});
    int cWins = 0;
    for (int i = 0; i < 100; ++i) {
        project.results[0] = Sounding("/lib/a.wav");
        project.results[0].eventIdx = 0;
        ASSERT_TRUE(RerollLayer(project, 0, three));
        ASSERT_NE(project.results[0].filepath, "/lib/b.wav");
        if (project.results[0].filepath == "/lib/c.wav") ++cWins;
    }
    EXPECT_GE(cWins, 90) << "the own file is drawn about one time in a hundred";
}

TEST_F(RerollTest, FillTakesTheWholeNewFileAndDropsItsSplices) {
    const std::vector<Palette> palettes = {MakePalette("All", {MakeFile("long", 30.0f)})};
    LayerResult fill = Sounding("/lib/old.wav");
    fill.procMode = 1;
    fill.sourceOffset = 4.0f;
    fill.fillChunks = {{0, 480, 48}};
    OneEvent(EventKind::Fill, {fill});
    ASSERT_TRUE(RerollLayer(project, 0, palettes));
    const LayerResult& layer = project.results[0];
    EXPECT_EQ(layer.filepath, "/lib/long.wav");
    EXPECT_FLOAT_EQ(layer.sourceOffset, 0.0f);
    EXPECT_FLOAT_EQ(layer.sourceDuration, 30.0f);
    EXPECT_TRUE(layer.fillChunks.empty());
    EXPECT_EQ(layer.history.size(), 1u);
}

TEST_F(RerollTest, SpotIsPlacedAroundTheEventWithinItsMargin) {
    const std::vector<Palette> palettes = {MakePalette("All", {MakeFile("hit", 0.5f)})};
    OneEvent(EventKind::Spot, {Sounding("/lib/old.wav")});
    ASSERT_TRUE(RerollLayer(project, 0, palettes));
    const LayerResult& layer = project.results[0];
    // Within the event widened by Q = 0.15 M + 0.12 (M at most 1).
    EXPECT_GE(layer.startTime, 10.0f - 0.27f - 1e-4f);
    EXPECT_LE(layer.startTime + layer.duration, 11.27f + 1e-4f);
    EXPECT_GE(layer.duration, 0.1f);
    EXPECT_LE(layer.fadeIn, 0.45f * layer.duration + 1e-6f);
    EXPECT_LE(layer.fadeOut, 0.45f * layer.duration + 1e-6f);
}

// A layer the build left as a placeholder (no sound found, or a file that
// could not be read) takes a real file from "Next sound" or from its history,
// and is then rendered from that file: it sounds and draws its waveform.
TEST_F(RerollTest, APlaceholderGivenAFileIsRenderedFromIt) {
    test::TempDir dir;
    const std::string folder = dir.path().string();
    ASSERT_TRUE(test::WriteSoundFile(folder + "/metal.wav", test::MakeSine(440.0, 2.0, 48000), 1, 48000));
    const std::vector<Palette> palettes = {MakePalette("All", {MakeFile("metal", 2.0f, folder)})};
    LayerResult sketch = Sounding("");
    sketch.name = "[Sketch] Spot";
    sketch.isSketch = true;
    sketch.procMode = 2;
    OneEvent(EventKind::Spot, {sketch});

    ASSERT_TRUE(RerollLayer(project, 0, palettes));
    LayerResult& layer = project.results[0];
    EXPECT_EQ(layer.filepath, folder + "/metal.wav");
    EXPECT_FALSE(layer.isSketch);
    auto engine = std::make_unique<PlaybackEngine>();
    RenderLayerVoice(*engine, layer, 0, 48000, nullptr, 0, nullptr, 0, 0, false);
    ASSERT_EQ(engine->voices.size(), 1u);
    const auto& peaks = engine->voices[0].overviewPeak;
    EXPECT_GT(*std::max_element(peaks.begin(), peaks.end()), 0.1f) << "rendered from the file, not as silence";

    // Stepping back to the placeholder's own empty choice keeps it one;
    // stepping to a file makes it a file's layer again.
    layer.isSketch = true;
    ApplySoundChoice(layer, {"[Sketch] Spot", "", "", 0, 1, 0, 0, 0});
    EXPECT_TRUE(layer.isSketch);
    ApplySoundChoice(layer, {"metal", folder + "/metal.wav", "", 0, 1, 0, 0, 0});
    EXPECT_FALSE(layer.isSketch);
}

// The events-tab jobs run on the job thread while the track lanes read every
// layer's texts through the published view. A job that rewrote the layer in
// place could free a name under the reader; each one swaps in a whole edited
// copy instead. CI runs this under ThreadSanitizer.
class SoundJobsWhileLanesRead : public testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        CurrentProject = Project{};
        SoundLibrary.palettes.clear();
        GlobalAppState.backgroundJob.done.store(false);
    }
};

TEST_F(SoundJobsWhileLanesRead, EachJobSwapsInAWholeLayer) {
    // Names longer than any short-string buffer, so a new one needs new storage.
    const std::string longA = "a_long_name_that_needs_its_own_storage_on_the_heap";
    const std::string longC = "c_long_name_that_needs_its_own_storage_on_the_heap";
    struct Case {
        const char* name;
        void (*job)(std::int32_t);
        std::vector<SoundChoice> history;
        std::int32_t historyPos;
        std::string expected;  // the layer's file afterwards; empty: any new one
    };
    const Case cases[] = {
        {"re-roll", RunRerollSoundJob, {}, -1, ""},
        {"previous sound", RunPreviousSoundJob, {{longA, "/lib/" + longA + ".wav", "", 0, 1, 0, 0, 0}}, -1,
         "/lib/" + longA + ".wav"},
        {"next sound from the history",
         RunNextHistorySoundJob,
         {{"b", "/lib/b.wav", "", 0, 1, 0, 0, 0}, {longC, "/lib/" + longC + ".wav", "", 0, 1, 0, 0, 0}},
         0,
         "/lib/" + longC + ".wav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        SoundLibrary.palettes = {MakePalette("All", {MakeFile(longA), MakeFile(longC)})};
        Project& project = CurrentProject;
        project.events = {MakeEvent(EventKind::Bloom, 10.0f, 1.0f)};
        for (const char* path : {"/lib/b.wav", "/lib/other.wav"}) {
            LayerResult layer = Sounding(path);
            layer.eventIdx = 0;
            project.results.push_back(layer);
        }
        project.results[0].history = c.history;
        project.results[0].historyPos = c.historyPos;
        PublishBuiltLayers(project, static_cast<std::int32_t>(project.results.size()));

        std::thread job([&c] {
            SetThreadRole(ThreadRole::Job);
            c.job(0);
        });
        std::size_t read = 0;
        do {
            const PublishedLayersView view(project);
            for (const LayerResult& layer : view.layers()) {
                const std::string name = layer.name, path = layer.filepath;
                read += name.size() + path.size();
            }
        } while (!GlobalAppState.backgroundJob.done.load(std::memory_order_acquire));
        job.join();
        EXPECT_GT(read, 0u);

        const LayerResult& layer = project.results[0];
        if (c.expected.empty()) {
            EXPECT_NE(layer.filepath, "/lib/b.wav");
            EXPECT_EQ(Paths(layer), std::vector<std::string>{"/lib/b.wav"}) << "the old sound was recorded";
        } else {
            EXPECT_EQ(layer.filepath, c.expected);
        }
        EXPECT_FALSE(layer.name.empty());
        EXPECT_EQ(project.revision, c.expected.empty() ? 1 : 0) << "a re-roll bumps the revision, a step does not";
        EXPECT_EQ(project.results[1].filepath, "/lib/other.wav") << "the other layer is untouched";
    }
}

}  // namespace
}  // namespace korvel
