#include "dsp/alloy_render.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "dsp/alloy_bands.h"
#include "dsp/alloy_blend.h"
#include "dsp/alloy_graft.h"
#include "dsp/alloy_stft.h"
#include "dsp/alloy_transfer.h"
#include "dsp/flush_denormals.h"
#include "library/decoded_source_cache.h"
#include "playback/playback_engine.h"

namespace korvel {

namespace {

// Rendered alloy layers by layer id. Every rendering thread (background job,
// UI, export, recipe preview) takes `mutex` only to look up, store or clear;
// renders themselves run unlocked, and the later of two stores wins.
struct AlloyRenderCache {
    std::mutex mutex;
    std::unordered_map<int32_t, AlloyCacheEntry> entries;
};
AlloyRenderCache gAlloyRenderCache;

// The steps every algorithm but the blend shares once its sources are
// loaded: the kernel per channel, the level match and the output shaping.
template <class Kernel>
bool FinishAlloyRender(const LayerResult& layer, int32_t sampleRate, const AlloyInputs& inputs, AlloyCacheEntry& out,
                       Kernel&& kernel) {
    AlloyCacheEntry result;
    kernel(inputs.samplesL, result.samplesL);
    if (inputs.stereo) kernel(inputs.samplesR, result.samplesR);
    MatchAlloyLevel(inputs, result, inputs.frames, inputs.stereo);
    ShapeAlloyOutput(AlloyCurvesOf(layer), sampleRate, result, inputs.frames, inputs.stereo);
    result.stereo = inputs.stereo;
    result.frameCount = inputs.frames;
    out = std::move(result);
    return true;
}

}  // namespace

bool LoadAlloySource(const std::string& path, float start, float length, std::vector<float>& left,
                     std::vector<float>& right, bool stereo, int32_t frames, int32_t sampleRate) {
    if (path.empty()) return false;
    std::vector<float> decodedRight;
    int decodedRate = 0;
    bool decodedStereo = false;
    if (!GetDecodedSource(path, start, length, sampleRate, stereo, left, decodedRight, decodedRate, decodedStereo) ||
        left.empty())
        return false;
    LoopFitSource(left, frames, sampleRate);
    if (stereo && decodedStereo && !decodedRight.empty()) {
        LoopFitSource(decodedRight, frames, sampleRate);
        right = std::move(decodedRight);
    } else {
        right.clear();
    }
    return true;
}

bool LoadAlloySources(const LayerResult& layer, int32_t sampleRate, bool stereo, AlloyInputs& inputs) {
    // A duration read from a project file is not clamped; a length past the
    // range of a frame count renders nothing rather than converting out of
    // range.
    const float exactFrames = static_cast<float>(sampleRate) * layer.duration;
    inputs.frames = exactFrames < 2147483648.0f ? static_cast<int32_t>(std::max(0.0f, exactFrames)) : 0;
    if (inputs.frames <= 0) return false;
    struct Region {
        const std::string* path;
        float start, length;
    };
    const Region regions[kAlloySlotCount] = {
        {&layer.filepath, layer.sourceOffset, layer.sourceDuration},
        {&layer.alloyMid.filepath, layer.alloyMid.offset, layer.alloyMid.duration},
        {&layer.alloyHigh.filepath, layer.alloyHigh.offset, layer.alloyHigh.duration},
        {&layer.alloyEnv.filepath, layer.alloyEnv.offset, layer.alloyEnv.duration},
    };
    for (size_t l = 0; l < kAlloySlotCount; ++l)
        inputs.present[l] = LoadAlloySource(*regions[l].path, regions[l].start, regions[l].length,
                                            inputs.samplesL[l], inputs.samplesR[l], stereo, inputs.frames, sampleRate);
    // The envelope alone is no sound to morph.
    if (!inputs.present[0] && !inputs.present[1] && !inputs.present[2]) return false;

    inputs.stereo = stereo;
    const auto frames = static_cast<size_t>(inputs.frames);
    for (size_t l = 0; l < kAlloySlotCount; ++l) {
        if (!inputs.present[l] || inputs.samplesL[l].size() != frames) inputs.samplesL[l].assign(frames, 0.0f);
        // A mono source, or an absent slot, feeds both channels alike.
        if (stereo && inputs.samplesR[l].size() != frames) inputs.samplesR[l] = inputs.samplesL[l];
    }
    return true;
}

bool RenderAlloyTransfer(const LayerResult& layer, int32_t sampleRate, bool stereo, AlloyCacheEntry& out) {
    AlloyInputs inputs;
    if (!LoadAlloySources(layer, sampleRate, stereo, inputs)) return false;
    const AlloyTransferParams params = MakeAlloyTransferParams(layer, sampleRate, inputs.frames);
    return FinishAlloyRender(layer, sampleRate, inputs, out, [&](const AlloySlotVectors& slots, std::vector<float>& o) {
        AlloyTransferKernel(params, slots, inputs.present, o);
    });
}

bool RenderAlloyFilterBands(const LayerResult& layer, int32_t sampleRate, bool stereo, AlloyCacheEntry& out) {
    AlloyInputs inputs;
    if (!LoadAlloySources(layer, sampleRate, stereo, inputs)) return false;
    const AlloyBandsParams params = MakeAlloyBandsParams(layer, sampleRate, inputs.frames);
    return FinishAlloyRender(layer, sampleRate, inputs, out, [&](const AlloySlotVectors& slots, std::vector<float>& o) {
        AlloyFilterBandsKernel(params, slots, inputs.present, o);
    });
}

bool RenderAlloyGraft(const LayerResult& layer, int32_t sampleRate, bool stereo, AlloyCacheEntry& out) {
    AlloyInputs inputs;
    if (!LoadAlloySources(layer, sampleRate, stereo, inputs)) return false;
    const AlloyGraftParams params = MakeAlloyGraftParams(layer, sampleRate, inputs.frames);
    return FinishAlloyRender(layer, sampleRate, inputs, out, [&](const AlloySlotVectors& slots, std::vector<float>& o) {
        AlloyGraftKernel(params, slots, inputs.present, o);
    });
}

bool RenderAlloyBlend(const LayerResult& layer, int32_t sampleRate, bool stereo, AlloyCacheEntry& out) {
    AlloyInputs inputs;
    if (!LoadAlloySources(layer, sampleRate, stereo, inputs)) return false;
    const AlloyBlendParams params = MakeAlloyBlendParams(layer, sampleRate, inputs.frames, inputs.present);
    // Unlike the transfer algorithms, the blend has no signal without its
    // transforms, so a failed set-up fails the render.
    const auto fft = std::make_unique<AlloyFft>();
    if (!fft->ok()) return false;
    return FinishAlloyRender(layer, sampleRate, inputs, out, [&](const AlloySlotVectors& slots, std::vector<float>& o) {
        AlloyBlendKernel(params, slots, inputs.present, *fft, o);
    });
}

bool RenderAlloyLayer(const LayerResult& layer, int32_t sampleRate, bool stereo, AlloyCacheEntry& out) {
    if (layer.id > 0) {
        std::lock_guard lock(gAlloyRenderCache.mutex);
        const auto it = gAlloyRenderCache.entries.find(layer.id);
        if (it != gAlloyRenderCache.entries.end()) {
            out = it->second;
            return out.frameCount > 0;
        }
    }
    // The band filters and the level match decay into subnormals on silent
    // stretches; whichever thread renders, it renders with them flushed.
    const ScopedFlushDenormals flushDenormals;
    AlloyCacheEntry rendered;
    bool ok = false;
    switch (layer.alloyAlgo) {
        case 1: ok = RenderAlloyTransfer(layer, sampleRate, stereo, rendered); break;
        case 2: ok = RenderAlloyFilterBands(layer, sampleRate, stereo, rendered); break;
        case 3: ok = RenderAlloyGraft(layer, sampleRate, stereo, rendered); break;
        default: ok = RenderAlloyBlend(layer, sampleRate, stereo, rendered); break;
    }
    if (!ok) return false;
    if (layer.id >= 1 && rendered.frameCount >= 1) {
        // The copy is made, and an entry another thread stored meanwhile is
        // freed, outside the lock.
        AlloyCacheEntry entry = rendered;
        {
            std::lock_guard lock(gAlloyRenderCache.mutex);
            std::swap(gAlloyRenderCache.entries[layer.id], entry);
        }
    }
    out = std::move(rendered);
    return true;
}

bool RenderAlloyLayer(const LayerResult& layer, int32_t sampleRate, bool stereo, Voice& voice) {
    AlloyCacheEntry rendered;
    if (!RenderAlloyLayer(layer, sampleRate, stereo, rendered)) return false;
    voice.samplesL = std::move(rendered.samplesL);
    voice.samplesR = std::move(rendered.samplesR);
    voice.stereo = rendered.stereo;
    voice.frameCount = rendered.frameCount;
    return true;
}

void ClearAlloyRenderCache() {
    // The entries may hold hundreds of megabytes; they are freed after the
    // lock is released so that renders looking up other layers do not wait.
    std::unordered_map<int32_t, AlloyCacheEntry> released;
    {
        std::lock_guard lock(gAlloyRenderCache.mutex);
        released.swap(gAlloyRenderCache.entries);
    }
}

}  // namespace korvel
