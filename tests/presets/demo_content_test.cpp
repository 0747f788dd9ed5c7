#include "presets/demo_content.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

// Short names for the three trees a case touches: "D:" the demo folder
// beside the executable, "K:" the documents folder, "H:" the HOME folder.
std::string Expand(const std::string& path) {
    if (path.rfind("D:", 0) == 0) return "exe/DemoContent/" + path.substr(2);
    if (path.rfind("K:", 0) == 0) return "xdg/Korvel/" + path.substr(2);
    if (path.rfind("H:", 0) == 0) return "home/" + path.substr(2);
    return path;
}

constexpr const char* kAbsent = "<absent>";
constexpr const char* kFolder = "<folder>";

enum class Run { Install, Restore, Migrate };

struct Case {
    const char* name;
    Run run;
    std::vector<std::pair<std::string, std::string>> setup;   // path, content ("<folder>": empty folder)
    std::vector<std::pair<std::string, std::string>> expect;  // path, content, "<absent>" or "<folder>"
    bool prefsSaved = false;
    std::vector<std::string> pending = {};          // expected pending folders, any order
    std::vector<std::string> recentBefore = {};
    std::vector<std::string> recentAfter = {};      // any order
    bool homeUnset = false;
    bool libraryKnown = false;  // a palette already holds K:Libraries/Hits
};

// GoogleTest shows a case by its name rather than by its bytes.
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

const std::string kLegacyRecipes = "H:Library/Preferences/KorvelPresets/";
const std::string kLegacyPreviews = "H:Library/Application Support/Korvel/RecipePreviews/";

const Case kCases[] = {
    {"no demo folder: no stamp, no save", Run::Install, {{"K:Recipes/Mine.kvrecipe", "mine"}},
     {{"K:.demo_version", kAbsent}, {"K:Recipes/Mine.kvrecipe", "mine"}}, false},
    {"only recipes", Run::Install, {{"D:Recipes/Rain.kvrecipe", "demo"}},
     {{"K:Recipes/Rain.kvrecipe", "demo"}, {"K:.demo_version", "installed\n"}, {"K:Projects", kAbsent}}, true},
    {"the designer's recipe of the same name is kept", Run::Install,
     {{"D:Recipes/Rain.kvrecipe", "demo"}, {"D:Recipes/Wind.kvrecipe", "demo"}, {"K:Recipes/Rain.kvrecipe", "mine"}},
     {{"K:Recipes/Rain.kvrecipe", "mine"}, {"K:Recipes/Wind.kvrecipe", "demo"}}, true},
    {"an existing project folder gets none of the demo's files", Run::Install,
     {{"D:Projects/Street/Street.kvproj", "demo"}, {"D:Projects/Street/Sounds/a.wav", "demo"},
      {"K:Projects/Street/notes.txt", "mine"}},
     {{"K:Projects/Street/notes.txt", "mine"}, {"K:Projects/Street/Street.kvproj", kAbsent},
      {"K:Projects/Street/Sounds", kAbsent}},
     true},
    {"the stamp stops a second install", Run::Install,
     {{"D:Recipes/New.kvrecipe", "demo"}, {"K:.demo_version", "installed\n"}},
     {{"K:Recipes/New.kvrecipe", kAbsent}}, false},
    {"a forced restore adds only the new items", Run::Restore,
     {{"D:Recipes/Rain.kvrecipe", "demo"}, {"D:Recipes/New.kvrecipe", "demo"}, {"D:Chains/Walk.kvchain", "demo"},
      {"K:Recipes/Rain.kvrecipe", "mine"}, {"K:.demo_version", "old"}},
     {{"K:Recipes/Rain.kvrecipe", "mine"}, {"K:Recipes/New.kvrecipe", "demo"}, {"K:Chains/Walk.kvchain", "demo"},
      {"K:.demo_version", "installed\n"}},
     true},
    {"an empty recent list gets the demo projects, libraries are queued", Run::Install,
     {{"D:Projects/A/A.kvproj", "demo"}, {"D:Projects/B/B.kvproj", "demo"}, {"D:Projects/C/other.txt", "demo"},
      {"D:Libraries/Hits/x.wav", "demo"}, {"D:Libraries/Tones/y.wav", "demo"}, {"D:Libraries/loose.wav", "demo"}},
     {{"K:Projects/B/B.kvproj", "demo"}, {"K:Libraries/Hits/x.wav", "demo"}},
     true,
     {"K:Libraries/Hits", "K:Libraries/Tones"},
     {},
     {"K:Projects/A/A.kvproj", "K:Projects/B/B.kvproj"}},
    {"a filled recent list and a known library stay as they are", Run::Install,
     {{"D:Projects/A/A.kvproj", "demo"}, {"D:Libraries/Hits/x.wav", "demo"}},
     {{"K:Projects/A/A.kvproj", "demo"}},
     true,
     {},
     {"/p/One.kvproj", "/p/Two.kvproj"},
     {"/p/One.kvproj", "/p/Two.kvproj"},
     false,
     true},
    {"a folder that cannot be made skips only its own entries", Run::Install,
     {{"D:Recipes/Rain.kvrecipe", "demo"}, {"D:Chains/Walk.kvchain", "demo"}, {"K:Recipes", "mine"}},
     {{"K:Recipes", "mine"}, {"K:Chains/Walk.kvchain", "demo"}, {"K:.demo_version", "installed\n"}}, true},
    {"a documents folder that cannot be made still saves", Run::Install,
     {{"D:Recipes/Rain.kvrecipe", "demo"}, {"xdg", "a file"}},
     {{"xdg", "a file"}, {"K:.demo_version", kAbsent}}, true},
    {"a legacy preview arrives with its new name", Run::Migrate,
     {{kLegacyPreviews + "Rain.wav", "old"}},
     {{"K:Recipes/Rain_preview.wav", "old"}, {"H:Library/Application Support/Korvel/RecipePreviews", kAbsent}}},
    {"an existing preview keeps the old file in place", Run::Migrate,
     {{kLegacyPreviews + "Rain.wav", "old"}, {kLegacyPreviews + "Rain.txt", "old"},
      {"K:Recipes/Rain_preview.wav", "mine"}},
     {{"K:Recipes/Rain_preview.wav", "mine"}, {kLegacyPreviews + "Rain.wav", "old"},
      {kLegacyPreviews + "Rain.txt", "old"}, {"K:Recipes/Rain.txt", kAbsent}}},
    {"legacy recipes and chains move unless already there", Run::Migrate,
     {{kLegacyRecipes + "Rain.kvrecipe", "old"}, {kLegacyRecipes + "Wind.kvrecipe", "old"},
      {"H:Library/Preferences/KorvelGroupPresets/Walk.kvchain", "old"}, {"K:Recipes/Rain.kvrecipe", "mine"}},
     {{"K:Recipes/Rain.kvrecipe", "mine"}, {kLegacyRecipes + "Rain.kvrecipe", "old"},
      {"K:Recipes/Wind.kvrecipe", "old"}, {kLegacyRecipes + "Wind.kvrecipe", kAbsent},
      {"K:Chains/Walk.kvchain", "old"}, {"H:Library/Preferences/KorvelGroupPresets", kAbsent}}},
    {"an unmovable entry stays where it was", Run::Migrate,
     {{kLegacyRecipes + "Rain.kvrecipe", "old"}, {"K:Recipes", "mine"}},
     {{kLegacyRecipes + "Rain.kvrecipe", "old"}, {"K:Recipes", "mine"}}},
    {"HOME unset: nothing moves", Run::Migrate,
     {{kLegacyRecipes + "Rain.kvrecipe", "old"}},
     {{kLegacyRecipes + "Rain.kvrecipe", "old"}, {"K:Recipes", kAbsent}},
     false, {}, {}, {}, true},
};

