#include "engine/clip_event.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "engine/pinned_sources.h"
#include "engine/published_layers.h"
#include "engine/silence_protection.h"
#include "engine/track_allocation.h"
#include "library/waveform.h"
#include "project/fixed_text.h"
#include "project/project.h"

namespace korvel {

namespace {

// Linear read of a 256-point curve at p, limited to 0..1 (beyond the end
// reads the last point).
float ReadCurve(const CurvePoints& curve, float p) {
    if (!(p > 0.0f)) return curve[0];
    const float x = std::min(p, 1.0f) * 255.0f;
    const int i = std::clamp(static_cast<int>(x), 0, 254);
    return curve[i] + (curve[i + 1] - curve[i]) * (x - static_cast<float>(i));
}

void SetClipIntensityGain(const Event& event, float length, LayerResult& layer) {
    layer.hasIntGain = true;
    const float span = std::max(0.001f, event.duration);
    for (int i = 0; i < kCurvePoints; ++i) {
        const float p = (static_cast<float>(i) / 255.0f * length) / span;
        float value = ReadCurve(event.intensity, p) * event.intensityScale;
        if (event.hasTraceGain) value *= ReadCurve(event.traceGain, p);
        layer.intGain[static_cast<std::size_t>(i)] = std::clamp(value, 0.0f, 1.0f);
    }
}

// The fades as the build's finish will leave them, so that a clip compared
// after a finish is compared like for like.
void FinishedFades(float duration, float& fadeIn, float& fadeOut) {
    if (!(duration > 0.0f)) {
        fadeIn = fadeOut = 0.0f;
        return;
    }
    fadeIn = std::clamp(fadeIn, 0.0f, 0.45f * duration);
    fadeOut = std::clamp(fadeOut, 0.0f, 0.45f * duration);
    const float sum = fadeIn + fadeOut;
    if (sum > 0.9f * duration) {
        fadeIn *= 0.9f * duration / sum;
        fadeOut *= 0.9f * duration / sum;
    }
}

// Everything of the clip that its event decides. What the finish and the
// passes rewrite (lanes, tracks and mutes) is left out, and the length and
// fades are compared as the finish and silence protection's cut at a gap
// leave them, so an unchanged clip keeps its layer, its id and thus its voice.
bool SameClip(const Project& project, const LayerResult& built, const LayerResult& existing) {
    float fadeIn = built.fadeIn, fadeOut = built.fadeOut;
    FinishedFades(built.duration, fadeIn, fadeOut);
    if (existing.duration != built.duration) {
        const float cut = SilenceProtectedLength(project, built.eventIdx, built.startTime, built.duration);
        if (!(cut < built.duration) || existing.duration != cut) return false;
        CapFadesAtSilence(cut, fadeIn, fadeOut);
    }
    return built.name == existing.name && built.filepath == existing.filepath && built.fileId == existing.fileId &&
           built.sourceOffset == existing.sourceOffset && built.sourceDuration == existing.sourceDuration &&
           built.startTime == existing.startTime && built.weight == existing.weight &&
           built.stereo == existing.stereo && built.group == existing.group &&
           built.isSketch == existing.isSketch && fadeIn == existing.fadeIn && fadeOut == existing.fadeOut &&
           built.hasIntGain == existing.hasIntGain && built.intGain == existing.intGain;
}

}  // namespace

bool BuildClipEvent(Project& project, std::int32_t eventIndex) {
    KORVEL_CHECK_LAYER_WRITER();
    if (eventIndex < 0 || static_cast<std::size_t>(eventIndex) >= project.events.size()) return false;
    Event& event = project.events[static_cast<std::size_t>(eventIndex)];
    if (!IsKind(event.shape, EventKind::Clip) || event.pinnedFile[0] == '\0') return false;

    const std::string relinked = RelinkPinnedPath(event.pinnedFileId, std::string(TextOf(event.pinnedFile)));
    if (relinked != TextOf(event.pinnedFile)) {
        MoveWaveformOverview(std::string(TextOf(event.pinnedFile)), relinked);
        CopyText(event.pinnedFile, relinked);
    }
    const std::string path(TextOf(event.pinnedFile));
    const float start = event.time - event.syncOffset;

    auto existing = std::find_if(project.results.begin(), project.results.end(),
                                 [eventIndex](const LayerResult& layer) { return layer.eventIdx == eventIndex; });

    LayerResult layer;
    layer.eventIdx = eventIndex;
    layer.track = 0;
    layer.procMode = kProcModeSegment;
    layer.group = EffectiveGroup(event);
    layer.weight = event.clipWeight >= 0.0f ? event.clipWeight : 0.5f;
    layer.filepath = path;
    layer.fileId = event.pinnedFileId;
    layer.name = std::string(FileNamePart(path));
    layer.startTime = start;

    float length = 0.0f;
    PinnedFileFacts facts;
    if (ProbePinnedFile(path, facts)) {
        layer.stereo = event.stereo || facts.channels >= 2;
        layer.sourceOffset = event.clipSourceOffset;
        const double available = std::max(0.0, facts.seconds - static_cast<double>(event.clipSourceOffset));
        double chosen = event.clipSourceDuration > 0.0f ? std::min(available, double(event.clipSourceDuration))
                                                        : available;
        // Never past the end of the project.
        chosen = std::min(chosen, std::max(0.01, static_cast<double>(project.totalDuration) - start));
        length = static_cast<float>(std::max(0.0, chosen));  // NaN offsets give 0
        layer.sourceDuration = layer.duration = length;
        layer.fadeIn = event.clipFadeIn >= 0.0f ? event.clipFadeIn : std::min(0.02f * length, 0.01f);
        layer.fadeOut = event.clipFadeOut >= 0.0f ? event.clipFadeOut : std::min(0.05f * length, 0.05f);
    } else {
        // Keeps the event's place and renders as silence.
        length = event.duration;
        layer.duration = layer.sourceDuration = event.duration;
        layer.sourceOffset = 0.0f;
        layer.fadeIn = 0.01f;
        layer.fadeOut = 0.05f;
        layer.isSketch = true;
        layer.name = "[Missing] " + layer.name;
    }
    SetClipIntensityGain(event, length, layer);

    if (existing != project.results.end()) {
        if (!SameClip(project, layer, *existing)) {
            layer.userVolume = existing->userVolume;
            layer.muted = existing->muted;
            layer.layerGain = existing->layerGain;
            *existing = std::move(layer);  // a new id: the old voice matches nothing
        }
    } else {
        project.results.push_back(std::move(layer));
    }
    AllocateTracks(project);
    ++project.revision;
    project.built = true;
    return true;
}

}  // namespace korvel
