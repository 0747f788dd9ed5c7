// Loading and managing palettes, and palette names in events.
#include "library/palettes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "library/library.h"
#include "library/library_cache_file.h"
#include "project/project.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

class Palettes : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(cache());
        library.cacheFolder = cache();
    }

    std::string cache() const { return dir.file("cache"); }
    std::string cacheFile(const std::string& name) const { return cache() + "/" + name + ".kvlib"; }

    // A short tone long enough to be analysed.
    std::string Sound(const std::string& relative) {
        const std::string path = dir.file(relative);
        fs::create_directories(fs::path(path).parent_path());
        EXPECT_TRUE(test::WriteSoundFile(path, test::MakeSine(440.0, 0.1, 48000), 1, 48000));
        return path;
    }

    Palette& AddPalette(const std::string& name, const std::string& folder = {}) {
        Palette p;
        p.name = name;
        p.folder = folder;
        library.palettes.push_back(p);
        return library.palettes.back();
    }

    TempDir dir;
    Library library;
};

TEST_F(Palettes, UniqueNamesCountUpFromTwo) {
    AddPalette("Palette");
    AddPalette("Palette 2");
    AddPalette("Palette 3");
    EXPECT_EQ(MakeUniquePaletteName(library, "Palette"), "Palette 4");
    EXPECT_EQ(MakeUniquePaletteName(library, "Rain"), "Rain");
}

TEST_F(Palettes, NamesThatLeaveTheCacheFolderAreRefused) {
    struct Case {
        const char* name;
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"plain", "Rain Palette", true},
        {"slash", "../escape", false},
        {"nul", std::string("Rain\0Door", 9), false},
        {"empty", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsValidPaletteName(c.text), c.valid);
    }
}

TEST_F(Palettes, CreateTakesEachExistingFileOnce) {
    const std::string a = Sound("Rain/drops.wav");
    const int32_t count = CreatePaletteFromFiles(
        library, {a, a, "", dir.file("Rain/missing.wav")}, dir.file("Rain"), "");
    EXPECT_EQ(count, 1);
    ASSERT_EQ(library.palettes.size(), 1u);
    const Palette& p = library.palettes[0];
    EXPECT_EQ(p.name, "Rain Palette");
    EXPECT_TRUE(p.savedPalette);
    EXPECT_TRUE(p.folder.empty());
    EXPECT_TRUE(p.enabled);
    EXPECT_EQ(p.trackGroup, -1);
    EXPECT_GT(p.scanned, 0);
    EXPECT_FALSE(p.summary.empty());
    EXPECT_TRUE(fs::exists(cacheFile("Rain Palette")));
    EXPECT_TRUE(library.keywordIndex.dirty);
    EXPECT_TRUE(library.fileIndexDirty);
}

TEST_F(Palettes, CreateNamesFromTheFolderOrDefault) {
    struct Case {
        const char* name;
        std::string folder;
        std::string given;
        std::string expected;
    };
    const Case cases[] = {
        {"folder stem", "/sfx/Rain", "", "Rain Palette"},
        {"folder with trailing separator", "/sfx/Rain/", "", "Rain Palette 2"},
        {"no folder", "", "", "Palette"},
        {"given name wins", "/sfx/Rain", "Storm", "Storm"},
    };
    const std::string file = Sound("x.wav");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(CreatePaletteFromFiles(library, {file}, c.folder, c.given), 1);
        EXPECT_EQ(library.palettes.back().name, c.expected);
    }
}

TEST_F(Palettes, CreateRefusesNamesOutsideTheCacheFolder) {
    const std::string file = Sound("x.wav");
    EXPECT_EQ(CreatePaletteFromFiles(library, {file}, "", "../outside"), 0);
    EXPECT_EQ(CreatePaletteFromFiles(library, {file}, "", std::string("A\0B", 3)), 0);
    EXPECT_TRUE(library.palettes.empty());
    EXPECT_FALSE(fs::exists(dir.file("outside.kvlib")));
    EXPECT_FALSE(fs::exists(cacheFile("A")));
}

TEST_F(Palettes, CreateCopiesRecordsAlreadyInTheLibrary) {
    const std::string file = Sound("known.wav");
    LibraryFile known;
    known.path = file;
    known.name = "known";
    known.brightness = 0.123f;  // an analysis would give another value
    known.interpretation = 2;
    known.fileId = "00112233445566ff";
    AddPalette("Old").files.push_back(known);

    ASSERT_EQ(CreatePaletteFromFiles(library, {file}, "", "New"), 1);
    const LibraryFile& copy = library.palettes.back().files[0];
    EXPECT_EQ(copy.brightness, 0.123f);
    EXPECT_EQ(copy.interpretation, 2);
    EXPECT_EQ(copy.fileId, "00112233445566ff");
}

