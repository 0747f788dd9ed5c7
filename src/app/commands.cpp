#include "app/commands.h"

#include <algorithm>
#include <atomic>

#include "picture/trace_analysis.h"
#include "presets/chains.h"
#include "presets/preferences.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/project.h"

// [SECTION] Keys and the command table
// [SECTION] The menu's model
// [SECTION] Taking a command

namespace korvel {

// [SECTION] Keys and the command table

const std::vector<CommandAccelerator> CommandAccelerators = {
    {LetterKey('n'), true, false, CmdNewProject},   {LetterKey('o'), true, false, CmdOpenProject},
    {LetterKey('s'), true, true, CmdSaveAs},        {LetterKey('e'), true, true, CmdExport},
    {LetterKey('w'), true, false, CmdCloseProject}, {LetterKey('1'), true, true, CmdProjectLauncher},
    {KeyComma, true, false, CmdSettings},           {KeyEquals, true, false, CmdZoomIn},
    {KeyMinus, true, false, CmdZoomOut},            {LetterKey('0'), true, false, CmdZoomToFit},
    {KeyF1, false, false, CmdUserGuide},
};

std::int32_t AcceleratorCommandFor(std::int32_t key, bool ctrl, bool shift, bool alt) {
    if (alt) return 0;
    for (const CommandAccelerator& a : CommandAccelerators) {
        if (a.key == key && a.ctrl == ctrl && a.shift == shift) return a.command;
    }
    return 0;
}

namespace {

constexpr std::int32_t L(char c) { return LetterKey(c); }

// The tab keys shared by both modes with Ctrl.
const CommandKeyRule kTabRules[] = {
    {L('1'), 0, false, CmdShowEvents},  {L('2'), 0, false, CmdShowTrace},   {L('3'), 0, false, CmdShowMixer},
    {L('4'), 0, false, CmdShowLibrary}, {L('5'), 0, false, CmdShowExport}, {L('6'), 0, false, CmdShowSettings},
};

std::vector<CommandKeyRule> WithTabs(std::vector<CommandKeyRule> rules) {
    rules.insert(rules.end(), std::begin(kTabRules), std::end(kTabRules));
    return rules;
}

}  // namespace

const CommandKeyTable CommandKeys = {
    WithTabs({
        {L('z'), 1, false, CmdRedo},
        {L('z'), 0, false, CmdUndo},
        {L('x'), 0, false, CmdCut},
        {L('c'), 0, false, CmdCopy},
        {L('v'), 0, false, CmdPaste},
        {L('o'), 0, false, CmdOpenProject},
        {L('n'), 0, false, CmdNewProject},
        {L('w'), 0, false, CmdCloseProject},
        {L('s'), 0, false, CmdSave},
        {L('a'), 0, false, CmdSelectAll},
        {L('g'), 1, false, CmdUngroup},
        {L('g'), 0, false, CmdGroup},
        {L('l'), 0, false, CmdLockToggle},
    }),
    {
        {KeySpace, 0, false, CmdPlayPause},
        {KeyEscape, 0, false, CmdEscape},
        {L('d'), 0, false, CmdDrawMode},
        {L('t'), 0, false, CmdZoomIn},
        {L('r'), 0, false, CmdZoomOut},
        {L('a'), 0, false, CmdAudioFocus},
        {L('s'), 0, false, CmdSaveScene},
        {L('e'), 0, false, CmdToggleEventLanes},
        {KeyUp, 0, true, CmdSelectPrevious},
        {KeyDown, 0, true, CmdSelectNext},
        {L('m'), 0, false, CmdMuteToggle},
        {L('b'), 0, false, CmdRender},
        {L('i'), 0, false, CmdSetInPoint},
        {L('o'), 0, false, CmdSetOutPoint},
        {L('x'), -1, false, CmdClearWorkArea},
        {L('1'), 0, false, CmdCreateSpot},
        {L('2'), 0, false, CmdCreateBloom},
        {L('3'), 0, false, CmdCreateContour},
        {L('4'), 0, false, CmdCreateFill},
        {KeyBackspace, 0, false, CmdDelete},
        {KeyDelete, 0, false, CmdDelete},
    },
    WithTabs({
        {L('z'), 1, false, CmdRedo},
        {L('z'), 0, false, CmdUndo},
        {L('s'), 0, false, CmdSave},
        {L('a'), 0, false, CmdTraceSelectAll},
        {L('o'), 0, false, CmdOpenProject},
        {L('n'), 0, false, CmdNewProject},
        {L('w'), 0, false, CmdCloseProject},
    }),
    {
        {KeySpace, 0, false, CmdPlayPause},
        {KeyEscape, 0, false, CmdEscape},
        {L('t'), 0, false, CmdZoomIn},
        {L('r'), 0, false, CmdZoomOut},
        {L('b'), 0, false, CmdRender},
        {KeyMinus, 0, false, CmdTraceReject},
        {KeyEquals, 0, false, CmdTraceAccept},
        {KeySemicolon, 0, false, CmdTraceImport},
    },
    {
        {KeyPeriod, 0, true, CmdStepForward},
        {KeyComma, 0, true, CmdStepBack},
    },
};

std::int32_t DecodeCommandKeys(bool traceReview, bool ctrl, bool shift, const KeyPressedFn& pressed) {
    const auto matches = [&](const CommandKeyRule& rule) {
        if (rule.shift > 0 && !shift) return false;
        if (rule.shift < 0 && shift) return false;
        return pressed(rule.key, rule.repeats);
    };
    const std::vector<CommandKeyRule>& rules = traceReview ? (ctrl ? CommandKeys.traceCtrl : CommandKeys.tracePlain)
                                                           : (ctrl ? CommandKeys.normalCtrl : CommandKeys.normalPlain);
    std::int32_t command = 0;
    for (const CommandKeyRule& rule : rules) {
        if (matches(rule)) {
            command = rule.command;
            break;
        }
    }
    // The step keys belong to the rules without Ctrl, where they win over
    // anything found above.
    if (ctrl) return command;
    for (const CommandKeyRule& rule : CommandKeys.overrides) {
        if (matches(rule)) return rule.command;
    }
    return command;
}

bool IsTraceReviewMode(const AppState& state) {
    return state.activeTab == 1 && (TraceReadValid(state) || !state.markerEvents.empty());
}

bool CommandPassesDuringJob(std::int32_t command) {
    switch (command) {
        case CmdPlayPause:
        case CmdEscape:
        case CmdDrawMode:
        case CmdZoomIn:
        case CmdZoomOut:
        case CmdAudioFocus:
        case CmdToggleEventLanes:
        case CmdSettings:
        case CmdAbout:
        case CmdUserGuide:
        case CmdProjectLauncher:
        case CmdZoomToFit:
        case CmdShowEvents:
        case CmdShowTrace:
        case CmdShowLibrary:
        case CmdShowMixer:
        case CmdShowExport:
        case CmdShowSettings:
            return true;
        default:
            return false;
    }
}

// [SECTION] The menu's model

namespace {

struct MenuSpec {
    const char* label;  // nullptr: separator
    std::int32_t command;
    std::int32_t submenu = -1;
};

const std::vector<MenuSpec> kRootSpec = {
    {"&File", 0, MenuFile}, {"&Edit", 0, MenuEdit}, {"&Composition", 0, MenuComposition},
    {"&View", 0, MenuView}, {"&Help", 0, MenuHelp},
};

const std::vector<MenuSpec> kFileSpec = {
    {"&New\tCtrl+N", CmdNewProject},
    {"&Open...\tCtrl+O", CmdOpenProject},
    {"Open &Recent", 0, MenuRecent},
    {"Project &Launcher...\tCtrl+Shift+1", CmdProjectLauncher},
    {nullptr, 0},
    {"Import &Video...", CmdImportVideo},
    {"Import &Markers...", CmdImportMarkers},
    {nullptr, 0},
    {"&Save\tCtrl+S", CmdSave},
    {"Save &As...\tCtrl+Shift+S", CmdSaveAs},
    {nullptr, 0},
    {"&Export...\tCtrl+Shift+E", CmdExport},
    {nullptr, 0},
    {"&Close\tCtrl+W", CmdCloseProject},
    {nullptr, 0},
    {"Se&ttings...\tCtrl+,", CmdSettings},
    {nullptr, 0},
    {"E&xit\tAlt+F4", CmdExit},
};

const std::vector<MenuSpec> kEditSpec = {
    {"&Undo\tCtrl+Z", CmdUndo},
    {"&Redo\tCtrl+Shift+Z", CmdRedo},
    {nullptr, 0},
    {"Cu&t\tCtrl+X", CmdCut},
    {"&Copy\tCtrl+C", CmdCopy},
    {"&Paste\tCtrl+V", CmdPaste},
    {"&Delete\tDel", CmdDelete},
    {nullptr, 0},
    {"Select &All\tCtrl+A", CmdSelectAll},
    {nullptr, 0},
    {"&Group\tCtrl+G", CmdGroup},
    {"U&ngroup\tCtrl+Shift+G", CmdUngroup},
    {"&Lock / Unlock\tCtrl+L", CmdLockToggle},
};

const std::vector<MenuSpec> kCompositionSpec = {
    {"&Render", CmdRender},
    {nullptr, 0},
    {"Create &Spot", CmdCreateSpot},
    {"Create &Bloom", CmdCreateBloom},
    {"Create &Contour", CmdCreateContour},
    {"Create &Fill", CmdCreateFill},
    {nullptr, 0},
    {"Place C&lip...", CmdPlaceClip},
    {"Place B&ed", CmdPlaceBed},
    {"Place Recipe", 0, MenuRecipes},
    {"Place Chain", 0, MenuChains},
    {nullptr, 0},
    {"Set &In Point", CmdSetInPoint},
    {"Set &Out Point", CmdSetOutPoint},
    {"Clear &Work Area", CmdClearWorkArea},
    {"Save Scene\tCtrl+B", CmdSaveScene},
    {nullptr, 0},
    {"&Draw Mode", CmdDrawMode},
    {"&Mute / Unmute", CmdMuteToggle},
    {"Bou&nce Selection to Clip", CmdBounceToClip},
};

const std::vector<MenuSpec> kViewSpec = {
    {"Zoom &In\tCtrl+=", CmdZoomIn},
    {"Zoom &Out\tCtrl+-", CmdZoomOut},
    {"Zoom to &Fit\tCtrl+0", CmdZoomToFit},
    {nullptr, 0},
    {"&Events", CmdShowEvents},
    {"&Trace", CmdShowTrace},
    {"&Mixer", CmdShowMixer},
    {"&Library", CmdShowLibrary},
    {"E&xport", CmdExport},
    {"&Settings", CmdSettings},
};

const std::vector<MenuSpec> kHelpSpec = {
    {"&User Guide\tF1", CmdUserGuide},
    {nullptr, 0},
    {"&About Korvel", CmdAbout},
};

std::vector<MenuEntry> FromSpec(const std::vector<MenuSpec>& spec) {
    std::vector<MenuEntry> entries;
    for (const MenuSpec& s : spec) {
        MenuEntry entry;
        if (s.label == nullptr) {
            entry.kind = MenuEntryKind::Separator;
        } else {
            const MenuLabel label = SplitMenuLabel(s.label);
            entry.kind = s.submenu >= 0 ? MenuEntryKind::Submenu : MenuEntryKind::Command;
            entry.label = label.text;
            entry.shortcut = label.shortcut;
            entry.command = s.command;
            entry.submenu = s.submenu;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

template <typename Item>
std::vector<MenuEntry> PresetEntries(const std::vector<Item>& items, std::int32_t base, const char* placeholder) {
    std::vector<MenuEntry> entries;
    const std::size_t count = std::min(items.size(), static_cast<std::size_t>(kPresetMenuLimit));
    for (std::size_t i = 0; i < count; ++i) {
        MenuEntry entry;
        entry.label = items[i].name;
        entry.command = base + static_cast<std::int32_t>(i);
        entries.push_back(std::move(entry));
    }
    if (items.empty()) entries.push_back({MenuEntryKind::Placeholder, placeholder, {}, 0, -1});
    return entries;
}

}  // namespace

MenuLabel SplitMenuLabel(std::string_view label) {
    MenuLabel out;
    const std::size_t tab = label.find('\t');
    for (char c : label.substr(0, tab)) {
        if (c != '&') out.text += c;
    }
    if (tab != std::string_view::npos) out.shortcut = std::string(label.substr(tab + 1));
    return out;
}

std::string RecentMenuLabel(std::string_view path) {
    // On Linux ':' is part of a file name, so the name is not cut there.
    const std::size_t slash = path.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name == "." || name == "..") return std::string(name);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
    return std::string(name);
}

std::vector<MenuEntry> MenuEntries(std::int32_t menu, const AppState& state) {
    switch (menu) {
        case MenuRoot:
            return FromSpec(kRootSpec);
        case MenuFile:
            return FromSpec(kFileSpec);
        case MenuEdit:
            return FromSpec(kEditSpec);
        case MenuComposition:
            return FromSpec(kCompositionSpec);
        case MenuView:
            return FromSpec(kViewSpec);
        case MenuHelp:
            return FromSpec(kHelpSpec);
        case MenuRecent: {
            std::vector<MenuEntry> entries;
            const std::size_t count = std::min(state.recentProjects.size(), static_cast<std::size_t>(kRecentMenuLimit));
            for (std::size_t i = 0; i < count; ++i) {
                // An empty label adds nothing, but its identifier stays used
                // up so identifiers keep matching list positions.
                std::string label = RecentMenuLabel(state.recentProjects[i]);
                if (label.empty()) continue;
                entries.push_back({MenuEntryKind::Command, std::move(label), {}, CmdOpenRecent + std::int32_t(i), -1});
            }
            if (!state.recentProjects.empty()) {
                entries.push_back({MenuEntryKind::Separator, {}, {}, 0, -1});
                entries.push_back({MenuEntryKind::Command, "Clear Menu", {}, CmdClearRecent, -1});
            }
            return entries;
        }
        case MenuRecipes:
            return PresetEntries(RecipeList, CmdPlaceRecipe, "No Recipes Saved");
        case MenuChains:
            return PresetEntries(ChainList, CmdPlaceChain, "No Chains Saved");
        default:
            return {};
    }
}

void HandleMenuChoice(std::int32_t command, AppState& state) {
    if (command == 0) return;
    if (command == CmdExit) {
        state.CloseRequested = true;
        return;
    }
    if (command == CmdClearRecent) {
        state.recentProjects.clear();
        SavePrefs();
        return;
    }
    state.PendingMenuCommand.store(command);
}

// [SECTION] Taking a command

std::int32_t TakeMenuCommand(AppState& state, std::int32_t keyCommand) {
    const std::int32_t mailbox = state.PendingMenuCommand.exchange(0);
    const std::int32_t command = keyCommand != 0 ? keyCommand : mailbox;
    // The export reads the project as a job does.
    const bool busy = state.backgroundJob.active.load() || state.exportRunning.load(std::memory_order_acquire);
    if (busy && !CommandPassesDuringJob(command)) return 0;
    return command;
}

bool IsSecondGroupCommand(std::int32_t command) {
    return (command >= CmdNewProject && command <= CmdShowSettings) ||
           (command >= CmdOpenRecent && command < CmdOpenRecent + 100);
}

}  // namespace korvel
