// CPU of one headless timeline frame (NewFrame to Render, no renderer) in
// the trace view over a 20-minute read: 12,000 frames, 500 suggestions and
// 300 imported markers, the whole read in view and the pointer over the
// area. Budget 5 ms, the timeline's.
#include <benchmark/benchmark.h>
#include <imgui.h>

#include <cmath>
#include <cstdint>

#include "headless_ui.h"
#include "picture/trace_analysis.h"
#include "picture/video_player.h"
#include "project/app_state.h"
#include "project/project.h"
#include "ui/timeline/timeline_view.h"

namespace {

using namespace korvel;

void BuildRead(AppState& app) {
    TraceAnalysis& a = app.traceAnalysis;
    constexpr int kFrames = 12000;
    a.frames.assign(kFrames, FrameMeasures{});
    for (int i = 0; i < kFrames; ++i) {
        FrameMeasures& f = a.frames[static_cast<std::size_t>(i)];
        f.time = static_cast<float>(i) / 10.0f;
        f.composite = 0.5f + 0.5f * std::sin(0.05f * static_cast<float>(i));
        f.smoothedMotion = 0.3f + 0.3f * std::sin(0.013f * static_cast<float>(i));
        f.threshold = 0.4f;
    }
    a.events.assign(500, TraceDetection{});
    for (std::size_t i = 0; i < a.events.size(); ++i) {
        TraceDetection& d = a.events[i];
        d.time = static_cast<float>(i) * 2.4f;
        d.intensity = 0.2f + 0.8f * static_cast<float>(i % 7) / 6.0f;
        d.peelLayer = static_cast<std::int32_t>(i % 4);
        d.tier = i % 23 == 0 ? 2 : 0;
        d.accepted = i % 3 != 0;
        d.suggestedDuration = 1.0f;
        if (i % 5 == 0) d.presetName[0] = 'R';
    }
    a.fps = 10.0f;
    a.duration = 1200.0f;
    a.numFrames = kFrames;
    a.framesDone.store(kFrames);
    a.maxCompositeEnergy = 1.0f;
    a.valid = true;
    app.markerEvents.assign(300, MarkerEvent{});
    for (std::size_t i = 0; i < app.markerEvents.size(); ++i) {
        app.markerEvents[i].time = 1.0f + static_cast<float>(i) * 4.0f;
        app.markerEvents[i].enabled = i % 4 != 0;
    }
    app.selectedDetections = {10, 11, 12};
    app.selectedMarkers = {5};
    app.activeTraceMarkerKind = 0;
    app.activeTraceMarkerIndex = 40;
}

void BM_DrawTimelineTraceView(benchmark::State& state) {
    bench::HeadlessUi ui;
    ImGuiIO& io = ImGui::GetIO();

    AppState& app = GlobalAppState;
    CurrentProject = Project{};
    CurrentProject.totalDuration = 1210.0f;
    BuildRead(app);
    app.activeTab = 1;
    app.viewStart = 0.0f;
    app.viewEnd = CurrentProject.totalDuration;
    GlobalVideoPlayer.loaded = false;
    GlobalVideoPlayer.timelineOffset = 0.0f;
    const UILayout& layout = ui.layout;
    io.MousePos = ImVec2(900.0f, io.DisplaySize.y - 0.3f * layout.timelineHeight);

    std::size_t vertices = 0;
    for (auto _ : state) {
        vertices = ui.Frame([&] { DrawTimeline(ImGui::GetWindowDrawList(), layout); });
        benchmark::DoNotOptimize(vertices);
    }
    state.counters["budget_ms"] = 5.0;
    state.counters["vertices"] = static_cast<double>(vertices);

    app.activeTab = 0;
    app.traceAnalysis.valid = false;
    app.traceAnalysis.frames.clear();
    app.traceAnalysis.events.clear();
    app.ResetTraceState();
    app.selectedDetections.clear();
    CurrentProject = Project{};
}
BENCHMARK(BM_DrawTimelineTraceView)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
