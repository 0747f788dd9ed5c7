// The export tab.
//
// [SECTION] Decisions: button, wet stem, channel line
// [SECTION] The request and starting the export
// [SECTION] Drawing: option rows
// [SECTION] Drawing: the tab
#include "ui/panels/export_tab.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "app/ui_layout.h"
#include "playback/output_layout.h"
#include "playback/playback_engine.h"
#include "presets/preferences.h"
#include "project/app_state.h"
#include "project/project.h"
#include "ui/panels/panel_look.h"

namespace korvel {

// ---------------------------------------------------------------------------
// [SECTION] Decisions: button, wet stem, channel line
// ---------------------------------------------------------------------------

namespace {

constexpr const char* kExportIcon = "\xEE\x82\x9A";  // U+E09A
constexpr const char* kDefaultBaseName = "Korvel";
constexpr float kStatusSeconds = 5.0f;

const char* RoleName(ChannelRole role) {
    static constexpr const char* kNames[] = {"L",  "R",  "C",   "LFE", "Ls",  "Rs",
                                             "Lrs", "Rrs", "Ltf", "Rtf", "Ltr", "Rtr"};
    const int index = static_cast<int>(role);
    return index >= 0 && index < static_cast<int>(std::size(kNames)) ? kNames[index] : "?";
}

bool AnyWavOutput(const AppState& s) {
    return s.exportSettings.exportWavMixdown || s.exportSettings.exportWavStems || s.exportSettings.exportWavTracks ||
           s.exportSettings.exportWavClips;
}

}  // namespace

ExportButtonLook ExportButtonFor(const AppState& state, const ExportButtonFacts& facts) {
    ExportButtonLook look;
    const bool aaf = state.exportSettings.exportFormatAAF;
    const bool wav = state.exportSettings.exportFormatWAV;
    const bool running = state.exportRunning.load(std::memory_order_acquire);
    const char* words = running      ? " Exporting..."
                        : aaf && wav ? " Export AAF + WAV"
                        : aaf        ? " Export AAF"
                        : wav        ? " Export WAV"
                                     : " Export";
    look.label = kExportIcon;
    look.label += words;

    if (running) {
        look.tooltip = "Export in progress...";
    } else if (!facts.hasLayers || !facts.hookInstalled) {
        look.tooltip = "Build the timeline first";
    } else if (!aaf && !wav) {
        look.tooltip = "Select at least one format";
    } else if (wav && !AnyWavOutput(state)) {
        look.tooltip = "Select at least one WAV output type";
    } else if (wav && !facts.engineReady) {
        look.tooltip = "Waiting for audio cache...";
    }
    look.enabled = look.tooltip == nullptr;
    return look;
}

WetStemLook WetStemFor(const AppState& state, bool reverbEnabled) {
    const bool anyFormat = state.exportSettings.exportFormatAAF || state.exportSettings.exportFormatWAV;
    WetStemLook look;
    look.enabled = anyFormat && reverbEnabled;
    if (!reverbEnabled)
        look.tooltip = "Enable reverb in the Mixer tab first";
    else if (!anyFormat)
        look.tooltip = "Select a format above first";
    else
        look.tooltip =
            "Separate reverb (wet) alongside the DRY stems / tracks / clips.\n"
            "AAF: Reverb.L / Reverb.R tracks   WAV: <name> - Reverb.wav\n"
            "The Master mix always includes reverb when it's on \xE2\x80\x94 this is only for the components.";
    return look;
}

std::string ExportChannelLine(std::int32_t layoutIndex) {
    const std::int32_t index = std::clamp(layoutIndex, 0, kOutputLayoutCount - 1);
    if (index == 0) return {};
    const OutputLayout layout = GetOutputLayout(index);
    if (layout.ambisonic) return "Channels: W Y Z X (ACN / SN3D)";
    std::string line = "Channels:";
    for (ChannelRole role : layout.roles) {
        line += ' ';
        line += RoleName(role);
    }
    return line;
}

// ---------------------------------------------------------------------------
// [SECTION] The request and starting the export
// ---------------------------------------------------------------------------

ExportRequest BuildExportRequest(const std::string& chosenPath, const AppState& state, const Project& project) {
    ExportRequest r;
    const std::size_t slash = chosenPath.rfind('/');
    if (slash == std::string::npos) {
        r.outputFolder = chosenPath;
        r.baseName = chosenPath;
    } else {
        // A path right under the root keeps the root as its folder.
        r.outputFolder = slash == 0 ? std::string("/") : chosenPath.substr(0, slash);
        r.baseName = chosenPath.substr(slash + 1);
    }
    if (r.baseName.empty()) r.baseName = kDefaultBaseName;

    r.exportSettings = state.exportSettings;
    r.exportWithHandles = true;
    r.snapToFrames = false;
    r.exportFillVirtual = true;
    if (state.HasWorkArea()) {
        r.rangeStart = state.workAreaIn;
        r.rangeEnd = state.workAreaOut;
    } else {
        r.rangeStart = -1.0f;
        r.rangeEnd = -1.0f;
    }
    r.sampleRate = state.projectSampleRate;
    r.fps = project.fps;
    r.totalDuration = project.totalDuration;
    // Truncated toward zero; a value past the int range would be undefined.
    const float tc = std::isfinite(project.startTC) ? std::clamp(project.startTC, -2.0e9f, 2.0e9f) : 0.0f;
    r.startTimecodeSeconds = static_cast<std::int32_t>(tc);
    r.groupNames.clear();
    for (const TrackGroupLayout& group : project.trackLayout.groups) r.groupNames.emplace_back(group.name);
    return r;
}

void ExportCompleteCallback() {
    // The job's own last line: a failed AAF part must not read as complete.
    PostStatus(ExportStatusText(GlobalAppState), kStatusSeconds);
}

bool StartExportFromTab(const std::string& chosenPath) {
    AppState& state = GlobalAppState;
    if (chosenPath.empty() || !UiMayEditProject(state)) return false;
    if (StartExport(BuildExportRequest(chosenPath, state, CurrentProject), ExportCompleteCallback)) return true;
    // The thread did not start: StartExport has ended the export and left
    // its failure in the status text; the tab is idle again.
    state.exportRunning.store(false);
    state.exportDone.store(false);
    state.exportCompleteCallback = nullptr;
    PostStatus(ExportStatusText(state), kStatusSeconds);
    return false;
}

// ---------------------------------------------------------------------------
// [SECTION] Drawing: option rows
// ---------------------------------------------------------------------------

namespace {

ImU32 Alpha(std::uint32_t color, int alpha) { return panels::Col(ColorWithAlpha(color, alpha)); }

// Column positions of the option rows, from the content child's left.
struct RowColumns {
    float label = 0.0f;    // P: where a checkbox's label starts
    float control = 0.0f;  // U
    float width = 0.0f;    // w, the content width
};

void RowLabel(const RowColumns& c, const char* text) {
    ImGui::SetCursorPosX(c.label);
    ImGui::AlignTextToFramePadding();
    ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(panels::Col(ThemePalette.textMuted)), "%s", text);
    ImGui::SameLine(c.control);
}

void Gap(float pixels) { ImGui::Dummy(ImVec2(0.0f, pixels)); }

void SectionLine(const RowColumns& c) {
    Gap(6.0f);
    const ImVec2 at = ImGui::GetCursorScreenPos();
    ImGui::GetWindowDrawList()->AddLine(ImVec2(at.x, at.y), ImVec2(at.x + c.width, at.y),
                                        Alpha(ThemePalette.border, 80), 1.0f);
    Gap(6.0f);
}

// A checkbox of the tab: an unticked one, or any inside a disabled
// section, is drawn dimmed; every change is one the project file keeps.
bool SettingCheckbox(const char* label, bool* value, bool sectionEnabled, const char* tooltip) {
    int pushed = 0;
    if (!sectionEnabled || !*value) {
        const ImU32 color = !sectionEnabled ? panels::Col(ThemePalette.textMuted) : Alpha(ThemePalette.textMuted, 96);
        ImGui::PushStyleColor(ImGuiCol_Text, color);
        ImGui::PushStyleColor(ImGuiCol_CheckMark, color);
        pushed = 2;
    }
    const bool changed = ImGui::Checkbox(label, value);
    if (pushed > 0) ImGui::PopStyleColor(pushed);
    ShowItemTooltip("%s", tooltip);
    if (changed) GlobalAppState.unsavedChanges = true;
    return changed;
}

// One of the three list settings; true when the choice changed.
bool SettingCombo(const char* id, std::int32_t& setting, const char* const* items, int count, float width,
                  const char* tooltip) {
    const std::int32_t index = std::clamp(setting, 0, count - 1);
    ImGui::SetNextItemWidth(width);
    PushPopupStyle();
    bool changed = false;
    if (ImGui::BeginCombo(id, items[index])) {
        for (int i = 0; i < count; ++i) {
            if (ImGui::Selectable(items[i], i == index) && i != setting) {
                setting = i;
                changed = true;
            }
        }
        ImGui::EndCombo();
    }
    PopColors3Vars3();
    ShowItemTooltip("%s", tooltip);
    return changed;
}

constexpr const char* kLayoutItems[] = {"Stereo", "5.1", "7.1.4", "AmbiX"};
constexpr const char* kSpatialItems[] = {"Off", "Pure", "Extended"};
constexpr const char* kLoudnessItems[] = {"Off", "-14 LUFS (streaming)", "-16 LUFS", "-18 LUFS",
                                          "-23 LUFS (EBU R128)"};

constexpr const char* kLayoutTip =
    "Channel layout for Mix and Stems.\n"
    "Stereo is the standard downmix; 5.1 / 7.1.4 place each\n"
    "source on its matching channels (ITU-R BS.775).\n"
    "AmbiX = first-order ambisonic (ACN/SN3D) \xE2\x80\x94 the spatial\n"
    "scene itself. Tracks and Clips are unaffected.";
constexpr const char* kSpatialTip =
    "Spatialization for the SURROUND export (5.1 / 7.1.4 / AmbiX):\n"
    "  Off      \xE2\x80\x94 plain conform layout, no placement.\n"
    "  Pure     \xE2\x80\x94 full placement; source NEVER altered (routing\n"
    "             only, bit-for-bit integrity).\n"
    "  Extended \xE2\x80\x94 Pure + source DSP (frequency-dependent width +\n"
    "             decorrelated MDAP halo) for maximum immersion.\n"
    "Stereo export and the live monitor are not spatialized.";
constexpr const char* kLoudnessTip =
    "Loudness-match the Mixdown on export (ITU-R BS.1770\n"
    "integrated LUFS, front L/R, one gain across all channels;\n"
    "the limiter catches peaks). Off = no normalization.\n"
    "Stems, Tracks and Clips are unaffected.";

void DrawAafRows(AppState& s, const RowColumns& c) {
    SettingCheckbox("AAF Session", &s.exportSettings.exportFormatAAF, true,
                    "AAF session for Pro Tools / Nuendo / DaVinci");
    Gap(2.0f);
    const bool on = s.exportSettings.exportFormatAAF;
    ImGui::BeginDisabled(!on);
    RowLabel(c, "Handles");
    ImGui::BeginDisabled(s.exportSettings.handleFullSource);
    ImGui::SetNextItemWidth(std::max(4.0f * ImGui::GetFontSize(), 48.0f));
    // A value from a project file outside the range shows at its end.
    float handle = std::isfinite(s.exportSettings.handleDuration)
                       ? std::clamp(s.exportSettings.handleDuration, 0.1f, 10.0f)
                       : 1.0f;
    if (ImGui::DragFloat("##hdl", &handle, 0.1f, 0.1f, 10.0f, "%.1fs", ImGuiSliderFlags_AlwaysClamp))
        s.exportSettings.handleDuration = handle;
    if (ImGui::IsItemDeactivatedAfterEdit()) s.unsavedChanges = true;
    ImGui::EndDisabled();
    ShowItemTooltip("Handle length (each side)");
    ImGui::SameLine();
    SettingCheckbox("Full source", &s.exportSettings.handleFullSource, on, "Include entire source file as handles");
    Gap(4.0f);
    RowLabel(c, "Channels");
    SettingCheckbox("Source channels", &s.exportSettings.exportAAFSourceChannels, on,
                    "Preserve source audio channel layout\n(mono, stereo, 5.1, 7.1) as multi-mono tracks");
    Gap(4.0f);
    RowLabel(c, "Include");
    SettingCheckbox("Clip gain", &s.exportSettings.exportAAFVolAuto, on, "Intensity curves as clip gain automation");
    ImGui::SameLine();
    SettingCheckbox("Markers", &s.exportSettings.exportAAFMarkers, on,
                    "Include sync point markers\n(PT Import format)");
    ImGui::EndDisabled();
}

void DrawWavRows(AppState& s, const RowColumns& c) {
    SettingCheckbox("WAV Bounce", &s.exportSettings.exportFormatWAV, true, "24-bit BWF audio files");
    Gap(2.0f);
    const bool on = s.exportSettings.exportFormatWAV;
    // The job reads layout, spatial mode and loudness from here as it
    // goes: a change during an export would race it.
    const bool running = s.exportRunning.load(std::memory_order_acquire);
    ImGui::BeginDisabled(!on);
    RowLabel(c, "Bounce");
    SettingCheckbox("Mix", &s.exportSettings.exportWavMixdown, on, "Single mixdown file");
    ImGui::SameLine();
    SettingCheckbox("Stems", &s.exportSettings.exportWavStems, on, "One file per group");
    ImGui::SameLine();
    SettingCheckbox("Tracks", &s.exportSettings.exportWavTracks, on, "One file per track slot");
    ImGui::SameLine();
    SettingCheckbox("Clips", &s.exportSettings.exportWavClips, on, "Each layer as a timestamped BWF");
    Gap(2.0f);

    const float comboWidth = std::min(c.width - c.control - 8.0f, 180.0f);
    ImGui::BeginDisabled(running);
    RowLabel(c, "Layout");
    SettingCombo("##wavlayout", s.exportWavLayout, kLayoutItems, 4, comboWidth, kLayoutTip);
    const std::string channels = ExportChannelLine(s.exportWavLayout);
    if (!channels.empty()) {
        Gap(2.0f);
        ImGui::SetCursorPosX(c.control);
        ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(Alpha(ThemePalette.textMuted, 178)), "%s", channels.c_str());
    }
    Gap(2.0f);
    RowLabel(c, "Spatialization");
    if (SettingCombo("##spatmode", s.exportSpatialMode, kSpatialItems, 3, comboWidth, kSpatialTip)) SavePrefs();
    Gap(2.0f);
    RowLabel(c, "Normalize");
    if (SettingCombo("##wavlufs", s.exportWavLUFSIndex, kLoudnessItems, 5, comboWidth, kLoudnessTip)) SavePrefs();
    ImGui::EndDisabled();
    ImGui::EndDisabled();
}

