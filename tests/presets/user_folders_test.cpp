#include "presets/user_folders.h"

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
    static constexpr const char* kNames[] = {"HOME", "XDG_DATA_HOME", "XDG_DOCUMENTS_DIR"};
    std::vector<std::optional<std::string>> saved_;
};

TEST_F(UserFoldersTest, PathsFollowTheEnvironment) {
    using Env = std::optional<std::string>;
    struct Case {
        const char* name;
        Env home, dataHome, documents;
        std::string appData, documentsFolder, recipes;
    };
    const Case cases[] = {
        {"xdg variables win", "/h", "/d", "/docs", "/d/Korvel", "/docs/Korvel", "/docs/Korvel/Recipes"},
        {"home fallbacks", "/h", std::nullopt, std::nullopt, "/h/.local/share/Korvel", "/h/Documents/Korvel",
         "/h/Documents/Korvel/Recipes"},
        {"empty xdg means default", "/h", "", "", "/h/.local/share/Korvel", "/h/Documents/Korvel",
         "/h/Documents/Korvel/Recipes"},
        {"nothing set", std::nullopt, std::nullopt, std::nullopt, "", "", ""},
        {"empty home counts as set", "", std::nullopt, std::nullopt, "/.local/share/Korvel", "/Documents/Korvel",
         "/Documents/Korvel/Recipes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Set("HOME", c.home);
        Set("XDG_DATA_HOME", c.dataHome);
        Set("XDG_DOCUMENTS_DIR", c.documents);
        EXPECT_EQ(AppDataFolder(), c.appData);
        EXPECT_EQ(DocumentsFolder(), c.documentsFolder);
        EXPECT_EQ(RecipesFolder(), c.recipes);
        EXPECT_EQ(ChainsFolder(), c.documentsFolder.empty() ? "" : c.documentsFolder + "/Chains");
    }
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
