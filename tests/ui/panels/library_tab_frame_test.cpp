// The library tab drawn headless: the rows take clicks where they are drawn,
// the checkbox takes its own, and the scan and queue cards show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/frame/fonts.h"
#include "app/theme.h"
#include "app/ui_layout.h"
#include "library_fixture.h"
#include "panels_fixture.h"
#include "ui/panels/library_tab.h"

namespace korvel {
namespace {

using test::LibraryTabTest;
using test::PanelFrames;
using test::UiHarness;

class LibraryTabFrames : public LibraryTabTest {
protected:
    void SetUp() override {
        LibraryTabTest::SetUp();
        layout_.panelWidth = 420.0f;
        layout_.topAreaHeight = 560.0f;
    }
    std::function<void()> body() {
        return [this] {
            ImGui::SetCursorPos(ImVec2(0.0f, 0.0f));
            DrawLibraryTab(ImGui::GetWindowDrawList(), layout_);
        };
    }
    ImGuiWindow* List() {
        return test::FindActiveWindow("##libscroll");
    }
    // The middle of display row `row`, away from the row's controls.
    ImVec2 RowPoint(int row) {
        ImGuiWindow* list = List();
        EXPECT_NE(list, nullptr);
        if (list == nullptr) return ImVec2(0, 0);
        const float F = ImGui::GetFontSize();
        const float pitch = 2.6f * F + 0.25f * F;
        return ImVec2(list->Pos.x + list->Size.x * 0.5f, list->Pos.y + pitch * static_cast<float>(row) + 1.3f * F);
    }
    void Click(ImVec2 at) { frames_.Click(at.x, at.y, body()); }

