#pragma once
// The playback engine: rendered voices ready to mix, the mixer settings, the
// reverb, the output limiter, the meters, the play position and a one-shot
// audition preview. A plain record with free functions.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "dsp/limiter.h"
#include "dsp/reverb.h"
#include "playback/mixer_publishing.h"
#include "project/event.h"
#include "project/layer.h"

namespace korvel {

inline constexpr int kVoiceOverviewBins = 2048;
inline constexpr int kVoiceMaxSeams = 256;
inline constexpr int kVoiceMaxSplices = 65;
// The send and return buffers bound the reverb to this many frames a block.
inline constexpr int kReverbBlockFrames = 4096;

// The audio thread reads and advances the play position without a lock.
static_assert(std::atomic<std::int64_t>::is_always_lock_free);

// One rendered layer.
struct Voice {
    std::vector<float> samplesL;  // left, or the mono signal
    std::vector<float> samplesR;  // right; used only when it holds frameCount samples
    bool stereo = false;
    float startTime = 0.0f;  // the layer's startTime plus its deconOffset, seconds
    float duration = 0.0f;   // seconds
    std::int32_t frameCount = 0;
    float gain = 1.0f;      // after per-event normalisation
    float baseGain = 1.0f;  // before it; a full normalisation starts again here
    float normGain = 1.0f;
    float eventGain = 1.0f;
    float azimuth = 0.0f;  // radians, positive to the left
    float height = 0.0f;   // radians
    float width = 0.0f;    // radians, spread of a stereo voice
    std::int32_t group = 0;
    bool muted = false;
    std::int32_t eventIndex = -1;
    std::array<float, kVoiceOverviewBins> overviewPeak = {};
    std::array<float, kVoiceOverviewBins> overviewRms = {};
    std::int32_t resultIndex = -1;  // -1 when the layer is gone
    std::int32_t resultId = 0;      // the layer's id: voices are re-matched by it
    std::array<float, kFillGainPoints> fillGain = {};
    bool hasFillGain = false;
    float fillGainSpan = 0.0f;  // seconds the fillGain points span; 0 = the voice's duration
    CurvePoints intGain = {};
    bool hasIntGain = false;
    std::array<float, kDeconGainPoints> deconGain = {};
    bool hasDeconGain = false;
    std::array<float, kVoiceMaxSeams> seamPositions = {};  // fractions of the voice's length
    std::array<float, kVoiceMaxSeams> seamWidths = {};
    std::int32_t seamCount = 0;
    std::array<FillChunk, kVoiceMaxSplices> splices = {};
    std::int32_t spliceCount = 0;
    // The owning event's intensity curve, for Fill layers; empty = no curve.
    // An immutable copy shared by handle, so that edits that grow, shrink or
    // reorder Project::events never leave the audio thread reading freed
    // memory. Writers replace it only under the voice lock; the audio thread
    // reads through it without copying the handle, so it never drops the
    // last reference (and never frees).
    std::shared_ptr<const CurvePoints> eventCurve;
    std::int32_t eventCurveLength = 0;  // kCurvePoints when set
    bool eventCurveIsBed = false;
    float intensityScale = 1.0f;
    float reverbSend = -1.0f;  // negative: the group's send
    bool unloaded = false;     // samples released to save memory; not mixed
    // The samples carry their own fades (a bounce of other voices, whose
    // fades are in it): the mix adds none.
    bool ownFades = false;
};

// One audition preview: mono samples at their own rate. Immutable once
// published.
struct PreviewBuffer {
    std::vector<float> samples;
    std::int32_t rate = 48000;
};

// A preview replaced while the audio thread may still be reading it: freed
// once blocksFinished exceeds `blockMark`, or when no block is under way.
struct RetiredPreview {
    std::unique_ptr<const PreviewBuffer> buffer;
    std::uint64_t blockMark = 0;
};

// Mixer settings are single values the UI thread writes and the audio thread
// reads without a lock; a change takes effect with the next block. The reverb
// settings, a whole record, are published instead (mixer_publishing.h).
// About 1.5 MiB (the reverb state): never construct one on a thread's stack.
struct PlaybackEngine {
    std::vector<Voice> voices;  // one per rendered layer, in render order
    std::vector<float> voiceFadeIns;   // seconds, same index as voices
    std::vector<float> voiceFadeOuts;  // seconds, same index as voices
    // Guards voices and both fade lists. The UI, the background job and the
    // export take it; the audio thread only tries it and plays silence for
    // the block when it fails. Writers store false in `ready` first.
    std::mutex voiceMutex;
    // Guards the voice list's storage and the voices' identities (order,
    // resultIndex) against a reader that does not take voiceMutex: the UI
    // draws voices while holding only this, since holding voiceMutex for a
    // frame's drawing would cost the audio thread whole blocks. A thread that
    // replaces, grows, compacts or re-matches the list takes it before
    // voiceMutex (VoiceListEdit). The audio thread never takes it.
    std::mutex voiceStorageMutex;
    // Frames at sampleRate. The audio thread advances it; a locate replaces
    // it by exchange from any thread.
    std::atomic<std::int64_t> position{0};
    std::atomic<bool> playing{false};  // transport; the audio output clears it while reopening
    float rampGain = 0.0f;             // audio thread only
    std::atomic<bool> ready{false};    // the voice list is complete and may be mixed
    std::atomic<std::int32_t> voiceCount{0};
    std::atomic<std::int32_t> voicesRendered{0};  // progress of a full rebuild
    std::int32_t revision = 0;
    float masterGain = 1.0f;
    // The voice auditioned alone, -1 none. Stored atomically: the timeline
    // and the events list write it, and the mixer's copy follows by
    // PublishMixerSettings.
    std::atomic<std::int32_t> soloVoice{-1};
    // masterGain and the group and master controls belong to the UI thread;
    // each change reaches the mixer by PublishMixerSettings.
    std::array<float, kTrackGroupCount> groupGain = {1.0f, 1.0f, 1.0f};
    std::array<bool, kTrackGroupCount> groupMute = {};
    std::array<bool, kTrackGroupCount> groupSolo = {};
    bool refMute = false;
    bool masterMute = false;
    std::array<float, kTrackGroupCount> groupTargetLUFS = {-48.0f, -16.0f, -25.0f};
    bool normalizeLUFS = true;
    float refGain = 1.0f;
    float streamWindowSeconds = 30.0f;
    // Audition preview. Each preview is a new immutable buffer published by
    // pointer: the audio thread reads only the published one and never frees.
    // The UI thread owns every buffer (previewOwned, previewRetired) and frees
    // a retired one only once blocksFinished shows that a whole block ran
    // after the swap. A writer stores 0 in previewEnd first and publishes the
    // new length last; the audio thread bounds every read by the buffer it
    // loaded, so a length from one preview never reads past another.
    std::atomic<const PreviewBuffer*> preview{nullptr};
    std::atomic<std::int32_t> previewPos{0};  // output frames; audio thread writes
    std::atomic<std::int32_t> previewEnd{0};  // output frames; 0 = stopped
    std::unique_ptr<const PreviewBuffer> previewOwned;  // UI thread: the published buffer
    std::vector<RetiredPreview> previewRetired;         // UI thread: awaiting a finished block
    // Blocks the audio thread has begun and finished (every block, busy or
    // idle ones too): equal counts mean it is inside none, so a retired
    // preview can go at once (no stream, or between blocks).
    std::atomic<std::uint64_t> blocksStarted{0};
    std::atomic<std::uint64_t> blocksFinished{0};
    // The UI thread's reverb settings; the mixer never reads them. Each
    // change is handed over by PublishReverbSettings.
    ReverbSettings reverb;
    ReverbSettingsMailbox reverbMailbox;
    // What the mixer runs the reverb with: audio thread only, refreshed by
    // ApplyPendingReverbChanges between blocks.
    ReverbSettings mixReverb;
    MixerSettingsMailbox mixerMailbox;
    MixerSettings mix;  // audio thread only: refreshed by ApplyPendingMixerChanges
    // Prepared by ResetReverb before the first block; resets and clears from
    // other threads go through reverbRequests so they land between blocks.
    ReverbState reverbState;
    ReverbRequests reverbRequests;
    std::array<float, kReverbBlockFrames> sendL = {};
    std::array<float, kReverbBlockFrames> sendR = {};
    std::array<float, kReverbBlockFrames> returnL = {};
    std::array<float, kReverbBlockFrames> returnR = {};
    float limiterEnvelope = 0.0f;
    LimiterSettings limiter;  // threshold 0.85; coefficients 0 until prepared
    // Written by the audio thread each block, read by the UI's meters.
    std::atomic<float> peakL{0.0f};
    std::atomic<float> peakR{0.0f};
    std::array<float, kTrackGroupCount> groupPeakL = {};
    std::array<float, kTrackGroupCount> groupPeakR = {};
    // Display meters: the mixer view's, UI thread only.
    float meterLevelL = 0.0f;
    float meterLevelR = 0.0f;
    std::array<float, kTrackGroupCount> groupMeterLevelL = {};
    std::array<float, kTrackGroupCount> groupMeterLevelR = {};
    float meterHoldL = 0.0f;
    float meterHoldR = 0.0f;
    std::array<float, kTrackGroupCount> groupMeterHoldL = {};
    std::array<float, kTrackGroupCount> groupMeterHoldR = {};
    float meterHoldTimer = 0.0f;
    std::array<float, kTrackGroupCount> groupMeterHoldTimer = {};
    std::int32_t sampleRate = 48000;
    // The rate the audio thread mixes at: stored with sampleRate by
    // PrepareVoices and SetPlaybackSampleRate, loaded once per block.
    std::atomic<std::int32_t> mixSampleRate{48000};
};
static_assert(kTrackGroupCount == 3, "MixerSettings holds three groups");

// The engine of live playback and of every export. Its settings belong to
// the UI thread; the voice list to whoever holds voiceMutex; the audio thread
// owns rampGain, the limiter envelope, the send and return buffers and the
// peaks, and reads the rest as the members above say.
extern PlaybackEngine LivePlaybackEngine;

// Empties the engine for a full rebuild at `sampleRate` and reserves room for
// `capacity` voices (256 when 0 or less). Leaves `ready` false. Takes both
// voice locks; the caller must hold neither.
void PrepareVoices(PlaybackEngine& engine, int sampleRate, int capacity);

// Sets sampleRate and the rate the audio thread mixes at, outside a rebuild
// (start-up, project open). Prepares the limiter for it.
void SetPlaybackSampleRate(PlaybackEngine& engine, int sampleRate);

// Moves the play position to `seconds` (truncated to a frame, clamped to the
// position's range) and asks the audio thread to silence the reverb tail
// before its next block. Any thread.
void LocatePlayback(PlaybackEngine& engine, double seconds);

// The play position in seconds; 0 while the rate is below 1.
double GetPlaybackTime(const PlaybackEngine& engine);

// Moves a playhead (seconds) by `frames` video frames at `fps`, kept within
// 0 .. max(duration, 0). A step that is not finite (fps 0) leaves it.
void StepPlayheadFrames(float& playhead, float fps, float duration, int frames);

// Appends a rendered voice with its fade lengths (seconds) and updates
// voiceCount. Takes voiceMutex, and first the storage lock when the list
// must grow; the caller must hold neither.
void AppendVoice(PlaybackEngine& engine, Voice voice, float fadeIn, float fadeOut);

// Both voice locks, storage first: for writers that move voices or change
// which layer a voice stands for.
struct VoiceListEdit {
    explicit VoiceListEdit(PlaybackEngine& engine) : storage(engine.voiceStorageMutex), voices(engine.voiceMutex) {}
    std::lock_guard<std::mutex> storage;
    std::lock_guard<std::mutex> voices;
};

// Keeps, in order, the voices for which keep(voice) is true, moving each
// kept voice's fade entries with it, and updates voiceCount. The caller
// holds a VoiceListEdit (removals come with other edits under the same lock).
template <typename Keep>
void CompactVoicesLocked(PlaybackEngine& engine, Keep keep);

// Audition preview, UI thread. Starting publishes `samples` (mono at `rate`)
// as a new buffer and runs it from its start; nothing starts (false) when
// `rate` is below 1 or there are no samples. Stopping only ends it.
bool StartPreview(PlaybackEngine& engine, std::vector<float> samples, int rate);
void StopPreview(PlaybackEngine& engine);
bool IsPreviewRunning(const PlaybackEngine& engine);
// Frees retired previews the audio thread can no longer be reading.
void CollectRetiredPreviews(PlaybackEngine& engine);

// Sets the six reverb parameters from `settings.macro` (clamped to 0..1) by
// interpolating between the mixer's five presets.
void ApplyReverbMacro(ReverbSettings& settings);

// The mixer view's display meters, once per drawn frame `dt` seconds after
// the last: levels follow the block peaks (0 while not playing) with 15 ms
// attack and 280 ms release; holds keep a higher peak for 1.5 s, then fall
// with the release. UI thread.
void UpdateMixerMeters(PlaybackEngine& engine, float dt);

template <typename Keep>
void CompactVoicesLocked(PlaybackEngine& engine, Keep keep) {
    std::size_t kept = 0;
    for (std::size_t j = 0; j < engine.voices.size(); ++j) {
        if (!keep(engine.voices[j])) continue;
        if (kept != j) {
            engine.voices[kept] = std::move(engine.voices[j]);
            if (j < engine.voiceFadeIns.size()) engine.voiceFadeIns[kept] = engine.voiceFadeIns[j];
            if (j < engine.voiceFadeOuts.size()) engine.voiceFadeOuts[kept] = engine.voiceFadeOuts[j];
        }
        ++kept;
    }
    engine.voices.resize(kept);
    if (engine.voiceFadeIns.size() > kept) engine.voiceFadeIns.resize(kept);
    if (engine.voiceFadeOuts.size() > kept) engine.voiceFadeOuts.resize(kept);
    engine.voiceCount.store(static_cast<std::int32_t>(kept), std::memory_order_release);
}

}  // namespace korvel
