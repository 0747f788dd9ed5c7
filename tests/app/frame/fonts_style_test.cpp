// Fonts, style scopes and the small widgets in a UI context without a
// renderer. The real fonts are the ones the build put beside the program.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/frame/fonts.h"
#include "app/frame/style.h"
#include "app/frame/title_bar.h"
#include "app/theme.h"
#include "project/app_state.h"
#include "support/temp_dir.h"
#include "support/ui/ui_harness.h"

namespace korvel {
namespace {

std::string BuildFolder() { return std::filesystem::path(KORVEL_EXECUTABLE).parent_path().string(); }

// Loads the fonts into the harness's atlas and builds it again, as start-up
// does before the first frame.
void LoadInto(const std::string& folder, float scale, AppState& app) {
    ImGuiIO& io = ImGui::GetIO();
    io.Fonts->Clear();
    LoadFonts(folder, scale, app);
    unsigned char* pixels = nullptr;
    int w = 0;
    int h = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
    io.Fonts->SetTexID(reinterpret_cast<ImTextureID>(static_cast<intptr_t>(1)));
}

class FontsTest : public ::testing::Test {
protected:
    void TearDown() override { ShellThemeHooks.setDefaultFont = nullptr; }
    test::UiHarness ui;
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
};

TEST(FindFontFile, OnlyARegularFileCounts) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "Fonts" / "Folder.ttf");
    ASSERT_TRUE(test::WriteBytes(dir.file("Fonts/Roboto-Regular.ttf"), "x"));
    EXPECT_EQ(FindFontFile(dir.path().string(), "Roboto-Regular"), dir.file("Fonts/Roboto-Regular.ttf"));
    EXPECT_EQ(FindFontFile(dir.path().string(), "Folder"), "");
    EXPECT_EQ(FindFontFile(dir.path().string(), "Roboto-Bold"), "");
}

TEST_F(FontsTest, AllFilesPresentFillBothSetsAtTheirSizes) {
    if (FindFontFile(BuildFolder(), "Roboto-Bold").empty()) GTEST_SKIP() << "fonts not installed (scripts/deps.sh)";
    LoadInto(BuildFolder(), 2.0f, *app);
    const FontTable& f = app->fonts;
    for (int preset = 0; preset < kFontSizePresets; ++preset) {
        for (int slot = 0; slot < kFontSlots; ++slot) {
            SCOPED_TRACE(preset * 10 + slot);
            ASSERT_NE(f.regular[preset][slot], nullptr);
            ASSERT_NE(f.bold[preset][slot], nullptr);
            EXPECT_FLOAT_EQ(f.regular[preset][slot]->FontSize, kFontSlotSizes[preset][slot] * 2.0f)
                << "baked at the display's density";
        }
    }
    ASSERT_NE(f.aboutTitleFont, nullptr);
    EXPECT_FLOAT_EQ(f.aboutTitleFont->FontSize, 84.0f);
    EXPECT_FLOAT_EQ(ImGui::GetIO().FontGlobalScale, 0.5f) << "drawn back at UI units";
    EXPECT_EQ(app->fontSizePreset, 1);
    EXPECT_EQ(f.bodyFont, f.bold[1][1]) << "bold fonts are the default choice";
    EXPECT_EQ(ImGui::GetIO().FontDefault, f.bodyFont);

    // Every icon the program draws is merged into every text font; the logo
    // font is optional and absent here.
    for (std::uint16_t icon : IconCodePoints())
        EXPECT_NE(f.regular[0][0]->FindGlyphNoFallback(icon), nullptr) << std::hex << icon;
    EXPECT_EQ(f.bold[2][3]->FindGlyphNoFallback(0xF1DE) != nullptr, true);
    EXPECT_FALSE(FontHasLogoGlyph(f.mediumFont));
    EXPECT_STREQ(TitleText(FontHasLogoGlyph(f.mediumFont)), "Korvel") << "no missing-glyph box before the name";
    EXPECT_STREQ(TitleText(true), "\xee\x90\x80  Korvel");
}

