#pragma once
// Commands: the identifiers every non-widget action goes by, the one table
// the menu, the accelerators and the key decoding read, taking at most one
// command a frame from the keys or the mailbox (with the filter that holds
// while a job or an export reads the project), and the menu's model.
// No UI library calls: the window half reads the keys and draws the menu
// (app/frame/menu.h) and performs the commands (app/frame/command_actions.h),
// since the actions reach the timeline's view and menu operations.
//
// [SECTION] Identifiers
// [SECTION] Keys and the command table
// [SECTION] The menu's model
// [SECTION] Taking a command
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

struct AppState;

// [SECTION] Identifiers

enum MenuCommand : std::int32_t {
    CmdPlayPause = 1,
    CmdEscape = 2,
    CmdUndo = 3,
    CmdRedo = 4,
    CmdCut = 5,
    CmdCopy = 6,
    CmdPaste = 7,
    CmdDelete = 8,
    CmdSelectAll = 9,
    CmdSave = 10,
    CmdDrawMode = 11,
    CmdStepBack = 12,
    CmdStepForward = 13,
    CmdZoomIn = 14,
    CmdZoomOut = 15,
    CmdAudioFocus = 16,
    CmdToggleEventLanes = 17,
    CmdSelectPrevious = 18,
    CmdSelectNext = 19,
    CmdMuteToggle = 20,
    CmdGroup = 21,
    CmdUngroup = 22,
    CmdRender = 23,
    CmdSetInPoint = 24,
    CmdSetOutPoint = 25,
    CmdClearWorkArea = 26,
    CmdSaveScene = 27,
    CmdLockToggle = 28,
    CmdCreateSpot = 29,
    CmdCreateBloom = 30,
    CmdCreateContour = 31,
    CmdCreateFill = 32,
    CmdTraceSelectAll = 33,
    CmdTraceAccept = 34,
    CmdTraceReject = 35,
    CmdTraceImport = 36,
    CmdNewProject = 37,
    CmdOpenProject = 38,
    CmdSaveAs = 39,
    CmdExport = 40,
    CmdCloseProject = 41,
    CmdSettings = 42,
    CmdAbout = 43,
    CmdUserGuide = 44,
    CmdProjectLauncher = 45,
    CmdZoomToFit = 46,
    CmdImportVideo = 47,
    CmdImportMarkers = 48,
    CmdShowEvents = 49,
    CmdShowTrace = 50,
    CmdShowLibrary = 51,
    CmdShowMixer = 52,
    CmdShowExport = 53,
    CmdShowSettings = 54,
    CmdPlaceClip = 59,
    CmdPlaceBed = 60,
    CmdBounceToClip = 61,
    CmdExit = 900,
    CmdClearRecent = 901,
    CmdOpenRecent = 1000,   // + position in the recent list
    CmdPlaceRecipe = 2000,  // + position in RecipeList
    CmdPlaceChain = 3000,   // + position in ChainList
};

inline constexpr int kRecentMenuLimit = 10;
inline constexpr int kPresetMenuLimit = 30;

// [SECTION] Keys and the command table

// Key codes as SDL numbers them (the window half checks they agree), so the
// tables below need no SDL header.
enum CommandKey : std::int32_t {
    KeyBackspace = 8,
    KeyEscape = 27,
    KeySpace = ' ',
    KeyComma = ',',
    KeyMinus = '-',
    KeyPeriod = '.',
    KeySemicolon = ';',
    KeyEquals = '=',
    KeyDelete = 127,
    KeyF1 = (1 << 30) | 58,
    KeyDown = (1 << 30) | 81,
    KeyUp = (1 << 30) | 82,
};
// Letters and digits are their lower-case characters.
constexpr std::int32_t LetterKey(char c) { return static_cast<std::int32_t>(c); }

