#pragma once
// The AAF writer: opens a new AAF file through the runtime library, writes a
// source and a master mob per essence file, the composition (one slot per
// AAF track with fillers, dissolves, clips and gain groups) and the marker
// slot, then saves and closes it. Export thread only.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "playback/aaf_api.h"

namespace korvel {

// Clip gain automation: the gain at 64 evenly spaced times over the clip.
struct ClipGainEnvelope {
    std::array<float, 64> points{};
    bool present = false;  // false: the clip has no automation
};

struct AAFMarker {
    std::int64_t position = 0;  // samples, start timecode included
    std::string comment;        // UTF-8
};

// The clips handed to the writer: parallel sequences, one entry per clip.
// The fade, envelope and gain sequences may be shorter (no fade, no
// envelope, gain 1 for the missing entries).
struct AAFClipList {
    std::vector<std::string> essencePaths;
    std::vector<std::string> clipNames;
    std::vector<std::int64_t> positions;
    std::vector<std::int64_t> lengths;
    std::vector<std::int64_t> sourceOffsets;
    std::vector<std::int64_t> sourceLengths;
    std::vector<std::int32_t> tracks;
    std::vector<std::int32_t> fadeIns;
    std::vector<std::int32_t> fadeOuts;
    std::vector<ClipGainEnvelope> envelopes;
    std::vector<float> gains;
};

// The open file's context, filled by OpenAAFFile in this order.
struct AAFWriter {
    IAAFFile* file = nullptr;
    IAAFHeader* header = nullptr;
    IAAFDictionary* dictionary = nullptr;
    IAAFDataDef* soundDataDef = nullptr;
};

// Set once an export has loaded the runtime and registered its plug-ins.
// Export thread only; one export runs at a time.
extern bool AAFPluginsRegistered;
// The runtime library to load; null means the default name beside the
// executable. Export thread only (tests point it elsewhere).
extern const char* AAFRuntimeLibraryPath;

// Timeline slot of the composition's timecode.
inline constexpr aafSlotID_t kAAFTimecodeSlotID = 100;

bool OpenAAFFile(AAFWriter& writer, const std::string& path);
// Releases what the context holds, in reverse order of opening.
void ReleaseAAFWriter(AAFWriter& writer);

// One source mob (WAVE descriptor, network locator, a slot playing nothing)
// and one master mob playing it, both named `clipName`. False with an
// "[AAF] ..." line when a runtime call fails.
bool WriteAAFSourceMobs(IAAFHeader* header, IAAFDictionary* dictionary, IAAFDataDef* sound,
                        const std::string& essencePath, const std::string& clipName, std::int64_t length,
                        std::int32_t sampleRate, aafMobID_t& mobId, IAAFMob*& masterMob);

// The composition mob, added to the header; the caller releases it. Null
// after a failed runtime call (its line printed).
IAAFMob* WriteAAFComposition(AAFWriter& writer, const std::vector<aafMobID_t>& mobIds, const AAFClipList& clips,
                             const std::vector<std::string>& trackNames, std::int32_t sampleRate);

// The marker slot; nothing for an empty list. False after a failed call.
bool WriteAAFMarkers(AAFWriter& writer, IAAFMob* composition, const std::vector<AAFMarker>& markers,
                     std::int32_t sampleRate);

// One source and master mob per clip; clips play their files from sample 0
// without fades.
bool WriteAAFSession(const std::string& aafPath, const AAFClipList& clips, const std::vector<std::string>& trackNames,
                     std::int32_t sampleRate, const std::vector<AAFMarker>& markers);
// One source and master mob per distinct essence path; clips play from
// their source offsets with their fades.
bool WriteAAFSessionShared(const std::string& aafPath, const AAFClipList& clips,
                           const std::vector<std::string>& trackNames, std::int32_t sampleRate,
                           const std::vector<AAFMarker>& markers);

// "file://" and the path with every byte but A-Z a-z 0-9 - . _ ~ / escaped.
std::string MakeFileURL(const std::string& path);
// UTF-8 to UTF-16 units ending with a 0 unit; characters beyond U+FFFF
// become surrogate pairs and each byte that starts no well-formed character
// becomes U+FFFD.
std::u16string Utf8ToAAFString(const std::string& text);
// The same for a file path, except that a byte that starts no well-formed
// character becomes the lone unit U+DC00 + the byte (0xDC80 to 0xDCFF),
// which the runtime turns back into that byte.
std::u16string PathToAAFString(const std::string& path);
// The 44-byte RIFF/WAVE header of a mono 24-bit file of `length` samples.
std::array<std::uint8_t, 44> MakeWaveSummary(std::int64_t length, std::int32_t sampleRate);

}  // namespace korvel
