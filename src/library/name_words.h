#pragma once
// Words of file names, paths and descriptions: the tokenizer every word list
// of the library shares, the fixed sound vocabulary and the category guess
// used to name designed sounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/keyword_query.h"

namespace korvel {

// Longest word the keyword index takes, and the longest the vocabulary count
// looks at (every vocabulary word is shorter).
inline constexpr size_t kIndexWordMaxLength = 30;
inline constexpr size_t kVocabularyWordMaxLength = 29;

namespace name_words_detail {

// Separators of name words; ASCII only, whatever the process locale, so bytes
// of UTF-8 sequences stay inside words.
inline constexpr bool IsSeparator(unsigned char c) {
    switch (c) {
        case 0: case ' ': case '(': case ')': case ',': case '-': case '.':
        case '/': case ';': case '[': case '\\': case ']': case '_':
            return true;
        default:
            return false;
    }
}
inline constexpr bool IsLower(unsigned char c) { return c >= 'a' && c <= 'z'; }
inline constexpr bool IsUpper(unsigned char c) { return c >= 'A' && c <= 'Z'; }

inline bool IsUsableWord(std::string_view word, size_t maxLength) {
    if (word.size() < 2 || word.size() > maxLength) return false;
    for (char c : word)
        if (c < '0' || c > '9') return true;
    return false;  // numbering such as "01" or "2024" is not a word
}

}  // namespace name_words_detail

// Calls onWord(std::string_view) with every word of the text as written (not
// lower-cased). Words break at separators and where a lower-case letter is
// followed by an upper-case one ("doorSLAM" gives "door" and "SLAM"); words
// shorter than 2 bytes, longer than maxLength or made of digits only are
// dropped.
template <typename OnWord>
void ForEachNameWord(std::string_view text, size_t maxLength, OnWord&& onWord) {
    using namespace name_words_detail;
    const size_t length = text.size();
    size_t start = 0;
    unsigned char previous = 0;
    for (size_t i = 0; i <= length; ++i) {
        const bool atEnd = i == length;
        const unsigned char c = atEnd ? 0 : static_cast<unsigned char>(text[i]);
        const bool separator = atEnd || IsSeparator(c);
        const bool caseChange = !atEnd && i > 0 && IsLower(previous) && IsUpper(c);
        if (separator || caseChange) {
            if (i > start) {
                std::string_view word = text.substr(start, i - start);
                if (IsUsableWord(word, maxLength)) onWord(word);
            }
            start = separator ? i + 1 : i;
        }
        previous = c;
    }
}

// Lower-casing of the C locale: only A-Z change, whatever the process locale.
inline constexpr char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
void LowerAsciiInPlace(std::string& text);

// Adds 1 to counter[word] for every word of the text that is in the sound
// vocabulary (lower-cased).
void CountVocabularyWords(std::unordered_map<std::string, int32_t>& counter, const char* text,
                          size_t length);

// True when the lower-case word is in the fixed sound vocabulary.
bool IsVocabularyWord(std::string_view lowerWord);

// The fixed list of sound words the palette summaries count.
const std::vector<std::string_view>& SoundVocabulary();

struct CategoryRule {
    const char* code;
    const char* displayName;
    const char* keywords;  // lower-case words separated by '|'
};

inline constexpr const char* kNoCategoryCode = "DSGNMisc";

// The category table, in the order that breaks ties.
const std::vector<CategoryRule>& CategoryRules();

// The code of the category whose keywords the terms hit best, "DSGNMisc" when
// none hits or there are no terms. Excluded terms never count.
std::string GuessCategory(const std::vector<KeywordTerm>& terms);

}  // namespace korvel
