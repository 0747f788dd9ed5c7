// Recipes and chains: reloading the lists from their folders beside parsing
// the same files with the JSON parser alone (the limit: every file must be
// read and parsed), a preview bake beside rendering its layers alone, and
// placing a chain of Clips, render included, beside rendering the same
// layers alone. Each ours reports "ratio" (ours over the limit); the bake
// also reports "x_realtime" (seconds of recipe per second of baking).
#include <benchmark/benchmark.h>

#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "engine/build_events.h"
#include "engine/layer_render.h"
#include "engine/voice_gain.h"
#include "library/library.h"
#include "playback/playback_engine.h"
#include "presets/chains.h"
#include "presets/recipe_previews.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/json.h"
#include "project/project.h"
#include "project/undo.h"

namespace {

using namespace korvel;
namespace fs = std::filesystem;
using korvel::bench::TimePerIteration;

constexpr int kRecipes = 500;
constexpr int kChains = 200;
constexpr int kChainEvents = 20;
constexpr int kPlacedClips = 50;
constexpr float kBakeSeconds = 10.0f;

// A mono 48 kHz sine.
void WriteSine(const std::string& path, double hz, double seconds) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return;
    std::vector<float> samples(static_cast<std::size_t>(seconds * 48000.0));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.4f * static_cast<float>(std::sin(2.0 * M_PI * hz * static_cast<double>(i) / 48000.0));
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

Event Flat(EventKind kind, float time) {
    Event event;
    event.shape = KindValue(kind);
    event.time = time;
    event.duration = 3.0f;
    event.weight.fill(0.5f);
    event.intensity.fill(0.6f);
    CopyText(event.keywords, "door wood -metal");
    return event;
}

// The documents folder with 500 recipes and 200 chains of every kind, and
// sound files for the bake and the placed Clips.
struct BenchPresets {
    fs::path folder;
    fs::path recipes;
    fs::path chains;
    std::vector<std::string> sounds;
    std::vector<Palette> palettes;

