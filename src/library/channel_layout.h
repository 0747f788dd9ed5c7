#pragma once
// Layout classes of sound files and their names, the per-path channel
// interpretation that every decoding thread reads, and the grouping of
// suffixed mono files (Rain_L, Rain_R ...) into multi-mono groups.
#include <cstdint>
#include <string>
#include <vector>

#include "library/channel_map.h"

namespace korvel {

struct Library;
struct LibraryFile;
struct Palette;

// The layout a file is sorted into; stored in LibraryFile::layoutClass.
using ChannelLayoutClass = int32_t;
inline constexpr ChannelLayoutClass kLayoutNotComputed = -1;
inline constexpr ChannelLayoutClass kLayoutUnknown = 0;  // named by its channel count
inline constexpr ChannelLayoutClass kLayoutMono = 1;
inline constexpr ChannelLayoutClass kLayoutStereo = 2;
inline constexpr ChannelLayoutClass kLayoutLcr = 3;
inline constexpr ChannelLayoutClass kLayoutQuad = 4;
inline constexpr ChannelLayoutClass kLayout50 = 5;
inline constexpr ChannelLayoutClass kLayout51 = 6;
inline constexpr ChannelLayoutClass kLayout71 = 7;
inline constexpr ChannelLayoutClass kLayout712 = 8;
inline constexpr ChannelLayoutClass kLayout714 = 9;
inline constexpr ChannelLayoutClass kLayoutAmbisonic = 10;

// The labels the events tab and the library panel offer, by interpretation.
inline constexpr const char* kChannelInterpretationLabels[4] = {
    "Auto", "Surround", "Discrete (multi-mono)", "Ambisonic"};

ChannelLayoutClass ClassifyChannelLayout(int32_t channels, const ChannelMap& map);

// "mono", "5.1" ...; unknown and out-of-range classes are named by the count
// ("6ch"; "0ch" when the count is not positive).
std::string ChannelLayoutName(int32_t layoutClass, int32_t channels);

// The layout label of a library file for the events tab ("5.1", "4ch",
// "ambisonic" ...); empty when the path is empty or not in the library.
// UI thread: it may rebuild the library's file index.
std::string GetChannelLayoutLabel(Library& library, const std::string& path);

// Refills the per-path interpretation table from the palettes (a file's own
// non-zero value, else its palette's). UI thread, after every change of
// palettes or interpretations.
void RebuildChannelInterpretationMap(const Library& library);

// The effective interpretation of a path; 0 when it has none. Any thread.
ChannelInterpretation GetChannelInterpretation(const std::string& path);

// The channel index (0..11, a ChannelRole code) named by the suffix after
// the stem's last ".", "_" or "-", with `base` set to the text before it;
// -1 (base untouched) when there is no such suffix.
int32_t ParseChannelSuffix(const std::string& stem, std::string& base);

// Sets mmGroup and mmMember of every record: mono files of one folder whose
// names share a base and carry distinct channel suffixes, with equal rate
// and length, form one group whose id is the content hash of folder + base.
void GroupMultiMonoFiles(std::vector<LibraryFile>& files);

// Groups the palette's files as GroupMultiMonoFiles does, or leaves every
// one ungrouped when the palette has grouping turned off.
void GroupPaletteMultiMonoFiles(Palette& palette);

}  // namespace korvel
