// The font atlas start-up bakes: 25 Roboto fonts with the scripts names
// need and the program's icons merged in, at UI scale 1 and 2. Reports the bake time and the atlas's
// size beside the largest texture GL drivers must accept (16384² on
// Mesa's llvmpipe and current desktop drivers; 8192² is the common floor).
#include <benchmark/benchmark.h>
#include <imgui.h>

#include <memory>
#include <string>

#include "app/frame/fonts.h"
#include "app/theme.h"
#include "platform/executable_dir.h"
#include "project/app_state.h"

namespace {

void BM_FontAtlasBuild(benchmark::State& state) {
    const float scale = static_cast<float>(state.range(0));
    // The benchmark binary lives one folder below the program and its Fonts.
    const std::string folder = korvel::GetExecutableDir() + "/..";
    if (korvel::FindFontFile(folder, "Roboto-Regular").empty()) {
        state.SkipWithError("fonts not installed (scripts/deps.sh)");
        return;
    }
    auto app = std::make_unique<korvel::AppState>();
    int width = 0;
    int height = 0;
    for (auto _ : state) {
        ImGuiContext* context = ImGui::CreateContext();
        korvel::LoadFonts(folder, scale, *app);
        unsigned char* pixels = nullptr;
        ImGui::GetIO().Fonts->GetTexDataAsAlpha8(&pixels, &width, &height);
        benchmark::DoNotOptimize(pixels);
        ImGui::DestroyContext(context);
    }
    korvel::ShellThemeHooks.setDefaultFont = nullptr;
    state.counters["atlas_w"] = width;
    state.counters["atlas_h"] = height;
    state.counters["atlas_MiB_rgba"] = static_cast<double>(width) * height * 4.0 / (1024.0 * 1024.0);
    state.counters["fits_8192"] = width <= 8192 && height <= 8192 ? 1 : 0;
}
BENCHMARK(BM_FontAtlasBuild)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