    BenchPresets() {
        std::error_code ec;
        folder = fs::temp_directory_path(ec) / "korvel_presets_bench";
        fs::remove_all(folder, ec);
        setenv("XDG_DOCUMENTS_DIR", folder.c_str(), 1);
        recipes = folder / "Korvel" / "Recipes";
        chains = folder / "Korvel" / "Chains";
        fs::create_directories(recipes, ec);
        fs::create_directories(chains, ec);

        Palette palette;
        palette.name = "Bench";
        for (int i = 0; i < kPlacedClips; ++i) {
            const std::string path = (folder / ("sound" + std::to_string(i) + ".wav")).string();
            const double seconds = 2.0 + (i % 5);
            WriteSine(path, 110.0 + 37.0 * i, seconds);
            sounds.push_back(path);
            LibraryFile file;
            file.path = path;
            file.name = "sound" + std::to_string(i);
            file.description = "door wood";
            file.duration = static_cast<float>(seconds);
            file.sampleRate = 48000.0f;
            file.channels = 1;
            file.bitsPerSample = 24;
            file.bandEnergies = {0.2f, 0.6f, 1.0f, 0.5f, 0.1f};
            file.spectralWeight = 0.3f + 0.01f * static_cast<float>(i);
            palette.files.push_back(file);
        }
        palettes = {palette};

        for (int i = 0; i < kRecipes; ++i) {
            EventPreset recipe;
            CopyText(recipe.name, "Recipe " + std::to_string(i));
            recipe.shape = i % 7;
            recipe.weight.fill(0.5f);
            recipe.intensity.fill(0.25f + 0.001f * static_cast<float>(i));
            if (IsKind(recipe.shape, EventKind::Clip)) {
                CopyText(recipe.pinnedFile, sounds[static_cast<std::size_t>(i) % sounds.size()]);
                recipe.pinnedFileId = "00000000000" + std::to_string(10000 + i);
            }
            if (IsKind(recipe.shape, EventKind::Bed)) {
                recipe.pinnedFiles = {sounds[0], sounds[1]};
                recipe.pinnedFileIds = {"0000000000000b01", "0000000000000b02"};
                recipe.bedLayerLoop = {1, 0};
                recipe.bedLayerWeight = {0.3f, 0.7f};
            }
            std::ofstream(recipes / ("Recipe " + std::to_string(i) + ".kvrecipe")) << FormatRecipe(recipe);
        }
        std::vector<Event> events;
        std::vector<std::int32_t> indices;
        for (int i = 0; i < kChainEvents; ++i) {
            events.push_back(Flat(static_cast<EventKind>(i % 7), 0.5f * static_cast<float>(i)));
            if (IsKind(events.back().shape, EventKind::Clip)) {
                // As saved from a project: placed Clips carry their id.
                CopyText(events.back().pinnedFile, sounds[0]);
                events.back().pinnedFileId = "0000000000000c01";
            }
            if (IsKind(events.back().shape, EventKind::Bed)) {
                events.back().pinnedFiles = {sounds[1], sounds[2]};
                events.back().pinnedFileIds = {"0000000000000b01", "0000000000000b02"};
            }
            indices.push_back(i);
        }
        for (int i = 0; i < kChains; ++i) {
            std::ofstream(chains / ("Chain " + std::to_string(i) + ".kvchain"))
                << FormatChain("Chain " + std::to_string(i), events, indices);
        }
    }
    ~BenchPresets() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

BenchPresets& Bench() {
    static BenchPresets bench;
    return bench;
}

void ParseFolder(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::ifstream file(entry.path(), std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        benchmark::DoNotOptimize(ParseJson(text.str()));
    }
}

double recipeParseSeconds = 0.0;
double chainParseSeconds = 0.0;
double bakeRenderSeconds = 0.0;
double placeRenderSeconds = 0.0;

void Ratio(benchmark::State& state, double ours, double limit) {
    state.counters["ms"] = ours * 1000.0;
    if (limit > 0.0) state.counters["ratio"] = ours / limit;
}

// [SECTION] The lists

void BM_RecipeFilesParseOnly(benchmark::State& state) {
    const fs::path folder = Bench().recipes;
    recipeParseSeconds = TimePerIteration(state, [&] { ParseFolder(folder); });
    state.counters["ms"] = recipeParseSeconds * 1000.0;
}
BENCHMARK(BM_RecipeFilesParseOnly)->Unit(benchmark::kMillisecond);

void BM_ReloadRecipes(benchmark::State& state) {
    Bench();
    const double seconds = TimePerIteration(state, [] { ReloadRecipes(); });
    Ratio(state, seconds, recipeParseSeconds);
    state.counters["recipes"] = static_cast<double>(RecipeList.size());
    RecipeList.clear();
}
BENCHMARK(BM_ReloadRecipes)->Unit(benchmark::kMillisecond);

void BM_ChainFilesParseOnly(benchmark::State& state) {
    const fs::path folder = Bench().chains;
    chainParseSeconds = TimePerIteration(state, [&] { ParseFolder(folder); });
    state.counters["ms"] = chainParseSeconds * 1000.0;
}
BENCHMARK(BM_ChainFilesParseOnly)->Unit(benchmark::kMillisecond);

void BM_ReloadChains(benchmark::State& state) {
    Bench();
    const double seconds = TimePerIteration(state, [] { ReloadChains(); });
    Ratio(state, seconds, chainParseSeconds);
    state.counters["chains"] = static_cast<double>(ChainList.size());
}
BENCHMARK(BM_ReloadChains)->Unit(benchmark::kMillisecond);

// [SECTION] The bake

EventPreset BakedRecipe() {
    EventPreset recipe;
    CopyText(recipe.name, "Bench bake");
    recipe.shape = KindValue(EventKind::Fill);
    recipe.duration = kBakeSeconds;
    recipe.fillLayers = 4;
    recipe.weight.fill(0.5f);
    recipe.intensity.fill(0.7f);
    recipe.sourcePath = (Bench().recipes / "Bench bake.kvrecipe").string();
    return recipe;
}

// The layers a bake renders: the recipe built once in a project of its own.
std::unique_ptr<Project> BuiltBake() {
    auto project = std::make_unique<Project>();
    project->totalDuration = kBakeSeconds + 2.0f;
    project->events.push_back(MakePreviewEvent(BakedRecipe()));
    BuildEvents(*project, Bench().palettes, 0, -1.0f, -1.0f, false, true);
    return project;
}

// Every layer into `engine`, normalised as its caller does: a private
// engine with the full pass for the bake, the live engine with the light
// pass for placing.
void RenderAll(Project& project, PlaybackEngine& engine, std::int32_t rate, bool full) {
    PrepareVoices(engine, rate, static_cast<int>(project.results.size()));
    const std::vector<float> gains(project.events.size(), 1.0f);
    for (std::size_t i = 0; i < project.results.size(); ++i) {
        RenderLayerVoice(engine, project.results[i], static_cast<std::int32_t>(i), rate, gains.data(),
                         static_cast<std::int32_t>(project.events.size()), project.events.data(), 0, 0, false);
    }
    NormalizeVoiceGains(engine, full);
    benchmark::DoNotOptimize(engine.voices.data());
}

void RenderPrivately(Project& project) {
    auto engine = std::make_unique<PlaybackEngine>();  // as the bake makes its own
    RenderAll(project, *engine, kPreviewSampleRate, true);
}

void BM_BakeLayersRenderOnly(benchmark::State& state) {
    std::unique_ptr<Project> project = BuiltBake();
    RenderPrivately(*project);  // the sources decoded once, as the bake finds them
    bakeRenderSeconds = TimePerIteration(state, [&] { RenderPrivately(*project); });
    state.counters["ms"] = bakeRenderSeconds * 1000.0;
    state.counters["layers"] = static_cast<double>(project->results.size());
}
BENCHMARK(BM_BakeLayersRenderOnly)->Unit(benchmark::kMillisecond);

void BM_BakeRecipePreview(benchmark::State& state) {
    const EventPreset recipe = BakedRecipe();
    bool written = true;
    const double seconds = TimePerIteration(state, [&] { written = BakeRecipePreview(recipe, Bench().palettes) && written; });
    Ratio(state, seconds, bakeRenderSeconds);
    if (seconds > 0.0) state.counters["x_realtime"] = kBakeSeconds / seconds;
    if (!written) state.SkipWithError("the bake wrote nothing");
}
BENCHMARK(BM_BakeRecipePreview)->Unit(benchmark::kMillisecond);

// [SECTION] Placing a chain of Clips

Chain ClipChain() {
    Chain chain;
    CopyText(chain.name, "Bench clips");
    for (int i = 0; i < kPlacedClips; ++i) {
        ChainEntry entry;
        entry.preset.shape = KindValue(EventKind::Clip);
        CopyText(entry.preset.pinnedFile, Bench().sounds[static_cast<std::size_t>(i)]);
        entry.preset.weight.fill(0.5f);
        entry.preset.intensity.fill(0.5f);
        entry.relTime = 0.7f * static_cast<float>(i);
        chain.entries.push_back(entry);
    }
    return chain;
}

void ResetLive() {
    CurrentProject = Project{};
    CurrentProject.totalDuration = 60.0f;
    ClearUndoHistory();
    PrepareVoices(LivePlaybackEngine, 48000, 0);
    GlobalAppState.linkedGroups.clear();
}

void BM_ChainClipsRenderOnly(benchmark::State& state) {
    ResetLive();
    CurrentProject.InstantiateChain(GlobalAppState, ClipChain(), 1.0f);
    // The sources decoded once, as placing finds them.
    RenderAll(CurrentProject, LivePlaybackEngine, 48000, false);
    placeRenderSeconds =
        TimePerIteration(state, [] { RenderAll(CurrentProject, LivePlaybackEngine, 48000, false); });
    state.counters["ms"] = placeRenderSeconds * 1000.0;
    ResetLive();
}
BENCHMARK(BM_ChainClipsRenderOnly)->Unit(benchmark::kMillisecond);

void BM_PlaceChainOfClips(benchmark::State& state) {
    const Chain chain = ClipChain();
    double total = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        ResetLive();
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        CurrentProject.InstantiateChain(GlobalAppState, chain, 1.0f);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double seconds = state.iterations() ? total / static_cast<double>(state.iterations()) : 0.0;
    Ratio(state, seconds, placeRenderSeconds);
    ResetLive();
}
BENCHMARK(BM_PlaceChainOfClips)->Unit(benchmark::kMillisecond);

}  // namespace
