#pragma once
// The mixer tab: five strips (the three track groups, the reference video's
// audio and the master) with faders, meters, mute, solo and reverb sends,
// and the reverb section with its power switch, the space control and six
// knobs. Every control writes the live engine's UI-side settings and hands
// them to the audio thread by publishing (playback/mixer_publishing.h); the
// reference audio's gain goes through SetRefAudioGain. The fader law, the
// geometry and the texts are plain functions, tested without a frame. UI
// thread only.
#include <array>
#include <cstdint>
#include <string>

struct ImDrawList;

namespace korvel {

struct UILayout;

// The fader law of a strip whose top is `maxGain`: {max dB, the position of
// 0 dB, the span above it, the bottom's dB}.
struct FaderScale {
    float maxDb = 0.0f;
    float zero = 1.0f;
    float topSpan = 0.0f;
    float minDb = -60.0f;
};

FaderScale FaderScaleFor(float maxGain);

// Position 0..1 of `db` on the fader.
float MapDbToFader(const FaderScale& scale, float db);
// Position of a linear gain: 0 below 0.001 (and for a value that is not a
// number), the top for gains above the strip's maximum.
float FaderPositionForGain(const FaderScale& scale, float gain);
// The inverse law: the gain of position `q` (clamped to 0..1); 0 at the
// bottom (q <= 0.001).
float FaderGainAtPosition(const FaderScale& scale, float q);

// "-inf" at or below 0.001 or -59 dB, else "%.1f" of the gain in dB.
std::string FaderValueText(float gain);

// Meter height 0..1 of a linear level: -48..0 dBFS, 0 below 0.004.
float MeterFraction(float level);

// One strip of the fixed table, in display order.
enum MixerStrip : std::int32_t {
    kStripFxA = 0,
    kStripFxB = 1,
    kStripBg = 2,
    kStripRef = 3,
    kStripMaster = 4,
    kMixerStripCount = 5,
};

// The track group of a group strip, -1 for "Ref" and "Master".
std::int32_t StripGroup(std::int32_t strip);
float StripMaxGain(std::int32_t strip);

// Where things sit in the tab's child window (its top-left at 0, 0) for a
// panel of W × H.
struct MixerGeometry {
    float stripWidth = 0.0f;  // S
    std::array<float, kMixerStripCount> stripLeft = {};
    float trackTop = 54.0f;
    float trackBottom = 0.0f;  // B
    float travel = 0.0f;       // T
    float sectionLeft = 0.0f;  // the reverb section
    float sectionTop = 28.0f;
    float sectionWidth = 0.0f;
    float sectionHeight = 0.0f;
};

MixerGeometry ComputeMixerGeometry(float panelWidth, float topAreaHeight);

// The reverb section's room picture (the space control) and the centres of
// its six knobs, for the font size `fontSize`; child coordinates.
struct ReverbLayout {
    float pictureLeft = 0.0f;
    float pictureTop = 0.0f;
    float pictureWidth = 0.0f;
    float pictureHeight = 0.0f;
    float knobRadius = 0.0f;
    float rowHeight = 0.0f;
    std::array<float, 6> knobX = {};
    std::array<float, 6> knobY = {};
};

ReverbLayout ComputeReverbLayout(const MixerGeometry& g, float fontSize);

// The knob's y for a fader position, kept 14 px inside the track.
float FaderKnobY(const MixerGeometry& g, float position);

// The nearest of the five rooms for a space value: round(4 × macro), 0..4.
std::int32_t NearestReverbSpace(float macro);
const char* ReverbSpaceName(std::int32_t index);

// Draws the tab into a child window of the panel's size.
void DrawMixerTab(ImDrawList* drawList, const UILayout& layout);

}  // namespace korvel
