// The mixer tab: the fader law, and the tab drawn headless with clicks and
// drags on its strips and reverb controls, checked through what the audio
// thread would mix with.
#include "ui/panels/mixer_tab.h"

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "app/ui_layout.h"
#include "dsp/reverb.h"
#include "panels_fixture.h"
#include "picture/ref_audio.h"
#include "picture/video_player.h"
#include "playback/live_mixer.h"
#include "playback/mixer_publishing.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"

namespace korvel {
namespace {

using test::PanelFrames;
using test::UiHarness;

constexpr int kRate = 48000;
constexpr float kMonoGain = 0.70710678f;

TEST(MixerFaderLaw, PositionsGainsAndTexts) {
    struct Case {
        const char* name;
        float maxGain;
        float db;         // MapDbToFader input
        float position;   // its position
        float topGain;    // the gain at the top of the travel
    };
    const Case cases[] = {
        {"group: 0 dB at 80 %", 2.0f, 0.0f, 0.8f, 2.0f},
        {"group: the top is +6.02 dB", 2.0f, 6.0206f, 1.0f, 2.0f},
        {"group: above the top stays there", 2.0f, 12.0f, 1.0f, 2.0f},
        {"group: -30 dB halfway below 0", 2.0f, -30.0f, 0.4f, 2.0f},
        {"master: 0 dB at 80 %", 1.5f, 0.0f, 0.8f, 1.5f},
        {"master: the top is +3.52 dB", 1.5f, 3.5218f, 1.0f, 1.5f},
        {"ref: 0 dB is the top", 1.0f, 0.0f, 1.0f, 1.0f},
        {"ref: above 0 dB is the top", 1.0f, 4.0f, 1.0f, 1.0f},
        {"ref: -30 dB halfway", 1.0f, -30.0f, 0.5f, 1.0f},
        {"-60 dB is the bottom", 2.0f, -60.0f, 0.0f, 2.0f},
        {"below -60 dB stays at the bottom", 1.5f, -90.0f, 0.0f, 1.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FaderScale scale = FaderScaleFor(c.maxGain);
        EXPECT_NEAR(MapDbToFader(scale, c.db), c.position, 1e-4f);
        EXPECT_NEAR(FaderGainAtPosition(scale, 1.0f), c.topGain, 1e-4f);
        // The inverse law gives back the gain of every position above the bottom.
        if (c.position > 0.01f) {
            EXPECT_NEAR(FaderPositionForGain(scale, FaderGainAtPosition(scale, c.position)), c.position, 1e-4f);
        }
    }

    const FaderScale group = FaderScaleFor(2.0f);
    EXPECT_EQ(FaderGainAtPosition(group, 0.0f), 0.0f);
    EXPECT_EQ(FaderGainAtPosition(group, 0.001f), 0.0f) << "the bottom is silence, not -60 dB";
    EXPECT_GT(FaderGainAtPosition(group, 0.002f), 0.0f);
    EXPECT_EQ(FaderGainAtPosition(group, -3.0f), 0.0f);
    EXPECT_NEAR(FaderGainAtPosition(group, 7.0f), 2.0f, 1e-4f);
    EXPECT_EQ(FaderPositionForGain(group, 0.0f), 0.0f);
    EXPECT_EQ(FaderPositionForGain(group, 0.0009f), 0.0f);
    EXPECT_EQ(FaderPositionForGain(group, -1.0f), 0.0f);
    EXPECT_EQ(FaderPositionForGain(group, std::nanf("")), 0.0f);
    EXPECT_EQ(FaderPositionForGain(group, 1e30f), 1.0f) << "a damaged project value draws at the top";

    const std::pair<float, const char*> texts[] = {
        {0.0f, "-inf"}, {0.001f, "-inf"}, {0.0011f, "-inf"}, {0.00113f, "-58.9"}, {1.0f, "0.0"},
        {2.0f, "6.0"},  {0.5f, "-6.0"},   {-1.0f, "-inf"},   {std::nanf(""), "-inf"},
    };
    for (const auto& [gain, text] : texts) EXPECT_EQ(FaderValueText(gain), text) << gain;

    EXPECT_EQ(MeterFraction(0.0f), 0.0f);
    EXPECT_EQ(MeterFraction(0.0039f), 0.0f);
    EXPECT_NEAR(MeterFraction(1.0f), 1.0f, 1e-6f);
    EXPECT_NEAR(MeterFraction(0.063096f), 0.5f, 1e-4f);  // -24 dBFS
    EXPECT_EQ(MeterFraction(4.0f), 1.0f);
}

// The live engine mixing two constant voices, FX A at 0.1 and BG at 0.05,
// with the reverb off and the mixer at its defaults; the tab drawn headless.
class MixerTabTest : public ::testing::Test {
protected:
    void SetUp() override {
        PlaybackEngine& e = LivePlaybackEngine;
        PrepareVoices(e, kRate, 8);
        ResetReverb(e.reverbState, kRate);
        e.reverb = ReverbSettings{};
        e.reverb.enabled = false;
        PublishReverbSettings(e);
        ResetMixer();
        AppendVoice(e, Constant(0.1f, 1), 0.0f, 0.0f);
        AppendVoice(e, Constant(0.05f, 0), 0.0f, 0.0f);
        e.ready.store(true);
        e.playing.store(false);
        e.rampGain = 1.0f;
        GlobalAppState.unsavedChanges = false;
        GlobalVideoPlayer.loaded = false;
        SetRefAudioGain(1.0f);
        layout_.panelWidth = 560.0f;
        layout_.topAreaHeight = 480.0f;
        geometry_ = ComputeMixerGeometry(layout_.panelWidth, layout_.topAreaHeight);
    }
    void TearDown() override {
        PlaybackEngine& e = LivePlaybackEngine;
        e.playing.store(false);
        PrepareVoices(e, kRate, 0);
        e.reverb = ReverbSettings{};
        PublishReverbSettings(e);
        ResetMixer();
        GlobalVideoPlayer.loaded = false;
        SetRefAudioGain(1.0f);
    }
    static void ResetMixer() {
        PlaybackEngine& e = LivePlaybackEngine;
        e.groupGain = {1.0f, 1.0f, 1.0f};
        e.groupMute = {};
        e.groupSolo = {};
        e.masterGain = 1.0f;
        e.masterMute = false;
        e.refGain = 1.0f;
        e.refMute = false;
        e.peakL = e.peakR = 0.0f;
        e.meterLevelL = e.meterLevelR = e.meterHoldL = e.meterHoldR = e.meterHoldTimer = 0.0f;
        PublishMixerSettings(e);
    }
    static Voice Constant(float value, int group) {
        Voice v;
        v.frameCount = kRate;
        v.samplesL.assign(static_cast<std::size_t>(v.frameCount), value);
        v.duration = 1.0f;
        v.group = group;
        return v;
    }
    // The left output of one block as the audio thread mixes it now.
    static float MixedLevel() {
        PlaybackEngine& e = LivePlaybackEngine;
        e.playing.store(true);
        LocatePlayback(e, 0.25);
        std::vector<float> left(256), right(256);
        MixPlaybackBlock(e, left.data(), right.data(), 256);
        e.playing.store(false);
        return left.back();
    }

    std::function<void()> body() {
        return [this] {
            ImGui::SetCursorPos(ImVec2(0.0f, 0.0f));
            DrawMixerTab(ImGui::GetWindowDrawList(), layout_);
        };
    }
    ImVec2 Origin() {
        if (const ImGuiWindow* w = test::FindActiveWindow("##mixer_panel")) return w->Pos;
        ADD_FAILURE() << "no mixer panel";
        return ImVec2(0, 0);
    }
    // The fader knob of `strip` on screen, for its present gain.
    ImVec2 Knob(int strip, float gain) {
        frames_.Run(body());
        const ImVec2 o = Origin();
        const float position = FaderPositionForGain(FaderScaleFor(StripMaxGain(strip)), gain);
        return ImVec2(o.x + geometry_.stripLeft[strip] + 0.5f * geometry_.stripWidth,
                      o.y + FaderKnobY(geometry_, position));
    }
    ImVec2 Mute(int strip) {
        frames_.Run(body());
        const ImVec2 o = Origin();
        return ImVec2(o.x + geometry_.stripLeft[strip] + 6.0f, o.y + geometry_.trackBottom + 24.0f);
    }
    ReverbLayout Reverb() {
        frames_.Run(body());
        return ComputeReverbLayout(geometry_, ImGui::GetFontSize());
    }
    // Press at `from`, move by `by` over a few frames, release.
    void Drag(ImVec2 from, ImVec2 by, int steps = 4) {
        harness_.MoveMouse(from.x, from.y);
        frames_.Run(body());
        harness_.SetMouseButton(0, true);
        frames_.Run(body());
        for (int i = 1; i <= steps; ++i) {
            const float f = static_cast<float>(i) / static_cast<float>(steps);
            harness_.MoveMouse(from.x + by.x * f, from.y + by.y * f);
            frames_.Run(body());
        }
        harness_.SetMouseButton(0, false);
        frames_.Run(body());
    }
    void DoubleClick(ImVec2 at) {
        frames_.Click(at.x, at.y, body());
        frames_.Click(at.x, at.y, body());
    }

    UiHarness harness_;
    PanelFrames frames_{harness_};
    UILayout layout_;
    MixerGeometry geometry_;
};

TEST_F(MixerTabTest, MuteAndTheBottomOfAFaderSilenceTheirGroup) {
    const float both = (0.1f + 0.05f) * kMonoGain;
    EXPECT_NEAR(MixedLevel(), both, 1e-4f);

    frames_.Click(Mute(kStripFxA).x, Mute(kStripFxA).y, body());
    EXPECT_TRUE(LivePlaybackEngine.groupMute[1]);
    EXPECT_NEAR(MixedLevel(), 0.05f * kMonoGain, 1e-4f) << "the mute reached the audio thread";
    EXPECT_FALSE(GlobalAppState.unsavedChanges) << "mutes are saved nowhere";
    frames_.Click(Mute(kStripFxA).x, Mute(kStripFxA).y, body());
    EXPECT_NEAR(MixedLevel(), both, 1e-4f);

    Drag(Knob(kStripBg, 1.0f), ImVec2(0.0f, 400.0f));
    EXPECT_EQ(LivePlaybackEngine.groupGain[0], 0.0f);
    EXPECT_NEAR(MixedLevel(), 0.1f * kMonoGain, 1e-4f) << "the fader reached the audio thread";
    EXPECT_TRUE(GlobalAppState.unsavedChanges) << "the project file keeps the gains";

    // To the top: the group's maximum.
    Drag(Knob(kStripFxA, 1.0f), ImVec2(0.0f, -400.0f));
    EXPECT_NEAR(LivePlaybackEngine.groupGain[1], 2.0f, 1e-4f);
    Drag(Knob(kStripMaster, 1.0f), ImVec2(0.0f, -400.0f));
    EXPECT_NEAR(LivePlaybackEngine.masterGain, 1.5f, 1e-4f);
}

TEST_F(MixerTabTest, DoubleClickResetsAndTheSamePressDoesNotDrag) {
    LivePlaybackEngine.groupGain[2] = 0.25f;
    PublishMixerSettings(LivePlaybackEngine);
    const ImVec2 knob = Knob(kStripFxB, 0.25f);
    frames_.Click(knob.x, knob.y, body());
    // Second press: the double-click, then a drag while still held.
    harness_.SetMouseButton(0, true);
    frames_.Run(body());
    EXPECT_EQ(LivePlaybackEngine.groupGain[2], 1.0f);
    for (int i = 1; i <= 4; ++i) {
        harness_.MoveMouse(knob.x, knob.y + 30.0f * static_cast<float>(i));
        frames_.Run(body());
    }
    EXPECT_EQ(LivePlaybackEngine.groupGain[2], 1.0f) << "no drag in the double-click's press";
    harness_.SetMouseButton(0, false);
    frames_.Run(body());
    EXPECT_TRUE(GlobalAppState.unsavedChanges);

    // The next press drags again.
    Drag(Knob(kStripFxB, 1.0f), ImVec2(0.0f, 60.0f));
    EXPECT_LT(LivePlaybackEngine.groupGain[2], 1.0f);
}

TEST_F(MixerTabTest, RefFollowsTheVideoAndReachesTheReferenceAudio) {
    // No video: the strip takes nothing.
    Drag(Knob(kStripRef, 1.0f), ImVec2(0.0f, 100.0f));
    frames_.Click(Mute(kStripRef).x, Mute(kStripRef).y, body());
    EXPECT_EQ(LivePlaybackEngine.refGain, 1.0f);
    EXPECT_FALSE(LivePlaybackEngine.refMute);
    EXPECT_EQ(RefAudioGain.load(), 1.0f);

    GlobalVideoPlayer.loaded = true;
    Drag(Knob(kStripRef, 1.0f), ImVec2(0.0f, 0.5f * geometry_.travel));
    const float dragged = LivePlaybackEngine.refGain;
    EXPECT_LT(dragged, 0.1f);
    EXPECT_GT(dragged, 0.0f);
    EXPECT_EQ(RefAudioGain.load(), dragged);
    EXPECT_TRUE(GlobalAppState.unsavedChanges);

    frames_.Click(Mute(kStripRef).x, Mute(kStripRef).y, body());
    EXPECT_TRUE(LivePlaybackEngine.refMute);
    EXPECT_EQ(RefAudioGain.load(), 0.0f);
    Drag(Knob(kStripRef, dragged), ImVec2(0.0f, -20.0f));
    EXPECT_EQ(RefAudioGain.load(), 0.0f) << "a muted reference stays silent while its fader moves";
    frames_.Click(Mute(kStripRef).x, Mute(kStripRef).y, body());
    EXPECT_EQ(RefAudioGain.load(), LivePlaybackEngine.refGain);

    DoubleClick(Knob(kStripRef, LivePlaybackEngine.refGain));
    EXPECT_EQ(LivePlaybackEngine.refGain, 1.0f);
    EXPECT_EQ(RefAudioGain.load(), 1.0f);
}

TEST_F(MixerTabTest, MetersFollowWhileDrawnAndShareTheHoldTimer) {
    PlaybackEngine& e = LivePlaybackEngine;
    e.playing.store(true);
    e.peakL = 0.5f;
    for (int i = 0; i < 30; ++i) frames_.Run(body());  // 0.5 s
    EXPECT_NEAR(e.meterLevelL, 0.5f, 1e-3f) << "attack";
    EXPECT_EQ(e.meterHoldL, 0.5f);
    // The right channel peaks 1 s after the left: the shared timer starts
    // again and keeps the left hold past its own 1.5 s.
    e.peakL = 0.0f;
    for (int i = 0; i < 60; ++i) frames_.Run(body());
    e.peakR = 0.4f;
    frames_.Run(body());
    e.peakR = 0.0f;
    for (int i = 0; i < 60; ++i) frames_.Run(body());
    EXPECT_EQ(e.meterHoldL, 0.5f) << "2 s after the left peak, 1 s after the right";
    EXPECT_LT(e.meterLevelL, 0.01f) << "release";
    for (int i = 0; i < 300; ++i) frames_.Run(body());
    EXPECT_LT(e.meterHoldL, 0.01f);
    EXPECT_LT(e.meterHoldR, 0.01f);

    // Stopped: the peaks read as zero.
    e.playing.store(false);
    e.peakL = 1.0f;
    for (int i = 0; i < 10; ++i) frames_.Run(body());
    EXPECT_LT(e.meterLevelL, 0.01f);
}

TEST_F(MixerTabTest, ReverbOffLeavesSendsKnobsAndSpaceInert) {
    ReverbSettings& r = LivePlaybackEngine.reverb;
    const ReverbSettings before = r;
    const ReverbLayout l = Reverb();
    const ImVec2 o = Origin();
    const float sendY = o.y + geometry_.trackBottom + 36.0f + ImGui::GetFontSize() + 3.0f;
    const float sendX = o.x + geometry_.stripLeft[kStripFxA] + 4.0f;
    Drag(ImVec2(sendX, sendY), ImVec2(geometry_.stripWidth, 0.0f));
    Drag(ImVec2(o.x + l.knobX[0], o.y + l.knobY[0]), ImVec2(0.0f, -80.0f));
    DoubleClick(ImVec2(o.x + l.knobX[3], o.y + l.knobY[3]));
    Drag(ImVec2(o.x + l.pictureLeft + 20.0f, o.y + l.pictureTop + 10.0f), ImVec2(80.0f, 0.0f));
    EXPECT_EQ(r.groupSends, before.groupSends);
    EXPECT_EQ(r.size, before.size);
    EXPECT_EQ(r.preDelay, before.preDelay);
    EXPECT_EQ(r.macro, before.macro);
    EXPECT_FALSE(GlobalAppState.unsavedChanges);

    // On: the same gestures take effect and reach the mixer.
    const ImVec2 power(o.x + geometry_.sectionLeft + geometry_.sectionWidth - 13.0f, o.y + geometry_.sectionTop + 11.0f);
    frames_.Click(power.x, power.y, body());
    EXPECT_TRUE(r.enabled);
    EXPECT_TRUE(GlobalAppState.unsavedChanges);
    GlobalAppState.unsavedChanges = false;
    Drag(ImVec2(sendX, sendY), ImVec2(geometry_.stripWidth, 0.0f));
    EXPECT_EQ(r.groupSends[1], 1.0f) << "the FX A strip sends group 1";
    EXPECT_TRUE(GlobalAppState.unsavedChanges);
    Drag(ImVec2(o.x + l.knobX[0], o.y + l.knobY[0]), ImVec2(0.0f, -40.0f));
    EXPECT_NEAR(r.size, before.size + 40.0f * 0.004f, 1e-3f) << "250 px span the range, upward raises";
    EXPECT_EQ(r.macro, before.macro) << "a knob does not move the space";
    ApplyPendingReverbChanges(LivePlaybackEngine);
    EXPECT_EQ(LivePlaybackEngine.mixReverb.size, r.size);
    EXPECT_TRUE(LivePlaybackEngine.mixReverb.enabled);
}

TEST_F(MixerTabTest, KnobDoubleClicksAndTheSpaceControl) {
    ReverbSettings& r = LivePlaybackEngine.reverb;
    r.enabled = true;
    r.size = r.decay = r.damping = r.diffusion = r.modulation = 0.9f;
    r.preDelay = 0.15f;
    PublishReverbSettings(LivePlaybackEngine);
    const ReverbLayout l = Reverb();
    const ImVec2 o = Origin();
    for (int k = 0; k < 6; ++k) DoubleClick(ImVec2(o.x + l.knobX[k], o.y + l.knobY[k]));
    EXPECT_EQ(r.size, 0.5f);
    EXPECT_EQ(r.decay, 0.5f);
    EXPECT_EQ(r.damping, 0.5f);
    EXPECT_EQ(r.diffusion, 0.5f);
    EXPECT_EQ(r.modulation, 0.5f);
    EXPECT_EQ(r.preDelay, 0.015f) << "Pre-Dly resets to 15 ms";
    EXPECT_TRUE(GlobalAppState.unsavedChanges);

    // From Warehouse (0.5), a drag of a tenth of the picture's double width
    // lands 40 % of the way to Cathedral.
    r.macro = 0.5f;
    const ImVec2 start(o.x + l.pictureLeft + 10.0f, o.y + l.pictureTop + 10.0f);
    Drag(start, ImVec2(0.2f * l.pictureWidth, 0.0f), 1);
    EXPECT_NEAR(r.macro, 0.6f, 2e-3f) << "mouse positions land on whole pixels";
    const float f = 4.0f * r.macro - 2.0f;  // the way from Warehouse to Cathedral
    EXPECT_NEAR(f, 0.4f, 8e-3f);
    EXPECT_NEAR(r.size, 0.6f + 0.15f * f, 1e-5f);
    EXPECT_NEAR(r.decay, 0.35f + 0.3f * f, 1e-5f);
    EXPECT_NEAR(r.damping, 0.2f + 0.25f * f, 1e-5f);
    EXPECT_NEAR(r.preDelay, 0.015f + 0.011f * f, 1e-5f);
    EXPECT_NEAR(r.diffusion, 0.7f + 0.1f * f, 1e-5f);
    EXPECT_NEAR(r.modulation, 0.3f + 0.2f * f, 1e-5f);
    EXPECT_EQ(NearestReverbSpace(r.macro), 2);
    EXPECT_STREQ(ReverbSpaceName(NearestReverbSpace(r.macro)), "Warehouse");
    ApplyPendingReverbChanges(LivePlaybackEngine);
    EXPECT_EQ(LivePlaybackEngine.mixReverb.size, r.size) << "published";
    Drag(start, ImVec2(-4.0f * l.pictureWidth, 0.0f));
    EXPECT_EQ(r.macro, 0.0f);
    EXPECT_EQ(r.size, 0.0f);
    EXPECT_EQ(r.diffusion, 0.4f) << "Booth";
}

}  // namespace
}  // namespace korvel
