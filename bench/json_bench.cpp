// Parsing and pretty-writing a project-shaped document (5,000 events, each
// with three 256-point curves and a dozen other members), ours beside
// nlohmann::json in the same run. The nlohmann benchmarks report
// "korvel_speedup": nlohmann's time per document over ours.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "project/json.h"

#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#define KORVEL_BENCH_HAS_NLOHMANN 1
#endif

namespace {

using korvel::JsonWriter;
using korvel::bench::TimePerIteration;

struct BenchEvent {
    int kind = 0;
    float time = 0, duration = 0, syncOffset = 0, gain = 0, pitch = 0, spread = 0, weightCenter = 0;
    bool locked = false, muted = false, hero = false;
    std::string name, keywords, folder;
    std::array<float, 256> weight{}, intensity{}, traceGain{};
};

const std::vector<BenchEvent>& Events() {
    static const std::vector<BenchEvent> events = [] {
        std::mt19937 engine(2026);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        std::vector<BenchEvent> out(5000);
        for (std::size_t i = 0; i < out.size(); ++i) {
            BenchEvent& e = out[i];
            e.kind = static_cast<int>(i % 7);
            e.time = static_cast<float>(i) * 0.731f;
            e.duration = 0.25f + unit(engine) * 8.0f;
            e.syncOffset = unit(engine) * 0.05f;
            e.gain = -12.0f + unit(engine) * 12.0f;
            e.pitch = unit(engine) * 2.0f - 1.0f;
            e.spread = unit(engine);
            e.weightCenter = unit(engine);
            e.locked = i % 3 == 0;
            e.muted = i % 11 == 0;
            e.hero = i % 17 == 0;
            e.name = "Event " + std::to_string(i);
            e.keywords = "door slam wood -metal ~heavy";
            e.folder = "Act 1/Scene " + std::to_string(i / 100);
            for (int p = 0; p < 256; ++p) {
                e.weight[p] = unit(engine);
                e.intensity[p] = unit(engine);
                e.traceGain[p] = 0.5f + unit(engine) * 0.5f;
            }
        }
        return out;
    }();
    return events;
}

std::string WriteOurs(const std::vector<BenchEvent>& events) {
    JsonWriter w;
    w.stream.text.reserve(16u << 20);
    w.stream << "{";
    w.depth = 1;
    w.WriteString("format", "korvel-project");
    w.WriteInt("version", 3);
    w.WriteFloat("duration", 3600.0f);
    w.WriteKey("events");
    w.BeginArray();
    for (const BenchEvent& e : events) {
        w.BeginObject();
        w.WriteInt("kind", e.kind);
        w.WriteFloat("time", e.time);
        w.WriteFloat("duration", e.duration);
        w.WriteFloat("syncOffset", e.syncOffset);
        w.WriteFloat("gain", e.gain);
        w.WriteFloat("pitch", e.pitch);
        w.WriteFloat("spread", e.spread);
        w.WriteFloat("weightCenter", e.weightCenter);
        w.WriteBool("locked", e.locked);
        w.WriteBool("muted", e.muted);
        w.WriteBool("hero", e.hero);
        w.WriteString("name", e.name);
        w.WriteString("keywords", e.keywords);
        w.WriteString("folder", e.folder);
        w.WriteCurve("weight", e.weight);
        w.WriteCurve("intensity", e.intensity);
        w.WriteCurve("traceGain", e.traceGain);
        w.EndObject();
    }
    w.EndArray();
    w.stream << "\n}";
    return std::move(w.stream.text);
}

const std::string& DocumentText() {
    static const std::string text = WriteOurs(Events());
    return text;
}

// Seconds per document of our side, kept for the ratio the peer reports.
double gOursParseSeconds = 0;
double gOursWriteSeconds = 0;

void SetDocumentCounters(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["events"] = static_cast<double>(Events().size());
}

void BM_JsonParse_Korvel(benchmark::State& state) {
    const std::string& text = DocumentText();
    gOursParseSeconds = TimePerIteration(state, [&] {
        korvel::JsonValue doc = korvel::ParseJson(text);
        benchmark::DoNotOptimize(doc.members.data());
    });
    SetDocumentCounters(state, text.size());
}
BENCHMARK(BM_JsonParse_Korvel)->Unit(benchmark::kMillisecond);

void BM_JsonWrite_Korvel(benchmark::State& state) {
    const auto& events = Events();
    std::size_t bytes = 0;
    gOursWriteSeconds = TimePerIteration(state, [&] {
        std::string text = WriteOurs(events);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    });
    SetDocumentCounters(state, bytes);
}
BENCHMARK(BM_JsonWrite_Korvel)->Unit(benchmark::kMillisecond);

#ifdef KORVEL_BENCH_HAS_NLOHMANN

void BM_JsonParse_Nlohmann(benchmark::State& state) {
    const std::string& text = DocumentText();
    double seconds = TimePerIteration(state, [&] {
        nlohmann::json doc = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(doc.size());
    });
    SetDocumentCounters(state, text.size());
    if (gOursParseSeconds > 0) state.counters["korvel_speedup"] = seconds / gOursParseSeconds;
}
BENCHMARK(BM_JsonParse_Nlohmann)->Unit(benchmark::kMillisecond);

// nlohmann writes from its own tree, built outside the timing (it holds the
// same values our reader takes from the document); ours writes from the
// records, as the program's writers do.
void BM_JsonWrite_Nlohmann(benchmark::State& state) {
    const nlohmann::json doc = nlohmann::json::parse(DocumentText());
    std::size_t bytes = 0;
    double seconds = TimePerIteration(state, [&] {
        std::string text = doc.dump(2);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    });
    SetDocumentCounters(state, bytes);
    if (gOursWriteSeconds > 0) state.counters["korvel_speedup"] = seconds / gOursWriteSeconds;
}
BENCHMARK(BM_JsonWrite_Nlohmann)->Unit(benchmark::kMillisecond);

#endif

}  // namespace
