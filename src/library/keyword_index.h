#pragma once
// The library's word index, which completes keywords as the designer types,
// and the per-path index of the library files' channel facts.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace korvel {

struct Library;

// Lets string-keyed maps be searched with a string_view, without building a
// std::string per lookup.
struct StringViewHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};

struct KeywordEntry {
    std::string word;        // lower case
    std::string commonForm;  // the spelling seen most often, as written
    int32_t count = 0;       // occurrences over all indexed texts
};

struct KeywordIndex {
    std::vector<KeywordEntry> entries;  // sorted by word, byte order
    bool dirty = true;
};

// One completion. commonForm points into the index and is valid until the
// index is rebuilt.
struct KeywordSuggestion {
    std::string_view commonForm;
    int32_t count = 0;
};

// Word counts gathered while the keyword index is rebuilt.
struct KeywordIndexBuilder {
    struct Tally {
        int32_t count = 0;
        // Written forms in the order first met, so the earliest wins a tie.
        std::vector<std::pair<std::string, int32_t>> forms;
    };
    std::unordered_map<std::string, Tally, StringViewHash, std::equal_to<>> words;
};

// Adds the words of a text to the counts of a rebuild.
void IndexNameWords(KeywordIndexBuilder& builder, const char* text, size_t length);

// Rebuilds the index from the names, last three path components and
// descriptions of the files of the enabled palettes; clears the dirty flag.
void RebuildKeywordIndex(KeywordIndex& index, const Library& library);

// Replaces out with up to n completions of the prefix (case-insensitive),
// the most frequent first; a word equal to the prefix is not offered.
void SuggestKeywords(const KeywordIndex& index, std::string_view prefix,
                     std::vector<KeywordSuggestion>& out, int32_t n);

struct LibraryFileFacts {
    int32_t channels = 0;
    int32_t layoutClass = -1;
    uint64_t mmGroup = 0;
    int32_t mmMember = -1;
};

using LibraryFileIndex =
    std::unordered_map<std::string, LibraryFileFacts, StringViewHash, std::equal_to<>>;

// Refills the library's file index from every palette, enabled or not, when
// fileIndexDirty is set; a later palette wins for a path held twice.
void RebuildFileIndex(Library& library);

}  // namespace korvel
