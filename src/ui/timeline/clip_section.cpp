// The Clip's section of the inspector.
//
// [SECTION] File facts
// [SECTION] Edits
// [SECTION] File line, facts and description
// [SECTION] Replace button
// [SECTION] Offset field
#include "ui/timeline/clip_section.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "library/file_id.h"
#include "library/library.h"
#include "picture/timecode.h"
#include "playback/playback_engine.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/panels/panel_look.h"
#include "ui/timeline/events_tab.h"
#include "ui/timeline/inspector_edits.h"
#include "ui/timeline/recipe_panel.h"
#include "ui/timeline/text_fit.h"

namespace korvel {

using panels::ColourVec;
namespace {

constexpr const char* kGlyphReplace = "\xef\x85\x81";  // U+F141

float DrawnWidth(std::string_view text) { return ImGui::CalcTextSize(text.data(), text.data() + text.size()).x; }

// Rows sit g apart instead of the style's item spacing.
void NextRow(const InspectorMetrics& m) {
    const float y = ImGui::GetCursorPosY() - ImGui::GetStyle().ItemSpacing.y + m.gap;
    ImGui::SetCursorPos(ImVec2(m.padding, y));
}

// The regular body font of the current size preset, or null before fonts load.
ImFont* RegularBodyFont(const AppState& state) {
    const int preset = std::clamp(state.fontSizePreset, 0, kFontSizePresets - 1);
    return state.fonts.regular[static_cast<std::size_t>(preset)][1];
}

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The facts read from files, by path; filled once per path and never
// cleared. UI thread only.
std::unordered_map<std::string, SoundFileFacts>& FactsCache() {
    static std::unordered_map<std::string, SoundFileFacts> cache;
    return cache;
}

bool MayEditLayers(const AppState& state) {
    if (UiMayEditProject(state)) return true;
    PostStatus(kBusyEditStatus, 3.0f);
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] File facts
// ---------------------------------------------------------------------------

SoundFileFacts ClipFileFacts(const Library& library, const std::string& path) {
    for (const Palette& palette : library.palettes) {
        for (const LibraryFile& file : palette.files) {
            if (file.sampleRate <= 0.0f || file.path != path) continue;
            SoundFileFacts facts;
            facts.duration = file.duration;
            facts.sampleRate = file.sampleRate;
            facts.channels = file.channels;
            facts.bitsPerSample = file.bitsPerSample;
            facts.description = file.description;
            facts.valid = true;
            return facts;
        }
    }
    auto& cache = FactsCache();
    auto it = cache.find(path);
    if (it == cache.end()) it = cache.emplace(path, ReadSoundFileFacts(path)).first;
    return it->second;
}

std::string FactsDurationText(float seconds) {
    char text[32];
    const int whole = static_cast<int>(seconds);
    if (seconds >= 3600.0f) {
        std::snprintf(text, sizeof(text), "%d:%02d:%02d", whole / 3600, whole / 60 % 60, whole % 60);
    } else if (seconds >= 60.0f) {
        const int tenths = static_cast<int>((seconds - static_cast<float>(whole)) * 10.0f);
        std::snprintf(text, sizeof(text), "%d:%02d.%d", whole / 60, whole % 60, tenths);
    } else {
        std::snprintf(text, sizeof(text), "%.2fs", seconds);
    }
    return text;
}

std::string FactsRateText(float rate) {
    char text[32];
    if (rate >= 1000.0f) {
        const float r = rate / 1000.0f;
        if (r == std::floor(r)) {
            std::snprintf(text, sizeof(text), "%dk", static_cast<int>(r));
        } else {
            std::snprintf(text, sizeof(text), "%.1fk", r);
        }
    } else {
        std::snprintf(text, sizeof(text), "%.0f", rate);
    }
    return text;
}

std::string FactsChannelsText(std::int32_t channels) {
    switch (channels) {
        case 1: return "mono";
        case 2: return "stereo";
        case 4: return "quad";
        case 6: return "5.1";
        case 8: return "7.1";
        default: break;
    }
    if (channels < 3) return "mono";
    char text[16];
    std::snprintf(text, sizeof(text), "%dch", channels);
    return text;
}

std::string FactsLine(const SoundFileFacts& facts) {
    char text[96];
    std::snprintf(text, sizeof(text), "%s  %s  %s  %d-bit", FactsDurationText(facts.duration).c_str(),
                  FactsRateText(facts.sampleRate).c_str(), FactsChannelsText(facts.channels).c_str(),
                  facts.bitsPerSample);
    return text;
}

// ---------------------------------------------------------------------------
// [SECTION] Edits
// ---------------------------------------------------------------------------

ClipReplaceResult ReplaceClipFile(AppState& state, Project& project, std::int32_t index, const std::string& path) {
    Event* event = FindEvent(project, index);
    if (event == nullptr || !IsKind(event->shape, EventKind::Clip)) return ClipReplaceResult::NotAClip;
    if (path.empty()) return ClipReplaceResult::Cancelled;
    // A cut path would name a different or missing file.
    if (path.size() >= sizeof(Event::pinnedFile)) {
        PostStatus("Path too long to place: " + FileNameOf(path), 5.0f);
        return ClipReplaceResult::PathTooLong;
    }
    if (!MayEditLayers(state)) return ClipReplaceResult::Busy;
    PushUndo();
    CopyText(event->pinnedFile, path);
    event->pinnedFileId = ComputeFileId(path).id;
    event->usePinnedFile = true;
    PlaceClipsAgain(state, project, {index});
    return ClipReplaceResult::Replaced;
}

ClipReplaceResult ReplaceClipFromDialog(AppState& state, Project& project, std::int32_t index) {
    const auto& openFile = state.platformHooks.openFileDialog;
    if (!openFile) return ClipReplaceResult::Cancelled;
    // Asking for a file that would be refused wastes the designer's time.
    if (!MayEditLayers(state)) return ClipReplaceResult::Busy;
    return ReplaceClipFile(state, project, index, openFile("Replace Audio File", "wav"));
}

bool SetClipSyncOffset(AppState& state, Project& project, PlaybackEngine& engine, std::int32_t index,
                       float offset) {
    Event* event = FindEvent(project, index);
    if (event == nullptr) return false;
    const float next = std::clamp(offset, 0.0f, std::max(0.0f, event->duration));
    if (next == event->syncOffset) return false;
    // The layers move, and a job or an export reads them.
    if (!MayEditLayers(state)) return false;
    const float delta = next - event->syncOffset;
    event->syncOffset = next;
    state.unsavedChanges = true;
    if (std::fabs(delta) <= 0.0001f) return true;
    for (LayerResult& layer : project.results) {
        if (layer.eventIdx == index) layer.startTime -= delta;
    }
    // The mixer reads voice start times only while it holds this lock.
    std::lock_guard<std::mutex> lock(engine.voiceMutex);
    for (Voice& voice : engine.voices) {
        if (voice.eventIndex == index) voice.startTime -= delta;
    }
    return true;
}

std::int32_t TakeOffsetDragFrames(float& accumulator, float dy) {
    accumulator -= 0.5f * dy;
    const auto frames = static_cast<std::int32_t>(accumulator);
    accumulator -= static_cast<float>(frames);
    return frames;
}

bool CommitTypedClipOffset(AppState& state, Project& project, PlaybackEngine& engine, std::int32_t index, float fps,
                           std::string_view text) {
    const float t = ParseTimecode(fps, text);
    if (t < 0.0f) return false;
    return SetClipSyncOffset(state, project, engine, index, t);
}

// ---------------------------------------------------------------------------
// [SECTION] File line, facts and description
// ---------------------------------------------------------------------------

namespace {

// The description as last fitted, since fitting measures it once per
// prefix. UI thread only.
struct FittedDescription {
    std::string text;
    float width = 0.0f;
    float height = 0.0f;
    ImFont* font = nullptr;
    std::string shown;
};
FittedDescription LastDescription;

const std::string& FitDescription(const std::string& text, float width, float height) {
    FittedDescription& last = LastDescription;
    ImFont* font = ImGui::GetFont();
    if (last.text == text && last.width == width && last.height == height && last.font == font) return last.shown;
    last.text = text;
    last.width = width;
    last.height = height;
    last.font = font;
    last.shown = FitPrefix(text, [&](std::string_view shown) {
        return ImGui::CalcTextSize(shown.data(), shown.data() + shown.size(), false, width).y <= height;
    });
    return last.shown;
}

}  // namespace

void DrawClipRows(AppState& state, const Project& project, std::int32_t index, const InspectorMetrics& m,
                  float firstRowY, float frameHeight) {
    if (index < 0 || index >= static_cast<std::int32_t>(project.events.size())) return;
    const Event& event = project.events[static_cast<std::size_t>(index)];
    ImGui::SetCursorPos(ImVec2(m.padding, firstRowY));
    if (event.pinnedFile[0] == '\0') {
        ImGui::TextColored(ColourVec(ThemePalette.textMuted), "%s", "No file assigned");
        return;
    }
    const std::string path(TextOf(event.pinnedFile));
    const float limit = m.contentWidth - frameHeight - m.gap;
    ImFont* regular = RegularBodyFont(state);
    if (regular != nullptr) ImGui::PushFont(regular);

    const std::string name = ShortenMiddle(FileNameOf(path), limit, DrawnWidth);
    ImGui::TextColored(ColourVec(ThemePalette.textSecondary), "%s", name.c_str());
    if (ImGui::IsItemHovered()) ShowTooltip("%s", path.c_str());

    const SoundFileFacts facts = ClipFileFacts(SoundLibrary, path);
    if (facts.valid) {
        NextRow(m);
        ImGui::TextColored(ColourVec(ThemePalette.textMuted), "%s", FactsLine(facts).c_str());
        if (!facts.description.empty()) {
            NextRow(m);
            const std::string& shown = FitDescription(facts.description, limit, 2.2f * ImGui::GetFontSize());
            ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + limit);
            ImGui::TextColored(ColourVec(ThemePalette.textMuted), "%s", shown.c_str());
            ImGui::PopTextWrapPos();
            if (ImGui::IsItemHovered()) {
                const bool pushedFont = PushTooltipStyle();
                ImGui::BeginTooltip();
                ImGui::PushTextWrapPos(26.0f * ImGui::GetFontSize());
                ImGui::TextUnformatted(facts.description.c_str());
                ImGui::PopTextWrapPos();
                ImGui::EndTooltip();
                PopTooltipStyle(pushedFont);
            }
        }
    }
    if (regular != nullptr) ImGui::PopFont();
}

// ---------------------------------------------------------------------------
// [SECTION] Replace button
// ---------------------------------------------------------------------------

void DrawClipReplaceButton(AppState& state, Project& project, std::int32_t index, float x, float y,
                           float frameHeight) {
    ImGui::SetCursorPos(ImVec2(x, y));
    char label[32];
    std::snprintf(label, sizeof(label), "%s##clipreplace", kGlyphReplace);
    if (ImGui::Button(label, ImVec2(frameHeight, frameHeight))) ReplaceClipFromDialog(state, project, index);
    ShowItemTooltip("Replace file");
}

// ---------------------------------------------------------------------------
// [SECTION] Offset field
// ---------------------------------------------------------------------------

namespace {

// The offset field between frames: which field is typed in (0 none) and
// for which event, the frame typing began, the focus request, the typed
// text and the drag's fraction of a frame. UI thread only.
struct OffsetFieldState {
    ImGuiID typingId = 0;
    std::int32_t typingEvent = -1;
    int beganFrame = 0;
    bool focusRequest = false;
    char text[32] = {};
    float accumulator = 0.0f;
};
OffsetFieldState OffsetField;

void EndTyping() {
    OffsetField.typingId = 0;
    OffsetField.typingEvent = -1;
    OffsetField.focusRequest = false;
}

void DrawOffsetDisplay(AppState& state, Project& project, std::int32_t index, float fps, float width, ImGuiID id) {
    const Event& event = project.events[static_cast<std::size_t>(index)];
    char text[32];
    FormatTimecode(fps, event.syncOffset, text, sizeof(text));
    const ImGuiStyle& style = ImGui::GetStyle();
    const float fh = ImGui::GetFrameHeight();
    const ImVec2 pos = ImGui::GetCursorScreenPos();
    ImDrawList* dl = ImGui::GetWindowDrawList();
    dl->AddRectFilled(pos, ImVec2(pos.x + width, pos.y + fh), ImGui::GetColorU32(ImGuiCol_FrameBg),
                      style.FrameRounding);
    const ImVec2 size = ImGui::CalcTextSize(text);
    dl->AddText(ImVec2(pos.x + style.FramePadding.x, pos.y + (fh - size.y) * 0.5f), ImGui::GetColorU32(ImGuiCol_Text),
                text);
    ImGui::InvisibleButton("##evoffTC", ImVec2(width, fh));
    const bool hovered = ImGui::IsItemHovered();
    if (hovered) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeNS);
        ShowTooltip("%s", "Drag: frame-by-frame  |  Double-click: type");
    }
    if (ImGui::IsItemActive()) {
        const std::int32_t frames = TakeOffsetDragFrames(OffsetField.accumulator, ImGui::GetIO().MouseDelta.y);
        if (frames != 0) {
            SetClipSyncOffset(state, project, LivePlaybackEngine, index,
                              event.syncOffset + static_cast<float>(frames) / fps);
        }
    }
    if (ImGui::IsItemDeactivated()) OffsetField.accumulator = 0.0f;
    if (hovered && ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left)) {
        OffsetField.typingId = id;
        OffsetField.typingEvent = index;
        OffsetField.beganFrame = ImGui::GetFrameCount();
        OffsetField.focusRequest = true;
        OffsetField.accumulator = 0.0f;
        std::snprintf(OffsetField.text, sizeof(OffsetField.text), "%s", text);
    }
}

