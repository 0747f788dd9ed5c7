// The scene background picker: what it lists, its removal through the
// frame's pending delete, the empty Fill and Bed, backgrounds from recipes,
// its headings, and how it closes.
#include "ui/timeline/scene_picker.h"

#include <gtest/gtest.h>

#include <string>

#include "app/frame_work.h"
#include "presets/recipes.h"
#include "scene_fixture.h"

namespace korvel {

namespace {

using test::SceneLaneUi;

constexpr const char* kFillGlyph = "\xef\x9d\xb3";
constexpr const char* kBedGlyph = "\xef\x80\xb9";
constexpr const char* kCloseGlyph = "\xef\x80\x8d";

EventPreset Recipe(const char* name, EventKind kind) {
    EventPreset recipe;
    std::snprintf(recipe.name, sizeof(recipe.name), "%s", name);
    recipe.shape = KindValue(kind);
    recipe.duration = 2.0f;
    recipe.syncOffset = 0.5f;
    std::snprintf(recipe.keywords, sizeof(recipe.keywords), "%s", "rain");
    recipe.weight.fill(0.25f);
    recipe.intensity.fill(0.75f);
    return recipe;
}

class ScenePickerTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetSceneState();
        test::SetLaneView(0.0f, 8.0f);
        savedRecipes_ = RecipeList;
        RecipeList.clear();
        p.scenes = {test::MakeScene("Street", 1, 5, "traffic"), test::MakeScene("Park", 6, 8)};
    }
    void TearDown() override {
        RecipeList = savedRecipes_;
        test::ResetSceneState();
    }

    // Opens the picker on scene 0 and clicks the item `label` (under the
    // pushed ints) at `x` in the popup; false when it is not found.
    bool Choose(SceneLaneUi& ui, const std::string& label, std::initializer_list<int> pushed = {}, float x = 40.0f) {
        if (!ui.pickerOpen) return false;
        ImVec2 at;
        if (!ui.FindInPopup(SceneLaneUi::PopupItemId(label.c_str(), pushed), x, at)) return false;
        ui.Click(at.x, at.y);
        return true;
    }

    AppState& s = GlobalAppState;
    Project& p = CurrentProject;

private:
    std::vector<EventPreset> savedRecipes_;
};

TEST_F(ScenePickerTest, ListsTheScenesBackgroundsAndRemovesThroughTheFrame) {
    p.events = {test::Linked(0, true, EventKind::Fill), test::Linked(1, true, EventKind::Bed),
                test::Linked(0, false, EventKind::Spot), test::Linked(0, true, EventKind::Bed)};
    std::snprintf(p.events[0].presetName, sizeof(p.events[0].presetName), "%s", "Drizzle");
    std::snprintf(p.events[3].keywords, sizeof(p.events[3].keywords), "%s", "engine idle");
    s.sceneBackgroundRequest = 0;
    SceneLaneUi ui;
    ui.log = true;
    ui.Frame();
    ASSERT_TRUE(ui.pickerOpen);
    EXPECT_EQ(ScenePickerOpenedFor, 0);
    const std::string& text = ui.logged;
    EXPECT_NE(text.find("Background \xe2\x80\x94 Street"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string(kFillGlyph) + "  Drizzle"), std::string::npos) << "a recipe's name first";
    EXPECT_NE(text.find(std::string(kBedGlyph) + "  Engine Idle"), std::string::npos) << "else the title";
    EXPECT_EQ(text.find("FILL RECIPES"), std::string::npos);
    EXPECT_EQ(text.find("BED RECIPES"), std::string::npos);
    ui.log = false;

    // Removing event 3 is asked of the frame, which deletes it as one step.
    ASSERT_TRUE(Choose(ui, std::string(kCloseGlyph) + "##rmbg", {3}, -13.0f));
    EXPECT_EQ(s.pendingDeleteEvent, 3);
    EXPECT_EQ(p.events.size(), 4u);
    ui.Frame();
    EXPECT_FALSE(ui.pickerOpen);
    EXPECT_EQ(s.sceneBackgroundRequest, -1) << "a choice ends the picker";
    EXPECT_EQ(ScenePickerOpenedFor, -1);

    s.selectedEvents = {3};
    s.selectedEvent = 3;
    FramePendingDelete();
    EXPECT_EQ(s.pendingDeleteEvent, -1);
    ASSERT_EQ(p.events.size(), 3u);
    EXPECT_STREQ(p.events[0].presetName, "Drizzle");
    EXPECT_TRUE(s.selectedEvents.empty());
    EXPECT_EQ(UndoStack.size(), 1u);
    EXPECT_TRUE(s.unsavedChanges);
    EXPECT_TRUE(s.audioUpdateRequested.load());
}

