// [SECTION] Region reading
// [SECTION] Splice writing
// [SECTION] Multichannel fill for the export
// [SECTION] Fill replay into a voice
#include "playback/source_region.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "dsp/resampler.h"
#include "library/audio_file.h"
#include "library/channel_layout.h"
#include "library/decoded_source_cache.h"
#include "playback/playback_engine.h"

namespace korvel {

// [SECTION] Region reading

namespace {

// trunc(rate × seconds) computed in double and clamped to [0, limit]; a
// product that is not a number gives 0.
std::int64_t ClampedFrames(double rate, double seconds, double limit) {
    const double product = std::trunc(rate * seconds);
    if (std::isnan(product)) return 0;
    return static_cast<std::int64_t>(std::clamp(product, 0.0, limit));
}

// The interleaved frames of the region, the file's channel count and rate,
// and the seconds of pre-handle the region really starts before `offset`.
struct RawRegion {
    std::vector<float> interleaved;
    std::int64_t frames = 0;
    int channels = 0;
    int rate = 0;
    double preHandleSeconds = 0.0;
};

bool ReadRawRegion(const std::string& path, double offset, double length, double preHandle, double postHandle,
                   RawRegion& region) {
    if (std::isnan(offset) || std::isnan(length) || std::isnan(preHandle) || std::isnan(postHandle)) return false;
    SF_INFO info{};
    SoundFilePtr file = OpenSoundFile(path, info);
    if (!file) return false;
    if (info.frames <= 0 || info.samplerate <= 0 || info.channels < 1) return false;
    const double rate = info.samplerate;
    const double fileSeconds = static_cast<double>(info.frames) / rate;

    double start = offset - preHandle;
    if (!(start > 0.0)) start = 0.0;
    double end = offset + length + postHandle;
    if (!(end < fileSeconds)) end = fileSeconds;
    const auto maxFrames = std::min<std::int64_t>(info.frames, MaxRenderFrames(info.samplerate));
    const std::int64_t a = ClampedFrames(rate, start, static_cast<double>(info.frames));
    const std::int64_t b = ClampedFrames(rate, end, static_cast<double>(info.frames));
    const std::int64_t count = std::min<std::int64_t>(b - a, maxFrames);
    if (count <= 0) return false;

    if (a > 0 && sf_seek(file.get(), a, SEEK_SET) < 0) return false;
    region.interleaved.assign(static_cast<std::size_t>(count) * static_cast<std::size_t>(info.channels), 0.0f);
    const sf_count_t read = sf_readf_float(file.get(), region.interleaved.data(), count);
    file.reset();
    if (read <= 0) return false;
    region.interleaved.resize(static_cast<std::size_t>(read) * static_cast<std::size_t>(info.channels));
    region.frames = read;
    region.channels = info.channels;
    region.rate = info.samplerate;
    region.preHandleSeconds = std::max(0.0, offset - start);
    return true;
}

void MeanOfChannels(const RawRegion& region, std::vector<float>& out) {
    out.resize(static_cast<std::size_t>(region.frames));
    const float scale = 1.0f / static_cast<float>(region.channels);
    const float* frame = region.interleaved.data();
    for (std::int64_t i = 0; i < region.frames; ++i, frame += region.channels) {
        float sum = 0.0f;
        for (int c = 0; c < region.channels; ++c) sum += frame[c];
        out[static_cast<std::size_t>(i)] = sum * scale;
    }
}

void ChannelOf(const RawRegion& region, int channel, std::vector<float>& out) {
    out.resize(static_cast<std::size_t>(region.frames));
    const float* frame = region.interleaved.data() + channel;
    for (std::int64_t i = 0; i < region.frames; ++i, frame += region.channels) out[static_cast<std::size_t>(i)] = *frame;
}

// Resamples every output to targetRate and reports the pre-handle at the
// output's rate. False for a target rate below 1.
bool FinishRegion(const RawRegion& region, int targetRate, std::vector<std::vector<float>*> outputs,
                  int& preHandleFrames) {
    if (targetRate < 1) return false;
    double rate = region.rate;
    if (targetRate != region.rate) {
        const double newLength = ClampedFrames(static_cast<double>(region.frames) * targetRate / region.rate, 1.0,
                                               static_cast<double>(MaxRenderFrames(targetRate)));
        const double ratio = static_cast<double>(region.rate) / targetRate;
        for (std::vector<float>* output : outputs) {
            if (!output->empty()) ResampleLinearToLength(*output, static_cast<int>(newLength), ratio);
        }
        rate = targetRate;
    }
    preHandleFrames = static_cast<int>(ClampedFrames(rate, region.preHandleSeconds, 2147483647.0));
    return !outputs.front()->empty();
}

}  // namespace

std::int64_t RenderFrames(int rate, double seconds) {
    return ClampedFrames(rate, seconds, static_cast<double>(MaxRenderFrames(rate)));
}

bool ReadSourceRegion(const std::string& path, double offsetSeconds, double lengthSeconds,
                      double preHandleSeconds, double postHandleSeconds, int targetRate,
                      std::vector<float>& mono, int& preHandleFrames) {
    RawRegion region;
    if (!ReadRawRegion(path, offsetSeconds, lengthSeconds, preHandleSeconds, postHandleSeconds, region)) return false;
    MeanOfChannels(region, mono);
    return FinishRegion(region, targetRate, {&mono}, preHandleFrames);
}

bool ReadSourceRegionChannels(const std::string& path, double offsetSeconds, double lengthSeconds,
                              double preHandleSeconds, double postHandleSeconds, int targetRate,
                              std::vector<std::vector<float>>& channels, int& channelCount,
                              int& preHandleFrames) {
    RawRegion region;
    if (!ReadRawRegion(path, offsetSeconds, lengthSeconds, preHandleSeconds, postHandleSeconds, region)) return false;
    channelCount = region.channels;
    channels.resize(static_cast<std::size_t>(region.channels));
    std::vector<std::vector<float>*> outputs;
    for (int c = 0; c < region.channels; ++c) {
        ChannelOf(region, c, channels[static_cast<std::size_t>(c)]);
        outputs.push_back(&channels[static_cast<std::size_t>(c)]);
    }
    return FinishRegion(region, targetRate, outputs, preHandleFrames);
}

bool ReadSourceRegionStereo(const std::string& path, double offsetSeconds, double lengthSeconds,
                            double preHandleSeconds, double postHandleSeconds, int targetRate,
                            std::vector<float>& left, std::vector<float>& right, bool& stereo,
                            int& preHandleFrames) {
    RawRegion region;
    if (!ReadRawRegion(path, offsetSeconds, lengthSeconds, preHandleSeconds, postHandleSeconds, region)) return false;
    stereo = region.channels > 1;
    if (stereo) {
        ChannelOf(region, 0, left);
        ChannelOf(region, 1, right);
    } else {
        MeanOfChannels(region, left);
        right.clear();
    }
    return FinishRegion(region, targetRate, {&left, &right}, preHandleFrames);
}

// [SECTION] Splice writing

float SpliceAngle(std::int64_t i, std::int64_t n) {
    return static_cast<float>(i) / static_cast<float>(n) * (std::numbers::pi_v<float> / 2.0f);
}

std::int64_t WriteSplice(const FillChunk& chunk, std::int64_t w, const float* source, std::int64_t sourceFrames,
                         float* out, std::int64_t outFrames) {
    const std::int64_t s = chunk.s;
    const std::int64_t l = std::max(0, chunk.l);
    const std::int64_t x = std::max(0, chunk.x);
    const std::int64_t base = w - x;  // output index of the chunk's frame 0
    // Only the frames k whose output and source indices both lie inside
    // their buffers are visited, so a wild entry costs no time either.
    const std::int64_t first = std::max<std::int64_t>({0, -base, -s});
    const std::int64_t pastOut = outFrames - base;
    const std::int64_t pastSource = sourceFrames - s;
    const std::int64_t fadeEnd = std::min({x, pastOut, pastSource});
    for (std::int64_t k = first; k < fadeEnd; ++k) {
        const float angle = SpliceAngle(k, x);
        float& o = out[base + k];
        o = std::sin(angle) * source[s + k] + std::cos(angle) * o;
    }
    const std::int64_t copyEnd = std::min({l, pastOut, pastSource});
    for (std::int64_t k = std::max(first, x); k < copyEnd; ++k) out[base + k] = source[s + k];
    return w + l - x;
}

std::int64_t SpliceListFrames(const std::vector<FillChunk>& chunks, int sampleRate) {
    std::int64_t total = 0;
    for (const FillChunk& c : chunks) total += static_cast<std::int64_t>(std::max(0, c.l)) - std::max(0, c.x);
    return std::clamp<std::int64_t>(total, 0, MaxRenderFrames(sampleRate));
}

// [SECTION] Multichannel fill for the export

bool ReadResultSourceChannels(const LayerResult& layer, const Voice& voice, int sampleRate, int channelOrder,
                              std::vector<std::vector<float>>& channels, ChannelMap& channelMap) {
    const int interpretation = GetChannelInterpretation(layer.filepath);
    int fileChannels = 0;
    {
        SF_INFO info{};
        SoundFilePtr file = OpenSoundFile(layer.filepath, info);
        if (file) fileChannels = info.channels;
        channelMap = BuildChannelMap(file.get(), fileChannels, channelOrder, interpretation);
    }
    // A mono file has no spread to place: the export pans the voice instead.
    if (fileChannels < 2 || !channelMap.positional) return false;

    std::vector<std::vector<float>> source;
    int sourceChannels = 0;
    int preHandle = 0;
    if (!ReadSourceRegionChannels(layer.filepath, layer.sourceOffset, 999999.0, 0.0, 0.0, sampleRate, source,
                                  sourceChannels, preHandle) ||
        sourceChannels < 1 || source.empty() || source[0].empty()) {
        return false;
    }

    // The stored list is whole; a voice keeps only its first 65 entries.
    std::vector<FillChunk> fromVoice;
    const std::vector<FillChunk>* chunks = &layer.fillChunks;
    if (chunks->empty()) {
        const int count = std::clamp(voice.spliceCount, 0, kVoiceMaxSplices);
        fromVoice.assign(voice.splices.begin(), voice.splices.begin() + count);
        chunks = &fromVoice;
    }
    // Σ(l − x) rather than the layer's duration: a pitched fill's splices
    // span the pitch ratio times it, and the spatial mix resamples by it.
    const std::int64_t total = SpliceListFrames(*chunks, sampleRate);
    if (total < 1) return false;

    channels.assign(source.size(), std::vector<float>(static_cast<std::size_t>(total), 0.0f));
    for (std::size_t c = 0; c < source.size(); ++c) {
        const auto sourceFrames = static_cast<std::int64_t>(source[c].size());
        std::int64_t w = 0;
        for (const FillChunk& chunk : *chunks) {
            w = WriteSplice(chunk, w, source[c].data(), sourceFrames, channels[c].data(), total);
        }
    }
    if (static_cast<int>(source.size()) != static_cast<int>(channelMap.roles.size())) {
        channelMap = BuildChannelMap(nullptr, static_cast<int>(source.size()), channelOrder, interpretation);
    }
    return true;
}

// [SECTION] Fill replay into a voice

bool RenderSpliceVoice(const LayerResult& layer, int sampleRate, Voice& voice, const std::vector<float>* sourceL,
                       const std::vector<float>* sourceR, bool& stereo, float lengthSeconds) {
    if (sampleRate < 1) return false;
    std::vector<float> decodedL, decodedR;
    if (!sourceL) {
        int decodedRate = 0;
        bool decodedStereo = false;
        if (!GetDecodedSource(layer.filepath, layer.sourceOffset, static_cast<float>(kDecodedSourceMaxSeconds),
                              sampleRate, layer.stereo, decodedL, decodedR, decodedRate, decodedStereo)) {
            return false;
        }
        stereo = decodedStereo;
        sourceL = &decodedL;
        sourceR = &decodedR;
    }
    // A stereo replay needs a right channel as long as the left one.
    if (stereo && (!sourceR || sourceR->size() < sourceL->size())) stereo = false;

    const double length = lengthSeconds > 0.0f ? lengthSeconds : layer.duration;
    const std::int64_t total = RenderFrames(sampleRate, length);

    voice.samplesL.assign(static_cast<std::size_t>(total), 0.0f);
    if (stereo) {
        voice.samplesR.assign(static_cast<std::size_t>(total), 0.0f);
    } else {
        voice.samplesR.clear();
    }
    voice.stereo = stereo;
    voice.frameCount = static_cast<std::int32_t>(total);
    voice.seamCount = 0;
    voice.spliceCount = 0;

    const auto sourceFrames = static_cast<std::int64_t>(sourceL->size());
    std::int64_t w = 0;
    for (const FillChunk& chunk : layer.fillChunks) {
        WriteSplice(chunk, w, sourceL->data(), sourceFrames, voice.samplesL.data(), total);
        if (stereo) WriteSplice(chunk, w, sourceR->data(), sourceFrames, voice.samplesR.data(), total);
        if (chunk.x > 0 && voice.seamCount < kVoiceMaxSeams && total > 0) {
            const double f = static_cast<double>(w - chunk.x / 2) / static_cast<double>(total);
            if (f > 0.0 && f < 1.0) {
                voice.seamPositions[voice.seamCount] = static_cast<float>(f);
                voice.seamWidths[voice.seamCount] = static_cast<float>(static_cast<double>(chunk.x) / total);
                ++voice.seamCount;
            }
        }
        if (voice.spliceCount < kVoiceMaxSplices) voice.splices[voice.spliceCount++] = chunk;
        w += static_cast<std::int64_t>(std::max(0, chunk.l)) - std::max(0, chunk.x);
    }
    return true;
}

}  // namespace korvel
