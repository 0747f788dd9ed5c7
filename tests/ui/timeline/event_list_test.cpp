// The events list headless: grouping into folders, the folder header's
// clicks and rename, drops, deleting a group, row clicks, the scene bar, and
// a few frames drawn through the UI library where the wiring is the point.
#include "ui/timeline/event_list.h"

#include <gtest/gtest.h>
#include <imgui_internal.h>

#include <cstring>
#include <mutex>

#include "../panels/panels_fixture.h"
#include "app/ui_layout.h"
#include "playback/playback_engine.h"
#include "project/fixed_text.h"
#include "project/undo.h"
#include "support/ui/ui_harness.h"
#include "timeline_fixture.h"

namespace korvel {
namespace {

void ResetListState() {
    AppState& s = GlobalAppState;
    s.expandedEvent = -1;
    s.soloLayer = s.lastSoloLayer = -1;
    s.sceneRenameActive = s.sceneRenameFocus = false;
    s.sceneRenameScene = -1;
    s.scrollToSelection = false;
    s.scrollToLayer = -1;
    s.listCacheEventCount = s.listCacheResultCount = s.listCacheRevision = -1;
    s.sceneBackgroundRequest = -1;
    s.renamingScene = -1;
    s.sceneKeywordTemplate[0] = '\0';
    s.sceneZoomSavedStart = s.sceneZoomSavedSpan = -1.0f;
    s.eventListOrder.clear();
    CurrentProject.bannedFiles.clear();
    CurrentProject.bannedFileIds.clear();
    CurrentProject.revision = 0;
    PlaybackEngine& engine = LivePlaybackEngine;
    engine.soloVoice = -1;
    engine.playing.store(false);
    const VoiceListEdit edit(engine);
    engine.voices.clear();
    engine.voiceFadeIns.clear();
    engine.voiceFadeOuts.clear();
    engine.voiceCount.store(0);
}

Event InFolder(float time, const char* folder, EventKind kind = EventKind::Fill) {
    Event e = test::MakeEvent(time, 1.0f, 0.0f, kind);
    CopyText(e.folder, folder);
    return e;
}

class EventListTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetTimelineState();
        ResetListState();
    }
    void TearDown() override { ResetListState(); }
    // The list's order as the frame computes it.
    std::vector<EventFolder> Folders() {
        s.RefreshEventListCache(p.events, p.results, p.revision);
        return GroupEventFolders(s, p);
    }
    EventFolder FolderNamed(const std::string& name) {
        for (EventFolder& f : Folders())
            if (f.name == name) return f;
        return {};
    }
    void AddVoice(std::int32_t event, std::int32_t layer) {
        Voice v;
        v.eventIndex = event;
        v.resultIndex = layer;
        v.resultId = layer >= 0 && static_cast<std::size_t>(layer) < p.results.size()
                         ? p.results[static_cast<std::size_t>(layer)].id
                         : -1;
        AppendVoice(LivePlaybackEngine, v, 0.0f, 0.0f);
    }
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

// [SECTION] Grouping

TEST_F(EventListTest, GroupingByFolderSceneAndFirstTime) {
    struct Case {
        const char* name;
        std::vector<Event> events;
        std::int32_t scene;
        std::vector<std::string> names;  // groups in order
        std::vector<std::vector<std::int32_t>> members;
    };
    const Case cases[] = {
        {"no folders: one unnamed group in time order",
         {InFolder(5, ""), InFolder(1, ""), InFolder(3, "")}, -1, {""}, {{1, 2, 0}}},
        {"folders ordered by their first event",
         {InFolder(9, "B"), InFolder(2, ""), InFolder(4, "A"), InFolder(1, "B")}, -1, {"B", "", "A"},
         {{3, 0}, {1}, {2}}},
        // Both groups start at 2: the group met first in the list stays first.
        {"equal first times keep the order met",
         {InFolder(2, "Z"), InFolder(2, "A"), InFolder(7, "A")}, -1, {"Z", "A"}, {{0}, {1, 2}}},
        // Scene 0 spans 10..20: a folder with nothing inside it disappears.
        {"scene filter, edges included",
         {InFolder(10, "In"), InFolder(20, ""), InFolder(25, "Out"), InFolder(9.9f, "")}, 0, {"In", ""}, {{0}, {1}}},
        {"a stale scene shows everything", {InFolder(25, "Out")}, 7, {"Out"}, {{0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.events = c.events;
        p.scenes = {Scene{.name = "S", .inTime = 10.0f, .outTime = 20.0f}};
        s.workAreaScene = c.scene;
        const std::vector<EventFolder> folders = Folders();
        ASSERT_EQ(folders.size(), c.names.size());
        for (std::size_t i = 0; i < folders.size(); ++i) {
            EXPECT_EQ(folders[i].name, c.names[i]);
            EXPECT_EQ(folders[i].events, c.members[i]);
        }
    }
}

// [SECTION] Folder headers

TEST_F(EventListTest, HeaderPressesByPrecedence) {
    using A = FolderHeaderAction;
    struct Case {
        const char* name;
        FolderHeaderClick click;
        bool all;
        A action;
    };
    const Case cases[] = {
        {"no press", {}, false, A::None},
        {"link icon beats everything", {.pressed = true, .doubleClicked = true, .onLink = true, .onMore = true, .ctrl = true}, true, A::ToggleLink},
        {"more icon beats a double-click", {.pressed = true, .doubleClicked = true, .onMore = true}, false, A::OpenMenu},
        {"double-click renames, even with Ctrl", {.pressed = true, .doubleClicked = true, .ctrl = true}, true, A::StartRename},
        {"Ctrl with all selected", {.pressed = true, .ctrl = true}, true, A::Deselect},
        {"Ctrl with some selected", {.pressed = true, .ctrl = true}, false, A::AddToSelection},
        {"plain with all selected", {.pressed = true}, true, A::ToggleCollapse},
        {"plain with some selected", {.pressed = true}, false, A::SelectFolder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecideFolderHeaderClick(c.click, c.all), c.action);
    }
}

TEST_F(EventListTest, HeaderActionsChangeSelectionCollapseAndLinks) {
    p.events = {InFolder(4, "G"), InFolder(1, "X"), InFolder(2, "G")};
    const EventFolder g = FolderNamed("G");
    ASSERT_EQ(g.events, (std::vector<std::int32_t>{2, 0}));

    s.selectedEvents = {1};
    s.selectedEvent = 1;
    ApplyFolderHeaderAction(s, p, g, FolderHeaderAction::SelectFolder);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{0, 2}));
    EXPECT_EQ(s.selectedEvent, 2) << "the first listed event is primary";
    EXPECT_TRUE(FolderAllSelected(s, g));

    ApplyFolderHeaderAction(s, p, g, FolderHeaderAction::ToggleCollapse);
    EXPECT_TRUE(s.collapsedFolders.contains("G"));
    ApplyFolderHeaderAction(s, p, g, FolderHeaderAction::ToggleCollapse);
    EXPECT_FALSE(s.collapsedFolders.contains("G"));

    s.selectedEvents = {1, 0, 2};
    ApplyFolderHeaderAction(s, p, g, FolderHeaderAction::Deselect);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{1}));
    ApplyFolderHeaderAction(s, p, g, FolderHeaderAction::AddToSelection);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{0, 1, 2}));

    // The links are saved with the project but take no undo step.
    s.unsavedChanges = false;
    ApplyFolderHeaderAction(s, p, g, FolderHeaderAction::ToggleLink);
    EXPECT_TRUE(s.linkedGroups.contains("G"));
    EXPECT_TRUE(s.unsavedChanges);
    ApplyFolderHeaderAction(s, p, g, FolderHeaderAction::ToggleLink);
    EXPECT_FALSE(s.linkedGroups.contains("G"));
    EXPECT_TRUE(UndoStack.empty());
}

