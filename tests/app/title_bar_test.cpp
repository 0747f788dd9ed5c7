// The title bar's decisions, headless: the label blend, tab clicks, the
// project name cut to its room, the unsaved-changes prompt and the
// per-frame services.
#include "app/title_bar.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/frame_work.h"
#include "playback/audio_output.h"
#include "project/file_io.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

class TitleBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        app_ = std::make_unique<AppState>();
        ProjectLifeCycle = ProjectLifeCycleCalls{};
        // The saves write a real file, so a path that cannot be written fails.
        ProjectLifeCycle.saveProject = [this](const std::string& path) {
            savedTo_ = path;
            const bool ok = WriteFileAtomic(path, "{}");
            PostStatus(ok ? "Project saved" : "Save failed", 3.0f);
            return ok;
        };
        ProjectLifeCycle.runPendingProjectAction = [this] {
            ++pendingRuns_;
            app_->unsavedPromptState = 0;
        };
        GlobalAppState.statusMessage.clear();
        GlobalAppState.statusTime = 0.0f;
    }
    void TearDown() override { ProjectLifeCycle = ProjectLifeCycleCalls{}; }

    std::unique_ptr<AppState> app_;
    test::TempDir dir_;
    std::string savedTo_;
    int pendingRuns_ = 0;
};

TEST(TitleBarBlend, SettlesOnItsTargetAndSnaps) {
    float blend = 1.0f;
    int frames = 0;
    while (!StepBlend(blend, 0.0f, 13.0f, 1.0 / 60.0) && frames < 200) ++frames;
    EXPECT_EQ(blend, 0.0f) << "snapped, not creeping";
    EXPECT_GT(frames, 10) << "a short animation, not a jump";
    EXPECT_LT(frames, 60);

    // A long frame counts as 0.025 s: a stall does not skip the animation.
    float stalled = 1.0f;
    StepBlend(stalled, 0.0f, 13.0f, 2.0);
    EXPECT_NEAR(stalled, 1.0f - 13.0f * 0.025f, 1e-5f);
    float backwards = 0.5f;
    StepBlend(backwards, 1.0f, 13.0f, -1.0);
    EXPECT_EQ(backwards, 0.5f) << "a negative frame time moves nothing";
}

TEST(TitleBarBlend, LabelsFitOrNot) {
    struct Case {
        const char* name;
        float width;
        bool prompt;
        bool fits;
    };
    // x 150, labels 500, caption buttons 142: full labels need W ≥ 820,
    // and 1030 while the prompt takes its 210.
    const Case cases[] = {
        {"wide", 1280, false, true},
        {"exactly enough", 820, false, true},
        {"one unit short", 819, false, false},
        {"the prompt takes 210", 1000, true, false},
        {"room for the prompt too", 1030, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TabLabelsFit({c.width, 142.0f, 150.0f, 500.0f, c.prompt}), c.fits);
    }
    EXPECT_FLOAT_EQ(TabStripWidth(500.0f, 40.0f, 0.0f), 240.0f) << "six compact buttons";
    EXPECT_FLOAT_EQ(TabStripWidth(500.0f, 40.0f, 1.0f), 500.0f);
}

TEST(TitleBarName, NameFromPath) {
    struct Case {
        const char* path;
        const char* name;
    };
    const Case cases[] = {
        {"/home/me/Scene 12.kvproj", "Scene 12"},
        {"C:\\work\\Reel 3.kvproj", "Reel 3"},
        {"/a/b.c/noext", "noext"},
        {"/a/two.dots.kvproj", "two.dots"},
        {"plain.kvproj", "plain"},
    };
    for (const Case& c : cases) EXPECT_EQ(ProjectNameFromPath(c.path), c.name) << c.path;
}

// One unit per character, so the cut is counted in characters.
float CharWidth(std::string_view text) {
    float w = 0.0f;
    for (unsigned char c : text)
        if ((c & 0xC0u) != 0x80u) w += 1.0f;
    return w;
}

bool ValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0u) != 0x80u) return false;
        i += n;
    }
    return true;
}

