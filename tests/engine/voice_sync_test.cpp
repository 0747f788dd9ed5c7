#include "engine/voice_sync.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/library.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"

namespace korvel {
namespace {

constexpr int kRate = 48000;
// Rendered voices get a computed azimuth; this one marks a voice that was
// patched in place rather than rendered again.
constexpr float kKeptMark = 42.0f;

LayerResult Placeholder(std::int32_t event, float start = 0.0f, float duration = 0.1f) {
    LayerResult layer;
    layer.isSketch = true;  // renders as silence: no file needed
    layer.eventIdx = event;
    layer.startTime = start;
    layer.duration = duration;
    return layer;
}

Voice VoiceOf(const LayerResult& layer, std::int32_t index) {
    Voice voice;
    voice.resultId = layer.id;
    voice.resultIndex = index;
    voice.eventIndex = layer.eventIdx;
    voice.azimuth = kKeptMark;
    voice.samplesL.assign(4, 0.0f);
    voice.frameCount = 4;
    return voice;
}

class VoiceSyncTest : public testing::Test {
protected:
    void SetUp() override {
        CurrentProject = Project{};
        GlobalAppState.projectSampleRate = kRate;
        GlobalAppState.audioUpdateRequested.store(false);
        GlobalAppState.backgroundJob.cancel.store(false);
        PrepareVoices(LivePlaybackEngine, kRate, 0);
    }
    void TearDown() override {
        CurrentProject = Project{};
        SoundLibrary.palettes.clear();
        PrepareVoices(LivePlaybackEngine, kRate, 0);
        GlobalAppState.audioUpdateRequested.store(false);
    }
    // `events` events with one layer each; the first `voiced` have voices.
    static void BuiltProject(int events, int voiced) {
        CurrentProject.events.resize(static_cast<std::size_t>(events));
        for (int e = 0; e < events; ++e) CurrentProject.results.push_back(Placeholder(e, static_cast<float>(e)));
        for (int e = 0; e < voiced; ++e)
            AppendVoice(LivePlaybackEngine, VoiceOf(CurrentProject.results[static_cast<std::size_t>(e)], e), 0.0f, 0.0f);
    }
    static std::string CheckOutput(bool& result) {
        testing::internal::CaptureStderr();
        result = CheckRenderCacheIntegrity();
        return testing::internal::GetCapturedStderr();
    }
};

TEST_F(VoiceSyncTest, UndoRendersFewEventsOneByOneAndManyByAFullRebuild) {
    struct Case {
        int events, missing;
        bool fullRebuild;
    };
    for (const Case c : {Case{40, 10, false}, Case{40, 11, true}, Case{100, 25, false}, Case{100, 26, true}}) {
        SCOPED_TRACE(testing::Message() << c.events << " events, " << c.missing << " missing");
        SetUp();
        BuiltProject(c.events, c.events - c.missing);
        SyncVoicesToResults();
        const PlaybackEngine& engine = LivePlaybackEngine;
        ASSERT_EQ(engine.voices.size(), static_cast<std::size_t>(c.events));
        int kept = 0;
        for (const Voice& voice : engine.voices) kept += voice.azimuth == kKeptMark ? 1 : 0;
        EXPECT_EQ(kept, c.fullRebuild ? 0 : c.events - c.missing);
        EXPECT_TRUE(engine.ready.load());
        EXPECT_FALSE(GlobalAppState.audioUpdateRequested.load()) << "the lists match afterwards";
    }
}

// Layers that rendering gives no voice by rule were counted as missing, so
// every undo rendered their events again (all voices silent meanwhile) and,
// past max(10, a quarter of the events), ran the full rebuild.
TEST_F(VoiceSyncTest, UndoAndRedoRenderNothingForLayersThatGetNoVoiceByRule) {
    struct Case {
        const char* name;
        std::int32_t procMode;
        const char* layerName;
    };
    const Case cases[] = {
        {"Scatter grain with no match", 2, "(no match)"},
        {"Fill layer without a file", 1, "fill"},
        {"alloy layer with no primary", 3, "alloy"},
    };
    for (const Case& c : cases) {
        for (const int events : {1, 12}) {
            SCOPED_TRACE(testing::Message() << c.name << ", " << events << " events");
            SetUp();
            ClearUndoHistory();
            CurrentProject.built = true;
            CurrentProject.events.resize(static_cast<std::size_t>(events));
            for (int e = 0; e < events; ++e) {
                CurrentProject.events[static_cast<std::size_t>(e)].shape = KindValue(EventKind::Scatter);
                CurrentProject.results.push_back(Placeholder(e, static_cast<float>(e)));
                LayerResult silent = Placeholder(e, static_cast<float>(e) + 0.5f);
                silent.isSketch = false;  // no file and no placeholder
                silent.procMode = c.procMode;
                silent.name = c.layerName;
                CurrentProject.results.push_back(silent);
            }
            for (std::size_t i = 0; i < CurrentProject.results.size(); i += 2)
                AppendVoice(LivePlaybackEngine, VoiceOf(CurrentProject.results[i], static_cast<std::int32_t>(i)), 0.0f,
                            0.0f);
            PushUndo();
            CurrentProject.events[0].gain = 0.5f;  // an edit that renders nothing
            for (void (*step)() : {Undo, Redo}) {
                step();
                SyncVoicesToResults();
                const PlaybackEngine& engine = LivePlaybackEngine;
                ASSERT_EQ(engine.voices.size(), static_cast<std::size_t>(events));
                for (const Voice& voice : engine.voices) EXPECT_EQ(voice.azimuth, kKeptMark) << "rendered again";
                EXPECT_FALSE(GlobalAppState.audioUpdateRequested.load());
            }
            EXPECT_FLOAT_EQ(CurrentProject.events[0].gain, 0.5f) << "redo brought the edit back";
        }
    }
    ClearUndoHistory();
}

TEST_F(VoiceSyncTest, UndoDropsGoneVoicesAndPatchesTheOthersFromTheirLayers) {
    CurrentProject.events.resize(2);
    CurrentProject.events[1].gain = 0.5f;
    CurrentProject.events[1].muted = true;
    LayerResult layer = Placeholder(1, 3.0f, 2.0f);
    layer.deconOffset = 0.25f;
    layer.weight = 0.85f;  // taper 0.7
    layer.layerGain = 0.5f;
    CurrentProject.results = {layer};
    LayerResult gone = Placeholder(0);
    AppendVoice(LivePlaybackEngine, VoiceOf(gone, 0), 0.3f, 0.4f);
    Voice stale = VoiceOf(layer, 7);
    stale.eventIndex = 0;
    AppendVoice(LivePlaybackEngine, stale, 0.1f, 0.2f);

    SyncVoicesToResults();
    const PlaybackEngine& engine = LivePlaybackEngine;
    ASSERT_EQ(engine.voices.size(), 1u);
    const Voice& voice = engine.voices[0];
    EXPECT_EQ(voice.resultIndex, 0);
    EXPECT_EQ(voice.eventIndex, 1);
    EXPECT_FLOAT_EQ(voice.startTime, 3.25f);
    EXPECT_FLOAT_EQ(voice.duration, 2.0f);
    EXPECT_FLOAT_EQ(voice.baseGain, 0.35f);
    EXPECT_FLOAT_EQ(voice.eventGain, 0.5f);
    EXPECT_TRUE(voice.muted) << "the event is muted";
    EXPECT_FLOAT_EQ(engine.voiceFadeIns[0], 0.1f) << "fades move with their voice";
    EXPECT_FLOAT_EQ(engine.voiceFadeOuts[0], 0.2f);
}

TEST_F(VoiceSyncTest, ALayerDroppedByTrackAllocationStaysSilentAfterAPatch) {
    // A patch copied only the designer's mute, so a dropped layer played
    // again live and in every export.
    CurrentProject.events.resize(1);
    LayerResult layer = Placeholder(0, 1.0f, 2.0f);
    layer.groupTrack = -1;
    CurrentProject.results = {layer};
    AppendVoice(LivePlaybackEngine, VoiceOf(layer, 0), 0.1f, 0.1f);

    SyncVoicesToResults();
    ASSERT_EQ(LivePlaybackEngine.voices.size(), 1u);
    EXPECT_TRUE(LivePlaybackEngine.voices[0].muted);
}

TEST_F(VoiceSyncTest, DeletingEventsDropsTheirVoicesAndRenumbersTheRest) {
    // Events 2 and 5 of 8 deleted: six remain, each with its own curve.
    CurrentProject.events.resize(6);
    for (std::size_t e = 0; e < 6; ++e) CurrentProject.events[e].intensity.fill(0.1f * static_cast<float>(e));
    for (std::int32_t e = 0; e < 8; ++e) {
        Voice voice;
        voice.eventIndex = e;
        voice.eventCurve = std::make_shared<const CurvePoints>();
        voice.eventCurveLength = kCurvePoints;
        AppendVoice(LivePlaybackEngine, voice, static_cast<float>(e), 0.0f);
    }
    Voice loose;
    loose.eventIndex = -1;
    AppendVoice(LivePlaybackEngine, loose, 99.0f, 0.0f);

    RemoveEventVoices({2, 5}, 8);
    const PlaybackEngine& engine = LivePlaybackEngine;
    const std::vector<std::int32_t> events = {0, 1, 2, 3, 4, 5, -1};
    const std::vector<float> fadesFrom = {0, 1, 3, 4, 6, 7, 99};
    ASSERT_EQ(engine.voices.size(), events.size());
    EXPECT_EQ(engine.voiceCount.load(), 7);
    for (std::size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(engine.voices[i].eventIndex, events[i]);
        EXPECT_FLOAT_EQ(engine.voiceFadeIns[i], fadesFrom[i]);
        if (events[i] >= 0) {
            ASSERT_TRUE(engine.voices[i].eventCurve);
            EXPECT_FLOAT_EQ((*engine.voices[i].eventCurve)[0], 0.1f * static_cast<float>(events[i]));
        }
    }
}

TEST_F(VoiceSyncTest, IntegrityCheckFailuresAndTheirLines) {
    struct Case {
        const char* name;
        void (*damage)(Project&, Voice&);
        const char* line;  // nullptr: the check passes
    };
    const Case cases[] = {
        {"matched", [](Project&, Voice&) {}, nullptr},
        {"index outside the layers", [](Project&, Voice& v) { v.resultIndex = 5; },
         "[Cache] Integrity check failed at block 1, deferring rebuild\n"},
        {"another layer's id", [](Project&, Voice& v) { v.resultId = -7; },
         "[Cache] Integrity check failed at block 1, deferring rebuild\n"},
        {"voice without its layer's event", [](Project&, Voice& v) { v.eventIndex = -1; },
         "[Cache] Integrity check failed at block 1, deferring rebuild\n"},
        {"layer and voice without an event", [](Project& p, Voice& v) { p.results[1].eventIdx = v.eventIndex = 9; },
         nullptr},
        {"layer with no voice", [](Project& p, Voice&) { p.results.push_back(Placeholder(0)); },
         "[Cache] 1 orphaned results, deferring rebuild\n"},
        {"layer skipped by rule", [](Project& p, Voice&) { p.results.push_back(LayerResult{}); }, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        CurrentProject.events.resize(2);
        CurrentProject.results = {Placeholder(0), Placeholder(1)};
        Voice first = VoiceOf(CurrentProject.results[0], 0), second = VoiceOf(CurrentProject.results[1], 1);
        c.damage(CurrentProject, second);
        AppendVoice(LivePlaybackEngine, first, 0.0f, 0.0f);
        AppendVoice(LivePlaybackEngine, second, 0.0f, 0.0f);
        bool result = false;
        const std::string out = CheckOutput(result);
        EXPECT_EQ(result, c.line == nullptr);
        EXPECT_EQ(out, c.line ? c.line : "");
        EXPECT_EQ(GlobalAppState.audioUpdateRequested.load(), c.line != nullptr);
    }
}

TEST_F(VoiceSyncTest, ClipWeightsReachTheirLayersThroughTheUpkeep) {
    LibraryFile file;
    file.path = "/lib/door.wav";
    file.brightness = 0.8f;
    Palette palette;
    palette.files = {file};
    SoundLibrary.palettes = {palette};
    Event measured, unset;
    measured.shape = unset.shape = KindValue(EventKind::Clip);
    CopyText(measured.pinnedFile, "/lib/door.wav");
    CurrentProject.events = {measured, unset};
    LayerResult a = Placeholder(0), b = Placeholder(1);
    a.weight = b.weight = 0.3f;
    CurrentProject.results = {a, b};

    EXPECT_TRUE(UpdateSourceWeightsAndLayers(1000.0));
    EXPECT_FLOAT_EQ(CurrentProject.events[0].clipWeight, 0.8f);
    EXPECT_FLOAT_EQ(CurrentProject.results[0].weight, 0.8f);
    EXPECT_FLOAT_EQ(CurrentProject.results[1].weight, 0.3f) << "an unset weight (-1) leaves the layer";
}

}  // namespace
}  // namespace korvel
