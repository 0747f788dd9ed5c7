// The library tab with 100,000 files in 20 palettes: one headless frame of
// the tab once the coverage is known (budget 1 ms), one recompute of the
// coverage, and, beside it, the per-row band averages that a frame would
// cost if the rows averaged their files every frame instead of reading the
// values cached with the coverage.
#include <benchmark/benchmark.h>
#include <imgui.h>

#include <array>
#include <chrono>
#include <string>

#include "app/frame/theme_style.h"
#include "app/theme.h"
#include "app/ui_layout.h"
#include "bench_timing.h"
#include "library/library.h"
#include "ui/panels/library_tab.h"

namespace {

constexpr int kPalettes = 20;
constexpr int kFilesPerPalette = 5000;

void FillLibrary(korvel::Library& library) {
    library.palettes.clear();
    for (int p = 0; p < kPalettes; ++p) {
        korvel::Palette palette;
        palette.name = "Palette " + std::to_string(p * 7 % kPalettes);
        palette.folder = "/sounds/palette" + std::to_string(p);
        palette.keywordSummary = "door, wood, creak, slam, metal";
        palette.files.resize(kFilesPerPalette);
        for (int i = 0; i < kFilesPerPalette; ++i) {
            korvel::LibraryFile& file = palette.files[static_cast<std::size_t>(i)];
            for (int b = 0; b < 5; ++b) file.bandEnergies[b] = static_cast<float>((i * 31 + b * 17 + p) % 100) / 100.0f;
        }
        library.palettes.push_back(std::move(palette));
    }
}

struct HeadlessUi {
    HeadlessUi() {
        context = ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DisplaySize = ImVec2(1280.0f, 720.0f);
        unsigned char* pixels = nullptr;
        int w = 0;
        int h = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
        korvel::ShellThemeHooks.applyTheme = korvel::ApplyThemeToStyle;
        korvel::ApplyTheme();
    }
    ~HeadlessUi() {
        korvel::ShellThemeHooks.applyTheme = nullptr;
        ImGui::DestroyContext(context);
    }
    ImGuiContext* context = nullptr;
};

void BM_LibraryTabFrame(benchmark::State& state) {
    HeadlessUi ui;
    FillLibrary(korvel::SoundLibrary);
    korvel::UILayout layout;
    layout.panelWidth = 460.0f;
    layout.topAreaHeight = 640.0f;
    korvel::UpdateSpectralCoverage(korvel::LibraryTab.coverage, korvel::SoundLibrary);
    ImGuiIO& io = ImGui::GetIO();
    for (auto _ : state) {
        io.DeltaTime = 1.0f / 60.0f;
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
        ImGui::SetNextWindowSize(io.DisplaySize);
        ImGui::Begin("##host", nullptr, ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoSavedSettings);
        korvel::DrawLibraryTab(ImGui::GetWindowDrawList(), layout);
        ImGui::End();
        ImGui::Render();
        benchmark::DoNotOptimize(ImGui::GetDrawData());
    }
    state.counters["budget_ms"] = 1.0;
    korvel::SoundLibrary.palettes.clear();
    korvel::LibraryTab = korvel::LibraryTabState{};
}
BENCHMARK(BM_LibraryTabFrame)->Unit(benchmark::kMicrosecond)->MinTime(0.5);

void BM_CoverageRecompute(benchmark::State& state) {
    FillLibrary(korvel::SoundLibrary);
    korvel::SpectralCoverage coverage;
    const double recompute = korvel::bench::TimePerIteration(state, [&] {
        coverage.computed = false;
        korvel::UpdateSpectralCoverage(coverage, korvel::SoundLibrary);
        benchmark::DoNotOptimize(coverage.bands);
    });
    // What visible rows would cost each frame averaging their own files.
    const auto start = std::chrono::steady_clock::now();
    constexpr int kRounds = 20;
    for (int r = 0; r < kRounds; ++r) {
        for (const korvel::Palette& palette : korvel::SoundLibrary.palettes) {
            std::array<double, 5> sums{};
            for (const korvel::LibraryFile& file : palette.files)
                for (int b = 0; b < 5; ++b) sums[b] += file.bandEnergies[b];
            benchmark::DoNotOptimize(sums);
        }
    }
    const std::chrono::duration<double> perFrame = (std::chrono::steady_clock::now() - start) / kRounds;
    state.counters["recompute_ms"] = recompute * 1000.0;
    state.counters["row_averages_per_frame_ms"] = perFrame.count() * 1000.0;
    korvel::SoundLibrary.palettes.clear();
}
BENCHMARK(BM_CoverageRecompute)->Unit(benchmark::kMicrosecond)->MinTime(0.5);

}  // namespace
