#pragma once
// Records of the application shell that the application state carries: the
// fonts, the window chrome, what was dropped on the window and the update
// check's findings. The shell fills them; until then they hold their
// defaults.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct ImFont;

namespace korvel {

inline constexpr int kFontSizePresets = 3;  // 0 Small, 1 Medium, 2 Large
inline constexpr int kFontSlots = 4;

// Fonts are loaded by the shell; null until then.
struct FontTable {
    std::array<std::array<ImFont*, kFontSlots>, kFontSizePresets> regular = {};
    std::array<std::array<ImFont*, kFontSlots>, kFontSizePresets> bold = {};
    ImFont* aboutTitleFont = nullptr;
    // The current slots every drawing call uses.
    ImFont* smallFont = nullptr;
    ImFont* bodyFont = nullptr;
    ImFont* mediumFont = nullptr;
    ImFont* largeFont = nullptr;
};

// Title-bar metrics in UI units. The title bar's hooks are in PlatformHooks.
struct WindowChrome {
    float titleLeftPad = 12.0f;
    float captionButtonsWidth = 142.0f;
    bool animating = false;  // an animation runs: keeps the loop busy
    bool customTitleBar = true;
    // The draggable part of the title bar and its height, written every frame.
    float dragLeft = 0.0f;
    float dragRight = 0.0f;
    float titleHeight = 0.0f;
};

// Files and folders dragged onto the window, and where the pointer is.
struct DropState {
    std::string droppedVideo;
    std::vector<std::string> droppedFolderPaths;
    std::vector<std::string> droppedAudio;  // in drop order
    bool altAtDrop = false;
    bool dragAltHeld = false;
    bool hoverFolder = false;
    bool hoverAudio = false;
    bool hoverVideo = false;
    bool dropOverLibrary = false;
    std::int32_t dropTargetScene = -1;
    bool dropOverInspector = false;
    float dropX = 0.0f;  // UI units
    float dropY = 0.0f;

    // The names of a drop being received, between its begin and complete.
    std::vector<std::string> receivingNames;
    bool receiving = false;
    // The sound files of the last drop wait here for one frame, in which the
    // panels find the targets under the pointer; at the end of that frame
    // they move to droppedAudio with the targets held beside them.
    std::vector<std::string> arrivingAudio;
    // The targets of the frame the drop arrived in. A drop held while a job
    // or an export runs keeps them until it is handled; the live flags above
    // are recomputed by the panels every frame.
    bool heldOverLibrary = false;
    std::int32_t heldTargetScene = -1;
    bool heldOverInspector = false;
};

// What the last update check found. The texts hold only while
// updateAvailable is set.
struct UpdateInfo {
    std::int64_t lastUpdateCheck = 0;  // seconds since 1970
    bool updateAvailable = false;
    std::string version;
    std::string url;
    std::string date;
    std::vector<std::string> notes;  // one per line
};

}  // namespace korvel
