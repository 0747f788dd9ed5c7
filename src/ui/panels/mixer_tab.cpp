// The mixer tab.
//
// [SECTION] Fader law, texts and geometry
// [SECTION] Drawing: strips
// [SECTION] Drawing: reverb section
// [SECTION] Drawing: the tab
#include "ui/panels/mixer_tab.h"

#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>

#include "app/frame/style.h"
#include "app/theme.h"
#include "app/ui_layout.h"
#include "picture/ref_audio.h"
#include "picture/video_player.h"
#include "platform/thread_checks.h"
#include "playback/mixer_publishing.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "ui/panels/panel_look.h"

namespace korvel {

// ---------------------------------------------------------------------------
// [SECTION] Fader law, texts and geometry
// ---------------------------------------------------------------------------

namespace {

constexpr float kSilentGain = 0.001f;
constexpr float kStripsShare = 0.58f;

struct StripRow {
    const char* name;
    std::int32_t group;  // -1 none
    float maxGain;
};

constexpr StripRow kStrips[kMixerStripCount] = {
    {"FX A", 1, 2.0f}, {"FX B", 2, 2.0f}, {"BG", 0, 2.0f}, {"Ref", -1, 1.0f}, {"Master", -1, 1.5f},
};

constexpr const char* kSpaceNames[] = {"Booth", "Room", "Warehouse", "Cathedral", "Sky"};

}  // namespace

FaderScale FaderScaleFor(float maxGain) {
    FaderScale s;
    s.maxDb = maxGain > 0.0f ? 20.0f * std::log10(maxGain) : 0.0f;
    s.zero = s.maxDb > 0.5f ? 0.8f : 1.0f;
    s.topSpan = 1.0f - s.zero;
    s.minDb = -60.0f;
    return s;
}

float MapDbToFader(const FaderScale& scale, float db) {
    if (std::isnan(db)) return 0.0f;
    const float z = scale.zero;
    if (db >= 0.0f && scale.maxDb > 0.5f) return z + (1.0f - z) * std::clamp(db / scale.maxDb, 0.0f, 1.0f);
    const float below = std::min(std::max(z, 0.0f), (1.0f - db / scale.minDb) * z);
    return below < 0.0f ? 0.0f : below;
}

float FaderPositionForGain(const FaderScale& scale, float gain) {
    if (!(gain >= kSilentGain)) return 0.0f;
    return MapDbToFader(scale, 20.0f * std::log10(std::min(gain, 1.0e6f)));
}

float FaderGainAtPosition(const FaderScale& scale, float q) {
    q = std::isnan(q) ? 0.0f : std::clamp(q, 0.0f, 1.0f);
    if (q <= kSilentGain) return 0.0f;
    const float z = scale.zero;
    const float db = q < z || scale.maxDb <= 0.5f ? (q / z - 1.0f) * -scale.minDb : (q - z) / (1.0f - z) * scale.maxDb;
    return std::pow(10.0f, db / 20.0f);
}

std::string FaderValueText(float gain) {
    if (!(gain > kSilentGain)) return "-inf";
    const float db = 20.0f * std::log10(gain);
    if (db <= -59.0f) return "-inf";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(db));
    return text;
}

float MeterFraction(float level) {
    if (!(level >= 0.004f)) return 0.0f;
    return std::clamp((20.0f * std::log10(level) + 48.0f) / 48.0f, 0.0f, 1.0f);
}

std::int32_t StripGroup(std::int32_t strip) {
    return strip >= 0 && strip < kMixerStripCount ? kStrips[strip].group : -1;
}

float StripMaxGain(std::int32_t strip) {
    return strip >= 0 && strip < kMixerStripCount ? kStrips[strip].maxGain : 1.0f;
}

MixerGeometry ComputeMixerGeometry(float W, float H) {
    MixerGeometry g;
    const float usable = W - 32.0f;
    g.stripWidth = (kStripsShare * usable - 18.0f) / 5.0f;
    for (int i = 0; i < kMixerStripCount; ++i)
        g.stripLeft[i] = 16.0f + static_cast<float>(i) * (g.stripWidth + 3.0f) + (i == kStripMaster ? 6.0f : 0.0f);
    g.trackBottom = H - 80.0f;
    g.travel = std::max(g.trackBottom - g.trackTop, 30.0f);
    g.sectionLeft = 16.0f + kStripsShare * usable + 8.0f;
    g.sectionWidth = (1.0f - kStripsShare) * usable - 8.0f;
    g.sectionHeight = H - 44.0f;
    return g;
}

