// Saving the project's sounds as a palette: the groups made from layers and
// pinned files, the names proposed from recipes and file words, and the save
// through the real palette making and analysis.
#include "ui/panels/save_palette_mode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/frame/icon_glyphs.h"
#include "app/ui_layout.h"
#include "library_fixture.h"
#include "panels_fixture.h"
#include "project/fixed_text.h"
#include "ui/panels/save_group_vocabulary.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using test::LibraryTabTest;

LayerResult Layer(std::int32_t event, const std::string& path) {
    LayerResult layer;
    layer.eventIdx = event;
    layer.filepath = path;
    return layer;
}

Event Recipe(const char* name) {
    Event event;
    CopyText(event.presetName, name);
    return event;
}

TEST(SaveGroupVocabulary, FixedTableAndLookup) {
    const auto words = SaveGroupVocabulary();
    ASSERT_EQ(words.size(), 212u);
    EXPECT_EQ(words.front(), "ambience");
    EXPECT_EQ(words.back(), "tiny");
    for (std::string_view word : words) EXPECT_TRUE(IsSaveGroupWord(word)) << word;
    // The library's summary words beyond these do not name a group.
    for (const char* other : {"ui", "leather", "wav", "Metal", ""}) EXPECT_FALSE(IsSaveGroupWord(other)) << other;
}

TEST(SaveGroups, OnePerRecipeAndEachFileOnce) {
    Project project;
    project.events = {Recipe("Doors"), Recipe("Doors"), Recipe(""), Recipe("Rain")};
    project.results.push_back(Layer(0, "/s/slam.wav"));
    project.results.push_back(Layer(1, "/s/creak.wav"));
    project.results.push_back(Layer(2, "/s/Whoosh_Metal_01.wav"));
    project.results.push_back(Layer(0, "/s/slam.wav"));  // a second layer of the same file
    // A layer standing in for a missing file brings its alloy sources only.
    LayerResult standIn = Layer(2, "/gone/missing.wav");
    standIn.sourceMissing = true;
    standIn.alloyMid.filepath = "/s/metalHit.wav";
    standIn.alloyEnv.filepath = "/s/slam.wav";  // already in "Doors"
    project.results.push_back(standIn);
    project.results.push_back(Layer(9, "/s/Door Creak (2).wav"));  // no such event
    // Pinned files come after every layer: slam.wav stays where a layer put it.
    project.events[2].usePinnedFile = true;
    CopyText(project.events[2].pinnedFile, "/s/slam.wav");
    project.events[3].pinnedFiles = {"/s/drizzle.wav", "", "/s/creak.wav"};
    CopyText(project.events[0].pinnedFile, "/s/unused pin.wav");  // not in use

    const SaveGroups groups = BuildSaveGroups(project);
    ASSERT_EQ(groups.groupNames.size(), 3u);
    EXPECT_EQ(groups.groupNames[0], "Doors");
    EXPECT_EQ(groups.groupPaths[0], (std::vector<std::string>{"/s/slam.wav", "/s/creak.wav"}));
    // "Unassigned", named from its files: metal 2, then whoosh, hit, door,
    // creak once each, in the order found.
    EXPECT_EQ(groups.groupNames[1], "metal \xC2\xB7 whoosh \xC2\xB7 hit");
    EXPECT_EQ(groups.groupPaths[1],
              (std::vector<std::string>{"/s/Whoosh_Metal_01.wav", "/s/metalHit.wav", "/s/Door Creak (2).wav"}));
    EXPECT_EQ(groups.groupNames[2], "Rain");
    EXPECT_EQ(groups.groupPaths[2], std::vector<std::string>{"/s/drizzle.wav"});
    EXPECT_EQ(groups.groupCounts, (std::vector<std::int32_t>{2, 3, 1}));
    EXPECT_EQ(groups.groupChecked, (std::vector<bool>{true, true, true}));
}

