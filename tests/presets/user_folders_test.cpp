#include "presets/user_folders.h"

#include "presets/preferences.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "support/temp_dir.h"

namespace korvel {
namespace {

// Sets or unsets the folder variables for one test and restores them after.
class UserFoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    void TearDown() override {
        for (std::size_t i = 0; i < std::size(kNames); ++i) Set(kNames[i], saved_[i]);
    }
    static void Set(const char* name, const std::optional<std::string>& value) {
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    static constexpr const char* kNames[] = {"HOME", "XDG_DATA_HOME", "XDG_DOCUMENTS_DIR", "XDG_CONFIG_HOME"};
    std::vector<std::optional<std::string>> saved_;
};

TEST_F(UserFoldersTest, PathsFollowTheEnvironment) {
    using Env = std::optional<std::string>;
    struct Case {
        const char* name;
        Env home, dataHome, documents, config;
        std::string appData, documentsFolder, recipes, preferences;
    };
    // Folder paths are only computed here: the preferences path, which
    // creates its folder, points into a temporary folder where it can.
    test::TempDir dir;
    const std::string d = dir.path().string();
    const Case cases[] = {
        {"xdg variables win", d, "/d", "/docs", d + "/c", "/d/Korvel", "/docs/Korvel", "/docs/Korvel/Recipes",
         d + "/c/Korvel/com.korvel.prefs"},
        {"home fallbacks", d, std::nullopt, std::nullopt, std::nullopt, d + "/.local/share/Korvel",
         d + "/Documents/Korvel", d + "/Documents/Korvel/Recipes", d + "/.config/Korvel/com.korvel.prefs"},
        {"empty xdg means default", d, "", "", "", d + "/.local/share/Korvel", d + "/Documents/Korvel",
         d + "/Documents/Korvel/Recipes", d + "/.config/Korvel/com.korvel.prefs"},
        {"nothing set", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "", "", "", ""},
        {"only the config variable", std::nullopt, std::nullopt, std::nullopt, d + "/only", "", "", "",
         d + "/only/Korvel/com.korvel.prefs"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Set("HOME", c.home);
        Set("XDG_DATA_HOME", c.dataHome);
        Set("XDG_DOCUMENTS_DIR", c.documents);
        Set("XDG_CONFIG_HOME", c.config);
        EXPECT_EQ(PreferencesFilePath(), c.preferences);
        if (!c.preferences.empty()) {
            EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(c.preferences).parent_path()));
        }
        EXPECT_EQ(AppDataFolder(), c.appData);
        EXPECT_EQ(DocumentsFolder(), c.documentsFolder);
        EXPECT_EQ(RecipesFolder(), c.recipes);
        EXPECT_EQ(ChainsFolder(), c.documentsFolder.empty() ? "" : c.documentsFolder + "/Chains");
    }

    // HOME set to an empty string counts as set (folders only: the
    // preferences path would create its folder at the root).
    Set("HOME", "");
    Set("XDG_DATA_HOME", std::nullopt);
    Set("XDG_DOCUMENTS_DIR", std::nullopt);
    EXPECT_EQ(AppDataFolder(), "/.local/share/Korvel");
    EXPECT_EQ(DocumentsFolder(), "/Documents/Korvel");
    EXPECT_EQ(RecipesFolder(), "/Documents/Korvel/Recipes");
}

TEST_F(UserFoldersTest, BouncesFolderIsCreatedWithItsParents) {
    test::TempDir dir;
    Set("XDG_DOCUMENTS_DIR", (dir.path() / "not" / "yet").string());
    const std::string bounces = BouncesFolder();
    EXPECT_EQ(bounces, (dir.path() / "not" / "yet").string() + "/Korvel/Bounces");
    EXPECT_TRUE(std::filesystem::is_directory(bounces));

    Set("XDG_DOCUMENTS_DIR", std::nullopt);
    Set("HOME", std::nullopt);
    EXPECT_EQ(BouncesFolder(), "");
}

TEST_F(UserFoldersTest, BouncesFolderIgnoresACreationFailure) {
    test::TempDir dir;
    const std::string blocker = dir.file("file");
    ASSERT_TRUE(test::WriteBytes(blocker, "x"));
    Set("XDG_DOCUMENTS_DIR", blocker);
    EXPECT_EQ(BouncesFolder(), blocker + "/Korvel/Bounces");
}

}  // namespace
}  // namespace korvel
