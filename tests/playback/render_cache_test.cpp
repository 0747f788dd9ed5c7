#include "playback/render_cache.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/layer_render.h"
#include "library/decoded_source_cache.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "support/audio_fixture.h"
#include "support/signals.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

constexpr int kRate = 48000;

// A placeholder layer reloads as silence of its duration: no file needed.
LayerResult Placeholder(float start, float duration) {
    LayerResult layer;
    layer.isSketch = true;
    layer.startTime = start;
    layer.duration = duration;
    return layer;
}

Voice ReleasedVoice(float start, float duration, std::int32_t resultIndex) {
    Voice voice;
    voice.startTime = start;
    voice.duration = duration;
    voice.resultIndex = resultIndex;
    voice.unloaded = true;
    return voice;
}

class RenderCacheTest : public testing::Test {
protected:
    void SetUp() override {
        ClearDecodedSourceCache();
        engine = std::make_unique<PlaybackEngine>();
        engine->sampleRate = kRate;
        engine->ready.store(true);
    }
    void TearDown() override {
        SetVoiceDecodeHook(nullptr);
        ClearDecodedSourceCache();
    }
    void AddVoices(std::vector<Voice> voices) {
        for (Voice& voice : voices) AppendVoice(*engine, std::move(voice), 0.0f, 0.0f);
    }
    std::unique_ptr<PlaybackEngine> engine;
    test::TempDir dir;
};

TEST_F(RenderCacheTest, StreamingWindowAroundThePlayPosition) {
    struct Case {
        float start, duration;
        bool loadedAfter;
    };
    // Play position 100 s, window 30 s either side.
    const Case cases[] = {
        {0.0f, 60.0f, false},   // ends before 70 s
        {60.0f, 15.0f, true},   // reaches into the window
        {129.0f, 11.0f, true},  // starts inside it
        {131.0f, 5.0f, false},  // starts after 130 s
    };
    std::vector<LayerResult> layers;
    std::vector<Voice> voices;
    for (const Case& c : cases) {
        // Each voice starts in the state opposite to the expected one.
        Voice voice = ReleasedVoice(c.start, c.duration, static_cast<std::int32_t>(layers.size()));
        if (!c.loadedAfter) {
            voice.unloaded = false;
            voice.samplesL.assign(100, 0.5f);
            voice.frameCount = 100;
        }
        voices.push_back(std::move(voice));
        layers.push_back(Placeholder(c.start, c.duration));
    }
    // A voice whose layer is gone is never reloaded, even in the window.
    voices.push_back(ReleasedVoice(95.0f, 10.0f, -1));
    voices.push_back(ReleasedVoice(95.0f, 10.0f, 99));
    AddVoices(std::move(voices));
    engine->position.store(100LL * kRate);

    StreamVoicesNearPlayhead(*engine, layers.data(), static_cast<std::int32_t>(layers.size()));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].start);
        const Voice& voice = engine->voices[i];
        EXPECT_EQ(voice.unloaded, !cases[i].loadedAfter);
        if (cases[i].loadedAfter) {
            // Silence of the layer's duration.
            EXPECT_EQ(voice.frameCount, static_cast<std::int32_t>(cases[i].duration * kRate));
            EXPECT_EQ(voice.samplesL.size(), static_cast<std::size_t>(voice.frameCount));
        } else {
            EXPECT_TRUE(voice.samplesL.empty());
            EXPECT_EQ(voice.samplesL.capacity(), 0u) << "memory given back";
        }
    }
    for (std::size_t i = std::size(cases); i < engine->voices.size(); ++i) {
        EXPECT_TRUE(engine->voices[i].unloaded);
        EXPECT_TRUE(engine->voices[i].samplesL.empty());
    }

    // Not ready: nothing moves.
    engine->ready.store(false);
    engine->position.store(0);
    StreamVoicesNearPlayhead(*engine, layers.data(), static_cast<std::int32_t>(layers.size()));
    EXPECT_FALSE(engine->voices[1].unloaded);
}

TEST_F(RenderCacheTest, PitchedFillReloadsToItsFirstLength) {
    const std::string path = dir.file("tone.wav");
    ASSERT_TRUE(test::WriteSoundFile(path, test::MakeSine(220.0, 3.0, kRate, 1, 0.3), 1, kRate));
    LayerResult layer;
    layer.filepath = path;
    layer.procMode = 1;
    layer.sourceDuration = 3.0f;
    layer.duration = 2.5f;
    layer.pitchShift = 12.0f;
    layer.pitchVarShift = 12.0f;
    RenderLayerVoice(*engine, layer, 0, kRate, nullptr, 0, nullptr, 0, 0, false);
    ASSERT_EQ(engine->voices.size(), 1u);
    ASSERT_FALSE(layer.fillChunks.empty());
    const std::int32_t frames = engine->voices[0].frameCount;
    const float duration = engine->voices[0].duration;
    EXPECT_NEAR(duration, 2.5f, 0.01f);

    // Released far away, then loaded again for an export.
    engine->position.store(1000LL * kRate);
    StreamVoicesNearPlayhead(*engine, &layer, 1);
    ASSERT_TRUE(engine->voices[0].unloaded);
    LoadPendingVoices(*engine, {layer});
    const Voice& voice = engine->voices[0];
    EXPECT_FALSE(voice.unloaded);
    EXPECT_EQ(voice.frameCount, frames);
    EXPECT_FLOAT_EQ(voice.duration, duration);
    EXPECT_EQ(voice.samplesL.size(), static_cast<std::size_t>(frames));

    // A layer whose file is gone reloads as mono silence of its duration.
    LayerResult missing = layer;
    missing.filepath = dir.file("gone.wav");
    missing.fillChunks.clear();
    missing.pitchShift = 0.0f;
    Voice released = ReleasedVoice(0.0f, 2.5f, 0);
    LoadVoiceSamples(*engine, released, missing, kRate);
    EXPECT_FALSE(released.unloaded);
    EXPECT_FALSE(released.stereo);
    EXPECT_EQ(released.frameCount, static_cast<std::int32_t>(2.5f * kRate));
}