TEST(TitleBarName, CutAtCharacterBoundariesWithEllipsis) {
    struct Case {
        const char* name;
        std::string text;
        float room;
        std::string expected;
    };
    const Case cases[] = {
        {"fits", "Reel", 4.0f, "Reel"},
        {"ascii cut", "Reel seven", 8.0f, "Reel ..."},
        {"two-byte letters", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 5.0f, "\xc3\xa9\xc3\xa9..."},
        {"three-byte letters", "\xe6\x98\xa0\xe7\x94\xbb\xe9\x9f\xb3\xe9\x9f\xbf", 3.5f, "..."},
        {"four-byte letters", "\xf0\x9f\x8e\xac\xf0\x9f\x8e\xac\xf0\x9f\x8e\xac\xf0\x9f\x8e\xac\xf0\x9f\x8e\xac", 4.5f, "\xf0\x9f\x8e\xac..."},
        {"300 characters", std::string(300, 'n'), 40.0f, std::string(37, 'n') + "..."},
        {"no room at all", "abc", 1.0f, "..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = FitTextWithEllipsis(c.text, c.room, CharWidth);
        EXPECT_EQ(out, c.expected);
        EXPECT_TRUE(ValidUtf8(out));
    }
}

TEST(TitleBarTabs, ClicksFollowTheRules) {
    struct Case {
        const char* name;
        int active;
        int clicked;
        int expectedTab;
        bool selectionCleared;
    };
    const Case cases[] = {
        {"another tab becomes active", 0, 4, 4, false},
        {"the active tab returns to events", 3, 3, 0, false},
        {"events clicked on events stays", 0, 0, 0, false},
        {"entering trace clears the selection", 2, 1, 1, true},
        {"leaving trace for trace returns to events", 1, 1, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto app = std::make_unique<AppState>();
        app->activeTab = c.active;
        app->selectedEvent = 3;
        app->selectedEvents = {3, 5};
        ClickMainTab(*app, c.clicked);
        EXPECT_EQ(app->activeTab, c.expectedTab);
        EXPECT_EQ(app->selectedEvents.empty(), c.selectionCleared);
        EXPECT_EQ(app->selectedEvent == -1, c.selectionCleared);
    }
}

TEST_F(TitleBarTest, FailedSaveKeepsThePromptAndThePendingAction) {
    // A folder cannot be made under a regular file, not even by root.
    ASSERT_TRUE(test::WriteBytes(dir_.file("plain"), "x"));
    app_->projectPath = dir_.file("plain") + "/Reel.kvproj";
    app_->unsavedPromptState = 1;
    app_->quitAfterPrompt = true;
    UnsavedPromptSave(*app_);
    EXPECT_EQ(pendingRuns_, 0) << "a quit after a failed save would throw the work away";
    EXPECT_EQ(app_->unsavedPromptState, 1);
    EXPECT_TRUE(app_->quitAfterPrompt);
    EXPECT_EQ(GlobalAppState.statusMessage, "Save failed");

    app_->projectPath = dir_.file("Reel.kvproj");
    UnsavedPromptSave(*app_);
    EXPECT_EQ(savedTo_, app_->projectPath);
    EXPECT_EQ(pendingRuns_, 1);
    EXPECT_EQ(app_->unsavedPromptState, 0);
}

TEST_F(TitleBarTest, SaveWithoutPathAsksTheDialog) {
    app_->unsavedPromptState = 1;
    std::string answer;
    std::string askedTitle;
    std::string askedExtension;
    app_->platformHooks.saveFileDialog = [&](const std::string& title, const std::string& extension) {
        askedTitle = title;
        askedExtension = extension;
        return answer;
    };
    UnsavedPromptSave(*app_);
    EXPECT_EQ(askedTitle, "Save Korvel Project");
    EXPECT_EQ(askedExtension, "kvproj");
    EXPECT_TRUE(savedTo_.empty()) << "a cancelled dialog saves nothing";
    EXPECT_EQ(pendingRuns_, 0);
    EXPECT_EQ(app_->unsavedPromptState, 1);

    answer = dir_.file("New.kvproj");
    UnsavedPromptSave(*app_);
    EXPECT_EQ(savedTo_, answer);
    EXPECT_EQ(pendingRuns_, 1);
}

TEST_F(TitleBarTest, DiscardRunsThePendingActionCancelDropsIt) {
    app_->unsavedPromptState = 1;
    UnsavedPromptDiscard(*app_);
    EXPECT_EQ(pendingRuns_, 1);
    EXPECT_TRUE(savedTo_.empty());

    app_->unsavedPromptState = 1;
    app_->quitAfterPrompt = true;
    app_->parkedOpenPath = "/x/y.kvproj";
    app_->openThroughDialog = true;
    UnsavedPromptCancel(*app_);
    EXPECT_EQ(pendingRuns_, 1);
    EXPECT_EQ(app_->unsavedPromptState, 0);
    EXPECT_FALSE(app_->quitAfterPrompt);
    EXPECT_TRUE(app_->parkedOpenPath.empty());
    EXPECT_FALSE(app_->openThroughDialog) << "a later prompt must not show the file dialog";
}

TEST_F(TitleBarTest, AutoSaveConditions) {
    struct Case {
        const char* name;
        bool enabled, unsaved, path, job;
        bool runs;
    };
    const Case cases[] = {
        {"all hold", true, true, true, false, true},
        {"switched off", false, true, true, false, false},
        {"nothing changed", true, false, true, false, false},
        {"never saved", true, true, false, false, false},
        {"a job runs", true, true, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto app = std::make_unique<AppState>();
        app->autoSaveEnabled = c.enabled;
        app->unsavedChanges = c.unsaved;
        if (c.path) app->projectPath = "/p/Reel.kvproj";
        app->backgroundJob.active.store(c.job);
        app->autoSaveInterval = 1.0f;
        int saves = 0;
        ProjectLifeCycle.autoSaveProject = [&](const std::string& path) {
            EXPECT_EQ(path, "/p/Reel.kvproj");
            ++saves;
            return true;
        };
        for (int i = 0; i < 8; ++i) AutoSaveTick(*app, 0.125);
        EXPECT_EQ(saves, c.runs ? 1 : 0);
    }
}

TEST_F(TitleBarTest, AutoSaveTimerRestartsEitherWayAndKeepsItsTimeWhilePaused) {
    app_->unsavedChanges = true;
    app_->projectPath = "/p/Reel.kvproj";
    app_->autoSaveInterval = 1.0f;
    bool succeed = false;
    int saves = 0;
    ProjectLifeCycle.autoSaveProject = [&](const std::string&) {
        ++saves;
        return succeed;
    };
    for (int i = 0; i < 8; ++i) AutoSaveTick(*app_, 0.125);
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(app_->autoSaveElapsed, 0.0) << "a failure restarts the interval too";
    EXPECT_TRUE(GlobalAppState.statusMessage.empty()) << "a failed backup says nothing";

    succeed = true;
    for (int i = 0; i < 5; ++i) AutoSaveTick(*app_, 0.125);
    app_->backgroundJob.active.store(true);
    for (int i = 0; i < 50; ++i) AutoSaveTick(*app_, 0.125);
    EXPECT_EQ(app_->autoSaveElapsed, 0.625) << "held, not reset, while a job runs";
    app_->backgroundJob.active.store(false);
    for (int i = 0; i < 3; ++i) AutoSaveTick(*app_, 0.125);
    EXPECT_EQ(saves, 2);
    EXPECT_EQ(GlobalAppState.statusMessage, "Auto-saved (backup)");
    EXPECT_FLOAT_EQ(GlobalAppState.statusTime, 2.0f);
}

TEST_F(TitleBarTest, DeviceIsCheckedEveryTwoAndAHalfSeconds) {
    int checks = 0;
    ProjectLifeCycle.recoverAudioDevice = [&] { ++checks; };
    LiveAudioOutput.deviceCheckTimer = 0.0f;
    for (int i = 0; i < 19; ++i) RunTitleBarServices(*app_, 0.125);
    EXPECT_EQ(checks, 0);
    RunTitleBarServices(*app_, 0.125);
    EXPECT_EQ(checks, 1);
    for (int i = 0; i < 20; ++i) RunTitleBarServices(*app_, 0.125);
    EXPECT_EQ(checks, 2);

    // What the check reports is on the status line in the same frame.
    ProjectLifeCycle.recoverAudioDevice = [] {
        LiveAudioOutput.statusText = "Audio device lost \u2014 could not reopen";
    };
    LiveAudioOutput.deviceCheckTimer = 2.4f;
    RunTitleBarServices(*app_, 0.125);
    EXPECT_EQ(GlobalAppState.statusMessage, "Audio device lost \u2014 could not reopen");
    EXPECT_FLOAT_EQ(GlobalAppState.statusTime, 5.0f);
    EXPECT_TRUE(LiveAudioOutput.statusText.empty());
    LiveAudioOutput.deviceCheckTimer = 0.0f;
}

}  // namespace
}  // namespace korvel
