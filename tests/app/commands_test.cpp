// The command table: key decoding per mode, accelerators, the menu's model
// with its dynamic submenus, and taking one command a frame from the keys
// or the mailbox under the job filter.
#include "app/commands.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "presets/chains.h"
#include "presets/recipes.h"
#include "project/app_state.h"

namespace korvel {
namespace {

// Keys pressed this frame; `held` ones count only where repeats do.
struct Keys {
    std::set<std::int32_t> pressed;
    std::set<std::int32_t> repeating;
    KeyPressedFn Fn() const {
        return [this](std::int32_t key, bool repeats) {
            return pressed.count(key) != 0 || (repeats && repeating.count(key) != 0);
        };
    }
};

struct KeyCase {
    const char* name;
    bool ctrl, shift;
    std::set<std::int32_t> pressed;
    std::int32_t want;
    std::set<std::int32_t> repeating = {};
};

void RunKeyCases(bool trace, const std::vector<KeyCase>& cases) {
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        Keys keys{c.pressed, c.repeating};
        EXPECT_EQ(DecodeCommandKeys(trace, c.ctrl, c.shift, keys.Fn()), c.want);
    }
}

constexpr std::int32_t K(char c) { return LetterKey(c); }

TEST(CommandKeysTest, NormalMode) {
    RunKeyCases(false, {
        {"Ctrl+Z undoes", true, false, {K('z')}, CmdUndo},
        {"Ctrl+Shift+Z redoes", true, true, {K('z')}, CmdRedo},
        {"Ctrl+Shift+G ungroups", true, true, {K('g')}, CmdUngroup},
        {"Ctrl+G groups", true, false, {K('g')}, CmdGroup},
        {"Ctrl+S saves, S alone saves a scene", true, false, {K('s')}, CmdSave},
        {"S saves a scene", false, false, {K('s')}, CmdSaveScene},
        {"Ctrl+A selects all", true, false, {K('a')}, CmdSelectAll},
        {"A is audio focus", false, false, {K('a')}, CmdAudioFocus},
        {"Ctrl+3 is the mixer, 4 the library", true, false, {K('3')}, CmdShowMixer},
        {"Ctrl+4 is the library", true, false, {K('4')}, CmdShowLibrary},
        {"1 adds a Spot", false, false, {K('1')}, CmdCreateSpot},
        {"4 adds a Fill", false, false, {K('4')}, CmdCreateFill},
        {"O sets the out point", false, false, {K('o')}, CmdSetOutPoint},
        {"Ctrl+O opens", true, false, {K('o')}, CmdOpenProject},
        {"X clears the work area", false, false, {K('x')}, CmdClearWorkArea},
        {"Shift+X does nothing", false, true, {K('x')}, 0},
        {"Backspace deletes", false, false, {KeyBackspace}, CmdDelete},
        {"Delete deletes", false, false, {KeyDelete}, CmdDelete},
        {"B builds", false, false, {K('b')}, CmdRender},
        {"Ctrl+B is no key command", true, false, {K('b')}, 0},
        {"a held Up repeats", false, false, {}, CmdSelectPrevious, {KeyUp}},
        {"a held D does not repeat", false, false, {}, 0, {K('d')}},
        {"Period wins over another key", false, false, {K('m'), KeyPeriod}, CmdStepForward},
        {"Period wins over Comma", false, false, {KeyComma, KeyPeriod}, CmdStepForward},
        {"a held Comma repeats", false, false, {}, CmdStepBack, {KeyComma}},
        {"Ctrl+Period does not step", true, false, {KeyPeriod}, 0},
        {"with Ctrl a held Comma does not win over Z", true, false, {K('z')}, CmdUndo, {KeyComma}},
        {"Trace keys do nothing here", false, false, {KeySemicolon}, 0},
        {"the first rule wins: Space before Escape", false, false, {KeyEscape, KeySpace}, CmdPlayPause},
    });
}

TEST(CommandKeysTest, TraceReviewMode) {
    RunKeyCases(true, {
        {"Ctrl+A selects every suggestion and marker", true, false, {K('a')}, CmdTraceSelectAll},
        {"= accepts", false, false, {KeyEquals}, CmdTraceAccept},
        {"- rejects", false, false, {KeyMinus}, CmdTraceReject},
        {"; imports", false, false, {KeySemicolon}, CmdTraceImport},
        {"1 adds no event", false, false, {K('1')}, 0},
        {"A is no audio focus", false, false, {K('a')}, 0},
        {"Ctrl+C copies nothing", true, false, {K('c')}, 0},
        {"Ctrl+2 shows the trace tab", true, false, {K('2')}, CmdShowTrace},
        {"B still builds", false, false, {K('b')}, CmdRender},
        {"Comma steps back", false, false, {KeyComma}, CmdStepBack},
        {"Ctrl+Comma does not step", true, false, {KeyComma}, 0},
        {"Delete does nothing", false, false, {KeyDelete}, 0},
    });
}

TEST(CommandKeysTest, Accelerators) {
    struct Case {
        const char* name;
        std::int32_t key;
        bool ctrl, shift, alt;
        std::int32_t want;
    };
    const Case cases[] = {
        {"Ctrl+N", K('n'), true, false, false, CmdNewProject},
        {"Ctrl+Shift+N is none", K('n'), true, true, false, 0},
        {"Ctrl+Shift+S", K('s'), true, true, false, CmdSaveAs},
        {"Ctrl+Shift+1", K('1'), true, true, false, CmdProjectLauncher},
        {"Ctrl+,", KeyComma, true, false, false, CmdSettings},
        {"Ctrl+=", KeyEquals, true, false, false, CmdZoomIn},
        {"Ctrl+-", KeyMinus, true, false, false, CmdZoomOut},
        {"Ctrl+0", K('0'), true, false, false, CmdZoomToFit},
        {"F1", KeyF1, false, false, false, CmdUserGuide},
        {"Alt+F1 is none", KeyF1, false, false, true, 0},
        {"Ctrl+S is a key, not an accelerator", K('s'), true, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AcceleratorCommandFor(c.key, c.ctrl, c.shift, c.alt), c.want);
    }
    EXPECT_EQ(CommandAccelerators.size(), 11u);
}

class CommandTakingTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    void Reset() {
        s.PendingMenuCommand.store(0);
        s.backgroundJob.active.store(false);
        s.exportRunning.store(false);
    }
    AppState& s = GlobalAppState;
};