ReverbLayout ComputeReverbLayout(const MixerGeometry& g, float fontSize) {
    ReverbLayout l;
    l.knobRadius = std::min((g.sectionWidth - 24.0f) / 6.0f, 15.0f);
    l.rowHeight = 2.0f * l.knobRadius + 4.0f + fontSize + 12.0f;
    l.pictureLeft = g.sectionLeft + 6.0f;
    l.pictureTop = g.sectionTop + 22.0f;
    l.pictureWidth = std::max(g.sectionWidth - 12.0f, 1.0f);
    l.pictureHeight = std::max(g.sectionHeight - (2.0f * l.rowHeight - 12.0f + 2.0f + 46.0f + 12.0f), 20.0f);
    const float column = (g.sectionWidth - 12.0f) / 3.0f;
    const float firstRow = l.pictureTop + l.pictureHeight + 24.0f;
    for (int i = 0; i < 6; ++i) {
        l.knobX[i] = g.sectionLeft + 6.0f + column * (static_cast<float>(i % 3) + 0.5f);
        l.knobY[i] = firstRow + l.rowHeight * static_cast<float>(i / 3) + l.knobRadius;
    }
    return l;
}

float FaderKnobY(const MixerGeometry& g, float position) {
    const float y = g.trackBottom - position * g.travel;
    return std::clamp(y, g.trackTop + 14.0f, std::max(g.trackTop + 14.0f, g.trackBottom - 14.0f));
}

std::int32_t NearestReverbSpace(float macro) {
    if (std::isnan(macro)) return 0;
    return std::clamp(static_cast<std::int32_t>(std::lround(4.0f * macro)), 0, 4);
}

const char* ReverbSpaceName(std::int32_t index) { return kSpaceNames[std::clamp(index, 0, 4)]; }

// ---------------------------------------------------------------------------
// [SECTION] Drawing: strips
// ---------------------------------------------------------------------------

