// The launcher without drawing: each row's date and description read once
// per path (only as far as the description when the file starts as ours
// do), names cut at character boundaries, and the actions routed as the
// menu's New and Open: the unsaved-changes prompt, a parked path, refusal
// while a job or an export runs, and an unreadable row dropped.
#include "app/launcher.h"
#include "app/title_bar.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "project/app_state.h"
#include "project/file_io.h"
#include "project/project.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

TEST(LauncherDescription, ReadsTheRootStringMemberOrNothing) {
    const std::string bigArray = "[" + std::string(80000, ' ') + "1]";
    struct Case {
        const char* name;
        std::string text;
        const char* description;
    };
    const Case cases[] = {
        {"as written", "{\n  \"format\": \"kvproj\",\n  \"fps\": 24,\n  \"projectDescription\": \"Chase, reel 2\",\n"
                       "  \"events\": [\n    {}\n  ]\n}\n",
         "Chase, reel 2"},
        {"escapes decoded", R"({"projectDescription": "Caf\u00e9 \"night\""})", "Caf\xc3\xa9 \"night\""},
        {"after a large array", "{\"events\": " + bigArray + ", \"projectDescription\": \"late\"}", "late"},
        {"the first of two", R"({"projectDescription": "one", "projectDescription": "two"})", "one"},
        {"not a string", R"({"projectDescription": 12})", ""},
        {"nested only", R"({"meta": {"projectDescription": "inner"}})", ""},
        {"missing", R"({"fps": 24})", ""},
        {"root is an array", R"(["projectDescription", "x"])", ""},
        {"empty object", "{}", ""},
        {"empty file", "", ""},
        {"cut inside the description", R"({"fps": 24, "projectDescription": "half)", "half"},
        {"garbage", "\x01\x02 not json", ""},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("p.kvproj");
        ASSERT_TRUE(WriteFileAtomic(path, c.text));
        EXPECT_EQ(ReadProjectDescription(path), c.description);
        EXPECT_EQ(ProjectDescriptionFromText(c.text), c.description) << "the whole-file answer agrees";
    }
    EXPECT_EQ(ReadProjectDescription(dir.file("missing.kvproj")), "");
}

