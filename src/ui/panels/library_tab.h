#pragma once
// The library tab: the palettes of the sound library with their spectral
// coverage, the folder scan and the folders queued behind it, adding
// folders, choosing the palettes the project uses, and each palette's menu
// (palette_menu.h). Deciding and formatting are plain functions beside the
// drawing, so they are tested without a frame. UI thread only.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ImDrawList;

namespace korvel {

struct AppState;
struct Library;
struct UILayout;

// The five band sums of the enabled, present palettes, normalised to the
// largest, and each palette's averaged bands for its row; recomputed only
// when the signature of the palette list changes.
struct SpectralCoverage {
    std::array<float, 5> bands{};
    std::int32_t palettes = 0;
    std::int32_t files = 0;
    std::uint64_t signature = 0;
    bool computed = false;
    // Library order; each normalised to its own largest band.
    std::vector<std::array<float, 5>> paletteBands;
};

// State only the tab keeps; lives as long as the program. UI thread only.
struct LibraryTabState {
    bool addFolderRequested = false;
    char notice[128] = {};
    double noticeTime = 0.0;  // UI clock when it was set
    SpectralCoverage coverage;
    std::vector<std::int32_t> displayOrder;  // rebuilt every frame
    // The palette whose "Remove" was pressed once, and the one confirmed
    // this frame; settled after the rows.
    std::int32_t pendingRemoveIndex = -1;
    std::int32_t markedRemoveIndex = -1;
    bool anyMenuOpen = false;  // a row's menu was drawn open this frame
};
extern LibraryTabState LibraryTab;

// The pieces other parts of the tab bring: the missing-sources card at the
// top of the list and the save-palette mode (its header, list and footer in
// place of the tab's own, and the button that enters it), filled with
// missing_sources_card.h and save_palette_mode.h. Empty entries draw
// nothing; without enterSaveMode "Save Palette" stays disabled. UI thread
// only.
struct LibraryTabParts {
    std::function<void(float cardWidth)> drawMissingSourcesCard;
    std::function<void()> enterSaveMode;
    std::function<void()> drawSaveHeader;
    std::function<void()> drawSaveList;
    std::function<void()> drawSaveFooter;
};
extern LibraryTabParts LibraryTabHooks;

inline constexpr double kLibraryNoticeSeconds = 4.0;

// A one-line notice under the header for 4 s.
void SetLibraryTabNotice(const std::string& text);

// Display order of palettes a and b of SoundLibrary: names compared
// character by character in lower case, a prefix first.
bool CompareLibraryNames(std::int32_t a, std::int32_t b);
std::vector<std::int32_t> LibraryDisplayOrder(const Library& library);

// "%d files", "%d,%03d files", "%d,%03d,%03d files".
std::string FormatLibraryFileCount(std::int64_t count);

// How the coverage column's text fits its width. The title shrinks to at
// most 3/4 of the font size, then breaks after "SPECTRAL"; the band labels
// shrink as far, then read as their initials. Widths are measured at the
// font size by `measure`.
struct CoverageTextFit {
    float titleScale = 1.0f;
    bool titleWrapped = false;
    float labelScale = 1.0f;
    bool labelInitials = false;
};
inline constexpr float kCoverageMinTextScale = 0.75f;
CoverageTextFit FitCoverageText(float columnWidth, float barPitch, const std::function<float(const char*)>& measure);

std::uint64_t CoverageSignature(const Library& library);
// Recomputes `coverage` when the signature changed; true when it did.
bool UpdateSpectralCoverage(SpectralCoverage& coverage, const Library& library);

// Folders dropped on the window: each path without trailing '/', skipped
// when empty or already a palette's folder (or the running scan's); queued
// once while a scan runs, else scanned. Empties the dropped list.
void TakeDroppedFolders(AppState& state, Library& library);

// A click on a palette row: Shift extends from the anchor, `toggle`
// (Super, or Ctrl, which the desktop leaves to programs) adds or removes
// the palette and makes it the anchor, else only this palette.
void ClickLibraryRow(AppState& state, std::int32_t index, bool shift, bool toggle,
                     const std::vector<std::int32_t>& order);

// The row checkbox: a change on a selected palette while several are
// selected goes to every selected palette. Refused (false) while the edit
// guard is closed.
bool SetPaletteEnabledFromRow(AppState& state, Library& library, std::int32_t index, bool enabled);

// Draws the tab into the current window at the cursor.
void DrawLibraryTab(ImDrawList* drawList, const UILayout& layout);

}  // namespace korvel
