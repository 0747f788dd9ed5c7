#include "app/theme.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace korvel {
namespace {

// Stand-ins for loaded fonts: only their addresses are compared.
ImFont* FakeFont(int n) { return reinterpret_cast<ImFont*>(static_cast<std::uintptr_t>(0x1000 + 16 * n)); }

std::vector<ImFont*> gDefaultFonts;
std::vector<std::int32_t> gFilledThemes;
int gApplied = 0;

class ThemeTest : public ::testing::Test {
protected:
    void SetUp() override {
        gDefaultFonts.clear();
        gFilledThemes.clear();
        gApplied = 0;
        ShellThemeHooks = {[](std::int32_t index) { gFilledThemes.push_back(index); }, [] { ++gApplied; },
                           [](ImFont* font) { gDefaultFonts.push_back(font); }};
    }
    void TearDown() override {
        ShellThemeHooks = {};
        ThemeIndex = 0;
    }
};

TEST_F(ThemeTest, FontPresetIsClampedAndSelectsItsSet) {
    auto app = std::make_unique<AppState>();
    FontTable& fonts = app->fonts;
    for (int preset = 0; preset < kFontSizePresets; ++preset) {
        for (int slot = 0; slot < kFontSlots; ++slot) {
            fonts.regular[preset][slot] = FakeFont(preset * 10 + slot);
            fonts.bold[preset][slot] = FakeFont(100 + preset * 10 + slot);
        }
    }
    struct Case {
        const char* name;
        std::int32_t preset;
        bool bold;
        std::int32_t stored;
        int firstFont;
    };
    const Case cases[] = {
        {"regular small", 0, false, 0, 0},  {"bold large", 2, true, 2, 120},
        {"below range", -3, false, 0, 0},   {"above range", 9, true, 2, 120},
        {"bold medium", 1, true, 1, 110},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app->boldFonts = c.bold;
        SetFontSizePreset(c.preset, *app);
        EXPECT_EQ(app->fontSizePreset, c.stored);
        EXPECT_EQ(fonts.smallFont, FakeFont(c.firstFont));
        EXPECT_EQ(fonts.bodyFont, FakeFont(c.firstFont + 1));
        EXPECT_EQ(fonts.mediumFont, FakeFont(c.firstFont + 2));
        EXPECT_EQ(fonts.largeFont, FakeFont(c.firstFont + 3));
        ASSERT_FALSE(gDefaultFonts.empty());
        EXPECT_EQ(gDefaultFonts.back(), fonts.bodyFont) << "the body font becomes the default font";
    }
}

TEST_F(ThemeTest, MissingFontSlotsFallBackToTheBodyFont) {
    auto app = std::make_unique<AppState>();
    FontTable& fonts = app->fonts;
    app->boldFonts = false;
    fonts.regular[2] = {nullptr, FakeFont(21), nullptr, nullptr};
    fonts.bodyFont = FakeFont(99);
    SetFontSizePreset(2, *app);
    EXPECT_EQ(fonts.smallFont, FakeFont(99)) << "the body font as it was before the switch";
    EXPECT_EQ(fonts.bodyFont, FakeFont(21));
    EXPECT_EQ(fonts.mediumFont, FakeFont(21));
    EXPECT_EQ(fonts.largeFont, FakeFont(21));

    // No fonts at all (headless): only the preset changes.
    auto bare = std::make_unique<AppState>();
    gDefaultFonts.clear();
    SetFontSizePreset(0, *bare);
    EXPECT_EQ(bare->fontSizePreset, 0);
    EXPECT_EQ(bare->fonts.bodyFont, nullptr);
    EXPECT_TRUE(gDefaultFonts.empty());
}

TEST_F(ThemeTest, SetThemeKeepsAnyIndexAndTheShellDrawsIt) {
    SetTheme(4);
    SetTheme(11);
    EXPECT_EQ(ThemeIndex, 11);
    EXPECT_EQ(gFilledThemes, (std::vector<std::int32_t>{4, 11}));
    ApplyTheme();
    EXPECT_EQ(gApplied, 1);

    ShellThemeHooks = {};  // headless: nothing to call
    SetTheme(2);
    ApplyTheme();
    EXPECT_EQ(ThemeIndex, 2);
}

}  // namespace
}  // namespace korvel