// The vertices of the glyph `c` of `font` among what the current window
// drew: its top-left texture coordinate is the glyph's own.
bool DrewGlyph(const ImFont* font, ImWchar c) {
    const ImFontGlyph* glyph = font->FindGlyphNoFallback(c);
    if (glyph == nullptr) return false;
    for (const ImDrawVert& v : ImGui::GetWindowDrawList()->VtxBuffer)
        if (v.uv.x == glyph->U0 && v.uv.y == glyph->V0) return true;
    return false;
}

// Punctuation of the program's own texts and letters of names in other
// scripts come from the text fonts; what no font holds is drawn as U+FFFD,
// never as a "?" that reads as part of the text.
TEST_F(FontsTest, TextFontsHoldNamesCharactersAndMarkTheRest) {
    if (FindFontFile(BuildFolder(), "Roboto-Bold").empty()) GTEST_SKIP() << "fonts not installed (scripts/deps.sh)";
    LoadInto(BuildFolder(), 1.0f, *app);
    const FontTable& f = app->fonts;
    const ImWchar held[] = {
        0x2014, 0x2026, 0x2013, 0x2022, 0x2019, 0x00B1, 0x00D7, 0x2212,  // the program's own texts
        0x00E9, 0x0142, 0x0151, 0x1EA1, 0x03A9, 0x0416, 0x20AC,          // names: Latin, Greek, Cyrillic, euro
    };
    for (int preset = 0; preset < kFontSizePresets; ++preset) {
        for (int slot = 0; slot < kFontSlots; ++slot) {
            for (const ImFont* font : {f.regular[preset][slot], f.bold[preset][slot]}) {
                ASSERT_NE(font, nullptr);
                for (ImWchar c : held) EXPECT_NE(font->FindGlyphNoFallback(c), nullptr) << std::hex << c;
                EXPECT_EQ(font->FallbackChar, kReplacementGlyph);
            }
        }
    }

    // A frame holding them, drawn with the body font (the window's second
    // frame: a new window only measures itself in its first).
    ui.RunDrawUI();
    ui.BeginFrame();
    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(ImVec2(600.0f, 100.0f));
    ImGui::Begin("##text");
    ImGui::TextUnformatted("Export complete \xe2\x80\x94 4 files, Reading\xe2\x80\xa6 \xe4\xb8\xad");
    const ImFont* body = ImGui::GetFont();
    EXPECT_TRUE(DrewGlyph(body, 0x2014)) << "the dash";
    EXPECT_TRUE(DrewGlyph(body, 0x2026)) << "the ellipsis";
    EXPECT_TRUE(DrewGlyph(body, kReplacementGlyph)) << "the CJK letter no font holds";
    EXPECT_FALSE(DrewGlyph(body, '?'));
    ImGui::End();
    ui.EndFrame();
}

// Without any text font the built-in font draws a box for what it lacks.
TEST_F(FontsTest, BuiltInFontDrawsABoxForWhatItLacks) {
    test::TempDir dir;
    LoadInto(dir.path().string(), 1.0f, *app);
    const ImFont* font = app->fonts.bodyFont;
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->FallbackChar, kReplacementGlyph);
    const ImFontGlyph* box = font->FindGlyphNoFallback(kReplacementGlyph);
    ASSERT_NE(box, nullptr);
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    ImGui::GetIO().Fonts->GetTexDataAsAlpha8(&pixels, &width, &height);
    const int left = static_cast<int>(box->U0 * static_cast<float>(width) + 0.5f);
    const int top = static_cast<int>(box->V0 * static_cast<float>(height) + 0.5f);
    const int right = static_cast<int>(box->U1 * static_cast<float>(width) + 0.5f) - 1;
    const int bottom = static_cast<int>(box->V1 * static_cast<float>(height) + 0.5f) - 1;
    ASSERT_GT(right - left, 1);
    ASSERT_GT(bottom - top, 1);
    const auto at = [&](int x, int y) { return pixels[y * width + x]; };
    EXPECT_EQ(at(left, top), 0xFF);
    EXPECT_EQ(at(right, bottom), 0xFF);
    EXPECT_EQ(at((left + right) / 2, top), 0xFF) << "the top edge";
    EXPECT_EQ(at((left + right) / 2, (top + bottom) / 2), 0x00) << "hollow";
}

