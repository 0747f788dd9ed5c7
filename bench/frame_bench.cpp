// CPU of one frame (the frame's work and its drawing, no renderer) over a
// generated project of 500 events and 2,000 layers, against the 5 ms budget
// a frame may take. Headless: a UI context with its font atlas and no
// window; what the frame draws grows as the timeline and panels join.
#include <benchmark/benchmark.h>
#include <imgui.h>

#include <cstdint>

#include "app/background_job.h"
#include "app/frame/frame.h"
#include "app/frame/theme_style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "project/project.h"

namespace {

void BuildProject(korvel::Project& project) {
    project.events.assign(500, korvel::Event{});
    project.results.clear();
    project.results.reserve(2000);
    project.totalDuration = 600.0f;
    for (std::size_t i = 0; i < project.events.size(); ++i) {
        korvel::Event& event = project.events[i];
        event.shape = static_cast<std::int32_t>(i % korvel::kEventKindCount);
        event.time = static_cast<float>(i) * 1.2f;
        event.duration = 2.0f;
    }
    for (int i = 0; i < 2000; ++i) {
        korvel::LayerResult layer;
        layer.eventIdx = i / 4;
        layer.startTime = static_cast<float>(i / 4) * 1.2f;
        layer.duration = 2.0f;
        project.results.push_back(std::move(layer));
    }
}

void BM_FrameHeadless(benchmark::State& state) {
    ImGuiContext* context = ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.DisplaySize = ImVec2(1280.0f, 720.0f);
    for (int key = 0; key < ImGuiKey_COUNT; ++key) io.KeyMap[key] = key;
    unsigned char* pixels = nullptr;
    int w = 0;
    int h = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
    korvel::ShellThemeHooks.applyTheme = korvel::ApplyThemeToStyle;
    // The first frame's loading is measured elsewhere.
    korvel::FrameWork.firstFrameDone = true;
    korvel::FrameWork.launcherChecked = true;
    BuildProject(korvel::CurrentProject);

    for (auto _ : state) {
        io.DeltaTime = 1.0f / 60.0f;
        ImGui::NewFrame();
        korvel::DrawUI();
        ImGui::Render();
        benchmark::DoNotOptimize(ImGui::GetDrawData());
    }
    state.counters["budget_ms"] = 5.0;

    korvel::CurrentProject.events.clear();
    korvel::CurrentProject.results.clear();
    korvel::ShellThemeHooks.applyTheme = nullptr;
    ImGui::DestroyContext(context);
}
BENCHMARK(BM_FrameHeadless)->Unit(benchmark::kMicrosecond)->MinTime(0.5);

}  // namespace