// A case's trees in a temporary folder, the documents, config and HOME
// variables pointed into it, and fresh settings records.
class DemoContentTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        for (const char* name : {"HOME", "XDG_DOCUMENTS_DIR", "XDG_CONFIG_HOME"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        setenv("HOME", Path("home").c_str(), 1);
        setenv("XDG_DOCUMENTS_DIR", Path("xdg").c_str(), 1);
        setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);
        homes_ = {app_.get(), project_.get(), engine_.get(), library_.get(), &pending_};
        app_->executableFolder = Path("exe");
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) setenv(name, value->c_str(), 1);
            else unsetenv(name);
        }
    }
    std::string Path(const std::string& shortPath) const { return (dir_.path() / Expand(shortPath)).string(); }

    test::TempDir dir_;
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
    std::unique_ptr<AppState> app_ = std::make_unique<AppState>();
    std::unique_ptr<Project> project_ = std::make_unique<Project>();
    std::unique_ptr<PlaybackEngine> engine_ = std::make_unique<PlaybackEngine>();
    std::unique_ptr<Library> library_ = std::make_unique<Library>();
    std::vector<PendingLibraryFolder> pending_;
    PreferenceHomes homes_;
};

TEST_P(DemoContentTest, NothingOfTheDesignersIsOverwritten) {
    const Case& c = GetParam();
    for (const auto& [path, content] : c.setup) {
        if (content == kFolder) fs::create_directories(Path(path));
        else ASSERT_TRUE(test::WriteBytes(Path(path), content)) << path;
    }
    fs::create_directories(Path("exe"));
    for (const std::string& recent : c.recentBefore) app_->recentProjects.push_back(recent);
    if (c.libraryKnown) {
        Palette palette;
        palette.folder = Path("K:Libraries/Hits");
        library_->palettes.push_back(palette);
    }
    if (c.homeUnset) unsetenv("HOME");

    switch (c.run) {
        case Run::Install: InstallDemoContent(false, homes_); break;
        case Run::Restore: InstallDemoContent(true, homes_); break;
        case Run::Migrate: MigrateLegacyPresetFolders(); break;
    }

    for (const auto& [path, content] : c.expect) {
        const std::string full = Path(path);
        std::error_code ec;
        if (content == kAbsent) {
            EXPECT_FALSE(fs::exists(full, ec)) << path;
        } else if (content == kFolder) {
            EXPECT_TRUE(fs::is_directory(full, ec)) << path;
        } else {
            EXPECT_EQ(test::ReadBytes(full), content) << path;
        }
    }
    EXPECT_EQ(fs::exists(Path("config/Korvel/com.korvel.prefs")), c.prefsSaved);

    std::vector<std::string> pending;
    for (const PendingLibraryFolder& folder : pending_) {
        EXPECT_TRUE(folder.enabled);
        EXPECT_EQ(folder.trackGroup, -1);
        pending.push_back(folder.path);
    }
    std::vector<std::string> expectedPending;
    for (const std::string& path : c.pending) expectedPending.push_back(Path(path));
    std::ranges::sort(pending);
    EXPECT_EQ(pending, expectedPending);

    std::vector<std::string> recent = app_->recentProjects;
    std::vector<std::string> expectedRecent;
    for (const std::string& path : c.recentAfter) {
        expectedRecent.push_back(path.rfind("K:", 0) == 0 ? Path(path) : path);
    }
    if (c.recentBefore.empty()) std::ranges::sort(recent);
    EXPECT_EQ(recent, expectedRecent);
}

INSTANTIATE_TEST_SUITE_P(Cases, DemoContentTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p; ++p) {
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace korvel