namespace {

ImU32 Alpha(std::uint32_t color, int alpha) { return panels::Col(ColorWithAlpha(color, alpha)); }
ImU32 Hex(std::uint32_t rgb, int alpha) {
    return IM_COL32((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF, std::clamp(alpha, 0, 255));
}

// Function-local state of the faders: the strip whose fader was
// double-clicked (no drag until its button is released), each fader's grab
// offset and its gain when the press began.
struct FaderPress {
    std::int32_t doubleClicked = -1;
    std::array<float, kMixerStripCount> grabOffset = {};
    std::array<float, kMixerStripCount> pressGain = {};
};

// The strips' fields belong to the UI thread; the export and the mixer
// read copies handed over when they change.
float& StripGain(PlaybackEngine& e, std::int32_t strip) {
    KORVEL_CHECK_THREAD(ui);
    if (strip == kStripRef) return e.refGain;
    if (strip == kStripMaster) return e.masterGain;
    return e.groupGain[static_cast<std::size_t>(StripGroup(strip))];
}

bool& StripMute(PlaybackEngine& e, std::int32_t strip) {
    KORVEL_CHECK_THREAD(ui);
    if (strip == kStripRef) return e.refMute;
    if (strip == kStripMaster) return e.masterMute;
    return e.groupMute[static_cast<std::size_t>(StripGroup(strip))];
}

// Hands a change of strip `strip` to whoever mixes it.
void PublishStrip(PlaybackEngine& e, std::int32_t strip) {
    if (strip == kStripRef) {
        // A muted reference stays silent while its fader moves.
        SetRefAudioGain(e.refMute ? 0.0f : e.refGain);
        return;
    }
    PublishMixerSettings(e);
}

struct MeterReading {
    float levelL, levelR, holdL, holdR;
};

MeterReading StripMeter(const PlaybackEngine& e, std::int32_t strip) {
    if (strip == kStripMaster) return {e.meterLevelL, e.meterLevelR, e.meterHoldL, e.meterHoldR};
    const std::size_t g = static_cast<std::size_t>(StripGroup(strip));
    return {e.groupMeterLevelL[g], e.groupMeterLevelR[g], e.groupMeterHoldL[g], e.groupMeterHoldR[g]};
}

void DrawScale(ImDrawList* draw, const ImVec2& o, const MixerGeometry& g, const FaderScale& scale, float left,
               float cx) {
    static constexpr float kMarks[] = {6.0f, 0.0f, -6.0f, -12.0f, -18.0f, -24.0f, -36.0f, -48.0f};
    static constexpr const char* kLabels[] = {"+6", "0", "-6", "-12", "-18", "-24", "-36", "-48"};
    ImFont* font = ImGui::GetFont();
    const float size = 0.9f * ImGui::GetFontSize();
    for (int m = 0; m < 8; ++m) {
        if (kMarks[m] > scale.maxDb + 0.1f) continue;
        const float y = g.trackBottom - MapDbToFader(scale, kMarks[m]) * g.travel;
        if (y < g.trackTop + 4.0f || y > g.trackBottom - 4.0f) continue;
        const bool zero = kMarks[m] == 0.0f;
        draw->AddLine(ImVec2(o.x + cx - 12.0f, o.y + y), ImVec2(o.x + cx - 9.0f, o.y + y),
                      Alpha(ThemePalette.textMuted, zero ? 180 : 140), 1.0f);
        const ImVec2 text = font->CalcTextSizeA(size, FLT_MAX, 0.0f, kLabels[m]);
        const float x = cx - 13.0f - text.x;
        if (x < left) continue;
        draw->AddText(font, size, ImVec2(o.x + x, o.y + y - 0.5f * text.y), Alpha(ThemePalette.textMuted, zero ? 160 : 120),
                      kLabels[m]);
    }
}

void DrawMeter(ImDrawList* draw, const ImVec2& o, const MixerGeometry& g, const MeterReading& r, float cx) {
    const float bottom = g.trackBottom - 14.0f;
    const float length = std::max(bottom - (g.trackTop + 14.0f), 0.0f);
    const float height = std::max(MeterFraction(r.levelL), MeterFraction(r.levelR)) * length;
    if (height > 0.5f) {
        const float loud = std::max(r.levelL, r.levelR);
        const std::uint32_t color =
            loud > 0.9f ? ThemePalette.meterHigh : loud > 0.7f ? ThemePalette.meterMid : ThemePalette.meterLow;
        draw->AddRectFilled(ImVec2(o.x + cx - 3.0f, o.y + bottom - height), ImVec2(o.x + cx + 3.0f, o.y + bottom),
                            panels::Col(color), 2.0f);
    }
    const float hold = std::max(MeterFraction(r.holdL), MeterFraction(r.holdR));
    if (hold > 0.01f) {
        const float y = bottom - hold * length;
        draw->AddLine(ImVec2(o.x + cx - 3.0f, o.y + y), ImVec2(o.x + cx + 3.0f, o.y + y),
                      hold > 0.94f ? Alpha(ThemePalette.meterHigh, 240) : Alpha(ThemePalette.highlight, 180), 1.5f);
    }
}

void DrawKnob(ImDrawList* draw, const ImVec2& o, float cx, float ky, bool active, bool muted) {
    ImU32 upper, lower, grip;
    if (!active) {
        upper = Alpha(ThemePalette.surfaceHover, 200);
        lower = Alpha(ThemePalette.barBg, 200);
        grip = Alpha(ThemePalette.textMuted, 150);
    } else if (muted) {
        upper = Alpha(ThemePalette.muteOnBg, 220);
        lower = Alpha(ThemePalette.muteOnActive, 220);
        grip = Alpha(ThemePalette.muteOnText, 180);
    } else {
        upper = Hex(0x69696E, 230);
        lower = Hex(0x37373A, 230);
        grip = Hex(0xC8C8C8, 200);
    }
    const ImVec2 a(o.x + cx - 8.0f, o.y + ky - 14.0f);
    const ImVec2 b(o.x + cx + 8.0f, o.y + ky + 14.0f);
    draw->AddRectFilled(a, ImVec2(b.x, o.y + ky), upper, 4.0f, ImDrawFlags_RoundCornersTop);
    draw->AddRectFilled(ImVec2(a.x, o.y + ky), b, lower, 4.0f, ImDrawFlags_RoundCornersBottom);
    draw->AddRect(a, b, Hex(0x505055, 120), 4.0f, 0, 1.0f);
    for (float dy : {-3.0f, 0.0f, 3.0f})
        draw->AddLine(ImVec2(a.x + 4.0f, o.y + ky + dy), ImVec2(b.x - 4.0f, o.y + ky + dy), grip, 1.0f);
}

void DrawFaderButton(PlaybackEngine& e, AppState& state, FaderPress& press, const MixerGeometry& g,
                     const FaderScale& scale, std::int32_t strip, float left, float knobY) {
    float& gain = StripGain(e, strip);
    char id[16];
    std::snprintf(id, sizeof id, "##fader%d", strip);
    ImGui::SetCursorPos(ImVec2(left, g.trackTop));
    ImGui::InvisibleButton(id, ImVec2(g.stripWidth, g.travel));
    const float mouseY = ImGui::GetIO().MousePos.y - ImGui::GetWindowPos().y;
    if (ImGui::IsItemActivated()) {
        press.grabOffset[strip] = mouseY - knobY;
        press.pressGain[strip] = gain;
    }
    if (ImGui::IsItemHovered() && ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left)) {
        gain = 1.0f;
        press.doubleClicked = strip;
        PublishStrip(e, strip);
    } else if (ImGui::IsItemActive() && press.doubleClicked != strip) {
        const float q = 1.0f - std::clamp((mouseY - press.grabOffset[strip] - g.trackTop) / g.travel, 0.0f, 1.0f);
        const float next = FaderGainAtPosition(scale, q);
        if (next != gain) {
            gain = next;
            PublishStrip(e, strip);
        }
    }
    if (ImGui::IsItemDeactivated()) {
        if (press.doubleClicked == strip) press.doubleClicked = -1;
        // The project file keeps the gains; a gesture marks it once.
        if (gain != press.pressGain[strip]) state.unsavedChanges = true;
    }
}

void DrawMuteSolo(PlaybackEngine& e, const MixerGeometry& g, std::int32_t strip, float left) {
    const float width = (g.stripWidth - 6.0f) / 2.0f;
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0.0f, 0.0f));
    char id[16];
    bool& mute = StripMute(e, strip);
    ImGui::SetCursorPos(ImVec2(left + 2.0f, g.trackBottom + 16.0f));
    PushMuteButtonColors(mute);
    std::snprintf(id, sizeof id, "M##m%d", strip);
    if (ImGui::Button(id, ImVec2(width, 16.0f))) {
        mute = !mute;
        PublishStrip(e, strip);
    }
    PopColors4();
    ShowItemTooltip("Mute");
    const std::int32_t group = StripGroup(strip);
    if (group >= 0) {
        bool& solo = e.groupSolo[static_cast<std::size_t>(group)];
        ImGui::SetCursorPos(ImVec2(left + 2.0f + width + 2.0f, g.trackBottom + 16.0f));
        PushSoloButtonColors(solo);
        std::snprintf(id, sizeof id, "S##s%d", strip);
        if (ImGui::Button(id, ImVec2(width, 16.0f))) {
            solo = !solo;
            PublishMixerSettings(e);
        }
        PopColors4();
        ShowItemTooltip("Solo");
    }
    ImGui::PopStyleVar();
}

