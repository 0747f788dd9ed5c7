#include "playback/playback_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "playback/audio_output.h"
#include "project/project.h"

namespace korvel {
namespace {

TEST(PlaybackEngine, Defaults) {
    auto engine = std::make_unique<PlaybackEngine>();
    EXPECT_EQ(engine->sampleRate, 48000);
    EXPECT_EQ(engine->position.load(), 0);
    EXPECT_FALSE(engine->ready.load());
    EXPECT_FALSE(engine->playing.load());
    EXPECT_FLOAT_EQ(engine->masterGain, 1.0f);
    EXPECT_FLOAT_EQ(engine->refGain, 1.0f);
    EXPECT_EQ(engine->soloVoice, -1);
    for (float gain : engine->groupGain) EXPECT_FLOAT_EQ(gain, 1.0f);
    EXPECT_FLOAT_EQ(engine->groupTargetLUFS[0], -48.0f);
    EXPECT_FLOAT_EQ(engine->groupTargetLUFS[1], -16.0f);
    EXPECT_FLOAT_EQ(engine->groupTargetLUFS[2], -25.0f);
    EXPECT_TRUE(engine->normalizeLUFS);
    EXPECT_FLOAT_EQ(engine->streamWindowSeconds, 30.0f);
    EXPECT_EQ(engine->preview.load(), nullptr);
    EXPECT_FLOAT_EQ(engine->limiter.threshold, 0.85f);
    EXPECT_FLOAT_EQ(engine->limiter.attack, 0.0f) << "0 until the engine prepares its voices";
    EXPECT_FLOAT_EQ(engine->limiter.release, 0.0f);
    EXPECT_TRUE(engine->reverb.enabled);
    EXPECT_FLOAT_EQ(engine->reverb.macro, 0.65f);

    Voice voice;
    EXPECT_EQ(voice.eventIndex, -1);
    EXPECT_EQ(voice.resultIndex, -1);
    EXPECT_FLOAT_EQ(voice.gain, 1.0f);
    EXPECT_FLOAT_EQ(voice.reverbSend, -1.0f);
    EXPECT_FALSE(voice.eventCurve) << "no curve: the mixer applies none";
}

// A voice keeps playing its event's curve while the events vector grows,
// shrinks and reallocates; a pointer into the vector would dangle here.
TEST(Voice, EventCurveOutlivesEditsOfTheEventsVector) {
    Project project;
    project.events.resize(1);
    for (int i = 0; i < kCurvePoints; ++i) project.events[0].intensity[i] = static_cast<float>(i) / 255.0f;

    auto owner = std::make_unique<PlaybackEngine>();
    PlaybackEngine& engine = *owner;
    {
        std::lock_guard lock(engine.voiceMutex);
        Voice voice;
        voice.eventIndex = 0;
        voice.eventCurve = std::make_shared<const CurvePoints>(project.events[0].intensity);
        voice.eventCurveLength = kCurvePoints;
        engine.voices.push_back(std::move(voice));
    }

    project.events.resize(200);  // reallocates
    project.events.erase(project.events.begin());
    project.events.shrink_to_fit();

    const Voice& voice = engine.voices[0];
    ASSERT_TRUE(voice.eventCurve);
    EXPECT_FLOAT_EQ((*voice.eventCurve)[255], 1.0f);
    EXPECT_FLOAT_EQ((*voice.eventCurve)[51], 0.2f);

    // A copied voice (the clipboard) shares the same immutable curve.
    Voice copy = voice;
    EXPECT_EQ(copy.eventCurve.get(), voice.eventCurve.get());
}

TEST(PlaybackEngine, PrepareVoicesEmptiesAndReserves) {
    struct Case {
        int capacity;
        std::size_t reserved;
    };
    const Case cases[] = {{0, 256}, {-5, 256}, {1000, 1000}, {3, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity);
        auto engine = std::make_unique<PlaybackEngine>();
        AppendVoice(*engine, Voice{}, 0.1f, 0.2f);
        engine->ready = true;
        engine->voicesRendered = 7;
        engine->limiterEnvelope = 0.5f;
        PrepareVoices(*engine, 44100, c.capacity);
        EXPECT_TRUE(engine->voices.empty());
        EXPECT_GE(engine->voices.capacity(), c.reserved);
        EXPECT_TRUE(engine->voiceFadeIns.empty());
        EXPECT_TRUE(engine->voiceFadeOuts.empty());
        EXPECT_FALSE(engine->ready.load()) << "stays false until the rebuild's normalisation";
        EXPECT_EQ(engine->voiceCount.load(), 0);
        EXPECT_EQ(engine->voicesRendered.load(), 0);
        EXPECT_EQ(engine->sampleRate, 44100);
        EXPECT_FLOAT_EQ(engine->limiterEnvelope, 0.0f);
        EXPECT_NEAR(engine->limiter.attack, 1.0 - std::exp(-1.0 / (0.002 * 44100)), 1e-6);
        EXPECT_NEAR(engine->limiter.release, 1.0 - std::exp(-1.0 / (0.2 * 44100)), 1e-7);
    }
}

// Removing voices must carry each kept voice's fades along; a fade list
// shorter than the voices (an older engine state) is never read past.
// The UI draws voices holding only the storage lock: an append into the
// reserved room goes on meanwhile, but one that must grow the list (moving
// every voice) and a new list both wait until the drawing lets go.
TEST(PlaybackEngine, StorageLockHoldsBackOnlyWritersThatMoveVoices) {
    auto engine = std::make_unique<PlaybackEngine>();
    PrepareVoices(*engine, 48000, 2);
    std::unique_lock drawing(engine->voiceStorageMutex);

    AppendVoice(*engine, Voice{}, 0.0f, 0.0f);
    AppendVoice(*engine, Voice{}, 0.0f, 0.0f);
    EXPECT_EQ(engine->voiceCount.load(), 2) << "appends within the reserved room do not wait";

    const Voice* const storage = engine->voices.data();
    auto grow = std::async(std::launch::async, [&] { AppendVoice(*engine, Voice{}, 0.0f, 0.0f); });
    EXPECT_EQ(grow.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_EQ(engine->voices.data(), storage) << "the list moved under the drawing";
    EXPECT_EQ(engine->voiceCount.load(), 2);
    drawing.unlock();
    grow.get();
    EXPECT_EQ(engine->voiceCount.load(), 3);

    drawing.lock();
    auto replace = std::async(std::launch::async, [&] { PrepareVoices(*engine, 48000, 8); });
    EXPECT_EQ(replace.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_EQ(engine->voices.size(), 3u) << "the list was replaced under the drawing";
    drawing.unlock();
    replace.get();
    EXPECT_TRUE(engine->voices.empty());
}

TEST(PlaybackEngine, CompactionMovesFadeEntriesWithTheirVoices) {
    auto engine = std::make_unique<PlaybackEngine>();
    for (int i = 0; i < 5; ++i) {
        Voice voice;
        voice.eventIndex = i % 2;  // events 0 1 0 1 0
        voice.resultId = 100 + i;
        AppendVoice(*engine, std::move(voice), 0.1f * (i + 1), 1.0f + i);
    }
    engine->voiceFadeOuts.resize(3);  // fade-outs known only for the first three
    {
        std::lock_guard lock(engine->voiceMutex);
        CompactVoicesLocked(*engine, [](const Voice& v) { return v.eventIndex != 0; });
    }
    ASSERT_EQ(engine->voices.size(), 2u);
    EXPECT_EQ(engine->voiceCount.load(), 2);
    EXPECT_EQ(engine->voices[0].resultId, 101);
    EXPECT_EQ(engine->voices[1].resultId, 103);
    ASSERT_EQ(engine->voiceFadeIns.size(), 2u);
    EXPECT_FLOAT_EQ(engine->voiceFadeIns[0], 0.2f);
    EXPECT_FLOAT_EQ(engine->voiceFadeIns[1], 0.4f);
    ASSERT_EQ(engine->voiceFadeOuts.size(), 2u);
    EXPECT_FLOAT_EQ(engine->voiceFadeOuts[0], 2.0f);
    EXPECT_FLOAT_EQ(engine->voiceFadeOuts[1], 2.0f) << "index 3 lay outside the list: the entry stays";
}

TEST(PlaybackEngine, LocateTruncatesAndPostsTheReverbClear) {
    struct Case {
        int rate;
        double seconds;
        std::int64_t frames;
    };
    const Case cases[] = {
        {48000, 1.5, 72000},
        {48000, 0.99999, 47999},  // truncated, not rounded
        {44100, 2.0, 88200},
        {48000, -0.5, -24000},    // toward zero
        {48000, std::nan(""), 0},
    };
    auto engine = std::make_unique<PlaybackEngine>();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        engine->sampleRate = c.rate;
        engine->reverbRequests.clear = false;
        LocatePlayback(*engine, c.seconds);
        EXPECT_EQ(engine->position.load(), c.frames);
        EXPECT_TRUE(engine->reverbRequests.clear.load()) << "the audio thread clears the tail itself";
        EXPECT_NEAR(GetPlaybackTime(*engine), c.frames / double(c.rate), 1e-12);
    }
    // A running preview is left alone.
    ASSERT_TRUE(StartPreview(*engine, std::vector<float>(100, 0.5f), 48000));
    engine->previewPos = 10;
    LocatePlayback(*engine, 3.0);
    EXPECT_EQ(engine->previewPos.load(), 10);
    EXPECT_TRUE(IsPreviewRunning(*engine));
}

TEST(PlaybackEngine, StepPlayheadFrames) {
    struct Case {
        const char* name;
        float playhead, fps, duration;
        int frames;
        float expected;
    };
    const Case cases[] = {
        {"back from the start", 0.0f, 24.0f, 10.0f, -1, 0.0f},
        {"forward to the end", 9.99f, 24.0f, 10.0f, 1, 10.0f},
        {"negative duration", 5.0f, 24.0f, -1.0f, 3, 0.0f},
        {"ten frames at 25", 1.0f, 25.0f, 10.0f, 10, 1.4f},
        {"back one at 30", 1.0f, 30.0f, 10.0f, -1, 1.0f - 1.0f / 30.0f},
        {"fps 0 forward", 2.0f, 0.0f, 10.0f, 1, 10.0f},
        {"fps 0 standing", 2.0f, 0.0f, 10.0f, 0, 2.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        float playhead = c.playhead;
        StepPlayheadFrames(playhead, c.fps, c.duration, c.frames);
        EXPECT_FLOAT_EQ(playhead, c.expected);
    }
}

TEST(PlaybackEngine, PreviewLengthInOutputFrames) {
    struct Case {
        int engineRate, previewRate;
        std::size_t samples;
        std::int32_t end;
        bool starts;
    };
    const Case cases[] = {
        {48000, 44100, 44100, 48000, true},
        {48000, 48000, 1000, 1000, true},
        {44100, 96000, 1000, 459, true},  // floor(459.375)
        {48000, 0, 1000, 0, false},
        {48000, -44100, 1000, 0, false},
        {48000, 48000, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.engineRate << " " << c.previewRate << " " << c.samples);
        auto engine = std::make_unique<PlaybackEngine>();
        engine->sampleRate = c.engineRate;
        EXPECT_EQ(StartPreview(*engine, std::vector<float>(c.samples, 0.25f), c.previewRate), c.starts);
        EXPECT_EQ(engine->previewEnd.load(), c.end);
        EXPECT_EQ(IsPreviewRunning(*engine), c.starts);
        if (c.starts) {
            const PreviewBuffer* buffer = engine->preview.load();
            ASSERT_NE(buffer, nullptr);
            EXPECT_EQ(buffer->rate, c.previewRate);
            EXPECT_EQ(buffer->samples.size(), c.samples);
            StopPreview(*engine);
            EXPECT_FALSE(IsPreviewRunning(*engine));
        }
    }
}

// The audio thread may be reading the old preview inside a block: a new one
// must leave the old buffer alive until a whole block has finished since.
TEST(PlaybackEngine, ReplacedPreviewLivesUntilABlockFinishes) {
    auto engine = std::make_unique<PlaybackEngine>();
    ASSERT_TRUE(StartPreview(*engine, std::vector<float>(64, 0.5f), 48000));
    const PreviewBuffer* first = engine->preview.load();
    const float* firstSamples = first->samples.data();

    engine->blocksStarted.fetch_add(1);  // a block is under way
    ASSERT_TRUE(StartPreview(*engine, std::vector<float>(32, -0.5f), 48000));
    EXPECT_NE(engine->preview.load(), first);
    ASSERT_EQ(engine->previewRetired.size(), 1u);
    EXPECT_EQ(engine->previewRetired[0].buffer.get(), first);
    EXPECT_EQ(engine->previewRetired[0].buffer->samples.data(), firstSamples) << "not moved, not freed";
    CollectRetiredPreviews(*engine);
    EXPECT_EQ(engine->previewRetired.size(), 1u) << "no block has finished since the swap";

    engine->blocksFinished.fetch_add(1);
    CollectRetiredPreviews(*engine);
    EXPECT_TRUE(engine->previewRetired.empty());
    EXPECT_EQ(engine->previewEnd.load(), 32);
    EXPECT_EQ(engine->previewPos.load(), 0);
}

// No stream runs: no block can hold a retired preview, so it goes at once.
TEST(PlaybackEngine, ReplacedPreviewsAreFreedAtOnceWhileNoBlockRuns) {
    auto engine = std::make_unique<PlaybackEngine>();
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(StartPreview(*engine, std::vector<float>(48000, 0.25f), 48000));
    EXPECT_TRUE(engine->previewRetired.empty());
    ASSERT_NE(engine->preview.load(), nullptr);
    EXPECT_EQ(engine->preview.load(), engine->previewOwned.get());
}

TEST(ReverbMacro, InterpolatesBetweenItsPresets) {
    struct Case {
        float macro;
        ReverbSettings expected;
    };
    auto settings = [](float size, float decay, float damping, float preDelay, float diffusion, float modulation) {
        ReverbSettings s;
        s.size = size, s.decay = decay, s.damping = damping, s.preDelay = preDelay, s.diffusion = diffusion,
        s.modulation = modulation;
        return s;
    };
    const Case cases[] = {
        {0.0f, settings(0, 0, 0, 0, 0.4f, 0)},
        {0.25f, settings(0.4f, 0.1f, 0.4f, 0.01f, 0.7f, 0.25f)},
        {0.5f, settings(0.6f, 0.35f, 0.2f, 0.015f, 0.7f, 0.3f)},
        {0.75f, settings(0.75f, 0.65f, 0.45f, 0.026f, 0.8f, 0.5f)},
        {1.0f, settings(1, 1, 0.08f, 0.06f, 0.9f, 0.8f)},
        {0.125f, settings(0.2f, 0.05f, 0.2f, 0.005f, 0.55f, 0.125f)},
        {0.875f, settings(0.875f, 0.825f, 0.265f, 0.043f, 0.85f, 0.65f)},
        {0.65f, settings(0.69f, 0.53f, 0.35f, 0.0216f, 0.76f, 0.42f)},
        {1.5f, settings(1, 1, 0.08f, 0.06f, 0.9f, 0.8f)},  // clamped
        {-1.0f, settings(0, 0, 0, 0, 0.4f, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.macro);
        ReverbSettings s;
        s.macro = c.macro;
        ApplyReverbMacro(s);
        EXPECT_NEAR(s.size, c.expected.size, 1e-5);
        EXPECT_NEAR(s.decay, c.expected.decay, 1e-5);
        EXPECT_NEAR(s.damping, c.expected.damping, 1e-5);
        EXPECT_NEAR(s.preDelay, c.expected.preDelay, 1e-6);
        EXPECT_NEAR(s.diffusion, c.expected.diffusion, 1e-5);
        EXPECT_NEAR(s.modulation, c.expected.modulation, 1e-5);
        EXPECT_FLOAT_EQ(s.macro, c.macro) << "the control itself is left as set";
    }
}

TEST(MixerMeters, FollowPeaksWithTheirBallisticsAndHold) {
    auto engine = std::make_unique<PlaybackEngine>();
    engine->playing = true;
    engine->peakL = 1.0f;
    engine->groupPeakR[2] = 0.5f;
    UpdateMixerMeters(*engine, 0.015f);  // one attack time constant
    EXPECT_NEAR(engine->meterLevelL, 1.0f - std::exp(-1.0f), 1e-4);
    EXPECT_NEAR(engine->groupMeterLevelR[2], 0.5f * (1.0f - std::exp(-1.0f)), 1e-4);
    EXPECT_FLOAT_EQ(engine->meterHoldL, 1.0f);
    EXPECT_FLOAT_EQ(engine->groupMeterHoldR[2], 0.5f);

    // Stopped: the peaks count as 0; levels fall with the 280 ms release,
    // the hold stays for 1.5 s.
    engine->playing = false;
    const float before = engine->meterLevelL;
    UpdateMixerMeters(*engine, 0.28f);
    EXPECT_NEAR(engine->meterLevelL, before * std::exp(-1.0f), 1e-4);
    EXPECT_FLOAT_EQ(engine->meterHoldL, 1.0f);
    UpdateMixerMeters(*engine, 1.0f);
    EXPECT_FLOAT_EQ(engine->meterHoldL, 1.0f) << "1.295 s after the peak";
    UpdateMixerMeters(*engine, 0.3f);
    EXPECT_LT(engine->meterHoldL, 1.0f);
    EXPECT_GE(engine->meterHoldL, engine->meterLevelL);
    for (int i = 0; i < 100; ++i) UpdateMixerMeters(*engine, 0.1f);
    EXPECT_LT(engine->meterHoldL, 1e-3f);
    EXPECT_LT(engine->groupMeterHoldR[2], 1e-3f);
}

TEST(AudioOutput, StartsClosedWithoutAStream) {
    EXPECT_FALSE(LiveAudioOutput.open);
    EXPECT_EQ(LiveAudioOutput.rtaudio, nullptr);
    EXPECT_FALSE(static_cast<bool>(LiveAudioOutput.render));
    EXPECT_EQ(LiveAudioOutput.playingFlag, nullptr);
}

}  // namespace
}  // namespace korvel
