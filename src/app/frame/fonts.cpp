#include "app/frame/fonts.h"

#include <imgui.h>

#include <algorithm>
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

// What names and the program's own texts hold. Only the code points the
// font has are baked, so a range costs only what the font covers. Latin-1
// is baked at the text oversampling; the rest, far less common in a frame,
// at a smaller one to keep the atlas small.
constexpr ImWchar kLatinRange[] = {0x0020, 0x00FF, 0};
constexpr ImWchar kExtendedRanges[] = {
    0x0100, 0x024F,  // Latin Extended-A and -B
    0x0370, 0x03FF,  // Greek
    0x0400, 0x052F,  // Cyrillic and its supplement
    0x1E00, 0x1EFF,  // Latin Extended Additional
    0x2000, 0x206F,  // General Punctuation: dashes, quotes, ellipsis, bullet
    0x20A0, 0x20BF,  // currency signs
    0x2100, 0x214F,  // letter-like symbols
    0x2200, 0x22FF,  // mathematical operators
    kReplacementGlyph, kReplacementGlyph,  // drawn for what no font holds
    0,
};

struct FontFiles {
    std::string icons;
    std::string logo;
};

ImFont* LoadSlot(const std::string& textFile, float size, float uiScale, const FontFiles& merges) {
    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    ImFontConfig text;
    text.OversampleH = 3;
    text.OversampleV = 2;
    ImFont* font = atlas->AddFontFromFileTTF(textFile.c_str(), size * uiScale, &text, kLatinRange);
    if (font == nullptr) return nullptr;
    ImFontConfig extended;
    extended.MergeMode = true;
    extended.OversampleH = 1;
    extended.OversampleV = 1;
    atlas->AddFontFromFileTTF(textFile.c_str(), size * uiScale, &extended, kExtendedRanges);
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

// The built-in font has no U+FFFD: a hollow box stands in its place, added
// as a glyph of its own and painted into the atlas once it is built.
void AddReplacementBox(ImFont* font, float size) {
    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    const int width = std::max(3, static_cast<int>(size * 0.5f));
    const int height = std::max(5, static_cast<int>(size * 0.7f));
    const int rect = atlas->AddCustomRectFontGlyph(font, static_cast<ImWchar>(kReplacementGlyph), width, height,
                                                   static_cast<float>(width + 1), ImVec2(0.0f, size * 0.15f));
    if (!atlas->Build()) return;
    unsigned char* pixels = nullptr;
    int atlasWidth = 0;
    int atlasHeight = 0;
    atlas->GetTexDataAsAlpha8(&pixels, &atlasWidth, &atlasHeight);
    const ImFontAtlasCustomRect* r = atlas->GetCustomRectByIndex(rect);
    if (pixels == nullptr || r == nullptr || !r->IsPacked()) return;
    for (int y = 0; y < r->Height; ++y) {
        for (int x = 0; x < r->Width; ++x) {
            const bool edge = x == 0 || y == 0 || x == r->Width - 1 || y == r->Height - 1;
            pixels[(r->Y + y) * atlasWidth + r->X + x] = edge ? 0xFF : 0x00;
        }
    }
}

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
        AddReplacementBox(font, builtIn.SizePixels);
        fonts.smallFont = fonts.bodyFont = fonts.mediumFont = fonts.largeFont = font;
        SetDefaultFont(font);
    }
}

bool FontHasLogoGlyph(const ImFont* font) {
    return font != nullptr && font->FindGlyphNoFallback(static_cast<ImWchar>(kLogoGlyph)) != nullptr;
}

}  // namespace korvel
