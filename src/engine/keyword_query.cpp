#include "engine/keyword_query.h"

#include <cstddef>
#include <utility>

namespace korvel {

namespace {

bool IsQuerySeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == ';'; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Lower-casing of the C locale: bytes outside A-Z stay as they are.
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsAt(std::string_view subject, size_t pos, std::string_view stem) {
    for (size_t k = 0; k < stem.size(); ++k)
        if (LowerAscii(subject[pos + k]) != LowerAscii(stem[k])) return false;
    return true;
}

}  // namespace

std::vector<KeywordTerm> ParseKeywordQuery(const char* text) {
    if (text == nullptr) return {};
    return ParseKeywordQuery(std::string_view(text));
}

std::vector<KeywordTerm> ParseKeywordQuery(std::string_view text) {
    std::vector<KeywordTerm> terms;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsQuerySeparator(text[i])) ++i;
        const size_t start = i;
        while (i < text.size() && !IsQuerySeparator(text[i])) ++i;
        if (i == start) break;
        std::string_view word = text.substr(start, i - start);
        KeywordTerm term;
        // A lone sign stays an ordinary one-character word, never an empty term.
        if (word.size() >= 2 && word[0] == '+') {
            term.mode = kKeywordRequired;
            word.remove_prefix(1);
        } else if (word.size() >= 2 && word[0] == '-') {
            term.mode = kKeywordExcluded;
            word.remove_prefix(1);
        }
        term.text.assign(word);
        terms.push_back(std::move(term));
    }
    return terms;
}

bool MatchKeyword(std::string_view subject, const KeywordTerm& term) {
    std::string_view stem = term.text;
    if (stem.empty()) return false;
    bool openLeft = false;
    bool openRight = false;
    if (stem.front() == '*') {
        openLeft = true;
        stem.remove_prefix(1);
    }
    if (!stem.empty() && stem.back() == '*') {
        openRight = true;
        stem.remove_suffix(1);
    }
    // One-letter stems would match nearly every file.
    if (stem.size() < 2 || stem.size() > subject.size()) return false;

    const size_t last = subject.size() - stem.size();
    for (size_t pos = 0; pos <= last; ++pos) {
        if (!EqualsAt(subject, pos, stem)) continue;
        if (openLeft && openRight) return true;
        const size_t end = pos + stem.size();
        const bool leftOk = openLeft || pos == 0 || !IsAsciiLetter(subject[pos - 1]);
        const bool rightOk = openRight || end == subject.size() || !IsAsciiLetter(subject[end]);
        if (leftOk && rightOk) return true;
    }
    return false;
}

}  // namespace korvel
