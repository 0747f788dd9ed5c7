#include "ui/panels/settings_tab.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "app/update_check.h"
#include "dsp/reverb.h"
#include "engine/track_allocation.h"
#include "picture/timecode.h"
#include "picture/video_player.h"
#include "playback/audio_output.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "presets/chains.h"
#include "presets/demo_content.h"
#include "presets/preferences.h"
#include "presets/recipes.h"
#include "ui/panels/panel_look.h"

namespace korvel {

namespace {

constexpr const char* kSampleRateLabels[] = {"44100 Hz", "48000 Hz", "88200 Hz", "96000 Hz", "192000 Hz"};
constexpr const char* kFrameRateLabels[] = {"23.976", "24", "25", "29.97", "30", "48", "50", "59.94", "60", "120"};
constexpr const char* kIntervalLabels[] = {"1 min", "2 min", "5 min", "10 min", "15 min", "30 min"};
constexpr const char* kScaleNames[] = {"Off",        "Major",       "Natural Minor", "Harmonic Minor", "Dorian",
                                       "Mixolydian", "Pentatonic",  "Minor Pentatonic", "Blues",       "Whole Tone",
                                       "Chromatic",  "Maj7",        "Min7",          "Dom7",           "Sus4",
                                       "Sus2",       "Power (1-5)"};
// The scale combo's entries; -1 is the separator.
constexpr std::int32_t kScaleChoices[] = {0, 1, 2, 10, -1, 11, 12, 16};
constexpr const char* kRootNames[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
constexpr const char* kChannelOrders[] = {"SMPTE / ITU", "Film", "Dolby"};
// Groups in the order the loudness and budget rows show them.
constexpr std::int32_t kDisplayGroups[] = {1, 2, 0};
constexpr float kDeviceRefreshSeconds = 3.0f;

// A project setting changed: the project needs saving.
void MarkProjectChanged() { GlobalAppState.unsavedChanges = true; }

// Reads a timecode text at the project's rate; negative when unreadable.
float ReadTimecode(const char* text) { return ParseTimecode(CurrentProject.fps, text); }

void HandOnHover() {
    if (ImGui::IsItemHovered()) ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
}

// A flat text button in the accent colour, sitting on the line's baseline.
bool CompactTextButton(const char* label) {
    ImFont* small = GlobalAppState.fonts.smallFont;
    if (small != nullptr) ImGui::PushFont(small);
    PushButtonColors();
    ImGui::PushStyleColor(ImGuiCol_Text, panels::Col(ThemePalette.accent));
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(ImGui::GetStyle().FramePadding.x, 0.0f));
    ImGui::AlignTextToFramePadding();
    const bool clicked = ImGui::Button(label);
    ImGui::PopStyleVar();
    PopColors1();
    PopColors4();
    if (small != nullptr) ImGui::PopFont();
    HandOnHover();
    return clicked;
}

void MutedText(const char* text) {
    ImGui::PushStyleColor(ImGuiCol_Text, panels::Col(ThemePalette.textMuted));
    ImGui::TextUnformatted(text);
    ImGui::PopStyleColor();
}

void SectionTitle(const char* title) {
    ImGui::Dummy(ImVec2(0.0f, 4.0f));
    MutedText(title);
}

// A timecode field: the shared formatter's text, refreshed every frame
// while the field is not being edited (the widget keeps its own copy then).
bool TimecodeField(const char* label, float seconds, float width, char (&edited)[32]) {
    const std::string text = TimecodeFieldText(seconds);
    std::snprintf(edited, sizeof edited, "%s", text.c_str());
    ImGui::SetNextItemWidth(width);
    return ImGui::InputText(label, edited, sizeof edited, ImGuiInputTextFlags_CallbackCharFilter,
                            TimecodeCharFilter);
}

}  // namespace

// [SECTION] Steps

int SampleRateIndex(std::int32_t rate) {
    for (int i = 0; i < static_cast<int>(std::size(kSettingsSampleRates)); ++i)
        if (kSettingsSampleRates[i] == rate) return i;
    return 1;
}

int FrameRateIndex(float fps) {
    for (int i = 0; i < static_cast<int>(std::size(kSettingsFrameRates)); ++i)
        if (std::fabs(kSettingsFrameRates[i] - fps) <= 0.005f) return i;
    return 1;
}

int AutoSaveIntervalIndex(float seconds) {
    for (int i = 0; i < static_cast<int>(std::size(kAutoSaveIntervals)); ++i)
        if (std::fabs(kAutoSaveIntervals[i] - seconds) <= 1.0f) return i;
    return 2;
}

const char* ScaleName(std::int32_t scaleType) {
    if (scaleType < 0 || scaleType >= static_cast<std::int32_t>(std::size(kScaleNames))) return kScaleNames[0];
    return kScaleNames[scaleType];
}

void RebuildForSettings(const char* label, bool requestWhenBusy) {
    if (CurrentProject.results.empty()) return;
    AppState& state = GlobalAppState;
    // While a job or an export runs the rebuild would be refused; the frame
    // serves the request once it may.
    if (!UiMayEditProject(state) || !RebuildCacheAsync(label, false)) {
        if (requestWhenBusy) state.audioUpdateRequested.store(true, std::memory_order_release);
    }
}

void ChooseProjectSampleRate(std::int32_t rate) {
    AppState& state = GlobalAppState;
    if (rate == state.projectSampleRate) return;
    state.projectSampleRate = rate;
    MarkProjectChanged();
    PlaybackEngine& engine = LivePlaybackEngine;
    SetPlaybackSampleRate(engine, rate);
    // The audio thread may be running: the reset lands between its blocks.
    RequestReverbReset(engine.reverbRequests, rate);
    SetOutputSampleRate(LiveAudioOutput, static_cast<std::uint32_t>(std::max(rate, 0)));
    // Voices rendered at the old rate would play at the wrong speed: a job
    // that runs now leaves the rebuild as a request.
    RebuildForSettings("Changing sample rate...", true);
}

std::string TimecodeFieldText(float seconds) {
    char text[32];
    FormatTimecode(CurrentProject.fps, seconds, text, sizeof text);
    return text;
}

bool SetStartTimecode(const char* text) {
    const float value = ReadTimecode(text);
    if (value < 0.0f) return false;
    CurrentProject.startTC = value;
    MarkProjectChanged();
    return true;
}

bool SetTimelineDuration(const char* text) {
    const float value = ReadTimecode(text);
    if (value < 0.0f) return false;
    CurrentProject.totalDuration = std::max(1.0f, value);
    MarkProjectChanged();
    return true;
}

bool SetVideoStart(const char* text) {
    const float value = ReadTimecode(text);
    if (value < 0.0f) return false;
    VideoPlayer& video = GlobalVideoPlayer;
    video.timelineOffset = std::max(0.0f, value);
    CurrentProject.totalDuration = std::max(CurrentProject.totalDuration, video.timelineOffset + video.duration);
    MarkProjectChanged();
    return true;
}

void RecountTracks() {
    AllocateTracks(CurrentProject);
    MarkProjectChanged();
    RebuildForSettings("Applying track budget...", false);
}

void SetMaxBackups(std::int32_t value) {
    GlobalAppState.maxBackups = std::clamp(value, kMaxBackupsMin, kMaxBackupsMax);
}

bool UpdatePending(const AppState& state) {
    const UpdateInfo& info = state.updateInfo;
    return info.updateAvailable && info.version != state.dismissedUpdateVersion;
}

std::string LastCheckedText(std::int64_t seconds) {
    char text[64];
    if (seconds < 60) return "Last checked just now.";
    if (seconds < 3600) {
        std::snprintf(text, sizeof text, "Last checked %lld min ago.", static_cast<long long>(seconds / 60));
    } else if (seconds < 86400) {
        std::snprintf(text, sizeof text, "Last checked %lld hr ago.", static_cast<long long>(seconds / 3600));
    } else {
        const long long days = seconds / 86400;
        std::snprintf(text, sizeof text, "Last checked %lld day%s ago.", days, days == 1 ? "" : "s");
    }
    return text;
}

std::string UpdatePageUrl(const std::string& url) {
    return IsOpenableUpdateUrl(url) ? url : std::string(kReleaseNotesPage);
}

void DismissUpdate() {
    AppState& state = GlobalAppState;
    state.dismissedUpdateVersion = state.updateInfo.version;
    SavePrefs();
}

// [SECTION] Drawing

namespace {

void DrawProjectSection(float w) {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    VideoPlayer& video = GlobalVideoPlayer;
    SectionTitle("PROJECT");

    ImGui::SetNextItemWidth(w);
    const int rateIndex = SampleRateIndex(state.projectSampleRate);
    if (ImGui::BeginCombo("Sample Rate##s", kSampleRateLabels[rateIndex])) {
        for (int i = 0; i < static_cast<int>(std::size(kSampleRateLabels)); ++i) {
            if (ImGui::Selectable(kSampleRateLabels[i], i == rateIndex)) ChooseProjectSampleRate(kSettingsSampleRates[i]);
            if (i == rateIndex) ImGui::SetItemDefaultFocus();
        }
        ImGui::EndCombo();
    }
    ShowItemTooltip("Project sample rate for playback and export.\nMatch this to your Pro Tools / DAW session.");

    ImGui::SetNextItemWidth(w);
    const int fpsIndex = FrameRateIndex(project.fps);
    ImGui::BeginDisabled(video.loaded);
    if (ImGui::BeginCombo("Framerate##s", kFrameRateLabels[fpsIndex])) {
        for (int i = 0; i < static_cast<int>(std::size(kFrameRateLabels)); ++i) {
            if (ImGui::Selectable(kFrameRateLabels[i], i == fpsIndex) && project.fps != kSettingsFrameRates[i]) {
                project.fps = kSettingsFrameRates[i];
                MarkProjectChanged();
            }
            if (i == fpsIndex) ImGui::SetItemDefaultFocus();
        }
        ImGui::EndCombo();
    }
    ImGui::EndDisabled();
    if (video.loaded) ShowItemTooltip("Framerate is locked to the loaded video.");
    else ShowItemTooltip("Project framerate.\nLoading a video overrides this.");

    char text[32];
    if (TimecodeField("Start timecode##s", project.startTC, w, text)) SetStartTimecode(text);
    ShowItemTooltip("Project start timecode (HH:MM:SS:FF)\nOffsets all clip positions in AAF/BWF export.");
    if (TimecodeField("Timeline duration##dur", project.totalDuration, w, text)) SetTimelineDuration(text);
    ShowItemTooltip("Timeline duration (HH:MM:SS:FF).\nSet manually when not using video.\nLoading a video overrides this.");
    if (video.loaded) {
        if (TimecodeField("Video start##vst", video.timelineOffset, w, text)) SetVideoStart(text);
        ShowItemTooltip("Where the video starts on the timeline (HH:MM:SS:FF).\nUse this to place a video clip at a "
                        "specific\nposition within a longer timeline.");
    }

    ImGui::Dummy(ImVec2(0.0f, 4.0f));
    char description[256];
    std::snprintf(description, sizeof description, "%s", state.projectDescription.c_str());
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - ImGui::GetStyle().ScrollbarSize - 4.0f);
    if (ImGui::InputTextWithHint("##projdesc", "Project description...", description, sizeof description)) {
        state.projectDescription = description;
        MarkProjectChanged();
    }
    ShowItemTooltip("Project description");
}

void DrawLoudnessSection(float w) {
    Project& project = CurrentProject;
    PlaybackEngine& engine = LivePlaybackEngine;
    SectionTitle("Target Loudness");
    if (ImGui::Checkbox("Normalize##s", &project.normalizeLUFS)) {
        engine.normalizeLUFS = project.normalizeLUFS;
        MarkProjectChanged();
        RebuildForSettings("Applying loudness normalization...", false);
    }
    ShowItemTooltip("Normalize each clip to a target loudness (ITU-R BS.1770-4).\nMeasured on the trimmed, processed "
                    "audio region.\nGain transfers to Pro Tools as clip gain via AAF.");
    if (!project.normalizeLUFS) return;
    for (const std::int32_t g : kDisplayGroups) {
        TrackGroupLayout& group = project.trackLayout.groups[static_cast<std::size_t>(g)];
        char label[64];
        std::snprintf(label, sizeof label, "%s target##lufs%d", group.name, g);
        ImGui::SetNextItemWidth(w);
        if (ImGui::DragFloat(label, &group.targetLUFS, 0.5f, -60.0f, -6.0f, "%.0f LUFS")) MarkProjectChanged();
        if (ImGui::IsItemDeactivatedAfterEdit()) {
            engine.groupTargetLUFS[static_cast<std::size_t>(g)] = group.targetLUFS;
            RebuildForSettings("Adjusting loudness target...", false);
        }
    }
}

void DrawBudgetSection(float w) {
    Project& project = CurrentProject;
    SectionTitle("Track Budget");
    if (ImGui::Checkbox("Limit tracks##budget", &project.trackLayout.budgetMode)) RecountTracks();
    ShowItemTooltip("When enabled, each group's track count becomes a hard limit.\nExcess layers are muted. Hero "
                    "events get priority.\nWhen disabled, tracks auto-expand to fit all layers.");
    if (!project.trackLayout.budgetMode) return;
    for (const std::int32_t g : kDisplayGroups) {
        TrackGroupLayout& group = project.trackLayout.groups[static_cast<std::size_t>(g)];
        char label[64];
        std::snprintf(label, sizeof label, "%s tracks##tc%d", group.name, g);
        ImGui::SetNextItemWidth(w);
        if (ImGui::DragInt(label, &group.trackCount, 0.15f, kBudgetTracksMin, kBudgetTracksMax, "%d",
                           ImGuiSliderFlags_AlwaysClamp)) {
            group.trackCount = std::clamp(group.trackCount, kBudgetTracksMin, kBudgetTracksMax);
            MarkProjectChanged();
        }
        if (ImGui::IsItemDeactivatedAfterEdit()) RecountTracks();
    }
}

void DrawScaleSection(float w) {
    Project& project = CurrentProject;
    SectionTitle("Musical Scale");
    ImGui::SetNextItemWidth(w);
    if (ImGui::BeginCombo("Scale##ms", ScaleName(project.scaleType))) {
        for (const std::int32_t choice : kScaleChoices) {
            if (choice < 0) {
                ImGui::Separator();
                continue;
            }
            const bool selected = choice == project.scaleType;
            if (ImGui::Selectable(ScaleName(choice), selected) && !selected) {
                project.scaleType = choice;
                MarkProjectChanged();
                RebuildForSettings("Applying musical scale...", true);
            }
            if (selected) ImGui::SetItemDefaultFocus();
        }
        ImGui::EndCombo();
    }
    ShowItemTooltip("Quantize clip pitches to a musical scale.\nEach clip's pitch is detected from the actual "
                    "audio\nregion and shifted to the nearest scale degree.\nWorks best with tonal SFX (metals, "
                    "resonant impacts).");
    if (project.scaleType == 0) return;
    ImGui::SetNextItemWidth(w);
    int root = std::clamp(project.scaleRoot, 0, 11);
    if (ImGui::Combo("Root note##ms", &root, kRootNames, static_cast<int>(std::size(kRootNames))) &&
        root != project.scaleRoot) {
        project.scaleRoot = root;
        MarkProjectChanged();
        RebuildForSettings("Applying musical scale...", true);
    }
    ShowItemTooltip("Root note (tonic) of the scale.");
}

void DrawAudioOutput() {
    AudioOutput& output = LiveAudioOutput;
    // Seconds of frame time since the last refresh of the device list.
    static float sinceRefresh = 0.0f;
    sinceRefresh += ImGui::GetIO().DeltaTime;
    if (sinceRefresh > kDeviceRefreshSeconds) {
        sinceRefresh = 0.0f;
        RefreshOutputDevices(output);
    }
    if (output.devices.empty()) return;
    const auto count = static_cast<std::int32_t>(output.devices.size());
    const bool inRange = output.selectedDevice >= 0 && output.selectedDevice < count;
    const char* preview = inRange ? output.devices[static_cast<std::size_t>(output.selectedDevice)].name.c_str()
                                  : "Default";
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - ImGui::CalcTextSize("Audio Output").x - 16.0f -
                            ImGui::GetStyle().ItemInnerSpacing.x);
    if (ImGui::BeginCombo("Audio Output##dev", preview)) {
        for (std::int32_t i = 0; i < count; ++i) {
            const AudioDeviceEntry& device = output.devices[static_cast<std::size_t>(i)];
            const std::string name = device.isDefault ? device.name + " (Default)" : device.name;
            ImGui::PushID(i);
            if (ImGui::Selectable(name.c_str(), i == output.selectedDevice) && device.id != output.deviceId) {
                std::atomic<bool>* playing = output.playingFlag;
                const bool wasPlaying = playing != nullptr && playing->exchange(false);
                OpenOutputStream(output, device.id, output.requestedRate);
                output.selectedDevice = i;
                if (wasPlaying) playing->store(true);
            }
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }
    ShowItemTooltip("Audio output device for playback.");
}

void DrawApplicationSection(float w) {
    AppState& state = GlobalAppState;
    ImGui::Dummy(ImVec2(0.0f, 4.0f));
    ImGui::Separator();
    SectionTitle("APPLICATION");
    DrawAudioOutput();

    SectionTitle("Audio Focus");
    if (ImGui::Checkbox("Follow selection##af", &state.audioFocusLatched)) SavePrefs();
    ShowItemTooltip("The A key zooms the timeline onto the selected event's audio.\n  Off (default): momentary "
                    "\xE2\x80\x94 zooms the current event, then\n  pops back out when you select or navigate to "
                    "another.\n  On: latched \xE2\x80\x94 stays zoomed and follows each event you select.");

    SectionTitle("Chains");
    if (ImGui::Checkbox("Import chains as a group##chain", &state.chainsImportAsGroup)) SavePrefs();
    ShowItemTooltip("On: a placed Chain becomes one linked group (moves/selects\ntogether; use Ungroup to edit its "
                    "members).\nOff: the Chain's events are placed independently \xE2\x80\x94 still\nfoldered and "
                    "named, but ready to edit right away.");

    SectionTitle("Multichannel");
    ImGui::SetNextItemWidth(w);
    int order = std::clamp(state.channelOrderFallback.load(), 0, 2);
    if (ImGui::Combo("Channel order##chorder", &order, kChannelOrders, 3)) {
        state.channelOrderFallback.store(std::clamp(order, 0, 2));
        SavePrefs();
    }
    ShowItemTooltip("Channel order for multichannel source files that carry NO\nembedded channel map. Files that DO "
                    "carry one are read\nauthoritatively, regardless of this setting.\n  SMPTE / ITU:  L R C LFE Ls "
                    "Rs\n  Film:         L C R Ls Rs LFE\nChanging this affects building after a rebuild.");

    SectionTitle("Auto-Save");
    if (ImGui::Checkbox("Auto-save enabled##as", &state.autoSaveEnabled)) state.autoSaveElapsed = 0.0;
    ShowItemTooltip("Automatically save the project at regular intervals.\nPrevious versions are kept as rotating "
                    "backups.\nRequires a saved project (Cmd+S first).");
    ImGui::BeginDisabled(!state.autoSaveEnabled);
    ImGui::SetNextItemWidth(w);
    int interval = AutoSaveIntervalIndex(state.autoSaveInterval);
    if (ImGui::Combo("Interval##as", &interval, kIntervalLabels, static_cast<int>(std::size(kIntervalLabels)))) {
        state.autoSaveInterval = kAutoSaveIntervals[interval];
        state.autoSaveElapsed = 0.0;
    }
    ImGui::SetNextItemWidth(w);
    int backups = state.maxBackups;
    if (ImGui::InputInt("Backups to keep##as", &backups, 1, 20)) SetMaxBackups(backups);
    ShowItemTooltip("Number of rotating backup copies to keep.\nStored in ProjectFolder/Backups/.");
    ImGui::EndDisabled();

    SectionTitle("Demo Content");
    if (CompactTextButton("Restore Demo Content")) {
        InstallDemoContent(true);
        ReloadRecipes();
        ReloadChains();
        PostStatus("Demo content restored", 3.0f);
    }
    if (ImGui::IsItemHovered())
        ShowTooltip("Re-copies the bundled demo recipes, chains, projects and\nlibraries into Documents/Korvel.\nFiles "
                    "you created or modified are never overwritten.");
}

void DrawUpdatesSection() {
    AppState& state = GlobalAppState;
    const UpdateInfo& info = state.updateInfo;
    ImGui::Separator();
    SectionTitle("UPDATES");
    ImFont* small = state.fonts.smallFont;
    auto smallMuted = [small](const char* text) {
        if (small != nullptr) ImGui::PushFont(small);
        MutedText(text);
        if (small != nullptr) ImGui::PopFont();
    };
    char line[512];
    if (!UpdatePending(state)) {
        if (state.updateCheckEnabled) {
            std::snprintf(line, sizeof line, "You're on %s \xE2\x80\x94 the latest version.", AppVersion);
            smallMuted(line);
        } else {
            smallMuted("Automatic update checks are off.");
            smallMuted("This app never connects on its own.");
        }
    } else {
        std::snprintf(line, sizeof line, "Version %s is available.", info.version.c_str());
        ImGui::TextUnformatted(line);
        std::snprintf(line, sizeof line, "You're on %s.", AppVersion);
        smallMuted(line);
        for (const std::string& note : info.notes) {
            std::snprintf(line, sizeof line, "  \xE2\x80\xA2 %s", note.c_str());
            smallMuted(line);
        }
        ImGui::Dummy(ImVec2(0.0f, 4.0f));
        {
            StyleScope action(StyleScopeKind::ActionButton);
            if (ImGui::Button("View update") && state.platformHooks.openUrl)
                state.platformHooks.openUrl(UpdatePageUrl(info.url));
        }
        HandOnHover();
        ImGui::SameLine();
        if (CompactTextButton("Dismiss")) DismissUpdate();
    }
    if (info.lastUpdateCheck > 0) {
        const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
        smallMuted(LastCheckedText(now - info.lastUpdateCheck).c_str());
    }
    if (state.updateCheckRunning.load(std::memory_order_acquire)) {
        MutedText("Checking...");
    } else if (CompactTextButton("Check now")) {
        StartUpdateCheck();
    }
    ImGui::Dummy(ImVec2(0.0f, 2.0f));
    if (ImGui::Checkbox("Check for updates automatically", &state.updateCheckEnabled)) SavePrefs();
}

}  // namespace

