// Recipes in the inspector headless: applying one keeps the event's time
// and places a Clip at once, Beds are laid out and locked, the batch apply
// asks only non-Clips to build, saving with an empty name writes nothing,
// deleting removes the file, and the panel's own widgets.
#include "ui/timeline/recipe_panel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/render_job.h"
#include "inspector_fixture.h"
#include "presets/recipe_previews.h"
#include "presets/recipes.h"
#include "presets/user_folders.h"
#include "project/fixed_text.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

class RecipePanelTest : public test::InspectorFixture {
protected:
    void SetUp() override {
        const char* documents = std::getenv("XDG_DOCUMENTS_DIR");
        hadDocuments_ = documents != nullptr;
        if (hadDocuments_) savedDocuments_ = documents;
        setenv("XDG_DOCUMENTS_DIR", dir_.path().c_str(), 1);
        savedRecipes_ = RecipeList;
        RecipeList.clear();
        test::InspectorFixture::SetUp();
    }
    void TearDown() override {
        JoinRecipePreviewWorker();
        RecipeList = savedRecipes_;
        if (hadDocuments_) {
            setenv("XDG_DOCUMENTS_DIR", savedDocuments_.c_str(), 1);
        } else {
            unsetenv("XDG_DOCUMENTS_DIR");
        }
        test::InspectorFixture::TearDown();
    }
    // A one-second mono file of 48 kHz.
    std::string SoundFile(const char* name, double seconds) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(test::WriteSoundFile(path, test::MakeSine(440.0, seconds, 48000), 1, 48000));
        return path;
    }
    static EventPreset Recipe(const char* name, EventKind kind, float duration) {
        EventPreset r;
        std::snprintf(r.name, sizeof(r.name), "%s", name);
        r.shape = KindValue(kind);
        r.duration = duration;
        r.syncOffset = 0.25f;
        r.weight.fill(0.4f);
        r.intensity.fill(0.6f);
        return r;
    }
    std::size_t RecipeFiles() const {
        const std::string folder = RecipesFolder();
        std::error_code error;
        if (!std::filesystem::exists(folder, error)) return 0;
        std::size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            if (entry.path().extension() == kRecipeExtension) ++n;
        }
        return n;
    }

    test::TempDir dir_;
    std::vector<EventPreset> savedRecipes_;
    std::string savedDocuments_;
    bool hadDocuments_ = false;
};

