// The event context menu's actions: delete renumbering, rebuild routing,
// group naming, lock and hero, and every edit refused while a job runs.
#include "ui/timeline/event_menu.h"

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cstdio>

#include "engine/render_job.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"
#include "support/ui/ui_harness.h"
#include "timeline_fixture.h"

namespace korvel {
namespace {

class EventMenuTest : public ::testing::Test {
protected:
    void SetUp() override { test::ResetTimelineState(); }
    void TearDown() override { s.backgroundJob.active.store(false); }
    void MakeEvents(int count) {
        p.events.clear();
        p.results.clear();
        for (int i = 0; i < count; ++i) {
            p.events.push_back(test::MakeEvent(static_cast<float>(i), 1.0f));
            LayerResult layer;
            layer.eventIdx = i;
            p.results.push_back(layer);
        }
    }
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

TEST_F(EventMenuTest, DeleteRenumbersSelectionPrimaryAndLayers) {
    struct Case {
        const char* name;
        std::set<std::int32_t> selected;
        std::int32_t primary, wantPrimary;
        std::size_t wantEvents;
    };
    const Case cases[] = {
        {"primary above a deleted event is lowered once", {2, 5}, 4, 3, 4},
        {"a deleted primary ends as -1", {2, 5}, 5, -1, 4},
        {"deleting everything leaves -1", {0, 1, 2, 3, 4, 5}, 3, -1, 0},
        {"invalid indices are skipped", {1, 17, -2}, 3, 2, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeEvents(6);
        for (std::size_t i = 0; i < p.events.size(); ++i) p.events[i].gain = static_cast<float>(i);
        s.selectedEvents = c.selected;
        s.selectedEvent = c.primary;
        EXPECT_TRUE(DeleteSelection(s, p));
        EXPECT_EQ(p.events.size(), c.wantEvents);
        EXPECT_EQ(s.selectedEvent, c.wantPrimary);
        ASSERT_EQ(p.results.size(), c.wantEvents);
        for (std::size_t i = 0; i < p.results.size(); ++i) {
            EXPECT_EQ(p.results[i].eventIdx, static_cast<std::int32_t>(i)) << "layers follow their events";
        }
    }
    MakeEvents(6);
    s.selectedEvents = {2, 5};
    ASSERT_TRUE(DeleteSelection(s, p));
    EXPECT_EQ(p.events[2].time, 3.0f) << "event 3 moved down to 2";
    EXPECT_TRUE(s.selectedEvents.empty());
}

TEST_F(EventMenuTest, RebuildRoutesKindsByHowManyAreSelected) {
    MakeEvents(3);
    p.built = true;
    for (Event& e : p.events) e.locked = true;
    s.selectedEvents = {1};
    RebuildSelection(s, p);
    EXPECT_EQ(s.pendingRenderMode, kRenderRebuildEvent);
    EXPECT_EQ(s.pendingRenderEvents, std::vector<std::int32_t>{1});
    EXPECT_FALSE(p.events[1].locked);
    EXPECT_TRUE(p.events[0].locked);

    s.selectedEvents = {0, 2, 9};
    RebuildSelection(s, p);
    EXPECT_EQ(s.pendingRenderMode, kRenderEventList);
    EXPECT_EQ(s.pendingRenderEvents, (std::vector<std::int32_t>{0, 2}));

    // Not built and no Clip: the entry is refused.
    s.pendingRenderMode = 0;
    s.pendingRenderEvents.clear();
    p.built = false;
    UndoStack.clear();
    RebuildSelection(s, p);
    EXPECT_EQ(s.pendingRenderMode, 0);
    EXPECT_TRUE(UndoStack.empty());
}

// A Clip is placed again at once and takes its layer's length; one that
// cannot be placed keeps its own; the other kinds are queued as a list.
TEST_F(EventMenuTest, RebuildPlacesClipsAtOnce) {
    test::TempDir dir;
    const std::string wav = dir.file("two.wav");
    ASSERT_TRUE(test::WriteSoundFile(wav, test::MakeSine(440.0, 2.0, 8000), 1, 8000));
    p.events = {test::MakeEvent(1, 5, 0, EventKind::Clip), test::MakeEvent(3, 1), test::MakeEvent(8, 4, 0, EventKind::Clip)};
    std::snprintf(p.events[0].pinnedFile, sizeof(Event::pinnedFile), "%s", wav.c_str());
    p.events[0].usePinnedFile = true;
    p.built = true;
    s.selectedEvents = {0, 1, 2};
    RebuildSelection(s, p);
    const auto layer = std::find_if(p.results.begin(), p.results.end(), [](const LayerResult& l) { return l.eventIdx == 0; });
    ASSERT_NE(layer, p.results.end()) << "the Clip was placed";
    EXPECT_NEAR(p.events[0].duration, layer->duration, 1e-5f);
    EXPECT_EQ(p.events[2].duration, 4.0f) << "a Clip without a file keeps its duration";
    EXPECT_EQ(s.pendingRenderMode, kRenderEventList);
    EXPECT_EQ(s.pendingRenderEvents, std::vector<std::int32_t>{1});
}

TEST_F(EventMenuTest, GroupTakesTheFirstFreeNumber) {
    MakeEvents(4);
    std::snprintf(p.events[0].folder, sizeof(Event::folder), "%s", "Group 1");
    std::snprintf(p.events[1].folder, sizeof(Event::folder), "%s", "Group 3");
    s.collapsedFolders = {"Group 2"};
    s.selectedEvents = {2, 3, 12};
    EXPECT_EQ(GroupSelection(s, p), "Group 2");
    EXPECT_STREQ(p.events[2].folder, "Group 2");
    EXPECT_STREQ(p.events[3].folder, "Group 2");
    EXPECT_TRUE(s.IsLinkedGroup("Group 2"));
    EXPECT_EQ(s.collapsedFolders.count("Group 2"), 0u);
    EXPECT_EQ(s.renamingFolder, "Group 2");
    EXPECT_STREQ(s.folderNameBuffer, "Group 2");
    EXPECT_TRUE(s.focusFolderRename);
    EXPECT_TRUE(ReadEventMenuFacts(s, p).anyFolder);

    UngroupSelection(s, p);
    EXPECT_STREQ(p.events[2].folder, "");
    EXPECT_TRUE(s.IsLinkedGroup("Group 2")) << "the name stays linked";
}

TEST_F(EventMenuTest, LockAndHeroFlipTheWholeSelection) {
    MakeEvents(3);
    p.events[0].locked = true;
    s.selectedEvents = {0, 1};
    EXPECT_FALSE(ReadEventMenuFacts(s, p).allLocked) << "mixed states read Lock";
    ToggleLockSelection(s, p);
    EXPECT_TRUE(p.events[0].locked && p.events[1].locked);
    ToggleLockSelection(s, p);
    EXPECT_FALSE(p.events[0].locked || p.events[1].locked);
    EXPECT_FALSE(p.events[2].locked);

    ToggleHeroSelection(s, p);
    EXPECT_TRUE(p.events[0].hero && p.events[1].hero);
    EXPECT_EQ(s.pendingRenderMode, kRenderRebuildAll) << "even before anything was built";
}

TEST_F(EventMenuTest, EveryEditIsRefusedDuringAJob) {
    MakeEvents(3);
    p.built = true;
    s.selectedEvents = {0, 1};
    s.backgroundJob.active.store(true);
    const EventMenuFacts facts = ReadEventMenuFacts(s, p);
    EXPECT_FALSE(facts.mayEdit);
    EXPECT_FALSE(facts.canBuild);
    ToggleLockSelection(s, p);
    ToggleHeroSelection(s, p);
    RebuildSelection(s, p);
    GroupSelection(s, p);
    EXPECT_FALSE(DeleteSelection(s, p));
    EXPECT_EQ(p.events.size(), 3u);
    EXPECT_FALSE(p.events[0].locked || p.events[0].hero);
    EXPECT_STREQ(p.events[0].folder, "");
    EXPECT_EQ(s.pendingRenderMode, 0);
    EXPECT_TRUE(UndoStack.empty());
}

// The menu is drawn in the panel style, as the other context menus are: its
// window takes the panel's padding and rounding, not the default ones.
TEST_F(EventMenuTest, DrawnInThePanelStyle) {
    test::UiHarness ui;
    MakeEvents(2);
    s.selectedEvents = {1};
    ImGuiWindow* popup = nullptr;
    for (int frame = 0; frame < 2; ++frame) {
        ui.BeginFrame();
        ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
        ImGui::Begin("##host", nullptr, ImGuiWindowFlags_NoSavedSettings);
        if (frame == 0) ImGui::OpenPopup("##eventCtx");
        EXPECT_FALSE(ShowEventContextMenu("##eventCtx"));
        ImGuiContext& g = *ImGui::GetCurrentContext();
        if (!g.OpenPopupStack.empty()) popup = g.OpenPopupStack.back().Window;
        ImGui::End();
        ui.EndFrame();
    }
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->WindowPadding.x, 10.0f);
    EXPECT_EQ(popup->WindowPadding.y, 10.0f);
    EXPECT_EQ(popup->WindowRounding, 6.0f);
    EXPECT_NE(ImGui::GetStyle().WindowPadding.x, 10.0f) << "the default differs, so the check means something";
}

}  // namespace
}  // namespace korvel
