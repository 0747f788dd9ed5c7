#include "library/keyword_index.h"

#include <algorithm>

#include "library/library.h"
#include "library/name_words.h"

namespace korvel {

namespace {

// Suggestions look at no more than this many matches, and prefixes this long
// or longer are not completed, so the lookup stays cheap in every frame.
constexpr size_t kMaxSuggestionCandidates = 64;
constexpr size_t kMaxPrefixLength = 64;

// Up to three '/'-separated components at the end of a path; the file name
// keeps its extension. Text before the first '/' is never indexed.
void IndexPathTail(KeywordIndexBuilder& builder, std::string_view path) {
    size_t end = path.size();
    for (int component = 0; component < 3 && end > 0; ++component) {
        const size_t slash = path.rfind('/', end - 1);
        if (slash == std::string_view::npos) return;
        if (slash + 1 < end) IndexNameWords(builder, path.data() + slash + 1, end - slash - 1);
        end = slash;
    }
}

}  // namespace

void IndexNameWords(KeywordIndexBuilder& builder, const char* text, size_t length) {
    if (text == nullptr) return;
    ForEachNameWord(std::string_view(text, length), kIndexWordMaxLength,
                    [&](std::string_view written) {
                        char lower[kIndexWordMaxLength];
                        for (size_t k = 0; k < written.size(); ++k) lower[k] = LowerAscii(written[k]);
                        const std::string_view key(lower, written.size());
                        auto it = builder.words.find(key);
                        if (it == builder.words.end())
                            it = builder.words.emplace(std::string(key), KeywordIndexBuilder::Tally{}).first;
                        KeywordIndexBuilder::Tally& tally = it->second;
                        tally.count += 1;
                        for (auto& form : tally.forms) {
                            if (form.first == written) {
                                form.second += 1;
                                return;
                            }
                        }
                        tally.forms.emplace_back(std::string(written), 1);
                    });
}

void RebuildKeywordIndex(KeywordIndex& index, const Library& library) {
    KeywordIndexBuilder builder;
    builder.words.reserve(32768);
    for (const Palette& palette : library.palettes) {
        if (!palette.enabled) continue;
        for (const LibraryFile& file : palette.files) {
            IndexNameWords(builder, file.name.data(), file.name.size());
            IndexPathTail(builder, file.path);
            if (!file.description.empty())
                IndexNameWords(builder, file.description.data(), file.description.size());
        }
    }

    index.entries.clear();
    index.entries.reserve(builder.words.size());
    for (auto& [word, tally] : builder.words) {
        size_t best = 0;
        for (size_t f = 1; f < tally.forms.size(); ++f)
            if (tally.forms[f].second > tally.forms[best].second) best = f;
        KeywordEntry entry;
        entry.word = word;
        entry.commonForm = std::move(tally.forms[best].first);
        entry.count = tally.count;
        index.entries.push_back(std::move(entry));
    }
    std::sort(index.entries.begin(), index.entries.end(),
              [](const KeywordEntry& a, const KeywordEntry& b) { return a.word < b.word; });
    index.dirty = false;
}

void SuggestKeywords(const KeywordIndex& index, std::string_view prefix,
                     std::vector<KeywordSuggestion>& out, int32_t n) {
    out.clear();
    if (prefix.empty() || index.entries.empty() || prefix.size() >= kMaxPrefixLength) return;

    char lowerBuffer[kMaxPrefixLength];
    for (size_t k = 0; k < prefix.size(); ++k) lowerBuffer[k] = LowerAscii(prefix[k]);
    const std::string_view lower(lowerBuffer, prefix.size());

    auto it = std::lower_bound(
        index.entries.begin(), index.entries.end(), lower,
        [](const KeywordEntry& entry, std::string_view key) { return std::string_view(entry.word) < key; });
    const KeywordEntry* candidates[kMaxSuggestionCandidates];
    size_t count = 0;
    for (; it != index.entries.end() && count < kMaxSuggestionCandidates; ++it) {
        const std::string_view word = it->word;
        if (!word.starts_with(lower)) break;
        if (word.size() == lower.size()) continue;  // the typed word itself
        candidates[count++] = &*it;
    }

    const size_t keep = std::min(count, static_cast<size_t>(std::max(n, 0)));
    // Ties keep index order, so equal counts come alphabetically.
    std::partial_sort(candidates, candidates + keep, candidates + count,
                      [](const KeywordEntry* a, const KeywordEntry* b) {
                          if (a->count != b->count) return a->count > b->count;
                          return a < b;
                      });
    out.reserve(keep);
    for (size_t k = 0; k < keep; ++k) out.push_back({candidates[k]->commonForm, candidates[k]->count});
}

void RebuildFileIndex(Library& library) {
    if (!library.fileIndexDirty) return;
    library.fileIndex.clear();
    for (const Palette& palette : library.palettes) {
        for (const LibraryFile& file : palette.files) {
            library.fileIndex[file.path] =
                LibraryFileFacts{file.channels, file.layoutClass, file.mmGroup, file.mmMember};
        }
    }
    library.fileIndexDirty = false;
}

}  // namespace korvel