    UiHarness harness_;
    PanelFrames frames_{harness_};
    UILayout layout_;
};

TEST_F(LibraryTabFrames, RowClicksSelectInDisplayOrder) {
    for (const char* name : {"rain", "Doors", "Foley"}) AddPalette(name);  // shown Doors, Foley, rain
    frames_.Run(body());
    Click(RowPoint(0));
    EXPECT_EQ(GlobalAppState.librarySelection, (std::set<std::int32_t>{1}));
    harness_.SetShift(true);
    Click(RowPoint(2));
    harness_.SetShift(false);
    EXPECT_EQ(GlobalAppState.librarySelection, (std::set<std::int32_t>{1, 2, 0}));
    EXPECT_EQ(GlobalAppState.librarySelectionAnchor, 1);
    harness_.SetCtrl(true);
    Click(RowPoint(1));
    harness_.SetCtrl(false);
    EXPECT_EQ(GlobalAppState.librarySelection, (std::set<std::int32_t>{1, 0}));
}

TEST_F(LibraryTabFrames, CheckboxChangesEnabledWithoutSelecting) {
    for (const char* name : {"A", "B"}) AddPalette(name);
    frames_.Run(body());
    const ImVec2 row = RowPoint(1);
    ImGuiWindow* list = List();
    ASSERT_NE(list, nullptr);
    const float F = ImGui::GetFontSize();
    Click(ImVec2(list->Pos.x + 0.6f * F + 4.0f, row.y));
    EXPECT_FALSE(SoundLibrary.palettes[1].enabled);
    EXPECT_TRUE(SoundLibrary.palettes[0].enabled);
    EXPECT_TRUE(GlobalAppState.librarySelection.empty());

    GlobalAppState.backgroundJob.active.store(true);  // drawn disabled during a job
    Click(ImVec2(list->Pos.x + 0.6f * F + 4.0f, row.y));
    EXPECT_FALSE(SoundLibrary.palettes[1].enabled);
}

TEST_F(LibraryTabFrames, DroppedFoldersTakenOnlyWhileTheTabDraws) {
    SoundLibrary.scanning.store(true);
    GlobalAppState.dropState.droppedFolderPaths = {"/sounds/Rain/"};
    frames_.Run(body());
    EXPECT_EQ(SoundLibrary.folderQueueNames, std::vector<std::string>{"Rain"});
    EXPECT_TRUE(GlobalAppState.dropState.droppedFolderPaths.empty());
    SoundLibrary.scanning.store(false);
}

// The close button of card `row` (the scan card first, then the queue).
ImVec2 CardCloseButton(ImGuiWindow* list, int row) {
    const float F = ImGui::GetFontSize();
    const float width = list->Size.x - ImGui::GetStyle().ScrollbarSize;
    const float pitch = 2.6f * F + 0.25f * F;
    return ImVec2(list->Pos.x + width - (0.45f * F + 18.0f) + 5.0f, list->Pos.y + pitch * static_cast<float>(row) + 1.3f * F);
}

TEST_F(LibraryTabFrames, QueuedCardRemovedFromBothLists) {
    SoundLibrary.scanning.store(true);
    GlobalAppState.dropState.droppedFolderPaths = {"/sounds/Rain", "/sounds/Wind/", "/sounds/Rain/"};
    frames_.Run(body());
    ASSERT_EQ(SoundLibrary.folderQueueNames, (std::vector<std::string>{"Rain", "Wind"}));
    ImGuiWindow* list = List();
    ASSERT_NE(list, nullptr);
    const ImVec2 rain = CardCloseButton(list, 1);
    Click(rain);
    EXPECT_EQ(SoundLibrary.folderQueueNames, std::vector<std::string>{"Wind"});
    ASSERT_EQ(SoundLibrary.folderQueue.size(), 1u);
    EXPECT_EQ(SoundLibrary.folderQueue[0].path, "/sounds/Wind");
    EXPECT_TRUE(SoundLibrary.scanning.load());

    Click(CardCloseButton(list, 0));  // the scan card's cancel
    EXPECT_FALSE(SoundLibrary.scanning.load());
}

TEST_F(LibraryTabFrames, AddFolderPicksOnTheNextFrame) {
    const std::string folder = SoundFolder("Picked", 1);
    int asked = 0;
    GlobalAppState.platformHooks.pickFolder = [&] {
        ++asked;
        return folder;
    };
    LibraryTab.addFolderRequested = true;
    frames_.Run(body());
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(LibraryTab.addFolderRequested);
    if (SoundLibrary.scanThread.joinable()) SoundLibrary.scanThread.join();
    UpdateLibrary(SoundLibrary, 0.0);
    ASSERT_EQ(SoundLibrary.palettes.size(), 1u);
    EXPECT_EQ(SoundLibrary.palettes[0].folder, folder);

    GlobalAppState.platformHooks.pickFolder = [&] { return std::string(); };  // cancelled
    LibraryTab.addFolderRequested = true;
    frames_.Run(body());
    EXPECT_FALSE(SoundLibrary.scanning.load());
}

// The row's context button becomes the active item when pressed; the row
// must still draw it on the release frame, or the menu never opens.
TEST_F(LibraryTabFrames, ContextButtonOpensThePaletteMenu) {
    AddPalette("Doors");
    frames_.Run(body());
    ImGuiWindow* list = List();
    ASSERT_NE(list, nullptr);
    const float F = ImGui::GetFontSize();
    const float width = list->Size.x - ImGui::GetStyle().ScrollbarSize;
    const ImVec2 row = RowPoint(0);
    harness_.MoveMouse(row.x, row.y);  // the button shows while the pointer is over the row
    frames_.Run(body());
    const ImVec2 button(list->Pos.x + width - 0.45f * F - (F + 4.0f) + 4.0f, row.y);
    harness_.MoveMouse(button.x, button.y);
    frames_.Run(body());
    ASSERT_TRUE(ImGui::GetCurrentContext()->OpenPopupStack.empty());
    Click(button);
    frames_.Run(body());
    ImGuiContext& g = *ImGui::GetCurrentContext();
    ASSERT_EQ(g.OpenPopupStack.size(), 1u) << "the release on the button opens the menu";
    ImGuiWindow* popup = g.OpenPopupStack.back().Window;
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->Active) << "and the menu is drawn";
    EXPECT_EQ(popup->ParentWindow, list);
}

// The coverage column's title and band labels, in the tab's real font, fit
// the column at the smallest window and at the default one: nothing runs
// into the list beside it or into the next label.
TEST(LibraryCoverageText, FitsTheColumnAtTheSmallestAndTheDefaultWindow) {
    const std::string folder = std::filesystem::path(KORVEL_EXECUTABLE).parent_path().string();
    if (FindFontFile(folder, "Roboto-Regular").empty()) GTEST_SKIP() << "fonts not installed (scripts/deps.sh)";
    test::UiHarness ui;
    auto app = std::make_unique<AppState>();
    ImGuiIO& io = ImGui::GetIO();
    io.Fonts->Clear();
    LoadFonts(folder, 1.0f, *app);
    unsigned char* pixels = nullptr;
    int w = 0;
    int h = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
    io.Fonts->SetTexID(reinterpret_cast<ImTextureID>(static_cast<intptr_t>(1)));
    ASSERT_NE(app->fonts.smallFont, nullptr);

    struct Case {
        float width, height;
    };
    for (const Case c : {Case{960.0f, 600.0f}, Case{1280.0f, 720.0f}}) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        UILayoutInputs in;
        in.displayWidth = c.width;
        in.displayHeight = c.height;
        const UILayout layout = ComputeUILayout(in);
        ui.BeginFrame();
        ImGui::PushFont(app->fonts.smallFont);
        const auto measure = [](const char* text) { return ImGui::CalcTextSize(text).x; };
        const float content = layout.panelWidth - 32.0f;
        const float column = std::max(80.0f, 0.22f * content);
        const float gap = std::max(1.5f, 0.03f * column);
        const float bar = std::max(4.0f, (column - 4.0f * gap) / 5.0f);
        const float pitch = bar + gap;
        const CoverageTextFit fit = FitCoverageText(column, pitch, measure);
        EXPECT_GE(fit.titleScale, kCoverageMinTextScale);
        EXPECT_GE(fit.labelScale, kCoverageMinTextScale);
        const float titleWidth = fit.titleWrapped ? std::max(measure("SPECTRAL"), measure("COVERAGE"))
                                                  : measure("SPECTRAL COVERAGE");
        EXPECT_LE(titleWidth * fit.titleScale, column + 0.01f);
        const char* const words[] = {"Sub", "Low", "Mid", "High", "Air"};
        const char* const initials[] = {"S", "L", "M", "H", "A"};
        const char* const* labels = fit.labelInitials ? initials : words;
        for (int i = 0; i + 1 < 5; ++i) {
            const float halves = (measure(labels[i]) + measure(labels[i + 1])) / 2.0f * fit.labelScale;
            EXPECT_LT(halves, pitch) << labels[i] << " runs into " << labels[i + 1];
        }
        ImGui::PopFont();
        ui.EndFrame();
    }
    ShellThemeHooks.setDefaultFont = nullptr;
}

}  // namespace
}  // namespace korvel