TEST_F(FontsTest, MissingFilesFallBack) {
    struct Case {
        const char* name;
        std::vector<const char*> files;
        bool bold;
        bool builtIn;  // the four slots hold the built-in font
    };
    const Case cases[] = {
        {"no fonts: the built-in font everywhere", {}, false, true},
        {"bold chosen without its file: nothing to select", {"Roboto-Regular", "Roboto-Medium"}, true, true},
        {"regular without medium: medium and large take the body", {"Roboto-Regular"}, false, false},
    };
    if (FindFontFile(BuildFolder(), "Roboto-Medium").empty()) GTEST_SKIP() << "fonts not installed";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        std::filesystem::create_directories(dir.path() / "Fonts");
        for (const char* file : c.files)
            std::filesystem::copy_file(FindFontFile(BuildFolder(), file),
                                       dir.path() / "Fonts" / (std::string(file) + ".ttf"));
        auto state = std::make_unique<AppState>();
        state->boldFonts = c.bold;
        LoadInto(dir.path().string(), 1.0f, *state);
        const FontTable& f = state->fonts;
        ASSERT_NE(f.bodyFont, nullptr);
        EXPECT_EQ(f.bold[1][1], nullptr);
        EXPECT_EQ(f.aboutTitleFont, nullptr);
        if (c.builtIn) {
            EXPECT_EQ(f.smallFont, f.bodyFont);
            EXPECT_EQ(f.mediumFont, f.bodyFont);
            EXPECT_EQ(f.largeFont, f.bodyFont);
            EXPECT_FLOAT_EQ(f.bodyFont->FontSize, 13.0f);
        } else {
            EXPECT_EQ(f.bodyFont, f.regular[1][1]);
            EXPECT_EQ(f.smallFont, f.regular[1][0]);
            EXPECT_EQ(f.mediumFont, f.bodyFont);
            EXPECT_EQ(f.largeFont, f.bodyFont);
        }
        ui.RunDrawUI();  // a whole frame draws with what there is
    }
}

// [SECTION] Scopes

struct StackSizes {
    int colors, vars, fonts;
};
StackSizes Stacks() {
    const ImGuiContext& g = *GImGui;
    return {g.ColorStack.Size, g.StyleVarStack.Size, g.FontStack.Size};
}