void DrawOffsetTyping(AppState& state, Project& project, std::int32_t index, float fps, float width) {
    if (OffsetField.focusRequest) {
        // The button that was double-clicked shares the field's identity and
        // may still be active: let go of it, or the field would take over
        // the text of its last edit instead of the offset's.
        if (ImGui::GetActiveID() == ImGui::GetID("##evoffTC")) ImGui::ClearActiveID();
        ImGui::SetKeyboardFocusHere();
        OffsetField.focusRequest = false;
    }
    ImGui::SetNextItemWidth(width);
    const bool entered = ImGui::InputText(
        "##evoffTC", OffsetField.text, sizeof(OffsetField.text),
        ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_AutoSelectAll | ImGuiInputTextFlags_CallbackCharFilter,
        TimecodeCharFilter);
    const bool active = ImGui::IsItemActive();
    const bool escaped = ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false);
    if (escaped && !active) {
        EndTyping();  // Escape let go of the field: nothing typed counts
    } else if (entered || (!active && ImGui::GetFrameCount() - OffsetField.beganFrame >= 3)) {
        CommitTypedClipOffset(state, project, LivePlaybackEngine, index, fps, OffsetField.text);
        EndTyping();
    }
}

}  // namespace

float ClipGainWidth(float rowWidth, float gap) {
    return 0.4f * (rowWidth - (gap + ImGui::CalcTextSize("Offset").x));
}