void DrawReverbRow(AppState& s, const RowColumns& c) {
    const WetStemLook look = WetStemFor(s, LivePlaybackEngine.reverb.enabled);
    RowLabel(c, "Reverb");
    ImGui::BeginDisabled(!look.enabled);
    SettingCheckbox("Wet stem", &s.exportSettings.exportReverbStem, look.enabled, look.tooltip);
    ImGui::EndDisabled();
}

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] Drawing: the tab
// ---------------------------------------------------------------------------

void DrawExportTab(ImDrawList* /*drawList*/, const UILayout& layout) {
    AppState& state = GlobalAppState;
    const float W = layout.panelWidth;
    const float H = layout.topAreaHeight;
    if (!panels::BeginTabPanel("##export_panel", W, H)) return;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();
    ImFont* small = state.fonts.smallFont;
    if (small != nullptr) ImGui::PushFont(small);

    const float w = W - 32.0f;
    draw->AddText(ImVec2(origin.x + 16.0f, origin.y + 10.0f), panels::Col(ThemePalette.textSecondary), "EXPORT");
    if (state.HasWorkArea())
        draw->AddText(ImVec2(origin.x + w - 80.0f, origin.y + 10.0f), Alpha(ThemePalette.accent, 160), "work area");

    const ImGuiStyle& style = ImGui::GetStyle();
    const float frameHeight = ImGui::GetFrameHeight();
    const float footer = frameHeight + 24.0f;

    ImGui::SetCursorPos(ImVec2(16.0f, 30.0f));
    if (ImGui::BeginChild("##exp_content", ImVec2(w, std::max(H - 30.0f - footer, 1.0f)), false, 0)) {
        RowColumns c;
        c.width = w;
        c.label = frameHeight + style.ItemInnerSpacing.x;
        float widest = 0.0f;
        for (const char* word : {"Normalize", "Spatialization", "Bounce", "Include", "Handles"})
            widest = std::max(widest, ImGui::CalcTextSize(word).x);
        c.control = c.label + widest + style.ItemSpacing.x;

        DrawAafRows(state, c);
        SectionLine(c);
        DrawWavRows(state, c);
        SectionLine(c);
        DrawReverbRow(state, c);
    }
    ImGui::EndChild();

    const float bandTop = H - footer;
    draw->AddLine(ImVec2(origin.x + 16.0f, origin.y + bandTop), ImVec2(origin.x + W - 16.0f, origin.y + bandTop),
                  Alpha(ThemePalette.textMuted, 30), 1.0f);
    ExportButtonFacts facts;
    facts.hasLayers = !CurrentProject.results.empty();
    facts.hookInstalled = static_cast<bool>(state.platformHooks.pickExportLocation);
    facts.engineReady = LivePlaybackEngine.ready.load(std::memory_order_acquire);
    const ExportButtonLook look = ExportButtonFor(state, facts);
    ImGui::SetCursorPos(ImVec2(16.0f, bandTop + 0.5f * (footer - frameHeight)));
    PushActionButtonStyle();
    ImGui::BeginDisabled(!look.enabled);
    const bool pressed = ImGui::Button(look.label.c_str());
    ImGui::EndDisabled();
    PopColors4Vars1();
    if (look.tooltip != nullptr) ShowItemTooltip("%s", look.tooltip);
    if (pressed && look.enabled) {
        const std::string chosen = state.platformHooks.pickExportLocation();
        if (!chosen.empty()) StartExportFromTab(chosen);
    }

    if (small != nullptr) ImGui::PopFont();
    ImGui::EndChild();
}

}  // namespace korvel
