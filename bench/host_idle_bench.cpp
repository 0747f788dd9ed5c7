// The idle window: no input, nothing moving, for ten seconds in a real
// window. The loop should sleep in 50 ms waits and draw one frame per wake;
// the figure is the share of one core the process used, beside frames drawn
// and where a frame's time goes (the frame's work versus render and swap).
// Needs a display (run under xvfb-run for Mesa's software OpenGL); skipped
// without one.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>

#include "platform/window/host.h"

namespace {

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double WallSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_IdleWindow(benchmark::State& state) {
    if (std::getenv("DISPLAY") == nullptr) {
        state.SkipWithError("no display: run under xvfb-run");
        return;
    }
    int exitCode = 0;
    if (!korvel::StartUp("", exitCode)) {
        state.SkipWithError("the window could not start");
        return;
    }
    // Settle the first frames (font atlas, first layout) before measuring.
    for (int i = 0; i < 5; ++i) korvel::RunLoopPass();

    const double seconds = static_cast<double>(state.range(0));
    for (auto _ : state) {
        const korvel::HostFrameStats before = korvel::FrameStats;
        const double cpu0 = ProcessCpuSeconds();
        const double wall0 = WallSeconds();
        while (WallSeconds() - wall0 < seconds) korvel::RunLoopPass();
        const double cpu = ProcessCpuSeconds() - cpu0;
        const double wall = WallSeconds() - wall0;
        const korvel::HostFrameStats& after = korvel::FrameStats;
        const double frames = static_cast<double>(after.frames - before.frames);
        state.counters["cpu_percent"] = 100.0 * cpu / wall;
        state.counters["frames"] = frames;
        state.counters["draw_ms_per_frame"] = frames > 0 ? 1000.0 * (after.drawSeconds - before.drawSeconds) / frames : 0;
        state.counters["render_swap_ms_per_frame"] =
            frames > 0 ? 1000.0 * (after.renderSeconds - before.renderSeconds) / frames : 0;
        state.counters["asleep_percent"] = 100.0 * (after.waitSeconds - before.waitSeconds) / wall;
    }
    korvel::ShutDown();
}
BENCHMARK(BM_IdleWindow)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
