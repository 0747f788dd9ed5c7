#include "app/theme.h"

#include <algorithm>
#include <cmath>

namespace korvel {

namespace {

struct ThemeRow {
    std::uint32_t ThemeColors::*entry;
    std::uint32_t values[1 + kThemeCount];  // start-up, then themes 0..6
};

// Every entry's start-up value and its value in each theme. A theme that
// does not set an entry repeats the start-up value.
constexpr ThemeRow kThemeTable[] = {
    {&ThemeColors::windowBg,
     {Rgb(0x0E0E10), Rgb(0x111113), Rgb(0xACAAA6), Rgb(0x161618),
      Rgb(0x18181A), Rgb(0x08080A), Rgb(0x242424), Rgb(0x252525)}},
    {&ThemeColors::barBg,
     {Rgb(0x18181B), Rgb(0x1B1B1E), Rgb(0x8E8C88), Rgb(0x202022),
      Rgb(0x242426), Rgb(0x121216), Rgb(0x242424), Rgb(0x2D2D2D)}},
    {&ThemeColors::surfaceHover,
     {Rgb(0x202024), Rgb(0x232328), Rgb(0xB6B4B0), Rgb(0x2A2A2D),
      Rgb(0x2E2E30), Rgb(0x1C1C21), Rgb(0x343434), Rgb(0x373737)}},
    {&ThemeColors::inspectorBg,
     {Rgb(0x1E1E21), Rgb(0x212124), Rgb(0x8A8884), Rgb(0x262628),
      Rgb(0x28282A), Rgb(0x18181C), Rgb(0x282828), Rgb(0x282828)}},
    {&ThemeColors::overlayBg,
     {Rgb(0x0C0C0E), Rgba(0x111113, 0x96), Rgba(0xACAAA6, 0x96), Rgb(0x121214),
      Rgb(0x141416), Rgb(0x060608), Rgb(0x161616), Rgba(0x3A3A3A, 0x96)}},
    {&ThemeColors::laneBg,
     {Rgb(0x0C0C0E), Rgb(0x0F0F11), Rgb(0xB6B4B0), Rgb(0x121214),
      Rgb(0x141416), Rgb(0x060608), Rgb(0x161616), Rgb(0x191919)}},
    {&ThemeColors::transportBg,
     {Rgb(0x18181B), Rgb(0x1B1B1E), Rgb(0x73716E), Rgb(0x202022),
      Rgb(0x242426), Rgb(0x121216), Rgb(0x2C2C2C), Rgb(0x252525)}},
    {&ThemeColors::videoBg,
     {Rgb(0x040508), Rgb(0x040508), Rgb(0x0E0E10), Rgb(0x060608),
      Rgb(0x060608), Rgb(0x020204), Rgb(0x060606), Rgb(0x060606)}},
    {&ThemeColors::popupBg,
     {Rgba(0x14141A, 0xF2), Rgba(0x17171D, 0xF2), Rgba(0xA5A39F, 0xF8), Rgba(0x1C1C20, 0xF2),
      Rgba(0x202022, 0xF5), Rgba(0x0E0E14, 0xF5), Rgba(0x222222, 0xF5), Rgba(0x282828, 0xF5)}},
    {&ThemeColors::busyBg,
     {Rgb(0x06080C), Rgb(0x080A0E), Rgb(0x696764), Rgb(0x0A0A0C),
      Rgb(0x0C0C0E), Rgb(0x040406), Rgb(0x0E0E0E), Rgb(0x121212)}},
    {&ThemeColors::timelineShade1,
     {Rgb(0x18181B), Rgb(0x1B1B1E), Rgb(0x94928E), Rgb(0x202022),
      Rgb(0x18181B), Rgb(0x18181B), Rgb(0x18181B), Rgb(0x18181B)}},
    {&ThemeColors::timelineShade2,
     {Rgb(0x0E0E10), Rgb(0x111113), Rgb(0xACAAA6), Rgb(0x161618),
      Rgb(0x18181A), Rgb(0x08080A), Rgb(0x1A1A1A), Rgb(0x3A3A3A)}},
    {&ThemeColors::timelineShade3,
     {Rgb(0x0E0E10), Rgb(0x111113), Rgb(0xACAAA6), Rgb(0x161618),
      Rgb(0x18181A), Rgb(0x08080A), Rgb(0x343434), Rgb(0x343434)}},
    {&ThemeColors::timelineShade4,
     {Rgb(0x202024), Rgb(0x232328), Rgb(0xB6B4B0), Rgb(0x2A2A2D),
      Rgb(0x2E2E30), Rgb(0x1C1C21), Rgb(0x262626), Rgb(0x252525)}},
    {&ThemeColors::border,
     {Rgb(0x34343A), Rgb(0x34343A), Rgb(0x82807C), Rgb(0x3A3A40),
      Rgb(0x3A3A3E), Rgb(0x3C3C46), Rgb(0x363636), Rgb(0x101010)}},
    {&ThemeColors::borderSoft,
     {Rgb(0x2C2C30), Rgb(0x2C2C30), Rgb(0x8C8A86), Rgb(0x323236),
      Rgb(0x323235), Rgb(0x34343C), Rgb(0x303030), Rgb(0x323232)}},
    {&ThemeColors::textPrimary,
     {Rgb(0xE6E6E8), Rgb(0xE6E6E8), Rgb(0x101014), Rgb(0xE6E6EB),
      Rgb(0xE1E1E4), Rgb(0xEBEBF0), Rgb(0xE1E1E1), Rgb(0xD2D2D2)}},
    {&ThemeColors::textSecondary,
     {Rgb(0x9B9BA5), Rgb(0x9B9BA5), Rgb(0x3A3834), Rgb(0x9B9BA5),
      Rgb(0x98989C), Rgb(0xAAAAB9), Rgb(0x9B9B9B), Rgb(0xB3B3B3)}},
    {&ThemeColors::textMuted,
     {Rgb(0x5F5F69), Rgb(0x5F5F69), Rgb(0x5F5D59), Rgb(0x646470),
      Rgb(0x5F5F64), Rgb(0x737382), Rgb(0x646464), Rgb(0x646464)}},
    {&ThemeColors::textOnAccent,
     {Rgb(0x111113), Rgb(0x111113), Rgb(0xE8E6E1), Rgb(0xFFFFFF),
      Rgb(0x0C0C0E), Rgb(0x000000), Rgb(0xFFFFFF), Rgb(0xBDCDDA)}},
    {&ThemeColors::accent,
     {Rgb(0xC8CFDA), Rgb(0xC8CFDA), Rgb(0x2D2C28), Rgb(0x4B8CDC),
      Rgb(0xE8801C), Rgb(0x00E1B9), Rgb(0x4182CD), Rgb(0x376D95)}},
    {&ThemeColors::accentDim,
     {Rgb(0x828996), Rgb(0x828996), Rgb(0x3E3C37), Rgb(0x3264AA),
      Rgb(0xB96412), Rgb(0x00A587), Rgb(0x3064A8), Rgb(0x2A587D)}},
    {&ThemeColors::accentBright,
     {Rgb(0xE1E6F0), Rgb(0xE1E6F0), Rgb(0x201F1C), Rgb(0x5FA5F5),
      Rgb(0xF8942A), Rgb(0x1EF5C8), Rgb(0x559BE6), Rgb(0x4B8CB9)}},
    {&ThemeColors::accentMuted,
     {Rgb(0xA5ACB9), Rgb(0xA5ACB9), Rgb(0x52504B), Rgb(0x4178BE),
      Rgb(0xC87016), Rgb(0x00C8A0), Rgb(0x3773B9), Rgb(0x3773A5)}},
    {&ThemeColors::frameBg,
     {Rgb(0x242428), Rgb(0x242428), Rgb(0xB9B7B3), Rgb(0x28282B),
      Rgb(0x2C2C2E), Rgb(0x1C1C21), Rgb(0x2C2C2C), Rgb(0x343434)}},
    {&ThemeColors::frameBgHovered,
     {Rgb(0x2A2A2F), Rgb(0x2A2A2F), Rgb(0xAFADA9), Rgb(0x2E2E32),
      Rgb(0x323234), Rgb(0x222228), Rgb(0x343434), Rgb(0x3A3A3A)}},
    {&ThemeColors::frameBgActive,
     {Rgb(0x303036), Rgb(0x303036), Rgb(0xA5A39F), Rgb(0x343438),
      Rgb(0x38383A), Rgb(0x28282E), Rgb(0x3A3A3A), Rgb(0x404040)}},
    {&ThemeColors::buttonBg,
     {Rgb(0x1C1C21), Rgb(0x1F1F24), Rgb(0x8C8A86), Rgb(0x222226),
      Rgb(0x262628), Rgb(0x18181E), Rgb(0x262626), Rgb(0x333333)}},
    {&ThemeColors::buttonHovered,
     {Rgb(0x26262B), Rgb(0x2A2A2F), Rgb(0x82807C), Rgb(0x2E2E34),
      Rgb(0x323234), Rgb(0x24242C), Rgb(0x343434), Rgb(0x3E3E3E)}},
    {&ThemeColors::checkMark,
     {Rgb(0xC8C8CE), Rgb(0xC8C8CE), Rgb(0x262521), Rgb(0xAAAAB4),
      Rgb(0xCDCDD0), Rgb(0xBEBEC8), Rgb(0xAAAAAA), Rgb(0xAAAAAA)}},
    {&ThemeColors::scrollbarBg,
     {Rgba(0x0D0D0F, 0x80), Rgba(0x0F0F11, 0x80), Rgba(0x9B9995, 0x80), Rgba(0x121214, 0x80),
      Rgba(0x141416, 0x80), Rgba(0x08080A, 0x80), Rgba(0x121212, 0x80), Rgba(0x191919, 0x80)}},
    {&ThemeColors::actionButtonBg,
     {Rgb(0x9B9BA5), Rgb(0x9B9BA5), Rgb(0x3A3834), Rgb(0x9696A0),
      Rgb(0x919194), Rgb(0xAAAAB9), Rgb(0x949494), Rgb(0x9B9B9B)}},
    {&ThemeColors::actionButtonHovered,
     {Rgb(0xA8A8B2), Rgb(0xA8A8B2), Rgb(0x302E2A), Rgb(0xA0A0AA),
      Rgb(0x9B9B9E), Rgb(0xB6B6C6), Rgb(0xA2A2A2), Rgb(0xA8A8A8)}},
    {&ThemeColors::actionButtonText,
     {Rgb(0x141416), Rgb(0x141416), Rgb(0xE8E6E1), Rgb(0x161618),
      Rgb(0x18181A), Rgb(0x08080A), Rgb(0x161616), Rgb(0x191919)}},
    {&ThemeColors::muteOnBg,
     {Rgba(0x9B5508, 0xC8), Rgba(0x9B5508, 0xC8), Rgba(0xB46E23, 0xDE), Rgba(0xBC7628, 0xC8),
      Rgba(0xB67024, 0xCD), Rgba(0xCD802A, 0xDC), Rgba(0xB47024, 0xD2), Rgba(0xB47024, 0xD2)}},
    {&ThemeColors::muteOnHovered,
     {Rgba(0x9B5508, 0xC8), Rgba(0xAA620F, 0xDC), Rgba(0xC37A2A, 0xF2), Rgba(0xCA8230, 0xDC),
      Rgba(0xC67D2C, 0xE1), Rgba(0xDE8E34, 0xF0), Rgba(0xC37D2C, 0xE6), Rgba(0xC37D2C, 0xE6)}},
    {&ThemeColors::muteOnActive,
     {Rgba(0x874802, 0xC8), Rgba(0x874802, 0xC8), Rgba(0xA2621E, 0xDE), Rgba(0xA86922, 0xC8),
      Rgba(0xA2641E, 0xCD), Rgba(0xB67024, 0xDC), Rgba(0xA0641E, 0xD2), Rgba(0xA0641E, 0xD2)}},
    {&ThemeColors::muteOffHovered,
     {Rgba(0x200C00, 0xC8), Rgba(0x200C00, 0xC8), Rgba(0xACA29A, 0xC8), Rgba(0x3E2C1E, 0xC8),
      Rgba(0x3A281A, 0xC8), Rgba(0x46301C, 0xC8), Rgba(0x37261A, 0xC8), Rgba(0x37261A, 0xC8)}},
    {&ThemeColors::muteOnText,
     {Rgba(0xFFFFFF, 0xF0), Rgba(0xFFFFFF, 0xF0), Rgba(0xF2F0ED, 0xF8), Rgba(0xFFFFFF, 0xF0),
      Rgba(0xFCFCFA, 0xF2), Rgba(0xFFFFFF, 0xFA), Rgba(0xFAFAFA, 0xF5), Rgba(0xFAFAFA, 0xF5)}},
    {&ThemeColors::soloOnBg,
     {Rgba(0xC8B432, 0xC8), Rgba(0xC8B432, 0xC8), Rgba(0xB29B14, 0xDE), Rgba(0xC8B432, 0xC8),
      Rgba(0xC6B230, 0xCD), Rgba(0xDCC832, 0xDC), Rgba(0xC3AF2D, 0xD2), Rgba(0xC3AF2D, 0xD2)}},
    {&ThemeColors::soloOnHovered,
     {Rgba(0xDCC846, 0xDC), Rgba(0xDCC846, 0xDC), Rgba(0xC6AC1E, 0xF2), Rgba(0xDCC846, 0xDC),
      Rgba(0xDAC641, 0xE1), Rgba(0xF0DC46, 0xF0), Rgba(0xD7C341, 0xE6), Rgba(0xD7C341, 0xE6)}},
    {&ThemeColors::soloOnActive,
     {Rgba(0xB4A22D, 0xC8), Rgba(0xB4A22D, 0xC8), Rgba(0xA08C12, 0xDE), Rgba(0xB4A22D, 0xC8),
      Rgba(0xB2A02A, 0xCD), Rgba(0xC6B42D, 0xDC), Rgba(0xAF9E28, 0xD2), Rgba(0xAF9E28, 0xD2)}},
    {&ThemeColors::soloOffHovered,
     {Rgba(0x3C3C28, 0xC8), Rgba(0x3C3C28, 0xC8), Rgba(0xACAA9A, 0xC8), Rgba(0x3C3A28, 0xC8),
      Rgba(0x3A3724, 0xC8), Rgba(0x413C23, 0xC8), Rgba(0x373423, 0xC8), Rgba(0x373423, 0xC8)}},
    {&ThemeColors::soloOnText,
     {Rgba(0xFFFFFF, 0xF0), Rgba(0xFFFFFF, 0xF0), Rgba(0xF2F0ED, 0xF8), Rgba(0xFFFFFF, 0xF0),
      Rgba(0xFCFCFA, 0xF2), Rgba(0xFFFFFF, 0xFA), Rgba(0xFAFAFA, 0xF5), Rgba(0xFAFAFA, 0xF5)}},
    {&ThemeColors::danger,
     {Rgba(0xFF6464, 0xDC), Rgba(0xFF6464, 0xDC), Rgba(0xC62A1E, 0xF0), Rgba(0xFF645F, 0xDC),
      Rgba(0xF25F4E, 0xE1), Rgba(0xFF5A55, 0xEB), Rgba(0xF05A50, 0xE1), Rgba(0xF05A50, 0xE1)}},
    {&ThemeColors::dangerHoverBg,
     {Rgb(0x4D1414), Rgb(0x4D1414), Rgb(0xB49E9A), Rgb(0x4E1614),
      Rgb(0x481410), Rgb(0x551210), Rgb(0x461412), Rgb(0x461412)}},
    {&ThemeColors::warning,
     {Rgb(0xE69933), Rgb(0xE69933), Rgb(0xC3800C), Rgb(0xE69B32),
      Rgb(0xE89E2D), Rgb(0xF5AA2D), Rgb(0xE19B2D), Rgb(0xE19B2D)}},
    {&ThemeColors::positive,
     {Rgb(0x66BFA6), Rgb(0x66BFA6), Rgb(0x2A806C), Rgb(0x5AB49B),
      Rgb(0x55AF96), Rgb(0x1EDCB4), Rgb(0x5AAF96), Rgb(0x5AAF96)}},
    {&ThemeColors::highlight,
     {Rgba(0xFFFFFF, 0xC8), Rgba(0xFFFFFF, 0xC8), Rgba(0x16161A, 0xE4), Rgba(0xFFFFFF, 0xC8),
      Rgba(0xE8801C, 0xD2), Rgba(0xFFFFFF, 0xDC), Rgba(0xFFFFFF, 0xD2), Rgba(0xFFFFFF, 0xD2)}},
    {&ThemeColors::curveLine,
     {Rgb(0x50A0FF), Rgb(0x50A0FF), Rgb(0x1E69BC), Rgb(0x50A0FF),
      Rgb(0x4B98F5), Rgb(0x5AAFFF), Rgb(0x4B96F0), Rgb(0x4B96F0)}},
    {&ThemeColors::curveLineAlt,
     {Rgb(0x5AA0E6), Rgb(0x5AA0E6), Rgb(0x2666A8), Rgb(0x5A9BE1),
      Rgb(0x5596DC), Rgb(0x64AAF0), Rgb(0x5591D7), Rgb(0x5591D7)}},
    {&ThemeColors::eventAccent,
     {Rgb(0x8CD2FF), Rgb(0x8CD2FF), Rgb(0x164891), Rgb(0x87C8FA),
      Rgb(0x82C3F8), Rgb(0x96DCFF), Rgb(0x82C3F5), Rgb(0x82C3F5)}},
    {&ThemeColors::meterLow,
     {Rgba(0x00C8A0, 0xA0), Rgba(0x00C8A0, 0xA0), Rgba(0x378E26, 0xC3), Rgba(0x3CBE64, 0xA0),
      Rgba(0x37B95C, 0xA5), Rgba(0x00DCAF, 0xB4), Rgba(0x41B95F, 0xAA), Rgba(0x41B95F, 0xAA)}},
    {&ThemeColors::meterMid,
     {Rgba(0xDCB428, 0xB4), Rgba(0xDCB428, 0xB4), Rgba(0xC39110, 0xD2), Rgba(0xDCB428, 0xB4),
      Rgba(0xDAAF26, 0xB9), Rgba(0xEBC328, 0xC8), Rgba(0xD7AF26, 0xB9), Rgba(0xD7AF26, 0xB9)}},
    {&ThemeColors::meterHigh,
     {Rgba(0xDC3C28, 0xC8), Rgba(0xDC3C28, 0xC8), Rgba(0xC62A1A, 0xDE), Rgba(0xDC3C28, 0xC8),
      Rgba(0xDA3A26, 0xCD), Rgba(0xEB3C28, 0xDC), Rgba(0xD73726, 0xCD), Rgba(0xD73726, 0xCD)}},
    {&ThemeColors::attention,
     {Rgb(0x00B4DC), Rgb(0x00B4DC), Rgb(0x1680C0), Rgb(0x28AADC),
      Rgb(0x26A5D7), Rgb(0x00C3EB), Rgb(0x28A5D2), Rgb(0x28A5D2)}},
    {&ThemeColors::amberMark,
     {Rgb(0xDCA028), Rgb(0xDCA028), Rgb(0xBC8208), Rgb(0xDCA028),
      Rgb(0xDA9B26), Rgb(0xEBAF28), Rgb(0xD79B26), Rgb(0xD79B26)}},
    {&ThemeColors::redMark,
     {Rgb(0xFF503C), Rgb(0xFF503C), Rgb(0xC6301E), Rgb(0xFF503C),
      Rgb(0xF84E37), Rgb(0xFF553C), Rgb(0xF54B37), Rgb(0xF54B37)}},
    {&ThemeColors::yellowMark,
     {Rgb(0xFFC850), Rgb(0xFFC850), Rgb(0xA27A14), Rgb(0xFFC850),
      Rgb(0xF8C348), Rgb(0xFFD255), Rgb(0xF5C34B), Rgb(0xF5C34B)}},
    {&ThemeColors::pictureSource,
     {Rgb(0xDC8C50), Rgb(0xDC8C50), Rgb(0xA25520), Rgb(0xDC8C50),
      Rgb(0xD78748), Rgb(0xEB9650), Rgb(0xD2874B), Rgb(0xD2874B)}},
    {&ThemeColors::markerSource,
     {Rgb(0x6EB978), Rgb(0x6EB978), Rgb(0x2D7D3A), Rgb(0x69B473),
      Rgb(0x6CB676), Rgb(0x78C882), Rgb(0x69AF73), Rgb(0x69AF73)}},
    {&ThemeColors::accentPale,
     {Rgb(0xB4B9C8), Rgb(0xB4B9C8), Rgb(0x2A2A26), Rgb(0x50A0DC),
      Rgb(0xE89437), Rgb(0x50DC9B), Rgb(0x559BD7), Rgb(0x559BD7)}},
    {&ThemeColors::selectionFill,
     {Rgba(0x5078B4, 0x32), Rgba(0x5078B4, 0x32), Rgba(0x2D558C, 0x3C), Rgba(0x4B82C8, 0x32),
      Rgba(0xB46E28, 0x2D), Rgba(0x508CC8, 0x41), Rgba(0x4178BE, 0x32), Rgba(0x4178BE, 0x32)}},
    {&ThemeColors::neutralMark,
     {Rgb(0x505050), Rgb(0x505050), Rgb(0x918F8B), Rgb(0x55555A),
      Rgb(0x4E4E52), Rgb(0x4B4B50), Rgb(0x4B4B4B), Rgb(0x4B4B4B)}},
    {&ThemeColors::reverbSend,
     {Rgba(0xAA73DC, 0xA0), Rgba(0xAA73DC, 0xA0), Rgba(0x5C448A, 0xAF), Rgba(0x7864B4, 0x96),
      Rgba(0x765FAC, 0x9B), Rgba(0x826EC8, 0xA5), Rgba(0x735FAA, 0x9B), Rgba(0x735FAA, 0x9B)}},
    {&ThemeColors::reverbTrack,
     {Rgba(0x464646, 0x78), Rgba(0x464646, 0x78), Rgba(0x918F8B, 0x8E), Rgba(0x4B4B50, 0x78),
      Rgba(0x444448, 0x7D), Rgba(0x505055, 0x82), Rgba(0x414141, 0x7D), Rgba(0x414141, 0x7D)}},
    {&ThemeColors::reverbDeep,
     {Rgb(0x8C5AC3), Rgb(0x8C5AC3), Rgb(0x4B3470), Rgb(0x55467D),
      Rgb(0x524178), Rgb(0x5A4887), Rgb(0x4E3E73), Rgb(0x4E3E73)}},
};
static_assert(sizeof kThemeTable / sizeof kThemeTable[0] == kThemeEntryCount);

ThemeColors StartupPalette() {
    ThemeColors colors;
    for (const ThemeRow& row : kThemeTable) colors.*row.entry = row.values[0];
    return colors;
}

}  // namespace

ThemeColors ThemePalette = StartupPalette();
std::uint32_t WeightColorLow = PackOpaqueRgb(0x44, 0x01, 0x54);
std::uint32_t WeightColorMid = PackOpaqueRgb(0x21, 0x91, 0x8C);
std::uint32_t WeightColorHigh = PackOpaqueRgb(0xFD, 0xE7, 0x25);
std::int32_t ThemeIndex = 0;
ThemeHooks ShellThemeHooks;

void SetTheme(std::int32_t index) {
    ThemeIndex = index;
    if (index >= 0 && index < kThemeCount) {
        for (const ThemeRow& row : kThemeTable) ThemePalette.*row.entry = row.values[1 + index];
    }
    if (ShellThemeHooks.fillPalette != nullptr) ShellThemeHooks.fillPalette(index);
}

std::uint32_t ThemeColors::*ThemeEntry(int index) { return kThemeTable[index].entry; }
std::uint32_t ThemeStartupValue(int index) { return kThemeTable[index].values[0]; }
std::uint32_t ThemeValue(int theme, int index) { return kThemeTable[index].values[1 + theme]; }

std::uint32_t GetEventKindColor(int kind, int alpha) {
    static constexpr std::uint32_t kKindRgb[] = {0x50B482, 0x508CD2, 0xA08764, 0xC8C3B9, 0xF0B450, 0x8C8C91, 0x96AFA5};
    const std::uint32_t rgb = kind >= 0 && kind < 7 ? kKindRgb[kind] : 0x969696;
    return Rgba(rgb, static_cast<std::uint32_t>(alpha));
}

std::uint32_t GetWeightColor(float weight) {
    float w = std::isnan(weight) ? 0.0f : weight;
    w = w < 0.0f ? 0.0f : (w > 1.0f ? 1.0f : w);
    std::uint32_t rgb = 0;
    if (w <= 0.1f) {
        rgb = WeightColorLow;
    } else if (w >= 0.9f) {
        rgb = WeightColorHigh;
    } else {
        const bool low = w < 0.5f;
        const std::uint32_t from = low ? WeightColorLow : WeightColorMid;
        const std::uint32_t to = low ? WeightColorMid : WeightColorHigh;
        const float t = (w - (low ? 0.1f : 0.5f)) / 0.4f;
        for (int shift = 0; shift < 24; shift += 8) {
            const float a = static_cast<float>(from >> shift & 0xFFu);
            const float b = static_cast<float>(to >> shift & 0xFFu);
            rgb |= static_cast<std::uint32_t>(a + (b - a) * t) << shift;
        }
    }
    return ColorWithAlpha(rgb, 200);
}

std::uint32_t ColorWithAlpha(std::uint32_t color, int alpha) {
    return static_cast<std::uint32_t>(alpha & 0xFF) << 24 | (color & 0xFFFFFFu);
}


void ApplyTheme() {
    if (ShellThemeHooks.applyTheme != nullptr) ShellThemeHooks.applyTheme();
}

void SetFontSizePreset(std::int32_t preset, AppState& app) {
    preset = std::clamp(preset, 0, kFontSizePresets - 1);
    app.fontSizePreset = preset;

    FontTable& fonts = app.fonts;
    const auto& set = app.boldFonts ? fonts.bold[preset] : fonts.regular[preset];
    fonts.smallFont = set[0] != nullptr ? set[0] : fonts.bodyFont;
    if (set[1] != nullptr) fonts.bodyFont = set[1];
    fonts.mediumFont = set[2] != nullptr ? set[2] : fonts.bodyFont;
    fonts.largeFont = set[3] != nullptr ? set[3] : fonts.bodyFont;
    if (ShellThemeHooks.setDefaultFont != nullptr && fonts.bodyFont != nullptr)
        ShellThemeHooks.setDefaultFont(fonts.bodyFont);
}

}  // namespace korvel
