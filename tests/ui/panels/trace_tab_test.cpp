// The trace tab drawn headless: the recipe preview handed to the engine as
// a new buffer from mono and stereo files written by the test, and the
// import button with its edit guard.
#include "ui/panels/trace_tab.h"

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <string>
#include <vector>

#include "app/ui_layout.h"
#include "panels_fixture.h"
#include "playback/playback_engine.h"
#include "presets/recipe_previews.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"
#include "trace_fixture.h"

namespace korvel {
namespace {

using test::Marker;

class TraceTabTest : public ::testing::Test {
protected:
    void SetUp() override {
        layout.panelWidth = 480.0f;
        layout.topAreaHeight = 340.0f;
        s.markerEvents = {Marker(1.0f), Marker(2.0f)};
        s.activeTab = 1;
    }
    void TearDown() override {
        StopPreview(LivePlaybackEngine);
        CollectRetiredPreviews(LivePlaybackEngine);
    }
    void Draw() {
        ImGui::SetCursorScreenPos(ImVec2(0.0f, 0.0f));
        DrawTraceTab(nullptr, layout);
        ImFont* font = s.fonts.smallFont;
        if (font != nullptr) ImGui::PushFont(font);
        g = LayOutTraceReview(layout.panelWidth, layout.topAreaHeight, ImGui::GetTextLineHeight(),
                              ImGui::GetTextLineHeightWithSpacing(), ImGui::GetFrameHeight());
        intro = LayOutTraceIntro(layout.panelWidth, layout.topAreaHeight, ImGui::GetTextLineHeightWithSpacing(),
                                 ImGui::GetFrameHeight());
        orWidth = ImGui::CalcTextSize("or  ").x;
        if (font != nullptr) ImGui::PopFont();
    }
    void Click(float x, float y) {
        frames.Run([&] { Draw(); });
        frames.Click(x, y, [&] { Draw(); });
    }
    float PreviewX() const { return g.previewX + g.frameHeight * 0.5f; }
    float PreviewY() const { return g.comboY + g.frameHeight * 0.5f; }

    test::TraceReviewState review;
    test::UiHarness ui;
    test::PanelFrames frames{ui};
    UILayout layout;
    TraceReviewGeometry g;
    TraceIntroGeometry intro;
    float orWidth = 0.0f;
    AppState& s = GlobalAppState;
};

TEST_F(TraceTabTest, PreviewIsHandedOverAsANewBuffer) {
    struct Case {
        const char* name;
        int channels;
        int frames;
        bool plays;
    };
    const Case cases[] = {
        {"a file without frames stays idle", 1, 0, false},
        {"mono", 1, 900, true},
        {"stereo keeps its first channel", 2, 700, true},
    };
    test::TempDir dir;
    EventPreset recipe = test::Recipe("Hit", EventKind::Spot);
    recipe.sourcePath = dir.file("Hit.kvrecipe");
    RecipeList = {recipe};
    traceRecipeIndex = 0;
    const std::string path = RecipePreviewPath(recipe);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StopPreview(LivePlaybackEngine);
        std::vector<float> samples;
        for (int f = 0; f < c.frames; ++f) {
            samples.push_back(0.25f);
            if (c.channels == 2) samples.push_back(-0.5f);
        }
        ASSERT_TRUE(test::WriteSoundFile(path, samples, c.channels, 22050, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
        const PreviewBuffer* before = LivePlaybackEngine.preview.load();
        Click(PreviewX(), PreviewY());
        const PreviewBuffer* after = LivePlaybackEngine.preview.load();
        EXPECT_EQ(IsPreviewRunning(LivePlaybackEngine), c.plays);
        if (!c.plays) continue;
        ASSERT_NE(after, nullptr);
        EXPECT_NE(after, before) << "a new buffer, never the one the audio thread may be reading";
        EXPECT_EQ(after->rate, 22050);
        ASSERT_EQ(after->samples.size(), static_cast<std::size_t>(c.frames));
        for (float v : after->samples) ASSERT_FLOAT_EQ(v, 0.25f);
    }

    // While it plays the same button stops it.
    ASSERT_TRUE(IsPreviewRunning(LivePlaybackEngine));
    Click(PreviewX(), PreviewY());
    EXPECT_FALSE(IsPreviewRunning(LivePlaybackEngine));

    // Without a recipe nothing plays.
    StopPreview(LivePlaybackEngine);
    traceRecipeIndex = -1;
    Click(PreviewX(), PreviewY());
    EXPECT_FALSE(IsPreviewRunning(LivePlaybackEngine));
}

TEST_F(TraceTabTest, IntroAsksForAVideoOrMarkers) {
    s.markerEvents.clear();
    std::string videoAsked = "/clips/reel1.mov";
    int markerAsks = 0;
    s.platformHooks.openVideoDialog = [&] { return videoAsked; };
    s.platformHooks.openFileDialog = [&](const std::string& title, const std::string& extension) {
        ++markerAsks;
        EXPECT_EQ(title, "Import Pro Tools Session Text");
        EXPECT_EQ(extension, "txt");
        return std::string();  // cancelled: nothing changes
    };
    frames.Run([&] { Draw(); });  // the geometry of this font
    const float centre = layout.panelWidth * 0.5f;
    Click(centre, intro.buttonY + 4.0f);
    EXPECT_EQ(s.dropState.droppedVideo, videoAsked) << "the frame loads it as a dropped video";
    EXPECT_EQ(markerAsks, 0);
    Click(centre + orWidth * 0.5f + 6.0f, intro.linkY + 4.0f);
    EXPECT_EQ(markerAsks, 1);
    EXPECT_TRUE(s.markerEvents.empty());
}

TEST_F(TraceTabTest, ImportButtonWaitsForTheEditGuard) {
    s.exportRunning.store(true);
    Click(layout.panelWidth * 0.5f, g.importY + 4.0f);
    EXPECT_TRUE(CurrentProject.events.empty());
    s.exportRunning.store(false);
    Click(layout.panelWidth * 0.5f, g.importY + 4.0f);
    EXPECT_EQ(CurrentProject.events.size(), 2u);
    EXPECT_TRUE(s.unsavedChanges);
    EXPECT_EQ(s.markerEvents.size(), 2u) << "the suggestions stay for another import";
}

}  // namespace
}  // namespace korvel