TEST(LauncherDescription, APrefixSettlesOnlyWhatItHoldsWhole) {
    std::string found;
    EXPECT_TRUE(ProjectDescriptionFromPrefix(R"({"a": 1, "projectDescription": "x", "events": [)", found));
    EXPECT_EQ(found, "x");
    EXPECT_TRUE(ProjectDescriptionFromPrefix(R"({"a": 1})", found));
    EXPECT_EQ(found, "");
    // The string, or what follows it, runs past the prefix.
    EXPECT_FALSE(ProjectDescriptionFromPrefix(R"({"projectDescription": "x)", found));
    EXPECT_FALSE(ProjectDescriptionFromPrefix(R"({"projectDescription": "x")", found));
    // A container comes first: the whole file decides.
    EXPECT_FALSE(ProjectDescriptionFromPrefix(R"({"events": [], "projectDescription": "x"})", found));
    EXPECT_FALSE(ProjectDescriptionFromPrefix("\xef\xbb\xbf{}", found));
}

TEST(LauncherRows, DateAndDescriptionAreReadOncePerPath) {
    ClearLauncherCaches();
    test::TempDir dir;
    const std::string path = dir.file("Reel.kvproj");
    ASSERT_TRUE(WriteFileAtomic(path, R"({"projectDescription": "first"})"));
    const std::string date = GetProjectModifiedDate(path);
    EXPECT_TRUE(std::regex_match(date, std::regex(R"([A-Z][a-z]{2} \d\d, \d{4}  \d\d:\d\d)"))) << date;
    EXPECT_EQ(GetProjectDescription(path), "first");

    ASSERT_TRUE(WriteFileAtomic(path, R"({"projectDescription": "second"})"));
    EXPECT_EQ(GetProjectDescription(path), "first") << "served from the session cache";
    std::remove(path.c_str());
    EXPECT_EQ(GetProjectModifiedDate(path), date);

    EXPECT_EQ(GetProjectModifiedDate(dir.file("gone.kvproj")), "");
    EXPECT_EQ(GetProjectDescription(dir.file("gone.kvproj")), "");
    ClearLauncherCaches();
}

TEST(LauncherRows, NamesAreCutAtCharacterBoundaries) {
    // One unit per byte: a cut inside a character would still fit, so only
    // the boundaries keep these from ending in half a character.
    const auto bytes = [](std::string_view t) { return static_cast<float>(t.size()); };
    EXPECT_EQ(FitTextWithEllipsis("\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 6.0f, bytes), "\xc3\xa9...");
    EXPECT_EQ(FitTextWithEllipsis("a\xf0\x9f\x8e\xacxyz", 7.0f, bytes), "a...");
}

class LauncherActionTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppState& s = GlobalAppState;
        s.launcherOpen = true;
        s.launcherDismissed = false;
        s.unsavedPromptState = 0;
        s.parkedOpenPath.clear();
        s.PendingOpenPath.clear();
        s.openThroughDialog = false;
        s.unsavedChanges = false;
        s.recentProjects.clear();
        s.statusMessage.clear();
        s.platformHooks.openFileDialog = nullptr;
        CurrentProject.events.clear();
    }
    void TearDown() override {
        SetUp();
        GlobalAppState.launcherOpen = false;
        GlobalAppState.backgroundJob.active.store(false);
        GlobalAppState.exportRunning.store(false);
    }
};

TEST_F(LauncherActionTest, NewGoesThroughThePromptWhenEventsAreUnsaved) {
    AppState& s = GlobalAppState;
    CurrentProject.AddEvent(1.0f, 0, 0.5f);
    s.unsavedChanges = true;
    s.parkedOpenPath = "/films/old.kvproj";  // a cancelled open from before
    LauncherNewProject(s);
    EXPECT_EQ(s.unsavedPromptState, 1);
    EXPECT_TRUE(s.parkedOpenPath.empty()) << "the prompt's action must be the new project";
    EXPECT_FALSE(s.openThroughDialog);
    EXPECT_EQ(CurrentProject.events.size(), 1u) << "nothing is lost before the prompt answers";
    EXPECT_FALSE(s.launcherOpen);
    EXPECT_TRUE(s.launcherDismissed);

    SetUp();
    CurrentProject.AddEvent(1.0f, 0, 0.5f);  // saved: no prompt
    LauncherNewProject(s);
    EXPECT_EQ(s.unsavedPromptState, 0);
    EXPECT_TRUE(CurrentProject.events.empty());
    EXPECT_FALSE(s.launcherOpen);
}

TEST_F(LauncherActionTest, OpenWaitsForTheFrameSoThePromptCanParkIt) {
    AppState& s = GlobalAppState;
    s.platformHooks.openFileDialog = [](const std::string& title, const std::string& ext) {
        EXPECT_EQ(title, "Open Korvel Project");
        EXPECT_EQ(ext, "kvproj");
        return std::string();
    };
    LauncherOpenFile(s);
    EXPECT_TRUE(s.launcherOpen) << "a cancelled dialog keeps the launcher";
    s.platformHooks.openFileDialog = [](const std::string&, const std::string&) { return std::string("/films/a.kvproj"); };
    LauncherOpenFile(s);
    EXPECT_EQ(s.PendingOpenPath, "/films/a.kvproj");
    EXPECT_FALSE(s.launcherOpen);
    EXPECT_TRUE(s.launcherDismissed);
}

TEST_F(LauncherActionTest, RefusedWhileAJobOrAnExportReadsTheProject) {
    AppState& s = GlobalAppState;
    test::TempDir dir;
    const std::string path = dir.file("a.kvproj");
    ASSERT_TRUE(WriteFileAtomic(path, "{}"));
    int dialogs = 0;
    for (int busy = 0; busy < 2; ++busy) {
        SCOPED_TRACE(busy == 0 ? "job" : "export");
        SetUp();
        s.recentProjects = {path};
        CurrentProject.AddEvent(1.0f, 0, 0.5f);
        s.platformHooks.openFileDialog = [&dialogs](const std::string&, const std::string&) {
            ++dialogs;
            return std::string("/x.kvproj");
        };
        (busy == 0 ? s.backgroundJob.active : s.exportRunning).store(true);
        EXPECT_FALSE(LauncherActionsEnabled(s));
        LauncherNewProject(s);
        LauncherOpenFile(s);
        EXPECT_TRUE(LauncherOpenRecent(s, 0));
        EXPECT_EQ(CurrentProject.events.size(), 1u);
        EXPECT_TRUE(s.PendingOpenPath.empty());
        EXPECT_EQ(dialogs, 0);
        EXPECT_TRUE(s.launcherOpen);
        (busy == 0 ? s.backgroundJob.active : s.exportRunning).store(false);
    }
}

TEST_F(LauncherActionTest, ADoubleClickedRowOpensOrIsDropped) {
    AppState& s = GlobalAppState;
    test::TempDir dir;
    const std::string good = dir.file("good.kvproj");
    ASSERT_TRUE(WriteFileAtomic(good, "{}"));
    const std::string gone = dir.file("gone.kvproj");
    s.recentProjects = {gone, good};
    s.recentMenuDirty = false;
    EXPECT_FALSE(LauncherOpenRecent(s, 0)) << "the list stops drawing this frame";
    EXPECT_EQ(s.recentProjects, std::vector<std::string>{good});
    EXPECT_TRUE(s.recentMenuDirty);
    EXPECT_EQ(s.statusMessage, "File not found \xe2\x80\x94 removed from recent");
    EXPECT_NEAR(s.statusTime, 3.0f, 1e-6f);
    EXPECT_TRUE(s.launcherOpen);

    EXPECT_TRUE(LauncherOpenRecent(s, 0));
    EXPECT_EQ(s.PendingOpenPath, good);
    EXPECT_FALSE(s.launcherOpen);
}

}  // namespace
}  // namespace korvel
