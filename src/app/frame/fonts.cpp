#include "app/frame/fonts.h"

#include <imgui.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/theme.h"

namespace korvel {
namespace {

constexpr std::uint16_t kIcons[] = {
    0xE09A, 0xE131, 0xE51E, 0xE52D, 0xF001, 0xF008, 0xF00C, 0xF00D, 0xF00E, 0xF010, 0xF011, 0xF021, 0xF023,
    0xF028, 0xF039, 0xF048, 0xF04B, 0xF04D, 0xF051, 0xF053, 0xF054, 0xF063, 0xF065, 0xF066, 0xF067, 0xF077,
    0xF078, 0xF07B, 0xF09C, 0xF0AB, 0xF0C1, 0xF0C7, 0xF0F3, 0xF127, 0xF137, 0xF138, 0xF140, 0xF141, 0xF142,
    0xF144, 0xF164, 0xF165, 0xF1DE, 0xF1F8, 0xF204, 0xF205, 0xF24D, 0xF276, 0xF28B, 0xF28D, 0xF303, 0xF3A5,
    0xF478, 0xF525, 0xF5D2, 0xF5FD, 0xF621, 0xF65E, 0xF682, 0xF6A9, 0xF773, 0xF7AD,
};

// The atlas keeps pointers to its glyph ranges until it is built, so they
// live as long as the program. UI thread.
const ImWchar* IconRanges() {
    static const std::vector<ImWchar> ranges = [] {
        std::vector<ImWchar> r;
        for (std::uint16_t c : kIcons) {
            r.push_back(c);
            r.push_back(c);
        }
        r.push_back(0);
        return r;
    }();
    return ranges.data();
}
constexpr ImWchar kLogoRange[] = {kLogoGlyph, kLogoGlyph, 0};

struct FontFiles {
    std::string icons;
    std::string logo;
};

ImFont* LoadSlot(const std::string& textFile, float size, float uiScale, const FontFiles& merges) {
    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    ImFontConfig text;
    text.OversampleH = 3;
    text.OversampleV = 2;
    ImFont* font = atlas->AddFontFromFileTTF(textFile.c_str(), size * uiScale, &text);
    if (font == nullptr) return nullptr;
    if (!merges.icons.empty()) {
        ImFontConfig icons;
        icons.MergeMode = true;
        icons.PixelSnapH = true;
        icons.OversampleH = 2;
        icons.OversampleV = 1;
        icons.GlyphOffset = ImVec2(0.0f, uiScale);
        atlas->AddFontFromFileTTF(merges.icons.c_str(), 0.78f * size * uiScale, &icons, IconRanges());
    }
    if (!merges.logo.empty()) {
        ImFontConfig logo;
        logo.MergeMode = true;
        logo.PixelSnapH = true;
        logo.OversampleH = 3;
        logo.OversampleV = 2;
        logo.GlyphOffset = ImVec2(0.0f, uiScale);
        atlas->AddFontFromFileTTF(merges.logo.c_str(), size * uiScale, &logo, kLogoRange);
    }
    return font;
}

void SetDefaultFont(ImFont* font) { ImGui::GetIO().FontDefault = font; }

}  // namespace

std::string FindFontFile(const std::string& executableFolder, const std::string& name) {
    std::string path = executableFolder + "/Fonts/" + name + ".ttf";
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec) ? path : std::string();
}

std::span<const std::uint16_t> IconCodePoints() { return kIcons; }

void LoadFonts(const std::string& executableFolder, float uiScale, AppState& app) {
    if (!(uiScale > 0.0f)) uiScale = 1.0f;
    ImGuiIO& io = ImGui::GetIO();
    ShellThemeHooks.setDefaultFont = SetDefaultFont;
    io.FontGlobalScale = 1.0f / uiScale;

    const std::string regular = FindFontFile(executableFolder, "Roboto-Regular");
    const std::string medium = FindFontFile(executableFolder, "Roboto-Medium");
    const std::string bold = FindFontFile(executableFolder, "Roboto-Bold");
    const FontFiles merges{FindFontFile(executableFolder, "fa-solid-900"), FindFontFile(executableFolder, "kv_logo")};

    FontTable& fonts = app.fonts;
    fonts = FontTable{};
    for (int preset = 0; preset < kFontSizePresets; ++preset) {
        for (int slot = 0; slot < kFontSlots; ++slot) {
            const std::string& file = slot < 2 ? regular : medium;
            if (!file.empty())
                fonts.regular[preset][slot] = LoadSlot(file, kFontSlotSizes[preset][slot], uiScale, merges);
        }
    }
    if (!bold.empty()) {
        for (int preset = 0; preset < kFontSizePresets; ++preset)
            for (int slot = 0; slot < kFontSlots; ++slot)
                fonts.bold[preset][slot] = LoadSlot(bold, kFontSlotSizes[preset][slot], uiScale, merges);
        ImFontConfig title;
        title.OversampleH = 3;
        title.OversampleV = 2;
        fonts.aboutTitleFont = io.Fonts->AddFontFromFileTTF(bold.c_str(), kAboutTitleFontSize * uiScale, &title);
    }

    app.activeFontPreset = 1;
    SetFontSizePreset(1, app);
    if (fonts.bodyFont == nullptr) {
        ImFontConfig builtIn;
        builtIn.SizePixels = 13.0f * uiScale;
        ImFont* font = io.Fonts->AddFontDefault(&builtIn);
        fonts.smallFont = fonts.bodyFont = fonts.mediumFont = fonts.largeFont = font;
        SetDefaultFont(font);
    }
}

bool FontHasLogoGlyph(const ImFont* font) {
    return font != nullptr && font->FindGlyphNoFallback(static_cast<ImWchar>(kLogoGlyph)) != nullptr;
}

}  // namespace korvel
