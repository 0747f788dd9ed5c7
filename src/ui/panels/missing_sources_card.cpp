// The missing-sources card.
//
// [SECTION] Card state, the file type and the counts
// [SECTION] Refresh after a relink
// [SECTION] Actions
// [SECTION] Drawing
#include "ui/panels/missing_sources_card.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/background_job.h"
#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "library/file_id.h"
#include "library/folder_scan.h"
#include "library/missing_source.h"
#include "library/missing_sources.h"
#include "library/relink.h"
#include "playback/render_cache.h"
#include "project/app_state.h"
#include "project/project.h"
#include "ui/panels/panel_look.h"

namespace korvel {

// ---------------------------------------------------------------------------
// [SECTION] Card state, the file type and the counts
// ---------------------------------------------------------------------------

MissingSourcesCardState MissingSourcesCard;

namespace {

const char* Plural(std::int32_t n) { return n == 1 ? "" : "s"; }

}  // namespace

std::string LocateFileExtension(const std::string& displayName) {
    const std::size_t dot = displayName.find_last_of('.');
    if (dot == std::string::npos || dot + 1 >= displayName.size()) return "wav";
    return displayName.substr(dot + 1);
}

std::string MissingSourceUseText(const MissingSource& entry) {
    char text[96];
    if (entry.paletteCount < 1)
        std::snprintf(text, sizeof text, "used by %d event%s", entry.eventCount, Plural(entry.eventCount));
    else
        std::snprintf(text, sizeof text, "used by %d event%s \xC2\xB7 %d palette%s", entry.eventCount,
                      Plural(entry.eventCount), entry.paletteCount, Plural(entry.paletteCount));
    return text;
}

// ---------------------------------------------------------------------------
// [SECTION] Refresh after a relink
// ---------------------------------------------------------------------------

namespace {

// The project's part of a refresh; only while the edit guard is open.
void RefreshProjectSources(bool render) {
    AppState& state = GlobalAppState;
    // A relink is no edit of the designer's: no undo step, but the project
    // file now names other paths.
    if (RefreshSessionSourcePaths(CurrentProject)) state.unsavedChanges = true;
    ScanMissingSources(true, UiClockSeconds());
    if (render) RebuildCache(true);
}

// The registry alone tells which entries resolve now; the project is not
// read while a job may be writing its layers.
void DropResolvedEntries(std::vector<MissingSource>& list) {
    list.erase(std::remove_if(list.begin(), list.end(),
                              [](const MissingSource& entry) { return !ResolvePathById(entry.fileId).empty(); }),
               list.end());
}

}  // namespace

void RefreshAfterRelink(std::int32_t relinked) {
    AppState& state = GlobalAppState;
    MissingSourcesCardState& card = MissingSourcesCard;
    if (UiMayEditProject(state)) {
        RefreshProjectSources(relinked >= 1);
    } else {
        DropResolvedEntries(state.MissingSources);
        card.projectRefreshWaiting = true;
        card.renderWaiting = card.renderWaiting || relinked >= 1;
    }
    if (relinked < 1) {
        PostStatus("No matching files found", kRelinkStatusSeconds);
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "Relinked %d file%s", relinked, Plural(relinked));
        PostStatus(text, kRelinkStatusSeconds);
    }
}

void ServeWaitingRelinkRefresh() {
    MissingSourcesCardState& card = MissingSourcesCard;
    if (!card.projectRefreshWaiting || !UiMayEditProject()) return;
    const bool render = card.renderWaiting;
    card.projectRefreshWaiting = false;
    card.renderWaiting = false;
    RefreshProjectSources(render);
}

// ---------------------------------------------------------------------------
// [SECTION] Actions
// ---------------------------------------------------------------------------

bool RelinkAllMissingSources() {
    RefreshAfterRelink(RelinkAllMissing(GetFileIdRegistry()));
    return true;
}

