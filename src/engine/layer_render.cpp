// [SECTION] Placement
// [SECTION] Scales
// [SECTION] Overview and loaders
// [SECTION] Audio by processing mode
// [SECTION] Scale tuning
// [SECTION] RenderLayerVoice
// [SECTION] Published layers
#include "engine/layer_render.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "dsp/alloy_render.h"
#include "dsp/eq.h"
#include "dsp/flush_denormals.h"
#include "dsp/loudness.h"
#include "dsp/pitch.h"
#include "dsp/resampler.h"
#include "engine/build_routines.h"
#include "engine/published_layers.h"
#include "engine/loop_fill.h"
#include "library/decoded_source_cache.h"
#include "library/file_id.h"
#include "library/relink.h"
#include "playback/playback_engine.h"
#include "playback/source_region.h"

namespace korvel {

// [SECTION] Placement

float LayerGainTaper(float weight) {
    return weight <= 0.7f ? 1.0f : 1.0f - 0.3f * std::min(1.0f, (weight - 0.7f) / 0.15f);
}

float LayerVoiceGain(const LayerResult& layer) {
    return LayerGainTaper(layer.weight) * layer.layerGain * layer.userVolume;
}

std::uint32_t PlacementSeed(std::int32_t track, std::int32_t eventIndex) {
    return (static_cast<std::uint32_t>(track) * 0x9E37u) ^ (static_cast<std::uint32_t>(eventIndex) * 0x9E3779B1u) ^
           0x9E3779B9u;
}

SpatialPlacement PlaceLayerSpatially(std::int32_t group, std::uint32_t seed, float weight,
                                     const std::array<float, kLayerBandCount>& bandProfile) {
    float azimuthRange = 2.9670596f, widthRange = 2.268928f, heightRange = 0.38397244f;
    if (group == 1) {
        azimuthRange = 0.6981317f, widthRange = 0.8726646f, heightRange = 0.0f;
    } else if (group == 2) {
        azimuthRange = 1.7453293f, widthRange = 1.4835298f, heightRange = 0.17453292f;
    }
    const std::uint32_t h = ((seed * 0x3779B1u) >> 8) & 0xFFFFu;
    const float u = static_cast<float>(h) / 65535.0f * 2.0f - 1.0f;
    const float w = std::isnan(weight) ? 0.0f : std::clamp(weight, 0.0f, 1.0f);
    float total = 0.0f;
    for (float b : bandProfile) total += b;
    float widthFactor = w, heightFactor = w, azimuthFactor = w;
    if (total > 1e-6f) {
        std::array<float, kLayerBandCount> s{};
        for (int i = 0; i < kLayerBandCount; ++i) s[i] = bandProfile[i] / total;
        const float high = std::clamp(2.0f * (s[3] + s[4]), 0.0f, 1.0f);
        const float sub = std::clamp(2.0f * s[0], 0.0f, 1.0f);
        const float spread = std::clamp((1.0f - *std::max_element(s.begin(), s.end())) * 1.25f, 0.0f, 1.0f);
        widthFactor = std::clamp(0.6f * w + 0.4f * spread, 0.0f, 1.0f);
        heightFactor = 0.5f * high + 0.5f * w;
        azimuthFactor = std::clamp((1.0f - 0.5f * sub) * w, 0.0f, 1.0f);
    }
    return {u * azimuthRange * (0.7f * azimuthFactor + 0.3f), (0.65f * widthFactor + 0.35f) * widthRange,
            heightFactor * heightRange};
}

// [SECTION] Scales

const char* const kScaleLabels[kScaleCount] = {
    "Off",         "Major",      "Natural Minor", "Harmonic Minor", "Dorian", "Mixolydian",
    "Pentatonic",  "Minor Pentatonic", "Blues",   "Whole Tone",     "Chromatic", "Maj7",
    "Min7",        "Dom7",       "Sus4",          "Sus2",           "Power (1-5)"};
const char* const kScaleRootNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

int ScaleIntervals(std::int32_t scaleType, std::array<int, 12>& intervals) {
    static const std::vector<int> kTable[kScaleCount] = {
        {},
        {0, 2, 4, 5, 7, 9, 11},
        {0, 2, 3, 5, 7, 8, 10},
        {0, 2, 3, 5, 7, 8, 11},
        {0, 2, 3, 5, 7, 9, 10},
        {0, 2, 4, 5, 7, 9, 10},
        {0, 2, 4, 7, 9},
        {0, 3, 5, 7, 10},
        {0, 3, 5, 6, 7, 10},
        {0, 2, 4, 6, 8, 10},
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
        {0, 4, 7, 11},
        {0, 3, 7, 10},
        {0, 4, 7, 10},
        {0, 5, 7},
        {0, 2, 7},
        {0, 7},
    };
    intervals.fill(0);
    if (scaleType < 0 || scaleType >= kScaleCount) return 0;
    const std::vector<int>& scale = kTable[scaleType];
    std::copy(scale.begin(), scale.end(), intervals.begin());
    return static_cast<int>(scale.size());
}

float ScaleCorrection(std::int32_t scaleType, std::int32_t scaleRoot, float pitchVarShift, int note, float cents) {
    constexpr std::int32_t kChromatic = 10;
    std::array<int, 12> intervals{};
    const int count = ScaleIntervals(scaleType, intervals);
    if (scaleType == kChromatic || count == 0) return 0.0f;
    const float pc = std::fmod(pitchVarShift + static_cast<float>(note) + cents / 100.0f -
                                   static_cast<float>(scaleRoot) + 1200.0f, 12.0f);
    float best = 0.0f;
    bool found = false;
    for (int k = 0; k < count; ++k) {
        float diff = static_cast<float>(intervals[k]) - pc;
        if (diff > 6.0f) diff -= 12.0f;
        if (diff < -6.0f) diff += 12.0f;
        if (!found || std::fabs(diff) < std::fabs(best)) {
            best = diff;
            found = true;
        }
    }
    return std::isnan(best) ? 0.0f : std::clamp(best, -6.0f, 6.0f);
}

// [SECTION] Overview and loaders

void ComputeVoiceOverview(Voice& voice) {
    voice.overviewPeak.fill(0.0f);
    voice.overviewRms.fill(0.0f);
    const std::int64_t frames = std::min<std::int64_t>(voice.frameCount, static_cast<std::int64_t>(voice.samplesL.size()));
    if (frames < 1) return;
    const bool stereo = voice.stereo;
    const auto rightFrames = static_cast<std::int64_t>(voice.samplesR.size());
    const float step = static_cast<float>(frames) * (1.0f / static_cast<float>(kVoiceOverviewBins));
    for (int i = 0; i < kVoiceOverviewBins; ++i) {
        const auto from = static_cast<std::int64_t>(step * static_cast<float>(i));
        const std::int64_t to = std::min(frames, static_cast<std::int64_t>(step * static_cast<float>(i + 1)));
        float peak = 0.0f;
        double sum = 0.0;
        for (std::int64_t k = from; k < to; ++k) {
            float v = std::fabs(voice.samplesL[static_cast<std::size_t>(k)]);
            if (stereo && k < rightFrames) v = std::max(v, std::fabs(voice.samplesR[static_cast<std::size_t>(k)]));
            peak = std::max(peak, v);
            sum += static_cast<double>(v) * v;
        }
        voice.overviewPeak[i] = peak;
        voice.overviewRms[i] = to > from ? static_cast<float>(std::sqrt(sum / static_cast<double>(to - from))) : 0.0f;
    }
}

namespace {

bool LoadIntoVoice(const std::string& path, float offset, float length, std::int32_t sampleRate, bool stereo,
                   Voice& voice, bool needFrames) {
    std::vector<float> left, right;
    int rate = 0;
    bool isStereo = false;
    if (!GetDecodedSource(path, offset, length, sampleRate, stereo, left, right, rate, isStereo)) return false;
    if (needFrames && left.empty()) return false;
    voice.samplesL = std::move(left);
    voice.samplesR = std::move(right);
    voice.stereo = isStereo;
    voice.frameCount = static_cast<std::int32_t>(voice.samplesL.size());
    return true;
}

}  // namespace

bool LoadSourceIntoVoice(const std::string& path, float offset, float length, std::int32_t sampleRate, bool stereo,
                         Voice& voice) {
    return LoadIntoVoice(path, offset, length, sampleRate, stereo, voice, true);
}

bool LoadSegmentIntoVoice(const std::string& path, float offset, float length, std::int32_t sampleRate, bool stereo,
                          Voice& voice) {
    return LoadIntoVoice(path, offset, length, sampleRate, stereo, voice, false);
}

namespace {

// [SECTION] Audio by processing mode

double PitchRatio(float semitones) { return std::fabs(semitones) > 0.01f ? std::pow(2.0, semitones / 12.0) : 1.0; }

std::int64_t ChunkFrames(const std::vector<FillChunk>& chunks) {
    std::int64_t total = 0;
    for (const FillChunk& c : chunks) total += static_cast<std::int64_t>(c.l) - c.x;
    return total;
}

// Replaces the layer's stored splices by the fill's whole list.
bool RenderFillInto(LayerResult& layer, double seconds, std::int32_t sampleRate, Voice& voice) {
    std::vector<FillChunk> chunks;
    if (!RenderLoopFill(layer.filepath, layer.sourceOffset, static_cast<float>(seconds), sampleRate, layer.stereo, voice,
                        layer.groupTrack, layer.fillLoop, &chunks))
        return false;
    if (!chunks.empty()) layer.fillChunks = std::move(chunks);
    return true;
}

struct AudioResult {
    bool ok = false;
    bool spliced = false;  // replayed from the stored list
};

AudioResult RenderAudio(LayerResult& layer, std::int32_t sampleRate, Voice& voice) {
    AudioResult result;
    switch (layer.procMode) {
        case 1: {
            const double length = PitchRatio(layer.pitchShift) * layer.duration;
            const std::int64_t wanted = RenderFrames(sampleRate, length);
            const std::int64_t tolerance = RenderFrames(sampleRate, 0.05);
            if (!layer.fillChunks.empty() && std::llabs(ChunkFrames(layer.fillChunks) - wanted) <= tolerance) {
                bool stereo = layer.stereo;
                result.ok = RenderSpliceVoice(layer, sampleRate, voice, nullptr, nullptr, stereo, static_cast<float>(length));
                result.spliced = result.ok;
            } else {
                result.ok = RenderFillInto(layer, length, sampleRate, voice);
            }
            break;
        }
        case 2:
            result.ok = LoadSegmentIntoVoice(layer.filepath, layer.sourceOffset, layer.sourceDuration, sampleRate,
                                             layer.stereo, voice);
            break;
        case 3:
            result.ok = RenderAlloyLayer(layer, sampleRate, layer.stereo, voice);
            break;
        default:
            result.ok = LoadSourceIntoVoice(layer.filepath, layer.sourceOffset, layer.sourceDuration, sampleRate,
                                            layer.stereo, voice);
            break;
    }
    return result;
}

// [SECTION] Scale tuning

void TuneToScale(LayerResult& layer, const Voice& voice, std::int32_t sampleRate, const Event* event,
                 std::int32_t scaleType, std::int32_t scaleRoot) {
    const std::int64_t frames = voice.frameCount;
    std::vector<float> signal(voice.samplesL.begin(), voice.samplesL.begin() + frames);
    if (voice.stereo && static_cast<std::int64_t>(voice.samplesR.size()) >= frames) {
        for (std::int64_t i = 0; i < frames; ++i) signal[i] = (signal[i] + voice.samplesR[i]) * 0.5f;
    }
    const std::int64_t window = std::min<std::int64_t>(frames, 4096);
    const std::int64_t hop = std::max<std::int64_t>(1, window / 2);
    std::int64_t best = 0;
    double bestEnergy = -1.0;
    for (std::int64_t start = 0; start + window <= frames; start += hop) {
        double energy = 0.0;
        for (std::int64_t i = start; i < start + window; ++i) energy += static_cast<double>(signal[i]) * signal[i];
        if (energy > bestEnergy) {
            bestEnergy = energy;
            best = start;
        }
    }
    const std::int64_t n = std::min<std::int64_t>(frames - best, 8192);
    if (n <= 128) return;
    float confidence = 0.0f;
    const float f0 = DetectPitch(signal.data() + best, static_cast<int>(n), static_cast<float>(sampleRate), confidence);
    if (!(f0 > 20.0f && f0 < 10000.0f && confidence > 0.25f)) return;
    const double m = 12.0 * std::log2(f0 / 440.0) + 69.0;
    const double r = std::round(m);
    const float cents = static_cast<float>((m - r) * 100.0);
    const int note = static_cast<int>(std::clamp(r, 0.0, 127.0));
    const bool exempt = event && event->scaleTuneOverride == 2;
    const float correction = exempt ? 0.0f : ScaleCorrection(scaleType, scaleRoot, layer.pitchVarShift, note, cents);
    layer.pitchShift = layer.pitchVarShift + correction;
}

void Loudness(PlaybackEngine& engine, LayerResult& layer, Voice& voice, std::int32_t sampleRate) {
    if (!engine.normalizeLUFS || voice.frameCount <= 0) {
        layer.normGain = 1.0f;
        return;
    }
    const float target = engine.groupTargetLUFS[static_cast<std::size_t>(std::clamp(voice.group, 0, 2))];
    const bool stereo = voice.stereo && voice.samplesR.size() >= static_cast<std::size_t>(voice.frameCount);
    const float measured = MeasureLoudness(voice.samplesL.data(), stereo ? voice.samplesR.data() : nullptr,
                                           voice.frameCount, sampleRate);
    if (!(measured > -90.0f)) return;  // silence is never boosted
    const float delta = std::max(std::min(target - measured, 18.0f), -30.0f);
    float g = std::pow(10.0f, delta / 20.0f);
    float peak = 0.0f;
    for (std::int32_t i = 0; i < voice.frameCount; ++i) {
        peak = std::max(peak, std::fabs(voice.samplesL[static_cast<std::size_t>(i)]));
        if (stereo) peak = std::max(peak, std::fabs(voice.samplesR[static_cast<std::size_t>(i)]));
    }
    if (peak > 0.0f) g = std::min(g, 0.891f / peak);
    voice.normGain = g;
    layer.normGain = g;
}

}  // namespace

// [SECTION] RenderLayerVoice

bool LayerGetsVoice(const LayerResult& layer) { return !layer.filepath.empty() || layer.isSketch; }

void RenderLayerVoice(PlaybackEngine& engine, LayerResult& layer, std::int32_t resultIndex,
                      std::int32_t sampleRate, const float* eventGains, std::int32_t eventCount,
                      const Event* events, std::int32_t scaleType, std::int32_t scaleRoot, bool keepPlaceholders) {
    if (!LayerGetsVoice(layer)) return;
    if (sampleRate < 1) return;
    // Alloy renders run recursive filters: subnormals would slow them badly.
    const ScopedFlushDenormals flush;

    if (!layer.fileId.empty()) {
        const std::string resolved = ResolveFileId(layer.fileId, layer.filepath);
        if (!resolved.empty()) layer.filepath = resolved;
    }
    if (layer.procMode == kProcModeAlloy) {
        RefreshPathFromFileId(layer.alloyMid.filepath, layer.alloyMid.fileId);
        RefreshPathFromFileId(layer.alloyHigh.filepath, layer.alloyHigh.fileId);
        RefreshPathFromFileId(layer.alloyEnv.filepath, layer.alloyEnv.fileId);
    }

    Voice voice;
    voice.startTime = layer.startTime + layer.deconOffset;
    voice.duration = layer.duration;
    const SpatialPlacement place = PlaceLayerSpatially(std::clamp(layer.group, 0, 2),
                                                       PlacementSeed(layer.track, layer.eventIdx), layer.weight,
                                                       layer.bandEnergies);
    voice.azimuth = place.azimuth;
    voice.width = place.width;
    voice.height = place.height;
    voice.gain = LayerVoiceGain(layer);

    voice.group = layer.group;
    // A layer track allocation dropped plays as muted.
    voice.muted = IsLayerSilenced(layer);
    voice.eventIndex = layer.eventIdx;
    const bool eventKnown = layer.eventIdx >= 0 && layer.eventIdx < eventCount;
    if (eventGains && eventKnown) voice.eventGain = eventGains[layer.eventIdx];
    const Event* event = events && eventKnown ? &events[layer.eventIdx] : nullptr;
    if (event) {
        voice.reverbSend = event->reverbSend;
        if (event->muted) voice.muted = true;
    }

    AudioResult audio;
    if (!layer.isSketch) audio = RenderAudio(layer, sampleRate, voice);
    if (!audio.ok) {
        if (!keepPlaceholders) layer.isSketch = true;
        const std::int64_t frames = std::max<std::int64_t>(1, RenderFrames(sampleRate, layer.duration));
        voice.samplesL.assign(static_cast<std::size_t>(frames), 0.0f);
        voice.samplesR.clear();
        voice.frameCount = static_cast<std::int32_t>(frames);
        voice.stereo = false;
    }
    voice.resultIndex = resultIndex;
    voice.resultId = layer.id;

    if (layer.hasEq && voice.frameCount > 0) {
        ApplyFiveBandEq(voice.samplesL.data(), voice.frameCount, sampleRate, layer.eqGains.data());
        if (voice.stereo && !voice.samplesR.empty())
            ApplyFiveBandEq(voice.samplesR.data(), std::min<std::int32_t>(voice.frameCount, static_cast<std::int32_t>(voice.samplesR.size())),
                            sampleRate, layer.eqGains.data());
    }

    const float pitchBefore = layer.pitchShift;
    if (!keepPlaceholders && scaleType != 0 && voice.frameCount > 128 && !audio.spliced) {
        TuneToScale(layer, voice, sampleRate, event, scaleType, scaleRoot);
    }
    // A loop fill tuned to another pitch needs another length of fill.
    if (layer.procMode == kProcModeLoopFill && !layer.isSketch && layer.pitchShift != pitchBefore &&
        std::fabs(layer.pitchShift) > 0.01f && !layer.filepath.empty() && voice.frameCount > 0 &&
        std::fabs(voice.frameCount - sampleRate * PitchRatio(layer.pitchShift) * layer.duration) > 0.05 * sampleRate) {
        auto scratch = std::make_unique<Voice>();
        std::vector<FillChunk> chunks;
        if (RenderLoopFill(layer.filepath, layer.sourceOffset,
                           static_cast<float>(PitchRatio(layer.pitchShift) * layer.duration), sampleRate, layer.stereo,
                           *scratch, layer.groupTrack, layer.fillLoop, &chunks) &&
            scratch->frameCount > 0) {
            voice.samplesL = std::move(scratch->samplesL);
            voice.samplesR = std::move(scratch->samplesR);
            voice.stereo = scratch->stereo;
            voice.frameCount = scratch->frameCount;
            voice.seamPositions = scratch->seamPositions;
            voice.seamWidths = scratch->seamWidths;
            voice.seamCount = scratch->seamCount;
            voice.splices = scratch->splices;
            voice.spliceCount = scratch->spliceCount;
            layer.fillChunks = std::move(chunks);
        }
    }

    if (std::fabs(layer.pitchShift) > 0.01f && voice.frameCount > 64) {
        const double ratio = std::pow(2.0, layer.pitchShift / 12.0);
        const double n = std::min(std::trunc(voice.frameCount / ratio + 0.5), static_cast<double>(MaxRenderFrames(sampleRate)));
        if (n > 0.0) {
            ResampleSincToLength(voice.samplesL, static_cast<int>(n), ratio);
            if (voice.stereo && !voice.samplesR.empty()) ResampleSincToLength(voice.samplesR, static_cast<int>(n), ratio);
            voice.frameCount = static_cast<std::int32_t>(n);
            voice.duration = static_cast<float>(n / sampleRate);
        }
    }

    if (layer.hasIntGain) {
        voice.intGain = layer.intGain;
        voice.hasIntGain = true;
    }
    if (layer.hasFillGain) {
        voice.fillGain = layer.fillGain;
        voice.hasFillGain = true;
        voice.fillGainSpan = event ? event->duration : layer.duration;
    }
    if (layer.hasDeconGain) {
        voice.deconGain = layer.deconGain;
        voice.hasDeconGain = true;
    }
    if (layer.procMode == kProcModeLoopFill && event) {
        // An immutable copy: edits of the events never reach the audio thread.
        voice.eventCurve = std::make_shared<const CurvePoints>(event->intensity);
        voice.eventCurveLength = kCurvePoints;
        voice.intensityScale = event->intensityScale;
        voice.eventCurveIsBed = IsKind(event->shape, EventKind::Bed);
    }

    ComputeVoiceOverview(voice);
    // A bounce holds the mix of the events it replaced at the level they
    // were heard: levelling it again would change what is heard.
    const bool bounced = event && IsKind(event->shape, EventKind::Clip) && !event->bounceSource.empty();
    const float peak = *std::max_element(voice.overviewPeak.begin(), voice.overviewPeak.end());
    if (peak > 0.5f && !bounced) voice.gain *= 0.5f / peak;
    voice.baseGain = voice.gain;
    if (bounced) {
        layer.normGain = 1.0f;
        voice.ownFades = true;
    } else {
        Loudness(engine, layer, voice, sampleRate);
    }

    AppendVoice(engine, std::move(voice), layer.fadeIn, layer.fadeOut);
}

}  // namespace korvel

// [SECTION] Published layers

namespace korvel {

void RenderPublishedLayerVoice(PlaybackEngine& engine, std::vector<LayerResult>& layers, std::size_t index,
                               std::int32_t sampleRate, const float* eventGains, std::int32_t eventCount,
                               const Event* events, std::int32_t scaleType, std::int32_t scaleRoot,
                               bool keepPlaceholders) {
    LayerResult layer = layers[index];
    RenderLayerVoice(engine, layer, static_cast<std::int32_t>(index), sampleRate, eventGains, eventCount, events,
                     scaleType, scaleRoot, keepPlaceholders);
    std::lock_guard lock(PublishedLayersMutex);
    layers[index] = std::move(layer);
}

}  // namespace korvel
