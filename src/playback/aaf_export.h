#pragma once
// The AAF export: the built layers written as one mono Broadcast WAVE
// essence file per clip channel, placed on AAF tracks with handles, fades,
// clip gain and gain automation, with optional markers and reverb return,
// and the AAF file that references them. Export thread.
//
// Nothing is replaced until everything is written: essence files and the
// AAF file go to temporary names through the call's ExportRollback and are
// moved into place together once the AAF file is complete, so a failed
// export leaves an earlier one of the same name as it was.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "library/channel_map.h"
#include "playback/aaf_writer.h"
#include "playback/export_job.h"

namespace korvel {

struct Event;
struct LayerResult;
struct PlaybackEngine;
struct ReverbSettings;
struct UserShape;

// What one export handed to the writer, for callers that look at it (tests).
struct AAFExportOutput {
    std::string aafPath;
    std::string essenceFolder;
    AAFClipList clips;
    std::vector<std::string> trackNames;
    std::vector<AAFMarker> markers;
    bool sharedWriter = false;  // WriteAAFSessionShared rather than WriteAAFSession
};

// True when the AAF file was written and every file moved into place.
// `groupGain`: the faders the reverb return's sends carry (an export's,
// taken as it started); null: the engine's own.
bool ExportAAF(const ExportRequest& request, const std::vector<LayerResult>& results, const PlaybackEngine& engine,
               const std::vector<Event>& events, const std::vector<UserShape>& userShapes,
               const ReverbSettings& reverb, AAFExportOutput* output = nullptr,
               const std::array<float, kTrackGroupCount>* groupGain = nullptr);

// The export job's AAF step: ExportAAF over CurrentProject and
// LivePlaybackEngine with the mixer the export took as it started.
bool ExportAAFForJob(const ExportRequest& request, const ExportMix& mix);

// The export's base name: the request's, else the output folder's last
// component, else "Korvel"; made safe for a file name.
std::string AAFExportBaseName(const ExportRequest& request);

// Range-only export is on when rangeStart >= 0 and rangeEnd > rangeStart;
// then a layer counts when it overlaps the range by any amount (it is never
// cut to it).
bool IsInExportRange(const LayerResult& layer, float rangeStart, float rangeEnd);

// s rounded to the nearest video frame when snapping is on and a frame is
// at least one sample long; otherwise s.
std::int64_t SnapToVideoFrame(std::int64_t s, bool snapToFrames, std::int32_t sampleRate, float fps);

// ".L", ".R", ... by the channel's speaker role; "." and the channel number
// for channels without a role or outside the map; empty for mono maps.
std::string ChannelRoleSuffix(const ChannelMap& map, int channel);

// A layer name with the characters file systems refuse replaced by "_".
std::string AAFClipName(const std::string& layerName);

// An essence file name: track tag, layer index, "src_" for whole source
// files, clip name, channel suffix and ".wav". Only the clip name is cut
// (at a character boundary) so that the name and its temporary stay within
// 255 bytes; the tag is cut only when it alone is too long.
std::string AAFEssenceName(const std::string& trackTag, std::int32_t layerIndex, bool wholeSource,
                           const std::string& clipName, const std::string& suffix);

}  // namespace korvel
