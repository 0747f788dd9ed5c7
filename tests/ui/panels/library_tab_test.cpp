#include "ui/panels/library_tab.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "library_fixture.h"
#include "ui/panels/palette_menu.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using test::LibraryTabTest;

TEST_F(LibraryTabTest, DisplayOrderAndSelectionRules) {
    for (const char* name : {"rain", "Doors", "door", "Foley"}) AddPalette(name);
    // Lower-cased character by character, a prefix first.
    EXPECT_EQ(LibraryDisplayOrder(SoundLibrary), (std::vector<std::int32_t>{2, 1, 3, 0}));
    EXPECT_FALSE(CompareLibraryNames(1, 1));

    const std::vector<std::int32_t> order = {2, 1, 3, 0};
    struct Case {
        const char* name;
        std::set<std::int32_t> selection;
        std::int32_t anchor;
        std::int32_t click;
        bool shift, toggle;
        std::set<std::int32_t> expected;
        std::int32_t expectedAnchor;
    };
    const Case cases[] = {
        {"plain click", {1, 3}, 1, 0, false, false, {0}, 0},
        {"shift without anchor", {}, -1, 3, true, false, {3}, 3},
        {"shift range keeps the anchor", {1}, 1, 0, true, false, {1, 3, 0}, 1},
        {"shift range backwards", {0}, 0, 2, true, false, {2, 1, 3, 0}, 0},
        {"shift with a stale anchor", {}, 9, 3, true, false, {3}, 3},
        {"toggle adds", {1}, 1, 0, false, true, {1, 0}, 0},
        {"toggle removes", {1, 0}, 1, 1, false, true, {0}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppState& s = GlobalAppState;
        s.librarySelection = c.selection;
        s.librarySelectionAnchor = c.anchor;
        ClickLibraryRow(s, c.click, c.shift, c.toggle, order);
        EXPECT_EQ(s.librarySelection, c.expected);
        EXPECT_EQ(s.librarySelectionAnchor, c.expectedAnchor);
    }
}

TEST(LibraryCounts, Formats) {
    struct Case {
        std::int64_t count;
        const char* text;
    };
    const Case cases[] = {{0, "0 files"},           {999, "999 files"},          {1000, "1,000 files"},
                          {12045, "12,045 files"},  {999999, "999,999 files"},   {1000000, "1,000,000 files"},
                          {1234567, "1,234,567 files"}};
    for (const Case& c : cases) EXPECT_EQ(FormatLibraryFileCount(c.count), c.text);
}

TEST_F(LibraryTabTest, DroppedFoldersQueuedOnceWhileAScanRuns) {
    const std::string known = AddPalette("Foley").folder;
    SoundLibrary.scanning.store(true);  // stands for a running scan
    SoundLibrary.scanFolder.path = "/sounds/Running";
    GlobalAppState.dropState.droppedFolderPaths = {"/sounds/Rain/", "", "/", "/sounds/Rain", known + "/", known,
                                                   "/sounds/Running/", "/sounds/Wind"};
    TakeDroppedFolders(GlobalAppState, SoundLibrary);
    SoundLibrary.scanning.store(false);
    ASSERT_EQ(SoundLibrary.folderQueue.size(), 2u);
    EXPECT_EQ(SoundLibrary.folderQueue[0].path, "/sounds/Rain");
    EXPECT_EQ(SoundLibrary.folderQueueNames, (std::vector<std::string>{"Rain", "Wind"}));
    EXPECT_TRUE(GlobalAppState.dropState.droppedFolderPaths.empty());
}

TEST_F(LibraryTabTest, DroppedFolderScannedWhenIdle) {
    const std::string folder = SoundFolder("Rain", 2);
    GlobalAppState.dropState.droppedFolderPaths = {folder + "/", folder};
    TakeDroppedFolders(GlobalAppState, SoundLibrary);
    // The second drop names the running scan's folder: nothing to queue.
    EXPECT_TRUE(SoundLibrary.folderQueue.empty());
    if (SoundLibrary.scanThread.joinable()) SoundLibrary.scanThread.join();
    UpdateLibrary(SoundLibrary, 0.0);
    ASSERT_EQ(SoundLibrary.palettes.size(), 1u);
    EXPECT_EQ(SoundLibrary.palettes[0].folder, folder);
    EXPECT_EQ(SoundLibrary.palettes[0].files.size(), 2u);
    EXPECT_TRUE(SoundLibrary.palettes[0].enabled);
}

TEST_F(LibraryTabTest, CoverageRecomputedOnlyWhenTheSignatureChanges) {
    AddPalette("Foley", 2);
    AddPalette("Rain", 1);
    AddPalette("Empty", 0);
    SpectralCoverage coverage;
    ASSERT_TRUE(UpdateSpectralCoverage(coverage, SoundLibrary));
    EXPECT_EQ(coverage.palettes, 3);
    EXPECT_EQ(coverage.files, 3);
    EXPECT_FLOAT_EQ(coverage.bands[4], 1.0f);
    EXPECT_FLOAT_EQ(coverage.bands[0], 0.2f);
    EXPECT_EQ(coverage.paletteBands[2], (std::array<float, 5>{}));  // no files, no division

    // A changed analysis alone keeps the cached values; a missing folder too.
    SoundLibrary.palettes[0].files[0].bandEnergies = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    SoundLibrary.palettes[1].folderMissing = true;
    EXPECT_FALSE(UpdateSpectralCoverage(coverage, SoundLibrary));
    EXPECT_FLOAT_EQ(coverage.bands[0], 0.2f);
    EXPECT_EQ(coverage.palettes, 3);

    SoundLibrary.palettes[2].enabled = false;
    EXPECT_TRUE(UpdateSpectralCoverage(coverage, SoundLibrary));
    EXPECT_EQ(coverage.palettes, 1);  // Rain is missing, Empty is off
    EXPECT_EQ(coverage.files, 2);
    EXPECT_FLOAT_EQ(coverage.bands[0], 1.1f / 1.1f);
    EXPECT_FLOAT_EQ(coverage.bands[4], 0.5f / 1.1f);

    for (Palette& p : SoundLibrary.palettes)
        for (LibraryFile& f : p.files) f.bandEnergies = {};
    SoundLibrary.palettes[2].enabled = true;
    ASSERT_TRUE(UpdateSpectralCoverage(coverage, SoundLibrary));
    for (float band : coverage.bands) EXPECT_EQ(band, 0.0f);
    for (float band : coverage.paletteBands[0]) EXPECT_EQ(band, 0.0f);
}

TEST_F(LibraryTabTest, RowCheckboxFollowsTheSelectionAndTheMenuItemDoesNot) {
    for (const char* name : {"A", "B", "C", "D"}) AddPalette(name);
    AppState& s = GlobalAppState;
    s.librarySelection = {0, 1, 2};
    ASSERT_TRUE(SetPaletteEnabledFromRow(s, SoundLibrary, 1, false));
    EXPECT_FALSE(SoundLibrary.palettes[0].enabled);
    EXPECT_FALSE(SoundLibrary.palettes[1].enabled);
    EXPECT_FALSE(SoundLibrary.palettes[2].enabled);
    EXPECT_TRUE(SoundLibrary.palettes[3].enabled);

    ASSERT_TRUE(SetPaletteEnabledFromRow(s, SoundLibrary, 3, false));  // not selected: only itself
    EXPECT_FALSE(SoundLibrary.palettes[3].enabled);
    EXPECT_FALSE(SoundLibrary.palettes[0].enabled);

    ASSERT_TRUE(TogglePaletteInProject(s, SoundLibrary, 0));
    EXPECT_TRUE(SoundLibrary.palettes[0].enabled);
    EXPECT_FALSE(SoundLibrary.palettes[1].enabled);

    s.backgroundJob.active.store(true);  // a build job reads the palettes
    EXPECT_FALSE(SetPaletteEnabledFromRow(s, SoundLibrary, 1, true));
    EXPECT_FALSE(TogglePaletteInProject(s, SoundLibrary, 1));
    EXPECT_FALSE(SoundLibrary.palettes[1].enabled);
}

}  // namespace
}  // namespace korvel
