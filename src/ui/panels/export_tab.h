#pragma once
// The export tab: the AAF and WAV options, the reverb stem, and the export
// button that asks for a destination and starts the export thread. The
// decisions (the button's label, enabling and tooltip, the "Wet stem"
// rules, the channel line and the request) are plain functions beside the
// drawing, so they are tested without a frame. UI thread only.
#include <cstdint>
#include <string>

#include "playback/export_job.h"

struct ImDrawList;

namespace korvel {

struct AppState;
struct Project;
struct UILayout;

// What the export button shows and allows. `tooltip` is null when none.
struct ExportButtonLook {
    std::string label;
    bool enabled = false;
    const char* tooltip = nullptr;
};

// The facts the button depends on beyond the settings.
struct ExportButtonFacts {
    bool hasLayers = false;      // the project has layer results
    bool hookInstalled = false;  // pickExportLocation is set
    bool engineReady = false;    // the live engine's voices are rendered
};

ExportButtonLook ExportButtonFor(const AppState& state, const ExportButtonFacts& facts);

struct WetStemLook {
    bool enabled = false;
    const char* tooltip = nullptr;
};

// "Wet stem" needs a format and the live reverb.
WetStemLook WetStemFor(const AppState& state, bool reverbEnabled);

// "Channels: L R C LFE Ls Rs" and the like for a surround layout, the
// ambisonic line for AmbiX, empty for Stereo. Out-of-range indices clamp.
std::string ExportChannelLine(std::int32_t layoutIndex);

// The request for a chosen destination path: its folder part (the path
// itself when it has none) and its file name ("Korvel" when empty), the
// settings, the work area when there is a valid one, and the project's
// facts.
ExportRequest BuildExportRequest(const std::string& chosenPath, const AppState& state, const Project& project);

// Stored as the export's completion: posts the job's final status line.
void ExportCompleteCallback();

// The button's press after the dialog: starts the export of `chosenPath`
// on the export thread. A thread that cannot start posts the failure and
// leaves the tab idle. False when nothing runs afterwards.
bool StartExportFromTab(const std::string& chosenPath);

// Draws the tab into a child window of the panel's size.
void DrawExportTab(ImDrawList* drawList, const UILayout& layout);

}  // namespace korvel
