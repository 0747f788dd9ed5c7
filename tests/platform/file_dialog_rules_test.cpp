#include "platform/file_dialog_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace korvel {
namespace {

TEST(FileDialogRules, FilterPatternsCoverBothLetterCasesAndStopAt63Bytes) {
    EXPECT_TRUE(FileFilterPatterns("").empty());
    EXPECT_EQ(FileFilterPatterns("kvproj"), (std::vector<std::string>{"*.kvproj", "*.KVPROJ"}));
    EXPECT_EQ(FileFilterPatterns("Wav"), (std::vector<std::string>{"*.Wav", "*.wav", "*.WAV"}));
    const std::string longExtension(70, 'x');
    for (const std::string& pattern : FileFilterPatterns(longExtension)) EXPECT_EQ(pattern.size(), 63u);
}

// The file system tells letter cases apart: "CLIP.MOV" must show as well.
TEST(FileDialogRules, VideoDialogFiltersInBothCases) {
    const std::vector<NamedFileFilter> filters = VideoOpenFilters();
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[0].name, "Video Files");
    const std::vector<std::string>& video = filters[0].patterns;
    EXPECT_EQ(video.size(), 16u);
    for (const char* pattern : {"*.mp4", "*.MP4", "*.mov", "*.MOV", "*.m4v", "*.M4V", "*.avi", "*.AVI", "*.mkv",
                                "*.MKV", "*.wmv", "*.WMV", "*.webm", "*.WEBM", "*.mxf", "*.MXF"}) {
        EXPECT_NE(std::find(video.begin(), video.end(), pattern), video.end()) << pattern;
    }
    EXPECT_EQ(filters[1].name, "All Files");
    EXPECT_EQ(filters[1].patterns, std::vector<std::string>{"*"});
}

TEST(FileDialogRules, SavePathGetsTheCutDefaultExtensionOnlyWhenMissing) {
    struct Case {
        const char* path;
        const char* extension;
        const char* expected;
    };
    const Case cases[] = {
        {"/p/Scene", "kvproj", "/p/Scene.kvproj"},
        {"/p/Scene.kvproj", "kvproj", "/p/Scene.kvproj"},
        {"/p/Scene.KVPROJ", "kvproj", "/p/Scene.KVPROJ"},
        {"/p/Scene.v2", "kvproj", "/p/Scene.v2.kvproj"},
        {"/p.kvproj/Scene", "kvproj", "/p.kvproj/Scene.kvproj"},  // a dot in a folder is no extension
        {"/p/Scene", "", "/p/Scene"},
        {"", "kvproj", ""},  // cancelled stays cancelled
        {"/p/a", "abcdefghijklmnopqrst", "/p/a.abcdefghijklmno"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AppendMissingExtension(c.path, c.extension), c.expected) << c.path << " " << c.extension;
    }
    EXPECT_EQ(DefaultSaveExtension(std::string(20, 'e')).size(), 15u);
}

TEST(FileDialogRules, ExportProposesTheProjectFileName) {
    EXPECT_EQ(ProposedExportName(""), "Untitled");
    EXPECT_EQ(ProposedExportName("/work/films/Scene 12.kvproj"), "Scene 12");
    EXPECT_EQ(ProposedExportName("C:\\films\\Scene 12.kvproj"), "Scene 12");
    EXPECT_EQ(ProposedExportName("Scene 12.kvproj"), "Scene 12");
    EXPECT_EQ(ProposedExportName("/a.b/Reel"), "Reel");
}

TEST(FileDialogRules, OnlySecureAddressesAndExistingRegularFilesReachTheDesktop) {
    for (const char* url : {"https://korvel.example/guide", "HTTPS://x"}) EXPECT_TRUE(IsLaunchableUrl(url)) << url;
    for (const char* url : {"http://x", "file:///etc/passwd", "javascript:alert(1)", "https://", "", "/tmp/x"}) {
        EXPECT_FALSE(IsLaunchableUrl(url)) << url;
    }
    const std::filesystem::path dir = std::filesystem::path(testing::TempDir()) / "korvel_open_document";
    std::filesystem::create_directories(dir);
    const std::filesystem::path file = dir / "guide.pdf";
    std::ofstream(file) << "x";
    EXPECT_TRUE(IsOpenableDocument(file.string()));
    EXPECT_FALSE(IsOpenableDocument(dir.string()));
    EXPECT_FALSE(IsOpenableDocument((dir / "missing.pdf").string()));
    EXPECT_FALSE(IsOpenableDocument(""));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvel
