// The library tab.
//
// [SECTION] Tab state, notices, order and counts
// [SECTION] Spectral coverage
// [SECTION] Dropped folders, selection and the enabled boxes
// [SECTION] Drawing: coverage column, scan and queue cards
// [SECTION] Drawing: palette rows
// [SECTION] Drawing: the tab
#include "ui/panels/library_tab.h"

#include <imgui.h>

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>

#include "app/background_job.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "app/ui_layout.h"
#include "library/folder_scan.h"
#include "library/library.h"
#include "library/palettes.h"
#include "project/app_state.h"
#include "project/project.h"
#include "ui/panels/missing_sources_card.h"
#include "ui/panels/palette_menu.h"
#include "ui/panels/save_palette_mode.h"
#include "app/frame/style.h"
#include "ui/panels/panel_look.h"

namespace korvel {

// ---------------------------------------------------------------------------
// [SECTION] Tab state, notices, order and counts
// ---------------------------------------------------------------------------

LibraryTabState LibraryTab;
LibraryTabParts LibraryTabHooks{DrawMissingSourcesCard, RequestSavePaletteMode, DrawSavePaletteHeader,
                                DrawSavePaletteList, DrawSavePaletteFooter};

namespace {

std::string WithoutTrailingSlashes(std::string path) {
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

const char* Plural(std::int64_t n) { return n == 1 ? "" : "s"; }

ImU32 Alpha(std::uint32_t color, int alpha) { return panels::Col(ColorWithAlpha(color, alpha)); }

}  // namespace

void SetLibraryTabNotice(const std::string& text) {
    const std::size_t n = std::min(text.size(), sizeof LibraryTab.notice - 1);
    std::memcpy(LibraryTab.notice, text.data(), n);
    LibraryTab.notice[n] = '\0';
    LibraryTab.noticeTime = UiClockSeconds();
}

namespace {

bool NameBefore(const std::string& x, const std::string& y) {
    const std::size_t n = std::min(x.size(), y.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int cx = std::tolower(static_cast<unsigned char>(x[i]));
        const int cy = std::tolower(static_cast<unsigned char>(y[i]));
        if (cx != cy) return cx < cy;
    }
    return x.size() < y.size();
}

}  // namespace

bool CompareLibraryNames(std::int32_t a, std::int32_t b) {
    const auto& palettes = SoundLibrary.palettes;
    return NameBefore(palettes[static_cast<std::size_t>(a)].name, palettes[static_cast<std::size_t>(b)].name);
}

std::vector<std::int32_t> LibraryDisplayOrder(const Library& library) {
    std::vector<std::int32_t> order(library.palettes.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::int32_t>(i);
    std::sort(order.begin(), order.end(), [&library](std::int32_t a, std::int32_t b) {
        return NameBefore(library.palettes[static_cast<std::size_t>(a)].name,
                          library.palettes[static_cast<std::size_t>(b)].name);
    });
    return order;
}

std::string FormatLibraryFileCount(std::int64_t count) {
    char text[48];
    if (count < 1000)
        std::snprintf(text, sizeof text, "%d files", static_cast<int>(count));
    else if (count < 1000000)
        std::snprintf(text, sizeof text, "%d,%03d files", static_cast<int>(count / 1000), static_cast<int>(count % 1000));
    else
        std::snprintf(text, sizeof text, "%d,%03d,%03d files", static_cast<int>(count / 1000000),
                      static_cast<int>(count / 1000 % 1000), static_cast<int>(count % 1000));
    return text;
}

// ---------------------------------------------------------------------------
// [SECTION] Spectral coverage
// ---------------------------------------------------------------------------

std::uint64_t CoverageSignature(const Library& library) {
    std::uint64_t h = 0x9E3779B97F4A7C15ull;
    const auto mix = [&h](std::uint64_t v) {
        h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
        h *= 0xFF51AFD7ED558CCDull;
    };
    mix(library.palettes.size());
    for (const Palette& palette : library.palettes) {
        mix(std::hash<std::string>{}(palette.folder));
        mix(palette.files.size());
        mix(palette.enabled ? 1 : 2);
    }
    return h;
}

bool UpdateSpectralCoverage(SpectralCoverage& coverage, const Library& library) {
    const std::uint64_t signature = CoverageSignature(library);
    if (coverage.computed && signature == coverage.signature) return false;
    coverage.signature = signature;
    coverage.computed = true;
    std::array<double, 5> sums{};
    coverage.palettes = 0;
    coverage.files = 0;
    coverage.paletteBands.assign(library.palettes.size(), {});
    for (std::size_t p = 0; p < library.palettes.size(); ++p) {
        const Palette& palette = library.palettes[p];
        std::array<double, 5> own{};
        for (const LibraryFile& file : palette.files)
            for (int i = 0; i < 5; ++i) own[i] += file.bandEnergies[i];
        if (palette.enabled && !palette.folderMissing) {
            ++coverage.palettes;
            coverage.files += static_cast<std::int32_t>(palette.files.size());
            for (int i = 0; i < 5; ++i) sums[i] += own[i];
        }
        // The row's bars: averages over the palette's files, scaled to
        // their largest (left as they are when that is not positive).
        auto& bars = coverage.paletteBands[p];
        if (palette.files.empty()) continue;
        const double count = static_cast<double>(palette.files.size());
        double largest = 0.0;
        for (int i = 0; i < 5; ++i) largest = std::max(largest, own[i] / count);
        for (int i = 0; i < 5; ++i)
            bars[i] = static_cast<float>(largest > 0.0 ? own[i] / count / largest : own[i] / count);
    }
    const double largest = *std::max_element(sums.begin(), sums.end());
    for (int i = 0; i < 5; ++i) coverage.bands[i] = largest > 0.0 ? static_cast<float>(sums[i] / largest) : 0.0f;
    return true;
}

// ---------------------------------------------------------------------------
// [SECTION] Dropped folders, selection and the enabled boxes
// ---------------------------------------------------------------------------

void TakeDroppedFolders(AppState& state, Library& library) {
    for (const std::string& dropped : state.dropState.droppedFolderPaths) {
        const std::string path = WithoutTrailingSlashes(dropped);
        if (path.empty()) continue;
        const auto same = [&path](const std::string& folder) { return WithoutTrailingSlashes(folder) == path; };
        if (std::any_of(library.palettes.begin(), library.palettes.end(),
                        [&](const Palette& p) { return same(p.folder); }))
            continue;
        if (library.scanning.load()) {
            if (same(library.scanFolder.path)) continue;
            if (std::any_of(library.folderQueue.begin(), library.folderQueue.end(),
                            [&](const PendingLibraryFolder& f) { return same(f.path); }))
                continue;
            library.folderQueue.push_back({path, true, -1});
            library.folderQueueNames.push_back(FolderLastComponent(path));
        } else {
            StartFolderScan(library, path, true, -1, false);
        }
    }
    state.dropState.droppedFolderPaths.clear();
}

void ClickLibraryRow(AppState& state, std::int32_t index, bool shift, bool toggle,
                     const std::vector<std::int32_t>& order) {
    if (shift) {
        state.ExtendLibrarySelection(index, order);
    } else if (toggle) {
        if (!state.librarySelection.erase(index)) state.librarySelection.insert(index);
        state.librarySelectionAnchor = index;
    } else {
        state.SelectLibraryEntry(index);
    }
}

bool SetPaletteEnabledFromRow(AppState& state, Library& library, std::int32_t index, bool enabled) {
    if (index < 0 || index >= static_cast<std::int32_t>(library.palettes.size()) || !UiMayEditProject(state))
        return false;
    library.palettes[static_cast<std::size_t>(index)].enabled = enabled;
    if (state.librarySelection.count(index) && state.librarySelection.size() > 1)
        for (std::int32_t i : state.librarySelection)
            if (i >= 0 && i < static_cast<std::int32_t>(library.palettes.size()))
                library.palettes[static_cast<std::size_t>(i)].enabled = enabled;
    library.keywordIndex.dirty = true;
    return true;
}

// ---------------------------------------------------------------------------
// [SECTION] Drawing: coverage column, scan and queue cards
// ---------------------------------------------------------------------------

namespace {

// The scale at which `width` (at the font size) fits `room`, at most 1.
float ScaleToFit(float width, float room) { return width > room && width > 0.0f ? room / width : 1.0f; }

// The largest scale at which labels centred under bars `pitch` apart keep a
// small space between neighbours.
float LabelScale(const std::array<float, 5>& widths, float barPitch) {
    constexpr float kSpace = 3.0f;
    float scale = 1.0f;
    for (std::size_t i = 0; i + 1 < widths.size(); ++i)
        scale = std::min(scale, ScaleToFit((widths[i] + widths[i + 1]) / 2.0f, barPitch - kSpace));
    return scale;
}

}  // namespace

CoverageTextFit FitCoverageText(float columnWidth, float barPitch, const std::function<float(const char*)>& measure) {
    CoverageTextFit fit;
    fit.titleScale = ScaleToFit(measure("SPECTRAL COVERAGE"), columnWidth);
    if (fit.titleScale < kCoverageMinTextScale) {
        fit.titleWrapped = true;
        fit.titleScale = ScaleToFit(std::max(measure("SPECTRAL"), measure("COVERAGE")), columnWidth);
    }
    const std::array<float, 5> words{measure("Sub"), measure("Low"), measure("Mid"), measure("High"), measure("Air")};
    fit.labelScale = LabelScale(words, barPitch);
    if (fit.labelScale < kCoverageMinTextScale) {
        fit.labelInitials = true;
        const std::array<float, 5> initials{measure("S"), measure("L"), measure("M"), measure("H"), measure("A")};
        fit.labelScale = LabelScale(initials, barPitch);
    }
    return fit;
}

namespace {

struct TabMetrics {
    float fontSize = 0.0f;
    float frameHeight = 0.0f;
    float footer = 0.0f;
    float topAreaHeight = 0.0f;
    float panelWidth = 0.0f;
};

void DrawCoverageColumn(ImDrawList* draw, const Library& library, const SpectralCoverage& coverage,
                        const TabMetrics& m, float columnWidth) {
    const ImVec2 origin = ImGui::GetWindowPos();
    const float y0 = ImGui::GetCursorPosY();
    const float F = m.fontSize;
    const float gap = std::max(1.5f, 0.03f * columnWidth);
    const float bar = std::max(4.0f, (columnWidth - 4.0f * gap) / 5.0f);
    const float pitch = bar + gap;
    const CoverageTextFit fit =
        FitCoverageText(columnWidth, pitch, [](const char* text) { return ImGui::CalcTextSize(text).x; });
    ImFont* font = ImGui::GetFont();
    const ImVec2 titleAt(origin.x + 16.0f, origin.y + y0);
    const float titleSize = F * fit.titleScale;
    // Clipped to the column: the list starts right after it.
    draw->PushClipRect(ImVec2(titleAt.x, titleAt.y), ImVec2(titleAt.x + columnWidth, titleAt.y + 2.0f * F), true);
    if (fit.titleWrapped) {
        draw->AddText(font, titleSize, titleAt, panels::Col(ThemePalette.textSecondary), "SPECTRAL");
        draw->AddText(font, titleSize, ImVec2(titleAt.x, titleAt.y + titleSize),
                      panels::Col(ThemePalette.textSecondary), "COVERAGE");
    } else {
        draw->AddText(font, titleSize, titleAt, panels::Col(ThemePalette.textSecondary), "SPECTRAL COVERAGE");
    }
    draw->PopClipRect();
    const float secondLine = fit.titleWrapped ? titleSize : 0.0f;
    const float top = y0 + 1.6f * F + secondLine;
    const float height = std::max(1.5f * F, m.topAreaHeight - y0 - m.footer - 1.6f * F - 2.6f * F - secondLine);
    const float base = top + height;
    const bool any = !library.palettes.empty();
    static const char* const kWords[] = {"Sub", "Low", "Mid", "High", "Air"};
    static const char* const kInitials[] = {"S", "L", "M", "H", "A"};
    const char* const* kLabels = fit.labelInitials ? kInitials : kWords;
    const float labelSize = F * fit.labelScale;
    for (int i = 0; i < 5; ++i) {
        const float x = origin.x + 16.0f + static_cast<float>(i) * pitch;
        const float value = coverage.bands[i];
        float h = height * value;
        if (value > 0.0f && any) h = std::max(h, 2.0f);
        const std::uint32_t color = ColorWithAlpha(GetWeightColor(0.1f + 0.2f * static_cast<float>(i)), any ? 200 : 40);
        draw->AddRectFilled(ImVec2(x, origin.y + base - h), ImVec2(x + bar, origin.y + base), panels::Col(color), 2.0f);
        const float labelWidth = font->CalcTextSizeA(labelSize, FLT_MAX, 0.0f, kLabels[i]).x;
        draw->AddText(font, labelSize, ImVec2(x + (bar - labelWidth) / 2.0f, origin.y + base + 0.15f * F),
                      panels::Col(ThemePalette.textMuted), kLabels[i]);
    }
    if (any) {
        char text[96];
        std::snprintf(text, sizeof text, "%d files \xC2\xB7 %d palette%s", coverage.files, coverage.palettes,
                      Plural(coverage.palettes));
        draw->AddText(ImVec2(origin.x + 16.0f, origin.y + base + 0.15f * F + 1.3f * F),
                      panels::Col(ThemePalette.textMuted), text);
    }
}

void DrawScanCard(ImDrawList* draw, Library& library, float width, float F) {
    const float R = 2.6f * F;
    const ImVec2 a = ImGui::GetCursorScreenPos();
    const ImVec2 b(a.x + width, a.y + R);
    const float midY = (a.y + b.y) / 2.0f;
    const float t = static_cast<float>(UiClockSeconds());
    ImGui::PushID("##scancard");
    draw->AddRectFilled(a, b, panels::Col(ThemePalette.inspectorBg), 4.0f);
    const int pulse = static_cast<int>(40.0f + 35.0f * (0.5f + 0.5f * std::sin(2.5f * t)));
    draw->AddRect(a, b, Alpha(ThemePalette.textSecondary, pulse), 4.0f);

    const float boxSize = ImGui::GetFrameHeight();
    ImGui::SetCursorScreenPos(ImVec2(a.x + 0.6f * F, midY - boxSize / 2.0f));
    bool unchecked = false;
    ImGui::BeginDisabled();
    ImGui::Checkbox("##scen", &unchecked);
    ImGui::EndDisabled();
    const float barsLeft = ImGui::GetItemRectMax().x + 0.45f * F;
    for (int i = 0; i < 5; ++i) {
        const float fi = static_cast<float>(i);
        const float h = 2.0f + 10.0f * (0.35f * (0.5f + 0.5f * std::sin(2.21f * fi + 6.8f * t)) +
                                        0.65f * (0.5f + 0.5f * std::sin(4.5f * t + 1.3f * fi)));
        float hue = 0.25f * fi + 0.5f * (0.5f + 0.5f * std::sin(0.8f * fi + 0.9f * t));
        hue -= std::floor(hue);
        const float x = barsLeft + 6.0f * fi;
        draw->AddRectFilled(ImVec2(x, midY + 6.0f - h), ImVec2(x + 4.0f, midY + 6.0f),
                            panels::Col(ColorWithAlpha(GetWeightColor(hue), 180)), 1.0f);
    }

    const float cancelLeft = b.x - (0.45f * F + 18.0f);
    ImGui::SetCursorScreenPos(ImVec2(cancelLeft, midY - F / 2.0f));
    ImGui::PushStyleColor(ImGuiCol_Button, IM_COL32(0, 0, 0, 0));
    PushDimmedButtonColors();
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(2.0f, 0.0f));
    if (ImGui::SmallButton((std::string(panels::icon::kClose) + "##scancancel").c_str())) library.scanning.store(false);
    ImGui::PopStyleVar();
    PopColors2();
    ImGui::PopStyleColor();

    char counts[48];
    std::snprintf(counts, sizeof counts, "%d / %d", library.scanFilesDone.load(), library.scanFilesTotal.load());
    const float countsRight = cancelLeft - 0.6f * F;
    const float countsLeft = countsRight - ImGui::CalcTextSize(counts).x;
    draw->AddText(ImVec2(countsLeft, midY - F / 2.0f), Alpha(ThemePalette.textMuted, 100), counts);
    const float barRight = countsLeft - 0.6f * F;
    const float barLeft = barRight - 80.0f;
    draw->AddRectFilled(ImVec2(barLeft, midY - 1.5f), ImVec2(barRight, midY + 1.5f), Alpha(ThemePalette.surfaceHover, 120));
    const float progress = std::clamp(library.scanProgress.load(), 0.0f, 1.0f);
    draw->AddRectFilled(ImVec2(barLeft, midY - 1.5f), ImVec2(barLeft + 80.0f * progress, midY + 1.5f),
                        Alpha(ThemePalette.textSecondary, 200));

    char folderName[sizeof library.scanFolderName];
    {
        // The scan thread writes the name while it runs.
        std::lock_guard<std::mutex> hold(library.scanStatusMutex);
        std::memcpy(folderName, library.scanFolderName, sizeof folderName);
    }
    folderName[sizeof folderName - 1] = '\0';
    const float nameLeft = barsLeft + 6.0f * 5.0f + 0.45f * F;
    if (barLeft - 0.45f * F > nameLeft) {
        draw->PushClipRect(ImVec2(nameLeft, a.y), ImVec2(barLeft - 0.45f * F, b.y), true);
        draw->AddText(ImVec2(nameLeft, midY - F / 2.0f), panels::Col(ThemePalette.textSecondary), folderName);
        draw->PopClipRect();
    }
    ImGui::PopID();
    ImGui::SetCursorScreenPos(a);
    ImGui::Dummy(ImVec2(width, R + 0.25f * F - ImGui::GetStyle().ItemSpacing.y));
}

// One card per queued folder; false when one was removed (the rest wait
// for the next frame).
bool DrawQueuedCards(ImDrawList* draw, Library& library, float width, float F) {
    const float R = 2.6f * F;
    for (std::size_t i = 0; i < library.folderQueueNames.size(); ++i) {
        ImGui::PushID(5000 + static_cast<int>(i));
        const ImVec2 a = ImGui::GetCursorScreenPos();
        const ImVec2 b(a.x + width, a.y + R);
        const float midY = (a.y + b.y) / 2.0f;
        draw->AddRectFilled(a, b, panels::Col(ThemePalette.barBg), 4.0f);
        draw->AddRect(a, b, Alpha(ThemePalette.textMuted, 30), 4.0f);
        const float boxSize = ImGui::GetFrameHeight();
        ImGui::SetCursorScreenPos(ImVec2(a.x + 0.6f * F, midY - boxSize / 2.0f));
        bool unchecked = false;
        ImGui::BeginDisabled();
        ImGui::Checkbox("##qchk", &unchecked);
        ImGui::EndDisabled();
        const float barsLeft = ImGui::GetItemRectMax().x + 0.45f * F;
        for (int k = 0; k < 5; ++k) {
            const float x = barsLeft + 6.0f * static_cast<float>(k);
            draw->AddRectFilled(ImVec2(x, midY + 3.0f), ImVec2(x + 4.0f, midY + 6.0f), Alpha(ThemePalette.textMuted, 50));
        }
        const float removeLeft = b.x - (0.45f * F + 18.0f);
        ImGui::SetCursorScreenPos(ImVec2(removeLeft, midY - F / 2.0f));
        ImGui::PushStyleColor(ImGuiCol_Button, IM_COL32(0, 0, 0, 0));
        ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(2.0f, 0.0f));
        const bool removed = ImGui::SmallButton((std::string(panels::icon::kClose) + "##qrm").c_str());
        ImGui::PopStyleVar();
        ImGui::PopStyleColor();
        const float queuedLeft = removeLeft - 0.6f * F - ImGui::CalcTextSize("queued").x;
        draw->AddText(ImVec2(queuedLeft, midY - F / 2.0f), Alpha(ThemePalette.textMuted, 70), "queued");
        const float nameLeft = barsLeft + 30.0f + 0.45f * F;
        if (queuedLeft - 0.45f * F > nameLeft) {
            draw->PushClipRect(ImVec2(nameLeft, a.y), ImVec2(queuedLeft - 0.45f * F, b.y), true);
            draw->AddText(ImVec2(nameLeft, midY - F / 2.0f), Alpha(ThemePalette.textMuted, 120),
                          library.folderQueueNames[i].c_str());
            draw->PopClipRect();
        }
        ImGui::SetCursorScreenPos(a);
        ImGui::Dummy(ImVec2(width, R + 0.25f * F - ImGui::GetStyle().ItemSpacing.y));
        ImGui::PopID();
        if (removed) {
            library.folderQueueNames.erase(library.folderQueueNames.begin() + static_cast<std::ptrdiff_t>(i));
            if (i < library.folderQueue.size())
                library.folderQueue.erase(library.folderQueue.begin() + static_cast<std::ptrdiff_t>(i));
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// [SECTION] Drawing: palette rows
// ---------------------------------------------------------------------------

std::string KeywordLine(const std::string& keywords) {
    std::string line;
    line.reserve(keywords.size() + 8);
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        if (keywords.compare(i, 2, ", ") == 0) {
            line += " \xC2\xB7 ";
            ++i;
        } else {
            line += keywords[i];
        }
    }
    return line;
}

void DrawPaletteRow(ImDrawList* draw, AppState& state, Library& library, std::int32_t index, float width, float F,
                    bool mayEdit, const ImVec2& listMin, const ImVec2& listMax) {
    Palette& palette = library.palettes[static_cast<std::size_t>(index)];
    const ImGuiIO& io = ImGui::GetIO();
    const float R = 2.6f * F;
    ImGui::PushID(index);
    const ImVec2 a = ImGui::GetCursorScreenPos();
    const ImVec2 b(a.x + width, a.y + R);
    const float midY = (a.y + b.y) / 2.0f;
    const bool present = palette.enabled && !palette.folderMissing;
    const float line1 = a.y + 0.26f * F;
    const float line2 = line1 + 1.08f * F;

    draw->AddRectFilled(a, b, palette.folderMissing ? IM_COL32(40, 30, 22, 255) : panels::Col(ThemePalette.inspectorBg), 4.0f);
    if (state.librarySelection.count(index)) draw->AddRectFilled(a, b, IM_COL32(255, 255, 255, 18), 4.0f);

    // Left control.
    const float left = a.x + 0.6f * F;
    float spectrumLeft = left;
    if (palette.folderMissing) {
        draw->AddText(ImVec2(left + 2.0f, midY - F / 2.0f), panels::Col(ThemePalette.warning), "!");
        spectrumLeft = left + 2.0f + ImGui::CalcTextSize("!").x + 0.45f * F;
    } else {
        ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(1.0f, 1.0f));
        ImGui::SetCursorScreenPos(ImVec2(left, midY - (F + 2.0f) / 2.0f));
        bool enabled = palette.enabled;
        ImGui::BeginDisabled(!mayEdit);
        if (ImGui::Checkbox("##en", &enabled)) SetPaletteEnabledFromRow(state, library, index, enabled);
        ImGui::EndDisabled();
        ImGui::PopStyleVar();
        spectrumLeft = ImGui::GetItemRectMax().x + 0.45f * F;
    }

    // Mini spectrum from the averages cached with the coverage.
    const auto& bands = LibraryTab.coverage.paletteBands;
    const std::array<float, 5> values =
        static_cast<std::size_t>(index) < bands.size() ? bands[static_cast<std::size_t>(index)] : std::array<float, 5>{};
    for (int i = 0; i < 5; ++i) {
        const float x = spectrumLeft + 5.5f * static_cast<float>(i);
        const float h = std::max(1.5f, 14.0f * values[i]);
        const float base = midY + 7.0f;
        draw->AddRectFilled(ImVec2(x, base - h), ImVec2(x + 4.0f, base),
                            panels::Col(ColorWithAlpha(GetWeightColor(static_cast<float>(i) / 4.0f), present ? 180 : 80)),
                            1.0f);
    }

    // File count, right-aligned on the first line.
    const std::string count = FormatLibraryFileCount(static_cast<std::int64_t>(palette.files.size()));
    const float countRight = b.x - (0.45f * F + F + 6.0f);
    const float countLeft = countRight - ImGui::CalcTextSize(count.c_str()).x;
    draw->AddText(ImVec2(countLeft, line1),
                  present ? panels::Col(ThemePalette.textMuted) : Alpha(ThemePalette.textMuted, 140), count.c_str());
    if (!palette.layoutSummary.empty() && !ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId) &&
        ImGui::IsMouseHoveringRect(ImVec2(countLeft, line1), ImVec2(countRight, line1 + F)) &&
        ImGui::IsWindowHovered()) {
        ShowTooltip("Channel layouts\n%s", palette.layoutSummary.c_str());
    }

    // Name (or the rename field), badge and keywords.
    const float nameLeft = spectrumLeft + 0.6f * F + 27.0f;
    const float clipRight = std::max(nameLeft + 30.0f, countLeft - 0.4f * F);
    if (state.renamingPaletteIndex == index) {
        ImGui::SetCursorScreenPos(ImVec2(nameLeft, line1 - 2.0f));
        ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(4.0f, 1.0f));
        ImGui::BeginDisabled(!mayEdit);
        DrawPaletteRenameField(index, clipRight - nameLeft);
        ImGui::EndDisabled();
        ImGui::PopStyleVar();
        if (state.paletteRenameFocus) ImGui::SetScrollHereY(0.5f);
    } else {
        const ImU32 nameColor = palette.folderMissing ? panels::Col(ThemePalette.warning)
                                : palette.enabled     ? panels::Col(ThemePalette.textPrimary)
                                                      : Alpha(ThemePalette.textMuted, 140);
        draw->PushClipRect(ImVec2(nameLeft, a.y), ImVec2(clipRight, b.y), true);
        draw->AddText(ImVec2(nameLeft, line1), nameColor, palette.name.c_str());
        draw->PopClipRect();
        if (palette.savedPalette) {
            const float badgeLeft = nameLeft + ImGui::CalcTextSize(palette.name.c_str()).x + 0.35f * F;
            if (badgeLeft + ImGui::CalcTextSize("PALETTE").x <= clipRight)
                draw->AddText(ImVec2(badgeLeft, line1), Alpha(ThemePalette.positive, present ? 200 : 105), "PALETTE");
        }
    }
    if (!palette.keywordSummary.empty()) {
        const std::string line = KeywordLine(palette.keywordSummary);
        draw->PushClipRect(ImVec2(nameLeft, a.y), ImVec2(clipRight, b.y), true);
        draw->AddText(ImVec2(nameLeft, line2), Alpha(ThemePalette.textMuted, 140), line.c_str());
        draw->PopClipRect();
    }

