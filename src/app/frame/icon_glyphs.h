#pragma once
// Glyphs of the merged icon font (fonts.cpp), as UTF-8, named by what they
// show. Every panel, the inspector, the timeline and the transport draw from
// this one table.

namespace korvel::icon {

inline constexpr const char* kToggleOn = "\xEF\x88\x85";     // U+F205
inline constexpr const char* kToggleOff = "\xEF\x88\x84";    // U+F204
inline constexpr const char* kPen = "\xEF\x8C\x83";          // U+F303
inline constexpr const char* kRotate = "\xEF\x80\xA1";       // U+F021
inline constexpr const char* kFolder = "\xEF\x81\xBB";       // U+F07B
inline constexpr const char* kLayers = "\xEF\x9A\x82";       // U+F682
inline constexpr const char* kUnlink = "\xEF\x84\xA7";       // U+F127
inline constexpr const char* kTrash = "\xEF\x87\xB8";        // U+F1F8
inline constexpr const char* kEllipsis = "\xEF\x85\x82";     // U+F142
inline constexpr const char* kClose = "\xEF\x80\x8D";        // U+F00D
inline constexpr const char* kFolderPlus = "\xEF\x99\x9E";   // U+F65E
inline constexpr const char* kPaletteSave = "\xEF\x8E\xA5";  // U+F3A5
inline constexpr const char* kFilter = "\xEE\x94\x9E";       // U+E51E
inline constexpr const char* kLocked = "\xEF\x80\xA3";       // U+F023
inline constexpr const char* kUnlocked = "\xEF\x82\x9C";     // U+F09C
inline constexpr const char* kMusic = "\xEF\x80\x81";        // U+F001
inline constexpr const char* kLink = "\xEE\x84\xB1";         // U+E131
inline constexpr const char* kPlus = "\xEF\x81\xA7";         // U+F067
inline constexpr const char* kLinked = "\xEF\x83\x81";       // U+F0C1
inline constexpr const char* kSave = "\xEF\x83\x87";         // U+F0C7
inline constexpr const char* kVolume = "\xEF\x80\xA8";       // U+F028
inline constexpr const char* kVolumeMute = "\xEF\x9A\xA9";   // U+F6A9
inline constexpr const char* kChevronLeft = "\xEF\x81\x93";  // U+F053
inline constexpr const char* kChevronRight = "\xEF\x81\x94"; // U+F054
inline constexpr const char* kThumbsUp = "\xEF\x85\xA4";     // U+F164
inline constexpr const char* kThumbsDown = "\xEF\x85\xA5";   // U+F165
inline constexpr const char* kFilm = "\xEF\x80\x88";         // U+F008
inline constexpr const char* kBullseye = "\xEF\x85\x80";     // U+F140
inline constexpr const char* kPlay = "\xEF\x81\x8B";         // U+F04B
inline constexpr const char* kStop = "\xEF\x81\x8D";         // U+F04D
inline constexpr const char* kArrowDown = "\xEF\x81\xA3";    // U+F063
inline constexpr const char* kCircleDown = "\xEF\x82\xAB";   // U+F0AB
inline constexpr const char* kAtom = "\xEF\x97\x92";         // U+F5D2

}  // namespace korvel::icon
