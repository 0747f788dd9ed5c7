// CPU of one headless frame of the events tab (NewFrame to Render, no
// renderer) at 500 events and 2,000 layers, a fifth of the events in
// folders, one event selected with its four layer rows unfolded. The list
// re-sorts its order every frame and spaces the rows out of view; beside it,
// the list alone and the order-and-summary refresh alone.
#include <benchmark/benchmark.h>
#include <imgui.h>

#include <cstdio>
#include <string>

#include "headless_ui.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "ui/timeline/event_list.h"
#include "ui/timeline/events_tab.h"

namespace {

using namespace korvel;

void BuildProject(Project& project, PlaybackEngine& engine) {
    static constexpr EventKind kKinds[5] = {EventKind::Fill, EventKind::Spot, EventKind::Bloom, EventKind::Contour,
                                            EventKind::Scatter};
    project = Project{};
    project.totalDuration = 600.0f;
    project.fps = 25.0f;
    project.events.assign(500, Event{});
    for (std::size_t i = 0; i < project.events.size(); ++i) {
        Event& event = project.events[i];
        event.shape = KindValue(kKinds[i % 5]);
        // Not in time order, so the sort has work to do.
        event.time = static_cast<float>((i * 7919) % 500) * 1.2f;
        event.duration = 4.0f;
        if (i % 5 == 0) {
            char folder[32];
            std::snprintf(folder, sizeof folder, "Group %zu", i % 25);
            CopyText(event.folder, folder);
        }
    }
    project.results.reserve(2000);
    const VoiceListEdit edit(engine);
    engine.voices.clear();
    for (int i = 0; i < 2000; ++i) {
        LayerResult layer;
        layer.eventIdx = i / 4;
        layer.name = "layer_" + std::to_string(i) + "_a_rather_long_source_file_name.wav";
        layer.filepath = "/sounds/" + layer.name;
        layer.startTime = project.events[static_cast<std::size_t>(layer.eventIdx)].time;
        layer.duration = 3.0f;
        layer.weight = static_cast<float>(i % 10) / 10.0f;
        layer.muted = i % 17 == 0;
        project.results.push_back(layer);
        Voice voice;
        voice.resultIndex = i;
        voice.eventIndex = layer.eventIdx;
        engine.voices.push_back(voice);
    }
    engine.voiceCount.store(2000);
    engine.ready.store(true);
    project.built = true;
}

// The shared context, with the selected event mid-list, unfolded.
struct Context : bench::HeadlessUi {
    Context() {
        BuildProject(CurrentProject, LivePlaybackEngine);
        AppState& app = GlobalAppState;
        app.selectedEvents = {250};
        app.selectedEvent = 250;
        app.expandedEvent = 250;
        app.scrollToSelection = true;
    }
};

void BM_EventsTabFrame(benchmark::State& state) {
    Context c;
    std::size_t vertices = 0;
    for (auto _ : state) {
        vertices = c.Frame([&] { DrawEventsTab(ImGui::GetWindowDrawList(), c.layout); });
        benchmark::DoNotOptimize(vertices);
    }
    state.counters["vertices"] = static_cast<double>(vertices);
}
BENCHMARK(BM_EventsTabFrame)->Unit(benchmark::kMicrosecond);

void BM_EventListFrame(benchmark::State& state) {
    Context c;
    std::size_t vertices = 0;
    for (auto _ : state) {
        vertices = c.Frame([&] { DrawEventList(c.layout); });
        benchmark::DoNotOptimize(vertices);
    }
    state.counters["vertices"] = static_cast<double>(vertices);
}
BENCHMARK(BM_EventListFrame)->Unit(benchmark::kMicrosecond);

// The per-frame sort alone (the keys hold, so the summaries are kept), and
// a refill of the summaries after a revision.
void BM_EventListCache(benchmark::State& state) {
    BuildProject(CurrentProject, LivePlaybackEngine);
    AppState& app = GlobalAppState;
    const bool refill = state.range(0) != 0;
    for (auto _ : state) {
        if (refill) ++CurrentProject.revision;
        app.RefreshEventListCache(CurrentProject.events, CurrentProject.results, CurrentProject.revision);
        benchmark::DoNotOptimize(app.eventListOrder.data());
    }
}
BENCHMARK(BM_EventListCache)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
