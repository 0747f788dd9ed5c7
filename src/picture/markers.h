#pragma once
// Markers and scenes imported from a Pro Tools session text.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "project/event.h"

namespace korvel {

struct MarkerEvent {
    std::int32_t kind = KindValue(EventKind::Spot);  // Spot or Bloom
    float time = 0.0f;          // seconds on the timeline
    float duration = 3.0f;      // seconds
    float weightCenter = 0.3f;  // the band word's value when one is given
    float spread = -1.0f;       // -1: keep the event's default
    float gain = -1.0f;         // -1: 1.0
    float syncFraction = -1.0f; // of the duration; -1: keep the default
    char keywords[128] = {};
    char name[128] = {};
    char recipeName[64] = {};
    bool enabled = true;
    bool otherKindWord = false;  // the name held a kind word markers cannot take
};

struct MarkerScene {
    float time = 0.0f;  // seconds
    char name[64] = {};
    char text[128] = {};
};

// What a read of a session text left out, for the import's status line.
struct MarkerReadReport {
    bool read = false;         // the file's bytes were read
    bool sessionText = false;  // they hold a session header or a marker listing
    int skippedRows = 0;       // rows without a usable time: Bars|Beats or Feet+Frames only, malformed, past 24 h
    int damagedRows = 0;       // rows a tab inside a name or comment split beyond their columns
};

// Empties `markers` (and `scenes` when given) and fills them from the marker
// listing of a Pro Tools session text export at `path` (UTF-8). `fps` is the
// project's frame rate (25 when it is not above 0); the file's own
// "TIMECODE FORMAT:" replaces it. Times count from the session start.
// `recipeNames` are every recipe's name in list order. An unreadable file
// leaves both outputs empty; nothing is printed, except one bracketed line
// for a file over kSessionTextLimit or one that runs out of memory.
// `report`, when given, says what was left out.
inline constexpr std::uint64_t kSessionTextLimit = 64u << 20;
void ImportProToolsMarkers(const std::string& path, float fps, std::vector<MarkerEvent>& markers,
                           std::vector<MarkerScene>* scenes, const std::vector<std::string>& recipeNames,
                           MarkerReadReport* report = nullptr);

// The same reader over the file's bytes. Text that is not valid UTF-8 is
// taken as the Mac Roman of Pro Tools' "TextEdit" export and converted.
void ReadProToolsMarkerText(std::string_view bytes, float fps, std::vector<MarkerEvent>& markers,
                            std::vector<MarkerScene>* scenes, const std::vector<std::string>& recipeNames,
                            MarkerReadReport* report = nullptr);

// The status line after an import of `path` that gave `imported` markers and
// scenes: the file that was not a session text, or the rows left out; empty
// when there is nothing to say. Shown for kMarkerStatusSeconds.
inline constexpr float kMarkerStatusSeconds = 5.0f;
std::string MarkerImportStatus(const MarkerReadReport& report, std::size_t imported, const std::string& path);

// Fills kind, weightCenter, keywords, recipeName and otherKindWord from a
// marker's name: a recipe name before a comma, the kind words, the band words
// and the remaining words as keywords.
void ParseMarkerText(std::string_view text, const std::vector<std::string>& recipeNames, MarkerEvent& marker);

// ASCII letters lower-cased; every other byte (UTF-8 included) unchanged, so
// the result does not depend on the locale.
std::string LowerCaseString(std::string_view text);

// Removes spaces, tabs, carriage returns and line feeds from both ends.
std::string TrimWhitespace(std::string_view text);

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or
// code points past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Mac Roman bytes as UTF-8.
std::string MacRomanToUtf8(std::string_view bytes);

}  // namespace korvel
