// The chain reader on arbitrary bytes: it must never crash or hang, and a
// chain once written must read back to the same text (the first round may
// normalise values such as a bed weight that prints as the old "unmeasured"
// 0.5). The identity step, which opens the files a chain names, is left out:
// paths from the input must not reach the file system.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "presets/chains.h"
#include "project/fixed_text.h"

namespace {

// The entries as the events that would write them back, copied field by
// field: applying a recipe would look the files up.
std::vector<korvel::Event> EventsOf(const korvel::Chain& chain) {
    using korvel::CopyText;
    using korvel::TextOf;
    std::vector<korvel::Event> events;
    for (const korvel::ChainEntry& entry : chain.entries) {
        const korvel::EventPreset& p = entry.preset;
        korvel::Event e;
        e.time = entry.relTime;
        e.syncOffset = entry.syncOffset;
        e.hero = entry.hero;
        e.alloy = entry.alloy;
        CopyText(e.keywords, TextOf(p.keywords));
        e.shape = p.shape;
        e.intensityMode = p.intensityMode;
        e.duration = p.duration;
        e.spread = p.spread;
        e.weightCenter = p.weightCenter;
        e.intensityScale = p.intensityScale;
        e.weightOffset = p.weightOffset;
        e.alloyMorph = p.alloyMorph;
        e.pitchVariation = p.pitchVariation;
        e.reverbSend = p.reverbSend;
        e.gain = p.gain;
        e.fillLayers = p.fillLayers;
        e.groupOverride = p.groupOverride;
        e.stereo = p.stereo;
        CopyText(e.pinnedFile, TextOf(p.pinnedFile));
        e.pinnedFileId = p.pinnedFileId;
        e.clipSourceOffset = p.clipSourceOffset;
        e.clipSourceDuration = p.clipSourceDuration;
        e.clipFadeIn = p.clipFadeIn;
        e.clipFadeOut = p.clipFadeOut;
        e.clipPitchRate = p.clipPitchRate;
        e.clipReverse = p.clipReverse;
        e.pinnedFiles = p.pinnedFiles;
        e.pinnedFileIds = p.pinnedFileIds;
        e.bedLayerLoop = p.bedLayerLoop;
        e.bedLayerWeight = p.bedLayerWeight;
        CopyText(e.libFilter, TextOf(p.libFilter));
        e.weight = p.weight;
        e.intensity = p.intensity;
        events.push_back(std::move(e));
    }
    return events;
}

std::string Round(const std::string& text) {
    const korvel::Chain chain = korvel::ReadChainJson(korvel::ParseJson(text));
    const std::vector<korvel::Event> events = EventsOf(chain);
    std::vector<std::int32_t> indices;
    for (std::size_t i = 0; i < events.size(); ++i) indices.push_back(static_cast<std::int32_t>(i));
    return korvel::FormatChain(korvel::TextOf(chain.name), events, indices);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string second = Round(Round(input));
    if (Round(second) != second) std::abort();
    return 0;
}
