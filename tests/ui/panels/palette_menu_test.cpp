#include "ui/panels/palette_menu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "engine/render_job.h"
#include "library/channel_layout.h"
#include "library_fixture.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using test::LibraryTabTest;

void SetFilter(char (&filter)[512], const char* text) { std::snprintf(filter, sizeof filter, "%s", text); }

TEST_F(LibraryTabTest, RenameCommits) {
    struct Case {
        const char* name;
        const char* text;
        bool blockNewFile;  // a folder where the new cache file would go
        bool renamed;
        bool notice;
    };
    const Case cases[] = {
        {"unchanged", "Foley", false, false, false},
        {"empty", "", false, false, false},
        {"another palette's name", "Doors", false, false, true},
        {"slash", "Fo/ley", false, false, true},
        {"comma", "Fo,ley", false, false, true},
        {"cache file cannot be written", "Storm", true, false, true},
        {"renamed", "Storm", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SoundLibrary.palettes.clear();
        fs::remove_all(dir.file("cache"));
        fs::create_directories(dir.file("cache"));
        AddPalette("Foley");
        AddPalette("Doors");
        if (c.blockNewFile) fs::create_directories(PaletteCachePath(SoundLibrary, c.text));
        CurrentProject.events.assign(2, Event{});
        SetFilter(CurrentProject.events[0].libFilter, "Doors,Foley");
        SetFilter(CurrentProject.events[1].libFilter, "Doors");
        RecipeList.assign(1, EventPreset{});
        SetFilter(RecipeList[0].libFilter, "Foley");
        GlobalAppState.unsavedChanges = false;
        LibraryTab.notice[0] = '\0';

        BeginPaletteRename(GlobalAppState, SoundLibrary, 0);
        EXPECT_STREQ(GlobalAppState.paletteRenameBuffer, "Foley");
        std::snprintf(GlobalAppState.paletteRenameBuffer, sizeof GlobalAppState.paletteRenameBuffer, "%s", c.text);
        EXPECT_EQ(CommitPaletteRename(GlobalAppState, SoundLibrary, CurrentProject), c.renamed);
        EXPECT_EQ(GlobalAppState.renamingPaletteIndex, -1);  // every commit ends the edit
        EXPECT_EQ(LibraryTab.notice[0] != '\0', c.notice);
        EXPECT_TRUE(CacheFileExists("Doors"));
        const Palette& p = SoundLibrary.palettes[0];
        if (c.renamed) {
            EXPECT_EQ(p.name, c.text);
            EXPECT_EQ(p.previousNames, std::vector<std::string>{"Foley"});
            EXPECT_TRUE(CacheFileExists(c.text));
            EXPECT_FALSE(CacheFileExists("Foley"));
            EXPECT_STREQ(CurrentProject.events[0].libFilter, "Doors,Storm");
            EXPECT_STREQ(CurrentProject.events[1].libFilter, "Doors");
            EXPECT_STREQ(RecipeList[0].libFilter, "Storm");
            EXPECT_TRUE(GlobalAppState.unsavedChanges);
        } else {
            EXPECT_EQ(p.name, "Foley");
            EXPECT_TRUE(p.previousNames.empty());
            EXPECT_TRUE(CacheFileExists("Foley"));
            EXPECT_STREQ(CurrentProject.events[0].libFilter, "Doors,Foley");
            EXPECT_STREQ(RecipeList[0].libFilter, "Foley");
            EXPECT_FALSE(GlobalAppState.unsavedChanges);
        }
    }
}

TEST_F(LibraryTabTest, RenameRefusedDuringAJobAndLongNamesCutWhole) {
    AddPalette("Foley");
    BeginPaletteRename(GlobalAppState, SoundLibrary, 0);
    std::snprintf(GlobalAppState.paletteRenameBuffer, sizeof GlobalAppState.paletteRenameBuffer, "Storm");
    GlobalAppState.backgroundJob.active.store(true);
    EXPECT_FALSE(CommitPaletteRename(GlobalAppState, SoundLibrary, CurrentProject));
    EXPECT_EQ(SoundLibrary.palettes[0].name, "Foley");
    GlobalAppState.backgroundJob.active.store(false);

    // 70 two-byte letters: 127 bytes would split the 64th.
    std::string longName;
    for (int i = 0; i < 70; ++i) longName += "\xC3\xA9";
    SoundLibrary.palettes[0].name = longName;
    BeginPaletteRename(GlobalAppState, SoundLibrary, 0);
    EXPECT_EQ(std::strlen(GlobalAppState.paletteRenameBuffer), 126u);
    EXPECT_TRUE(GlobalAppState.paletteRenameFocus);
}

TEST_F(LibraryTabTest, RemovalArmsDisarmsAndRenumbers) {
    for (const char* name : {"A", "B", "C", "D"}) AddPalette(name);
    AppState& s = GlobalAppState;
    LibraryTabState& tab = LibraryTab;

    tab.pendingRemoveIndex = 1;
    tab.anyMenuOpen = true;
    SettlePaletteRemoval(s, SoundLibrary, tab);
    EXPECT_EQ(tab.pendingRemoveIndex, 1);  // armed while its menu shows
    tab.anyMenuOpen = false;
    SettlePaletteRemoval(s, SoundLibrary, tab);
    EXPECT_EQ(tab.pendingRemoveIndex, -1);  // the menu closed: "Remove" again
    EXPECT_EQ(SoundLibrary.palettes.size(), 4u);

    s.librarySelection = {0, 1, 3};
    s.librarySelectionAnchor = 3;
    s.renamingPaletteIndex = 2;
    tab.markedRemoveIndex = 1;
    s.backgroundJob.active.store(true);
    SettlePaletteRemoval(s, SoundLibrary, tab);
    EXPECT_EQ(SoundLibrary.palettes.size(), 4u);  // refused: nothing moves
    EXPECT_EQ(s.librarySelection, (std::set<std::int32_t>{0, 1, 3}));
    EXPECT_EQ(s.librarySelectionAnchor, 3);
    EXPECT_EQ(s.renamingPaletteIndex, 2);
    EXPECT_TRUE(CacheFileExists("B"));
    s.backgroundJob.active.store(false);

    tab.markedRemoveIndex = 1;
    SettlePaletteRemoval(s, SoundLibrary, tab);
    ASSERT_EQ(SoundLibrary.palettes.size(), 3u);
    EXPECT_EQ(SoundLibrary.palettes[1].name, "C");
    EXPECT_FALSE(CacheFileExists("B"));
    EXPECT_EQ(s.librarySelection, (std::set<std::int32_t>{0, 2}));
    EXPECT_EQ(s.librarySelectionAnchor, 2);
    EXPECT_EQ(s.renamingPaletteIndex, 1);  // still on C
    EXPECT_EQ(tab.markedRemoveIndex, -1);

    s.librarySelectionAnchor = 1;
    s.renamingPaletteIndex = 1;
    tab.markedRemoveIndex = 1;
    SettlePaletteRemoval(s, SoundLibrary, tab);
    EXPECT_EQ(s.librarySelectionAnchor, -1);
    EXPECT_EQ(s.renamingPaletteIndex, -1);
}

TEST_F(LibraryTabTest, RescanOfferedOnlyForPresentFolderPalettes) {
    struct Case {
        const char* name;
        bool saved, missing, scanning, offered;
    };
    const Case cases[] = {
        {"folder palette", false, false, false, true},
        {"saved palette", true, false, false, false},
        {"missing folder", false, true, false, false},
        {"scan running", false, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Palette p;
        p.folder = "/sounds/Rain";
        p.savedPalette = c.saved;
        p.folderMissing = c.missing;
        SoundLibrary.scanning.store(c.scanning);
        EXPECT_EQ(PaletteOffersRescan(SoundLibrary, p), c.offered);
        SoundLibrary.scanning.store(false);
    }
}

TEST_F(LibraryTabTest, ChannelLayoutWritesSwapsAndRequestsARebuild) {
    AddPalette("Foley", 2);
    AddPalette("Doors", 1);
    RebuildChannelInterpretationMap(SoundLibrary);
    const std::string path = SoundLibrary.palettes[0].files[1].path;
    AppState& s = GlobalAppState;

    EXPECT_FALSE(SetPaletteChannelLayout(s, SoundLibrary, 0, kInterpretAuto));  // already Auto
    EXPECT_EQ(s.pendingRenderMode, 0);

    ASSERT_TRUE(SetPaletteChannelLayout(s, SoundLibrary, 0, kInterpretDiscrete));
    EXPECT_EQ(GetChannelInterpretation(path), kInterpretDiscrete);
    EXPECT_EQ(GetChannelInterpretation(SoundLibrary.palettes[1].files[0].path), kInterpretAuto);
    EXPECT_EQ(s.pendingRenderMode, kRenderRebuildAll);
    Palette stored;
    ASSERT_TRUE(ReadPaletteFile(PaletteCachePath(SoundLibrary, "Foley"), stored));
    EXPECT_EQ(stored.paletteInterpret, kInterpretDiscrete);

    s.pendingRenderMode = 0;
    EXPECT_FALSE(SetPaletteChannelLayout(s, SoundLibrary, 0, kInterpretDiscrete));
    EXPECT_EQ(s.pendingRenderMode, 0);
    s.backgroundJob.active.store(true);
    EXPECT_FALSE(SetPaletteChannelLayout(s, SoundLibrary, 0, kInterpretAmbisonic));
    EXPECT_EQ(SoundLibrary.palettes[0].paletteInterpret, kInterpretDiscrete);
    RebuildChannelInterpretationMap(Library{});
}

TEST_F(LibraryTabTest, GroupingOffAndOn) {
    Palette& p = AddPalette("Stems", 0);
    for (const char* suffix : {"L", "R"}) {
        LibraryFile f;
        f.path = p.folder + "/take." + suffix + ".wav";
        f.name = std::string("take.") + suffix;
        f.channels = 1;
        f.sampleRate = 48000.0f;
        f.duration = 2.0f;
        p.files.push_back(f);
    }
    GroupMultiMonoFiles(p.files);
    ASSERT_NE(p.files[0].mmGroup, 0u);
    SoundLibrary.fileIndexDirty = false;

    ASSERT_TRUE(TogglePaletteGrouping(GlobalAppState, SoundLibrary, 0));
    EXPECT_TRUE(SoundLibrary.palettes[0].mmDisableGrouping);
    for (const LibraryFile& f : SoundLibrary.palettes[0].files) {
        EXPECT_EQ(f.mmGroup, 0u);
        EXPECT_EQ(f.mmMember, -1);
    }
    EXPECT_TRUE(SoundLibrary.fileIndexDirty);
    Palette stored;
    ASSERT_TRUE(ReadPaletteFile(PaletteCachePath(SoundLibrary, "Stems"), stored));
    EXPECT_TRUE(stored.mmDisableGrouping);

    ASSERT_TRUE(TogglePaletteGrouping(GlobalAppState, SoundLibrary, 0));
    EXPECT_FALSE(SoundLibrary.palettes[0].mmDisableGrouping);
    EXPECT_NE(SoundLibrary.palettes[0].files[0].mmGroup, 0u);
    EXPECT_EQ(SoundLibrary.palettes[0].files[0].mmGroup, SoundLibrary.palettes[0].files[1].mmGroup);
}

TEST_F(LibraryTabTest, RelinkMovesTheProjectsSourcesAlong) {
    const std::string oldFolder = dir.file("old/Rain");
    const std::string newFolder = SoundFolder("new/Rain", 1);
    Palette& p = AddPalette("Rain", 0, oldFolder);
    p.folderMissing = true;
    LayerResult layer;
    layer.filepath = oldFolder + "/tone0.wav";
    layer.alloyMid.filepath = oldFolder + "/tone0.wav";
    layer.alloyEnv.filepath = oldFolder + "/tone0.wav";
    CurrentProject.results = {layer};

    ASSERT_TRUE(RelinkPaletteToFolder(GlobalAppState, SoundLibrary, CurrentProject, 0, newFolder + "/"));
    EXPECT_EQ(SoundLibrary.palettes[0].folder, newFolder);
    EXPECT_FALSE(SoundLibrary.palettes[0].folderMissing);
    EXPECT_EQ(CurrentProject.results[0].filepath, newFolder + "/tone0.wav");
    EXPECT_EQ(CurrentProject.results[0].alloyMid.filepath, newFolder + "/tone0.wav");
    EXPECT_EQ(CurrentProject.results[0].alloyEnv.filepath, oldFolder + "/tone0.wav");  // not remapped
}

}  // namespace
}  // namespace korvel