// The recipe takes over kind, duration, sync offset and curves; the time
// stays. A Clip with a file is placed at once and takes the file's length;
// one whose file is missing keeps the recipe's duration.
TEST_F(RecipePanelTest, ApplyKeepsTimeAndPlacesAClipAtOnce) {
    struct Case {
        const char* name;
        bool fileExists;
        float duration;
    };
    const Case cases[] = {{"file present", true, 1.5f}, {"file missing", false, 4.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EventPreset clip = Recipe("Door", EventKind::Clip, 4.0f);
        const std::string path = c.fileExists ? SoundFile("door.wav", 1.5) : dir_.file("gone.wav");
        std::snprintf(clip.pinnedFile, sizeof(clip.pinnedFile), "%s", path.c_str());
        RecipeList = {clip};
        p.events = {test::MakeEvent(8, 2, 1, EventKind::Bloom)};  // time 9
        p.results.assign(1, LayerResult{});
        p.results[0].eventIdx = 0;  // the Bloom's old layer
        const std::int32_t oldId = p.results[0].id;

        ASSERT_TRUE(ApplyRecipeToEvent(s, p, 0, 0));
        const Event& e = p.events[0];
        EXPECT_EQ(e.time, 9.0f);
        EXPECT_EQ(e.shape, KindValue(EventKind::Clip));
        EXPECT_EQ(e.syncOffset, 0.25f);
        EXPECT_EQ(e.weight[10], 0.4f);
        EXPECT_STREQ(e.presetName, "Door");
        EXPECT_NEAR(e.duration, c.duration, 1e-3f);
        ASSERT_EQ(p.results.size(), 1u);
        EXPECT_NE(p.results[0].id, oldId) << "placed afresh";
        EXPECT_EQ(p.results[0].eventIdx, 0);
        EXPECT_EQ(s.pendingRenderMode, 0) << "no build for a clip";
        EXPECT_EQ(UndoStack.size(), 1u);
        ClearUndoHistory();
    }
}

TEST_F(RecipePanelTest, ApplyByKindAndRefusals) {
    RecipeList = {Recipe("Rain", EventKind::Bed, 8.0f), Recipe("Hit", EventKind::Spot, 0.5f)};
    p.events = {test::MakeEvent(3, 2, 0, EventKind::Bloom)};
    p.results.assign(1, LayerResult{});
    p.results[0].eventIdx = 0;
    s.audioUpdateRequested.store(false);

    ASSERT_TRUE(ApplyRecipeToEvent(s, p, 0, 1));
    EXPECT_EQ(p.events[0].shape, KindValue(EventKind::Spot));
    EXPECT_EQ(p.results.size(), 1u) << "other kinds keep their layers until the next build";
    EXPECT_FALSE(s.audioUpdateRequested.load());

    ASSERT_TRUE(ApplyRecipeToEvent(s, p, 0, 0));
    EXPECT_TRUE(p.events[0].locked) << "a Bed is always locked";
    EXPECT_EQ(p.events[0].time, 3.0f);
    EXPECT_TRUE(s.audioUpdateRequested.load());
    s.audioUpdateRequested.store(false);

    EXPECT_FALSE(ApplyRecipeToEvent(s, p, 0, 2)) << "no such recipe";
    EXPECT_FALSE(ApplyRecipeToEvent(s, p, 3, 0)) << "no such event";
    s.backgroundJob.active.store(true);
    EXPECT_FALSE(ApplyRecipeToEvent(s, p, 0, 1)) << "a job reads the project";
    EXPECT_EQ(s.statusMessage, kBusyEditStatus);
    EXPECT_EQ(p.events[0].shape, KindValue(EventKind::Bed));
    EXPECT_EQ(UndoStack.size(), 2u);
}

// Clips are placed at once and ask for no build; every other kind is
// listed for one; each keeps its time.
TEST_F(RecipePanelTest, BatchApplyBuildsOnlyNonClips) {
    EventPreset clip = Recipe("Door", EventKind::Clip, 4.0f);
    const std::string path = SoundFile("door.wav", 1.5);
    std::snprintf(clip.pinnedFile, sizeof(clip.pinnedFile), "%s", path.c_str());
    RecipeList = {clip, Recipe("Swell", EventKind::Bloom, 3.0f)};

    p.events = {test::MakeEvent(1, 2, 0, EventKind::Clip), test::MakeEvent(5, 2, 0, EventKind::Clip),
                test::MakeEvent(9, 2, 0, EventKind::Spot)};
    s.selectedEvents = {0, 1, 8};
    s.audioUpdateRequested.store(false);
    ASSERT_TRUE(ApplyRecipeToSelection(s, p, 0));
    EXPECT_FALSE(s.audioUpdateRequested.load()) << "each clip's voice matches its new layer";
    EXPECT_EQ(LivePlaybackEngine.voices.size(), 2u);
    EXPECT_EQ(s.pendingRenderMode, 0) << "only clips: no build";
    EXPECT_EQ(p.events[0].time, 1.0f);
    EXPECT_EQ(p.events[1].time, 5.0f);
    EXPECT_NEAR(p.events[0].duration, 1.5f, 1e-3f);
    EXPECT_NEAR(p.events[1].duration, 1.5f, 1e-3f);
    EXPECT_EQ(p.events[2].shape, KindValue(EventKind::Spot)) << "not selected";
    EXPECT_EQ(p.results.size(), 2u);

    s.selectedEvents = {0, 2};
    ASSERT_TRUE(ApplyRecipeToSelection(s, p, 1));
    EXPECT_EQ(s.pendingRenderMode, kRenderEventList);
    EXPECT_EQ(s.pendingRenderEvents, (std::vector<std::int32_t>{0, 2}));
    EXPECT_EQ(p.events[0].shape, KindValue(EventKind::Bloom));
    EXPECT_FLOAT_EQ(p.events[2].duration, 3.0f);
    EXPECT_EQ(p.events[2].time, 9.0f);
    EXPECT_EQ(UndoStack.size(), 2u);
}

TEST_F(RecipePanelTest, SaveAndDelete) {
    p.events = {test::MakeEvent(1, 2, 0, EventKind::Bloom)};
    EXPECT_FALSE(SaveEventAsRecipe(s, p, 0, ""));
    EXPECT_EQ(RecipeFiles(), 0u) << "an empty name writes nothing";
    EXPECT_FALSE(SaveEventAsRecipe(s, p, 4, "Swell"));
    EXPECT_FALSE(s.unsavedChanges);

    ASSERT_TRUE(SaveEventAsRecipe(s, p, 0, "Swell"));
    JoinRecipePreviewWorker();
    EXPECT_EQ(RecipeFiles(), 1u);
    ASSERT_EQ(RecipeList.size(), 1u);
    EXPECT_STREQ(RecipeList[0].name, "Swell");
    EXPECT_EQ(RecipeList[0].shape, KindValue(EventKind::Bloom));
    EXPECT_STREQ(p.events[0].presetName, "Swell");
    EXPECT_TRUE(s.unsavedChanges);

    EXPECT_FALSE(DeleteRecipeAt(3));
    ASSERT_TRUE(DeleteRecipeAt(0));
    EXPECT_EQ(RecipeFiles(), 0u);
    EXPECT_TRUE(RecipeList.empty());
}

// A row applies its recipe and leaves the panel open; Enter in the name
// field saves under the proposed name; an emptied name closes the panel
// without writing.
TEST_F(RecipePanelTest, PanelWidgets) {
    RecipeList = {Recipe("Hit", EventKind::Spot, 0.5f)};
    p.events = {test::MakeEvent(6, 2, 0, EventKind::Bloom)};
    SelectOne(0);
    const Editors ed = Place();
    const float buttonX = ed.left + ed.width + m_.gap + Fh() * 0.5f;
    auto openPanel = [&]() -> ImGuiWindow* {
        ClickAt(buttonX, m_.padding + Fh() * 0.5f);
        Frame();  // an auto-sized popup takes its size in its second frame
        Frame();
        ImGuiContext& g = *ImGui::GetCurrentContext();
        return g.OpenPopupStack.empty() ? nullptr : g.OpenPopupStack.back().Window;
    };
    ImGuiWindow* panel = openPanel();
    ASSERT_NE(panel, nullptr);
    ImGuiWindow* list = test::FindActiveWindow("##reciplist");
    ASSERT_NE(list, nullptr);
    EXPECT_GE(panel->Size.x, 160.0f);

    // The row applies the recipe and keeps the panel open.
    frames_.Click(list->Pos.x + 30.0f, list->Pos.y + 6.0f, body());
    EXPECT_EQ(p.events[0].shape, KindValue(EventKind::Spot));
    EXPECT_EQ(p.events[0].time, 6.0f);
    EXPECT_FALSE(ImGui::GetCurrentContext()->OpenPopupStack.empty());

    // Enter in the name field saves under the proposed name and closes.
    auto nameField = [&](ImGuiWindow* w) {
        // The panel style's padding is 10 and its frame padding 6 high.
        const float y = w->Pos.y + w->Size.y - 10.0f - (ImGui::GetFontSize() + 12.0f) * 0.5f;
        frames_.Click(w->Pos.x + 20.0f, y, body());
        EXPECT_FALSE(ImGui::GetCurrentContext()->OpenPopupStack.empty()) << "the click landed in the panel";
    };
    nameField(panel);
    frames_.Press(ImGuiKey_Enter, body());
    Frame();
    EXPECT_TRUE(ImGui::GetCurrentContext()->OpenPopupStack.empty());
    JoinRecipePreviewWorker();
    EXPECT_EQ(RecipeFiles(), 1u);
    ASSERT_EQ(RecipeList.size(), 1u) << "the list is read again from the folder";
    EXPECT_STRNE(p.events[0].presetName, "Hit");
    EXPECT_STREQ(RecipeList[0].name, p.events[0].presetName);

    // With the name cleared, Save closes the panel and writes nothing.
    panel = openPanel();
    ASSERT_NE(panel, nullptr);
    nameField(panel);
    harness_.SetCtrl(true);
    frames_.Press(ImGuiKey_A, body());
    harness_.SetCtrl(false);
    frames_.Press(ImGuiKey_Backspace, body());
    frames_.Press(ImGuiKey_Enter, body());
    Frame();
    EXPECT_TRUE(ImGui::GetCurrentContext()->OpenPopupStack.empty());
    EXPECT_EQ(RecipeFiles(), 1u);
    EXPECT_EQ(RecipeList.size(), 1u);
}

}  // namespace
}  // namespace korvel
