#include "library/channel_layout.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "library/content_hash.h"
#include "library/keyword_index.h"
#include "library/library.h"
#include "project/app_state.h"

// [SECTION] Layout classes and names
// [SECTION] Channel interpretations
// [SECTION] Multi-mono groups

namespace korvel {

// [SECTION] Layout classes and names

ChannelLayoutClass ClassifyChannelLayout(int32_t channels, const ChannelMap& map) {
    if (map.ambisonic) return kLayoutAmbisonic;
    if (channels <= 0) return kLayoutUnknown;
    if (channels == 1) return kLayoutMono;
    if (channels == 2) return kLayoutStereo;
    if (!map.positional) return kLayoutUnknown;
    switch (channels) {
        case 3: return kLayoutLcr;
        case 4: return kLayoutQuad;
        case 5: return kLayout50;
        case 6: return kLayout51;
        case 8: return kLayout71;
        case 10: return kLayout712;
        case 12: return kLayout714;
        default: return kLayoutUnknown;
    }
}

std::string ChannelLayoutName(int32_t layoutClass, int32_t channels) {
    static const char* const kNames[] = {nullptr, "mono",  "stereo", "LCR",   "quad",     "5.0",
                                         "5.1",   "7.1",   "7.1.2",  "7.1.4", "ambisonic"};
    if (layoutClass >= kLayoutMono && layoutClass <= kLayoutAmbisonic) return kNames[layoutClass];
    char text[16];
    std::snprintf(text, sizeof text, "%dch", channels > 0 ? static_cast<int>(channels) : 0);
    return text;
}

std::string GetChannelLayoutLabel(Library& library, const std::string& path) {
    if (path.empty()) return {};
    RebuildFileIndex(library);
    const auto it = library.fileIndex.find(path);
    if (it == library.fileIndex.end()) return {};
    const LibraryFileFacts& facts = it->second;

    const ChannelInterpretation interpretation = GetChannelInterpretation(path);
    if (interpretation == kInterpretAmbisonic) return "ambisonic";
    if (interpretation == kInterpretDiscrete) return std::to_string(facts.channels) + "ch";
    ChannelLayoutClass layoutClass = facts.layoutClass;
    if (layoutClass == kLayoutNotComputed || interpretation == kInterpretSurround) {
        const ChannelMap map =
            BuildChannelMap(nullptr, facts.channels, GlobalAppState.channelOrderFallback, interpretation);
        layoutClass = ClassifyChannelLayout(facts.channels, map);
    }
    return ChannelLayoutName(layoutClass, facts.channels);
}

// [SECTION] Channel interpretations

namespace {

// Effective non-zero interpretations by exact path. Rebuilt by the UI thread
// and read by the UI, background-job, export and decoding threads, always
// under `lock`, which is held only for a lookup or for swapping the content.
struct InterpretationTable {
    std::mutex lock;
    std::unordered_map<std::string, ChannelInterpretation> byPath;
};
InterpretationTable ChannelInterpretationMap;

}  // namespace

void RebuildChannelInterpretationMap(const Library& library) {
    std::unordered_map<std::string, ChannelInterpretation> fresh;
    for (const Palette& palette : library.palettes) {
        for (const LibraryFile& file : palette.files) {
            const ChannelInterpretation value =
                file.interpretation != kInterpretAuto ? file.interpretation : palette.paletteInterpret;
            if (value != kInterpretAuto) {
                fresh[file.path] = value;
            }
        }
    }
    {
        std::lock_guard<std::mutex> hold(ChannelInterpretationMap.lock);
        ChannelInterpretationMap.byPath.swap(fresh);
    }
    // The old content is freed here, after the lock is released.
}

ChannelInterpretation GetChannelInterpretation(const std::string& path) {
    if (path.empty()) return kInterpretAuto;
    std::lock_guard<std::mutex> hold(ChannelInterpretationMap.lock);
    const auto it = ChannelInterpretationMap.byPath.find(path);
    return it == ChannelInterpretationMap.byPath.end() ? kInterpretAuto : it->second;
}

// [SECTION] Multi-mono groups

int32_t ParseChannelSuffix(const std::string& stem, std::string& base) {
    static const std::pair<const char*, int32_t> kSuffixes[] = {
        {"L", 0},   {"R", 1},   {"C", 2},   {"LFE", 3},  {"LS", 4},   {"RS", 5},
        {"LRS", 6}, {"RRS", 7}, {"LTF", 8}, {"RTF", 9}, {"LTR", 10}, {"RTR", 11},
    };
    if (stem.empty()) return -1;
    const size_t sep = stem.find_last_of("._-");
    if (sep == std::string::npos || sep == 0 || sep == stem.size() - 1) return -1;

    std::string suffix = stem.substr(sep + 1);
    // Byte by byte and ASCII only, whatever the locale.
    for (char& c : suffix) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    for (const auto& [text, index] : kSuffixes) {
        if (suffix == text) {
            base = stem.substr(0, sep);
            return index;
        }
    }
    return -1;
}

namespace {

// The folder part of a path without trailing separators; a root stays whole.
std::string ParentFolder(const std::string& path) {
    const size_t sep = path.find_last_of('/');
    if (sep == std::string::npos) return {};
    size_t end = sep;
    while (end > 0 && path[end - 1] == '/') --end;
    if (end == 0) return "/";
    return path.substr(0, end);
}

// Rounds halves away from zero; nothing for values no integer can hold, so
// a damaged rate or duration never makes a group valid.
std::optional<int64_t> RoundToInteger(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 9.0e18) return std::nullopt;
    return static_cast<int64_t>(std::llround(value));
}

struct GroupMember {
    LibraryFile* file;
    int32_t index;
};

bool IsValidGroup(const std::vector<GroupMember>& members) {
    const LibraryFile& first = *members.front().file;
    const auto rate0 = RoundToInteger(first.sampleRate);
    const auto frames0 =
        RoundToInteger(static_cast<double>(first.duration) * static_cast<double>(first.sampleRate));
    if (!rate0 || !frames0 || *rate0 < 1 || *frames0 < 1) return false;
    bool seen[12] = {};
    for (const GroupMember& m : members) {
        const auto rate = RoundToInteger(m.file->sampleRate);
        const auto frames = RoundToInteger(static_cast<double>(m.file->duration) *
                                           static_cast<double>(m.file->sampleRate));
        if (rate != rate0 || frames != frames0) return false;
        if (seen[m.index]) return false;
        seen[m.index] = true;
    }
    return true;
}

}  // namespace

void GroupMultiMonoFiles(std::vector<LibraryFile>& files) {
    // Ordered by key so groups are formed the same way on every run.
    std::map<std::string, std::vector<GroupMember>> candidates;
    std::string base;
    for (LibraryFile& file : files) {
        file.mmGroup = 0;
        file.mmMember = -1;
        if (file.channels != 1) continue;
        const int32_t index = ParseChannelSuffix(file.name, base);
        if (index < 0) continue;
        candidates[ParentFolder(file.path) + '\n' + base].push_back({&file, index});
    }
    for (const auto& [key, members] : candidates) {
        if (members.size() < 2 || !IsValidGroup(members)) continue;
        const uint64_t id = ContentHash(key);
        for (const GroupMember& m : members) {
            m.file->mmGroup = id;
            m.file->mmMember = m.index;
        }
    }
}

void GroupPaletteMultiMonoFiles(Palette& palette) {
    if (!palette.mmDisableGrouping) {
        GroupMultiMonoFiles(palette.files);
        return;
    }
    for (LibraryFile& file : palette.files) {
        file.mmGroup = 0;
        file.mmMember = -1;
    }
}

}  // namespace korvel