TEST_F(EventListTest, FolderRenameRules) {
    struct Case {
        const char* name;
        const char* typed;
        bool renamed;
    };
    const Case cases[] = {
        {"empty commits nothing", "", false},
        {"unchanged commits nothing", "Hits", false},
        {"a new name renames the group", "Impacts", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearUndoHistory();
        p.events = {InFolder(1, "Hits"), InFolder(2, "Hits"), InFolder(3, "Other")};
        s.linkedGroups = {"Hits", "Other"};
        s.collapsedFolders = {"Hits"};
        const EventFolder hits = FolderNamed("Hits");
        StartFolderRename(s, "Hits");
        EXPECT_STREQ(s.folderNameBuffer, "Hits");
        EXPECT_TRUE(s.focusFolderRename);
        CopyText(s.folderNameBuffer, c.typed);
        EXPECT_EQ(CommitFolderRename(s, p, hits), c.renamed);
        EXPECT_TRUE(s.renamingFolder.empty()) << "the rename ends in every case";
        const char* expected = c.renamed ? "Impacts" : "Hits";
        EXPECT_STREQ(p.events[0].folder, expected);
        EXPECT_STREQ(p.events[1].folder, expected);
        EXPECT_STREQ(p.events[2].folder, "Other");
        EXPECT_EQ(s.linkedGroups, (std::set<std::string>{expected, "Other"})) << "the link follows the name";
        EXPECT_EQ(s.collapsedFolders.contains("Hits"), !c.renamed);
        EXPECT_EQ(UndoStack.size(), c.renamed ? 1u : 0u);
    }
}

TEST_F(EventListTest, DropsMoveTheSelectionIntoOrOutOfFolders) {
    p.events = {InFolder(1, "A"), InFolder(2, ""), InFolder(3, "B")};
    s.selectedEvents = {0, 1, 9};  // a stale index is skipped
    MoveSelectionToFolder(s, p, "B");
    EXPECT_STREQ(p.events[0].folder, "B");
    EXPECT_STREQ(p.events[1].folder, "B");
    EXPECT_EQ(UndoStack.size(), 1u);
    s.selectedEvents = {0, 2};
    MoveSelectionToFolder(s, p, "");
    EXPECT_STREQ(p.events[0].folder, "");
    EXPECT_STREQ(p.events[1].folder, "B");
    EXPECT_STREQ(p.events[2].folder, "");

    // Not while a job reads the events.
    s.backgroundJob.active.store(true);
    MoveSelectionToFolder(s, p, "C");
    s.backgroundJob.active.store(false);
    EXPECT_STREQ(p.events[0].folder, "");
    EXPECT_EQ(UndoStack.size(), 2u);
}

TEST_F(EventListTest, UngroupClearsTheFolderAndItsLink) {
    p.events = {InFolder(1, "A"), InFolder(2, "A"), InFolder(3, "B")};
    s.linkedGroups = {"A", "B"};
    UngroupFolder(s, p, FolderNamed("A"));
    EXPECT_STREQ(p.events[0].folder, "");
    EXPECT_STREQ(p.events[1].folder, "");
    EXPECT_STREQ(p.events[2].folder, "B");
    EXPECT_EQ(s.linkedGroups, (std::set<std::string>{"B"}));
}

TEST_F(EventListTest, DeleteGroupRenumbersSelectionPrimaryAndVoices) {
    p.events = {InFolder(1, "Keep"), InFolder(2, "Gone"), InFolder(3, "Keep"), InFolder(4, "Gone")};
    p.results.resize(4);
    for (std::int32_t i = 0; i < 4; ++i) p.results[static_cast<std::size_t>(i)].eventIdx = i;
    for (std::int32_t i = 0; i < 4; ++i) AddVoice(i, i);
    s.selectedEvents = {2, 3};
    s.selectedEvent = 3;
    s.playhead = 2.5f;
    LivePlaybackEngine.position.store(0);
    ASSERT_TRUE(DeleteFolderEvents(s, p, LivePlaybackEngine, FolderNamed("Gone")));
    ASSERT_EQ(p.events.size(), 2u);
    EXPECT_FLOAT_EQ(p.events[0].time, 1.0f);
    EXPECT_FLOAT_EQ(p.events[1].time, 3.0f);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{1})) << "event 2 is now 1";
    EXPECT_EQ(s.selectedEvent, -1) << "a deleted primary leaves none";
    ASSERT_EQ(LivePlaybackEngine.voices.size(), 2u);
    EXPECT_EQ(LivePlaybackEngine.voices[0].eventIndex, 0);
    EXPECT_EQ(LivePlaybackEngine.voices[1].eventIndex, 1);
    EXPECT_EQ(LivePlaybackEngine.voices[1].resultIndex, 1);
    EXPECT_EQ(LivePlaybackEngine.position.load(), static_cast<std::int64_t>(2.5 * LivePlaybackEngine.sampleRate));
    EXPECT_EQ(UndoStack.size(), 1u);

    // A stale primary falls to the last event left.
    p.events.push_back(InFolder(5, "Other"));
    s.selectedEvent = 9;
    ASSERT_TRUE(DeleteFolderEvents(s, p, LivePlaybackEngine, FolderNamed("Other")));
    EXPECT_EQ(s.selectedEvent, 1);

    // Deleting the last events leaves no primary.
    ASSERT_TRUE(DeleteFolderEvents(s, p, LivePlaybackEngine, FolderNamed("Keep")));
    EXPECT_TRUE(p.events.empty());
    EXPECT_EQ(s.selectedEvent, -1);
    EXPECT_TRUE(s.selectedEvents.empty());
}