void DrawSend(ImDrawList* draw, const ImVec2& o, PlaybackEngine& e, AppState& state, const MixerGeometry& g,
              std::int32_t strip, float left) {
    const std::size_t group = static_cast<std::size_t>(StripGroup(strip));
    const bool on = e.reverb.enabled;
    const float labelY = g.trackBottom + 36.0f;
    draw->AddText(ImVec2(o.x + left + 2.0f, o.y + labelY),
                  on ? panels::Col(ThemePalette.reverbSend) : Hex(0x464646, 120), "Reverb");
    const float barLeft = left + 3.0f;
    const float barTop = labelY + ImGui::GetFontSize() + 1.0f;
    const float barWidth = std::max(g.stripWidth - 6.0f, 1.0f);
    draw->AddRectFilled(ImVec2(o.x + barLeft, o.y + barTop), ImVec2(o.x + barLeft + barWidth, o.y + barTop + 5.0f),
                        panels::Col(ThemePalette.frameBg), 2.0f);
    float& send = e.reverb.groupSends[group];
    if (!on) return;
    const float fill = std::clamp(std::isnan(send) ? 0.0f : send, 0.0f, 1.0f) * barWidth;
    if (fill > 0.5f)
        draw->AddRectFilled(ImVec2(o.x + barLeft, o.y + barTop), ImVec2(o.x + barLeft + fill, o.y + barTop + 5.0f),
                            Alpha(ThemePalette.reverbSend, 180), 2.0f);
    char id[16];
    std::snprintf(id, sizeof id, "##send%d", strip);
    ImGui::SetCursorPos(ImVec2(barLeft, barTop));
    ImGui::InvisibleButton(id, ImVec2(barWidth, 5.0f));
    static std::array<float, kMixerStripCount> pressSend = {};
    if (ImGui::IsItemActivated()) pressSend[strip] = send;
    if (ImGui::IsItemActive()) {
        const float mouseX = ImGui::GetIO().MousePos.x - o.x;
        const float next = std::clamp((mouseX - barLeft) / barWidth, 0.0f, 1.0f);
        if (next != send) {
            send = next;
            PublishReverbSettings(e);
        }
    }
    if (ImGui::IsItemDeactivated() && send != pressSend[strip]) state.unsavedChanges = true;
    ShowItemTooltip("Reverb Send: %.0f%%", static_cast<double>(send * 100.0f));
}