    // Context button while the pointer is over the row or its menu is open.
    // Pressing the button makes it the active item, which blocks the plain
    // window hover; it must still be drawn on the release frame to open the menu.
    const bool inRow = ImGui::IsMouseHoveringRect(a, b) &&
                       ImGui::IsWindowHovered(ImGuiHoveredFlags_AllowWhenBlockedByPopup |
                                              ImGuiHoveredFlags_AllowWhenBlockedByActiveItem);
    if (inRow || ImGui::IsPopupOpen("##libctx")) {
        const float x = b.x - 0.45f * F - (F + 4.0f);
        ImGui::SetCursorScreenPos(ImVec2(x, midY - F / 2.0f));
        ImGui::PushStyleColor(ImGuiCol_Button, IM_COL32(0, 0, 0, 0));
        PushDimmedButtonColors();
        ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(ImGui::GetStyle().FramePadding.x, 0.0f));
        if (ImGui::Button((std::string(panels::icon::kEllipsis) + "##ctx").c_str())) ImGui::OpenPopup("##libctx");
        ImGui::PopStyleVar();
        PopColors2();
        ImGui::PopStyleColor();
    }
    ShowPaletteContextMenu(index);

    // A click on the row itself, not on one of its controls.
    if (io.MouseClicked[0] && ImGui::IsMouseHoveringRect(a, b) && io.MousePos.y >= listMin.y &&
        io.MousePos.y < listMax.y && ImGui::IsWindowHovered() && !ImGui::IsAnyItemHovered() &&
        !ImGui::IsAnyItemActive()) {
        ClickLibraryRow(state, index, io.KeyShift, io.KeySuper || io.KeyCtrl, LibraryTab.displayOrder);
    }