TEST_F(EventListTest, SaveAsChainNeedsAName) {
    p.events = {InFolder(1, "A")};
    EXPECT_FALSE(SaveFolderAsChain("", p, FolderNamed("A")));
}

// [SECTION] Event rows

TEST_F(EventListTest, RowClicks) {
    // Folder order differs from time order: "Late" holds the earliest event.
    p.events = {InFolder(1, "Late"), InFolder(2, ""), InFolder(3, ""), InFolder(4, "Late"), InFolder(5, "")};
    Folders();
    ClickEventRow(s, p, LivePlaybackEngine, 1, false, false, false);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{1}));
    EXPECT_EQ(s.expandedEvent, -1);
    ClickEventRow(s, p, LivePlaybackEngine, 1, false, false, false);
    EXPECT_EQ(s.expandedEvent, 1) << "the only selected row unfolds";
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{1}));
    ClickEventRow(s, p, LivePlaybackEngine, 1, false, false, false);
    EXPECT_EQ(s.expandedEvent, -1) << "and folds again";

    // Shift goes by time: 1..3 are events 1, 2, 3 whatever their folders.
    ClickEventRow(s, p, LivePlaybackEngine, 3, true, false, false);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{1, 2, 3}));
    // With two or more selected, a plain click selects only the clicked one.
    ClickEventRow(s, p, LivePlaybackEngine, 2, false, false, false);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{2}));
    ClickEventRow(s, p, LivePlaybackEngine, 4, false, true, false);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{2, 4}));

    // A linked folder comes along unless Alt is held.
    s.linkedGroups = {"Late"};
    ClickEventRow(s, p, LivePlaybackEngine, 3, false, false, true);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{3}));
    ClickEventRow(s, p, LivePlaybackEngine, 4, false, false, false);
    ClickEventRow(s, p, LivePlaybackEngine, 3, false, false, false);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{0, 3}));

    ClickEventRow(s, p, LivePlaybackEngine, 17, false, false, false);  // stale: nothing
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{0, 3}));
}