void DrawStrip(ImDrawList* draw, const ImVec2& o, PlaybackEngine& e, AppState& state, FaderPress& press,
               const MixerGeometry& g, float H, std::int32_t strip) {
    const StripRow& row = kStrips[strip];
    const bool active = strip != kStripRef || GlobalVideoPlayer.loaded;
    const float left = g.stripLeft[strip];
    const float right = left + g.stripWidth;
    const float cx = left + 0.5f * g.stripWidth;
    const FaderScale scale = FaderScaleFor(row.maxGain);
    const float gain = StripGain(e, strip);
    const bool muted = StripMute(e, strip);

    const ImVec2 top(o.x + left, o.y + 28.0f);
    const ImVec2 bottom(o.x + right, o.y + H - 16.0f);
    draw->AddRectFilled(top, bottom, panels::Col(strip == kStripMaster ? ThemePalette.frameBg : ThemePalette.windowBg),
                        4.0f);
    if (!active) draw->AddRectFilled(top, bottom, Alpha(ThemePalette.windowBg, 100), 4.0f);

    const ImVec2 nameSize = ImGui::CalcTextSize(row.name);
    const ImU32 nameColor = muted    ? Alpha(ThemePalette.muteOnBg, 200)
                            : active ? panels::Col(ThemePalette.textPrimary)
                                     : panels::Col(ThemePalette.textMuted);
    draw->AddText(ImVec2(o.x + cx - 0.5f * nameSize.x, o.y + 32.0f), nameColor, row.name);

    draw->AddRectFilled(ImVec2(o.x + cx - 3.0f, o.y + g.trackTop + 14.0f),
                        ImVec2(o.x + cx + 3.0f, o.y + std::max(g.trackBottom - 14.0f, g.trackTop + 14.0f)),
                        panels::Col(ThemePalette.overlayBg), 2.0f);
    if (active) DrawScale(draw, o, g, scale, left, cx);
    if (active && strip != kStripRef) DrawMeter(draw, o, g, StripMeter(e, strip), cx);

    const float knobY = FaderKnobY(g, FaderPositionForGain(scale, gain));
    DrawKnob(draw, o, cx, knobY, active, muted);
    if (active) DrawFaderButton(e, state, press, g, scale, strip, left, knobY);

    const std::string value = FaderValueText(StripGain(e, strip));
    const ImVec2 valueSize = ImGui::CalcTextSize(value.c_str());
    draw->AddText(ImVec2(o.x + cx - 0.5f * valueSize.x, o.y + g.trackBottom + 2.0f),
                  active ? panels::Col(ThemePalette.textMuted) : Alpha(ThemePalette.textMuted, 150), value.c_str());

    if (active) DrawMuteSolo(e, g, strip, left);
    if (row.group >= 0) DrawSend(draw, o, e, state, g, strip, left);
}

// ---------------------------------------------------------------------------
// [SECTION] Drawing: reverb section
// ---------------------------------------------------------------------------

struct KnobSpec {
    const char* label;
    const char* id;
    float ReverbSettings::*value;
    float max;
    float reset;
};

constexpr KnobSpec kKnobs[6] = {
    {"Size", "##kSize", &ReverbSettings::size, 1.0f, 0.5f},
    {"Decay", "##kDecay", &ReverbSettings::decay, 1.0f, 0.5f},
    {"Damp", "##kDamp", &ReverbSettings::damping, 1.0f, 0.5f},
    {"Pre-Dly", "##kPreDly", &ReverbSettings::preDelay, 0.2f, 0.015f},
    {"Diffuse", "##kDiffuse", &ReverbSettings::diffusion, 1.0f, 0.5f},
    {"Mod", "##kMod", &ReverbSettings::modulation, 1.0f, 0.5f},
};