void DrawClipOffsetField(AppState& state, Project& project, std::int32_t index, float gap, float right) {
    if (FindEvent(project, index) == nullptr) return;
    ImGui::SameLine(0.0f, gap);
    ImGui::AlignTextToFramePadding();
    ImGui::TextColored(ColourVec(ColorWithAlpha(ThemePalette.textMuted, 120)), "%s", "Offset");
    ImGui::SameLine(0.0f, gap);
    const float width = std::max(1.0f, right - ImGui::GetCursorPosX());
    const float fps = ProjectFrameRate(project.fps);
    const ImGuiID id = ImGui::GetID("##evoffTC");
    // Typing belongs to the event it began on; another selection ends it.
    if (OffsetField.typingId != 0 && (OffsetField.typingId != id || OffsetField.typingEvent != index)) EndTyping();
    ImGui::PushStyleColor(ImGuiCol_FrameBg, ColourVec(ThemePalette.frameBgHovered));
    ImGui::PushStyleColor(ImGuiCol_FrameBgHovered, ColourVec(ThemePalette.frameBgActive));
    ImGui::PushStyleColor(ImGuiCol_FrameBgActive, ColourVec(ThemePalette.frameBgActive));
    if (OffsetField.typingId == id) {
        DrawOffsetTyping(state, project, index, fps, width);
    } else {
        DrawOffsetDisplay(state, project, index, fps, width, id);
    }
    ImGui::PopStyleColor(3);
}

bool ClipOffsetTyping() { return OffsetField.typingId != 0; }

}  // namespace korvel
