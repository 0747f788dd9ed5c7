#pragma once
// The three short texts the library panel shows beside a palette's name,
// computed from its records (never from the sound files).
#include <cstdint>
#include <string>

namespace korvel {

struct Palette;

// Separator between the parts of a summary: blank, middle dot, blank.
inline constexpr const char* kSummarySeparator = " \xC2\xB7 ";

// Sets `summary` and `layoutSummary`; `keywordSummary` only when the palette
// has files. Files without a stored layout class are classified with the
// user's channel-order setting: the scan thread passes the copy it was
// started with; the short forms read the application state (UI thread).
void SummarizePalette(Palette& palette, int32_t channelOrderFallback);
void SummarizePalette(Palette& palette);

// Sets `layoutSummary`: file counts per channel layout.
void SummarizePaletteLayouts(Palette& palette, int32_t channelOrderFallback);
void SummarizePaletteLayouts(Palette& palette);

// The file count as the summary writes it: 999, 1,000, 1,234,567.
std::string FormatFileCount(int count);

}  // namespace korvel
