#include "presets/recipe_previews.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "dsp/sanitize.h"
#include "engine/build_events.h"
#include "engine/layer_render.h"
#include "engine/voice_gain.h"
#include "library/audio_file.h"
#include "library/library.h"
#include "playback/playback_engine.h"
#include "presets/user_folders.h"
#include "project/file_io.h"
#include "project/fixed_text.h"
#include "project/project.h"

namespace korvel {

// Index
// [SECTION] Process-wide state
// [SECTION] Paths and pruning
// [SECTION] The preview event
// [SECTION] Mixing and finishing
// [SECTION] Writing
// [SECTION] Baking and the bake thread
// [SECTION] Playing

namespace fs = std::filesystem;

// [SECTION] Process-wide state

std::atomic<bool> RecipePreviewBusy{false};  // bake thread writes, UI thread reads
std::jthread RecipePreviewWorker;             // UI thread only

namespace {

constexpr float kRate = static_cast<float>(kPreviewSampleRate);
constexpr const char* kPreviewFileEnd = "_preview.wav";
constexpr const char* kPreviewTempEnd = "_preview.wav.tmp";

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

// [SECTION] Paths and pruning

std::string RecipePreviewStem(const EventPreset& recipe) {
    // A recipe keeps the stem of the file that holds it, which need not be
    // the stem its name gives now (older stems, " 2" suffixes).
    if (!recipe.sourcePath.empty()) return fs::path(recipe.sourcePath).stem().string() + kPreviewSuffix;
    return RecipeFileStem(TextOf(recipe.name)) + kPreviewSuffix;
}

std::string RecipePreviewPath(const EventPreset& recipe) {
    if (!recipe.sourcePath.empty()) {
        return (fs::path(recipe.sourcePath).parent_path() / (RecipePreviewStem(recipe) + ".wav")).string();
    }
    const std::string folder = RecipesFolder();
    if (folder.empty()) return {};
    return folder + "/" + RecipePreviewStem(recipe) + ".wav";
}

bool RecipePreviewExists(const EventPreset& recipe) {
    const std::string path = RecipePreviewPath(recipe);
    std::error_code error;
    return !path.empty() && fs::exists(path, error);
}

void DeleteRecipePreview(const EventPreset& recipe) {
    const std::string path = RecipePreviewPath(recipe);
    std::error_code ignored;
    if (!path.empty()) fs::remove(path, ignored);
}

void PruneRecipePreviews() {
    if (RecipePreviewBusy.load(std::memory_order_acquire)) return;
    std::set<std::string> kept;
    for (const EventPreset& recipe : RecipeList) kept.insert(RecipePreviewStem(recipe));
    DeleteStalePreviews(kept, RecipesFolder());
}

void DeleteStalePreviews(const std::set<std::string>& keptStems, const std::string& folder) {
    std::error_code error;
    if (folder.empty() || !fs::exists(folder, error)) return;
    std::vector<fs::path> doomed;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (EndsWith(name, kPreviewTempEnd)) {
            // A running bake is writing one of these.
            if (!RecipePreviewBusy.load(std::memory_order_acquire)) doomed.push_back(it->path());
        } else if (EndsWith(name, kPreviewFileEnd)) {
            if (keptStems.count(it->path().stem().string()) == 0) doomed.push_back(it->path());
        }
    }
    for (const fs::path& path : doomed) {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
}

// [SECTION] The preview event

Event MakePreviewEvent(const EventPreset& recipe) {
    // Starts from the event defaults rather than zeros: a zero user-shape or
    // scene index would name a shape or scene the private project lacks, and
    // a zero clip weight would read as measured.
    Event event;
    const float duration = std::isnan(recipe.duration) ? 0.3f : recipe.duration;
    event.duration = std::clamp(duration, 0.3f, 30.0f);
    // The build puts the event's start at the recipe's sync offset; the
    // layers are moved to 0 afterwards anyway.
    event.time = recipe.syncOffset;
    event.syncOffset = 0.0f;
    CopyText(event.presetName, TextOf(recipe.name));
    CopyText(event.keywords, TextOf(recipe.keywords));
    event.shape = recipe.shape;
    event.intensityMode = recipe.intensityMode;
    event.spread = recipe.spread;
    event.weightCenter = recipe.weightCenter;
    event.intensityScale = recipe.intensityScale;
    event.weightOffset = recipe.weightOffset;
    event.alloyMorph = recipe.alloyMorph;
    event.pitchVariation = recipe.pitchVariation;
    event.reverbSend = recipe.reverbSend;
    event.gain = recipe.gain;
    event.fillLayers = recipe.fillLayers;
    event.groupOverride = recipe.groupOverride;
    event.stereo = recipe.stereo;
    CopyText(event.libFilter, TextOf(recipe.libFilter));
    event.weight = recipe.weight;
    event.intensity = recipe.intensity;
    if (IsKind(recipe.shape, EventKind::Clip) && recipe.pinnedFile[0] != '\0') {
        CopyText(event.pinnedFile, TextOf(recipe.pinnedFile));
        event.usePinnedFile = true;
        event.clipSourceOffset = recipe.clipSourceOffset;
        event.clipSourceDuration = recipe.clipSourceDuration;
        event.clipFadeIn = recipe.clipFadeIn;
        event.clipFadeOut = recipe.clipFadeOut;
        event.clipPitchRate = recipe.clipPitchRate;
        event.clipReverse = recipe.clipReverse;
    }
    return event;
}

// [SECTION] Mixing and finishing

namespace {

template <std::size_t Size>
float Interpolate(const std::array<float, Size>& curve, std::size_t j, float fraction) {
    return curve[j] + (curve[j + 1] - curve[j]) * fraction;
}

float SampleAt(const std::vector<float>& samples, std::size_t i, std::size_t last, float frac) {
    return (1.0f - frac) * samples[i] + frac * samples[std::min(i + 1, last)];
}

void MixVoice(const Voice& voice, float fadeIn, float fadeOut, std::vector<float>& out) {
    const float duration = voice.duration;
    const float lo = std::max(0.03f * duration, 0.015f);
    const float hi = std::max(lo, 0.45f * duration);
    float fi = fadeIn < lo ? lo : std::min(fadeIn, hi);
    float fo = fadeOut < lo ? lo : std::min(fadeOut, hi);
    if (fi + fo > 0.9f * duration) {
        const float scale = 0.9f * duration / (fi + fo);
        fi *= scale;
        fo *= scale;
    }
    const float level = voice.gain * voice.normGain * voice.eventGain;
    const float invDur = duration > 0.0f ? 1.0f / duration : 0.0f;
    const bool eventMode = voice.eventCurve && voice.eventCurveLength > 1 && duration > 0.0f;
    const bool intMode = !eventMode && voice.hasIntGain && duration > 0.0f;
    const bool fillMode = voice.hasFillGain && duration > 0.0f;
    const float fillRate = voice.fillGainSpan > 0.0f ? 1.0f / voice.fillGainSpan : invDur;

    const auto n = static_cast<std::int64_t>(out.size());
    std::int64_t first = static_cast<std::int64_t>(voice.startTime * kRate);
    first = std::clamp<std::int64_t>(first, 0, n);
    std::int64_t last = static_cast<std::int64_t>((voice.startTime + duration) * kRate);
    last = std::clamp<std::int64_t>(last, first, n);

    const std::size_t available = std::min(static_cast<std::size_t>(std::max(voice.frameCount, 0)), voice.samplesL.size());
    if (available == 0) return;
    const std::size_t lastLeft = std::min(static_cast<std::size_t>(voice.frameCount), voice.samplesL.size()) - 1;
    const bool right = voice.stereo && !voice.samplesR.empty();
    for (std::int64_t k = 0; k < last - first; ++k) {
        const float t = static_cast<float>(k) / kRate;
        const float x = t * kRate;
        const auto i = static_cast<std::int64_t>(x);
        const float frac = x - static_cast<float>(i);
        if (i < 0 || static_cast<std::size_t>(i) >= available) continue;
        const auto at = static_cast<std::size_t>(i);

        float fadeInGain = 1.0f;
        if (t < fi) {
            const float u = t / fi;
            const float w = u * (1.0f - u);
            const float g = u + w + 1.4196f * w * w;
            fadeInGain = g * g;
        }
        float fadeOutGain = 1.0f;
        if (duration - t < fo) {
            const float r = (duration - t) / fo;
            fadeOutGain = r * r * r * r;
        }
        float c = 1.0f;
        if (eventMode) {
            const float q = t * invDur * static_cast<float>(voice.eventCurveLength - 1);
            const auto j = static_cast<std::size_t>(
                std::clamp(static_cast<int>(q), 0, std::max(voice.eventCurveLength - 2, 0)));
            const float v = std::clamp(Interpolate(*voice.eventCurve, j, q - static_cast<float>(j)), 0.0f, 1.0f);
            c = 0.3f + 0.7f * std::min(1.0f, std::max(0.0f, v * voice.intensityScale));
        } else if (intMode) {
            const float q = t * invDur * 255.0f;
            const auto j = static_cast<std::size_t>(std::clamp(static_cast<int>(q), 0, 254));
            c = Interpolate(voice.intGain, j, q - static_cast<float>(j));
        }
        if (fillMode) {
            const float q = std::min(1.0f, fillRate * t) * 127.0f;
            const auto j = static_cast<std::size_t>(std::clamp(static_cast<int>(q), 0, 126));
            c *= Interpolate(voice.fillGain, j, q - static_cast<float>(j));
        }
        float s = SampleAt(voice.samplesL, at, lastLeft, frac);
        if (right && at < voice.samplesR.size()) {
            s = 0.5f * (s + SampleAt(voice.samplesR, at, voice.samplesR.size() - 1, frac));
        }
        out[static_cast<std::size_t>(first + k)] += s * fadeInGain * level * fadeOutGain * c;
    }
}

}  // namespace

std::vector<float> MixPreviewVoices(const PlaybackEngine& engine, float eventDuration) {
    float end = 0.0f;
    for (const Voice& voice : engine.voices) end = std::max(end, voice.startTime + voice.duration);
    const float seconds = std::min(eventDuration + 1.0f, end);
    const auto count = static_cast<std::int64_t>(seconds * kRate);
    if (count < 1) return {};
    std::vector<float> out(static_cast<std::size_t>(count), 0.0f);
    for (std::size_t k = 0; k < engine.voices.size(); ++k) {
        const Voice& voice = engine.voices[k];
        if (voice.muted) continue;
        const float fadeIn = k < engine.voiceFadeIns.size() ? engine.voiceFadeIns[k] : 0.04f;
        const float fadeOut = k < engine.voiceFadeOuts.size() ? engine.voiceFadeOuts[k] : 0.05f;
        MixVoice(voice, fadeIn, fadeOut, out);
    }
    return out;
}

void FinishPreviewSamples(std::vector<float>& samples) {
    float peak = 0.0f;
    for (float s : samples) peak = std::max(peak, std::fabs(s));
    // About -3 dBFS, so previews of loud and quiet recipes sound alike.
    if (peak > 0.001f) {
        const float scale = 0.708f / peak;
        for (float& s : samples) s *= scale;
    }
    std::size_t audible = samples.size();
    while (audible > 0 && !(std::fabs(samples[audible - 1]) >= 0.00001f)) --audible;
    if (audible == samples.size()) return;
    // 10 ms at 48 kHz, so the cut after the last audible sample never clicks.
    const std::size_t fade = std::min<std::size_t>(audible, 480);
    for (std::size_t k = 1; k <= fade; ++k)
        samples[audible - k] *= static_cast<float>(k) / static_cast<float>(fade);
    samples.resize(audible);
}

// [SECTION] Writing

bool WritePreviewWav(const std::string& path, std::vector<float> samples) {
    // The temporary carries the preview's own name, so pruning knows it.
    const std::string temp = path + ".tmp";
    // libsndfile gets a descriptor of ours: its own open refuses long paths.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = kPreviewSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    std::error_code ignored;
    if (file == nullptr) {
        ::close(fd);
        fs::remove(temp, ignored);
        return false;
    }
    const auto count = static_cast<sf_count_t>(samples.size());
    SanitizeSamples(samples.data(), static_cast<int>(samples.size()));
    const bool written = count == 0 || sf_writef_float(file, samples.data(), count) == count;
    const bool closed = sf_close(file) == 0;
    if (!written || !closed) {
        fs::remove(temp, ignored);
        return false;
    }
    return CommitTempFile(temp, path);
}

// [SECTION] Baking and the bake thread

bool BakeRecipePreview(const EventPreset& recipe, const std::vector<Palette>& palettes) {
    if (SoundLibrary.scanning.load(std::memory_order_acquire)) return false;
    const std::string path = RecipePreviewPath(recipe);
    if (path.empty()) return false;
    std::error_code ignored;
    fs::create_directories(fs::path(path).parent_path(), ignored);

    Event event = MakePreviewEvent(recipe);
    const float d = event.duration;
    auto project = std::make_unique<Project>();
    project->totalDuration = d + 2.0f;
    project->events.push_back(event);
    BuildEvents(*project, palettes, 0, -1.0f, -1.0f, false, false);
    std::vector<LayerResult>& layers = project->results;
    if (layers.empty()) return false;
    float earliest = layers.front().startTime;
    for (const LayerResult& layer : layers) earliest = std::min(earliest, layer.startTime);
    for (LayerResult& layer : layers) layer.startTime -= earliest;

    // About 1.5 MiB: never on this thread's stack.
    auto engine = std::make_unique<PlaybackEngine>();
    engine->normalizeLUFS = true;
    PrepareVoices(*engine, kPreviewSampleRate, static_cast<int>(layers.size()));
    const float gains[1] = {recipe.gain};
    for (std::size_t i = 0; i < layers.size(); ++i) {
        RenderLayerVoice(*engine, layers[i], static_cast<std::int32_t>(i), kPreviewSampleRate, gains, 1,
                         &project->events[0], 0, 0, false);
    }
    NormalizeVoiceGains(*engine, true);
    if (engine->voices.empty()) return false;

    std::vector<float> samples = MixPreviewVoices(*engine, d);
    if (samples.empty()) return false;
    FinishPreviewSamples(samples);
    return WritePreviewWav(path, std::move(samples));
}

void RecipePreviewThread(std::shared_ptr<const EventPreset> recipe,
                         std::shared_ptr<const std::vector<Palette>> palettes) {
    RecipePreviewBusy.store(true, std::memory_order_release);
    BakeRecipePreview(*recipe, *palettes);
    RecipePreviewBusy.store(false, std::memory_order_release);
}

void JoinRecipePreviewWorker() {
    if (RecipePreviewWorker.joinable() && RecipePreviewWorker.get_id() != std::this_thread::get_id())
        RecipePreviewWorker.join();
}

void StartRecipePreviewBake(const EventPreset& recipe) {
    JoinRecipePreviewWorker();
    // The bake reads these for seconds on its own thread; the library's own
    // palettes may meanwhile take a scan's merge, a relink or an edit.
    auto palettes = std::make_shared<std::vector<Palette>>();
    for (const Palette& palette : SoundLibrary.palettes)
        if (palette.enabled) palettes->push_back(palette);
    auto copy = std::make_shared<const EventPreset>(recipe);
    // Set here, before the thread exists, so a pruning between this call and
    // the thread's first step already leaves the temporary alone.
    RecipePreviewBusy.store(true, std::memory_order_release);
    RecipePreviewWorker = std::jthread(RecipePreviewThread, std::move(copy), std::move(palettes));
}

// [SECTION] Playing

bool PlayRecipePreview(const EventPreset& recipe, PlaybackEngine& engine) {
    const std::string path = RecipePreviewPath(recipe);
    if (path.empty()) return false;
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    SoundFilePtr file = OpenSoundFile(path, info);
    if (!file || info.channels < 1) return false;
    std::vector<float> samples;
    std::vector<float> block(4096 * static_cast<std::size_t>(info.channels));
    for (;;) {
        const sf_count_t frames = sf_readf_float(file.get(), block.data(), 4096);
        if (frames <= 0) break;
        // A preview is mono; a file replaced by hand plays its first channel.
        for (sf_count_t f = 0; f < frames; ++f) samples.push_back(block[static_cast<std::size_t>(f * info.channels)]);
    }
    if (samples.empty()) return false;
    return StartPreview(engine, std::move(samples), info.samplerate);
}

}  // namespace korvel
