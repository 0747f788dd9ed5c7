#include "playback/playback_engine.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(engine->previewRate, 48000);
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

TEST(AudioOutput, StartsClosedWithoutAStream) {
    EXPECT_FALSE(LiveAudioOutput.open);
    EXPECT_EQ(LiveAudioOutput.rtaudio, nullptr);
    EXPECT_FALSE(static_cast<bool>(LiveAudioOutput.render));
    EXPECT_EQ(LiveAudioOutput.playingFlag, nullptr);
}

}  // namespace
}  // namespace korvel