TEST_F(ScenePickerTest, PendingDeleteWaitsForTheEditGuard) {
    p.events = {test::Linked(0, true)};
    s.pendingDeleteEvent = 0;
    s.backgroundJob.active.store(true);
    FramePendingDelete();
    EXPECT_EQ(s.pendingDeleteEvent, 0);
    EXPECT_EQ(p.events.size(), 1u);
    s.backgroundJob.active.store(false);
    s.pendingDeleteEvent = 5;
    FramePendingDelete();
    EXPECT_EQ(s.pendingDeleteEvent, -1) << "an index past the events is dropped";
    EXPECT_EQ(p.events.size(), 1u);
    EXPECT_TRUE(UndoStack.empty());
}

TEST_F(ScenePickerTest, EmptyFillAndBedSpanTheScene) {
    struct Case {
        const char* name;
        const char* label;
        EventKind kind;
        bool locked;
    };
    const Case cases[] = {
        {"empty Fill", "  Empty Fill##r100", EventKind::Fill, false},
        {"empty Bed", "  Empty Bed##r101", EventKind::Bed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ResetSceneState();
        p.scenes = {test::MakeScene("Street", 1, 5, "traffic"), test::MakeScene("Park", 6, 8)};
        s.sceneBackgroundRequest = 1;
        SceneLaneUi ui;
        ui.Frame();
        const char* glyph = c.kind == EventKind::Fill ? kFillGlyph : kBedGlyph;
        ASSERT_TRUE(Choose(ui, std::string(glyph) + c.label));
        ASSERT_EQ(p.events.size(), 1u);
        const Event& e = p.events[0];
        EXPECT_TRUE(IsKind(e.shape, c.kind));
        EXPECT_EQ(e.sceneLink, 1);
        EXPECT_TRUE(e.sceneFill);
        EXPECT_EQ(e.time, 6.0f);
        EXPECT_EQ(e.duration, 2.0f);
        EXPECT_EQ(e.syncOffset, 0.0f);
        EXPECT_STREQ(e.folder, "Park");
        EXPECT_EQ(e.locked, c.locked);
        EXPECT_EQ(UndoStack.size(), 1u);
        EXPECT_TRUE(s.unsavedChanges);
        ui.Frame();
        EXPECT_EQ(s.sceneBackgroundRequest, -1);
    }
}

TEST_F(ScenePickerTest, RecipeBackgroundsKeepTheScenesRangeAndLink) {
    EventPreset fill = Recipe("Soft Rain", EventKind::Fill);
    SetSceneBackgroundFromPreset(0, fill);
    ASSERT_EQ(p.events.size(), 1u);
    const Event& f = p.events[0];
    EXPECT_TRUE(IsKind(f.shape, EventKind::Fill));
    EXPECT_EQ(f.time, 1.0f);
    EXPECT_EQ(f.duration, 4.0f) << "not the recipe's 2 s";
    EXPECT_EQ(f.syncOffset, 0.0f) << "not the recipe's 0.5 s: the block spans the scene";
    EXPECT_EQ(f.sceneLink, 0);
    EXPECT_TRUE(f.sceneFill);
    EXPECT_EQ(f.sceneCrossfade, 1);
    EXPECT_STREQ(f.folder, "Street");
    EXPECT_STREQ(f.presetName, "Soft Rain");
    EXPECT_STREQ(f.keywords, "rain");
    EXPECT_EQ(f.weight[10], 0.25f);
    EXPECT_FALSE(f.locked);
    EXPECT_FALSE(s.audioUpdateRequested.load());
    EXPECT_TRUE(s.unsavedChanges);

    EventPreset bed = Recipe("City Bed", EventKind::Bed);
    bed.pinnedFiles = {"/sounds/hum.wav", "/sounds/traffic.wav"};
    SetSceneBackgroundFromPreset(1, bed);
    ASSERT_EQ(p.events.size(), 2u);
    const Event& b = p.events[1];
    EXPECT_TRUE(IsKind(b.shape, EventKind::Bed));
    EXPECT_TRUE(b.locked);
    EXPECT_EQ(b.time, 6.0f);
    EXPECT_EQ(b.duration, 2.0f);
    EXPECT_EQ(b.sceneLink, 1);
    EXPECT_STREQ(b.presetName, "City Bed");
    std::size_t layers = 0;
    for (const LayerResult& layer : p.results) {
        if (layer.eventIdx != 1) continue;
        ++layers;
        EXPECT_EQ(layer.startTime, 6.0f) << "laid at the scene's start";
    }
    EXPECT_EQ(layers, 2u) << "the bed's layers are laid at once";
    EXPECT_TRUE(s.audioUpdateRequested.load());
    EXPECT_EQ(UndoStack.size(), 2u);

    // A scene out of range leaves only the undo snapshot.
    SetSceneBackgroundFromPreset(2, fill);
    EXPECT_EQ(p.events.size(), 2u);
    EXPECT_EQ(UndoStack.size(), 3u);
    // Under a live build nothing happens at all.
    s.backgroundJob.active.store(true);
    SetSceneBackgroundFromPreset(0, fill);
    EXPECT_EQ(p.events.size(), 2u);
    EXPECT_EQ(UndoStack.size(), 3u);
    s.backgroundJob.active.store(false);
}

TEST_F(ScenePickerTest, RecipeHeadingsAndChoosingARecipe) {
    RecipeList = {Recipe("Drone", EventKind::Bloom), Recipe("Hiss", EventKind::Fill), Recipe("Wash", EventKind::Fill)};
    s.sceneBackgroundRequest = 0;
    SceneLaneUi ui;
    ui.log = true;
    ui.Frame();
    ASSERT_TRUE(ui.pickerOpen);
    EXPECT_NE(ui.logged.find("FILL RECIPES"), std::string::npos);
    EXPECT_EQ(ui.logged.find("BED RECIPES"), std::string::npos);
    EXPECT_EQ(ui.logged.find("Drone"), std::string::npos) << "only Fill and Bed recipes are offered";
    ui.log = false;
    ASSERT_TRUE(Choose(ui, std::string(kFillGlyph) + "  Wash##r3", {1002}));
    ASSERT_EQ(p.events.size(), 1u);
    EXPECT_STREQ(p.events[0].presetName, "Wash");
    EXPECT_EQ(p.events[0].sceneLink, 0);

    ui.Frame();  // the picker is found closed
    EXPECT_EQ(s.sceneBackgroundRequest, -1);
    RecipeList = {Recipe("Room Tone", EventKind::Bed)};
    s.sceneBackgroundRequest = 0;
    ui.log = true;
    ui.Frame();
    EXPECT_EQ(ui.logged.find("FILL RECIPES"), std::string::npos);
    EXPECT_NE(ui.logged.find("BED RECIPES"), std::string::npos);
}

TEST_F(ScenePickerTest, EscapeAndTheCloseButtonEndThePicker) {
    struct Case {
        const char* name;
        bool escape;
    };
    for (const Case& c : {Case{"Escape", true}, Case{"close button", false}}) {
        SCOPED_TRACE(c.name);
        s.sceneBackgroundRequest = 0;
        SceneLaneUi ui;
        ui.Frame();
        ASSERT_TRUE(ui.pickerOpen);
        if (c.escape) ui.Key(ImGuiKey_Escape);
        else ASSERT_TRUE(Choose(ui, std::string(kCloseGlyph) + "##closescenerec", {}, -13.0f));
        EXPECT_EQ(s.sceneBackgroundRequest, -1);
        EXPECT_EQ(ScenePickerOpenedFor, -1);
        ui.Frame();
        EXPECT_FALSE(ui.pickerOpen);
        EXPECT_TRUE(p.events.empty());
    }
}

TEST_F(ScenePickerTest, NoPickerForASceneOutOfRange) {
    s.sceneBackgroundRequest = 2;
    ScenePickerOpenedFor = 2;
    SceneLaneUi ui;
    ui.Frame();
    EXPECT_FALSE(ui.pickerOpen);
    EXPECT_EQ(ScenePickerOpenedFor, -1);
}

}  // namespace
}  // namespace korvel
