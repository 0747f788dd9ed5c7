#pragma once
// One kind of WAV output of the built project, rendered offline from the
// engine's voices over the exported range and written as 24-bit Broadcast
// WAVE: the mixdown, one stem per track group, one file per track, or one
// file per layer, and the reverb bus as a stem when asked. Export thread.
#include <cstdint>
#include <string>
#include <vector>

#include "playback/export_job.h"
#include "playback/output_layout.h"

namespace korvel {

struct PlaybackEngine;
struct LayerResult;
struct TrackLayout;

// The number of files written and kept (the reverb stem included); 0 when
// there was nothing to write or the call failed. `rolledBack`, when given,
// is set when the call failed and removed what it had written.
std::int32_t ExportWAV(const std::string& outputFolder, const std::vector<LayerResult>& results,
                       const PlaybackEngine& engine, int sampleRate, const TrackLayout& trackLayout, float duration,
                       const ExportWavOptions& options, float rangeStart, float rangeEnd,
                       bool* rolledBack = nullptr);

// A name made safe for a file name: '/', ':' and '\' become '_'.
std::string SanitizeExportName(const std::string& name);

// Loudness position weights of a speaker layout's channels (LFE 0, the
// ear-level surrounds between 60° and 120° about 1.41, the rest 1).
std::vector<float> LayoutLoudnessWeights(const OutputLayout& layout);

}  // namespace korvel
