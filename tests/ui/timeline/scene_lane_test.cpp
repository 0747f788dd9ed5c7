// The scene lane: drawing, the work-area ghost, selection and zoom, the
// arrows, split, delete, trim and the inline rename, mostly through
// headless frames of the lane step; sorting and trim snapping directly.
#include "ui/timeline/scene_lane.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/background_job.h"
#include "scene_fixture.h"

namespace korvel {
namespace {

using test::SceneLaneUi;

class SceneLaneTest : public ::testing::Test {
protected:
    void SetUp() override { test::ResetSceneState(); }
    void TearDown() override { test::ResetSceneState(); }

    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

// [SECTION] Sorting

TEST_F(SceneLaneTest, SortingMovesLinksWithTheirScenes) {
    p.scenes = {test::MakeScene("C", 8, 9), test::MakeScene("A", 1, 2), test::MakeScene("B", 4, 5)};
    p.events = {test::Linked(0, true), test::Linked(1, false), test::Linked(2, true), test::Linked(-1, false),
                test::Linked(7, false)};
    const std::vector<std::int32_t> newIndex = SortScenes(p);
    EXPECT_EQ(newIndex, (std::vector<std::int32_t>{2, 0, 1}));
    ASSERT_EQ(p.scenes.size(), 3u);
    EXPECT_STREQ(p.scenes[0].name, "A");
    EXPECT_STREQ(p.scenes[2].name, "C");
    EXPECT_EQ(p.events[0].sceneLink, 2);
    EXPECT_EQ(p.events[1].sceneLink, 0);
    EXPECT_EQ(p.events[2].sceneLink, 1);
    EXPECT_EQ(p.events[3].sceneLink, -1);
    EXPECT_EQ(p.events[4].sceneLink, 7) << "a link out of range is left for the frame to drop";
}

// [SECTION] Drawing

// Scenes at [0, 2] and [6, 8]; 100 px per second, so a frame is 4 px.
TEST_F(SceneLaneTest, DrawingAScene) {
    struct Case {
        const char* name;
        float from;  // seconds
        float to;
        int moveFrames;  // frames between press and release
        bool created;
        float in, out;
    };
    const Case cases[] = {
        {"press without a move", 4.0f, 4.0f, 1, false, 0, 0},
        {"a one-frame drag", 4.0f, 4.04f, 2, false, 0, 0},
        {"a three-frame drag", 4.0f, 4.12f, 2, true, 4.0f, 4.12f},
        {"held before the next scene", 4.0f, 7.5f, 3, true, 4.0f, 6.0f},
        {"held after the previous scene", 4.0f, 1.0f, 3, true, 2.0f, 4.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ResetSceneState();
        test::SetLaneView(0.0f, 8.0f);
        p.totalDuration = 8.0f;
        p.scenes = {test::MakeScene("Scene 1", 0, 2), test::MakeScene("Scene 2", 6, 8)};
        s.sceneDrawArmed = true;
        SceneLaneUi ui;
        ui.Press(SceneLaneUi::X(c.from));
        EXPECT_TRUE(SceneLane.drawActive);
        for (int i = 0; i < c.moveFrames; ++i) ui.Move(SceneLaneUi::X(c.to));
        ui.Release();
        EXPECT_FALSE(SceneLane.drawActive);
        if (!c.created) {
            EXPECT_EQ(p.scenes.size(), 2u);
            EXPECT_TRUE(s.sceneDrawArmed) << "arming stays after a refused draw";
            EXPECT_TRUE(UndoStack.empty());
            continue;
        }
        ASSERT_EQ(p.scenes.size(), 3u);
        const Scene& made = p.scenes[1];
        EXPECT_STREQ(made.name, "Scene 3");
        EXPECT_NEAR(made.inTime, c.in, 1e-4f);
        EXPECT_NEAR(made.outTime, c.out, 1e-4f);
        EXPECT_FALSE(s.sceneDrawArmed);
        EXPECT_EQ(s.workAreaScene, 1);
        EXPECT_EQ(s.workAreaIn, made.inTime);
        EXPECT_EQ(s.workAreaOut, made.outTime);
        EXPECT_EQ(UndoStack.size(), 1u);
        EXPECT_STREQ(s.sceneNameBuffer, "Scene 3");
        EXPECT_TRUE(s.backgroundAfterRename);
        if (made.outTime - made.inTime < 0.5f) {
            EXPECT_EQ(s.renamingScene, -1) << "too narrow for the field";
            continue;
        }
        // The rename opens on the new scene; when it ends the picker follows.
        EXPECT_EQ(s.renamingScene, 1);
        ui.Frame();
        ui.Frame();
        ui.Key(ImGuiKey_Enter);
        EXPECT_EQ(s.renamingScene, -1);
        EXPECT_EQ(s.sceneBackgroundRequest, 1);
        ui.Frame();
        EXPECT_TRUE(ui.pickerOpen);
    }
}

TEST_F(SceneLaneTest, AShortDrawClearsTheSceneSelection) {
    test::SetLaneView(0.0f, 8.0f);
    p.scenes = {test::MakeScene("A", 0, 2)};
    s.sceneDrawArmed = true;
    s.workAreaScene = 0;
    s.workAreaIn = 0.0f;
    s.workAreaOut = 2.0f;
    s.sceneZoomSavedStart = 1.0f;
    s.sceneZoomSavedSpan = 4.0f;
    SceneLaneUi ui;
    ui.Click(SceneLaneUi::X(5.0f));
    EXPECT_EQ(s.workAreaScene, -1);
    EXPECT_FALSE(s.HasWorkArea());
    EXPECT_EQ(s.sceneZoomSavedStart, -1.0f);
    EXPECT_TRUE(s.sceneDrawArmed);
}

TEST_F(SceneLaneTest, NoDrawingUnderALiveBuild) {
    test::SetLaneView(0.0f, 8.0f);
    s.sceneDrawArmed = true;
    SceneLaneUi ui;
    ui.Press(SceneLaneUi::X(2.0f));
    s.backgroundJob.active.store(true);
    ui.Move(SceneLaneUi::X(5.0f));
    ui.Release();
    EXPECT_TRUE(p.scenes.empty());
    s.backgroundJob.active.store(false);
}

// [SECTION] The work-area ghost

// The work area [2, 4] is at x 300..500; the press makes the scene and then
// acts on it as a press on that scene would.
TEST_F(SceneLaneTest, GhostPressCreatesTheSceneAndActsOnIt) {
    struct Case {
        const char* name;
        float x;
        bool trim;
        bool menu;
        bool zoomed;
        std::size_t undoSteps;
    };
    const Case cases[] = {
        {"middle: frames the new scene", 400.0f, false, false, true, 0},
        {"near the in edge: trims it", 303.0f, true, false, false, 1},
        {"near the out edge: trims it", 498.0f, true, false, false, 1},
        {"on the menu glyph: opens its menu", 490.0f, false, true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ResetSceneState();
        test::SetLaneView(0.0f, 8.0f);
        p.scenes = {test::MakeScene("First", 5, 7)};
        std::snprintf(s.sceneKeywordTemplate, sizeof(s.sceneKeywordTemplate), "%s", "wind");
        s.workAreaIn = 2.0f;
        s.workAreaOut = 4.0f;
        ASSERT_TRUE(SceneGhostShown(s, p));
        SceneLaneUi ui;
        ui.Press(c.x);
        ASSERT_EQ(p.scenes.size(), 2u);
        const Scene& made = p.scenes[0];
        EXPECT_STREQ(made.name, "Scene 2");
        EXPECT_STREQ(made.keywords, "wind");
        // A trim's press already moves the grabbed edge to the pointer.
        EXPECT_NEAR(made.inTime, 2.0f, 0.05f);
        EXPECT_NEAR(made.outTime, 4.0f, 0.05f);
        EXPECT_EQ(s.workAreaScene, 0);
        EXPECT_TRUE(s.unsavedChanges) << "the ghost takes no undo snapshot, so it marks the change itself";
        EXPECT_EQ(UndoStack.size(), c.undoSteps);
        EXPECT_EQ(SceneLane.trimScene >= 0, c.trim);
        EXPECT_EQ(ui.menuOpen, c.menu);
        EXPECT_EQ(s.sceneZoomSavedStart >= 0.0f, c.zoomed);
        if (c.zoomed) {
            EXPECT_EQ(s.viewStart, 2.0f);
            EXPECT_EQ(s.viewEnd, 4.0f);
        }
        if (!c.menu) {
            EXPECT_EQ(s.renamingScene, 0);
            EXPECT_TRUE(s.backgroundAfterRename);
        }
        ui.Release();
        EXPECT_FALSE(SceneGhostShown(s, p));
    }
}

TEST_F(SceneLaneTest, GhostShownOnlyForAFreeWorkArea) {
    struct Case {
        const char* name;
        float in, out;
        std::int32_t workAreaScene;
        bool shown;
    };
    const Case cases[] = {
        {"a free work area", 2.0f, 4.0f, -1, true},
        {"no work area", -1.0f, -1.0f, -1, false},
        {"reversed", 4.0f, 2.0f, -1, false},
        {"a scene owns it", 2.0f, 4.0f, 0, false},
        {"a scene matches it within 0.01 s", 5.005f, 6.995f, -1, false},
        {"a stale owner still hides it", 2.0f, 4.0f, 9, false},
    };
    p.scenes = {test::MakeScene("A", 5, 7)};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.workAreaIn = c.in;
        s.workAreaOut = c.out;
        s.workAreaScene = c.workAreaScene;
        EXPECT_EQ(SceneGhostShown(s, p), c.shown);
    }
}

TEST_F(SceneLaneTest, GhostRefusedUnderALiveBuild) {
    test::SetLaneView(0.0f, 8.0f);
    s.workAreaIn = 2.0f;
    s.workAreaOut = 4.0f;
    s.backgroundJob.active.store(true);
    SceneLaneUi ui;
    ui.Click(400.0f);
    EXPECT_TRUE(p.scenes.empty());
    EXPECT_FALSE(s.unsavedChanges);
    s.backgroundJob.active.store(false);
}

// [SECTION] Selection, zoom and arrows

TEST_F(SceneLaneTest, SelectZoomAndUnzoom) {
    test::SetLaneView(0.0f, 8.0f);
    p.scenes = {test::MakeScene("Rain", 1, 3, "rain heavy"), test::MakeScene("Quiet", 4, 6)};
    SceneLaneUi ui;

    ui.Click(SceneLaneUi::X(2.0f));
    EXPECT_EQ(s.workAreaScene, 0);
    EXPECT_EQ(s.workAreaIn, 1.0f);
    EXPECT_EQ(s.workAreaOut, 3.0f);
    EXPECT_EQ(s.playhead, 1.0f);
    EXPECT_STREQ(s.sceneKeywordTemplate, "rain heavy");
    EXPECT_EQ(s.sceneZoomSavedStart, -1.0f);

    ui.Click(SceneLaneUi::X(2.0f));
    EXPECT_EQ(s.sceneZoomSavedStart, 0.0f);
    EXPECT_EQ(s.sceneZoomSavedSpan, 8.0f);
    EXPECT_EQ(s.viewStart, 1.0f);
    EXPECT_EQ(s.viewEnd, 3.0f);

    ui.Click(SceneLaneUi::X(2.0f));
    EXPECT_EQ(s.sceneZoomSavedStart, -1.0f);
    EXPECT_EQ(s.viewStart, 0.0f);
    EXPECT_EQ(s.viewEnd, 8.0f);

    // A scene without keywords leaves the template alone; playing keeps
    // the playhead.
    s.playing = true;
    s.playhead = 0.5f;
    ui.Click(SceneLaneUi::X(5.0f));
    EXPECT_EQ(s.workAreaScene, 1);
    EXPECT_STREQ(s.sceneKeywordTemplate, "rain heavy");
    EXPECT_EQ(s.playhead, 0.5f);

    // Empty lane space, not armed: the selection goes.
    ui.Click(SceneLaneUi::X(7.0f));
    EXPECT_EQ(s.workAreaScene, -1);
    EXPECT_FALSE(s.HasWorkArea());
}

TEST_F(SceneLaneTest, ArrowsSelectAndFrameNeighbours) {
    test::SetLaneView(0.0f, 30.0f);
    p.scenes = {test::MakeScene("One", 1, 3, "one"), test::MakeScene("Two", 4, 6),
                test::MakeScene("Three", 10, 20, "three")};
    SceneLaneUi ui;
    ui.Click(SceneLaneUi::X(5.0f));
    ui.Click(SceneLaneUi::X(5.0f));  // zoomed on Two: the arrows show
    ASSERT_EQ(s.sceneZoomSavedStart, 0.0f);

    ui.Click(895.0f);  // next
    EXPECT_EQ(s.workAreaScene, 2);
    EXPECT_EQ(s.viewStart, 10.0f);
    EXPECT_EQ(s.viewEnd, 20.0f);
    EXPECT_EQ(s.playhead, 10.0f);
    EXPECT_STREQ(s.sceneKeywordTemplate, "three");
    EXPECT_EQ(s.sceneZoomSavedStart, 0.0f) << "the saved view stays so the arrows remain";
    EXPECT_EQ(s.sceneZoomSavedSpan, 30.0f);

    ui.Click(105.0f);  // previous
    EXPECT_EQ(s.workAreaScene, 1);
    EXPECT_EQ(s.viewStart, 4.0f);
    EXPECT_EQ(s.viewEnd, 6.0f);
    EXPECT_STREQ(s.sceneKeywordTemplate, "three") << "Two has no keywords";

    // Back out of the zoom: the arrows go, the saved view returns.
    ui.Click(500.0f);
    EXPECT_EQ(s.viewStart, 0.0f);
    EXPECT_EQ(s.viewEnd, 30.0f);
    EXPECT_EQ(s.sceneZoomSavedStart, -1.0f);
}

TEST_F(SceneLaneTest, RightPressOpensTheMenuOnAScene) {
    test::SetLaneView(0.0f, 8.0f);
    p.scenes = {test::MakeScene("A", 1, 3)};
    SceneLaneUi ui;
    ui.Click(SceneLaneUi::X(2.0f), test::kLaneY, 1);
    EXPECT_TRUE(ui.menuOpen);
    EXPECT_EQ(s.workAreaScene, 0);
    EXPECT_EQ(s.workAreaOut, 3.0f);
    ui.Click(500.0f, 300.0f);  // outside: the menu closes
    EXPECT_FALSE(ui.menuOpen);
    ui.Click(SceneLaneUi::X(6.0f), test::kLaneY, 1);
    EXPECT_TRUE(ui.menuOpen) << "on empty space the menu opens all the same";
    EXPECT_EQ(s.workAreaScene, 0);
}

TEST_F(SceneLaneTest, TraceViewLeavesTheLaneInert) {
    test::SetLaneView(0.0f, 8.0f);
    p.scenes = {test::MakeScene("A", 1, 3)};
    SceneLaneUi ui;
    ui.traceView = true;
    ui.Click(SceneLaneUi::X(2.0f));
    EXPECT_EQ(s.workAreaScene, -1);
}

TEST_F(SceneLaneTest, AudioDragTargetsTheSceneUnderTheDrop) {
    test::SetLaneView(0.0f, 8.0f);
    p.scenes = {test::MakeScene("A", 1, 3), test::MakeScene("B", 4, 6)};
    SceneLaneUi ui;
    struct Case {
        const char* name;
        bool hoverAudio;
        float x, y;
        std::int32_t target;
    };
    const Case cases[] = {
        {"over B", true, SceneLaneUi::X(5.0f), test::kLaneY, 1},
        {"between scenes", true, SceneLaneUi::X(3.5f), test::kLaneY, -1},
        {"below the lane", true, SceneLaneUi::X(5.0f), 80.0f, -1},
        {"no audio dragged", false, SceneLaneUi::X(5.0f), test::kLaneY, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.dropState.hoverAudio = c.hoverAudio;
        s.dropState.dropX = c.x;
        s.dropState.dropY = c.y;
        s.dropState.dropTargetScene = 7;
        ui.ui.MoveMouse(-100.0f, -100.0f);  // no pointer during a desktop drag
        ui.Frame();
        EXPECT_EQ(s.dropState.dropTargetScene, c.target);
    }
}

// [SECTION] Split

TEST_F(SceneLaneTest, SplitEnabledOnlyAwayFromTheEdges) {
    struct Case {
        const char* name;
        float fps;
        float playhead;
        float in, out;
        bool enabled;
    };
    const Case cases[] = {
        {"middle", 25.0f, 4.0f, 2.0f, 6.0f, true},
        {"two frames after the start", 25.0f, 2.08f, 2.0f, 6.0f, false},
        {"three frames after the start", 25.0f, 2.12f, 2.0f, 6.0f, true},
        {"two frames before the end", 25.0f, 5.92f, 2.0f, 6.0f, false},
        {"three frames before the end", 25.0f, 5.88f, 2.0f, 6.0f, true},
        {"fps 0 reads as 25", 0.0f, 2.06f, 2.0f, 6.0f, false},
        {"a scene of no length", 25.0f, 2.0f, 2.0f, 2.0f, false},
        {"a reversed scene", 25.0f, 4.0f, 6.0f, 2.0f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.fps = c.fps;
        p.scenes = {test::MakeScene("A", c.in, c.out)};
        s.workAreaScene = 0;
        s.playhead = c.playhead;
        EXPECT_EQ(CanSplitScene(s, p), c.enabled);
    }
    s.workAreaScene = 3;
    s.playhead = 4.0f;
    EXPECT_FALSE(CanSplitScene(s, p)) << "a stale work-area scene";
}

TEST_F(SceneLaneTest, SplitCutsAtTheFrameAndKeepsLinks) {
    p.scenes = {test::MakeScene("Late", 8, 9), test::MakeScene("Rain", 2, 6, "rain")};
    p.events = {test::Linked(1, true), test::Linked(0, true)};
    s.workAreaScene = 1;
    s.playhead = 4.013f;
    ASSERT_TRUE(SplitSceneAtPlayhead(s, p));
    // Sorted: Rain, Rain (B), Late.
    ASSERT_EQ(p.scenes.size(), 3u);
    EXPECT_STREQ(p.scenes[0].name, "Rain");
    EXPECT_FLOAT_EQ(p.scenes[0].inTime, 2.0f);
    EXPECT_FLOAT_EQ(p.scenes[0].outTime, 4.0f);
    EXPECT_STREQ(p.scenes[1].name, "Rain (B)");
    EXPECT_FLOAT_EQ(p.scenes[1].inTime, 4.0f);
    EXPECT_FLOAT_EQ(p.scenes[1].outTime, 6.0f);
    EXPECT_STREQ(p.scenes[1].keywords, "rain");
    EXPECT_STREQ(p.scenes[2].name, "Late");
    EXPECT_EQ(p.events[0].sceneLink, 0) << "the split scene's background stays with its first half";
    EXPECT_EQ(p.events[1].sceneLink, 2);
    EXPECT_EQ(s.workAreaScene, 0);
    EXPECT_FLOAT_EQ(s.workAreaIn, 2.0f);
    EXPECT_FLOAT_EQ(s.workAreaOut, 4.0f);
    EXPECT_EQ(UndoStack.size(), 1u);

    s.backgroundJob.active.store(true);
    s.playhead = 3.0f;
    EXPECT_FALSE(SplitSceneAtPlayhead(s, p)) << "refused under a live build";
    EXPECT_EQ(p.scenes.size(), 3u);
    s.backgroundJob.active.store(false);
}

// [SECTION] Delete

TEST_F(SceneLaneTest, DeleteRemovesBackgroundsAndRenumbersLinks) {
    p.scenes = {test::MakeScene("S1", 0, 1), test::MakeScene("S2", 1, 2), test::MakeScene("S3", 2, 3),
                test::MakeScene("S4", 3, 4)};
    p.events = {
        test::Linked(1, true),   // 0: background of S2, deleted
        test::Linked(2, true),   // 1: S3's background -> link 1
        test::Linked(1, false),  // 2: linked to S2 without being a background: unlinked
        test::Linked(1, true),   // 3: background of S2, deleted
        test::Linked(3, false),  // 4: -> link 2
        test::Linked(0, true),   // 5: S1's, untouched
        test::Linked(-1, false), // 6
    };
    p.results.resize(2);
    p.results[0].eventIdx = 3;
    p.results[1].eventIdx = 4;
    s.selectedEvents = {3, 4};
    s.selectedEvent = 4;
    s.workAreaScene = 1;
    s.workAreaIn = 1.0f;
    s.workAreaOut = 2.0f;
    s.sceneZoomSavedStart = 0.0f;
    s.sceneZoomSavedSpan = 4.0f;
    ASSERT_TRUE(DeleteWorkAreaScene(s, p));

    ASSERT_EQ(p.scenes.size(), 3u);
    EXPECT_STREQ(p.scenes[1].name, "S3");
    ASSERT_EQ(p.events.size(), 5u);
    const std::int32_t links[] = {1, -1, 2, 0, -1};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(p.events[i].sceneLink, links[i]) << i;
    ASSERT_EQ(p.results.size(), 1u);
    EXPECT_EQ(p.results[0].eventIdx, 2) << "the layer follows its event down";
    EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{2}));
    EXPECT_EQ(s.selectedEvent, 2);
    EXPECT_EQ(s.workAreaScene, -1);
    EXPECT_FALSE(s.HasWorkArea());
    EXPECT_EQ(s.sceneZoomSavedStart, -1.0f);
    EXPECT_EQ(UndoStack.size(), 1u);
}

TEST_F(SceneLaneTest, DeleteRefusedWithoutAValidSceneOrUnderABuild) {
    p.scenes = {test::MakeScene("S1", 0, 1)};
    p.events = {test::Linked(0, true)};
    s.workAreaScene = 1;
    EXPECT_FALSE(DeleteWorkAreaScene(s, p));
    s.workAreaScene = 0;
    s.backgroundJob.active.store(true);
    EXPECT_FALSE(DeleteWorkAreaScene(s, p));
    s.backgroundJob.active.store(false);
    EXPECT_EQ(p.scenes.size(), 1u);
    EXPECT_EQ(p.events.size(), 1u);
    EXPECT_TRUE(UndoStack.empty());
}

// [SECTION] Trim

// 100 px per second: 8 px of snapping reach is 0.08 s.
TEST_F(SceneLaneTest, TrimSnapsAndKeepsOneFrame) {
    struct Case {
        const char* name;
        std::int32_t scene;
        int edge;
        float pointer;
        bool playing;
        float in, out;
        float playhead;
    };
    const Case cases[] = {
        {"in edge onto the previous scene's out", 1, 0, 3.05f, false, 3.0f, 6.0f, 3.0f},
        {"out edge onto the next scene's in", 0, 1, 4.07f, false, 1.0f, 4.0f, 4.0f},
        {"beyond the reach: the frame grid", 1, 0, 3.2f, false, 3.2f, 6.0f, 3.2f},
        {"in edge past the out edge", 1, 0, 7.48f, false, 5.96f, 6.0f, 7.48f},
        {"out edge before the in edge", 0, 1, 0.2f, false, 1.0f, 1.04f, 0.2f},
        {"while playing the playhead stays", 1, 0, 3.2f, true, 3.2f, 6.0f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ResetSceneState();
        test::SetLaneView(0.0f, 8.0f);
        p.scenes = {test::MakeScene("A", 1, 3), test::MakeScene("B", 4, 6)};
        s.workAreaScene = c.scene;
        s.workAreaIn = p.scenes[static_cast<std::size_t>(c.scene)].inTime;
        s.workAreaOut = p.scenes[static_cast<std::size_t>(c.scene)].outTime;
        s.playing = c.playing;
        TrimSceneEdge(s, p, c.scene, c.edge, c.pointer);
        const Scene& scene = p.scenes[static_cast<std::size_t>(c.scene)];
        EXPECT_NEAR(scene.inTime, c.in, 1e-4f);
        EXPECT_NEAR(scene.outTime, c.out, 1e-4f);
        EXPECT_EQ(s.workAreaIn, scene.inTime) << "the work area follows its scene";
        EXPECT_EQ(s.workAreaOut, scene.outTime);
        EXPECT_NEAR(s.playhead, c.playhead, 1e-4f);
    }
}

TEST_F(SceneLaneTest, TrimByDraggingTheWorkAreaSceneEdge) {
    test::SetLaneView(0.0f, 8.0f);
    p.scenes = {test::MakeScene("A", 1, 3), test::MakeScene("B", 4, 6)};
    SceneLaneUi ui;
    ui.Click(SceneLaneUi::X(5.0f));  // B becomes the work-area scene
    ui.Press(SceneLaneUi::X(6.0f) - 2.0f);
    EXPECT_EQ(SceneLane.trimScene, 1);
    EXPECT_EQ(SceneLane.trimEdge, 1);
    EXPECT_EQ(UndoStack.size(), 1u);
    ui.Move(SceneLaneUi::X(7.0f));
    EXPECT_FLOAT_EQ(p.scenes[1].outTime, 7.0f);
    EXPECT_FLOAT_EQ(s.workAreaOut, 7.0f);
    // The edit guard closing ends the trim without writing.
    s.backgroundJob.active.store(true);
    ui.Move(SceneLaneUi::X(7.5f));
    EXPECT_EQ(SceneLane.trimScene, -1);
    EXPECT_FLOAT_EQ(p.scenes[1].outTime, 7.0f);
    s.backgroundJob.active.store(false);
    ui.Release();
}

// [SECTION] Rename

TEST_F(SceneLaneTest, InlineRename) {
    struct Case {
        const char* name;
        float out;         // the scene is [1, out]
        const char* typed;  // replaces the selected name; null types nothing
        bool enter;         // Enter, else a click elsewhere on the lane
        const char* result;
        bool changed;
    };
    const Case cases[] = {
        {"Enter stores the text", 5.0f, "Harbour", true, "Harbour", true},
        {"losing focus stores it too", 5.0f, "Harbour", false, "Harbour", true},
        {"an empty text keeps the name", 5.0f, "", true, "Old", false},
        {"a scene too narrow for the field ends the rename", 1.2f, nullptr, true, "Old", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ResetSceneState();
        test::SetLaneView(0.0f, 8.0f);
        p.scenes = {test::MakeScene("Old", 1, c.out)};
        p.events = {test::Linked(0, true), test::Linked(0, false)};
        std::snprintf(p.events[0].folder, sizeof(p.events[0].folder), "%s", "Old");
        std::snprintf(p.events[1].folder, sizeof(p.events[1].folder), "%s", "Mine");
        StartSceneRename(s, p, 0, false);
        SceneLaneUi ui;
        ui.Frame();
        if (c.typed != nullptr) {
            EXPECT_FALSE(s.sceneNameFocus) << "the field took the focus";
            if (c.typed[0] == '\0') ui.Key(ImGuiKey_Backspace);
            else ui.Type(c.typed);
        }
        EXPECT_EQ(s.renamingScene, c.out > 2.0f ? 0 : -1);
        if (c.enter) ui.Key(ImGuiKey_Enter);
        else ui.Click(SceneLaneUi::X(7.0f));
        EXPECT_EQ(s.renamingScene, -1);
        EXPECT_STREQ(p.scenes[0].name, c.result);
        EXPECT_STREQ(p.events[0].folder, c.result) << "the background's folder carries the name";
        EXPECT_STREQ(p.events[1].folder, "Mine");
        EXPECT_EQ(s.unsavedChanges, c.changed) << "a rename takes no undo snapshot, so it marks the change";
        EXPECT_EQ(s.sceneBackgroundRequest, -1) << "a plain rename opens no picker";
    }
}

// The field lies over the lane: a click in it must reach the field, not
// end the rename as a click elsewhere on the lane does.
TEST_F(SceneLaneTest, AClickInTheRenameFieldKeepsEditing) {
    test::SetLaneView(0.0f, 8.0f);
    p.scenes = {test::MakeScene("Old", 1, 5)};
    StartSceneRename(s, p, 0, true);
    SceneLaneUi ui;
    ui.Frame();
    ui.Click(SceneLaneUi::X(3.0f));
    EXPECT_EQ(s.renamingScene, 0);
    EXPECT_EQ(s.sceneBackgroundRequest, -1);
    ui.Type("X");
    ui.Key(ImGuiKey_Enter);
    EXPECT_EQ(s.renamingScene, -1);
    EXPECT_STRNE(p.scenes[0].name, "Old") << "the typing after the click went into the field";
    EXPECT_EQ(s.sceneBackgroundRequest, 0);
    EXPECT_EQ(s.workAreaScene, -1) << "the click did not select the scene under the field";
}

TEST_F(SceneLaneTest, StaleRenameIndexShowsNoField) {
    test::SetLaneView(0.0f, 8.0f);
    p.scenes = {test::MakeScene("A", 1, 5)};
    s.renamingScene = 4;
    s.sceneNameFocus = true;
    SceneLaneUi ui;
    ui.Frame();
    EXPECT_EQ(s.renamingScene, 4);
    EXPECT_STREQ(p.scenes[0].name, "A");
    ui.Click(SceneLaneUi::X(3.0f));
    EXPECT_EQ(s.workAreaScene, 0) << "a stale rename does not block the lane";
}

}  // namespace
}  // namespace korvel
