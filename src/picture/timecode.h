#pragma once
// Timecode text: the one formatter and reader for every time shown or typed
// as hours:minutes:seconds:frames at the project's frame rate.
//
// Frames are counted at the exact rate and split into fields by the nominal
// rate round(fps) (non-drop), so 23.976, 29.97 and 59.94 show frame numbers
// 0..23, 0..29 and 0..59 and every text below 24 hours reads back to a time
// that formats to the same text. At whole rates this is ordinary timecode.
#include <cstddef>
#include <string_view>

namespace korvel {

// The rate a project's frames step at: a rate not above 0, or not a number,
// reads as 25.
float ProjectFrameRate(float fps);

// Writes "HH:MM:SS:FF" (two digits at least; hours are not wrapped at 24) for
// `seconds` into `buffer` and returns the formatter's character count.
// Negative times print as zero; a rate not above 0 counts as 25.
int FormatTimecode(float fps, float seconds, char* buffer, std::size_t size);

// Reads "H:M:S[:F]" back into seconds, or -1 when fewer than three numbers
// start the text. Fields are clamped to a day (hours 0..23, minutes and
// seconds 0..59, frames 0..round(fps) - 1).
float ParseTimecode(float fps, std::string_view text);

// Reads up to `maxCount` integers separated by single ':' the way "%d:%d:..."
// would (leading blanks and a sign allowed before each), with every value
// clamped to +-1e9 instead of overflowing. Returns how many were read.
int ReadColonIntegers(std::string_view text, long long* values, int maxCount);

}  // namespace korvel