    ImGui::SetCursorScreenPos(a);
    ImGui::Dummy(ImVec2(width, R + 0.25f * F - ImGui::GetStyle().ItemSpacing.y));
    ImGui::PopID();
}

void DrawEmptyState(float contentWidth, float panelTop, float panelHeight) {
    const AppState& state = GlobalAppState;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    ImFont* medium = state.fonts.mediumFont;
    const char* title = "No palettes yet.";
    const char* line2 = "Drop a folder here, or use Scan Folder,";
    const char* line3 = "to index your sounds.";
    if (medium != nullptr) ImGui::PushFont(medium);
    const ImVec2 titleSize = ImGui::CalcTextSize(title);
    const float titleHeight = ImGui::GetFontSize();
    if (medium != nullptr) ImGui::PopFont();
    const float lineHeight = ImGui::GetFontSize();
    const float block = titleHeight + 4.0f + 2.0f * lineHeight;
    const ImVec2 listPos = ImGui::GetCursorScreenPos();
    // Centred vertically in the panel, horizontally on the content width.
    const float top = std::max(listPos.y, panelTop + (panelHeight - block) / 2.0f);
    const float centre = ImGui::GetWindowPos().x + contentWidth / 2.0f;
    if (medium != nullptr) ImGui::PushFont(medium);
    draw->AddText(ImVec2(centre - titleSize.x / 2.0f, top), panels::Col(ThemePalette.textSecondary), title);
    if (medium != nullptr) ImGui::PopFont();
    const float y2 = top + titleHeight + 4.0f;
    draw->AddText(ImVec2(centre - ImGui::CalcTextSize(line2).x / 2.0f, y2), panels::Col(ThemePalette.textMuted), line2);
    draw->AddText(ImVec2(centre - ImGui::CalcTextSize(line3).x / 2.0f, y2 + lineHeight),
                  panels::Col(ThemePalette.textMuted), line3);
}

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] Drawing: the tab
// ---------------------------------------------------------------------------