TEST_F(Palettes, CreateWithoutCacheFolderWritesNothing) {
    library.cacheFolder.clear();
    ASSERT_EQ(CreatePaletteFromFiles(library, {Sound("x.wav")}, "", "Loose"), 1);
    EXPECT_TRUE(fs::is_empty(cache()));
}

TEST_F(Palettes, CreateFromNothingUsableMakesNoPalette) {
    ASSERT_TRUE(test::WriteBytes(dir.file("bad.wav"), "not audio"));
    EXPECT_EQ(CreatePaletteFromFiles(library, {}, "", ""), 0);
    EXPECT_EQ(CreatePaletteFromFiles(library, {dir.file("bad.wav"), dir.file("none.wav")}, "", ""), 0);
    EXPECT_TRUE(library.palettes.empty());
}

TEST_F(Palettes, RelinkKeepsFilesFoundUnderTheNewFolder) {
    const std::string oldA = dir.file("Old/a.wav");
    const std::string oldB = dir.file("Old/sub/b.wav");
    Sound("New/a.wav");  // only a.wav moved
    Palette& p = AddPalette("Moved", dir.file("Old") + "/");
    p.folderMissing = true;
    for (const std::string& path : {oldA, oldB, dir.file("Elsewhere/c.wav")}) {
        LibraryFile f;
        f.path = path;
        f.name = fs::path(path).stem().string();
        p.files.push_back(f);
    }

    EXPECT_EQ(RelinkPaletteFolder(library, 0, dir.file("New"), /*busy=*/true), 0);
    EXPECT_EQ(library.palettes[0].files.size(), 3u);
    EXPECT_EQ(RelinkPaletteFolder(library, 5, dir.file("New"), false), 0);

    EXPECT_EQ(RelinkPaletteFolder(library, 0, dir.file("New") + "//", false), 1);
    const Palette& after = library.palettes[0];
    EXPECT_EQ(after.folder, dir.file("New"));
    ASSERT_EQ(after.files.size(), 1u);
    EXPECT_EQ(after.files[0].path, dir.file("New/a.wav"));
    EXPECT_FALSE(after.folderMissing);
    EXPECT_TRUE(fs::exists(cacheFile("Moved")));
}

TEST_F(Palettes, RemoveDeletesTheCacheFileUnlessBusy) {
    AddPalette("A");
    AddPalette("B");
    ASSERT_TRUE(WritePaletteFile(library.palettes[0], cacheFile("A")));
    RemovePalette(library, 0, /*busy=*/true);
    EXPECT_EQ(library.palettes.size(), 2u);
    RemovePalette(library, 0, false);
    ASSERT_EQ(library.palettes.size(), 1u);
    EXPECT_EQ(library.palettes[0].name, "B");
    EXPECT_FALSE(fs::exists(cacheFile("A")));
    RemovePalette(library, 3, false);  // invalid index: nothing
    EXPECT_EQ(library.palettes.size(), 1u);
}

TEST_F(Palettes, RenameMovesTheCacheFileAndRemembersTheOldName) {
    Palette& p = AddPalette("Rain", "/sfx/Rain");
    LibraryFile f;
    f.path = "/sfx/Rain/a.wav";
    p.files.push_back(f);
    ASSERT_TRUE(WritePaletteFile(p, cacheFile("Rain")));

    EXPECT_FALSE(RenamePalette(library, 0, "../Storm"));
    EXPECT_FALSE(RenamePalette(library, 0, std::string("Sto\0rm", 6)));
    EXPECT_EQ(library.palettes[0].name, "Rain");
    EXPECT_TRUE(fs::exists(cacheFile("Rain")));

    ASSERT_TRUE(RenamePalette(library, 0, "Storm"));
    EXPECT_EQ(library.palettes[0].name, "Storm");
    EXPECT_EQ(library.palettes[0].previousNames, std::vector<std::string>{"Rain"});
    EXPECT_FALSE(fs::exists(cacheFile("Rain")));
    Palette back;
    ASSERT_TRUE(ReadPaletteFile(cacheFile("Storm"), back));
    EXPECT_EQ(back.previousNames, std::vector<std::string>{"Rain"});
}