void AddQuad(ImDrawList* draw, ImVec2 a, ImVec2 b, ImVec2 c, ImVec2 d, ImU32 color) {
    draw->AddQuadFilled(a, b, c, d, color);
}

ImVec2 Lerp(ImVec2 a, ImVec2 b, float t) { return ImVec2(a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t); }

void DrawRoom(ImDrawList* draw, ImVec2 min, ImVec2 max, float macro, bool on) {
    const float k = on ? 1.0f : 0.25f;
    auto alpha = [k](float a) { return static_cast<int>(std::min(a * k, 255.0f)); };
    const ImVec2 fmin(min.x + 4.0f, min.y + 4.0f), fmax(max.x - 4.0f, max.y - 4.0f);
    const ImVec2 vp(fmin.x + 0.5f * (fmax.x - fmin.x), fmin.y + 0.42f * (fmax.y - fmin.y));
    const float m = std::isnan(macro) ? 0.0f : std::clamp(macro, 0.0f, 1.0f);
    const float scale = 1.0f - (0.08f + 0.72f * m);
    auto back = [&](ImVec2 p) { return ImVec2(vp.x + (p.x - vp.x) * scale, vp.y + (p.y - vp.y) * scale); };
    const ImVec2 ftl = fmin, ftr(fmax.x, fmin.y), fbl(fmin.x, fmax.y), fbr = fmax;
    const ImVec2 btl = back(ftl), btr = back(ftr), bbl = back(fbl), bbr = back(fbr);

    AddQuad(draw, fbl, fbr, bbr, bbl, Hex(on ? 0x3C325A : 0x323237, alpha(25)));
    AddQuad(draw, ftl, ftr, btr, btl, Hex(on ? 0x504178 : 0x37373C, alpha(15)));
    AddQuad(draw, ftl, btl, bbl, fbl, Hex(on ? 0x463769 : 0x323237, alpha(18)));
    AddQuad(draw, ftr, btr, bbr, fbr, Hex(on ? 0x463769 : 0x323237, alpha(18)));
    AddQuad(draw, btl, btr, bbr, bbl, Hex(on ? 0x5A4B82 : 0x3C3C41, alpha(35)));

    draw->AddQuad(btl, btr, bbr, bbl, on ? Hex(0x7864AA, alpha(80)) : Hex(0x505055, alpha(60)), 1.0f);
    const ImU32 edge = on ? Hex(0x64508C, alpha(40)) : Hex(0x414146, alpha(30));
    draw->AddLine(ftl, btl, edge, 1.0f);
    draw->AddLine(ftr, btr, edge, 1.0f);
    draw->AddLine(fbl, bbl, edge, 1.0f);
    draw->AddLine(fbr, bbr, edge, 1.0f);

    const std::uint32_t floorLine = on ? 0x645096 : 0x46464B;
    for (float t : {0.2f, 0.4f, 0.6f, 0.8f})
        draw->AddLine(Lerp(fbl, bbl, t), Lerp(fbr, bbr, t), Hex(floorLine, alpha((1.0f - 0.5f * t) * 30.0f)), 1.0f);
    for (float t : {1.0f / 3.0f, 2.0f / 3.0f})
        draw->AddLine(Lerp(fbl, fbr, t), Lerp(bbl, bbr, t), Hex(floorLine, alpha(20.0f)), 1.0f);
}

