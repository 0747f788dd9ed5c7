// The layer rows headless: the banned rule, mute, like and dislike with
// their voices, the volume field's floor, the audition, the one sound change
// a frame with its undo step, the channel-layout choice and the name cut.
#include "ui/timeline/layer_rows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

#include "app/background_job.h"
#include "app/frame_work.h"
#include "engine/render_job.h"
#include "library/library.h"
#include "picture/video_player.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"
#include "timeline_fixture.h"

namespace korvel {
namespace {

LayerResult Layer(std::int32_t event, const char* path, float start = 0.0f) {
    LayerResult layer;
    layer.eventIdx = event;
    layer.filepath = path;
    layer.fileId = std::string("id-") + path;
    layer.name = path;
    layer.startTime = start;
    layer.duration = 1.0f;
    layer.groupTrack = 0;
    return layer;
}

class LayerRowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetTimelineState();
        Reset();
    }
    void TearDown() override { Reset(); }
    void Reset() {
        s.soloLayer = s.lastSoloLayer = -1;
        s.playing = false;
        BackgroundJob& job = s.backgroundJob;
        job.active.store(false);
        job.work = nullptr;
        job.label[0] = '\0';
        p.bannedFiles.clear();
        p.bannedFileIds.clear();
        p.revision = 0;
        PlaybackEngine& engine = LivePlaybackEngine;
        engine.soloVoice = -1;
        engine.playing.store(false);
        const VoiceListEdit edit(engine);
        engine.voices.clear();
        engine.voiceFadeIns.clear();
        engine.voiceFadeOuts.clear();
        engine.voiceCount.store(0);
    }
    // One voice per layer, in layer order, plus the extra ones given.
    void VoicesForLayers(std::vector<std::int32_t> extra = {}) {
        const VoiceListEdit edit(LivePlaybackEngine);
        for (std::size_t i = 0; i < p.results.size(); ++i) extra.insert(extra.begin() + static_cast<std::ptrdiff_t>(i), static_cast<std::int32_t>(i));
        for (std::int32_t layer : extra) {
            Voice v;
            v.resultIndex = layer;
            v.eventIndex = layer >= 0 && static_cast<std::size_t>(layer) < p.results.size()
                               ? p.results[static_cast<std::size_t>(layer)].eventIdx
                               : -1;
            LivePlaybackEngine.voices.push_back(v);
        }
    }
    std::vector<bool> VoiceMutes() {
        std::vector<bool> out;
        for (const Voice& v : LivePlaybackEngine.voices) out.push_back(v.muted);
        return out;
    }
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

TEST_F(LayerRowsTest, ABannedLayerStaysMuted) {
    p.events = {test::MakeEvent(0, 2)};
    p.results = {Layer(0, "/a.wav"), Layer(0, "/b.wav")};
    VoicesForLayers();
    p.bannedFiles = {"/a.wav"};
    EXPECT_TRUE(HoldBannedLayerMuted(p, LivePlaybackEngine, 0));
    EXPECT_TRUE(p.results[0].muted);
    EXPECT_EQ(p.revision, 1);
    EXPECT_EQ(VoiceMutes(), (std::vector<bool>{true, false}));
    EXPECT_FALSE(HoldBannedLayerMuted(p, LivePlaybackEngine, 0)) << "already muted: no new revision";
    EXPECT_FALSE(HoldBannedLayerMuted(p, LivePlaybackEngine, 1));
    EXPECT_EQ(p.revision, 1);

    ToggleLayerMute(p, LivePlaybackEngine, 0);
    EXPECT_TRUE(p.results[0].muted) << "its mute button does nothing";
    EXPECT_TRUE(UndoStack.empty());
    ToggleLayerMute(p, LivePlaybackEngine, 1);
    EXPECT_TRUE(p.results[1].muted);
    EXPECT_EQ(VoiceMutes(), (std::vector<bool>{true, true}));
    EXPECT_EQ(p.revision, 2);
    EXPECT_EQ(UndoStack.size(), 1u);
}

TEST_F(LayerRowsTest, MuteKeepsAMutedEventsVoicesSilent) {
    p.events = {test::MakeEvent(0, 2)};
    p.events[0].muted = true;
    p.results = {Layer(0, "/a.wav")};
    p.results[0].muted = true;
    VoicesForLayers();
    ToggleLayerMute(p, LivePlaybackEngine, 0);
    EXPECT_FALSE(p.results[0].muted);
    EXPECT_EQ(VoiceMutes(), (std::vector<bool>{true})) << "the event is still muted";
    ToggleLayerMute(p, LivePlaybackEngine, 5);  // stale: nothing
    EXPECT_EQ(UndoStack.size(), 1u);
}

TEST_F(LayerRowsTest, LikeUnbansAndPinsAndUnlikeUnpins) {
    p.events = {test::MakeEvent(0, 2)};
    p.results = {Layer(0, "/a.wav")};
    VoicesForLayers();
    p.BanFile("/a.wav", "id-/a.wav");
    ASSERT_TRUE(p.results[0].muted);
    HoldBannedLayerMuted(p, LivePlaybackEngine, 0);
    {
        std::lock_guard lock(LivePlaybackEngine.voiceMutex);
        LivePlaybackEngine.voices[0].muted = true;
    }
    const std::int32_t revision = p.revision;
    ToggleLayerLike(p, LivePlaybackEngine, 0);
    EXPECT_FALSE(p.IsFileBanned("/a.wav"));
    EXPECT_FALSE(p.results[0].muted);
    EXPECT_EQ(VoiceMutes(), (std::vector<bool>{false}));
    EXPECT_GT(p.revision, revision);
    EXPECT_TRUE(p.events[0].HasPinnedFile("/a.wav"));
    ToggleLayerLike(p, LivePlaybackEngine, 0);
    EXPECT_FALSE(p.events[0].HasPinnedFile("/a.wav"));
    EXPECT_EQ(UndoStack.size(), 2u);

    // A layer whose event is gone has nothing to pin to.
    p.results[0].eventIdx = 4;
    ToggleLayerLike(p, LivePlaybackEngine, 0);
    EXPECT_EQ(UndoStack.size(), 2u);
}

TEST_F(LayerRowsTest, DislikeBansAndMutesEveryVoiceOfTheFile) {
    p.events = {test::MakeEvent(0, 2), test::MakeEvent(5, 2)};
    p.results = {Layer(0, "/a.wav"), Layer(1, "/a.wav"), Layer(1, "/b.wav")};
    VoicesForLayers({-1, 9});  // voices that lost their layer are left alone
    p.events[0].AddPinnedFile("/a.wav", "id-/a.wav");
    ToggleLayerDislike(p, LivePlaybackEngine, 0);
    EXPECT_TRUE(p.IsFileBanned("/a.wav"));
    EXPECT_FALSE(p.events[0].HasPinnedFile("/a.wav")) << "a liked file is unpinned first";
    EXPECT_TRUE(p.results[0].muted);
    EXPECT_TRUE(p.results[1].muted);
    EXPECT_FALSE(p.results[2].muted);
    EXPECT_EQ(VoiceMutes(), (std::vector<bool>{true, true, false, false, false}));

    // Disliking again unbans and unmutes this layer.
    ToggleLayerDislike(p, LivePlaybackEngine, 0);
    EXPECT_FALSE(p.IsFileBanned("/a.wav"));
    EXPECT_FALSE(p.results[0].muted);
    EXPECT_EQ(VoiceMutes()[0], false);
    EXPECT_EQ(UndoStack.size(), 2u);
}

TEST_F(LayerRowsTest, VolumeFieldFloorAndRange) {
    struct Case {
        const char* name;
        float userVolume;
        float shownDb;
        float dragTo;  // what the field hands back
        float stored;
    };
    const Case cases[] = {
        // The drag clamps the shown -60 into -24..+6 first.
        {"silent layer shows the floor", 0.0f, -60.0f, -24.0f, std::pow(10.0f, -24.0f / 20.0f)},
        {"unity", 1.0f, 0.0f, 3.0f, std::pow(10.0f, 3.0f / 20.0f)},
        {"never above +6 dB", 1.0f, 0.0f, 40.0f, std::pow(10.0f, 6.0f / 20.0f)},
        {"never below -24 dB", 1.0f, 0.0f, -90.0f, std::pow(10.0f, -24.0f / 20.0f)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        p.events = {test::MakeEvent(0, 2)};
        p.results = {Layer(0, "/a.wav")};
        p.results[0].userVolume = c.userVolume;
        p.results[0].layerGain = 0.5f;
        p.results[0].weight = 0.9f;  // above 0.7: the voice gain tapers to 0.7
        VoicesForLayers({-1});
        EXPECT_NEAR(LayerVolumeDb(p.results[0]), c.shownDb, 1e-4f);
        s.unsavedChanges = false;
        SetLayerVolumeDb(s, p, LivePlaybackEngine, 0, c.dragTo);
        EXPECT_NEAR(p.results[0].userVolume, c.stored, 1e-5f);
        EXPECT_NEAR(LivePlaybackEngine.voices[0].gain, 0.7f * 0.5f * c.stored, 1e-5f);
        EXPECT_FLOAT_EQ(LivePlaybackEngine.voices[1].gain, 1.0f) << "another layer's voice";
        EXPECT_TRUE(s.unsavedChanges);
        EXPECT_TRUE(UndoStack.empty());
    }
}

TEST_F(LayerRowsTest, AuditionSolosTheLayersVoiceAndMovesTheTransport) {
    p.events = {test::MakeEvent(0, 2)};
    p.results = {Layer(0, "/a.wav", 1.0f), Layer(0, "/b.wav", 4.0f), Layer(0, "/c.wav", 6.0f)};
    {
        // Voices out of layer order; layer 2 has none.
        const VoiceListEdit edit(LivePlaybackEngine);
        for (std::int32_t layer : {1, 0}) {
            Voice v;
            v.resultIndex = layer;
            LivePlaybackEngine.voices.push_back(v);
        }
    }
    VideoPlayer video;  // not loaded: nothing to seek
    EXPECT_TRUE(ToggleLayerRowAudition(s, p, LivePlaybackEngine, video, 0));
    EXPECT_EQ(LivePlaybackEngine.soloVoice.load(), 1);
    EXPECT_EQ(s.soloLayer, 0);
    EXPECT_EQ(s.lastSoloLayer, 0);
    EXPECT_TRUE(s.playing);
    EXPECT_TRUE(LivePlaybackEngine.playing.load());
    EXPECT_FLOAT_EQ(s.playhead, 1.0f);
    EXPECT_EQ(LivePlaybackEngine.position.load(), static_cast<std::int64_t>(LivePlaybackEngine.sampleRate));

    EXPECT_FALSE(ToggleLayerRowAudition(s, p, LivePlaybackEngine, video, 2)) << "no voice: nothing starts";
    EXPECT_EQ(s.soloLayer, 0);
    EXPECT_FALSE(ToggleLayerRowAudition(s, p, LivePlaybackEngine, video, 0)) << "the second click stops it";
    EXPECT_EQ(s.soloLayer, -1);
    EXPECT_EQ(s.lastSoloLayer, 0);
    EXPECT_EQ(LivePlaybackEngine.soloVoice.load(), -1);
    EXPECT_TRUE(LivePlaybackEngine.playing.load()) << "the engine keeps playing";
}

TEST_F(LayerRowsTest, OneSoundChangeAFrameWithItsUndoStepOnlyWhenItStarts) {
    struct Case {
        const char* name;
        SoundChangeRequests requests;
        bool jobRunning;
        std::int32_t started;
        const char* label;
    };
    const Case cases[] = {
        {"previous wins over next", {.previous = 1, .next = 0, .another = 0}, false, 1, "Switching layer..."},
        {"next from history", {.next = 0, .another = 1}, false, 0, "Switching layer..."},
        {"another sound", {.another = 1}, false, 1, "Loading next sound..."},
        {"a removed layer starts nothing", {.previous = 7}, false, -1, ""},
        {"nothing asked", {}, false, -1, ""},
        {"refused while a job runs: no stray undo step", {.previous = 1}, true, -1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        ClearUndoHistory();
        p.events = {test::MakeEvent(0, 2)};
        p.results = {Layer(0, "/a.wav"), Layer(0, "/b.wav")};
        s.backgroundJob.active.store(c.jobRunning);
        EXPECT_EQ(StartSoundChange(p, c.requests), c.started);
        EXPECT_EQ(UndoStack.size(), c.started >= 0 ? 1u : 0u);
        if (c.started >= 0) {
            EXPECT_STREQ(s.backgroundJob.label, c.label);
            EXPECT_FALSE(s.backgroundJob.cancellable);
            EXPECT_FLOAT_EQ(s.backgroundJob.progress.load(), -1.0f);
        }
    }
}

// The job body behind the previous-sound request: a live layer stores its
// sound at the end of the history before it steps back.
TEST_F(LayerRowsTest, PreviousFromALiveLayerStoresTheCurrentSound) {
    p.events = {test::MakeEvent(0, 2)};
    p.results = {Layer(0, "/live.wav")};
    SoundChoice old;
    old.name = old.filepath = "/old.wav";
    p.results[0].history = {old};
    ASSERT_TRUE(p.results[0].HasPreviousSound());
    ASSERT_EQ(StartSoundChange(p, {.previous = 0}), 0);
    ASSERT_TRUE(s.backgroundJob.work);
    s.backgroundJob.work();
    const LayerResult& layer = p.results[0];
    EXPECT_EQ(layer.filepath, "/old.wav");
    ASSERT_EQ(layer.history.size(), 2u);
    EXPECT_EQ(layer.history[1].filepath, "/live.wav");
    EXPECT_EQ(layer.historyPos, 0);
    EXPECT_TRUE(layer.HasNextSound()) << "next returns to the stored sound";
    EXPECT_TRUE(s.backgroundJob.done.load());
}

// "Next sound" that found nothing else re-applied the same file without a
// word; the status line now says so once the job has ended.
TEST_F(LayerRowsTest, NextSoundWithNoOtherCandidateSaysSoInTheStatusLine) {
    struct Case {
        const char* name;
        std::vector<std::string> library;
        const char* file;  // the layer's file afterwards
        bool says;         // the status line says there was no other sound
    };
    const Case cases[] = {
        {"only its own file", {"/live.wav"}, "/live.wav", true},
        {"no sound at all", {}, "/live.wav", true},
        {"another file", {"/other.wav"}, "/other.wav", false},
    };
    SetUiClockSeconds(10.0);
    const std::vector<Palette> saved = SoundLibrary.palettes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        Palette palette;
        palette.name = "P";
        for (const std::string& path : c.library) {
            LibraryFile file;
            file.path = path;
            file.name = path.substr(1);
            file.duration = 2.0f;
            file.bandEnergies = {0.2f, 0.6f, 1.0f, 0.5f, 0.1f};
            file.spectralWeight = 0.45f;
            palette.files.push_back(file);
        }
        SoundLibrary.palettes = {palette};
        p.events = {test::MakeEvent(0, 2, 0, EventKind::Spot)};
        p.results = {Layer(0, "/live.wav")};
        s.statusMessage.clear();
        s.statusTime = 0.0f;

        ASSERT_EQ(StartSoundChange(p, {.another = 0}), 0);
        s.backgroundJob.work();
        EXPECT_EQ(p.results[0].filepath, c.file);
        // The frozen job holds its bar a moment, then ends and reports.
        FrameRunningJob();
        AdvanceUiClock(1.0);
        FrameRunningJob();
        EXPECT_FALSE(s.backgroundJob.active.load());
        // The files do not exist: the placeholder report comes first.
        EXPECT_EQ(s.statusMessage == "No other sound for this layer", c.says) << s.statusMessage;
    }
    SoundLibrary.palettes = saved;
}

TEST_F(LayerRowsTest, ChannelLayoutChoiceAsksForAFullRebuild) {
    Library& library = SoundLibrary;
    const std::vector<Palette> saved = library.palettes;
    Palette palette;
    palette.name = "P";
    LibraryFile file;
    file.path = "/surround.wav";
    palette.files = {file};
    library.palettes = {palette};
    EXPECT_EQ(FileChannelInterpretation(library, "/surround.wav"), 0);
    EXPECT_EQ(FileChannelInterpretation(library, "/unknown.wav"), 0);
    s.pendingRenderMode = 0;
    EXPECT_FALSE(ChooseChannelInterpretation(s, library, "/surround.wav", 0)) << "unchanged";
    EXPECT_EQ(s.pendingRenderMode, 0);
    EXPECT_TRUE(ChooseChannelInterpretation(s, library, "/surround.wav", 2));
    EXPECT_EQ(FileChannelInterpretation(library, "/surround.wav"), 2);
    EXPECT_EQ(s.pendingRenderMode, kRenderRebuildAll);
    s.pendingRenderMode = 0;
    EXPECT_FALSE(ChooseChannelInterpretation(s, library, "/surround.wav", 4)) << "out of range";
    library.palettes = saved;
}

TEST(LayerName, CutAtACharacterBoundary) {
    // One unit per byte, so a fit is a byte count.
    const auto bytes = [](std::string_view text) { return static_cast<float>(text.size()); };
    struct Case {
        const char* name;
        std::string text;
        float width;
        std::string shown;
    };
    const std::string accented = "caf\xc3\xa9 wind";  // "café wind", é two bytes
    const Case cases[] = {
        {"fits", "wind", 10.0f, "wind"},
        {"short names stay whole", "abc", 1.0f, "abc"},
        {"cut from the end", "thunder", 6.0f, "thu..."},
        // 4 bytes left for text: "caf" plus half an é would be 4.
        {"never half a character", accented, 7.0f, "caf..."},
        {"nothing fits", "thunder", 2.0f, "..."},
        {"at most 63 bytes", std::string(100, 'a'), 80.0f, std::string(60, 'a') + "..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FitLayerName(c.text, c.width, bytes), c.shown);
    }
}

}  // namespace
}  // namespace korvel
