// The layer rows of the events list: the edits, the audition, the one sound
// change a frame, and the rows' drawing.
//
// [SECTION] Helpers
// [SECTION] Layer edits
// [SECTION] Audition
// [SECTION] Sound changes
// [SECTION] Drawing
#include "ui/timeline/layer_rows.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "app/background_job.h"
#include "app/frame/icon_glyphs.h"
#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "engine/build_routines.h"
#include "engine/layer_render.h"
#include "engine/render_job.h"
#include "engine/sound_history.h"
#include "library/channel_layout.h"
#include "library/keyword_index.h"
#include "library/library.h"
#include "library/palettes.h"
#include "picture/video_player.h"
#include "playback/mixer_publishing.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/panels/panel_look.h"
#include "ui/timeline/text_fit.h"

namespace korvel {

// [SECTION] Helpers

namespace {

LayerResult* LayerAt(Project& project, std::int32_t layer) {
    if (layer < 0 || static_cast<std::size_t>(layer) >= project.results.size()) return nullptr;
    return &project.results[static_cast<std::size_t>(layer)];
}

const LayerResult* LayerAt(const Project& project, std::int32_t layer) {
    return LayerAt(const_cast<Project&>(project), layer);
}

Event* EventOf(Project& project, const LayerResult& layer) {
    if (layer.eventIdx < 0 || static_cast<std::size_t>(layer.eventIdx) >= project.events.size()) return nullptr;
    return &project.events[static_cast<std::size_t>(layer.eventIdx)];
}

bool EventMuted(const Project& project, const LayerResult& layer) {
    return layer.eventIdx >= 0 && static_cast<std::size_t>(layer.eventIdx) < project.events.size() &&
           project.events[static_cast<std::size_t>(layer.eventIdx)].muted;
}

// The voices of `layer` take its mute as every voice sync does: silent when
// the layer is muted or dropped, or its event is muted.
void SyncLayerVoiceMutes(const Project& project, PlaybackEngine& engine, std::int32_t layer) {
    const LayerResult& l = project.results[static_cast<std::size_t>(layer)];
    const bool muted = IsLayerSilenced(l) || EventMuted(project, l);
    // The mixer reads voice flags only while it holds this lock.
    std::lock_guard<std::mutex> lock(engine.voiceMutex);
    for (Voice& voice : engine.voices)
        if (voice.resultIndex == layer) voice.muted = muted;
}

void UnbanLayer(Project& project, PlaybackEngine& engine, std::int32_t layer) {
    LayerResult& l = project.results[static_cast<std::size_t>(layer)];
    project.UnbanFile(l.filepath);
    l.muted = false;
    ++project.revision;
    SyncLayerVoiceMutes(project, engine, layer);
}

}  // namespace

// [SECTION] Layer edits

bool IsLayerBanned(const Project& project, std::int32_t layer) {
    const LayerResult* l = LayerAt(project, layer);
    return l != nullptr && !l->filepath.empty() && project.IsFileBanned(l->filepath);
}

bool HoldBannedLayerMuted(Project& project, PlaybackEngine& engine, std::int32_t layer) {
    LayerResult* l = LayerAt(project, layer);
    if (l == nullptr || l->muted || !IsLayerBanned(project, layer) || !UiMayEditProject()) return false;
    l->muted = true;
    ++project.revision;
    SyncLayerVoiceMutes(project, engine, layer);
    return true;
}

void ToggleLayerMute(Project& project, PlaybackEngine& engine, std::int32_t layer) {
    LayerResult* l = LayerAt(project, layer);
    if (l == nullptr || IsLayerBanned(project, layer) || !UiMayEditProject()) return;
    PushUndo();
    l->muted = !l->muted;
    ++project.revision;
    SyncLayerVoiceMutes(project, engine, layer);
}

void ToggleLayerLike(Project& project, PlaybackEngine& engine, std::int32_t layer) {
    LayerResult* l = LayerAt(project, layer);
    if (l == nullptr || l->filepath.empty() || !UiMayEditProject()) return;
    Event* event = EventOf(project, *l);
    if (event == nullptr) return;
    PushUndo();
    if (event->HasPinnedFile(l->filepath)) {
        event->RemovePinnedFile(l->filepath);
        return;
    }
    if (project.IsFileBanned(l->filepath)) UnbanLayer(project, engine, layer);
    event->AddPinnedFile(l->filepath, l->fileId);
}

void ToggleLayerDislike(Project& project, PlaybackEngine& engine, std::int32_t layer) {
    LayerResult* l = LayerAt(project, layer);
    if (l == nullptr || l->filepath.empty() || !UiMayEditProject()) return;
    PushUndo();
    if (project.IsFileBanned(l->filepath)) {
        UnbanLayer(project, engine, layer);
        return;
    }
    Event* event = EventOf(project, *l);
    if (event != nullptr && event->HasPinnedFile(l->filepath)) event->RemovePinnedFile(l->filepath);
    const std::string path = l->filepath;  // BanFile may touch every layer
    project.BanFile(path, l->fileId);
    l->muted = true;
    ++project.revision;
    const auto count = static_cast<std::int32_t>(project.results.size());
    std::lock_guard<std::mutex> lock(engine.voiceMutex);
    for (Voice& voice : engine.voices) {
        if (voice.resultIndex < 0 || voice.resultIndex >= count) continue;
        if (project.results[static_cast<std::size_t>(voice.resultIndex)].filepath == path) voice.muted = true;
    }
}

float LayerVolumeDb(const LayerResult& layer) {
    return layer.userVolume <= 0.001f ? kLayerVolumeFloorDb : 20.0f * std::log10(layer.userVolume);
}

void SetLayerVolumeDb(AppState& state, Project& project, PlaybackEngine& engine, std::int32_t layer, float db) {
    LayerResult* l = LayerAt(project, layer);
    if (l == nullptr || !std::isfinite(db) || !UiMayEditProject(state)) return;
    const float clamped = std::clamp(db, kLayerVolumeMinDb, kLayerVolumeMaxDb);
    l->userVolume = std::min(std::pow(10.0f, clamped / 20.0f), 2.0f);
    // Saved with the project but taken without an undo step.
    state.unsavedChanges = true;
    const float gain = LayerVoiceGain(*l);
    std::lock_guard<std::mutex> lock(engine.voiceMutex);
    for (Voice& voice : engine.voices) {
        if (voice.resultIndex == layer) voice.gain = voice.baseGain = gain;
    }
}

std::int32_t FileChannelInterpretation(const Library& library, const std::string& path) {
    for (const Palette& palette : library.palettes) {
        for (const LibraryFile& file : palette.files)
            if (file.path == path) return file.interpretation;
    }
    return 0;
}

bool ChooseChannelInterpretation(AppState& state, Library& library, const std::string& path,
                                 std::int32_t value) {
    if (path.empty() || value < 0 || value > 3 || !UiMayEditProject(state)) return false;
    if (FileChannelInterpretation(library, path) == value) return false;
    if (!SetFileChannelInterpretation(library, path, value)) return false;
    state.pendingRenderMode = kRenderRebuildAll;
    return true;
}

// [SECTION] Audition

void EndLayerAudition(AppState& state, PlaybackEngine& engine) {
    if (state.soloLayer < 0) return;
    engine.soloVoice.store(-1);
    PublishMixerSettings(engine);
    state.lastSoloLayer = state.soloLayer;
    state.soloLayer = -1;
}

bool ToggleLayerRowAudition(AppState& state, const Project& project, PlaybackEngine& engine, VideoPlayer& video,
                         std::int32_t layer) {
    if (state.soloLayer >= 0 && state.soloLayer == layer) {
        EndLayerAudition(state, engine);
        return false;
    }
    const LayerResult* l = LayerAt(project, layer);
    if (l == nullptr || !UiMayEditProject(state)) return false;
    std::int32_t voiceIndex = -1;
    {
        const std::lock_guard storage(engine.voiceStorageMutex);
        for (std::size_t v = 0; v < engine.voices.size(); ++v) {
            if (engine.voices[v].resultIndex == layer) {
                voiceIndex = static_cast<std::int32_t>(v);
                break;
            }
        }
    }
    if (voiceIndex < 0) return false;
    engine.soloVoice.store(voiceIndex);
    PublishMixerSettings(engine);
    state.soloLayer = state.lastSoloLayer = layer;
    // The reverb tail is cleared between blocks by the audio thread, never
    // from here while it may be inside the reverb.
    LocatePlayback(engine, static_cast<double>(l->startTime));
    engine.playing.store(true);
    state.playing = true;
    state.playhead = l->startTime;
    if (video.loaded) {
        video.Seek(l->startTime);
        if (l->startTime >= video.timelineOffset && l->startTime < video.timelineOffset + video.duration) video.Play();
    }
    return true;
}

// [SECTION] Sound changes

std::int32_t StartSoundChange(const Project& project, const SoundChangeRequests& requests) {
    const auto valid = [&](std::int32_t layer) { return LayerAt(project, layer) != nullptr; };
    std::int32_t layer = -1;
    const char* label = nullptr;
    void (*body)(std::int32_t) = nullptr;
    if (valid(requests.previous)) {
        layer = requests.previous;
        label = "Switching layer...";
        body = RunPreviousSoundJob;
    } else if (valid(requests.next)) {
        layer = requests.next;
        label = "Switching layer...";
        body = RunNextHistorySoundJob;
    } else if (valid(requests.another)) {
        layer = requests.another;
        label = "Loading next sound...";
        body = RunRerollSoundJob;
    }
    // The undo step only for a job that will run: a refused one would leave
    // a step that undoes nothing.
    if (layer < 0 || !CanStartBackgroundJob()) return -1;
    PushUndo();
    StartBackgroundJob(label, [body, layer] { body(layer); }, false, -1.0f);
    return layer;
}

// [SECTION] Drawing

std::string FitLayerName(std::string_view name, float width, const std::function<float(std::string_view)>& measure) {
    if (name.size() < 4 || measure(name) <= width) return std::string(name);
    std::size_t n = name.size();
    std::string cut;
    const auto withDots = [&](std::size_t bytes) {
        cut.assign(name.substr(0, bytes));
        cut += "...";
        return measure(cut);
    };
    while (n > 0 && withDots(n) > width) n = PreviousCharBoundary(name, n);
    // 63 bytes with the dots, cut on a character as well.
    while (n > 60) n = PreviousCharBoundary(name, n);
    cut.assign(name.substr(0, n));
    cut += "...";
    return cut;
}

namespace {

using ::korvel::icon::kChevronLeft;
using ::korvel::icon::kChevronRight;

using panels::ColourVec;

// A small transparent icon button at `pos`.
bool SmallButton(const char* glyph, const char* id, std::int32_t layer, ImVec2 pos, ImVec2 size,
                 std::uint32_t text) {
    char label[48];
    std::snprintf(label, sizeof label, "%s##%s%d", glyph, id, layer);
    ImGui::SetCursorScreenPos(pos);
    ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(text));
    const bool clicked = ImGui::Button(label, size);
    ImGui::PopStyleColor();
    return clicked;
}

struct RowMetrics {
    float f = 16.0f;
    float h2 = 22.0f;
    float rowHeight = 35.0f;
    float buttonWidth = 16.0f;
    float buttonHeight = 20.0f;
    float volumeWidth = 48.0f;
};

void DrawLayerMenu(AppState& state, const LayerResult& layer, std::int32_t index) {
    char id[32];
    std::snprintf(id, sizeof id, "##laymenu%d", index);
    const bool pushedFont = PushPanelStyle();
    if (ImGui::BeginPopup(id)) {
        Library& library = SoundLibrary;
        RebuildFileIndex(library);
        const auto facts = library.fileIndex.find(layer.filepath);
        const std::int32_t channels = facts != library.fileIndex.end() ? facts->second.channels : 0;
        const std::int32_t current = FileChannelInterpretation(library, layer.filepath);
        if (channels >= 2 && ImGui::BeginMenu("Channel layout")) {
            for (std::int32_t v = 0; v < 4; ++v) {
                if (ImGui::MenuItem(kChannelInterpretationLabels[v], nullptr, v == current, UiMayEditProject(state)))
                    ChooseChannelInterpretation(state, library, layer.filepath, v);
            }
            ImGui::EndMenu();
        }
        if (state.platformHooks.revealInExplorer && ImGui::MenuItem("Show in Explorer"))
            state.platformHooks.revealInExplorer(layer.filepath);
        ImGui::EndPopup();
    }
    PopPanelStyle(pushedFont);
}

void DrawLayerRow(AppState& state, Project& project, PlaybackEngine& engine, std::int32_t k, bool simpleKind,
                  float rowLeft, float rowWidth, const RowMetrics& m, SoundChangeRequests& requests) {
    LayerResult& layer = project.results[static_cast<std::size_t>(k)];
    const ThemeColors& t = ThemePalette;
    const bool mayEdit = UiMayEditProject(state);
    HoldBannedLayerMuted(project, engine, k);
    const bool banned = IsLayerBanned(project, k);
    const bool auditioned = state.soloLayer == k;
    const bool stepping = simpleKind && layer.procMode != kProcModeAlloy;

    ImDrawList* dl = ImGui::GetWindowDrawList();
    const float top = ImGui::GetCursorScreenPos().y;
    const ImVec2 bgMin(rowLeft + 10.0f, top + 1.0f);
    const ImVec2 bgMax(rowLeft + rowWidth - 2.0f, top + m.rowHeight - 2.0f);
    std::uint32_t fill = layer.muted ? ColorWithAlpha(t.barBg, 160) : ColorWithAlpha(t.surfaceHover, 100);
    std::uint32_t border = layer.muted ? ColorWithAlpha(t.border, 40) : ColorWithAlpha(t.border, 70);
    if (auditioned) border = ColorWithAlpha(t.accent, 100);
    else if (state.lastSoloLayer == k) border = ColorWithAlpha(t.textPrimary, 50);
    dl->AddRectFilled(bgMin, bgMax, fill, 4.0f);
    dl->AddRect(bgMin, bgMax, border, 4.0f, 0, 1.0f);

    ImGui::PushID(k + 1000);
    const ImVec2 size(m.buttonWidth, m.buttonHeight);
    const float y = top + 6.0f;
    float x = bgMin.x + 5.0f;
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 2.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding,
                        ImVec2(0.0f, std::max(0.0f, (m.buttonHeight - ImGui::GetFontSize()) * 0.5f)));
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(1, 1, 1, 0.06f));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(1, 1, 1, 0.03f));

    ImGui::BeginDisabled(!mayEdit);
    if (stepping) {
        const bool hasPrevious = layer.HasPreviousSound();
        if (SmallButton(kChevronLeft, "bk", k, ImVec2(x, y), size,
                        hasPrevious ? ColorWithAlpha(t.textSecondary, 180) : ColorWithAlpha(t.textMuted, 60)) &&
            hasPrevious)
            requests.previous = k;
        ShowItemTooltip("%s", hasPrevious ? "Previous sound" : "No history");
        x += m.buttonWidth + 1.0f;
        const bool hasNext = layer.HasNextSound();
        if (SmallButton(kChevronRight, "fw", k, ImVec2(x, y), size, ColorWithAlpha(t.textSecondary, 180))) {
            if (hasNext) requests.next = k;
            else requests.another = k;
        }
        ShowItemTooltip("%s", hasNext ? "Next sound (history)" : "Next sound");
        x += m.buttonWidth + 2.0f;
    }
    const float muteWidth = ImGui::CalcTextSize(icon::kVolume).x + 4.0f;
    const std::uint32_t muteText = layer.muted  ? ColorWithAlpha(t.textMuted, 80)
                                   : auditioned ? ColorWithAlpha(t.accent, 220)
                                                : ColorWithAlpha(t.textPrimary, 200);
    if (SmallButton(layer.muted ? icon::kVolumeMute : icon::kVolume, "mute", k, ImVec2(x, y),
                    ImVec2(muteWidth, m.buttonHeight), muteText) &&
        !banned)
        ToggleLayerMute(project, engine, k);
    if (banned) ShowItemTooltip("Banned \xe2\x80\x94 unlike to restore");
    else ShowItemTooltip("%s", layer.muted ? "Unmute layer" : "Mute layer");
    x += muteWidth;
    ImGui::EndDisabled();

    // The right-hand controls, laid out leftwards from the row's right edge.
    float right = bgMax.x - 5.0f;
    const float menuX = layer.filepath.empty() ? right : right - m.buttonWidth;
    if (!layer.filepath.empty()) right = menuX - 2.0f;
    float dislikeX = right, likeX = right;
    if (stepping) {
        dislikeX = right - m.buttonWidth;
        likeX = dislikeX - 2.0f - m.buttonWidth;
        right = likeX - 2.0f;
    }
    const float volumeX = right - m.volumeWidth;

    // The name between the left buttons and the volume field.
    const float nameWidth = volumeX - 5.0f - x;
    if (nameWidth > 20.0f) {
        const std::string shown = FitLayerName(layer.name, nameWidth, [](std::string_view text) {
            return ImGui::CalcTextSize(text.data(), text.data() + text.size()).x;
        });
        const std::uint32_t nameColour = auditioned    ? t.accent
                                         : layer.muted ? ColorWithAlpha(t.textMuted, 60)
                                                       : ColorWithAlpha(t.textPrimary, 200);
        ImGui::SetCursorScreenPos(ImVec2(x, y));
        ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(nameColour));
        const std::string label = shown + "##name";
        if (ImGui::Selectable(label.c_str(), auditioned, 0, ImVec2(nameWidth, m.buttonHeight)))
            ToggleLayerRowAudition(state, project, engine, GlobalVideoPlayer, k);
        ImGui::PopStyleColor();
        if (ImGui::IsItemHovered()) {
            const std::string channels = GetChannelLayoutLabel(SoundLibrary, layer.filepath);
            const char* separator = channels.empty() ? "" : " \xc2\xb7 ";
            if (std::fabs(layer.pitchShift) > 0.01f) {
                ShowTooltip("%s (%+.1f semi)%s%s", layer.name.c_str(), layer.pitchShift, separator, channels.c_str());
            } else {
                ShowTooltip("%s%s%s", layer.name.c_str(), separator, channels.c_str());
            }
        }
    }

    ImGui::BeginDisabled(!mayEdit);
    float db = LayerVolumeDb(layer);
    ImGui::SetCursorScreenPos(ImVec2(volumeX, y));
    ImGui::SetNextItemWidth(m.volumeWidth);
    ImGui::PushStyleColor(ImGuiCol_FrameBg, ColourVec(t.frameBg));
    ImGui::PushStyleColor(ImGuiCol_FrameBgHovered, ImVec4(0.1f, 0.12f, 0.16f, 1.0f));
    ImGui::PushStyleColor(ImGuiCol_FrameBgActive, ImVec4(0.12f, 0.14f, 0.2f, 1.0f));
    char volumeId[24];
    std::snprintf(volumeId, sizeof volumeId, "##vol%d", k);
    if (ImGui::DragFloat(volumeId, &db, 0.1f, kLayerVolumeMinDb, kLayerVolumeMaxDb, "%.1f dB",
                         ImGuiSliderFlags_AlwaysClamp))
        SetLayerVolumeDb(state, project, engine, k, db);
    ImGui::PopStyleColor(3);
    ShowItemTooltip("Layer volume");

    if (stepping) {
        const bool liked = layer.eventIdx >= 0 && static_cast<std::size_t>(layer.eventIdx) < project.events.size() &&
                           project.events[static_cast<std::size_t>(layer.eventIdx)].HasPinnedFile(layer.filepath);
        if (SmallButton(icon::kThumbsUp, "up", k, ImVec2(likeX, y), size,
                        liked ? t.accent : ColorWithAlpha(t.textMuted, 100)))
            ToggleLayerLike(project, engine, k);
        ShowItemTooltip("%s", liked ? "Unlike \xe2\x80\x94 unpin this sound" : "Like \xe2\x80\x94 always use this sound");
        ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.35f, 0.1f, 0.1f, 1.0f));
        if (SmallButton(icon::kThumbsDown, "dn", k, ImVec2(dislikeX, y), size,
                        banned ? Rgb(0xDC3C3C) : ColorWithAlpha(t.textMuted, 100)))
            ToggleLayerDislike(project, engine, k);
        ImGui::PopStyleColor();
        if (banned) ShowItemTooltip("Unlike \xe2\x80\x94 unban this sound");
        else ShowItemTooltip("Dislike \xe2\x80\x94 ban '%s' from project", layer.name.c_str());
    }
    ImGui::EndDisabled();

    if (!layer.filepath.empty()) {
        const bool chosen = FileChannelInterpretation(SoundLibrary, layer.filepath) != 0;
        char popup[32];
        std::snprintf(popup, sizeof popup, "##laymenu%d", k);
        if (SmallButton(icon::kEllipsis, "lm", k, ImVec2(menuX, y), size,
                        chosen ? ColorWithAlpha(t.accent, 220) : ColorWithAlpha(t.textMuted, 150)))
            ImGui::OpenPopup(popup);
        ShowItemTooltip("More\xe2\x80\xa6");
        DrawLayerMenu(state, layer, k);
    }
    ImGui::PopStyleColor(3);
    ImGui::PopStyleVar(2);
    ImGui::PopID();

    if (state.scrollToLayer == k) {
        ImGui::SetCursorScreenPos(ImVec2(rowLeft, top + m.rowHeight * 0.5f));
        ImGui::SetScrollHereY(0.5f);
        state.scrollToLayer = -1;
    }
    ImGui::SetCursorScreenPos(ImVec2(rowLeft, top + m.rowHeight + 1.0f));
}

}  // namespace