TEST_F(EventListTest, RowClickFollowsDrawModeAndEndsAudition) {
    struct Case {
        const char* name;
        EventKind kind;
        bool stays;
    };
    const Case cases[] = {
        {"Bloom: the view frames the new selection", EventKind::Bloom, true},
        {"Spot: draw mode ends and the saved view returns", EventKind::Spot, false},
        {"Clip: likewise", EventKind::Clip, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.totalDuration = 60.0f;
        p.events = {test::MakeEvent(10, 10, 0, EventKind::Fill), test::MakeEvent(30, 20, 0, c.kind)};
        Folders();
        s.selectedEvents = {0};
        s.selectedEvent = 0;
        s.curveDrawMode = true;
        s.drawSavedViewValid = true;
        s.drawSavedViewStart = 2.0f;
        s.drawSavedViewSpan = 8.0f;
        s.drawSavedLaneView = 1;
        s.timelineView = 2;
        s.viewStart = 10.0f;
        s.viewEnd = 20.0f;
        s.soloLayer = 4;
        LivePlaybackEngine.soloVoice = 7;
        ClickEventRow(s, p, LivePlaybackEngine, 1, false, false, false);
        EXPECT_EQ(s.curveDrawMode, c.stays);
        if (c.stays) {
            EXPECT_FLOAT_EQ(s.drawRangeStart, 30.0f);
            EXPECT_FLOAT_EQ(s.drawRangeEnd, 50.0f);
            EXPECT_FLOAT_EQ(s.viewStart, 29.0f);
            EXPECT_FLOAT_EQ(s.ViewSpan(), 22.0f);
        } else {
            EXPECT_FALSE(s.drawSavedViewValid);
            EXPECT_FLOAT_EQ(s.viewStart, 2.0f);
            EXPECT_FLOAT_EQ(s.viewEnd, 10.0f);
            EXPECT_EQ(s.timelineView, 1);
        }
        EXPECT_EQ(s.soloLayer, -1);
        EXPECT_EQ(s.lastSoloLayer, 4);
        EXPECT_EQ(LivePlaybackEngine.soloVoice.load(), -1);
    }
}

// [SECTION] Scene bar

TEST_F(EventListTest, SceneBarChoosesAllOrAScene) {
    p.totalDuration = 0.4f;
    p.scenes = {Scene{.name = "A", .inTime = 2.0f, .outTime = 6.0f, .keywords = "rain"}};
    s.playhead = 0.0f;
    ChooseListScene(s, p, 0);
    EXPECT_EQ(s.workAreaScene, 0);
    EXPECT_FLOAT_EQ(s.workAreaIn, 2.0f);
    EXPECT_FLOAT_EQ(s.workAreaOut, 6.0f);
    EXPECT_FLOAT_EQ(s.viewStart, 2.0f);
    EXPECT_FLOAT_EQ(s.viewEnd, 6.0f);
    EXPECT_FLOAT_EQ(s.playhead, 2.0f) << "stopped: the playhead goes to the scene";
    EXPECT_STREQ(s.sceneKeywordTemplate, "rain");
    ChooseListScene(s, p, 3);  // stale
    EXPECT_EQ(s.workAreaScene, 0);

    ChooseAllScenes(s, p);
    EXPECT_EQ(s.workAreaScene, -1);
    EXPECT_FALSE(s.HasWorkArea());
    EXPECT_FLOAT_EQ(s.viewStart, 0.0f);
    EXPECT_FLOAT_EQ(s.ViewSpan(), 1.0f) << "at least a second in view";
}

TEST_F(EventListTest, SceneAddIsRefusedWithItsReason) {
    struct Case {
        const char* name;
        float in, out;
        std::int32_t scene;
        const char* refusal;
    };
    const Case cases[] = {
        {"no work area", -1.0f, -1.0f, -1, "Set work area first (I/O keys)"},
        {"inverted work area", 5.0f, 3.0f, -1, "Set work area first (I/O keys)"},
        {"a scene is selected", 1.0f, 3.0f, 0, "Detach first (adjust I/O)"},
        {"a free work area", 7.0f, 9.0f, -1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.scenes = {Scene{.name = "Scene 1", .inTime = 1.0f, .outTime = 3.0f}};
        s.workAreaIn = c.in;
        s.workAreaOut = c.out;
        s.workAreaScene = c.scene;
        s.unsavedChanges = false;
        const char* refusal = SceneAddRefusal(s, p);
        if (c.refusal == nullptr) {
            EXPECT_EQ(refusal, nullptr);
        } else {
            EXPECT_STREQ(refusal, c.refusal);
        }
        const std::int32_t added = AddSceneFromBar(s, p);
        EXPECT_EQ(added >= 0, c.refusal == nullptr);
        EXPECT_EQ(p.scenes.size(), c.refusal == nullptr ? 2u : 1u);
        if (added >= 0) {
            EXPECT_STREQ(p.scenes[static_cast<std::size_t>(added)].name, "Scene 2");
            EXPECT_EQ(s.workAreaScene, added);
            EXPECT_TRUE(s.unsavedChanges) << "no undo step, so it marks the change";
        }
    }
}

// The fault: carrying the field every frame with whatever it holds empties
// the scene's name, and its backgrounds' folder, the moment it is cleared.
TEST_F(EventListTest, SceneRenameCarriesOnlyANonEmptyName) {
    p.scenes = {Scene{.name = "Rain", .inTime = 1.0f, .outTime = 3.0f}};
    Event fill = InFolder(1, "Rain");
    fill.sceneFill = true;
    fill.sceneLink = 0;
    p.events = {fill};
    s.workAreaScene = 0;
    ToggleSceneBarRename(s, p);
    ASSERT_TRUE(s.sceneRenameActive);
    EXPECT_STREQ(s.sceneRenameBuffer, "Rain");

    CopyText(s.sceneRenameBuffer, "Storm");
    CarrySceneBarRename(s, p);
    EXPECT_STREQ(p.scenes[0].name, "Storm");
    EXPECT_STREQ(p.events[0].folder, "Storm");
    EXPECT_TRUE(s.unsavedChanges);

    s.sceneRenameBuffer[0] = '\0';
    CarrySceneBarRename(s, p);
    ToggleSceneBarRename(s, p);  // the rename ends with the field empty
    EXPECT_FALSE(s.sceneRenameActive);
    EXPECT_STREQ(p.scenes[0].name, "Storm");
    EXPECT_STREQ(p.events[0].folder, "Storm");

    // Another scene chosen meanwhile ends the rename rather than renaming it.
    p.scenes.push_back(Scene{.name = "Sun", .inTime = 4.0f, .outTime = 5.0f});
    ToggleSceneBarRename(s, p);
    CopyText(s.sceneRenameBuffer, "Hail");
    s.workAreaScene = 1;
    CarrySceneBarRename(s, p);
    EXPECT_FALSE(s.sceneRenameActive);
    EXPECT_STREQ(p.scenes[1].name, "Sun");
}

TEST_F(EventListTest, SceneDeleteTakesItsBackgroundsAndRenumbersLinks) {
    p.scenes = {Scene{.name = "A", .inTime = 0.0f, .outTime = 2.0f}, Scene{.name = "B", .inTime = 2.0f, .outTime = 4.0f},
                Scene{.name = "C", .inTime = 4.0f, .outTime = 6.0f}};
    Event fillB = InFolder(2, "B");
    fillB.sceneFill = true;
    fillB.sceneLink = 1;
    Event spotB = InFolder(3, "");
    spotB.sceneLink = 1;  // linked but not a background: stays, unlinked
    Event fillC = InFolder(4, "C");
    fillC.sceneFill = true;
    fillC.sceneLink = 2;
    p.events = {fillB, spotB, fillC};
    s.workAreaScene = 1;
    s.sceneRenameActive = true;
    s.selectedEvents = {2};
    s.selectedEvent = 2;
    ASSERT_TRUE(DeleteSceneFromBar(s, p));
    ASSERT_EQ(p.scenes.size(), 2u);
    ASSERT_EQ(p.events.size(), 2u);
    EXPECT_EQ(p.events[0].sceneLink, -1);
    EXPECT_EQ(p.events[1].sceneLink, 1) << "C's background follows C";
    EXPECT_EQ(s.selectedEvent, 1);
    EXPECT_EQ(s.workAreaScene, -1);
    EXPECT_FALSE(s.sceneRenameActive);
    EXPECT_EQ(UndoStack.size(), 1u);
    EXPECT_FALSE(DeleteSceneFromBar(s, p)) << "nothing selected";
}

// [SECTION] Frames through the UI library

class EventListFrameTest : public EventListTest {
protected:
    void SetUp() override {
        EventListTest::SetUp();
        layout_.fontSize = 18.0f;
        layout_.panelOtherWidth = 300.0f;
        layout_.topAreaHeight = 420.0f;
        Frame();
    }
    std::function<void()> body() {
        return [this] {
            ImGui::SetCursorPos(ImVec2(0.0f, 0.0f));
            DrawEventList(layout_);
        };
    }
    void Frame() { frames_.Run(body()); }
    ImGuiWindow* Scroll() {
        return test::FindActiveWindow("##evscroll");
    }
    // Clicks at (x, y) from the scroll child's top left.
    void ClickAt(float x, float y) {
        Frame();
        ImGuiWindow* w = Scroll();
        ASSERT_NE(w, nullptr);
        harness_.MoveMouse(w->Pos.x + x, w->Pos.y + y);
        Frame();
        frames_.Click(w->Pos.x + x, w->Pos.y + y, body());
        harness_.MoveMouse(2000.0f, 2000.0f);
        Frame();
    }
    float RowHeight() const { return std::max(2.0f * layout_.fontSize, 32.0f); }
    float HeaderHeight() const { return 0.85f * RowHeight(); }
    float Gap() const { return std::max(0.12f * layout_.fontSize, 2.0f); }

    test::UiHarness harness_;
    test::PanelFrames frames_{harness_};
    UILayout layout_;
};

TEST_F(EventListFrameTest, AnEmptyProjectDrawsTheBarAndTheDropZone) {
    Frame();
    ImGuiWindow* w = Scroll();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(s.eventListOrder.empty());
    EXPECT_EQ(s.listCacheEventCount, 0);
}

TEST_F(EventListFrameTest, RowClicksSelectThenUnfold) {
    p.events = {InFolder(3, ""), InFolder(1, "")};
    // Without folders there is no header: the first row is the earliest event.
    ClickAt(60.0f, RowHeight() * 0.5f);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{1}));
    s.scrollToSelection = false;
    ClickAt(60.0f, RowHeight() * 0.5f);
    EXPECT_EQ(s.expandedEvent, 1);
    // The second row sits a gap and the folded-row pixel below the first.
    ClickAt(60.0f, RowHeight() + Gap() + 1.0f + RowHeight() * 0.5f);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{0}));
}