TEST_F(CommandTakingTest, KeysMailboxAndJobFilter) {
    struct Case {
        const char* name;
        std::int32_t mailbox, key;
        bool job, exporting;
        std::int32_t want;
    };
    const Case cases[] = {
        {"the mailbox alone", CmdSave, 0, false, false, CmdSave},
        {"a key command wins over the mailbox", CmdSave, CmdCopy, false, false, CmdCopy},
        {"during a job Ctrl+N is dropped", CmdNewProject, 0, true, false, 0},
        {"during a job Ctrl+, passes", CmdSettings, 0, true, false, CmdSettings},
        {"during a job Ctrl+0 passes", CmdZoomToFit, 0, true, false, CmdZoomToFit},
        {"during a job a tab passes", CmdShowMixer, 0, true, false, CmdShowMixer},
        {"during a job a recipe is dropped", CmdPlaceRecipe + 2, 0, true, false, 0},
        {"an export filters as a job does", CmdPaste, 0, false, true, 0},
        {"an export lets Space through", CmdPlayPause, 0, false, true, CmdPlayPause},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.PendingMenuCommand.store(c.mailbox);
        s.backgroundJob.active.store(c.job);
        s.exportRunning.store(c.exporting);
        EXPECT_EQ(TakeMenuCommand(s, c.key), c.want);
        EXPECT_EQ(s.PendingMenuCommand.load(), 0) << "the mailbox is emptied whatever is taken";
    }
    Reset();
    s.PendingMenuCommand.store(CmdCopy);
    s.PendingMenuCommand.store(CmdPaste);
    EXPECT_EQ(TakeMenuCommand(s, 0), CmdPaste) << "a later post replaces one not yet taken";
    EXPECT_EQ(TakeMenuCommand(s, 0), 0);
}