TEST_F(FontsTest, EveryScopePushesItsSetAndPopsExactlyThat) {
    struct Case {
        const char* name;
        StyleScopeKind kind;
        bool active;
        StackSizes pushed;  // with fonts loaded
    };
    const Case cases[] = {
        {"rounded button", StyleScopeKind::RoundedButton, false, {3, 1, 0}},
        {"popup", StyleScopeKind::Popup, false, {3, 3, 0}},
        {"menu row", StyleScopeKind::MenuRow, false, {2, 0, 0}},
        {"dimmed button", StyleScopeKind::DimmedButton, false, {2, 0, 0}},
        {"compact button", StyleScopeKind::CompactButton, false, {4, 2, 0}},
        {"flat buttons", StyleScopeKind::ButtonColors, false, {4, 0, 0}},
        {"mute on", StyleScopeKind::MuteButton, true, {4, 0, 0}},
        {"mute off", StyleScopeKind::MuteButton, false, {4, 0, 0}},
        {"solo on", StyleScopeKind::SoloButton, true, {4, 0, 0}},
        {"solo off", StyleScopeKind::SoloButton, false, {4, 0, 0}},
        {"panel", StyleScopeKind::Panel, false, {1, 5, 1}},
        {"toolbar", StyleScopeKind::ToolbarButton, false, {3, 0, 0}},
        {"action button", StyleScopeKind::ActionButton, false, {4, 1, 0}},
        {"tooltip", StyleScopeKind::Tooltip, false, {2, 2, 1}},
    };
    for (bool fontsLoaded : {false, true}) {
        AppState& s = GlobalAppState;
        const FontTable saved = s.fonts;
        if (fontsLoaded) {
            if (FindFontFile(BuildFolder(), "Roboto-Regular").empty()) continue;
            LoadInto(BuildFolder(), 1.0f, s);
        } else {
            s.fonts = FontTable{};
        }
        ui.BeginFrame();
        ImGui::Begin("scopes");
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (fontsLoaded ? " with fonts" : " without fonts"));
            const StackSizes before = Stacks();
            {
                StyleScope scope(c.kind, c.active);
                const StackSizes inside = Stacks();
                EXPECT_EQ(inside.colors - before.colors, c.pushed.colors);
                EXPECT_EQ(inside.vars - before.vars, c.pushed.vars);
                EXPECT_EQ(inside.fonts - before.fonts, fontsLoaded ? c.pushed.fonts : 0)
                    << "no font pushed (nor popped) without one";
            }
            const StackSizes after = Stacks();
            EXPECT_EQ(after.colors, before.colors);
            EXPECT_EQ(after.vars, before.vars);
            EXPECT_EQ(after.fonts, before.fonts);
        }
        ImGui::End();
        ui.EndFrame();
        s.fonts = saved;
    }
}

TEST_F(FontsTest, TooltipUsesTheRegularSmallFontOfThePresetEvenWhenBold) {
    if (FindFontFile(BuildFolder(), "Roboto-Bold").empty()) GTEST_SKIP() << "fonts not installed";
    AppState& s = GlobalAppState;
    const FontTable saved = s.fonts;
    LoadInto(BuildFolder(), 1.0f, s);
    s.boldFonts = true;
    for (int preset : {0, 2, 7}) {
        SCOPED_TRACE(preset);
        s.fontSizePreset = preset;
        ui.BeginFrame();
        const bool pushed = PushTooltipStyle();
        EXPECT_TRUE(pushed);
        EXPECT_EQ(ImGui::GetFont(), s.fonts.regular[std::min(preset, 2)][0]);
        PopTooltipStyle(pushed);
        ui.EndFrame();
    }
    EXPECT_FLOAT_EQ(s.fonts.regular[2][0]->FontSize, 18.0f);
    s.fonts = saved;
    s.fontSizePreset = 1;
}

TEST_F(FontsTest, ScopesTakeTheirColoursFromThePalette) {
    SetTheme(0);
    ui.BeginFrame();
    {
        StyleScope scope(StyleScopeKind::DimmedButton);
        const ImGuiStyle& style = ImGui::GetStyle();
        EXPECT_EQ(ImGui::ColorConvertFloat4ToU32(style.Colors[ImGuiCol_Text]),
                  ColorWithAlpha(ThemePalette.textSecondary, 0xB3));
        EXPECT_EQ(ImGui::ColorConvertFloat4ToU32(style.Colors[ImGuiCol_ButtonHovered]),
                  ColorWithAlpha(ThemePalette.textMuted, 0x80));
    }
    {
        StyleScope scope(StyleScopeKind::MuteButton, false);
        EXPECT_EQ(ImGui::ColorConvertFloat4ToU32(ImGui::GetStyle().Colors[ImGuiCol_Button]),
                  ColorWithAlpha(ThemePalette.surfaceHover, 0xC8));
    }
    const float padY = ImGui::GetStyle().FramePadding.y;
    {
        StyleScope scope(StyleScopeKind::CompactButton);
        EXPECT_EQ(ImGui::GetStyle().FramePadding.x, padY) << "square padding from the current vertical one";
    }
    ui.EndFrame();
}