TEST_F(EventListFrameTest, HeaderDoubleClickRenamesAndEscapeKeepsTheName) {
    p.events = {InFolder(1, "Hits")};
    ClickAt(120.0f, HeaderHeight() * 0.5f);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{0})) << "a plain click selects the folder";
    // A double-click: two presses inside the double-click time.
    ImGuiWindow* w = Scroll();
    ASSERT_NE(w, nullptr);
    const float x = w->Pos.x + 120.0f, y = w->Pos.y + HeaderHeight() * 0.5f;
    harness_.MoveMouse(x, y);
    Frame();
    frames_.Click(x, y, body());
    frames_.Click(x, y, body());
    EXPECT_EQ(s.renamingFolder, "Hits");
    Frame();
    Frame();
    EXPECT_TRUE(ImGui::GetIO().WantTextInput) << "the field has the focus";
    frames_.Press(ImGuiKey_Escape, body());
    EXPECT_TRUE(s.renamingFolder.empty());
    EXPECT_STREQ(p.events[0].folder, "Hits");
    EXPECT_TRUE(UndoStack.empty());
}

// Dragging a row carries the selection: onto a header into that folder,
// onto the space below the rows out of every folder.
TEST_F(EventListFrameTest, DraggedRowsDropOnAHeaderOrTheDropZone) {
    p.events = {InFolder(1, "Hits"), InFolder(5, "")};
    Frame();
    ImGuiWindow* w = Scroll();
    ASSERT_NE(w, nullptr);
    const float x = w->Pos.x + 80.0f;
    const float firstRow = w->Pos.y + HeaderHeight() + 2.0f;
    const float secondRow = firstRow + RowHeight() + Gap() + 1.0f;
    const auto drag = [&](float fromY, float toY) {
        harness_.MoveMouse(x, fromY);
        Frame();
        harness_.SetMouseButton(0, true);
        Frame();
        for (int step = 1; step <= 6; ++step) {
            harness_.MoveMouse(x, fromY + (toY - fromY) * static_cast<float>(step) / 6.0f);
            Frame();
        }
        harness_.SetMouseButton(0, false);
        Frame();
        harness_.MoveMouse(2000.0f, 2000.0f);
        Frame();
    };
    drag(secondRow + RowHeight() * 0.5f, w->Pos.y + HeaderHeight() * 0.5f);
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{1})) << "the dragged row is selected";
    EXPECT_STREQ(p.events[1].folder, "Hits");
    EXPECT_STREQ(p.events[0].folder, "Hits");
    EXPECT_EQ(UndoStack.size(), 1u);

    // Both rows now sit under the header; the space below them is the zone.
    const float below = secondRow + RowHeight() + 40.0f;
    drag(firstRow + RowHeight() * 0.5f, below);
    EXPECT_STREQ(p.events[0].folder, "");
    EXPECT_STREQ(p.events[1].folder, "Hits") << "only the selection moves";
}