TEST(CommandGroupsTest, SecondGroupIsFilesTabsAndRecent) {
    for (std::int32_t c : std::initializer_list<std::int32_t>{CmdNewProject, CmdImportMarkers, CmdShowSettings, CmdOpenRecent, CmdOpenRecent + 9})
        EXPECT_TRUE(IsSecondGroupCommand(c)) << c;
    for (std::int32_t c : std::initializer_list<std::int32_t>{CmdPlayPause, CmdTraceImport, CmdPlaceClip, CmdBounceToClip, CmdPlaceRecipe, CmdPlaceChain})
        EXPECT_FALSE(IsSecondGroupCommand(c)) << c;
}

// [SECTION] The menu's model

std::vector<std::string> Labels(const std::vector<MenuEntry>& entries) {
    std::vector<std::string> labels;
    for (const MenuEntry& e : entries) labels.push_back(e.kind == MenuEntryKind::Separator ? "-" : e.label);
    return labels;
}

TEST(CommandMenuTest, StaticMenus) {
    const AppState& s = GlobalAppState;
    EXPECT_EQ(Labels(MenuEntries(MenuRoot, s)),
              (std::vector<std::string>{"File", "Edit", "Composition", "View", "Help"}));
    EXPECT_EQ(Labels(MenuEntries(MenuFile, s)),
              (std::vector<std::string>{"New", "Open...", "Open Recent", "Project Launcher...", "-",
                                        "Import Video...", "Import Markers...", "-", "Save", "Save As...", "-",
                                        "Export...", "-", "Close", "-", "Settings...", "-", "Exit"}));
    EXPECT_EQ(Labels(MenuEntries(MenuEdit, s)),
              (std::vector<std::string>{"Undo", "Redo", "-", "Cut", "Copy", "Paste", "Delete", "-", "Select All",
                                        "-", "Group", "Ungroup", "Lock / Unlock"}));
    EXPECT_EQ(Labels(MenuEntries(MenuView, s)),
              (std::vector<std::string>{"Zoom In", "Zoom Out", "Zoom to Fit", "-", "Events", "Trace", "Mixer",
                                        "Library", "Export", "Settings"}));
    EXPECT_EQ(Labels(MenuEntries(MenuHelp, s)), (std::vector<std::string>{"User Guide", "-", "About Korvel"}));

    struct Case {
        std::int32_t menu;
        const char* label;
        const char* shortcut;
        std::int32_t command;
    };
    const Case cases[] = {
        {MenuComposition, "Save Scene", "Ctrl+B", CmdSaveScene},
        {MenuComposition, "Render", "", CmdRender},
        {MenuComposition, "Bounce Selection to Clip", "", CmdBounceToClip},
        {MenuFile, "Settings...", "Ctrl+,", CmdSettings},
        {MenuFile, "Exit", "Alt+F4", CmdExit},
        {MenuView, "Export", "", CmdExport},
        {MenuView, "Zoom In", "Ctrl+=", CmdZoomIn},
        {MenuEdit, "Delete", "Del", CmdDelete},
        {MenuHelp, "User Guide", "F1", CmdUserGuide},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        bool found = false;
        for (const MenuEntry& e : MenuEntries(c.menu, s)) {
            if (e.label != c.label) continue;
            found = true;
            EXPECT_EQ(e.shortcut, c.shortcut);
            EXPECT_EQ(e.command, c.command);
        }
        EXPECT_TRUE(found);
    }
    const auto composition = MenuEntries(MenuComposition, s);
    std::vector<std::int32_t> submenus;
    for (const MenuEntry& e : composition)
        if (e.kind == MenuEntryKind::Submenu) submenus.push_back(e.submenu);
    EXPECT_EQ(submenus, (std::vector<std::int32_t>{MenuRecipes, MenuChains}));
}

TEST(CommandMenuTest, SplitLabel) {
    const MenuLabel a = SplitMenuLabel("Cu&t\tCtrl+X");
    EXPECT_EQ(a.text, "Cut");
    EXPECT_EQ(a.shortcut, "Ctrl+X");
    const MenuLabel b = SplitMenuLabel("Place B&ed");
    EXPECT_EQ(b.text, "Place Bed");
    EXPECT_EQ(b.shortcut, "");
}

