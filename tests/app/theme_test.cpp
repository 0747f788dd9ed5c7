#include "app/theme.h"

#include <gtest/gtest.h>

#include <cmath>
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

namespace korvel {
namespace {

class ThemePaletteTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (int i = 0; i < kThemeEntryCount; ++i) ThemePalette.*ThemeEntry(i) = ThemeStartupValue(i);
        ThemeIndex = 0;
    }
};

TEST_F(ThemePaletteTest, StartupValuesAndThemes) {
    // Packed with red in the low byte, alpha on top.
    EXPECT_EQ(Rgb(0x0E0E10), 0xFF100E0Eu);
    EXPECT_EQ(Rgba(0x14141A, 0xF2), 0xF21A1414u);
    struct Case {
        const char* name;
        int theme;  // -1: start-up values
        std::uint32_t ThemeColors::*entry;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"start-up window", -1, &ThemeColors::windowBg, Rgb(0x0E0E10)},
        {"start-up popup keeps its alpha", -1, &ThemeColors::popupBg, Rgba(0x14141A, 0xF2)},
        {"start-up last entry", -1, &ThemeColors::reverbDeep, Rgb(0x8C5AC3)},
        {"theme 0 window", 0, &ThemeColors::windowBg, Rgb(0x111113)},
        {"theme 1 text is dark", 1, &ThemeColors::textPrimary, Rgb(0x101014)},
        {"theme 2 accent", 2, &ThemeColors::accent, Rgb(0x4B8CDC)},
        {"theme 3 keeps the ruler band at start-up", 3, &ThemeColors::timelineShade1, Rgb(0x18181B)},
        {"theme 6 keeps the ruler band at start-up", 6, &ThemeColors::timelineShade1, Rgb(0x18181B)},
        {"theme 6 overlay alpha", 6, &ThemeColors::overlayBg, Rgba(0x3A3A3A, 0x96)},
        {"theme 5 selection fill", 5, &ThemeColors::selectionFill, Rgba(0x4178BE, 0x32)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        if (c.theme >= 0) SetTheme(c.theme);
        EXPECT_EQ(ThemePalette.*c.entry, c.value);
    }
}

TEST_F(ThemePaletteTest, IndexOutsideTheThemesChangesNoColour) {
    SetTheme(2);
    const ThemeColors before = ThemePalette;
    for (int index : {7, -1, 100}) {
        SetTheme(index);
        EXPECT_EQ(ThemeIndex, index);
        for (int i = 0; i < kThemeEntryCount; ++i) EXPECT_EQ(ThemePalette.*ThemeEntry(i), before.*ThemeEntry(i));
    }
    // Switching back and forth leaves nothing of the earlier theme behind.
    SetTheme(4);
    SetTheme(0);
    for (int i = 0; i < kThemeEntryCount; ++i) EXPECT_EQ(ThemePalette.*ThemeEntry(i), ThemeValue(0, i));
}

TEST(ThemeColours, KindWeightAndAlpha) {
    EXPECT_EQ(GetEventKindColor(0, 255), Rgb(0x50B482));
    EXPECT_EQ(GetEventKindColor(6, 0x80), Rgba(0x96AFA5, 0x80));
    EXPECT_EQ(GetEventKindColor(7, 255), Rgb(0x969696)) << "no kind";
    EXPECT_EQ(GetEventKindColor(-1, 255), Rgb(0x969696));
    EXPECT_EQ(ColorWithAlpha(Rgb(0x123456), 0x40), Rgba(0x123456, 0x40));

    struct Case {
        const char* name;
        float weight;
        std::uint32_t rgb;
    };
    // Low 440154, mid 21918C, high FDE725; channels truncated.
    const Case cases[] = {
        {"below 0", -1.0f, 0x440154},
        {"NaN reads as 0", std::nanf(""), 0x440154},
        {"0.1", 0.1f, 0x440154},
        {"0.3 halfway low-mid", 0.3f, 0x324970},
        {"0.5 mid", 0.5f, 0x21918C},
        {"0.7 halfway mid-high", 0.7f, 0x8FBC58},
        {"0.9 high", 0.9f, 0xFDE725},
        {"2.0", 2.0f, 0xFDE725},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GetWeightColor(c.weight), Rgba(c.rgb, 200));
    }
}

}  // namespace
}  // namespace korvel