TEST(SaveGroups, UnassignedNameFromFileWords) {
    struct Case {
        const char* name;
        std::vector<std::string> files;
        const char* expected;
    };
    const Case cases[] = {
        {"counted words, most frequent first", {"Whoosh_Metal_01.wav", "metalHit.wav", "Door Creak (2).wav"},
         "metal \xC2\xB7 whoosh \xC2\xB7 hit"},
        {"lower to upper splits, upper to lower does not", {"doorSlam.wav", "DOORslam.wav"}, "door \xC2\xB7 slam"},
        {"every separator", {"rain[heavy]thunder-gust.storm_ice.aif"},
         "rain \xC2\xB7 heavy \xC2\xB7 thunder"},
        {"only the file name, not its folders", {"/lib/Rain Forest/click.wav"}, "click"},
        {"digits, single letters and the extension", {"01_2024 a b.wav", "x-9.wav"}, "Project Sounds"},
        {"no vocabulary word", {"take one.wav", "DOORslam.wav"}, "Project Sounds"},
        {"a comma keeps a word whole", {"boom,blast.wav"}, "Project Sounds"},
        {"counts across files", {"gun a.wav", "fire.wav", "gun b.wav", "ice.wav", "GUN.wav", "fire2.wav"},
         "gun \xC2\xB7 fire \xC2\xB7 ice"},
        {"words longer than 29 letters", {std::string(30, 'a') + " hit.wav"}, "hit"},
    };
    for (const Case& c : cases) EXPECT_EQ(NameFromFileWords(c.files), c.expected) << c.name;
}

TEST(SaveGroups, ProposedName) {
    struct Case {
        const char* name;
        std::vector<std::string> groups;
        std::vector<bool> checked;
        const char* expected;
    };
    const Case cases[] = {
        {"one group", {"Doors"}, {true}, "Doors"},
        {"two groups", {"Doors", "Rain"}, {true, true}, "Doors + Rain"},
        {"three or more", {"Doors", "Rain", "Wind", "Fire"}, {true, true, false, true}, "Doors + 2 more"},
        {"only checked groups", {"Doors", "Rain", "Wind"}, {false, true, true}, "Rain + Wind"},
        {"none checked", {"Doors"}, {false}, ""},
        // A comma would split the name in a palette filter, a slash make it
        // no file name, a control character no readable one.
        {"commas, slashes and controls", {"Rain, heavy", "Fire/Ice\t2"}, {true, true}, "Rain heavy + Fire Ice 2"},
    };
    for (const Case& c : cases) {
        SaveGroups groups;
        groups.groupNames = c.groups;
        groups.groupChecked = c.checked;
        groups.groupPaths.resize(c.groups.size());
        groups.groupCounts.assign(c.groups.size(), 1);
        EXPECT_EQ(ProposedPaletteName(groups), c.expected) << c.name;
    }
}

class SavePaletteTest : public LibraryTabTest {
protected:
    void SetUp() override {
        LibraryTabTest::SetUp();
        SavePaletteMode = SavePaletteModeState{};
        GlobalAppState.projectPath = dir.file("Chase.kvproj");
        LibraryTab.notice[0] = '\0';
    }
    void TearDown() override {
        SavePaletteMode = SavePaletteModeState{};
        GlobalAppState.savePaletteMode = false;
        GlobalAppState.projectPath.clear();
        LibraryTabTest::TearDown();
    }
    std::string Sound(const std::string& name, int frequency) {
        const std::string path = dir.file("snd/" + name);
        fs::create_directories(fs::path(path).parent_path());
        EXPECT_TRUE(test::WriteSoundFile(path, test::MakeSine(frequency, 0.3, 8000), 1, 8000));
        return path;
    }
    static std::string Notice() { return LibraryTab.notice; }
};