TEST(CommandMenuTest, RecentLabels) {
    struct Case {
        const char* path;
        const char* want;
    };
    const Case cases[] = {
        {"/films/Chase/Chase.kvproj", "Chase"},
        {"/films/a.b.kvproj", "a.b"},
        {"/films/.hidden", ".hidden"},
        {"/films/..", ".."},
        {"/films/.", "."},
        {"/films/noext", "noext"},
        {"/films/Reel 2: Night.kvproj", "Reel 2: Night"},
        {"/films/", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(RecentMenuLabel(c.path), c.want);
    }
}

class DynamicMenuTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = s.recentProjects; savedRecipes_ = RecipeList; savedChains_ = ChainList; }
    void TearDown() override {
        s.recentProjects = saved_;
        RecipeList = savedRecipes_;
        ChainList = savedChains_;
    }
    AppState& s = GlobalAppState;
    std::vector<std::string> saved_;
    std::vector<EventPreset> savedRecipes_;
    std::vector<Chain> savedChains_;
};

TEST_F(DynamicMenuTest, RecentListWithLimitAndClearMenu) {
    s.recentProjects.clear();
    EXPECT_TRUE(MenuEntries(MenuRecent, s).empty()) << "no Clear Menu for an empty list";

    for (int i = 0; i < 12; ++i) s.recentProjects.push_back("/p/P" + std::to_string(i) + ".kvproj");
    s.recentProjects[1] = "/p/";  // no name: no entry, its number kept
    const auto entries = MenuEntries(MenuRecent, s);
    ASSERT_EQ(entries.size(), 9u + 2u);
    EXPECT_EQ(entries[0].command, CmdOpenRecent + 0);
    EXPECT_EQ(entries[1].command, CmdOpenRecent + 2) << "identifiers stay list positions";
    EXPECT_EQ(entries[1].label, "P2");
    EXPECT_EQ(entries[8].command, CmdOpenRecent + 9) << "at most ten";
    EXPECT_EQ(entries[9].kind, MenuEntryKind::Separator);
    EXPECT_EQ(entries[10].label, "Clear Menu");
    EXPECT_EQ(entries[10].command, CmdClearRecent);
}

TEST_F(DynamicMenuTest, PresetListsWithLimitAndPlaceholders) {
    RecipeList.clear();
    ChainList.clear();
    for (std::int32_t menu : {MenuRecipes, MenuChains}) {
        const auto entries = MenuEntries(menu, s);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].kind, MenuEntryKind::Placeholder);
        EXPECT_EQ(entries[0].command, 0);
        EXPECT_EQ(entries[0].label, menu == MenuRecipes ? "No Recipes Saved" : "No Chains Saved");
    }
    RecipeList.resize(35);
    for (std::size_t i = 0; i < RecipeList.size(); ++i)
        std::snprintf(RecipeList[i].name, sizeof(RecipeList[i].name), "R%zu", i);
    ChainList.resize(2);
    std::snprintf(ChainList[1].name, sizeof(ChainList[1].name), "Doors");
    const auto recipes = MenuEntries(MenuRecipes, s);
    ASSERT_EQ(recipes.size(), 30u);
    EXPECT_EQ(recipes[29].label, "R29");
    EXPECT_EQ(recipes[29].command, CmdPlaceRecipe + 29);
    const auto chains = MenuEntries(MenuChains, s);
    ASSERT_EQ(chains.size(), 2u);
    EXPECT_EQ(chains[1].label, "Doors");
    EXPECT_EQ(chains[1].command, CmdPlaceChain + 1);
}

TEST_F(DynamicMenuTest, ChoicesExitClearAndMailbox) {
    s.CloseRequested = false;
    s.PendingMenuCommand.store(0);
    HandleMenuChoice(CmdExit, s);
    EXPECT_TRUE(s.CloseRequested);
    EXPECT_EQ(s.PendingMenuCommand.load(), 0);
    s.CloseRequested = false;

    s.recentProjects = {"/p/A.kvproj"};
    HandleMenuChoice(CmdClearRecent, s);
    EXPECT_TRUE(s.recentProjects.empty());
    EXPECT_EQ(s.PendingMenuCommand.load(), 0);

    HandleMenuChoice(CmdPlaceChain + 1, s);
    EXPECT_EQ(s.PendingMenuCommand.load(), CmdPlaceChain + 1);
    s.PendingMenuCommand.store(0);
}

}  // namespace
}  // namespace korvel