// One parameter knob centred at (cx, cy) in the child; true when the value
// changed this frame.
bool DrawParameterKnob(ImDrawList* draw, const ImVec2& o, ReverbSettings& reverb, const KnobSpec& spec, float cx,
                       float cy, float r) {
    const bool on = reverb.enabled;
    const float k = on ? 1.0f : 0.3f;
    float& value = reverb.*spec.value;
    float t = spec.max > 0.0f ? (value - 0.0f) / spec.max : 0.0f;
    t = std::isnan(t) ? 0.0f : std::clamp(t, 0.0f, 1.0f);
    const ImVec2 c(o.x + cx, o.y + cy);
    constexpr float kPi = 3.14159265f;
    constexpr float kStart = 0.75f * kPi;
    constexpr float kSweep = 1.5f * kPi;
    draw->PathArcTo(c, r, kStart, kStart + kSweep, 32);
    draw->PathStroke(panels::Col(ThemePalette.surfaceHover), 0, 2.5f);
    if (t > 0.01f) {
        draw->PathArcTo(c, r, kStart, kStart + kSweep * t, 32);
        draw->PathStroke(Alpha(ThemePalette.reverbSend, static_cast<int>(200.0f * k)), 0, 2.5f);
    }
    draw->AddCircleFilled(c, std::max(r - 3.0f, 1.0f), panels::Col(ThemePalette.barBg));
    const float angle = kStart + kSweep * t;
    draw->AddCircleFilled(ImVec2(c.x + std::cos(angle) * r, c.y + std::sin(angle) * r), 3.0f,
                          Alpha(ThemePalette.reverbDeep, static_cast<int>(240.0f * k)));
    const bool preDelay = spec.value == &ReverbSettings::preDelay;
    char text[16];
    std::snprintf(text, sizeof text, "%.0f", static_cast<double>(preDelay ? value * 1000.0f : t * 100.0f));
    const ImVec2 textSize = ImGui::CalcTextSize(text);
    draw->AddText(ImVec2(c.x - 0.5f * textSize.x, c.y - 0.5f * textSize.y),
                  Alpha(ThemePalette.textSecondary, static_cast<int>(255.0f * k)), text);
    const ImVec2 labelSize = ImGui::CalcTextSize(spec.label);
    draw->AddText(ImVec2(c.x - 0.5f * labelSize.x, c.y + r + 4.0f),
                  Alpha(ThemePalette.textMuted, static_cast<int>(255.0f * k)), spec.label);

    ImGui::SetCursorPos(ImVec2(cx - r, cy - r));
    ImGui::InvisibleButton(spec.id, ImVec2(2.0f * r, 2.0f * r));
    bool changed = false;
    if (on) {
        const ImVec2 delta = ImGui::GetIO().MouseDelta;
        if (ImGui::IsItemHovered() && ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left)) {
            value = spec.reset;
            changed = true;
        } else if (ImGui::IsItemActive() && (std::fabs(delta.x) > 0.2f || std::fabs(delta.y) > 0.2f)) {
            t = std::clamp(t - delta.y * 0.004f, 0.0f, 1.0f);
            value = t * spec.max;
            changed = true;
        }
    }
    if (preDelay)
        ShowItemTooltip("Pre-Delay: %.0f ms", static_cast<double>(value * 1000.0f));
    else
        ShowItemTooltip("%s: %.2f", spec.label, static_cast<double>(value));
    return changed;
}