// The unfolded event's layer rows as drawn: the name auditions, the mute
// button mutes, the next button with no history asks for another sound,
// which starts one job after the rows.
TEST_F(EventListFrameTest, LayerRowButtonsReachTheirLayers) {
    p.events = {InFolder(1, "", EventKind::Spot)};
    p.results.resize(2);
    for (std::size_t i = 0; i < 2; ++i) {
        p.results[i].eventIdx = 0;
        p.results[i].name = "layer";
        p.results[i].filepath = "/layer.wav";
        p.results[i].startTime = 1.0f + static_cast<float>(i);
        p.results[i].groupTrack = 0;
    }
    AddVoice(0, 1);  // voice 0 plays layer 1
    AddVoice(0, 0);
    s.selectedEvents = {0};
    s.selectedEvent = 0;
    s.expandedEvent = 0;
    const float f = layout_.fontSize;
    const float h2 = std::max(1.3f * f, 22.0f);
    const float bw = std::max(1.1f * f, 16.0f);
    const float firstTop = RowHeight() + Gap();
    const float secondTop = firstTop + h2 + 13.0f + 1.0f;
    const float buttonMid = 6.0f + (h2 - 2.0f) * 0.5f;

    ClickAt(150.0f, secondTop + buttonMid);  // the second layer's name
    EXPECT_EQ(s.soloLayer, 1);
    EXPECT_EQ(LivePlaybackEngine.soloVoice.load(), 0);
    EXPECT_TRUE(s.playing);
    s.playing = false;
    LivePlaybackEngine.playing.store(false);

    ClickAt(15.0f + 2.0f * bw + 3.0f + 4.0f, firstTop + buttonMid);  // the first layer's mute
    EXPECT_TRUE(p.results[0].muted);
    EXPECT_FALSE(p.results[1].muted);
    EXPECT_EQ(UndoStack.size(), 1u);

    ClickAt(15.0f + bw + 1.0f + bw * 0.5f, secondTop + buttonMid);  // next, with no history
    EXPECT_TRUE(s.backgroundJob.active.load());
    EXPECT_STREQ(s.backgroundJob.label, "Loading next sound...");
    EXPECT_EQ(UndoStack.size(), 2u);
    s.backgroundJob.active.store(false);
    s.backgroundJob.work = nullptr;
}

}  // namespace
}  // namespace korvel
