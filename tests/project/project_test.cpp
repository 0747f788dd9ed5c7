#include "project/project.h"

#include <gtest/gtest.h>

#include "project/fixed_text.h"

namespace korvel {
namespace {

// What every later reader of a fresh project relies on.
TEST(Project, FreshProcessDefaults) {
    const Project project;
    EXPECT_FLOAT_EQ(project.totalDuration, 30.0f);
    EXPECT_FLOAT_EQ(project.fps, 24.0f);
    EXPECT_TRUE(project.normalizeLUFS);
    EXPECT_EQ(project.alloyAlgorithm, 2);
    EXPECT_FALSE(project.trackLayout.budgetMode);
    struct Case {
        const char* name;
        float target;
    };
    const Case groups[] = {{"BG", -48.0f}, {"FX A", -16.0f}, {"FX B", -25.0f}};
    for (int g = 0; g < kTrackGroupCount; ++g) {
        SCOPED_TRACE(g);
        const TrackGroupLayout& group = project.trackLayout.groups[g];
        EXPECT_EQ(TextOf(group.name), groups[g].name);
        EXPECT_EQ(group.trackCount, 8);
        EXPECT_TRUE(group.stereo);
        EXPECT_FLOAT_EQ(group.targetLUFS, groups[g].target);
        EXPECT_EQ(group.usedLanes, 0);
    }
}

TEST(Project, CopiesAndResetsAsAValue) {
    Project project;
    project.events.resize(2);
    project.builtResultCount.store(7);
    Project copy = project;
    EXPECT_EQ(copy.events.size(), 2u);
    EXPECT_EQ(copy.builtResultCount.load(), 7);
    project = Project{};
    EXPECT_TRUE(project.events.empty());
    EXPECT_EQ(project.builtResultCount.load(), 0);
}

// Banning twice keeps one entry but mutes both times; muting follows the
// path only, never the identity.
TEST(ProjectBannedFiles, BanOnceMuteByPath) {
    Project project;
    project.results.resize(3);
    project.results[0].filepath = "/x.wav";
    project.results[1].filepath = "/other/x.wav";
    project.results[1].fileId = "00000000000000aa";
    project.BanFile("/x.wav", "00000000000000aa");
    EXPECT_TRUE(project.results[0].muted);
    EXPECT_FALSE(project.results[1].muted) << "same id under another path stays audible";

    project.results[2].filepath = "/x.wav";
    project.BanFile("/x.wav", "00000000000000bb");
    EXPECT_EQ(project.bannedFiles, std::vector<std::string>{"/x.wav"});
    EXPECT_EQ(project.bannedFileIds, std::vector<std::string>{"00000000000000aa"});
    EXPECT_TRUE(project.results[2].muted) << "second ban still mutes new layers";
    EXPECT_TRUE(project.IsFileBanned("/x.wav"));
    EXPECT_FALSE(project.IsFileBanned("/X.wav"));

    project.BanFile("/unreadable/nothing.wav", "");
    EXPECT_EQ(project.bannedFileIds.back(), "") << "an unreadable file is banned without identity";
}

TEST(ProjectBannedFiles, UnbanRemovesAllMatchesWithTheirIds) {
    struct Case {
        const char* name;
        std::vector<std::string> files;
        std::vector<std::string> ids;
        std::string unban;
        std::vector<std::string> filesAfter;
        std::vector<std::string> idsAfter;
    };
    const Case cases[] = {
        {"listed twice", {"/a", "/b", "/a"}, {"1", "2", "3"}, "/a", {"/b"}, {"2"}},
        {"ids shorter", {"/b", "/a", "/a"}, {"1", "2"}, "/a", {"/b"}, {"1"}},
        {"not listed", {"/b"}, {"1"}, "/a", {"/b"}, {"1"}},
        {"exact bytes", {"/A"}, {"1"}, "/a", {"/A"}, {"1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Project project;
        project.bannedFiles = c.files;
        project.bannedFileIds = c.ids;
        project.results.resize(1);
        project.results[0].filepath = c.unban;
        project.results[0].muted = true;
        project.UnbanFile(c.unban);
        EXPECT_EQ(project.bannedFiles, c.filesAfter);
        EXPECT_EQ(project.bannedFileIds, c.idsAfter);
        EXPECT_TRUE(project.results[0].muted) << "unbanning leaves layers muted";
        EXPECT_FALSE(project.IsFileBanned(c.unban));
    }
}

}  // namespace
}  // namespace korvel
