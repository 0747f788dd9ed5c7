#pragma once
// An event's keywords text as a query: words that a chosen library file must
// contain, must not contain, or may contain.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

enum KeywordMode : int32_t {
    kKeywordOptional = 0,
    kKeywordRequired = 1,  // written with a leading "+"
    kKeywordExcluded = 2,  // written with a leading "-"
};

// One word of a query, as typed: case and '*' wildcards are kept, only the
// leading sign is removed.
struct KeywordTerm {
    std::string text;
    int32_t mode = kKeywordOptional;
};

// Splits a keywords text at blanks, tabs, commas and semicolons into terms in
// the order they stand. A null or empty text gives no terms.
std::vector<KeywordTerm> ParseKeywordQuery(const char* text);
std::vector<KeywordTerm> ParseKeywordQuery(std::string_view text);

// True when the term's text occurs in the subject as a word of its own
// (ASCII letters join words, everything else separates), case-insensitively.
// A leading or trailing '*' lets the match run on into letters on that side.
// Only the term's text is read; the caller applies its mode.
bool MatchKeyword(std::string_view subject, const KeywordTerm& term);

}  // namespace korvel