void DrawLibraryTab(ImDrawList* /*drawList*/, const UILayout& layout) {
    AppState& state = GlobalAppState;
    Library& library = SoundLibrary;
    LibraryTabState& tab = LibraryTab;
    tab.anyMenuOpen = false;
    // Last frame's "Save Palette" press: the whole of this frame draws the
    // mode it leads to.
    if (!state.savePaletteMode) TakeSavePaletteRequest();

    if (!panels::BeginTabPanel("##library_panel", layout.panelWidth, layout.topAreaHeight)) return;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();
    const DropState& drop = state.dropState;
    if ((drop.hoverFolder || drop.dropOverLibrary) && !state.savePaletteMode)
        draw->AddRect(ImVec2(origin.x + 3.0f, origin.y + 3.0f),
                      ImVec2(origin.x + layout.panelWidth - 3.0f, origin.y + layout.topAreaHeight - 3.0f),
                      Alpha(ThemePalette.accent, 180), 6.0f, 0, 2.0f);

    const float w = layout.panelWidth - 32.0f;
    ImFont* small = state.fonts.smallFont;
    if (small != nullptr) ImGui::PushFont(small);
    TabMetrics m;
    m.fontSize = ImGui::GetFontSize();
    m.frameHeight = ImGui::GetFrameHeight();
    m.footer = m.frameHeight + 0.6f * m.fontSize;
    m.topAreaHeight = layout.topAreaHeight;
    m.panelWidth = layout.panelWidth;
    const float F = m.fontSize;
    const bool mayEdit = UiMayEditProject(state);

    if (state.renamingPaletteIndex >= static_cast<std::int32_t>(library.palettes.size())) state.renamingPaletteIndex = -1;

    // Header, or the save mode's own.
    if (state.savePaletteMode && LibraryTabHooks.drawSaveHeader) {
        LibraryTabHooks.drawSaveHeader();
    } else {
        draw->AddText(ImVec2(origin.x + 16.0f, origin.y + 10.0f), panels::Col(ThemePalette.textSecondary), "LIBRARY");
        ImGui::SetCursorPos(ImVec2(16.0f, 30.0f));

        TakeDroppedFolders(state, library);
        if (tab.addFolderRequested) {
            tab.addFolderRequested = false;
            if (state.platformHooks.pickFolder) {
                const std::string picked = state.platformHooks.pickFolder();
                if (!picked.empty() && !library.scanning.load()) StartFolderScan(library, picked, true, -1, false);
            }
        }

        if (tab.notice[0] != '\0') {
            if (UiClockSeconds() - tab.noticeTime < kLibraryNoticeSeconds) {
                ImGui::SetCursorPosX(16.0f);
                ImGui::PushStyleColor(ImGuiCol_Text, panels::Col(ThemePalette.accent));
                ImGui::TextUnformatted(tab.notice);
                ImGui::PopStyleColor();
            } else {
                tab.notice[0] = '\0';
            }
        }
        if (!library.scanning.load()) {
            // The scan threads write these texts; they are read under their lock.
            std::string lastError;
            std::size_t skipped = 0;
            {
                std::lock_guard<std::mutex> hold(library.scanStatusMutex);
                lastError.assign(library.lastScanError, strnlen(library.lastScanError, sizeof library.lastScanError));
                skipped = library.skippedFiles.size();
            }
            ImGui::PushStyleColor(ImGuiCol_Text, panels::Col(ThemePalette.textMuted));
            if (!lastError.empty()) {
                ImGui::SetCursorPosX(16.0f);
                ImGui::TextUnformatted(lastError.c_str());
            }
            if (skipped > 0) {
                ImGui::SetCursorPosX(16.0f);
                ImGui::Text("%d file%s skipped (unsupported format)", static_cast<int>(skipped),
                            Plural(static_cast<std::int64_t>(skipped)));
            }
            ImGui::PopStyleColor();
        }
    }
    ImGui::Spacing();

    UpdateSpectralCoverage(tab.coverage, library);
    float listLeft = 16.0f;
    float listWidth = w;
    const float listTop = ImGui::GetCursorPosY();
    if (!state.savePaletteMode) {
        const float C = std::max(80.0f, 0.22f * w);
        const float G = std::max(4.0f, 0.02f * w);
        listWidth = w - C - G;
        listLeft = 16.0f + C + G;
        DrawCoverageColumn(draw, library, tab.coverage, m, C);
    }

    tab.displayOrder = LibraryDisplayOrder(library);
    ImGui::SetCursorPos(ImVec2(listLeft, listTop));
    const float listHeight = std::max(1.0f, layout.topAreaHeight - listTop - m.footer);
    if (ImGui::BeginChild("##libscroll", ImVec2(std::max(1.0f, listWidth), listHeight), false)) {
        ImDrawList* listDraw = ImGui::GetWindowDrawList();
        const float cardWidth = std::max(1.0f, listWidth - ImGui::GetStyle().ScrollbarSize);
        const ImVec2 listMin = ImGui::GetWindowPos();
        const ImVec2 listMax(listMin.x + listWidth, listMin.y + listHeight);
        if (state.savePaletteMode && LibraryTabHooks.drawSaveList) {
            LibraryTabHooks.drawSaveList();
        } else {
            if (!state.MissingSources.empty() && LibraryTabHooks.drawMissingSourcesCard)
                LibraryTabHooks.drawMissingSourcesCard(cardWidth);
            const bool scanning = library.scanning.load();
            if (scanning) DrawScanCard(listDraw, library, cardWidth, F);
            DrawQueuedCards(listDraw, library, cardWidth, F);
            for (std::int32_t index : tab.displayOrder)
                DrawPaletteRow(listDraw, state, library, index, cardWidth, F, mayEdit, listMin, listMax);
            if (library.palettes.empty() && !scanning && state.MissingSources.empty())
                DrawEmptyState(listWidth, origin.y, layout.topAreaHeight);
        }
    }
    ImGui::EndChild();
    SettlePaletteRemoval(state, library, tab);

    // Footer.
    const float footerTop = layout.topAreaHeight - m.footer;
    draw->AddLine(ImVec2(origin.x + 16.0f, origin.y + footerTop), ImVec2(origin.x + layout.panelWidth - 16.0f, origin.y + footerTop),
                  Alpha(ThemePalette.textMuted, 30));
    if (state.savePaletteMode && LibraryTabHooks.drawSaveFooter) {
        LibraryTabHooks.drawSaveFooter();
    } else {
        PushToolbarButtonColors();
        ImGui::SetCursorPos(ImVec2(16.0f, footerTop + (m.footer - m.frameHeight) / 2.0f));
        const bool scanning = library.scanning.load();
        ImGui::BeginDisabled(scanning);
        if (ImGui::Button((std::string(panels::icon::kFolderPlus) + " Add Folder##libscan").c_str(), ImVec2(0.0f, m.frameHeight)))
            tab.addFolderRequested = true;
        if (!scanning && ImGui::IsItemHovered()) ShowTooltip("Scan a folder to index your sounds");
        ImGui::EndDisabled();
        ImGui::SameLine(0.0f, 0.4f * F);
        const bool canSave = !CurrentProject.results.empty() && static_cast<bool>(LibraryTabHooks.enterSaveMode);
        ImGui::BeginDisabled(!canSave);
        if (ImGui::Button((std::string(panels::icon::kPaletteSave) + " Save Palette##libsave").c_str(),
                          ImVec2(0.0f, m.frameHeight)))
            LibraryTabHooks.enterSaveMode();
        if (canSave && ImGui::IsItemHovered()) ShowTooltip("Save selection as a palette");
        ImGui::EndDisabled();
        PopColors3();
    }

    if (small != nullptr) ImGui::PopFont();
    ImGui::EndChild();
}

}  // namespace korvel