void DrawLayerRows(std::int32_t event, float rowLeft, float rowWidth, float fontSize) {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    if (event < 0 || static_cast<std::size_t>(event) >= project.events.size()) return;
    RowMetrics m;
    m.f = fontSize;
    m.h2 = std::max(1.3f * fontSize, 22.0f);
    m.rowHeight = m.h2 + 13.0f;
    m.buttonWidth = std::max(1.1f * fontSize, 16.0f);
    m.buttonHeight = m.h2 - 2.0f;
    m.volumeWidth = std::max(3.0f * fontSize, 40.0f);
    const std::int32_t kind = project.events[static_cast<std::size_t>(event)].shape;
    const bool simpleKind = !IsKind(kind, EventKind::Clip) && !IsKind(kind, EventKind::Bed);

    SoundChangeRequests requests;
    // A job that runs while the rows draw may be rewriting the layers: they
    // show only once it is over.
    if (state.backgroundJob.active.load(std::memory_order_acquire)) return;
    for (std::size_t k = 0; k < project.results.size(); ++k) {
        if (project.results[k].eventIdx != event) continue;
        DrawLayerRow(state, project, LivePlaybackEngine, static_cast<std::int32_t>(k), simpleKind, rowLeft, rowWidth, m,
                     requests);
    }
    StartSoundChange(project, requests);
}

}  // namespace korvel