// Accelerators: exact Ctrl and Shift. They are taken before the UI sees
// the key, so they work while a text field has the keyboard.
struct CommandAccelerator {
    std::int32_t key = 0;
    bool ctrl = false;
    bool shift = false;
    std::int32_t command = 0;
};
extern const std::vector<CommandAccelerator> CommandAccelerators;

// The command an accelerator press makes (no Alt), or 0.
std::int32_t AcceleratorCommandFor(std::int32_t key, bool ctrl, bool shift, bool alt);

// One rule of the key decoding. Shift: 0 either, 1 held, -1 not held.
struct CommandKeyRule {
    std::int32_t key = 0;
    std::int32_t shift = 0;
    bool repeats = false;
    std::int32_t command = 0;
};
// The four rule lists (normal and trace-review mode, with and without Ctrl)
// and the two that override whatever the rules without Ctrl found (Period,
// else Comma).
struct CommandKeyTable {
    std::vector<CommandKeyRule> normalCtrl;
    std::vector<CommandKeyRule> normalPlain;
    std::vector<CommandKeyRule> traceCtrl;
    std::vector<CommandKeyRule> tracePlain;
    std::vector<CommandKeyRule> overrides;
};
extern const CommandKeyTable CommandKeys;

// Whether `key` was pressed this frame (`repeats`: key repeat counts).
using KeyPressedFn = std::function<bool(std::int32_t key, bool repeats)>;

// The command the keys of this frame make, 0 for none: the first matching
// rule of the mode, then, without Ctrl only, the overriding Period or Comma.
std::int32_t DecodeCommandKeys(bool traceReview, bool ctrl, bool shift, const KeyPressedFn& pressed);

// The trace tab shows a valid picture read or imported markers.
bool IsTraceReviewMode(const AppState& state);

// Commands that pass while a job (or an export) runs: playback, Escape,
// draw mode, zoom, audio focus, event lanes, tabs, settings, about, the
// guide, the launcher.
bool CommandPassesDuringJob(std::int32_t command);

// [SECTION] The menu's model

// A label as written in the table: "&" marks the access key (removed) and
// the text after a tab is the shortcut shown.
struct MenuLabel {
    std::string text;
    std::string shortcut;
};
MenuLabel SplitMenuLabel(std::string_view label);

// Entries of the menu: a command, a separator, a greyed placeholder or one
// of the submenus (the five of the root, then Open Recent, Place Recipe and
// Place Chain).
enum class MenuEntryKind { Command, Separator, Placeholder, Submenu };
enum MenuId : std::int32_t {
    MenuRoot = 0,
    MenuFile,
    MenuEdit,
    MenuComposition,
    MenuView,
    MenuHelp,
    MenuRecent,
    MenuRecipes,
    MenuChains,
};
struct MenuEntry {
    MenuEntryKind kind = MenuEntryKind::Command;
    std::string label;     // without "&"
    std::string shortcut;  // shown only
    std::int32_t command = 0;
    std::int32_t submenu = -1;
};

// The entries of `menu`, the dynamic ones filled from the recent list and
// the recipe and chain lists as they are now.
std::vector<MenuEntry> MenuEntries(std::int32_t menu, const AppState& state);

// The Open Recent label of a path: its file name without the extension. A
// dot at the start of the name, and a name of one or two dots, start none.
std::string RecentMenuLabel(std::string_view path);

// A chosen entry: Exit asks to close as the close button does, Clear Menu
// empties the recent list and saves the preferences, anything else goes to
// the mailbox.
void HandleMenuChoice(std::int32_t command, AppState& state);

// [SECTION] Taking a command

// Empties the mailbox and returns the command of the frame: the key command
// when there is one, else the mailbox's; dropped (0) while a job or an
// export runs unless it passes then.
std::int32_t TakeMenuCommand(AppState& state, std::int32_t keyCommand);

// Commands 37 to 54 and 1000 to 1099 run after the close request.
bool IsSecondGroupCommand(std::int32_t command);

}  // namespace korvel