bool LocateMissingFile(const MissingSource& entry) {
    const PlatformHooks& hooks = GlobalAppState.platformHooks;
    if (!hooks.openFileDialog) return false;
    // The refresh replaces the list the entry lives in.
    const FileId id = entry.fileId;
    const std::string chosen = hooks.openFileDialog("Locate Missing File", LocateFileExtension(entry.name));
    if (chosen.empty()) return false;
    switch (RelinkFileId(GetFileIdRegistry(), id, chosen)) {
        case kRelinked:
            RefreshAfterRelink(1);
            return true;
        case kRelinkContentDiffers:
            MissingSourcesCard.pendingForceRelinkId = id;
            MissingSourcesCard.pendingForceRelinkPath = chosen;
            return false;
        default:
            PostStatus("Could not read the selected file", kRelinkStatusSeconds);
            return false;
    }
}

bool LocateMissingFolder() {
    const PlatformHooks& hooks = GlobalAppState.platformHooks;
    if (!hooks.pickFolder) return false;
    const std::string folder = hooks.pickFolder();
    if (folder.empty()) return false;
    RefreshAfterRelink(RelinkFromFolder(GetFileIdRegistry(), folder, IsSupportedAudioExtension));
    return true;
}

bool UseAnywayForPendingFile() {
    MissingSourcesCardState& card = MissingSourcesCard;
    const FileId id = std::move(card.pendingForceRelinkId);
    const std::string path = std::move(card.pendingForceRelinkPath);
    card.pendingForceRelinkId.clear();
    card.pendingForceRelinkPath.clear();
    if (id.empty() || ForceRelinkFileId(GetFileIdRegistry(), id, path) != kRelinked) return false;
    RefreshAfterRelink(1);
    return true;
}

void CancelPendingForceRelink() {
    MissingSourcesCard.pendingForceRelinkId.clear();
    MissingSourcesCard.pendingForceRelinkPath.clear();
}

// ---------------------------------------------------------------------------
// [SECTION] Drawing
// ---------------------------------------------------------------------------

namespace {

void ColouredText(std::uint32_t colour, const char* text) {
    ImGui::PushStyleColor(ImGuiCol_Text, panels::Col(colour));
    ImGui::TextUnformatted(text);
    ImGui::PopStyleColor();
}

}  // namespace

void DrawMissingSourcesCard(float width) {
    const std::vector<MissingSource>& list = GlobalAppState.MissingSources;
    const MissingSourcesCardState& card = MissingSourcesCard;

    ImGui::Dummy(ImVec2(width, 2.0f));
    char header[96];
    std::snprintf(header, sizeof header, "%s  MISSING SOURCES (%d)", icon::kUnlink, static_cast<int>(list.size()));
    ColouredText(ThemePalette.attention, header);
    ImGui::SameLine();
    const bool relinkAll = ImGui::SmallButton("Relink all##msRelinkAll");

    bool refreshed = false;
    for (std::size_t i = 0; i < list.size() && !refreshed; ++i) {
        // A copy: any action's refresh replaces the list.
        const MissingSource entry = list[i];
        ImGui::PushID(entry.fileId.c_str());
        ColouredText(ThemePalette.textPrimary, entry.name.c_str());
        ColouredText(ThemePalette.textMuted, MissingSourceUseText(entry).c_str());
        ColouredText(ThemePalette.textMuted, entry.lastKnownPath.c_str());
        if (ImGui::IsItemHovered()) ShowTooltip("Last-known location");

        if (ImGui::SmallButton("Locate...##msFile")) refreshed = LocateMissingFile(entry);
        ImGui::SameLine();
        if (ImGui::SmallButton("Locate folder...##msFolder") && !refreshed) refreshed = LocateMissingFolder();
        if (!refreshed && card.pendingForceRelinkId == entry.fileId) {
            ColouredText(ThemePalette.attention, "Selected file has different content.");
            if (ImGui::SmallButton("Use anyway##msForce")) refreshed = UseAnywayForPendingFile();
            ImGui::SameLine();
            if (ImGui::SmallButton("Cancel##msForceCancel")) CancelPendingForceRelink();
        }
        ImGui::Dummy(ImVec2(width, 4.0f));
        ImGui::PopID();
        // Pressed in the header, it runs once the first entry is drawn.
        if (relinkAll && !refreshed) refreshed = RelinkAllMissingSources();
    }
    ImGui::Separator();
    ImGui::Dummy(ImVec2(width, 4.0f));
}

}  // namespace korvel