TEST_F(SavePaletteTest, SaveMakesThePaletteAndOpensItsRename) {
    struct Case {
        const char* name;
        const char* recipeA;
        const char* recipeB;
        const char* palette;
    };
    // Recipe names holding a comma or a slash used to make a palette that a
    // filter could not choose, or none at all.
    const Case cases[] = {
        {"plain recipes", "Doors", "Rain", "Doors + Rain"},
        {"comma and slash", "Doors, wood", "Rain/Night", "Doors wood + Rain Night"},
        {"separators at the ends", "/Doors,", "Rain\t", "Doors + Rain"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SoundLibrary.palettes.clear();
        CurrentProject = Project{};
        CurrentProject.events = {Recipe(c.recipeA), Recipe(c.recipeB)};
        CurrentProject.results = {Layer(0, Sound("slam.wav", 300)), Layer(1, Sound("drops.wav", 500)),
                                  Layer(1, Sound("patter.wav", 700))};

        RequestSavePaletteMode();
        EXPECT_FALSE(GlobalAppState.savePaletteMode);  // taken by the next frame
        TakeSavePaletteRequest();
        ASSERT_TRUE(GlobalAppState.savePaletteMode);
        EXPECT_EQ(CheckedFileCount(SavePaletteMode.groups), 3);

        EXPECT_EQ(SaveCheckedGroups(), 3);
        ASSERT_EQ(SoundLibrary.palettes.size(), 1u);
        const Palette& made = SoundLibrary.palettes.back();
        EXPECT_EQ(made.name, c.palette);
        EXPECT_TRUE(made.savedPalette);
        EXPECT_EQ(made.files.size(), 3u);
        EXPECT_EQ(made.name.find(','), std::string::npos);
        EXPECT_TRUE(CacheFileExists(c.palette));
        EXPECT_EQ(Notice(), std::string(c.palette) + ": 3 files");
        EXPECT_EQ(GlobalAppState.renamingPaletteIndex, 0);
        EXPECT_STREQ(GlobalAppState.paletteRenameBuffer, c.palette);
        EXPECT_TRUE(GlobalAppState.paletteRenameFocus);
        EXPECT_FALSE(GlobalAppState.savePaletteMode);
        EXPECT_TRUE(SavePaletteMode.groups.groupNames.empty());
    }
}

TEST_F(SavePaletteTest, NothingToSaveOrNothingReadable) {
    // Layers and events naming no file: the mode does not start.
    CurrentProject.events = {Recipe("Doors")};
    LayerResult standIn = Layer(0, "/gone/a.wav");
    standIn.sourceMissing = true;
    CurrentProject.results = {standIn, Layer(0, "")};
    RequestSavePaletteMode();
    TakeSavePaletteRequest();
    EXPECT_FALSE(GlobalAppState.savePaletteMode);
    EXPECT_FALSE(SavePaletteMode.savePaletteRequested);
    EXPECT_EQ(Notice(), "No audio files to save.");

    // Files named but none readable: no palette, and the mode ends.
    CurrentProject.results = {Layer(0, dir.file("vanished.wav")), Layer(0, Sound("not audio.wav", 300))};
    test::WriteBytes(CurrentProject.results[1].filepath, "not a sound file");
    RequestSavePaletteMode();
    TakeSavePaletteRequest();
    ASSERT_TRUE(GlobalAppState.savePaletteMode);
    EXPECT_EQ(SaveCheckedGroups(), 0);
    EXPECT_TRUE(SoundLibrary.palettes.empty());
    EXPECT_EQ(Notice(), "No valid audio files found.");
    EXPECT_FALSE(GlobalAppState.savePaletteMode);
    EXPECT_EQ(GlobalAppState.renamingPaletteIndex, -1);
}

TEST_F(SavePaletteTest, WaitsForTheEditGuard) {
    CurrentProject.events = {Recipe("Doors")};
    CurrentProject.results = {Layer(0, Sound("slam.wav", 300))};
    GlobalAppState.backgroundJob.active.store(true);
    RequestSavePaletteMode();
    TakeSavePaletteRequest();  // a build writes the layers
    EXPECT_FALSE(GlobalAppState.savePaletteMode);
    GlobalAppState.backgroundJob.active.store(false);
    TakeSavePaletteRequest();
    ASSERT_TRUE(GlobalAppState.savePaletteMode);

    GlobalAppState.exportRunning.store(true);  // jobs read the palettes unlocked
    EXPECT_EQ(SaveCheckedGroups(), 0);
    EXPECT_TRUE(GlobalAppState.savePaletteMode);
    GlobalAppState.exportRunning.store(false);
    CancelSavePaletteMode();
    EXPECT_FALSE(GlobalAppState.savePaletteMode);
    EXPECT_TRUE(SavePaletteMode.groups.groupNames.empty());
    EXPECT_TRUE(SoundLibrary.palettes.empty());
}

// The mode drawn in the library tab: the footer button enters it on the next
// frame, unticking every group disables Save.
class SavePaletteFrames : public SavePaletteTest {
protected:
    void SetUp() override {
        SavePaletteTest::SetUp();
        layout_.panelWidth = 420.0f;
        layout_.topAreaHeight = 560.0f;
    }
    std::function<void()> body() {
        return [this] {
            ImGui::SetCursorPos(ImVec2(0.0f, 0.0f));
            DrawLibraryTab(ImGui::GetWindowDrawList(), layout_);
        };
    }
    static ImGuiWindow* Window(const char* name) {
        return test::FindActiveWindow(name);
    }
    // Where the widget answering to `id` in the list takes the mouse.
    bool FindInList(ImGuiID id, ImVec2& at) {
        frames_.Run(body());
        ImGuiWindow* w = Window("##libscroll");
        if (w == nullptr) return false;
        for (float y = w->Pos.y + 1.0f; y < w->Pos.y + std::min(w->Size.y, 160.0f); y += 3.0f)
            for (float x = w->Pos.x + 2.0f; x < w->Pos.x + 60.0f; x += 8.0f) {
                harness_.MoveMouse(x, y);
                frames_.Run(body());
                if (ImGui::GetCurrentContext()->HoveredId == id) {
                    at = ImVec2(x, y);
                    return true;
                }
            }
        return false;
    }
    ImGuiID GroupBox(int group) {
        ImGuiWindow* list = Window("##libscroll");
        const int pushed = 7000 + group;
        return list == nullptr ? 0 : ImHashStr("###group", 0, ImHashData(&pushed, sizeof pushed, list->ID));
    }
    // Points inside the panel's buttons: the footer's "Save Palette", and the
    // mode's Cancel and Save, halves of the content width under the title.
    ImVec2 PanelPoint(float x, float y) {
        ImGuiWindow* panel = Window("##library_panel");
        EXPECT_NE(panel, nullptr);
        return panel == nullptr ? ImVec2(0, 0) : ImVec2(panel->Pos.x + x, panel->Pos.y + y);
    }
    ImVec2 SavePaletteButton() {
        const float footer = ImGui::GetFrameHeight() + 0.6f * ImGui::GetFontSize();
        const std::string add = std::string(icon::kFolderPlus) + " Add Folder";
        const float x = 16.0f + ImGui::CalcTextSize(add.c_str()).x +
                        2.0f * ImGui::GetStyle().FramePadding.x + 0.4f * ImGui::GetFontSize() + 12.0f;
        return PanelPoint(x, layout_.topAreaHeight - footer / 2.0f);
    }
    ImVec2 ModeButton(int index) {
        const float half = (layout_.panelWidth - 32.0f - 6.0f) / 2.0f;
        return PanelPoint(16.0f + static_cast<float>(index) * (half + 6.0f) + half / 2.0f,
                          30.0f + ImGui::GetFrameHeight() / 2.0f);
    }

    test::UiHarness harness_;
    test::PanelFrames frames_{harness_};
    UILayout layout_;
};

TEST_F(SavePaletteFrames, EnterUntickEverythingAndCancel) {
    CurrentProject.events = {Recipe("Doors"), Recipe("Rain")};
    CurrentProject.results = {Layer(0, Sound("slam.wav", 300)), Layer(1, Sound("drops.wav", 500))};
    frames_.Run(body());
    const ImVec2 enter = SavePaletteButton();
    frames_.Click(enter.x, enter.y, body());
    EXPECT_FALSE(GlobalAppState.savePaletteMode);
    frames_.Run(body());
    ASSERT_TRUE(GlobalAppState.savePaletteMode);

    ImVec2 at;
    for (int g = 0; g < 2; ++g) {
        ASSERT_TRUE(FindInList(GroupBox(g), at)) << g;
        frames_.Click(at.x, at.y, body());
    }
    EXPECT_EQ(SavePaletteMode.groups.groupChecked, (std::vector<bool>{false, false}));
    EXPECT_EQ(CheckedFileCount(SavePaletteMode.groups), 0);

    // Save is drawn disabled: pressing it makes nothing.
    const ImVec2 save = ModeButton(1);
    frames_.Click(save.x, save.y, body());
    EXPECT_TRUE(SoundLibrary.palettes.empty());
    EXPECT_TRUE(GlobalAppState.savePaletteMode);

    // Ticked again, it saves.
    ASSERT_TRUE(FindInList(GroupBox(1), at));
    frames_.Click(at.x, at.y, body());
    frames_.Click(save.x, save.y, body());
    ASSERT_EQ(SoundLibrary.palettes.size(), 1u);
    EXPECT_EQ(SoundLibrary.palettes[0].name, "Rain");
    EXPECT_FALSE(GlobalAppState.savePaletteMode);

    GlobalAppState.renamingPaletteIndex = -1;
    frames_.Click(enter.x, enter.y, body());
    frames_.Run(body());
    ASSERT_TRUE(GlobalAppState.savePaletteMode);
    const ImVec2 cancel = ModeButton(0);
    frames_.Click(cancel.x, cancel.y, body());
    EXPECT_FALSE(GlobalAppState.savePaletteMode);
    EXPECT_EQ(SoundLibrary.palettes.size(), 1u);
}

}  // namespace
}  // namespace korvel