// Set by the hook: whether the voice lock could be taken while decoding.
bool LockFreeWhileDecoding = false;
int Decodes = 0;

TEST_F(RenderCacheTest, VoiceLockIsFreeWhileAReloadDecodes) {
    std::vector<LayerResult> layers = {Placeholder(0.0f, 1.0f), Placeholder(1.0f, 1.0f)};
    AddVoices({ReleasedVoice(0.0f, 1.0f, 0), ReleasedVoice(1.0f, 1.0f, 1)});
    LockFreeWhileDecoding = true;
    Decodes = 0;
    SetVoiceDecodeHook([](PlaybackEngine& e) {
        ++Decodes;
        std::unique_lock lock(e.voiceMutex, std::try_to_lock);
        if (!lock.owns_lock()) LockFreeWhileDecoding = false;
    });
    StreamVoicesNearPlayhead(*engine, layers.data(), 2);
    EXPECT_EQ(Decodes, 2);
    EXPECT_TRUE(LockFreeWhileDecoding);
    for (const Voice& voice : engine->voices) EXPECT_FALSE(voice.unloaded);

    for (Voice& voice : engine->voices) voice.unloaded = true;
    Decodes = 0;
    LoadPendingVoices(*engine, layers);
    EXPECT_EQ(Decodes, 2);
    EXPECT_TRUE(LockFreeWhileDecoding);
}

class RenderCacheProjectTest : public testing::Test {
protected:
    void SetUp() override {
        CurrentProject = Project{};
        GlobalAppState.projectSampleRate = kRate;
        GlobalAppState.backgroundJob.cancel.store(false);
        PrepareVoices(LivePlaybackEngine, kRate, 0);
    }
    void TearDown() override {
        CurrentProject = Project{};
        PrepareVoices(LivePlaybackEngine, kRate, 0);
    }
};

TEST_F(RenderCacheProjectTest, RemapByIdLaterLayerWinsAndGoneLayersGetNone) {
    LayerResult first = Placeholder(0.0f, 1.0f), twin = Placeholder(0.0f, 1.0f), other = Placeholder(2.0f, 1.0f);
    twin.id = first.id;
    CurrentProject.results = {first, other, twin};
    Voice shared, gone;
    shared.resultId = first.id;
    gone.resultId = -12345;
    gone.resultIndex = 1;
    AppendVoice(LivePlaybackEngine, shared, 0.0f, 0.0f);
    AppendVoice(LivePlaybackEngine, gone, 0.0f, 0.0f);
    RemapVoicesToResults();
    EXPECT_EQ(LivePlaybackEngine.voices[0].resultIndex, 2);
    EXPECT_EQ(LivePlaybackEngine.voices[1].resultIndex, -1);
}

TEST_F(RenderCacheProjectTest, RebuildWithoutEventsRendersEveryLayerAndIsReady) {
    LayerResult noFile;  // no path, no placeholder: rendering skips it
    CurrentProject.results = {Placeholder(0.0f, 0.5f), noFile, Placeholder(1.0f, 0.25f)};
    CurrentProject.results[0].group = 1;
    CurrentProject.results[0].groupTrack = 0;
    RebuildCache(false);
    const PlaybackEngine& engine = LivePlaybackEngine;
    EXPECT_TRUE(engine.ready.load());
    ASSERT_EQ(engine.voices.size(), 2u);
    EXPECT_EQ(engine.voices[0].resultIndex, 0);
    EXPECT_EQ(engine.voices[1].resultIndex, 2);
    EXPECT_EQ(engine.voicesRendered.load(), 3);
    EXPECT_EQ(CurrentProject.trackLayout.groups[1].usedLanes, 1);

    // A cancelled rebuild stops before the next layer and is still ready.
    GlobalAppState.backgroundJob.cancel.store(true);
    RebuildCache(false);
    EXPECT_TRUE(engine.voices.empty());
    EXPECT_TRUE(engine.ready.load());
    GlobalAppState.backgroundJob.cancel.store(false);
}

}  // namespace
}  // namespace korvel
