#include "platform/executable_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace korvel {
namespace {

TEST(ExecutableDirTest, FindsTheFolderOfTheRunningTestBinary) {
    const std::string folder = GetExecutableDir();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.front(), '/');
    EXPECT_NE(folder.back(), '/');
    // Callers append "/DemoContent", "/Fonts" and the like to it.
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/korvel_tests_platform"));
}

}  // namespace
}  // namespace korvel
