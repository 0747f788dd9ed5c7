// CPU of the timeline alone, one frame (NewFrame to Render, no renderer):
// 500 events and 2,000 layers in three groups, voices with overview peaks,
// seams and fill gains, Fill, Clip and other kinds, the whole project in
// view. Budget 5 ms with the heat map off; the heat map's figure (about
// five million layer visits measured one by one) is reported beside it, and
// so is a frame with the pointer resting on the lanes, where the clip zone
// looks for a handle among every layer.
#include <benchmark/benchmark.h>
#include <imgui.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "headless_ui.h"
#include "library/waveform.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "ui/timeline/timeline_view.h"
#include "ui/timeline/track_lanes.h"

namespace {

using namespace korvel;

// A 12 s source for the Clip events' waveforms.
std::string WriteClipSource() {
    const std::string path = (std::filesystem::temp_directory_path() / "korvel_timeline_bench.wav").string();
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return {};
    std::vector<float> samples(48000 * 12);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / 48000.0;
        samples[i] = static_cast<float>(std::sin(2.0 * M_PI * 220.0 * t) * (0.2 + 0.8 * std::fabs(std::sin(t))));
    }
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    LoadWaveformOverview(path.c_str());
    return path;
}

void BuildProject(Project& project, PlaybackEngine& engine, const std::string& clipPath) {
    static constexpr EventKind kKinds[6] = {EventKind::Fill, EventKind::Clip,    EventKind::Spot,
                                            EventKind::Bloom, EventKind::Contour, EventKind::Bed};
    project = Project{};
    project.totalDuration = 600.0f;
    project.fps = 25.0f;
    project.events.assign(500, Event{});
    for (std::size_t i = 0; i < project.events.size(); ++i) {
        Event& event = project.events[i];
        event.shape = KindValue(kKinds[i % 6]);
        event.time = static_cast<float>(i) * 1.2f;
        event.duration = 4.0f;
        if (IsKind(event.shape, EventKind::Clip)) clipPath.copy(event.pinnedFile, sizeof event.pinnedFile - 1);
    }
    constexpr int kLanes = 12;
    for (TrackGroupLayout& group : project.trackLayout.groups) group.usedLanes = kLanes;
    std::array<int, 3> next = {};
    project.results.reserve(2000);
    engine.voices.clear();
    engine.voices.reserve(2000);
    for (int i = 0; i < 2000; ++i) {
        LayerResult layer;
        layer.eventIdx = i / 4;
        const Event& event = project.events[static_cast<std::size_t>(layer.eventIdx)];
        const int group = EffectiveGroup(event);
        layer.groupTrack = next[static_cast<std::size_t>(group)]++ % kLanes;
        layer.startTime = event.time + static_cast<float>(i % 4) * 0.3f;
        layer.duration = 3.0f;
        layer.sourceDuration = 3.0f;
        layer.sourceOffset = 1.0f;
        layer.weight = static_cast<float>(i % 10) / 10.0f;
        layer.fadeIn = 0.2f;
        layer.fadeOut = 0.6f;
        layer.muted = i % 17 == 0;
        project.results.push_back(layer);

        Voice voice;
        voice.resultIndex = i;
        voice.duration = layer.duration;
        for (int b = 0; b < kVoiceOverviewBins; ++b) {
            voice.overviewPeak[static_cast<std::size_t>(b)] = 0.3f + 0.6f * std::fabs(std::sin(0.01f * b + i));
        }
        voice.seamCount = 6;
        for (int k = 0; k < voice.seamCount; ++k) {
            voice.seamPositions[static_cast<std::size_t>(k)] = (k + 1) / 7.0f;
            voice.seamWidths[static_cast<std::size_t>(k)] = 0.02f;
        }
        if (IsKind(event.shape, EventKind::Fill)) {
            voice.hasFillGain = true;
            voice.fillGainSpan = event.duration;
            for (int k = 0; k < kFillGainPoints; ++k) {
                voice.fillGain[static_cast<std::size_t>(k)] = 0.5f + 0.5f * std::sin(0.1f * k);
            }
        }
        engine.voices.push_back(std::move(voice));
    }
    project.built = true;
    engine.voiceCount.store(2000);
    ++engine.revision;
    engine.ready.store(true);
}

void BM_DrawTimeline(benchmark::State& state) {
    bench::HeadlessUi ui;
    ImGuiIO& io = ImGui::GetIO();

    const std::string clipPath = WriteClipSource();
    BuildProject(CurrentProject, LivePlaybackEngine, clipPath);
    AppState& app = GlobalAppState;
    app.viewStart = 0.0f;
    app.viewEnd = CurrentProject.totalDuration;
    app.showSpectralHeatmap = state.range(0) != 0;
    const bool pointer = state.range(1) != 0;
    app.selectedEvents = {3, 4, 5};
    app.selectedEvent = 3;

    std::size_t vertices = 0;
    for (auto _ : state) {
        // The previous frame's lanes: the first frame lays them out.
        if (pointer && Timeline.groupArea.areaHeight > 0.0f) {
            io.MousePos = ImVec2(Timeline.laneLeft + Timeline.laneWidth / 2.0f,
                                 Timeline.groupArea.areaTop + Timeline.groupArea.areaHeight / 2.0f);
        }
        vertices = ui.Frame([&] { DrawTimeline(ImGui::GetWindowDrawList(), ui.layout); });
        benchmark::DoNotOptimize(vertices);
    }
    state.counters["budget_ms"] = 5.0;
    state.counters["vertices"] = static_cast<double>(vertices);
    state.counters["groupLaneHeight"] = Timeline.groupArea.laneHeight;

    app.showSpectralHeatmap = false;
    app.selectedEvents.clear();
    app.selectedEvent = -1;
    CurrentProject = Project{};
    {
        std::lock_guard lock(LivePlaybackEngine.voiceMutex);
        CompactVoicesLocked(LivePlaybackEngine, [](const Voice&) { return false; });
    }
    ClearWaveformCache();
    std::error_code ec;
    std::filesystem::remove(clipPath, ec);
}
BENCHMARK(BM_DrawTimeline)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->ArgNames({"heatmap", "pointer"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

// The heat map's values one column at a time, as the measure alone gives
// them, beside the sweep the drawing uses: the reason for the sweep.
void BM_BandCrowdingColumns(benchmark::State& state) {
    BuildProject(CurrentProject, LivePlaybackEngine, {});
    std::vector<float> times;
    for (float t = 0.0f; t < 600.0f; t += 600.0f / 460.0f) times.push_back(t);  // 4 px columns of 1,840 px
    const bool sweep = state.range(0) != 0;
    for (auto _ : state) {
        if (sweep) {
            benchmark::DoNotOptimize(MeasureBandCrowdingSweep(CurrentProject.results, times));
        } else {
            float sum = 0.0f;
            for (float t : times)
                for (int b = 0; b < 5; ++b) sum += MeasureBandCrowding(CurrentProject, t, b);
            benchmark::DoNotOptimize(sum);
        }
    }
    CurrentProject = Project{};
    std::lock_guard lock(LivePlaybackEngine.voiceMutex);
    CompactVoicesLocked(LivePlaybackEngine, [](const Voice&) { return false; });
}
BENCHMARK(BM_BandCrowdingColumns)->Arg(0)->Arg(1)->ArgName("sweep")->Unit(benchmark::kMillisecond);

}  // namespace
