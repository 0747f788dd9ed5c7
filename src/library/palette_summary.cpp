// Palette summaries: count, spectral balance, typical length, sound words
// and channel layouts.
#include "library/palette_summary.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "library/channel_layout.h"
#include "library/channel_map.h"
#include "library/library.h"
#include "library/name_words.h"
#include "project/app_state.h"

namespace korvel {

namespace {

constexpr std::array<const char*, 5> kBandWords = {"sub-heavy", "low-end", "mid-range", "bright",
                                                   "airy"};

void AppendBalance(const Palette& palette, std::string& summary) {
    const float n = static_cast<float>(palette.files.size());
    std::array<float, 5> average{};
    for (int b = 0; b < 5; ++b) {
        float sum = 0.0f;
        for (const LibraryFile& file : palette.files) sum += file.bandEnergies[b];
        average[b] = sum / n;
    }
    const float m = *std::max_element(average.begin(), average.end());
    if (m <= 0.000001f) return;
    for (float& v : average) v /= m;

    if (*std::min_element(average.begin(), average.end()) > 0.7f) {
        summary += kSummarySeparator;
        summary += "balanced";
        return;
    }
    const int u = static_cast<int>(std::max_element(average.begin(), average.end()) - average.begin());
    summary += kSummarySeparator;
    summary += kBandWords[u];
    for (int b = 0; b < 5; ++b) {
        if (b != u && average[b] > 0.6f && std::abs(b - u) >= 2) {
            summary += " and ";
            summary += kBandWords[b];
            break;
        }
    }
}

void AppendLength(const Palette& palette, std::string& summary) {
    struct Entry {
        const char* word;
        int count;
    };
    std::array<Entry, 3> entries = {{{"transient", 0}, {"medium", 0}, {"sustained", 0}}};
    for (const LibraryFile& file : palette.files) {
        if (file.duration < 0.5f) ++entries[0].count;
        else if (file.duration < 3.0f) ++entries[1].count;
        else ++entries[2].count;  // also a duration that is not a number
    }
    // The exchange order settles ties the same way every time: an entry only
    // moves ahead of one with a strictly smaller count.
    for (int i = 0; i < 2; ++i)
        for (int j = i + 1; j < 3; ++j)
            if (entries[i].count < entries[j].count) std::swap(entries[i], entries[j]);

    const double n = static_cast<double>(palette.files.size());
    if (entries[0].count <= 0) return;
    summary += kSummarySeparator;
    if (entries[0].count / n > 0.65) summary += "mostly ";
    summary += entries[0].word;
    if (entries[1].count / n > 0.25) {
        summary += ", ";
        summary += entries[1].word;
    }
}

void AppendWords(Palette& palette, std::string& summary) {
    std::unordered_map<std::string, int32_t> counts;
    for (const LibraryFile& file : palette.files) {
        CountVocabularyWords(counts, file.name.data(), file.name.size());
        if (!file.description.empty())
            CountVocabularyWords(counts, file.description.data(), file.description.size());
    }
    palette.keywordSummary.clear();
    if (counts.empty()) return;

    std::vector<std::pair<std::string, int32_t>> words(counts.begin(), counts.end());
    const size_t k = std::min<size_t>(4, words.size());
    // Equal counts fall back to alphabetical order so the text is stable.
    std::partial_sort(words.begin(), words.begin() + k, words.end(),
                      [](const auto& a, const auto& b) {
                          return a.second != b.second ? a.second > b.second : a.first < b.first;
                      });
    const int32_t threshold = std::max<int32_t>(2, static_cast<int32_t>(palette.files.size() / 20));
    if (words[0].second < threshold) return;
    for (size_t i = 0; i < k && words[i].second >= threshold; ++i) {
        if (i > 0) palette.keywordSummary += ", ";
        palette.keywordSummary += words[i].first;
    }
    summary += kSummarySeparator;
    summary += palette.keywordSummary;
}

}  // namespace

std::string FormatFileCount(int count) {
    char text[32];
    if (count < 1000)
        std::snprintf(text, sizeof text, "%d", count);
    else if (count < 1000000)
        std::snprintf(text, sizeof text, "%d,%03d", count / 1000, count % 1000);
    else
        std::snprintf(text, sizeof text, "%d,%03d,%03d", count / 1000000, (count / 1000) % 1000,
                      count % 1000);
    return text;
}

void SummarizePalette(Palette& palette) {
    SummarizePalette(palette, GlobalAppState.channelOrderFallback);
}

void SummarizePalette(Palette& palette, int32_t channelOrderFallback) {
    palette.summary.clear();
    SummarizePaletteLayouts(palette, channelOrderFallback);
    if (palette.files.empty()) return;

    std::string summary = FormatFileCount(static_cast<int>(palette.files.size())) + " files";
    AppendBalance(palette, summary);
    AppendLength(palette, summary);
    AppendWords(palette, summary);
    palette.summary = std::move(summary);
}

void SummarizePaletteLayouts(Palette& palette) {
    SummarizePaletteLayouts(palette, GlobalAppState.channelOrderFallback);
}

void SummarizePaletteLayouts(Palette& palette, int32_t channelOrderFallback) {
    palette.layoutSummary.clear();
    std::array<int, 11> perClass{};
    int multi = 0;
    // Files without a stored class are classified from their channel count
    // alone, so one answer per count serves the whole palette.
    std::map<int32_t, int32_t> classOfCount;
    for (const LibraryFile& file : palette.files) {
        int32_t layout = file.layoutClass;
        if (layout == -1) {
            auto found = classOfCount.find(file.channels);
            if (found == classOfCount.end()) {
                const ChannelMap map = BuildChannelMap(nullptr, file.channels, channelOrderFallback, 0);
                found = classOfCount.emplace(file.channels, ClassifyChannelLayout(file.channels, map))
                            .first;
            }
            layout = found->second;
        }
        if (layout == 0) {
            if (file.channels <= 2) ++perClass[1];
            else ++multi;
        } else if (layout >= 1 && layout <= 10) {
            ++perClass[layout];
        }
    }

    std::string text;
    for (int c = 1; c <= 10; ++c) {
        if (perClass[c] <= 0) continue;
        if (!text.empty()) text += kSummarySeparator;
        text += std::to_string(perClass[c]) + " " + ChannelLayoutName(c, 0);
    }
    if (multi > 0) {
        if (!text.empty()) text += kSummarySeparator;
        text += std::to_string(multi) + " multi";
    }
    palette.layoutSummary = std::move(text);
}

}  // namespace korvel