// [SECTION] Small widgets

TEST(TimecodeFilter, OnlyDigitsAndColonPass) {
    struct Case {
        ImWchar c;
        bool passes;
    };
    const Case cases[] = {{'0', true}, {'9', true}, {':', true}, {'a', false}, {';', false}, {'/', false},
                          {' ', false}, {'.', false}, {'-', false}, {0x0660, false} /* Arabic-Indic zero */,
                          {0xFF10, false} /* full-width zero */, {0x013A, false} /* 0x3A in the low byte */};
    for (const Case& c : cases) {
        ImGuiInputTextCallbackData data;
        data.EventFlag = ImGuiInputTextFlags_CallbackCharFilter;
        data.EventChar = c.c;
        EXPECT_EQ(TimecodeCharFilter(&data) == 0, c.passes) << std::hex << c.c;
    }
}

class WidgetTest : public ::testing::Test {
protected:
    // One frame of `body` in a plain window.
    template <typename F>
    void Frame(F body) {
        ui.BeginFrame();
        ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
        ImGui::SetNextWindowSize(ImVec2(400.0f, 300.0f));
        ImGui::Begin("widgets", nullptr, ImGuiWindowFlags_NoDecoration);
        body();
        ImGui::End();
        ui.EndFrame();
    }
    // Press and release the left button at (x, y), drawing `body` in each
    // of the three frames.
    template <typename F>
    void Click(float x, float y, F body) {
        ui.MoveMouse(x, y);
        Frame(body);
        ui.SetMouseButton(0, true);
        Frame(body);
        ui.SetMouseButton(0, false);
        Frame(body);
    }
    test::UiHarness ui;
};

TEST_F(WidgetTest, TypingIntoATimecodeFieldDropsTheLetter) {
    char text[32] = {};
    ImVec2 at;
    const auto field = [&] {
        ImGui::InputText("##tc", text, sizeof(text), ImGuiInputTextFlags_CallbackCharFilter, TimecodeCharFilter);
        at = ImGui::GetItemRectMin();
    };
    Frame(field);
    Click(at.x + 5.0f, at.y + 5.0f, field);
    for (char c : std::string("01:00:1a")) ui.io().AddInputCharacter(static_cast<unsigned>(c));
    Frame(field);
    Frame(field);
    EXPECT_STREQ(text, "01:00:1");
}

TEST_F(WidgetTest, IconMenuRowsWithTheSameLabelAreDistinct) {
    int clicked[2] = {};
    ImVec2 second;
    const auto rows = [&] {
        for (int id = 0; id < 2; ++id) {
            if (IconMenuItem("\xef\x81\xa7", "Same", id)) ++clicked[id];
            if (id == 1) second = ImGui::GetItemRectMin();
        }
    };
    Frame(rows);
    Click(second.x + 20.0f, second.y + 4.0f, rows);
    EXPECT_EQ(clicked[0], 0);
    EXPECT_EQ(clicked[1], 1);
}

TEST_F(WidgetTest, PillBodyAndCloseAnswerApart) {
    int bodyClicks = 0;
    bool closed = false;
    const auto pill = [&] {
        if (DrawPillToggle(ImVec2(20.0f, 20.0f), 120.0f, 24.0f, true, "Picture", "src", ThemePalette.accent,
                           "Use the picture", true, true, &closed, "Remove"))
            ++bodyClicks;
    };
    Click(40.0f, 30.0f, pill);
    EXPECT_EQ(bodyClicks, 1);
    EXPECT_FALSE(closed);
    // The close part is the font size + 4 at the right end.
    Click(20.0f + 120.0f - 4.0f, 30.0f, pill);
    EXPECT_EQ(bodyClicks, 1);
    EXPECT_TRUE(closed);
}

}  // namespace
}  // namespace korvel