TEST_F(Palettes, InterpretationChangesRewriteEveryPaletteHoldingThePath) {
    LibraryFile f;
    f.path = "/sfx/shared.wav";
    AddPalette("One").files.push_back(f);
    AddPalette("Two").files.push_back(f);
    AddPalette("Three");

    EXPECT_FALSE(SetFileChannelInterpretation(library, "/sfx/shared.wav", 0));
    EXPECT_FALSE(fs::exists(cacheFile("One")));

    library.fileIndexDirty = false;
    EXPECT_TRUE(SetFileChannelInterpretation(library, "/sfx/shared.wav", 2));
    EXPECT_TRUE(library.fileIndexDirty);
    for (const char* name : {"One", "Two"}) {
        SCOPED_TRACE(name);
        Palette back;
        ASSERT_TRUE(ReadPaletteFile(cacheFile(name), back));
        ASSERT_EQ(back.files.size(), 1u);
        EXPECT_EQ(back.files[0].interpretation, 2);
    }
    EXPECT_FALSE(fs::exists(cacheFile("Three")));
}

TEST_F(Palettes, LoadReadsOnlyCacheFiles) {
    Palette p;
    p.folder = "/sfx/Doors";
    LibraryFile f;
    f.path = "/sfx/Doors/slam.wav";
    f.name = "slam";
    f.duration = 1.0f;
    p.files.push_back(f);
    ASSERT_TRUE(WritePaletteFile(p, cacheFile("Doors")));
    ASSERT_TRUE(WritePaletteFile(p, cacheFile("Doors") + ".tmp"));
    ASSERT_TRUE(WritePaletteFile(p, cache() + "/.kvlib"));
    ASSERT_TRUE(test::WriteBytes(cache() + "/notes.txt", "# folder: /x\n"));
    ASSERT_TRUE(test::WriteBytes(cacheFile("Empty"), ""));
    AddPalette("stale");

    LoadPaletteFiles(library);
    ASSERT_EQ(library.palettes.size(), 1u);
    EXPECT_EQ(library.palettes[0].name, "Doors");
    EXPECT_FALSE(library.palettes[0].summary.empty());
    EXPECT_FALSE(library.keywordIndex.dirty);
}

TEST_F(Palettes, NoCacheFolderLoadsNothing) {
    ASSERT_TRUE(WritePaletteFile(AddPalette("X", "/x"), cacheFile("X")));
    library.cacheFolder.clear();
    LoadPaletteFiles(library);
    EXPECT_TRUE(library.palettes.empty());
}

TEST_F(Palettes, InitCreatesTheCacheFolderUnderTheDataHome) {
    const std::string home = dir.file("data");
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    InitLibraryCache(library);
    EXPECT_EQ(library.cacheFolder, home + "/Korvel");
    EXPECT_TRUE(fs::is_directory(library.cacheFolder));
}

// [SECTION] Palette lists

TEST(PaletteLists, RenameRebuildsTheList) {
    struct Case {
        const char* name;
        const char* list;
        int capacity;
        const char* expected;
    };
    const Case cases[] = {
        {"blanks removed", " A , B, C", 512, "A,Z,C"},
        {"trailing comma and blanks add nothing", "B, ", 512, "Z"},
        {"empty element kept between names", "A,,B", 512, "A,,Z"},
        {"leading empty element vanishes", ",B", 512, "Z"},
        {"no match still rebuilt", "A , C", 512, "A,C"},
        {"cut to the capacity", "B,LongName", 6, "Z,Lon"},
        {"empty list untouched", "", 512, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char list[512] = {};
        std::strncpy(list, c.list, sizeof list - 1);
        RenamePaletteInList(list, c.capacity, "B", "Z");
        EXPECT_STREQ(list, c.expected);
    }
}

TEST(PaletteLists, ProjectsFollowRenamedPalettes) {
    Library library;
    Palette z;
    z.name = "Z";
    z.previousNames = {"B"};
    Palette y;
    y.name = "Y";
    y.previousNames = {"A", "C"};
    library.palettes = {z, y};

    Project project;
    project.events.resize(3);
    std::strcpy(project.events[0].libFilter, "B, C");
    std::strcpy(project.events[1].libFilter, " Z , Y ");  // current names: untouched
    std::strcpy(project.events[2].libFilter, "Q,B");      // unknown names stay
    ApplyPaletteRenames(library, project);
    EXPECT_STREQ(project.events[0].libFilter, "Z,Y");
    EXPECT_STREQ(project.events[1].libFilter, " Z , Y ");
    EXPECT_STREQ(project.events[2].libFilter, "Q,Z");
}

}  // namespace
}  // namespace korvel
