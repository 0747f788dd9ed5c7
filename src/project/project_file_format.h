#pragma once
// Constants of the ".kvproj" format shared by its writer and its readers.
#include <cstdint>

namespace korvel {

// The program's version text, written into every project file as "savedBy".
inline constexpr const char* BuildVersion = KORVEL_VERSION;

inline constexpr const char* kProjectFormatTag = "Korvel";
// The format version written, and the newest one this reader understands.
inline constexpr std::int32_t kProjectFormatVersion = 5;
// The oldest reader that loses nothing of what this writer stores.
inline constexpr std::int32_t kProjectMinReaderVersion = 1;
// Files older than this hold alloy events as kind 2 and get converted.
inline constexpr std::int32_t kProjectLegacyBoundary = 2;

// Sample rates a project may run at; anything else opens at the default.
inline constexpr std::int32_t kProjectSampleRates[] = {44100, 48000, 88200, 96000};
inline constexpr std::int32_t kDefaultProjectSampleRate = 48000;

// Frame rates are divisors of every time-to-frame conversion, so a file's
// value is kept within what any picture can have.
inline constexpr float kMinFrameRate = 1.0f;
inline constexpr float kMaxFrameRate = 240.0f;

// Numbers per picture-analysis frame in "optical"."frames".
inline constexpr std::int32_t kFrameMeasureCount = 11;

// The folder beside a project file that holds its collected sounds.
inline constexpr const char* kCollectedAudioFolder = "Audio";

}  // namespace korvel