void DrawReverbSection(ImDrawList* draw, const ImVec2& o, PlaybackEngine& e, AppState& state, const MixerGeometry& g) {
    ReverbSettings& reverb = e.reverb;
    const ImVec2 min(o.x + g.sectionLeft, o.y + g.sectionTop);
    const ImVec2 max(min.x + g.sectionWidth, min.y + g.sectionHeight);
    draw->AddRectFilled(min, max, panels::Col(ThemePalette.windowBg), 4.0f);
    draw->PushClipRect(min, max, true);
    bool changed = false;
    bool ended = false;

    const ImVec2 title = ImGui::CalcTextSize("REVERB");
    draw->AddText(ImVec2(min.x + 0.5f * (g.sectionWidth - title.x), min.y + 4.0f),
                  panels::Col(ThemePalette.textSecondary), "REVERB");

    // Power.
    ImGui::SetCursorPos(ImVec2(g.sectionLeft + g.sectionWidth - 22.0f, g.sectionTop + 2.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(3.0f, 3.0f));
    ImGui::PushStyleColor(ImGuiCol_Button, IM_COL32(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, Alpha(ThemePalette.textMuted, 102));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, Alpha(ThemePalette.textMuted, 153));
    ImGui::PushStyleColor(ImGuiCol_Text, reverb.enabled ? ImGui::ColorConvertFloat4ToU32(ImVec4(0.7f, 0.75f, 0.85f, 1.0f))
                                                        : Alpha(ThemePalette.textMuted, 96));
    if (ImGui::Button("\xEF\x80\x91##rvPower", ImVec2(18.0f, 18.0f))) {  // U+F011
        reverb.enabled = !reverb.enabled;
        PublishReverbSettings(e);
        state.unsavedChanges = true;
    }
    ImGui::PopStyleColor(4);
    ImGui::PopStyleVar();
    ShowItemTooltip(reverb.enabled ? "Disable reverb" : "Enable reverb");
    const bool on = reverb.enabled;

    // Room picture and the space control.
    const ReverbLayout l = ComputeReverbLayout(g, ImGui::GetFontSize());
    const float picLeft = l.pictureLeft;
    const float picTop = l.pictureTop;
    const float picWidth = l.pictureWidth;
    const float picHeight = l.pictureHeight;
    DrawRoom(draw, ImVec2(o.x + picLeft, o.y + picTop), ImVec2(o.x + picLeft + picWidth, o.y + picTop + picHeight),
             reverb.macro, on);
    const std::int32_t nearest = NearestReverbSpace(reverb.macro);
    char label[64];
    if (on)
        std::snprintf(label, sizeof label, "%s  %.0f%%", ReverbSpaceName(nearest),
                      static_cast<double>(reverb.macro * 100.0f));
    else
        std::snprintf(label, sizeof label, "Off");
    const ImVec2 labelSize = ImGui::CalcTextSize(label);
    draw->AddText(ImVec2(o.x + picLeft + 0.5f * (picWidth - labelSize.x), o.y + picTop + picHeight + 4.0f),
                  panels::Col(on ? ThemePalette.textSecondary : ThemePalette.textMuted), label);

    ImGui::SetCursorPos(ImVec2(picLeft, picTop));
    ImGui::InvisibleButton("##rvspaceMx", ImVec2(picWidth, picHeight));
    const float dx = ImGui::GetIO().MouseDelta.x;
    if (ImGui::IsItemActive() && std::fabs(dx) > 0.5f && on) {
        const float macro = std::isnan(reverb.macro) ? 0.0f : reverb.macro;
        reverb.macro = std::clamp(macro + dx / (2.0f * picWidth), 0.0f, 1.0f);
        ApplyReverbMacro(reverb);
        changed = true;
    }
    if (ImGui::IsItemDeactivated()) ended = true;
    if (on && ImGui::IsItemHovered()) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
        ShowTooltip("%s (%.0f%%)  \xE2\x80\x94  drag to adjust", ReverbSpaceName(nearest),
                    static_cast<double>(reverb.macro * 100.0f));
    }

    // Knobs.
    for (int i = 0; i < 6; ++i) {
        if (DrawParameterKnob(draw, o, reverb, kKnobs[i], l.knobX[i], l.knobY[i], l.knobRadius)) changed = true;
        if (ImGui::IsItemDeactivated()) ended = true;
    }
    draw->PopClipRect();

    // The project file keeps these settings: a gesture that changed them
    // marks it when it ends.
    static bool changedInGesture = false;
    if (changed) {
        PublishReverbSettings(e);
        changedInGesture = true;
    }
    if (ended && changedInGesture) {
        state.unsavedChanges = true;
        changedInGesture = false;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] Drawing: the tab
// ---------------------------------------------------------------------------

void DrawMixerTab(ImDrawList* /*drawList*/, const UILayout& layout) {
    static FaderPress press;
    AppState& state = GlobalAppState;
    PlaybackEngine& engine = LivePlaybackEngine;
    const float W = layout.panelWidth;
    const float H = layout.topAreaHeight;
    if (!panels::BeginTabPanel("##mixer_panel", W, H)) return;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 o = ImGui::GetWindowPos();
    ImFont* small = state.fonts.smallFont;
    if (small != nullptr) ImGui::PushFont(small);
    draw->AddText(ImVec2(o.x + 16.0f, o.y + 10.0f), panels::Col(ThemePalette.textSecondary), "MIXER");

    // The meters move only while the tab is drawn.
    UpdateMixerMeters(engine, std::min(ImGui::GetIO().DeltaTime, 0.25f));

    const MixerGeometry g = ComputeMixerGeometry(W, H);
    for (std::int32_t strip = 0; strip < kMixerStripCount; ++strip) DrawStrip(draw, o, engine, state, press, g, H, strip);
    const float divider = g.stripLeft[kStripMaster] - 4.5f;
    draw->AddLine(ImVec2(o.x + divider, o.y + 32.0f), ImVec2(o.x + divider, o.y + H - 20.0f),
                  panels::Col(ThemePalette.border), 1.0f);
    DrawReverbSection(draw, o, engine, state, g);

    if (small != nullptr) ImGui::PopFont();
    ImGui::EndChild();
}

}  // namespace korvel