void DrawSettingsTab(ImDrawList* /*drawList*/, const UILayout& layout) {
    const float W = layout.panelWidth;
    const float H = layout.topAreaHeight;
    if (!panels::BeginTabPanel("##settings_tab", W, H)) return;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();
    ImFont* small = GlobalAppState.fonts.smallFont;
    if (small != nullptr) ImGui::PushFont(small);
    draw->AddText(ImVec2(origin.x + 16.0f, origin.y + 10.0f), panels::Col(ThemePalette.textSecondary), "SETTINGS");
    ImGui::SetCursorPos(ImVec2(16.0f, 30.0f));
    if (ImGui::BeginChild("##settingsscroll", ImVec2(W - 32.0f, H - 38.0f))) {
        const float F = layout.fontSize;
        const float w = std::min(std::max(8.0f * F, 120.0f), W - 32.0f - 140.0f);
        {
            StyleScope popup(StyleScopeKind::Popup);
            DrawProjectSection(w);
            DrawLoudnessSection(w);
            DrawBudgetSection(w);
            DrawScaleSection(w);
            DrawApplicationSection(w);
        }
        DrawUpdatesSection();
    }
    ImGui::EndChild();
    if (small != nullptr) ImGui::PopFont();
    ImGui::EndChild();
}

}  // namespace korvel
