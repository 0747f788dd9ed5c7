#pragma once
// The library tab's tests share the one library and application state: a
// cache folder in a temporary folder, palettes made by the test, and
// everything put back afterwards (scans stopped and joined first).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "library/folder_scan.h"
#include "library/library.h"
#include "library/library_cache_file.h"
#include "library/palettes.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/project.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"
#include "ui/panels/library_tab.h"

namespace korvel::test {

class LibraryTabTest : public ::testing::Test {
protected:
    void SetUp() override {
        StopScan();
        std::filesystem::create_directories(dir.file("cache"));
        Library& lib = SoundLibrary;
        lib.palettes.clear();
        lib.folderQueue.clear();
        lib.folderQueueNames.clear();
        lib.scanFolder = {};
        lib.cacheFolder = dir.file("cache");
        AppState& s = GlobalAppState;
        s.librarySelection.clear();
        s.librarySelectionAnchor = -1;
        s.renamingPaletteIndex = -1;
        s.paletteRenameFocus = false;
        s.paletteRenameBuffer[0] = '\0';
        s.unsavedChanges = false;
        s.pendingRenderMode = 0;
        s.savePaletteMode = false;
        s.dropState = DropState{};
        s.backgroundJob.active.store(false);
        s.platformHooks = PlatformHooks{};
        CurrentProject.events.clear();
        CurrentProject.results.clear();
        savedRecipes = RecipeList;
        RecipeList.clear();
        LibraryTab = LibraryTabState{};
    }
    void TearDown() override {
        StopScan();
        SoundLibrary.palettes.clear();
        SoundLibrary.folderQueue.clear();
        SoundLibrary.folderQueueNames.clear();
        SoundLibrary.cacheFolder.clear();
        GlobalAppState.backgroundJob.active.store(false);
        GlobalAppState.platformHooks = PlatformHooks{};
        RecipeList = savedRecipes;
        LibraryTab = LibraryTabState{};
    }
    static void StopScan() {
        SoundLibrary.scanning.store(false);
        if (SoundLibrary.scanThread.joinable()) SoundLibrary.scanThread.join();
        SoundLibrary.idHashing.store(false);
        if (SoundLibrary.idHashThread.joinable()) SoundLibrary.idHashThread.join();
    }

    // A folder of `count` tiny mono WAVs.
    std::string SoundFolder(const std::string& name, int count) {
        const std::string folder = dir.file(name);
        std::filesystem::create_directories(folder);
        for (int i = 0; i < count; ++i)
            EXPECT_TRUE(WriteSoundFile(folder + "/tone" + std::to_string(i) + ".wav", MakeSine(440.0 + 100.0 * i, 0.3, 8000),
                                       1, 8000));
        return folder;
    }

    // A palette held in memory and in its cache file.
    Palette& AddPalette(const std::string& name, int files = 1, const std::string& folder = {}) {
        Palette p;
        p.name = name;
        p.folder = folder.empty() ? dir.file("src/" + name) : folder;
        for (int i = 0; i < files; ++i) {
            LibraryFile f;
            f.name = std::string(1, 'f') + std::to_string(i);
            f.path = p.folder + "/" + f.name + ".wav";
            f.channels = 1;
            f.sampleRate = 48000.0f;
            f.duration = 1.0f;
            f.bandEnergies = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
            p.files.push_back(f);
        }
        SoundLibrary.palettes.push_back(p);
        Palette& added = SoundLibrary.palettes.back();
        EXPECT_TRUE(WritePaletteFile(added, PaletteCachePath(SoundLibrary, name)));
        return added;
    }
    bool CacheFileExists(const std::string& name) const {
        return std::filesystem::is_regular_file(PaletteCachePath(SoundLibrary, name));
    }

    TempDir dir;
    std::vector<EventPreset> savedRecipes;
};

}  // namespace korvel::test
