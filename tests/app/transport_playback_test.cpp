// The transport driving live playback through a real stream on a private
// sound server: play locates the engine at the playhead and the frame's
// transport step then follows the engine's clock; stop brings both to 0 and
// the clock stays there.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/frame_work.h"
#include "app/transport.h"
#include "picture/video_player.h"
#include "playback/audio_output.h"
#include "playback/live_mixer.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "support/sound_server.h"

namespace korvel {
namespace {

class TransportPlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!server_.Start(why)) GTEST_SKIP() << "no private sound server: " << why;
        if (server_.LoadNullSink("Main") < 0) GTEST_SKIP() << "no null sink";
        PlaybackEngine& engine = LivePlaybackEngine;
        SetPlaybackSampleRate(engine, 48000);
        engine.playing.store(false);
        StartAudioOutput(output_, AudioRenderCallback, &engine.playing, 48000);
        if (!output_.open) GTEST_SKIP() << "the stream did not open: " << output_.statusText;
        CurrentProject.totalDuration = 30.0f;
        GlobalAppState.playing = false;
        GlobalAppState.playhead = 2.0f;
        engine.ready.store(true, std::memory_order_release);
    }
    void TearDown() override {
        LivePlaybackEngine.playing.store(false);
        LivePlaybackEngine.ready.store(false);
        ShutDownAudioOutput(output_);
        GlobalAppState.playing = false;
        GlobalAppState.playhead = 0.0f;
    }
    // Frames of the frame's transport step until `done`, at most `seconds`.
    template <typename Done>
    bool FramesUntil(Done done, double seconds = 5.0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            FrameTransport(1.0 / 60.0);
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(16));
        }
        return false;
    }
    test::PrivateSoundServer server_;
    AudioOutput output_;
};

TEST_F(TransportPlaybackTest, PlayFollowsTheEngineAndStopReturnsToZero) {
    AppState& s = GlobalAppState;
    PlaybackEngine& engine = LivePlaybackEngine;
    TransportPlayPause(s, engine, GlobalVideoPlayer);
    ASSERT_TRUE(engine.playing.load());
    EXPECT_GE(GetPlaybackTime(engine), 2.0) << "located at the playhead";
    EXPECT_TRUE(FramesUntil([&] { return s.playhead > 2.2f; })) << "the stream moves the engine and the playhead";
    EXPECT_NEAR(s.playhead, GetPlaybackTime(engine), 0.1);

    TransportStop(s, engine, GlobalVideoPlayer);
    EXPECT_FALSE(engine.playing.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    FrameTransport(1.0 / 60.0);
    EXPECT_EQ(s.playhead, 0.0f);
    EXPECT_LT(GetPlaybackTime(engine), 0.001) << "a stopped engine's clock stays at 0";
}

}  // namespace
}  // namespace korvel
